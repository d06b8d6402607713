// Tiled maps through the real tools and the real engine: pelto-tool convert
// writes the tileset image, map files and description; pelto-tool packs them
// with a boot script that draws every layer with playfields at 1:1 without
// the filter; the window must show what Tiled's own rule paints. Also the
// command's exit codes, messages and its promise to write nothing on failure.
#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/engine_runner.h"
#include "tests/e2e/window_probe.h"
#include "video/png.h"

namespace {

const int kTile = 4, kColumns = 10, kRows = 7;  // the map: 40 x 28 pixels, the screen too
const int kWidth = kColumns * kTile, kHeight = kRows * kTile;
const uint32_t kTrans = 0x00ff00;  // the tileset's transparent colour
const uint32_t kH = 0x80000000u, kV = 0x40000000u, kD = 0x20000000u;

// The tileset: 3 x 2 tiles of 4x4 with a margin of 2 and spacing of 1; every
// tile pixel has its own colour, a few are the transparent colour.
uint32_t SheetPixel(int x, int y) {
  bool inTile = x >= 2 && (x - 2) % 5 < 4 && x < 16 && y >= 2 && (y - 2) % 5 < 4 && y < 11;
  if (!inTile) return 0xff00ff;
  if ((x + 2 * y) % 6 == 0) return kTrans;
  return uint32_t(20 + x * 14) << 16 | uint32_t(20 + y * 20) << 8 | uint32_t(60 + (x * y) % 7 * 25);
}

std::string SheetPng() {
  RgbaImage image;
  image.width = 18;
  image.height = 13;
  for (int y = 0; y < 13; ++y) {
    for (int x = 0; x < 18; ++x) {
      uint32_t c = SheetPixel(x, y);
      image.pixels.insert(image.pixels.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), 255});
    }
  }
  std::vector<uint8_t> png;
  EXPECT_TRUE(EncodePngRgba(image, &png));
  return std::string(png.begin(), png.end());
}

// Tiled's rule for one pixel of a cell: undo the left-right and top-bottom
// flips, then the diagonal one; -1 where nothing is drawn.
int64_t TiledPixel(uint32_t gid, int u, int v) {
  uint32_t id = gid & 0x0fffffff;
  if (id == 0) return -1;
  if (gid & kH) u = kTile - 1 - u;
  if (gid & kV) v = kTile - 1 - v;
  if (gid & kD) std::swap(u, v);
  uint32_t c = SheetPixel(2 + int(id - 1) % 3 * 5 + u, 2 + int(id - 1) / 3 * 5 + v);
  return c == kTrans ? -1 : int64_t(c);
}

struct Layer {
  const char* name;
  int offsetX, offsetY;
  bool visible;
  std::vector<uint32_t> gids;
};

std::vector<Layer> Layers() {
  std::vector<Layer> layers = {{"ground", 0, 0, true, {}}, {"over lay", 3, -2, true, {}}, {"hidden", 0, 0, false, {}}};
  for (int y = 0; y < kRows; ++y) {
    for (int x = 0; x < kColumns; ++x) {
      int i = x + y * kColumns;
      uint32_t flips = (i % 8 & 1 ? kH : 0) | (i % 8 & 2 ? kV : 0) | (i % 8 & 4 ? kD : 0);
      layers[0].gids.push_back(uint32_t(1 + (x + 2 * y) % 6) | flips);
      uint32_t over = (x * 3 + y) % 4 == 0 ? uint32_t(1 + (x + y) % 6) | ((i / 3) % 8 & 1 ? kH : 0) |
                                                 ((i / 3) % 8 & 2 ? kV : 0) | ((i / 3) % 8 & 4 ? kD : 0)
                                           : 0;
      layers[1].gids.push_back(over);
      layers[2].gids.push_back(1);
    }
  }
  return layers;
}

std::string Csv(const std::vector<uint32_t>& gids) {
  std::string s;
  for (size_t i = 0; i < gids.size(); ++i) s += (i ? "," : "") + std::to_string(gids[i]);
  return s;
}

std::string MapTmx(const std::string& extra = "") {
  std::string tmx = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<map version=\"1.10\" orientation=\"orthogonal\" "
                    "width=\"10\" height=\"7\" tilewidth=\"4\" tileheight=\"4\" infinite=\"0\">\n"
                    " <tileset firstgid=\"1\" name=\"sheet\" tilewidth=\"4\" tileheight=\"4\" spacing=\"1\" "
                    "margin=\"2\" tilecount=\"6\" columns=\"3\"><image source=\"art/sheet.png\" trans=\"00ff00\"/></tileset>\n";
  for (const Layer& l : Layers()) {
    tmx += " <layer name=\"" + std::string(l.name) + "\" width=\"10\" height=\"7\" offsetx=\"" +
           std::to_string(l.offsetX) + "\" offsety=\"" + std::to_string(l.offsetY) + "\" visible=\"" +
           (l.visible ? "1" : "0") + "\"><data encoding=\"csv\">" + Csv(l.gids) + "</data></layer>\n";
  }
  return tmx + extra + "</map>\n";
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

TEST(TiledMapConvert, TheEngineDrawsTheConvertedLayersAsTiledDoes) {
  ScratchDir work;
  work.Write("maps/art/sheet.png", SheetPng());
  std::string map = work.Write("maps/level.tmx", MapTmx());
  RunResult convert = RunProcess({ToolPath(), "convert", map, "-o", work / "out"});
  ASSERT_EQ(convert.exitCode, 0) << convert.err;
  EXPECT_EQ(convert.err, "");

  // The description becomes part of the boot script, as a bundled module would.
  std::string title = UniqueTitle("tiled");
  std::string boot = std::string(kShowPrologue) + "local map = (function()\n" + work.Read("out/level.lua") +
                     "\nend)()\n" + "OpenDisplay(\"" + title + "\", " + std::to_string(kWidth) + ", " +
                     std::to_string(kHeight) + ", false, " + std::to_string(kWidth) + ", " + std::to_string(kHeight) +
                     R"()
local tileset = LoadTileset(map.tileset, map.tileWidth, map.tileHeight)
for i, layer in ipairs(map.layers) do
  AssignMap(i - 1, LoadMap(layer.entry))
  AssignTileset(i - 1, tileset)
end
Show(function()
  Cls(0, 0, 0)
  for i, layer in ipairs(map.layers) do
    if layer.visible then Playfield(i - 1, layer.offsetX, layer.offsetY, 0, 0, unpack(layer.tint)) end
  end
end)
CloseDisplay()
)";
  std::map<std::string, std::string> files;
  for (const char* name : {"level.png", "level.ground.map", "level.over_lay.map", "level.hidden.map"}) {
    files[name] = work.Read(std::string("out/") + name);
  }
  BackgroundGame game(boot, files, {"--nocrt"});
  RunResult result;
  WindowImage got = GrabAndClose(game, title, &result);
  EXPECT_EQ(result.exitCode, 0) << result.err;

  std::vector<uint32_t> want(kWidth * kHeight, 0);
  for (const Layer& l : Layers()) {
    if (!l.visible) continue;
    for (int y = 0; y < kRows; ++y) {
      for (int x = 0; x < kColumns; ++x) {
        for (int v = 0; v < kTile; ++v) {
          for (int u = 0; u < kTile; ++u) {
            int64_t c = TiledPixel(l.gids[size_t(x + y * kColumns)], u, v);
            int X = x * kTile + u + l.offsetX, Y = y * kTile + v + l.offsetY;
            if (c >= 0 && X >= 0 && Y >= 0 && X < kWidth && Y < kHeight) want[size_t(Y * kWidth + X)] = uint32_t(c);
          }
        }
      }
    }
  }
  std::string report;
  EXPECT_EQ(CountMismatches(got, MagnifiedScene(want, kWidth, kHeight, 1, kWidth, kHeight, 0), 0, &report), 0)
      << report;
}

TEST(TiledMapConvert, WarningsErrorsAndStrictRunsWriteNothingOnFailure) {
  ScratchDir work;
  work.Write("art/sheet.png", SheetPng());
  std::string map = work.Write("level.tmx", MapTmx(" <imagelayer name=\"sky\"><image source=\"sky.png\"/></imagelayer>\n"));

  RunResult strict = RunProcess({ToolPath(), "convert", "--strict", map, "-o", work / "strict"});
  EXPECT_EQ(strict.exitCode, 1);
  EXPECT_EQ(strict.err, "error: " + map + ": layer \"sky\": image layers are skipped; draw the picture with a "
                        "tileset of its own\n");
  EXPECT_FALSE(Exists(work / "strict/level.png"));

  RunResult lenient = RunProcess({ToolPath(), "convert", map, "-o", work / "out"});
  EXPECT_EQ(lenient.exitCode, 0);
  EXPECT_EQ(lenient.err, "warning: " + map + ": layer \"sky\": image layers are skipped; draw the picture with a "
                         "tileset of its own\n");
  for (const char* name : {"level.png", "level.ground.map", "level.over_lay.map", "level.hidden.map", "level.lua"}) {
    EXPECT_TRUE(Exists(work / (std::string("out/") + name))) << name;
  }

  // A failure leaves the folder's earlier files alone and adds none.
  std::string before = work.Read("out/level.lua");
  work.Write("level.tmx", MapTmx().replace(MapTmx().find("art/sheet.png"), 13, "art/none.png"));
  RunResult failed = RunProcess({ToolPath(), "convert", map, "-o", work / "out"});
  EXPECT_EQ(failed.exitCode, 1);
  EXPECT_EQ(failed.err, "error: " + map + ": " + work.path() + "/art/none.png: cannot read the image\n");
  EXPECT_EQ(work.Read("out/level.lua"), before);
  RunResult listing = RunProcess({"/bin/sh", "-c", "ls " + work / "out"});
  EXPECT_EQ(listing.out, "level.ground.map\nlevel.hidden.map\nlevel.lua\nlevel.over_lay.map\nlevel.png\n");

  EXPECT_EQ(RunProcess({ToolPath(), "convert", "--help"}).exitCode, 0);
  RunResult bad = RunProcess({ToolPath(), "convert", map});
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_NE(bad.err.find("usage: pelto-tool convert"), std::string::npos) << bad.err;
}

}  // namespace
