// Tile maps: the slot table, map files well-formed and short, editing and
// the flip bits.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "video/tilemap.h"

namespace {

class TileMapTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearMaps(); }
  void TearDown() override { ClearMaps(); }
};

// A map file: u16 width, u16 height, then `cells` (possibly too few).
std::vector<uint8_t> MapFile(int width, int height, const std::vector<uint16_t>& cells) {
  std::vector<uint8_t> bytes = {uint8_t(width), uint8_t(width >> 8), uint8_t(height), uint8_t(height >> 8)};
  for (uint16_t cell : cells) {
    bytes.push_back(uint8_t(cell));
    bytes.push_back(uint8_t(cell >> 8));
  }
  return bytes;
}

int Load(const std::vector<uint8_t>& bytes, MapStatus* status) {
  return MapLoad(bytes.data(), bytes.size(), status);
}

// LoadMap keeps the unpacked entry: the cells are used where they lie.
TEST_F(TileMapTest, AdoptedEntryKeepsItsCellsInPlaceAndTheMapFreesIt) {
  std::vector<uint8_t> file = MapFile(3, 2, {1, 2, 3, 0x8004, 0x4005, 6});
  file.push_back(0xee);  // bytes after the cells are ignored
  uint8_t* block = static_cast<uint8_t*>(std::malloc(file.size()));
  std::memcpy(block, file.data(), file.size());
  uint8_t* cellsAt = block + 4;
  MapStatus status;
  int slot = MapAdopt(&block, file.size(), &status);
  ASSERT_EQ(slot, 0);
  EXPECT_EQ(status, MapStatus::Ok);
  EXPECT_EQ(block, nullptr);  // the map owns it now; ClearMaps frees it (the sanitizer build checks)
  EXPECT_EQ(reinterpret_cast<uint8_t*>(MapAt(0)->cells), cellsAt);
  EXPECT_EQ(MapCell(0, 1, 1), 0x4005);
  EXPECT_EQ(MapCell(0, 0, 1), 0x8004);
  MapSetCell(0, 2, 1, 9);
  EXPECT_EQ(MapCell(0, 2, 1), 9);
  // With no free slot, or an entry too short, the block stays the caller's.
  for (int i = 1; i < kMapSlots; ++i) MapCreate(1, 1, &status);
  block = static_cast<uint8_t*>(std::malloc(file.size()));
  std::memcpy(block, file.data(), file.size());
  EXPECT_EQ(MapAdopt(&block, file.size(), &status), -1);
  EXPECT_EQ(status, MapStatus::NoSlot);
  ASSERT_NE(block, nullptr);
  MapDelete(0);
  EXPECT_EQ(MapAdopt(&block, 9, &status), -1);
  EXPECT_EQ(status, MapStatus::ShortEntry);
  ASSERT_NE(block, nullptr);
  std::free(block);
}

TEST_F(TileMapTest, CreateTakesTheLowestFreeSlotWithEmptyCellsUntilTheTableIsFull) {
  MapStatus status;
  for (int i = 0; i < kMapSlots; ++i) {
    EXPECT_EQ(MapCreate(1, 1, &status), i);
    EXPECT_EQ(status, MapStatus::Ok);
  }
  EXPECT_EQ(MapCreate(1, 1, &status), -1);  // the 11th
  EXPECT_EQ(status, MapStatus::NoSlot);
  MapDelete(4);
  EXPECT_EQ(MapCreate(3, 2, &status), 4);
  EXPECT_EQ(MapWidthOf(4), 3);
  EXPECT_EQ(MapHeightOf(4), 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(MapCell(4, x, y), 0);
}

TEST_F(TileMapTest, CreateKeepsTheLow16BitsOfEachSize) {
  MapStatus status;
  int slot = MapCreate(65536 + 5, 65536 * 3 + 2, &status);
  EXPECT_EQ(MapWidthOf(slot), 5);
  EXPECT_EQ(MapHeightOf(slot), 2);
  int empty = MapCreate(0, 7, &status);  // no cells, but a real map
  EXPECT_EQ(status, MapStatus::Ok);
  EXPECT_EQ(MapWidthOf(empty), 0);
  EXPECT_EQ(MapCell(empty, 0, 0), 0);
}

TEST_F(TileMapTest, LoadReadsCellsRowByRowFromTheTop) {
  MapStatus status;
  int slot = Load(MapFile(3, 2, {1, 2, 3, 4, 5 | kCellFlipHorizontal, 6}), &status);
  ASSERT_EQ(slot, 0);
  EXPECT_EQ(status, MapStatus::Ok);
  EXPECT_EQ(MapWidthOf(slot), 3);
  EXPECT_EQ(MapHeightOf(slot), 2);
  EXPECT_EQ(MapCell(slot, 2, 0), 3);
  EXPECT_EQ(MapCell(slot, 1, 1), 5 | kCellFlipHorizontal);  // the fifth cell, file offset 12
}

TEST_F(TileMapTest, LoadIgnoresBytesAfterTheCells) {
  MapStatus status;
  std::vector<uint8_t> file = MapFile(1, 1, {9, 0xffff});
  EXPECT_EQ(Load(file, &status), 0);
  EXPECT_EQ(MapCell(0, 0, 0), 9);
}

TEST_F(TileMapTest, AnEntryShorterThanItsHeaderSaysIsRefusedWithoutTakingASlot) {
  MapStatus status;
  EXPECT_EQ(Load(MapFile(3, 2, {1, 2, 3, 4, 5}), &status), -1);  // one cell short
  EXPECT_EQ(status, MapStatus::ShortEntry);
  std::vector<uint8_t> odd = MapFile(1, 1, {7});
  odd.pop_back();  // half a cell
  EXPECT_EQ(Load(odd, &status), -1);
  EXPECT_EQ(status, MapStatus::ShortEntry);
  for (size_t size = 0; size < 4; ++size) {  // not even a header
    std::vector<uint8_t> header = MapFile(0, 0, {});
    EXPECT_EQ(MapLoad(header.data(), size, &status), -1);
    EXPECT_EQ(status, MapStatus::ShortEntry);
  }
  EXPECT_EQ(MapLoad(nullptr, 0, &status), -1);
  EXPECT_EQ(status, MapStatus::ShortEntry);
  // A header asking for the largest map without its cells reads nothing past the entry.
  EXPECT_EQ(Load(MapFile(65535, 65535, {1, 2}), &status), -1);
  EXPECT_EQ(status, MapStatus::ShortEntry);
  for (int i = 0; i < kMapSlots; ++i) EXPECT_EQ(MapWidthOf(i), 0);
}

TEST_F(TileMapTest, AShortEntryIsRefusedEvenWhenNoSlotIsFree) {
  MapStatus status;
  for (int i = 0; i < kMapSlots; ++i) MapCreate(1, 1, &status);
  EXPECT_EQ(Load(MapFile(2, 2, {1}), &status), -1);
  EXPECT_EQ(status, MapStatus::ShortEntry);
  EXPECT_EQ(Load(MapFile(1, 1, {1}), &status), -1);
  EXPECT_EQ(status, MapStatus::NoSlot);
  EXPECT_EQ(Load(MapFile(0, 0, {}), &status), -1);  // an empty map is well-formed
  EXPECT_EQ(status, MapStatus::NoSlot);
}

TEST_F(TileMapTest, SetTileStoresTheLow16BitsFlagsIncluded) {
  MapStatus status;
  int m = MapCreate(5, 5, &status);
  MapSetCell(m, 3, 4, 5 + 32768);
  EXPECT_EQ(MapCell(m, 3, 4) & kCellTileMask, 5);
  EXPECT_TRUE(MapCell(m, 3, 4) & kCellFlipHorizontal);
  EXPECT_FALSE(MapCell(m, 3, 4) & kCellFlipVertical);
  MapSetCell(m, 0, 0, 5 + 2 * 32768);  // above 16 bits: tile 5, no flips
  EXPECT_EQ(MapCell(m, 0, 0), 5);
  MapSetCell(m, 1, 0, 16383 + 16384);
  EXPECT_EQ(MapCell(m, 1, 0), 16383 | kCellFlipVertical);
  MapSetCell(m, 2, 0, -1);  // all bits
  EXPECT_EQ(MapCell(m, 2, 0), 0xffff);
}

TEST_F(TileMapTest, CellsOutsideTheMapAndFreeOrUnknownSlotsAreNeitherReadNorWritten) {
  MapStatus status;
  int m = MapCreate(4, 3, &status);
  for (int x : {-1, 4, 65536, INT32_MIN}) MapSetCell(m, x, 0, 7);
  for (int y : {-1, 3, INT32_MAX}) MapSetCell(m, 0, y, 7);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(MapCell(m, x, y), 0) << x << "," << y;
  MapSetCell(m, 3, 2, 7);
  EXPECT_EQ(MapCell(m, 3, 2), 7);
  EXPECT_EQ(MapCell(m, 4, 2), 0);
  EXPECT_EQ(MapCell(m, 3, 3), 0);
  for (int slot : {-1, 9, 10, INT32_MAX}) {
    MapSetCell(slot, 0, 0, 7);
    EXPECT_EQ(MapCell(slot, 0, 0), 0);
    EXPECT_EQ(MapWidthOf(slot), 0);
    EXPECT_EQ(MapHeightOf(slot), 0);
    MapDelete(slot);
  }
}

TEST_F(TileMapTest, DeleteFreesTheSlotAndADoubleDeleteIsHarmless) {
  MapStatus status;
  int m = MapCreate(2, 2, &status);
  MapSetCell(m, 1, 1, 3);
  MapDelete(m);
  MapDelete(m);
  EXPECT_FALSE(MapAt(m)->inUse);
  EXPECT_EQ(MapWidthOf(m), 0);
  EXPECT_EQ(MapCell(m, 1, 1), 0);
  EXPECT_EQ(MapCreate(2, 2, &status), m);
  EXPECT_EQ(MapCell(m, 1, 1), 0);  // a reused slot starts empty
}

}  // namespace
