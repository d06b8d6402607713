// Engine API bindings of the tile maps and playfields: read the arguments,
// call the map or playfield code, push the result. Corrupt map entries and
// exhausted memory end the process; a full table comes back as -1.
#include "video/map_api.h"

#include "archive/asset.h"
#include "host/api_args.h"
#include "host/host.h"
#include "video/playfield.h"
#include "video/tilemap.h"

namespace {

void FailIfFatal(MapStatus status) {
  if (status == MapStatus::OutOfMemory) FatalError(FATAL_OUT_OF_MEMORY);
  if (status == MapStatus::ShortEntry) FatalError(FATAL_DATA);
}

}  // namespace

// AssignTileset(playfield, tileset)
int LuaAssignTileset(lua_State* L) {
  PlayfieldAssignTileset(ArgInteger(L, 1), ArgInteger(L, 2));
  return 0;
}

// AssignMap(playfield, map)
int LuaAssignMap(lua_State* L) {
  PlayfieldAssignMap(ArgInteger(L, 1), ArgInteger(L, 2));
  return 0;
}

// LoadMap(name) -> slot or -1; the entry is fetched first, so a missing one
// is fatal even when no slot is free.
int LuaLoadMap(lua_State* L) {
  AssetBuffer entry;
  AssetLoad(&entry, ArgString(L, 1));
  MapStatus status;
  // The map keeps the unpacked entry and its cells where they lie.
  int slot = MapAdopt(&entry.data, static_cast<size_t>(entry.size), &status);
  AssetFree(&entry);
  FailIfFatal(status);
  PushNumber(L, slot);
  return 1;
}

// DeleteMap(map)
int LuaDeleteMap(lua_State* L) {
  MapDelete(ArgInteger(L, 1));
  return 0;
}

// CreateMap(width, height) -> slot or -1
int LuaCreateMap(lua_State* L) {
  MapStatus status;
  int slot = MapCreate(ArgInteger(L, 1), ArgInteger(L, 2), &status);
  FailIfFatal(status);
  PushNumber(L, slot);
  return 1;
}

// Playfield(playfield, x, y, scrollX, scrollY [, r, g, b, a]); the colour
// channels keep their low 8 bits, as every other tint does.
int LuaPlayfield(lua_State* L) {
  DrawPlayfield(ArgInteger(L, 1), ArgWhole(L, 2), ArgWhole(L, 3), ArgWhole(L, 4), ArgWhole(L, 5),
                static_cast<uint8_t>(ArgOptWhole(L, 6, 255)), static_cast<uint8_t>(ArgOptWhole(L, 7, 255)),
                static_cast<uint8_t>(ArgOptWhole(L, 8, 255)), static_cast<uint8_t>(ArgOptWhole(L, 9, 255)));
  return 0;
}

// MapWidth(map) -> columns, 0 for a free slot
int LuaMapWidth(lua_State* L) {
  PushNumber(L, MapWidthOf(ArgInteger(L, 1)));
  return 1;
}

// MapHeight(map) -> rows, 0 for a free slot
int LuaMapHeight(lua_State* L) {
  PushNumber(L, MapHeightOf(ArgInteger(L, 1)));
  return 1;
}

// SetTile(map, x, y, value): value = tile + 16384 * vflip + 32768 * hflip
int LuaSetTile(lua_State* L) {
  MapSetCell(ArgInteger(L, 1), ArgWhole(L, 2), ArgWhole(L, 3), ArgInteger(L, 4));
  return 0;
}

// GetTile(map, x, y) -> tile number without the flip bits
int LuaGetTile(lua_State* L) {
  PushNumber(L, MapCell(ArgInteger(L, 1), ArgInteger(L, 2), ArgInteger(L, 3)) & kCellTileMask);
  return 1;
}

// GetTileFlipping(map, x, y) -> horizontal flip, vertical flip
int LuaGetTileFlipping(lua_State* L) {
  uint16_t cell = MapCell(ArgInteger(L, 1), ArgInteger(L, 2), ArgInteger(L, 3));
  PushBoolean(L, cell & kCellFlipHorizontal);
  PushBoolean(L, cell & kCellFlipVertical);
  return 2;
}
