// Engine API bindings of the operating-system services.
#pragma once

struct lua_State;

int LuaOsDisplayWidth(lua_State* L);
int LuaOsDisplayHeight(lua_State* L);
int LuaOsProfilePath(lua_State* L);
int LuaOsCreateDirectory(lua_State* L);
int LuaOsScanPath(lua_State* L);
