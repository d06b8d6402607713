// Engine API bindings of the random generator.
#pragma once

struct lua_State;

int LuaRandomize(lua_State* L);
int LuaRnd(lua_State* L);
