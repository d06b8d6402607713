// Engine API bindings of the operating-system services: the display size,
// the profile folder, folder creation and folder listing.
#include "host/os_api.h"

#include <vector>

#include <lua.hpp>

#include "host/api_args.h"
#include "host/host.h"
#include "host/os_services.h"
#include "video/display_state.h"

namespace {

const char* ArgPath(lua_State* L, int index) {
  size_t length = 0;
  const char* text = ArgString(L, index, &length);
  return UsablePath(text, length);
}

// One entry table with its five fields, in the order scripts have always seen.
void PushEntry(lua_State* L, const DirectoryEntry& entry) {
  lua_createtable(L, 0, 5);
  PushBytes(L, entry.name.data(), entry.name.size());
  lua_setfield(L, -2, "name");
  PushBoolean(L, entry.directory);
  lua_setfield(L, -2, "directory");
  PushNumber(L, entry.size);
  lua_setfield(L, -2, "size");
  PushNumber(L, entry.age);
  lua_setfield(L, -2, "age");
  PushString(L, entry.modified.c_str());
  lua_setfield(L, -2, "modified");
}

}  // namespace

// OsDisplayWidth() -> the virtual screen width of the last OpenDisplay, 0 before any
int LuaOsDisplayWidth(lua_State* L) {
  PushNumber(L, Display().displayWidth);
  return 1;
}

// OsDisplayHeight() -> the virtual screen height of the last OpenDisplay, 0 before any
int LuaOsDisplayHeight(lua_State* L) {
  PushNumber(L, Display().displayHeight);
  return 1;
}

// OsProfilePath() -> the per-user base folder, without a trailing separator
int LuaOsProfilePath(lua_State* L) {
  const char* path = HostProfilePath();
  PushString(L, path ? path : ".");
  return 1;
}

// OsCreateDirectory(path) -> true if a folder (or anything) of that name exists afterwards
int LuaOsCreateDirectory(lua_State* L) {
  PushBoolean(L, EnsureDirectory(ArgPath(L, 1)));
  return 1;
}

// OsScanPath(path) -> array of entry tables sorted by name, or nil if not a readable folder
int LuaOsScanPath(lua_State* L) {
  std::vector<DirectoryEntry> entries;
  if (!ScanFolder(ArgPath(L, 1), &entries)) {
    PushNil(L);
    return 1;
  }
  lua_createtable(L, 0, 0);
  for (size_t i = 0; i < entries.size(); ++i) {
    PushEntry(L, entries[i]);
    lua_rawseti(L, -2, static_cast<int>(i + 1));
  }
  return 1;
}
