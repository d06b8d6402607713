// pelto-tool compile: Lua source -> the engine's precompiled chunk form.
// The library compiles and dumps the standard form (debug information kept,
// so runtime errors name the source file and line); the translator turns it
// into the engine's form; the result replaces OUT in one rename, so a failed
// run never leaves a half-written chunk behind.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <lua.hpp>

#include "host/chunk_translate.h"
#include "tools/commands.h"
#include "tools/tool_files.h"
#include "tools/file_replace.h"

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

// Reads a whole file; on failure errorNumber holds the errno to report.
bool ReadWholeFile(const std::string& path, std::string* bytes, int* errorNumber) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    *errorNumber = errno;
    return false;
  }
  char block[1 << 16];
  size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes->append(block, got);
  bool failed = std::ferror(file) != 0;
  *errorNumber = failed ? (errno != 0 ? errno : EIO) : 0;
  std::fclose(file);
  return !failed;
}

// Writes next to the target, then renames over it.
bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, int* errorNumber) {
  std::string temp = path + ".XXXXXX";
  int fd = mkstemp(&temp[0]);
  if (fd < 0) {
    *errorNumber = errno;
    return false;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      *errorNumber = wrote < 0 ? errno : EIO;
      close(fd);
      unlink(temp.c_str());
      return false;
    }
    done += static_cast<size_t>(wrote);
  }
  // mkstemp makes the file private; a chunk is an ordinary data file.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  if (close(fd) != 0 || RenameOver(temp.c_str(), path.c_str()) != 0) {
    *errorNumber = errno;
    unlink(temp.c_str());
    return false;
  }
  return true;
}

// lua_dump's writer: appends each piece to a byte vector.
int CollectDump(lua_State*, const void* bytes, size_t size, void* out) {
  auto* dump = static_cast<std::vector<uint8_t>*>(out);
  const uint8_t* first = static_cast<const uint8_t*>(bytes);
  try {
    dump->insert(dump->end(), first, first + size);
  } catch (const std::bad_alloc&) {
    return 1;  // stops lua_dump, which then reports failure
  }
  return 0;
}

// Compiles source into the library's standard form. On a syntax error the
// library's message goes to `message`.
bool CompileToStandard(const std::string& source, const std::string& chunkName, std::vector<uint8_t>* dump,
                       std::string* message) {
  // A bare state: compiling needs no library.
  lua_State* L = luaL_newstate();
  if (!L) {
    *message = "not enough memory";
    return false;
  }
  bool ok = luaL_loadbuffer(L, source.data(), source.size(), chunkName.c_str()) == 0;
  if (!ok) {
    const char* text = lua_tostring(L, -1);
    *message = text ? text : "cannot compile";
  } else if (lua_dump(L, CollectDump, dump) != 0) {
    *message = "not enough memory";
    ok = false;
  }
  lua_close(L);
  return ok;
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

  std::string source;
  int errorNumber = 0;
  if (!ReadWholeFile(sourcePath, &source, &errorNumber)) {
    std::fprintf(stderr, "error: cannot read %s: %s\n", sourcePath.c_str(), std::strerror(errorNumber));
    return 1;
  }
  // An executable script's "#!" line is not Lua; blank it but keep its line
  // break so that line numbers stay those of the file.
  if (!source.empty() && source[0] == '#') {
    size_t lineEnd = source.find('\n');
    source.erase(0, lineEnd == std::string::npos ? source.size() : lineEnd);
  }

  std::vector<uint8_t> dump;
  std::string message;
  // "@path" makes runtime errors read "path:line: message".
  if (!CompileToStandard(source, "@" + sourcePath, &dump, &message)) {
    std::fprintf(stderr, "error: %s\n", message.c_str());
    return 1;
  }
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
  std::string folderProblem;
  if (!CreateParentFolders(outputPath, &folderProblem)) {
    std::fprintf(stderr, "error: cannot write %s: %s\n", outputPath.c_str(), folderProblem.c_str());
    return 1;
  }
  if (!WriteFileAtomically(outputPath, chunk, &errorNumber)) {
    std::fprintf(stderr, "error: cannot write %s: %s\n", outputPath.c_str(), std::strerror(errorNumber));
    return 1;
  }
  return 0;
}
