// Tile maps: grids of 16-bit cells in a fixed table of ten slots. Plain logic
// with status results; video/map_api.cpp turns the statuses into -1 or a
// fatal error. Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kMapSlots = 10;

// Cell layout: bits 0-13 the tile number (0 = empty, never drawn),
// bit 14 vertical flip, bit 15 horizontal flip.
constexpr uint16_t kCellTileMask = 0x3fff;
constexpr uint16_t kCellFlipVertical = 0x4000;
constexpr uint16_t kCellFlipHorizontal = 0x8000;

struct TileMap {
  uint16_t* cells;   // width x height cells, row-major from the top
  uint16_t width;    // columns
  uint16_t height;   // rows
  int inUse;         // 0/1: the slot holds a map
  uint8_t* storage;  // the malloc'd block the cells lie in; owned, freed with the map
};

enum class MapStatus { Ok, NoSlot, OutOfMemory, ShortEntry };

// Frees every slot. Start-up calls it before the script runs; it also
// releases maps still held, so tests can call it freely.
void ClearMaps();

// The slot record, or nullptr for a number outside 0-9 (free slots are
// returned too: callers check inUse).
const TileMap* MapAt(int32_t slot);

// Fills the lowest free slot with a map of empty cells; the sizes keep their
// low 16 bits. Returns the slot, or -1 with *status NoSlot or OutOfMemory.
int MapCreate(int32_t width, int32_t height, MapStatus* status);

// Reads a map file (u16 width, u16 height, then the cells, little-endian)
// into the lowest free slot. An entry too short for its own header is
// ShortEntry whether or not a slot is free; otherwise as MapCreate. Bytes
// after the cells are ignored.
int MapLoad(const uint8_t* bytes, size_t size, MapStatus* status);

// The same for a map file in a malloc'd block that the map may keep: when
// it does (the usual case), the cells are used where they lie, after the
// 4-byte header, *block becomes null and the block is the map's to free;
// otherwise the cells are copied and *block is left to the caller.
int MapAdopt(uint8_t** block, size_t size, MapStatus* status);

// Releases a slot's cells; a free slot or a number outside 0-9 is left alone.
void MapDelete(int32_t slot);

// Columns and rows; 0 for a free slot or a number outside 0-9.
int MapWidthOf(int32_t slot);
int MapHeightOf(int32_t slot);

// The whole 16-bit cell (flags included); 0, an empty cell, for a free slot,
// a number outside 0-9 or a cell outside the map.
uint16_t MapCell(int32_t slot, int32_t x, int32_t y);
// Stores the low 16 bits of value; anything that names no cell is ignored.
void MapSetCell(int32_t slot, int32_t x, int32_t y, int32_t value);
