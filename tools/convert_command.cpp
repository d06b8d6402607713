// pelto-tool convert: a stand-in that handles Tiled maps only, so maps can be
// converted and tested on this branch; the full command (argument parsing,
// every format, --strict, --help) replaces it.
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/commands.h"

namespace {

const char kUsage[] = "usage: pelto-tool convert [--strict] INPUT -o OUTPUT\n";

bool EndsWith(const std::string& s, const char* suffix) {
  size_t n = std::strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

}  // namespace

int RunConvertCommand(int argc, char** argv) {
  std::string input, output;
  bool strict = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::printf("%s\nConverts a Tiled map (MAP.tmx or MAP.tmj) into the folder OUTPUT:\n"
                  "MAP.png, MAP.LAYER.map for each tile layer and MAP.lua.\n"
                  "  --strict   treat every warning as an error\n", kUsage);
      return 0;
    }
    if (arg == "--strict") {
      strict = true;
    } else if (arg == "-o" && i + 1 < argc) {
      output = argv[++i];
    } else if (!arg.empty() && arg[0] != '-' && input.empty()) {
      input = arg;
    } else {
      std::fprintf(stderr, "%s", kUsage);
      return 2;
    }
  }
  if (input.empty() || output.empty() || !(EndsWith(input, ".tmx") || EndsWith(input, ".tmj"))) {
    std::fprintf(stderr, "%s", kUsage);
    return 2;
  }
  return RunConvertMap(input.c_str(), output.c_str(), strict);
}
