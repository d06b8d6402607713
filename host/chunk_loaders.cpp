// Chunk loading for the script host: every load goes through the engine's
// chunk form, translated into the library's standard precompiled form and
// handed to the library's own loader, which checks the code and builds the
// functions. The base library's loading functions are replaced by ones that
// behave the same (arguments, results, messages) but load only that form.
//
// The library raises its errors with longjmp, which skips C++ destructors:
// no object owning memory is alive across a Lua call that can raise.
#include "host/chunk_loaders.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include <lua.hpp>

#include "host/chunk_format.h"
#include "host/chunk_translate.h"

namespace {

constexpr int kNothingLoaded = -1;  // the translation left nothing for the library

// The name shown in load errors, as the library's own loader derives it:
// "=name" and "@path" lose their first character, a chunk passed as its own
// name (it begins with the signature byte) is a "binary string".
const char* DisplayName(const char* chunkName) {
  if (chunkName[0] == '=' || chunkName[0] == '@') return chunkName + 1;
  if (static_cast<uint8_t>(chunkName[0]) == kEngineChunkHeader[0]) return "binary string";
  return chunkName;
}

// Translates and hands the translation to the library. Kept apart so the
// translation buffer is gone before anything that can raise runs;
// luaL_loadbuffer itself never raises (it loads in protected mode).
int LoadTranslated(lua_State* L, const char* data, size_t size, const char* libraryName, ChunkError* error) {
  std::vector<uint8_t> standard;
  *error = TranslateEngineChunk(reinterpret_cast<const uint8_t*>(data), size, &standard);
  if (standard.empty()) return kNothingLoaded;  // header faults, out of memory
  return luaL_loadbuffer(L, reinterpret_cast<const char*>(standard.data()), standard.size(), libraryName);
}

void PushLoadError(lua_State* L, const char* name, ChunkError error) {
  lua_pushfstring(L, "%s: %s in precompiled chunk", name, ChunkErrorReason(error));
}

}  // namespace

int LoadEngineChunk(lua_State* L, const char* data, size_t size, const char* chunkName) {
  if (!chunkName) chunkName = "?";
  const char* name = DisplayName(chunkName);
  if (size == 0 || static_cast<uint8_t>(data[0]) != kEngineChunkHeader[0]) {
    // There is no compiler: source text (or anything else) fails at once,
    // as a syntax error like every other load failure.
    lua_pushfstring(L, "%s: not a precompiled chunk", name);
    return LUA_ERRSYNTAX;
  }

  // "=" makes the library use exactly our display name in its own messages.
  lua_pushfstring(L, "=%s", name);
  int nameIndex = lua_gettop(L);
  ChunkError error = ChunkError::None;
  int status = LoadTranslated(L, data, size, lua_tostring(L, nameIndex), &error);

  if (error == ChunkError::OutOfMemory) {
    if (status != kNothingLoaded) lua_pop(L, 1);
    lua_pushliteral(L, "not enough memory");
    status = LUA_ERRMEM;
  } else if (status == kNothingLoaded) {
    PushLoadError(L, name, error);
    status = LUA_ERRSYNTAX;
  } else if (error != ChunkError::None) {
    // The library read the prefix up to the fault. It reports an earlier
    // fault of its own (bad code, code too deep) as it is; running out of
    // input means it got to the fault, whose reason the translator knows.
    if (status == 0) {
      lua_pop(L, 1);  // cannot happen with a trimmed prefix; refuse anyway
      PushLoadError(L, name, error);
      status = LUA_ERRSYNTAX;
    } else if (status == LUA_ERRSYNTAX) {
      PushLoadError(L, name, ChunkError::UnexpectedEnd);
      bool ranOut = lua_rawequal(L, -1, -2) != 0;
      lua_pop(L, 1);
      if (ranOut) {
        lua_pop(L, 1);
        PushLoadError(L, name, error);
      }
    }
  }
  lua_remove(L, nameIndex);
  return status;
}

namespace {

// Pushes "cannot <what> <path>: <reason>" in place of the chunk name.
int FileError(lua_State* L, const char* what, int nameIndex, int errorNumber) {
  const char* path = lua_tostring(L, nameIndex) + 1;
  lua_pushfstring(L, "cannot %s %s: %s", what, path, std::strerror(errorNumber));
  lua_remove(L, nameIndex);
  return LUA_ERRFILE;
}

// Like luaL_loadfile: a null path reads standard input ("=stdin"), a path is
// named "@path", and a first line starting with '#' is skipped.
int LoadEngineFile(lua_State* L, const char* path) {
  int nameIndex = lua_gettop(L) + 1;
  FILE* file = stdin;
  if (path == nullptr) {
    lua_pushliteral(L, "=stdin");
  } else {
    lua_pushfstring(L, "@%s", path);
    file = std::fopen(path, "rb");
    if (file == nullptr) return FileError(L, "open", nameIndex, errno);
  }

  luaL_Buffer buffer;
  luaL_buffinit(L, &buffer);
  size_t got = 0;
  do {
    char* space = luaL_prepbuffer(&buffer);
    got = std::fread(space, 1, LUAL_BUFFERSIZE, file);
    luaL_addsize(&buffer, got);
  } while (got == LUAL_BUFFERSIZE);
  int readError = std::ferror(file) ? (errno != 0 ? errno : EIO) : 0;
  if (path != nullptr) std::fclose(file);
  luaL_pushresult(&buffer);
  if (readError != 0) {
    lua_pop(L, 1);
    return FileError(L, "read", nameIndex, readError);
  }

  size_t size = 0;
  const char* data = lua_tolstring(L, -1, &size);
  size_t skip = 0;
  if (size > 0 && data[0] == '#') {  // "#!..." of an executable script
    while (skip < size && data[skip] != '\n') ++skip;
    if (skip < size) ++skip;
  }
  int status = LoadEngineChunk(L, data + skip, size - skip, lua_tostring(L, nameIndex));
  lua_remove(L, nameIndex + 1);  // the file's bytes
  lua_remove(L, nameIndex);
  return status;
}

// The base library's convention: the function, or nil and the message.
int LoadResults(lua_State* L, int status) {
  if (status == 0) return 1;
  lua_pushnil(L);
  lua_insert(L, -2);
  return 2;
}

int EngineLoadString(lua_State* L) {
  size_t size = 0;
  const char* text = luaL_checklstring(L, 1, &size);
  const char* chunkName = luaL_optstring(L, 2, text);
  return LoadResults(L, LoadEngineChunk(L, text, size, chunkName));
}

int EngineLoadFile(lua_State* L) {
  const char* path = luaL_optstring(L, 1, nullptr);
  return LoadResults(L, LoadEngineFile(L, path));
}

int EngineDoFile(lua_State* L) {
  const char* path = luaL_optstring(L, 1, nullptr);
  int base = lua_gettop(L);
  if (LoadEngineFile(L, path) != 0) lua_error(L);
  lua_call(L, 0, LUA_MULTRET);
  return lua_gettop(L) - base;
}

// load(reader [, name]): calls the reader until it returns nil or an empty
// string, then loads the pieces joined. An error raised by the reader, or a
// piece that is not a string, gives nil and the message.
int EngineLoad(lua_State* L) {
  const char* chunkName = luaL_optstring(L, 2, "=(load)");
  luaL_checktype(L, 1, LUA_TFUNCTION);
  lua_settop(L, 2);
  luaL_Buffer buffer;
  luaL_buffinit(L, &buffer);
  for (;;) {
    lua_pushvalue(L, 1);
    if (lua_pcall(L, 0, 1, 0) != 0) {
      lua_insert(L, 3);  // keep only the message
      lua_settop(L, 3);
      return LoadResults(L, LUA_ERRRUN);
    }
    if (lua_isnil(L, -1)) {
      lua_pop(L, 1);
      break;
    }
    if (!lua_isstring(L, -1)) {
      lua_settop(L, 2);
      luaL_where(L, 1);  // the message the library raises there, with the caller's position
      lua_pushliteral(L, "reader function must return a string");
      lua_concat(L, 2);
      return LoadResults(L, LUA_ERRRUN);
    }
    size_t pieceSize = 0;
    lua_tolstring(L, -1, &pieceSize);
    if (pieceSize == 0) {  // an empty piece ends the input, as in lua_load
      lua_pop(L, 1);
      break;
    }
    luaL_addvalue(&buffer);
  }
  luaL_pushresult(&buffer);
  size_t size = 0;
  const char* data = lua_tolstring(L, -1, &size);
  return LoadResults(L, LoadEngineChunk(L, data, size, chunkName));
}

// The engine has no chunk writer: string.dump fails as the string library's
// does when lua_dump cannot write.
int EngineStringDump(lua_State* L) {
  luaL_checktype(L, 1, LUA_TFUNCTION);
  return luaL_error(L, "unable to dump given function");
}

}  // namespace

void InstallChunkLoaders(lua_State* L) {
  lua_register(L, "loadstring", EngineLoadString);
  lua_register(L, "loadfile", EngineLoadFile);
  lua_register(L, "dofile", EngineDoFile);
  lua_register(L, "load", EngineLoad);
  lua_getglobal(L, "string");
  if (lua_istable(L, -1)) {
    lua_pushcfunction(L, EngineStringDump);
    lua_setfield(L, -2, "dump");
  }
  lua_pop(L, 1);
}
