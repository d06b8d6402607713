#include "host/script_host.h"

#include <cstdio>

#include <lua.hpp>

#include "archive/asset.h"
#include "host/api_table.h"
#include "host/chunk_loaders.h"
#include "host/host.h"
#include "host/key_table.h"
#include "host/platform.h"

namespace {

constexpr size_t kErrorTextSize = 512;  // longer Lua messages are cut to fit

}  // namespace

// Everything set up before boot.prg runs. Runs as a protected call so that
// memory running out here is reported like memory running out in the script.
int SetUpScriptState(lua_State* L) {
  // Exactly these libraries; no io, os, package or debug.
  const luaL_Reg libraries[] = {
      {"", luaopen_base}, {LUA_TABLIBNAME, luaopen_table},
      {LUA_STRLIBNAME, luaopen_string}, {LUA_MATHLIBNAME, luaopen_math},
  };
  for (const luaL_Reg& library : libraries) {
    lua_pushcfunction(L, library.func);
    lua_pushstring(L, library.name);
    lua_call(L, 1, 0);
  }
  InstallChunkLoaders(L);

  for (const ApiFunction* entry = kEngineApi; entry->function; ++entry) {
    lua_pushcclosure(L, entry->function, 0);
    lua_setfield(L, LUA_GLOBALSINDEX, entry->name);
  }

  const HostInfo* info = HostGetInfo();
  int keyCount = 0;
  while (info->keyTable[keyCount].name) ++keyCount;
  lua_createtable(L, 0, keyCount + 1);
  for (int i = 0; i < keyCount; ++i) {
    lua_pushstring(L, info->keyTable[i].name);
    lua_pushinteger(L, info->keyTable[i].value);
    lua_settable(L, -3);
  }
  lua_createtable(L, info->argc, 0);
  for (int i = 1; i <= info->argc; ++i) {
    lua_pushinteger(L, i);
    lua_pushstring(L, info->argv[i - 1]);
    lua_settable(L, -3);
  }
  lua_setfield(L, -2, "args");
  lua_pushinteger(L, info->desktopWidth);
  lua_setfield(L, -2, "desktopWidth");
  lua_pushinteger(L, info->desktopHeight);
  lua_setfield(L, -2, "desktopHeight");
  lua_pushstring(L, kPlatformName);
  lua_setfield(L, -2, "platform");
  lua_setfield(L, LUA_GLOBALSINDEX, "pelto");
  return 0;
}

namespace {

// The text of an error value; values without one are named by their type.
void ErrorText(lua_State* L, char* out, size_t size) {
  const char* text = lua_tostring(L, -1);
  if (text) {
    std::snprintf(out, size, "%s", text);
  } else {
    std::snprintf(out, size, "(error object is a %s value)", luaL_typename(L, -1));
  }
}

struct BootLoad {
  const AssetBuffer* boot;
  int status;
};

// Loads boot.prg as a protected call, so that memory running out while the
// loader pushes its result is reported as memory, not as a panic. The loaded
// function or the message is left in the registry under kBootKey.
const char kBootKey = 0;
int LoadBoot(lua_State* L) {
  BootLoad* load = static_cast<BootLoad*>(lua_touserdata(L, 1));
  load->status = LoadEngineChunk(L, reinterpret_cast<const char*>(load->boot->data),
                                 static_cast<size_t>(load->boot->size), "boot.prg");
  lua_pushlightuserdata(L, const_cast<char*>(&kBootKey));
  lua_insert(L, -2);
  lua_rawset(L, LUA_REGISTRYINDEX);
  return 0;
}

}  // namespace

int RunBootScript(lua_State* L) {
  AssetBuffer boot = {0, nullptr};
  if (!AssetLoad(&boot, "boot.prg")) FatalError(FATAL_DATA);
  BootLoad load = {&boot, 0};
  int status = lua_cpcall(L, LoadBoot, &load);
  if (status == 0) {
    status = load.status;
    lua_pushlightuserdata(L, const_cast<char*>(&kBootKey));
    lua_rawget(L, LUA_REGISTRYINDEX);
  }
  if (status == 0) status = lua_pcall(L, 0, 0, 0);  // no traceback handler

  char text[kErrorTextSize];
  char box[kErrorTextSize];
  switch (status) {
    case 0:
      AssetFree(&boot);
      return 0;
    case LUA_ERRRUN:
      ErrorText(L, text, sizeof text);
      std::snprintf(box, sizeof box, "Lua runtime error [%s]", text);
      ShowErrorBox(box);
      FatalError(FATAL_GENERIC);
    case LUA_ERRSYNTAX:
      ErrorText(L, text, sizeof text);
      std::snprintf(box, sizeof box, "Syntax error in lua script [%s]", text);
      ShowErrorBox(box);
      FatalError(FATAL_DATA);
    case LUA_ERRMEM:
      FatalError(FATAL_OUT_OF_MEMORY);
    default:
      ErrorText(L, text, sizeof text);
      std::snprintf(box, sizeof box, "Lua returned unknown error [%d:%s]", status, text);
      ShowErrorBox(box);
      FatalError(FATAL_GENERIC);
  }
}

void ScriptHost() {
  lua_State* L = luaL_newstate();
  if (!L) FatalError(FATAL_OUT_OF_MEMORY);
  int status = lua_cpcall(L, SetUpScriptState, nullptr);
  if (status == LUA_ERRMEM) FatalError(FATAL_OUT_OF_MEMORY);
  if (status != 0) FatalError(FATAL_GENERIC);
  RunBootScript(L);
  lua_close(L);
}
