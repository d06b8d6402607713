// Engine API bindings of the tile maps and playfields.
#pragma once

struct lua_State;

int LuaAssignTileset(lua_State* L);
int LuaAssignMap(lua_State* L);
int LuaLoadMap(lua_State* L);
int LuaDeleteMap(lua_State* L);
int LuaCreateMap(lua_State* L);
int LuaPlayfield(lua_State* L);
int LuaMapWidth(lua_State* L);
int LuaMapHeight(lua_State* L);
int LuaSetTile(lua_State* L);
int LuaGetTile(lua_State* L);
int LuaGetTileFlipping(lua_State* L);
