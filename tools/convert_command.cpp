// pelto-tool convert: a tracker module (.xm, .mod) becomes the engine's
// "[TRK]" music; Tiled maps (.tmx, .tmj) go to RunConvertMap. The command
// reads, prints and writes; the converters know the formats. The output
// replaces OUTPUT in one rename, so a failed run leaves nothing behind.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "tools/commands.h"
#include "tools/file_replace.h"
#include "tools/convert/tracker_convert.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] = "usage: pelto-tool convert INPUT -o OUTPUT [--strict]\n";

void PrintHelp() {
  std::printf("%s", kUsage);
  std::printf(
      "\nConverts what artists' tools save into what the engine loads:\n"
      "  SONG.xm, SONG.mod   FastTracker 2 and ProTracker-style modules (4 to 32\n"
      "                      channels) -> OUTPUT, a \"[TRK]\" module for LoadMusic\n"
      "  MAP.tmx, MAP.tmj    Tiled maps -> files in the folder OUTPUT\n\n"
      "The kind of INPUT is told by its extension, in any case. Whatever the\n"
      "engine cannot play the same way is converted to the nearest thing it\n"
      "can, with a line \"warning: INPUT: where: what and why\" (docs/assets.md\n"
      "lists them all). OUTPUT's folder is created when missing.\n\n"
      "options:\n"
      "  -o OUTPUT   the file (or, for maps, the folder) to write (required)\n"
      "  --strict    treat every warning as an error: print it, write nothing\n"
      "  -h, --help  this text\n\n"
      "Exit codes: 0 converted, 1 refused (an \"error:\" line says why; nothing\n"
      "is written), 2 bad arguments.\n");
}

int Failed(const std::string& file, const std::string& message) {
  std::fprintf(stderr, "error: %s: %s\n", file.c_str(), message.c_str());
  return 1;
}

std::string LowerExtension(const std::string& path) {
  std::string extension = fs::path(path).extension().string();
  for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return extension;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* problem) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    *problem = "is a folder, not a file";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *problem = std::string("cannot read: ") + std::strerror(errno);
    return false;
  }
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    *problem = "cannot read";
    return false;
  }
  return true;
}

// Writes through a temporary file beside OUTPUT, renamed over it at the end.
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string* problem) {
  std::error_code ec;
  fs::path target(path);
  if (target.has_parent_path()) {
    fs::create_directories(target.parent_path(), ec);
    if (ec) {
      *problem = "cannot create its folder: " + ec.message();
      return false;
    }
  }
  std::string temporary = path + ".tmp" + std::to_string(getpid());
  FILE* out = std::fopen(temporary.c_str(), "wb");
  if (!out) {
    *problem = std::string("cannot write: ") + std::strerror(errno);
    return false;
  }
  bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  written = std::fclose(out) == 0 && written;
  if (!written || RenameOver(temporary.c_str(), path.c_str()) != 0) {
    *problem = std::string("cannot write: ") + std::strerror(errno);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace

int RunConvertCommand(int argc, char** argv) {
  std::string input, output;
  bool haveOutput = false, strict = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      PrintHelp();
      return 0;
    }
    if (arg == "--strict") {
      strict = true;
    } else if (arg == "-o") {
      if (i + 1 >= argc) return UsageError(kUsage, "-o needs a path");
      if (haveOutput) return UsageError(kUsage, "-o given twice");
      output = argv[++i];
      haveOutput = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError(kUsage, "unknown option '" + arg + "'");
    } else if (!input.empty()) {
      return UsageError(kUsage, "one INPUT only");
    } else {
      input = arg;
    }
  }
  if (input.empty()) return UsageError(kUsage, "no INPUT given");
  if (!haveOutput || output.empty()) return UsageError(kUsage, "no -o OUTPUT given");

  std::string extension = LowerExtension(input);
  if (extension == ".tmx" || extension == ".tmj") return RunConvertMap(input.c_str(), output.c_str(), strict);
  bool (*convert)(const uint8_t*, size_t, TrackerConversion*) = nullptr;
  if (extension == ".xm") convert = ConvertXmToTrk;
  if (extension == ".mod") convert = ConvertModToTrk;
  if (!convert) return UsageError(kUsage, "'" + input + "' is not a .xm, .mod, .tmx or .tmj file");

  std::vector<uint8_t> bytes;
  std::string problem;
  if (!ReadWholeFile(input, &bytes, &problem)) return Failed(input, problem);
  TrackerConversion result;
  if (!convert(bytes.data(), bytes.size(), &result)) return Failed(input, result.error);
  const char* kind = strict ? "error" : "warning";
  for (const std::string& warning : result.warnings) std::fprintf(stderr, "%s: %s: %s\n", kind, input.c_str(), warning.c_str());
  if (strict && !result.warnings.empty()) return 1;
  if (!WriteWholeFile(output, result.trk, &problem)) return Failed(output, problem);
  return 0;
}
