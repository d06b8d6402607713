// pelto-tool compile: Lua source -> the engine's precompiled chunk form.
// The library compiles and dumps the standard form (debug information kept,
// so runtime errors name the source file and line); the translator turns it
// into the engine's form; the result replaces OUT in one rename, so a failed
// run never leaves a half-written chunk behind.

#include <cstdio>
#include <string>
#include <vector>

#include "host/chunk_translate.h"
#include "tools/commands.h"
#include "tools/lua_bundle.h"
#include "tools/tool_files.h"

namespace {

const char kUsage[] = "usage: pelto-tool compile SRC.lua -o OUT.prg\n";

void PrintHelp() {
  std::printf("%s", kUsage);
  std::printf(
      "\nCompiles the Lua 5.1 script SRC.lua into the engine's precompiled chunk\n"
      "form and writes it to OUT.prg. Line information is kept: runtime errors\n"
      "read \"SRC.lua:LINE: message\". A syntax error is printed and nothing is\n"
      "written.\n\n"
      "options:\n"
      "  -o OUT     the chunk file to write (required)\n"
      "  -h, --help this text\n");
}

}  // namespace

// compile SRC -o OUT, in either order; exit 0 written, 1 failed, 2 misused.
int RunCompileCommand(int argc, char** argv) {
  std::string sourcePath, outputPath;
  bool haveSource = false, haveOutput = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      PrintHelp();
      return 0;
    }
    if (arg == "-o") {
      if (i + 1 >= argc) return UsageError(kUsage, "-o needs a file name");
      if (haveOutput) return UsageError(kUsage, "more than one -o");
      outputPath = argv[++i];
      haveOutput = true;
    } else if (arg.size() > 1 && arg[0] == '-') {  // a lone "-" is a file name
      return UsageError(kUsage, ("unknown option '" + arg + "'").c_str());
    } else {
      if (haveSource) return UsageError(kUsage, "more than one source file");
      sourcePath = arg;
      haveSource = true;
    }
  }
  if (!haveSource) return UsageError(kUsage, "no source file");
  if (!haveOutput) return UsageError(kUsage, "no output file (-o OUT.prg)");
  if (outputPath.empty() || sourcePath.empty()) return UsageError(kUsage, "empty file name");

  std::vector<uint8_t> sourceBytes;
  std::string problem;
  if (!ReadWholeFile(sourcePath, &sourceBytes, &problem)) return CommandFailed(problem);
  const std::string source(sourceBytes.begin(), sourceBytes.end());

  std::vector<uint8_t> dump;
  std::string message;
  // "@path" makes runtime errors read "path:line: message".
  if (!CompileLuaModule(source, "@" + sourcePath, &dump, &message)) return CommandFailed(message);
  // The library's dump always translates; a failure here means the library
  // is not the 64-bit little-endian Lua 5.1 the engine is built for.
  std::vector<uint8_t> chunk;
  ChunkError error = TranslateStandardChunk(dump.data(), dump.size(), &chunk);
  if (error != ChunkError::None) {
    std::fprintf(stderr, "error: %s: cannot translate the compiled chunk (%s)\n", sourcePath.c_str(),
                 ChunkErrorReason(error));
    return 1;
  }
  // The chunk's folder is made on demand, as a new user expects of -o.
  if (!WriteFileReplacing(outputPath, chunk, &problem)) return CommandFailed(problem);
  return 0;
}
