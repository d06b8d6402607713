// The chunk target: an entry loaded as the engine loads boot.prg, through
// the translator and then the Lua library's own loader (which checks the
// code). The loaded function is not run.
#include <lua.hpp>

#include "host/chunk_loaders.h"
#include "host/chunk_translate.h"
#include "tests/fuzz/fuzz_targets.h"

int FuzzChunk(const uint8_t* data, size_t size) {
  lua_State* L = luaL_newstate();
  FuzzCheck(L != nullptr, "a Lua state");
  int status = LoadEngineChunk(L, reinterpret_cast<const char*>(data), size, "=fuzz");
  if (status == 0) {
    FuzzCheck(lua_isfunction(L, -1), "a loaded chunk is a function");
  } else {
    FuzzCheck(lua_isstring(L, -1), "a refused chunk leaves a message");
  }
  lua_close(L);
  return 0;
}
