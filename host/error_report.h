// The development error screen's text: the message, the Lua traceback with
// each level's file, line and function, and the source line where the error
// happened with a line of context around it. Plain logic: the script host
// collects the levels from Lua, and the reader of source files is passed in.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct TraceLevel {
  std::string where;     // the chunk's short name as Lua prints it ("lib/vec.lua"), "[C]" for native code
  std::string source;    // the chunk's file name without Lua's '@', "" when it has none
  int line = -1;         // current line, -1 when unknown
  std::string function;  // "function 'update'", "main chunk", "function <boot.lua:12>", "?"
};

struct ErrorReport {
  std::string title;               // "Runtime error", "Build error", ...
  std::string message;             // the error text as Lua or the build gave it
  std::vector<TraceLevel> levels;  // innermost first; empty for build errors
  // Filled by LocateSource:
  std::string sourceName;          // file shown above the excerpt
  int sourceLine = -1;
  std::vector<std::pair<int, std::string>> excerpt;  // (line number, text), the error's line in the middle
};

// Reads a whole source file given the name a chunk carries; false if it cannot.
using SourceReader = std::function<bool(const std::string& name, std::string* text)>;

// "name:12: text" -> name and 12. False when the message does not start with a position.
bool ParseErrorPosition(const std::string& message, std::string* name, int* line);

// Finds where the error happened: the position at the start of the message
// (resolved to a file through the level of that name when Lua shortened it),
// else the innermost level in a Lua file; then reads the excerpt.
void LocateSource(ErrorReport* report, const SourceReader& read);

// The whole text, the same on stderr, on screen and on the clipboard. The
// key help is added by the screen.
std::string FormatErrorReport(const ErrorReport& report);
