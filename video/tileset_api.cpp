// Engine API bindings of tilesets and sprites: read the arguments, call the
// tileset functions, push the result.
#include "video/tileset_api.h"

#include "host/api_args.h"
#include "video/tileset.h"

// LoadTileset(name, tileWidth, tileHeight, [smooth]) -> slot or -1
int LuaLoadTileset(lua_State* L) {
  const char* name = ArgString(L, 1);
  PushNumber(L, LoadTileset(name, ArgInteger(L, 2), ArgInteger(L, 3), ArgFlag(L, 4)));
  return 1;
}

// DeleteTileset(slot)
int LuaDeleteTileset(lua_State* L) {
  DeleteTileset(ArgInteger(L, 1));
  return 0;
}

// Sprite(slot, x, y, tile, [flip], [r], [g], [b], [a]): flip only for the boolean true
int LuaSprite(lua_State* L) {
  DrawSprite(ArgInteger(L, 1), ArgWhole(L, 2), ArgWhole(L, 3), ArgInteger(L, 4), ArgFlag(L, 5),
             ArgOptWhole(L, 6, 255), ArgOptWhole(L, 7, 255), ArgOptWhole(L, 8, 255), ArgOptWhole(L, 9, 255));
  return 0;
}

// TileWidth(slot) -> pixels
int LuaTileWidth(lua_State* L) {
  PushNumber(L, TilesetTileWidth(ArgInteger(L, 1)));
  return 1;
}

// TileHeight(slot) -> pixels
int LuaTileHeight(lua_State* L) {
  PushNumber(L, TilesetTileHeight(ArgInteger(L, 1)));
  return 1;
}
