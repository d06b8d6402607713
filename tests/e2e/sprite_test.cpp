// Tilesets and sprites end to end: images written here as TGA and PCX
// entries, loaded by scripts, drawn as sprites and read back from the window
// without the filter, compared with the tile pixels computed here; plus the
// slot table, the refusals, and batched against unbatched drawing.
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/engine_runner.h"
#include "tests/e2e/window_probe.h"

namespace {

using Files = std::map<std::string, std::string>;
const int kWidth = 64, kHeight = 48;

struct Rgba8 {
  int r, g, b, a;
};

// The test image: 20 x 12, tiles of 8 x 8 give two tiles per row, a 4-pixel
// strip on the right that belongs to no tile and a last row cut at pixel 12.
const int kImageW = 20, kImageH = 12;
Rgba8 ImageColour(int x, int y) { return {10 * x + 5, 20 * y + 3, 200 - 7 * x, 255}; }

// A 32-bit TGA (type 2, rows bottom-up) of `colour`.
std::string Tga32(int w, int h, const std::function<Rgba8(int, int)>& colour) {
  std::string f(18, '\0');
  f[2] = 2;
  f[12] = static_cast<char>(w);
  f[13] = static_cast<char>(w >> 8);
  f[14] = static_cast<char>(h);
  f[15] = static_cast<char>(h >> 8);
  f[16] = 32;
  f[17] = 8;
  for (int y = h - 1; y >= 0; --y)
    for (int x = 0; x < w; ++x) {
      Rgba8 c = colour(x, y);
      f += {static_cast<char>(c.b), static_cast<char>(c.g), static_cast<char>(c.r), static_cast<char>(c.a)};
    }
  return f;
}

// An 8-bit PCX where every pixel is a literal index (all below 192), palette
// entry i = (i, 2i, 255 - i) except entry 1, magenta.
std::string Pcx8(int w, int h, const std::function<int(int, int)>& index) {
  std::string f(128, '\0');
  f[0] = 10, f[1] = 5, f[2] = 1, f[3] = 8, f[65] = 1;
  f[8] = static_cast<char>(w - 1);
  f[10] = static_cast<char>(h - 1);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) f += static_cast<char>(index(x, y));
  f += '\x0c';
  for (int i = 0; i < 256; ++i) {
    bool key = i == 1;
    f += {static_cast<char>(key ? 255 : i), static_cast<char>(key ? 0 : 2 * i), static_cast<char>(key ? 255 : 255 - i)};
  }
  return f;
}

// The texture as decoded: channels premultiplied with (c * a) >> 8.
Rgba8 Texel(int x, int y) {
  Rgba8 c = ImageColour(std::clamp(x, 0, kImageW - 1), std::clamp(y, 0, kImageH - 1));
  return {c.r * c.a >> 8, c.g * c.a >> 8, c.b * c.a >> 8, c.a};
}
uint32_t Packed(const Rgba8& c) { return static_cast<uint32_t>(c.r << 16 | c.g << 8 | c.b); }

struct Canvas {
  std::vector<uint32_t> pixels = std::vector<uint32_t>(kWidth * kHeight, 0);
  void Set(int x, int y, uint32_t c) {
    if (x >= 0 && y >= 0 && x < kWidth && y < kHeight) pixels[y * kWidth + x] = c;
  }
  // Tile n of the 8 x 8 grid at (x, y), mirrored if asked; texels beyond
  // the image repeat its edge (the texture is clamped).
  void Tile(int n, int x, int y, bool flip) {
    int left = n % 2 * 8, top = n / 2 * 8;
    for (int v = 0; v < 8; ++v)
      for (int u = 0; u < 8; ++u) Set(x + (flip ? 7 - u : u), y + v, Packed(Texel(left + u, top + v)));
  }
};

// Runs `setup` once and `draw` every frame on a 64 x 48 screen at `scale`
// without the filter, the image as "tiles.tga"; returns the window.
WindowImage ShowSprites(const std::string& setup, const std::string& draw, int scale, RunResult* result,
                        const std::map<std::string, std::string>& extra = {}) {
  std::string title = UniqueTitle("sprites");
  std::string size = std::to_string(kWidth * scale) + ", " + std::to_string(kHeight * scale);
  std::map<std::string, std::string> files = extra;
  files["tiles.tga"] = Tga32(kImageW, kImageH, ImageColour);
  BackgroundGame game(std::string(kShowPrologue) + setup + "\nOpenDisplay(\"" + title + "\", 64, 48, false, " +
                          size + ")\nShow(function()\nCls(0, 0, 0)\n" + draw + "\nend)\nCloseDisplay()\n",
                      files, {"--nocrt"});
  WindowImage got = GrabAndClose(game, title, result);
  EXPECT_EQ(result->exitCode, 0) << result->err;
  return got;
}

void ExpectScene(const WindowImage& got, const Canvas& want, int scale, int tolerance = 0) {
  std::string report;
  WindowImage expected =
      MagnifiedScene(want.pixels, kWidth, kHeight, scale, kWidth * scale, kHeight * scale, 0);
  EXPECT_EQ(CountMismatches(got, expected, tolerance, &report), 0) << "scale " << scale << "\n" << report;
}

class SpritesAtScale : public ::testing::TestWithParam<int> {};

TEST_P(SpritesAtScale, TilesLandOnTheirPixelMirroredInPlaceAndClampedAtTheImageEdges) {
  Canvas want;
  want.Tile(0, 2, 3, false);
  want.Tile(1, 14, 3, true);    // mirrored, still covering x 14 to 21
  want.Tile(1, 26, 3, false);   // flip given as the number 1: not mirrored
  want.Tile(2, 2, 20, false);   // the cut last row: its lower half repeats image row 11
  want.Tile(0, 40, 0, false);   // 40.7, -0.7 cut toward zero
  want.Tile(3, 60, 44, true);   // clipped by the screen's corner
  RunResult result;
  WindowImage got = ShowSprites("local s = LoadTileset(\"tiles.tga\", 8, 8)",
                                R"(
Sprite(s, 2, 3, 0)
Sprite(s, 14, 3, 1, true)
Sprite(s, 26, 3, 1, 1)
Sprite(s, 2, 20, 2, false)
Sprite(s, 40.7, -0.7, 0)
Sprite(s, 60, 44, 3, true, 255, 255, 255, 255)
)",
                                GetParam(), &result);
  ExpectScene(got, want, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Scales, SpritesAtScale, ::testing::Values(1, 3));

TEST(Sprites, UnusableSlotsDrawNothingAndNeverFail) {
  // Slot 5 is free, -1 and 64 are outside the table, a tile wider than the
  // image leaves no whole tile per row, and a deleted slot is free again.
  RunResult result;
  WindowImage got = ShowSprites(R"(
local s = LoadTileset("tiles.tga", 8, 8)
local wide = LoadTileset("tiles.tga", 30, 8)
local gone = LoadTileset("tiles.tga", 8, 8)
DeleteTileset(gone)
DeleteTileset(gone)
DeleteTileset(-1)
DeleteTileset(64)
print(TileWidth(wide), TileHeight(wide), TileWidth(gone), TileWidth(-1), TileHeight(64), TileWidth(5))
)",
                                R"(
Sprite(5, 0, 0, 0)
Sprite(-1, 0, 0, 0)
Sprite(64, 0, 0, 0)
Sprite(wide, 0, 0, 0)
Sprite(gone, 0, 0, 0)
Sprite(s, 30, 30, 1)
)",
                                1, &result);
  Canvas want;
  want.Tile(1, 30, 30, false);
  ExpectScene(got, want, 1);
  EXPECT_NE(result.out.find("30\t8\t8\t0\t0\t0"), std::string::npos) << result.out;
}

TEST(Sprites, TintMultipliesAndAlphaBlendsOverWhatIsBelow) {
  // A half-transparent image: alpha 128 everywhere, colours as usual.
  auto translucent = [](int x, int y) {
    Rgba8 c = ImageColour(x, y);
    c.a = 128;
    return c;
  };
  RunResult result;
  std::string title = UniqueTitle("tint");
  BackgroundGame game(std::string(kShowPrologue) + "local s = LoadTileset(\"glass.tga\", 8, 8)\nOpenDisplay(\"" +
                          title + "\", 64, 48)\nShow(function()\nCls(40, 80, 120)\n"
                          "Sprite(s, 0, 0, 0, false, 128, 128, 128, 128)\n"
                          "Sprite(s, 10, 0, 0, false, 255, 0, 255)\n"
                          "Sprite(s, 20, 0, 0)\nend)\nCloseDisplay()\n",
                      Files{{"glass.tga", Tga32(kImageW, kImageH, translucent)}}, {"--nocrt"});
  WindowImage got = GrabAndClose(game, title, &result);
  ASSERT_EQ(result.exitCode, 0) << result.err;
  ASSERT_EQ(got.width, kWidth);
  const int bg[3] = {40, 80, 120};
  struct Case {
    int x0, tint[4];
  } cases[] = {{0, {128, 128, 128, 128}}, {10, {255, 0, 255, 255}}, {20, {255, 255, 255, 255}}};
  for (const Case& c : cases) {
    for (int v = 0; v < 8; ++v)
      for (int u = 0; u < 8; ++u) {
        Rgba8 src = ImageColour(u, v);
        int a = 128;
        int tex[3] = {src.r * a >> 8, src.g * a >> 8, src.b * a >> 8};
        double alpha = a / 255.0 * c.tint[3] / 255.0;
        Rgb pixel = Channels(got.At(c.x0 + u, v));
        int seen[3] = {pixel.r, pixel.g, pixel.b};
        for (int k = 0; k < 3; ++k) {
          double want = tex[k] * c.tint[k] / 255.0 + bg[k] * (1.0 - alpha);
          EXPECT_NEAR(seen[k], want, 2.0) << "sprite at " << c.x0 << ", pixel " << u << "," << v << " channel " << k;
        }
      }
  }
}

TEST(Sprites, PcxTilesetsKeyOutMagenta) {
  // Index 1 is magenta: transparent, the background shows through.
  auto index = [](int x, int y) { return (x + y) % 3 == 0 ? 1 : 10 + x + 8 * y; };
  RunResult result;
  std::string title = UniqueTitle("pcx");
  BackgroundGame game(std::string(kShowPrologue) + "local s = LoadTileset(\"keyed.pcx\", 0, 0)\nOpenDisplay(\"" +
                          title + "\", 64, 48)\nShow(function()\nCls(0, 0, 255)\nSprite(s, 4, 4, 0)\nend)\n",
                      Files{{"keyed.pcx", Pcx8(8, 6, index)}}, {"--nocrt"});
  WindowImage got = GrabAndClose(game, title, &result);
  ASSERT_EQ(result.exitCode, 0) << result.err;
  Canvas want;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) want.Set(x, y, 0x0000ff);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) {
      int i = index(x, y);
      if (i != 1) want.Set(4 + x, 4 + y, Packed({i, 2 * i, 255 - i, 255}));
    }
  ExpectScene(got, want, 1);
}

// The same busy scene, gathered and drawn quad by quad, with the filter on:
// two tilesets interleaved, primitives between sprites, tints, flips, a
// tileset deleted mid-frame and one loaded while drawing.
TEST(Sprites, BatchedDrawingGivesTheSamePixelsAsQuadByQuad) {
  const std::string scene = R"(
local a = LoadTileset("tiles.tga", 8, 8)
local b = LoadTileset("tiles.tga", 4, 4, true)
OpenDisplay(TITLE, 64, 48, false, 192, 144)
local frame = 0
Show(function()
  frame = frame + 1
  Cls(20, 30, 40)
  for i = 0, 199 do
    local x, y = (i * 37) % 70 - 4, (i * 23) % 54 - 4
    Sprite(i % 3 == 0 and b or a, x, y, i % 7, i % 2 == 0, 255 - i, 128 + i % 100, 255, 255 - i % 200)
    if i % 50 == 25 then FillRect(x, y, x + 5, y + 2, 255, 0, 0, 128) end
    if i % 40 == 10 then Plot(x, y, 0, 255, 0) end
  end
  local c = LoadTileset("tiles.tga", 5, 5)
  Sprite(c, 30, 20, 3)
  DeleteTileset(c)
  Sprite(a, 10, 10, 2, true)
  Line(0, 47, 63, 0, 255, 255, 0)
  Sprite(b, 50, 30, 9)
end)
CloseDisplay()
)";
  std::vector<WindowImage> images;
  for (const char* batching : {"0", "1"}) {
    // The engine reads the switch once at start-up; the child inherits it.
    setenv("PELTO_NO_BATCH", batching[0] == '0' ? "1" : "0", 1);
    std::string title = UniqueTitle("batch");
    BackgroundGame game(std::string(kShowPrologue) + "TITLE = \"" + title + "\"\n" + scene,
                        Files{{"tiles.tga", Tga32(kImageW, kImageH, ImageColour)}});
    RunResult result;
    images.push_back(GrabAndClose(game, title, &result));
    EXPECT_EQ(result.exitCode, 0) << result.err;
  }
  unsetenv("PELTO_NO_BATCH");
  ASSERT_EQ(images[0].width, 192);
  std::string report;
  EXPECT_EQ(CountMismatches(images[1], images[0], 0, &report), 0) << report;
  // Not a blank window compared with a blank window.
  EXPECT_GT(std::count_if(images[0].pixels.begin(), images[0].pixels.end(), [&](uint32_t p) { return p != images[0].At(0, 0); }), 1000);
}

// ---- loading, the slot table and refusals ----

RunResult RunWithImages(const std::string& boot, const std::map<std::string, std::string>& images) {
  ScratchDir dir;
  std::map<std::string, std::string> files = images;
  files["boot.lua"] = boot;
  BuildGame(dir, files);
  return RunGame(dir);
}

TEST(Tilesets, SixtyFiveLoadsFillTheTableAndADeletedSlotIsReused) {
  // Loaded before any display opens: the engine keeps a context for them.
  RunResult r = RunWithImages(R"(
local last
for i = 1, 65 do last = LoadTileset("t.tga", 4, 4) end
print("65th", last)
DeleteTileset(3)
print("again", LoadTileset("t.tga", 0, 0), TileWidth(3), TileHeight(3))
print("full", LoadTileset("t.tga", 70000, -5), TileWidth(0))
)",
                              {{"t.tga", Tga32(kImageW, kImageH, ImageColour)}});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("65th\t-1\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("again\t3\t20\t12\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("full\t-1\t4\n"), std::string::npos) << r.out;
}

TEST(Tilesets, HugeTileSizesAreClampedTo65535) {
  RunResult r = RunWithImages("local s = LoadTileset(\"t.tga\", 70000, 65536)\nprint(TileWidth(s), TileHeight(s))\n"
                              "OpenDisplay(\"clamp\", 32, 24)\nSprite(s, 0, 0, 0)\nFlip()\nCloseDisplay()\n",
                              {{"t.tga", Tga32(4, 4, ImageColour)}});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("65535\t65535\n"), std::string::npos) << r.out;
}

TEST(Tilesets, MissingOrUnreadableImagesEndTheGameWithDataError) {
  std::string tga = Tga32(4, 4, ImageColour);
  std::string shortTga = tga.substr(0, tga.size() - 3);
  std::string pcx = Pcx8(4, 4, [](int, int) { return 5; });
  std::string noPalette = pcx.substr(0, 140);
  struct Case {
    const char* what;
    std::map<std::string, std::string> files;
  } cases[] = {
      {"missing", {}},
      {"not an image", {{"img", "hello, this is no picture at all"}}},
      {"truncated TGA", {{"img", shortTga}}},
      {"PCX without its palette", {{"img", noPalette}}},
  };
  for (const Case& c : cases) {
    RunResult r = RunWithImages("print(LoadTileset(\"img\", 8, 8))\nprint(\"survived\")\n", c.files);
    EXPECT_EQ(r.exitCode, 1) << c.what;
    EXPECT_EQ(ErrorLines(r.err), std::vector<std::string>{"Error: Data file missing or corrupt."}) << c.what << r.err;
    EXPECT_EQ(r.out.find("survived"), std::string::npos) << c.what;
  }
}

TEST(Tilesets, AMissingEntryIsFatalEvenWithEverySlotTaken) {
  RunResult r = RunWithImages("for i = 1, 64 do LoadTileset(\"t.tga\", 4, 4) end\nprint(\"full\")\n"
                              "LoadTileset(\"nothing.tga\", 4, 4)\nprint(\"survived\")\n",
                              {{"t.tga", Tga32(4, 4, ImageColour)}});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("full"), std::string::npos);
  EXPECT_EQ(r.out.find("survived"), std::string::npos);
  EXPECT_EQ(ErrorLines(r.err), std::vector<std::string>{"Error: Data file missing or corrupt."}) << r.err;
}

}  // namespace
