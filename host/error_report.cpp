// The development error screen's text (see the header).
#include "host/error_report.h"

#include <cstdio>
#include <cstdlib>

bool ParseErrorPosition(const std::string& message, std::string* name, int* line) {
  // The first line that starts with a position counts; a build's
  // "error: " prefix is skipped. The name itself may hold colons (a Windows
  // drive), so the position is the first ":digits:" of the line.
  size_t start = 0;
  while (start < message.size()) {
    size_t end = message.find('\n', start);
    if (end == std::string::npos) end = message.size();
    size_t from = start;
    const std::string prefix = "error: ";
    if (message.compare(from, prefix.size(), prefix) == 0) from += prefix.size();
    for (size_t colon = message.find(':', from); colon != std::string::npos && colon < end;
         colon = message.find(':', colon + 1)) {
      size_t digits = colon + 1;
      while (digits < end && message[digits] >= '0' && message[digits] <= '9') ++digits;
      if (digits > colon + 1 && digits < end && message[digits] == ':' && colon > from) {
        *name = message.substr(from, colon - from);
        *line = std::atoi(message.substr(colon + 1, digits - colon - 1).c_str());
        return true;
      }
    }
    start = end + 1;
  }
  return false;
}

void LocateSource(ErrorReport* report, const SourceReader& read) {
  std::string name, file;
  int line = -1;
  if (ParseErrorPosition(report->message, &name, &line)) {
    file = name;
    for (const TraceLevel& level : report->levels) {
      if (level.where == name && !level.source.empty()) {
        file = level.source;
        break;
      }
    }
  } else {
    for (const TraceLevel& level : report->levels) {
      if (!level.source.empty() && level.line > 0) {
        name = level.where;
        file = level.source;
        line = level.line;
        break;
      }
    }
  }
  if (line < 1 || file.empty()) return;
  report->sourceName = name;
  report->sourceLine = line;
  std::string text;
  if (!read(file, &text)) return;
  int number = 1;
  size_t start = 0;
  while (start <= text.size() && number <= line + 1) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (number >= line - 1) {
      std::string content = text.substr(start, end - start);
      if (!content.empty() && content.back() == '\r') content.pop_back();
      report->excerpt.emplace_back(number, content);
    }
    if (end == text.size()) break;
    start = end + 1;
    ++number;
  }
  // A line past the end of the file shows nothing rather than its neighbours.
  bool found = false;
  for (const auto& entry : report->excerpt) found |= entry.first == line;
  if (!found) report->excerpt.clear();
}

std::string FormatErrorReport(const ErrorReport& report) {
  std::string message = report.message;
  while (!message.empty() && message.back() == '\n') message.pop_back();
  std::string out = report.title + "\n" + message + "\n";
  if (!report.levels.empty()) {
    out += "\nstack traceback:\n";
    for (const TraceLevel& level : report.levels) {
      out += "  " + level.where;
      if (level.line > 0) out += ":" + std::to_string(level.line);
      out += ": in " + level.function + "\n";
    }
  }
  if (!report.excerpt.empty()) {
    out += "\n" + report.sourceName + ":" + std::to_string(report.sourceLine) + ":\n";
    for (const auto& [number, text] : report.excerpt) {
      char prefix[32];
      std::snprintf(prefix, sizeof prefix, "%s%5d | ", number == report.sourceLine ? ">" : " ", number);
      out += prefix + text + "\n";
    }
  }
  return out;
}
