// pelto-tool: turns Lua source and media into what the engine loads.
#include <cstdio>
#include <cstring>

#include "tools/commands.h"

namespace {

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
  const char* summary;
};

const Command kCommands[] = {
    {"compile", RunCompileCommand, "compile SRC.lua -o OUT.prg   compile a Lua script to the engine's chunk form"},
    {"convert", RunConvertCommand, "convert INPUT -o OUTPUT [--strict]   XM/MOD music to .trk, Tiled maps to a folder"},
    {"pack", RunPackCommand, "pack -o OUT.DAT [--priority N] [-C DIR] PATH...   pack files into an archive"},
    {"build", RunBuildCommand, "build [GAME_DIR] [-o DATA_DIR]   build a game folder into DATA_DIR/GAME.DAT"},
    {"run", RunRunCommand, "run [GAME_DIR] [-- ENGINE_ARGS...]   build a game folder, then run it"},
    {"new", RunNewCommand, "new NAME   make a folder with a game to start from"},
    {"list", RunListCommand, "list ARCHIVE [--names DIR]   list an archive's entries and check them"},
    {"extract", RunExtractCommand, "extract ARCHIVE NAME... [-C DIR]   write entries of an archive to files"},
    {"export", RunExportCommand, "export --windows [GAME_DIR] --data DIR -o GAME.zip   a zip for Windows players"},
};

void PrintUsage(FILE* out) {
  std::fprintf(out, "usage: pelto-tool COMMAND [ARGS...]\n\ncommands:\n");
  for (const Command& command : kCommands) std::fprintf(out, "  %s\n", command.summary);
  std::fprintf(out, "\n'pelto-tool COMMAND --help' describes a command.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return 2;
  }
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "help") == 0) {
    PrintUsage(stdout);
    return 0;
  }
  for (const Command& command : kCommands) {
    if (std::strcmp(argv[1], command.name) == 0) return command.run(argc - 1, argv + 1);
  }
  std::fprintf(stderr, "pelto-tool: unknown command '%s'\n", argv[1]);
  PrintUsage(stderr);
  return 2;
}
