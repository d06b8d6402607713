// Engine API bindings of the frame loop.
#pragma once

struct lua_State;

int LuaOsUpdate(lua_State* L);
int LuaOsQuit(lua_State* L);
int LuaOsTicks(lua_State* L);
int LuaOsVSync(lua_State* L);
