// The map target: a map entry loaded into the slot table as LoadMap does,
// read back at its corners, and deleted.
#include "tests/fuzz/fuzz_targets.h"
#include "video/tilemap.h"

int FuzzMap(const uint8_t* data, size_t size) {
  MapStatus status;
  int slot = MapLoad(data, size, &status);
  if (slot >= 0) {
    FuzzCheck(status == MapStatus::Ok, "a loaded map reports Ok");
    int w = MapWidthOf(slot), h = MapHeightOf(slot);
    FuzzCheck(size >= 4 + size_t(w) * h * 2, "the cells came from the entry");
    uint32_t sum = MapCell(slot, 0, 0) + MapCell(slot, w - 1, h - 1) + MapCell(slot, w, h) + MapCell(slot, -1, 0);
    (void)sum;
    const TileMap* map = MapAt(slot);
    FuzzTouch(reinterpret_cast<const uint8_t*>(map->cells), size_t(w) * h * 2);
    MapDelete(slot);
  }
  ClearMaps();
  return 0;
}
