// Engine API bindings of the display, the CRT filter switch and the
// drawing primitives.
#pragma once

struct lua_State;

int LuaOsCRTFilter(lua_State* L);
int LuaOpenDisplay(lua_State* L);
int LuaCloseDisplay(lua_State* L);
int LuaFlip(lua_State* L);
int LuaLine(lua_State* L);
int LuaFillRect(lua_State* L);
int LuaPlot(lua_State* L);
int LuaBox(lua_State* L);
int LuaCls(lua_State* L);
