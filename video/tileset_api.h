// Engine API bindings of tilesets and sprites.
#pragma once

struct lua_State;

int LuaLoadTileset(lua_State* L);
int LuaDeleteTileset(lua_State* L);
int LuaSprite(lua_State* L);
int LuaTileWidth(lua_State* L);
int LuaTileHeight(lua_State* L);
