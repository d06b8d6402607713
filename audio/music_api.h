// Engine API bindings of tracker music.
#pragma once

struct lua_State;

int LuaLoadMusic(lua_State* L);
int LuaPlayMusic(lua_State* L);
int LuaSetMusicVolume(lua_State* L);
int LuaStopMusic(lua_State* L);
int LuaDeleteMusic(lua_State* L);
