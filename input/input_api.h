// Engine API bindings of the keyboard, the mouse and the joysticks.
#pragma once

struct lua_State;

int LuaKeyDown(lua_State* L);
int LuaKeyPressed(lua_State* L);
int LuaInkey(lua_State* L);
int LuaKeyRepeatOn(lua_State* L);
int LuaKeyRepeatOff(lua_State* L);
int LuaMouseX(lua_State* L);
int LuaMouseY(lua_State* L);
int LuaMouseLMB(lua_State* L);
int LuaMouseRMB(lua_State* L);
int LuaMouseOn(lua_State* L);
int LuaMouseOff(lua_State* L);
int LuaJoystickPosition(lua_State* L);
int LuaJoystickButton(lua_State* L);
