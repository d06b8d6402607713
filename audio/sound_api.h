// Engine API bindings of sounds and channels.
#pragma once

struct lua_State;

int LuaLoadSound(lua_State* L);
int LuaPlaySound(lua_State* L);
int LuaGetSoundDefaultRate(lua_State* L);
int LuaSetChannelVolume(lua_State* L);
int LuaSetChannelPanning(lua_State* L);
int LuaStopChannel(lua_State* L);
int LuaIsChannelActive(lua_State* L);
int LuaDeleteSound(lua_State* L);
