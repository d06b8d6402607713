// Tile maps: the ten-slot table, creating, loading from map files, editing.
#include "video/tilemap.h"

#include <cstdint>
#include <cstdlib>

#include "audio/byte_reader.h"

namespace {

TileMap gMaps[kMapSlots];  // process-wide; main thread only

int LowestFreeSlot() {
  for (int i = 0; i < kMapSlots; ++i) {
    if (!gMaps[i].inUse) return i;
  }
  return -1;
}

// The cell's index, or -1 when the slot is free or the cell lies outside the map.
long CellIndex(int32_t slot, int32_t x, int32_t y) {
  const TileMap* map = MapAt(slot);
  if (!map || !map->inUse) return -1;
  if (x < 0 || y < 0 || x >= map->width || y >= map->height) return -1;
  return static_cast<long>(x) + static_cast<long>(y) * map->width;
}

// Zeroed cells for a width x height map. A map of no cells still gets one
// element, so an empty map is told from a failed allocation.
uint16_t* AllocateCells(uint16_t width, uint16_t height) {
  size_t count = static_cast<size_t>(width) * height;
  return static_cast<uint16_t*>(std::calloc(count ? count : 1, sizeof(uint16_t)));
}

}  // namespace

void ClearMaps() {
  for (int i = 0; i < kMapSlots; ++i) {
    std::free(gMaps[i].storage);
    gMaps[i] = TileMap{nullptr, 0, 0, 0, nullptr};
  }
}

const TileMap* MapAt(int32_t slot) {
  if (slot < 0 || slot >= kMapSlots) return nullptr;
  return &gMaps[slot];
}

int MapCreate(int32_t width, int32_t height, MapStatus* status) {
  int slot = LowestFreeSlot();
  if (slot < 0) {
    *status = MapStatus::NoSlot;
    return -1;
  }
  // The sizes are 16-bit fields: only the low 16 bits of each count.
  uint16_t w = static_cast<uint16_t>(width), h = static_cast<uint16_t>(height);
  uint16_t* cells = AllocateCells(w, h);
  if (!cells) {
    *status = MapStatus::OutOfMemory;
    return -1;
  }
  gMaps[slot] = TileMap{cells, w, h, 1, reinterpret_cast<uint8_t*>(cells)};
  *status = MapStatus::Ok;
  return slot;
}

int MapLoad(const uint8_t* bytes, size_t size, MapStatus* status) {
  // A corrupt entry is as fatal as a missing one, so it is judged before the
  // slot search, just as a missing entry is.
  ByteReader reader(bytes, size);
  uint16_t width = reader.U16();
  uint16_t height = reader.U16();
  size_t count = static_cast<size_t>(width) * height;
  const uint8_t* raw = reader.Take(count * 2);
  if (reader.failed) {
    *status = MapStatus::ShortEntry;
    return -1;
  }
  int slot = LowestFreeSlot();
  if (slot < 0) {
    *status = MapStatus::NoSlot;
    return -1;
  }
  uint16_t* cells = AllocateCells(width, height);
  if (!cells) {
    *status = MapStatus::OutOfMemory;
    return -1;
  }
  for (size_t i = 0; i < count; ++i) {
    cells[i] = static_cast<uint16_t>(raw[2 * i] | raw[2 * i + 1] << 8);  // little-endian on any host
  }
  gMaps[slot] = TileMap{cells, width, height, 1, reinterpret_cast<uint8_t*>(cells)};
  *status = MapStatus::Ok;
  return slot;
}

int MapAdopt(uint8_t** block, size_t size, MapStatus* status) {
  uint8_t* bytes = *block;
  ByteReader reader(bytes, size);
  uint16_t width = reader.U16();
  uint16_t height = reader.U16();
  size_t count = static_cast<size_t>(width) * height;
  reader.Take(count * 2);
  uint8_t* first = bytes ? bytes + 4 : nullptr;
  // A map of no cells, or cells not on a 16-bit boundary, take the copying way.
  if (reader.failed || count == 0 || reinterpret_cast<uintptr_t>(first) % alignof(uint16_t) != 0) {
    return MapLoad(bytes, size, status);
  }
  int slot = LowestFreeSlot();
  if (slot < 0) {
    *status = MapStatus::NoSlot;
    return -1;
  }
  uint16_t* cells = reinterpret_cast<uint16_t*>(first);
#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
  for (size_t i = 0; i < count; ++i) {
    cells[i] = static_cast<uint16_t>(first[2 * i] | first[2 * i + 1] << 8);  // in place: byte i*2 is read first
  }
#endif
  gMaps[slot] = TileMap{cells, width, height, 1, bytes};
  *block = nullptr;
  *status = MapStatus::Ok;
  return slot;
}

void MapDelete(int32_t slot) {
  if (slot < 0 || slot >= kMapSlots) return;
  std::free(gMaps[slot].storage);  // a free slot's pointer is null: freeing it again is harmless
  gMaps[slot].cells = nullptr;
  gMaps[slot].storage = nullptr;
  gMaps[slot].inUse = 0;
}

int MapWidthOf(int32_t slot) {
  const TileMap* map = MapAt(slot);
  return map && map->inUse ? map->width : 0;
}

int MapHeightOf(int32_t slot) {
  const TileMap* map = MapAt(slot);
  return map && map->inUse ? map->height : 0;
}

uint16_t MapCell(int32_t slot, int32_t x, int32_t y) {
  long index = CellIndex(slot, x, y);
  return index < 0 ? 0 : gMaps[slot].cells[index];
}

void MapSetCell(int32_t slot, int32_t x, int32_t y, int32_t value) {
  long index = CellIndex(slot, x, y);
  if (index >= 0) gMaps[slot].cells[index] = static_cast<uint16_t>(value);
}
