// Playfields: the slot table, scroll clamping, which cells a draw covers and
// where each lands, texture rectangles and the flip bits, without OpenGL.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "video/playfield.h"
#include "video/tilemap.h"
#include "video/tileset.h"

namespace {

// A 128x64 image cut into 16x16 tiles, as loading would record it.
Tileset Tiles16() { return Tileset{1, 1, 1.0f / 128, 1.0f / 64, 16, 16, 8}; }

// A map whose every cell holds `cell`, in a table slot.
class PlayfieldMath : public ::testing::Test {
 protected:
  void SetUp() override { ClearMaps(); }
  void TearDown() override { ClearMaps(); }
  const TileMap& Filled(int width, int height, int32_t cell) {
    MapStatus status;
    int m = MapCreate(width, height, &status);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) MapSetCell(m, x, y, cell);
    return *MapAt(m);
  }
};

TEST(PlayfieldTable, StartsUnassignedAndStoresOnlyNumbersOfItsTables) {
  ClearPlayfields();
  for (int i = 0; i < kPlayfieldSlots; ++i) {
    EXPECT_EQ(PlayfieldAt(i)->map, -1);
    EXPECT_EQ(PlayfieldAt(i)->tileset, -1);
  }
  PlayfieldAssignMap(2, 9);
  PlayfieldAssignTileset(2, 63);
  EXPECT_EQ(PlayfieldAt(2)->map, 9);
  EXPECT_EQ(PlayfieldAt(2)->tileset, 63);
  PlayfieldAssignMap(2, 10);           // beyond the ten maps
  PlayfieldAssignTileset(2, 65536);    // would wrap onto slot 0 as a 16-bit number
  EXPECT_EQ(PlayfieldAt(2)->map, -1);
  EXPECT_EQ(PlayfieldAt(2)->tileset, -1);
  PlayfieldAssignMap(8, 1);  // no such playfield: nothing happens
  PlayfieldAssignMap(-1, 1);
  EXPECT_EQ(PlayfieldAt(8), nullptr);
  EXPECT_EQ(PlayfieldAt(-1), nullptr);
  DrawPlayfield(2, 0, 0, 0, 0, 255, 255, 255, 255);  // nothing assigned: draws nothing
  DrawPlayfield(99, 0, 0, 0, 0, 255, 255, 255, 255);
}

TEST(PlayfieldPlanTest, ScrollIsClampedToTheFarEdgeThenToZero) {
  // 40x30 map of 16x16 tiles on a 320x240 screen.
  PlayfieldPlan far = PlanPlayfield(0, 0, 1000, 1000, 320, 240, 16, 16, 40, 30);
  EXPECT_EQ(far.scrollX, 320);
  EXPECT_EQ(far.scrollY, 240);
  EXPECT_EQ(far.firstColumn, 20);
  EXPECT_EQ(far.firstRow, 15);
  PlayfieldPlan near = PlanPlayfield(50, 60, -5, 7, 320, 240, 16, 16, 40, 30);
  EXPECT_EQ(near.scrollX, 0);
  EXPECT_EQ(near.scrollY, 7);
  EXPECT_EQ(near.firstRow, 0);
  EXPECT_EQ(near.left, 50);
  EXPECT_EQ(near.top, 60 - 7);
  PlayfieldPlan fine = PlanPlayfield(0, 0, 8 + 16 * 3, 0, 320, 240, 16, 16, 40, 30);
  EXPECT_EQ(fine.firstColumn, 3);
  EXPECT_EQ(fine.left, -8);
  EXPECT_EQ(fine.areaWidth, 320 + 16);  // one tile more than the screen
  EXPECT_EQ(fine.areaHeight, 240 + 16);
}

TEST(PlayfieldPlanTest, AMapSmallerThanTheScreenAlwaysShowsFromItsCorner) {
  for (int scroll : {-100, 0, 5, 1000, INT32_MAX, INT32_MIN}) {
    PlayfieldPlan plan = PlanPlayfield(3, 4, scroll, scroll, 320, 240, 16, 16, 10, 10);
    EXPECT_EQ(plan.scrollX, 0);
    EXPECT_EQ(plan.scrollY, 0);
    EXPECT_EQ(plan.left, 3);
    EXPECT_EQ(plan.top, 4);
    EXPECT_EQ(plan.areaWidth, 160);  // the whole map and no more
    EXPECT_EQ(plan.areaHeight, 160);
  }
}

TEST(PlayfieldPlanTest, TheLargestMapsAndTilesDoNotOverflow) {
  PlayfieldPlan plan = PlanPlayfield(0, 0, INT32_MAX, INT32_MAX, 320, 240, 65535, 65535, 65535, 65535);
  EXPECT_EQ(plan.scrollX, INT32_MAX);  // well inside a map of 65535 * 65535 pixels
  EXPECT_EQ(plan.firstColumn, INT32_MAX / 65535);
  EXPECT_EQ(plan.left, -(INT32_MAX % 65535));
}

TEST(CellQuad, TextureRectangleComesFromTheTileNumber) {
  Tileset tiles = Tiles16();
  CellQuad q;
  ASSERT_TRUE(CellQuadFor(tiles, 9, 100, 50, &q));  // column 1, row 1
  EXPECT_FLOAT_EQ(q.s0, 16.0f / 128);
  EXPECT_FLOAT_EQ(q.s1, 32.0f / 128);
  EXPECT_FLOAT_EQ(q.t0, 16.0f / 64);
  EXPECT_FLOAT_EQ(q.t1, 32.0f / 64);
  ASSERT_TRUE(CellQuadFor(tiles, 16383, 0, 0, &q));  // far beyond the image: still a quad
  EXPECT_FLOAT_EQ(q.s0, (16383 % 8) * 16.0f / 128);
}

TEST(CellQuad, EachFlipBitSwapsItsPairOfCorners) {
  Tileset tiles = Tiles16();
  struct Case {
    uint16_t cell;
    int xa, ya, xb, yb;
  };
  // Tile at (100, 50)-(116, 66); the texture's (s0, t0) corner lands on (xa, ya).
  const Case cases[] = {
      {5, 100, 50, 116, 66},
      {5 | kCellFlipHorizontal, 116, 50, 100, 66},
      {5 | kCellFlipVertical, 100, 66, 116, 50},
      {5 | kCellFlipHorizontal | kCellFlipVertical, 116, 66, 100, 50},
  };
  for (const Case& c : cases) {
    CellQuad q;
    ASSERT_TRUE(CellQuadFor(tiles, c.cell, 100, 50, &q));
    EXPECT_EQ(q.xa, c.xa) << c.cell;
    EXPECT_EQ(q.ya, c.ya) << c.cell;
    EXPECT_EQ(q.xb, c.xb) << c.cell;
    EXPECT_EQ(q.yb, c.yb) << c.cell;
  }
}

TEST(CellQuad, EmptyCellsAndTilesetsThatCutNoTilesGiveNoQuad) {
  Tileset tiles = Tiles16();
  CellQuad q;
  EXPECT_FALSE(CellQuadFor(tiles, 0, 0, 0, &q));
  EXPECT_FALSE(CellQuadFor(tiles, kCellFlipHorizontal | kCellFlipVertical, 0, 0, &q));  // tile 0, both flips
  Tileset none = tiles;
  none.tilesPerRow = 0;  // tile wider than the image
  EXPECT_FALSE(CellQuadFor(none, 1, 0, 0, &q));
  Tileset flat = tiles;
  flat.tileHeight = 0;
  EXPECT_FALSE(CellQuadFor(flat, 1, 0, 0, &q));
}

TEST_F(PlayfieldMath, AScrolledPlayfieldCoversTwentyOneColumnsFromTheFineOffset) {
  const TileMap& map = Filled(40, 30, 1);
  std::vector<CellQuad> quads;
  PlayfieldQuads(map, Tiles16(), 0, 0, 8, 0, 320, 240, &quads);
  // 21 columns from x -8; of the 16 rows the area holds, the last lies wholly below the screen.
  ASSERT_EQ(quads.size(), 21u * 15);
  EXPECT_EQ(quads[0].xa, -8);
  EXPECT_EQ(quads[0].ya, 0);
  EXPECT_EQ(quads[20].xa, -8 + 20 * 16);
  EXPECT_EQ(quads[21].ya, 16);  // rows top to bottom, cells left to right
  EXPECT_EQ(quads.back().ya, 14 * 16);
}

TEST_F(PlayfieldMath, CellsComeFromTheScrolledPartOfTheMap) {
  MapStatus status;
  int m = MapCreate(40, 30, &status);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) MapSetCell(m, x, y, 1 + x + 40 * y);  // every cell its own tile
  Tileset tiles = Tiles16();
  tiles.tilesPerRow = 2000;  // so the texture column is the tile number
  std::vector<CellQuad> quads;
  PlayfieldQuads(*MapAt(m), tiles, 10, 20, 1000, 1000, 320, 240, &quads);  // clamped to (320, 240)
  ASSERT_FALSE(quads.empty());
  EXPECT_EQ(quads[0].xa, 10);
  EXPECT_EQ(quads[0].ya, 20);
  EXPECT_FLOAT_EQ(quads[0].s0, (1 + 20 + 40 * 15) * 16.0f / 128);  // cell (20, 15)
  // Nothing past the map's last column or row: 20 columns, and the 15
  // rows that are on screen from y 20.
  EXPECT_EQ(quads.size(), 20u * 14);
}

TEST_F(PlayfieldMath, ASmallMapIsDrawnWholeAtThePosition) {
  const TileMap& map = Filled(10, 10, 3 | kCellFlipHorizontal);
  std::vector<CellQuad> quads;
  PlayfieldQuads(map, Tiles16(), 30, 40, 77, -77, 320, 240, &quads);
  ASSERT_EQ(quads.size(), 100u);
  EXPECT_EQ(quads[0].xb, 30);  // flipped: the left corner is xb
  EXPECT_EQ(quads[0].ya, 40);
  EXPECT_EQ(quads[99].xb, 30 + 9 * 16);
  EXPECT_EQ(quads[99].ya, 40 + 9 * 16);
}

TEST_F(PlayfieldMath, EmptyCellsCellsOffScreenAndEmptyMapsDrawNothing) {
  std::vector<CellQuad> quads;
  PlayfieldQuads(Filled(10, 10, kCellFlipVertical), Tiles16(), 0, 0, 0, 0, 320, 240, &quads);
  EXPECT_TRUE(quads.empty());
  PlayfieldQuads(Filled(10, 10, 1), Tiles16(), 320, 0, 0, 0, 320, 240, &quads);  // right of the screen
  EXPECT_TRUE(quads.empty());
  PlayfieldQuads(Filled(10, 10, 1), Tiles16(), INT32_MIN, INT32_MAX, 0, 0, 320, 240, &quads);
  EXPECT_TRUE(quads.empty());
  PlayfieldQuads(Filled(0, 0, 1), Tiles16(), 0, 0, 0, 0, 320, 240, &quads);
  EXPECT_TRUE(quads.empty());
  PlayfieldQuads(Filled(10, 10, 1), Tiles16(), 0, 0, 0, 0, 0, 0, &quads);  // no display yet
  EXPECT_TRUE(quads.empty());
}

TEST_F(PlayfieldMath, AMapPartlyOffTheLeftEdgeDrawsOnlyTheVisibleColumns) {
  const TileMap& map = Filled(10, 1, 1);
  std::vector<CellQuad> quads;
  PlayfieldQuads(map, Tiles16(), -40, 0, 0, 0, 320, 240, &quads);
  ASSERT_EQ(quads.size(), 8u);  // columns at -40 and -24 are gone, -8 is partly seen
  EXPECT_EQ(quads[0].xa, -8);
}

}  // namespace
