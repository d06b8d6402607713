// PNG tilesets end to end: a PNG written here by libpng, packed by
// pelto-tool, loaded by the real engine, drawn as sprites over a background
// and read back from the window; damaged PNGs end the game.
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/engine_runner.h"
#include "tests/e2e/window_probe.h"
#include "tests/support/png_files.h"

namespace {

const int kWidth = 64, kHeight = 48;
const int kBg[3] = {40, 80, 120};

// 16 x 8, two 8 x 8 tiles; alpha sweeps from clear to opaque, with white
// and black opaque pixels whose exact colour must survive.
struct Texel {
  int r, g, b, a;
};
Texel ImageTexel(int x, int y) {
  if (y == 0 && x < 4) return {255, 255, 255, 255};
  if (y == 0 && x < 8) return {0, 0, 0, 255};
  int a = (x * 37 + y * 53) % 256;
  if (y == 7) a = 0;  // a clear row whose colour must not show
  return {x * 15 + 10, y * 30 + 5, 200 - x * 9, a};
}

std::string TilesetPng() {
  PngPicture picture;
  picture.width = 16;
  picture.height = 8;
  picture.interlaced = true;  // the engine must undo Adam7 too
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) {
      Texel t = ImageTexel(x, y);
      picture.samples.insert(picture.samples.end(), {uint16_t(t.r), uint16_t(t.g), uint16_t(t.b), uint16_t(t.a)});
    }
  std::vector<uint8_t> file = WritePng(picture);
  return std::string(file.begin(), file.end());
}

// What a premultiplied texel blended with (ONE, ONE_MINUS_SRC_ALPHA) over
// the background gives, in exact arithmetic: round(c * a / 255) + bg * (1 - a / 255).
double Blended(int c, int a, int bg) { return std::lround(c * a / 255.0) + bg * (255 - a) / 255.0; }

TEST(PngTilesets, PartialAlphaTilesBlendOverTheBackgroundAndOpaqueColoursStayExact) {
  std::string title = UniqueTitle("png");
  BackgroundGame game(std::string(kShowPrologue) + "local s = LoadTileset(\"tiles.png\", 8, 8)\nOpenDisplay(\"" +
                          title + "\", 64, 48)\nShow(function()\nCls(40, 80, 120)\n"
                          "Sprite(s, 4, 4, 0)\nSprite(s, 20, 4, 1, true)\nend)\nCloseDisplay()\n",
                      std::map<std::string, std::string>{{"tiles.png", TilesetPng()}}, {"--nocrt"});
  RunResult result;
  WindowImage got = GrabAndClose(game, title, &result);
  ASSERT_EQ(result.exitCode, 0) << result.err;
  ASSERT_EQ(got.width, kWidth);
  ASSERT_EQ(got.height, kHeight);
  int bad = 0;
  for (int tile = 0; tile < 2; ++tile)
    for (int v = 0; v < 8; ++v)
      for (int u = 0; u < 8; ++u) {
        // Tile 1 is drawn mirrored at x 20.
        int sx = tile == 0 ? 4 + u : 20 + 7 - u, sy = 4 + v;
        Texel t = ImageTexel(tile * 8 + u, v);
        Rgb seen = Channels(got.At(sx, sy));
        const int channels[3] = {seen.r, seen.g, seen.b}, colour[3] = {t.r, t.g, t.b};
        for (int k = 0; k < 3; ++k) {
          double want = Blended(colour[k], t.a, kBg[k]);
          // Opaque and clear texels leave nothing to round.
          double tolerance = t.a == 255 || t.a == 0 ? 0 : 1;
          if (std::fabs(channels[k] - want) > tolerance && ++bad <= 8)
            ADD_FAILURE() << "tile " << tile << " texel " << u << "," << v << " channel " << k << ": " << channels[k]
                          << ", want " << want << " (alpha " << t.a << ")";
        }
      }
  // Outside the sprites: the background.
  Rgb corner = Channels(got.At(0, 0));
  EXPECT_EQ(corner.r, kBg[0]);
  EXPECT_EQ(corner.b, kBg[2]);
}

TEST(PngTilesets, ADamagedPngEndsTheGameWithDataError) {
  std::string png = TilesetPng();
  std::vector<uint8_t> bytes(png.begin(), png.end());
  std::vector<PngChunk> chunks = PngChunks(bytes);
  ASSERT_GE(chunks.size(), 3u);
  std::string badCrc = png;
  badCrc[chunks[1].offset + 8 + chunks[1].length] ^= 0x01;  // the first CRC after IHDR's
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {{"cut in its image data", png.substr(0, png.size() / 2)},
               {"cut before IEND's CRC", png.substr(0, png.size() - 4)},
               {"a flipped CRC byte", badCrc}};
  for (const Case& c : cases) {
    ScratchDir dir;
    BuildGame(dir, {{"boot.lua", "print(LoadTileset(\"tiles.png\", 8, 8))\nprint(\"survived\")\n"},
                    {"tiles.png", c.bytes}});
    RunResult r = RunGame(dir);
    EXPECT_EQ(r.exitCode, 1) << c.what;
    EXPECT_EQ(ErrorLines(r.err), std::vector<std::string>{"Error: Data file missing or corrupt."}) << c.what << r.err;
    EXPECT_EQ(r.out.find("survived"), std::string::npos) << c.what;
  }
  // The same file undamaged loads into slot 0.
  ScratchDir dir;
  BuildGame(dir, {{"boot.lua", "print(\"slot\", LoadTileset(\"tiles.png\", 8, 8), TileWidth(0))\n"},
                  {"tiles.png", png}});
  RunResult r = RunGame(dir);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("slot\t0\t8\n"), std::string::npos) << r.out;
}

}  // namespace
