// Engine API bindings of the memory banks.
#pragma once

struct lua_State;

int LuaCreateBank(lua_State* L);
int LuaDeleteBank(lua_State* L);
int LuaBankSize(lua_State* L);
int LuaBLoad(lua_State* L);
int LuaBSave(lua_State* L);
int LuaPeek(lua_State* L);
int LuaPoke(lua_State* L);
int LuaDeek(lua_State* L);
int LuaDoke(lua_State* L);
