// Tile maps and playfields through scripts run by the engine: the map API's
// answers, map entries well-formed and short, and playfields read back from
// the window at several scroll positions, positions and flips, compared with
// a picture the test paints itself from the same tileset and map.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/engine_runner.h"
#include "tests/e2e/window_probe.h"

namespace {

const int kWidth = 32, kHeight = 24;  // virtual screen
const int kTile = 4;                  // tiles are 4x4 pixels
const int kImageWidth = 16, kImageHeight = 8;  // 4 tiles per row, tiles 0-7

// Every texel tells its tile and its place within the tile apart.
uint32_t Texel(int ix, int iy) {
  int tile = ix / kTile + 4 * (iy / kTile);
  int r = 30 + 28 * tile, g = 20 + 60 * (ix % kTile), b = 20 + 60 * (iy % kTile);
  return static_cast<uint32_t>(r << 16 | g << 8 | b);
}

// A 32-bit uncompressed TGA of the texels, opaque, rows stored bottom-up.
std::string TilesetImage() {
  std::string tga(18, '\0');
  tga[2] = 2;  // true colour
  tga[12] = kImageWidth;
  tga[14] = kImageHeight;
  tga[16] = 32;
  tga[17] = 8;  // 8 alpha bits, bottom-left origin
  for (int y = kImageHeight - 1; y >= 0; --y) {
    for (int x = 0; x < kImageWidth; ++x) {
      uint32_t c = Texel(x, y);
      tga += static_cast<char>(c & 255);
      tga += static_cast<char>(c >> 8 & 255);
      tga += static_cast<char>(c >> 16 & 255);
      tga += static_cast<char>(255);
    }
  }
  return tga;
}

// Flip choices for a whole map: none, horizontal, vertical, both, or a
// pattern that gives neighbouring cells different bits.
enum Flips { kNone = 0, kHorizontal = 1, kVertical = 2, kBoth = 3, kMixed = 4 };

// The three maps of the scenes: A (12x9, larger than the screen) and B
// (5x3, smaller) made by the script, C (9x7) loaded from a map entry.
struct MapShape {
  int width, height;
};
const MapShape kMaps[] = {{12, 9}, {5, 3}, {9, 7}};

int CellValue(int map, int x, int y, int flips) {
  int tile = map == 2 ? (3 * x + y) % 8 : (x + 2 * y) % 8;
  if (map == 2) flips = (x * y) % 4;  // the loaded map carries its own flips
  if (flips == kMixed) flips = (x + y) % 4;
  return tile + (flips & kHorizontal ? 32768 : 0) + (flips & kVertical ? 16384 : 0);
}

std::string MapEntry(bool truncated) {
  const MapShape& shape = kMaps[2];
  std::string bytes = {static_cast<char>(shape.width), 0, static_cast<char>(shape.height), 0};
  for (int y = 0; y < shape.height; ++y) {
    for (int x = 0; x < shape.width; ++x) {
      int cell = CellValue(2, x, y, kNone);
      bytes += static_cast<char>(cell & 255);
      bytes += static_cast<char>(cell >> 8);
    }
  }
  if (truncated) bytes.pop_back();
  return bytes;
}

// One Playfield call of a scene; map 0-2 as above, drawn by playfield `map`.
struct Layer {
  int map, x, y, scrollX, scrollY, flips;
  int r = 255, g = 255, b = 255;
};

// What a layer puts on the virtual screen, worked out pixel by pixel: the
// scroll clamped into the map, the map pixel seen at each screen pixel, the
// tile's texel with the cell's flips; empty cells and places beyond the map
// or beyond one tile past the screen leave the screen alone.
void Paint(std::vector<uint32_t>* screen, const Layer& layer) {
  const MapShape& shape = kMaps[layer.map];
  int mapW = shape.width * kTile, mapH = shape.height * kTile;
  int sx = std::max(0, std::min(layer.scrollX, mapW - kWidth));
  int sy = std::max(0, std::min(layer.scrollY, mapH - kHeight));
  int left = layer.x - sx % kTile, top = layer.y - sy % kTile;
  int areaW = std::min(kWidth + kTile, mapW), areaH = std::min(kHeight + kTile, mapH);
  for (int Y = 0; Y < kHeight; ++Y) {
    for (int X = 0; X < kWidth; ++X) {
      int ax = X - left, ay = Y - top;
      if (ax < 0 || ay < 0 || ax >= areaW || ay >= areaH) continue;
      int column = sx / kTile + ax / kTile, row = sy / kTile + ay / kTile;
      if (column >= shape.width || row >= shape.height) continue;
      int cell = CellValue(layer.map, column, row, layer.flips);
      int tile = cell & 0x3fff;
      if (tile == 0) continue;
      int u = ax % kTile, v = ay % kTile;
      if (cell & 32768) u = kTile - 1 - u;
      if (cell & 16384) v = kTile - 1 - v;
      uint32_t c = Texel(tile % 4 * kTile + u, tile / 4 * kTile + v);
      // The decoder premultiplies 32-bit pixels as (channel * alpha) >> 8,
      // so even an opaque channel loses one step.
      int r = ((c >> 16 & 255) * 255 >> 8) * layer.r / 255, g = ((c >> 8 & 255) * 255 >> 8) * layer.g / 255,
          b = ((c & 255) * 255 >> 8) * layer.b / 255;
      (*screen)[Y * kWidth + X] = static_cast<uint32_t>(r << 16 | g << 8 | b);
    }
  }
}

// The script: the tileset, maps A and B made cell by cell, C loaded, one
// playfield per map, then one scene per step with the maps refilled with
// the scene's flips.
std::string SceneScript(const std::string& title, const std::vector<std::vector<Layer>>& scenes, int scale) {
  std::string window = std::to_string(kWidth * scale) + ", " + std::to_string(kHeight * scale);
  std::string lua = std::string(kShowPrologue) + "OpenDisplay(\"" + title + "\", 32, 24, false, " + window + R"()
local tiles = LoadTileset("tiles.tga", 4, 4)
local maps = { CreateMap(12, 9), CreateMap(5, 3), LoadMap("level.map") }
function Fill(m, w, h, flips)
  for y = 0, h - 1 do
    for x = 0, w - 1 do
      local f = flips
      if f == 4 then f = (x + y) % 4 end
      local bits = 0
      if f == 1 or f == 3 then bits = bits + 32768 end
      if f == 2 or f == 3 then bits = bits + 16384 end
      SetTile(m, x, y, (x + 2 * y) % 8 + bits)
    end
  end
end
for p = 0, 2 do
  AssignTileset(p, tiles)
  AssignMap(p, maps[p + 1])
end
)";
  for (size_t i = 0; i < scenes.size(); ++i) {
    std::string draw;
    for (const Layer& l : scenes[i]) {
      if (l.map < 2) {
        lua += "Fill(maps[" + std::to_string(l.map + 1) + "], " + std::to_string(kMaps[l.map].width) + ", " +
               std::to_string(kMaps[l.map].height) + ", " + std::to_string(l.flips) + ")\n";
      }
      draw += "Playfield(" + std::to_string(l.map) + ", " + std::to_string(l.x) + ", " + std::to_string(l.y) +
              ", " + std::to_string(l.scrollX) + ", " + std::to_string(l.scrollY) + ", " + std::to_string(l.r) +
              ", " + std::to_string(l.g) + ", " + std::to_string(l.b) + ")\n";
    }
    lua += "Show(function()\nCls(0, 0, 0)\n" + draw + "end, " + std::to_string(i + 1) + ")\n";
  }
  return lua + "CloseDisplay()\n";
}

// Runs all scenes in one game without the filter and compares every window
// pixel of each with the painted picture.
void ExpectScenes(const std::vector<std::vector<Layer>>& scenes, int scale, int tolerance = 0) {
  std::string title = UniqueTitle("playfield");
  BackgroundGame game(SceneScript(title, scenes, scale),
                      {{"tiles.tga", TilesetImage()}, {"level.map", MapEntry(false)}}, {"--nocrt"});
  WindowProbe probe;
  ASSERT_TRUE(probe.Connected()) << "no X display to look at";
  unsigned long window = 0;
  for (size_t i = 0; i < scenes.size(); ++i) {
    int step = static_cast<int>(i + 1);
    ASSERT_TRUE(game.WaitReady(step)) << "scene " << step << " never shown\n" << game.Finish().err;
    if (!window) window = game.WaitWindow(probe, title);
    ASSERT_NE(window, 0u);
    WindowImage got;
    ASSERT_TRUE(probe.Grab(window, &got));
    std::vector<uint32_t> want(kWidth * kHeight, 0);
    for (const Layer& layer : scenes[i]) Paint(&want, layer);
    WindowImage expected = MagnifiedScene(want, kWidth, kHeight, scale, kWidth * scale, kHeight * scale, 0);
    std::string report;
    EXPECT_EQ(CountMismatches(got, expected, tolerance, &report), 0) << "scene " << step << "\n" << report;
    game.Proceed(step);
  }
  RunResult result = game.Finish();
  EXPECT_EQ(result.exitCode, 0) << result.err;
}

TEST(PlayfieldPixels, ScrollPositionsAreClampedIntoTheMap) {
  ExpectScenes({
                   {{0, 0, 0, 0, 0, kNone}},
                   {{0, 0, 0, 5, 3, kNone}},        // fine offsets within a tile
                   {{0, 0, 0, 1000, 1000, kNone}},  // held at the far edge: (16, 12)
                   {{0, 3, 2, -7, 6, kNone}},       // negative scroll reads as 0; moved by (3, 2)
                   {{0, -5, -3, 2, 1, kNone}},      // moved off the top-left, not clipped there
                   {{1, 4, 4, 9, 9, kNone}},        // smaller than the screen: drawn whole at (4, 4)
                   {{2, 1, 1, 7, 5, kNone}},        // loaded from a map entry, its own flips
               },
               1);
}

TEST(PlayfieldPixels, EachFlipBitMirrorsTheTileInPlace) {
  ExpectScenes({
                   {{0, 0, 0, 6, 5, kHorizontal}},
                   {{0, 0, 0, 6, 5, kVertical}},
                   {{0, 0, 0, 6, 5, kBoth}},
                   {{0, 2, 1, 3, 7, kMixed}},
               },
               1);
}

TEST(PlayfieldPixels, LaterPlayfieldsCoverEarlierOnesExceptAtEmptyCells) {
  ExpectScenes({{{0, 0, 0, 9, 2, kMixed}, {1, 6, 5, 0, 0, kHorizontal}}}, 1);
}

TEST(PlayfieldPixels, MagnifiedPlayfieldsKeepTheirPixels) {
  ExpectScenes({{{0, 0, 0, 13, 11, kMixed}}}, 3);
}

TEST(PlayfieldPixels, TheTintMultipliesTheTiles) {
  Layer tinted{0, 0, 0, 2, 2, kNone};
  tinted.g = 128;
  tinted.b = 64;
  ExpectScenes({{tinted}}, 1, 1);  // the hardware's rounding of the product may differ by one
}

// The map API's answers, and playfields that cannot draw, without a window.
TEST(MapScripts, CreateEditReadAndDelete) {
  ScratchDir dir;
  BuildGame(dir, {{"level.map", MapEntry(false)}, {"boot.lua", R"(
    local m = CreateMap(4, 3)
    print(m, MapWidth(m), MapHeight(m), GetTile(m, 3, 2))
    SetTile(m, 3, 2, 5 + 32768)
    print(GetTile(m, 3, 2), GetTileFlipping(m, 3, 2))
    SetTile(m, 0, 0, 5 + 2 * 32768)
    print(GetTile(m, 0, 0), GetTileFlipping(m, 0, 0))
    SetTile(m, 1.9, 0, 7 + 16384)
    print(GetTile(m, 1, 0), GetTileFlipping(m, 1, 0))
    SetTile(m, 4, 0, 9) SetTile(m, -1, 0, 9) SetTile(m, 0, 3, 9) SetTile(12, 0, 0, 9)
    print(GetTile(m, 4, 0), GetTile(m, -1, 0), GetTile(m, 0, 3), GetTile(12, 0, 0), GetTileFlipping(9, 0, 0))
    print(MapWidth(9), MapHeight(-1), MapWidth(10))
    local c = LoadMap("level.map")
    print(c, MapWidth(c), MapHeight(c), GetTile(c, 1, 1), GetTileFlipping(c, 3, 1))
    DeleteMap(m) DeleteMap(m) DeleteMap(99)
    print(MapWidth(m), GetTile(m, 3, 2), CreateMap(1, 1))
    for i = 1, 8 do CreateMap(1, 1) end
    print(CreateMap(1, 1), LoadMap("level.map"))
    AssignMap(0, c) AssignTileset(0, 70) AssignMap(99, 0)
    Playfield(0, 0, 0, 0, 0) Playfield(5, 0, 0, 0, 0) Playfield(-3, 0, 0, 0, 0)
    print("done")
  )"}});
  RunResult r = RunGame(dir);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "0\t4\t3\t0\n"
            "5\ttrue\tfalse\n"
            "5\tfalse\tfalse\n"
            "7\tfalse\ttrue\n"
            "0\t0\t0\t0\tfalse\tfalse\n"
            "0\t0\t0\n"
            "1\t9\t7\t4\ttrue\ttrue\n"  // cell (1, 1) is tile (3 + 1) % 8; (3, 1) has flips 3 * 1 % 4: both
            "0\t0\t0\n"
            "-1\t-1\n"
            "done\n");
}

TEST(MapScripts, AMapEntryShorterThanItsHeaderSaysIsFatal) {
  for (bool noSlotFree : {false, true}) {
    ScratchDir dir;
    BuildGame(dir, {{"short.map", MapEntry(true)},
                    {"boot.lua", std::string(noSlotFree ? "for i = 1, 10 do CreateMap(1, 1) end\n" : "") +
                                     "print(LoadMap('short.map'))\nprint('after')\n"}});
    RunResult r = RunGame(dir);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ErrorLines(r.err), std::vector<std::string>{"Error: Data file missing or corrupt."});
  }
}

TEST(MapScripts, AMissingMapEntryIsFatal) {
  RunResult r = RunBootSource("print(LoadMap('nothing.map'))\n");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ErrorLines(r.err), std::vector<std::string>{"Error: Data file missing or corrupt."});
}

}  // namespace
