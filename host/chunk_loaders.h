// Loading the engine's chunk form into a Lua state, in place of the
// library's text and standard-chunk loading.
#pragma once

#include <cstddef>

struct lua_State;

// Like luaL_loadbuffer: pushes the loaded function and returns 0, or pushes
// the message "<name>: <reason> in precompiled chunk" and returns
// LUA_ERRSYNTAX (or LUA_ERRMEM with the library's message).
int LoadEngineChunk(lua_State* L, const char* data, size_t size, const char* chunkName);

// Replaces the base library's loadstring, loadfile, dofile and load with
// versions that accept only the engine's form, and string.dump with one
// that fails with the string library's own error.
void InstallChunkLoaders(lua_State* L);
