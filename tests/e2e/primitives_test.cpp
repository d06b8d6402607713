// Drawing primitives read back from the window, without the filter: which
// virtual pixels each one lights, at several scales, how colour channels
// wrap and how alpha blends.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <ostream>
#include <set>
#include <tuple>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/engine_runner.h"
#include "tests/e2e/window_probe.h"

namespace {

const int kWidth = 32, kHeight = 24;

// The virtual screen as the test expects it.
struct Canvas {
  std::vector<uint32_t> pixels = std::vector<uint32_t>(kWidth * kHeight, 0);
  void Set(int x, int y, uint32_t colour) { pixels[y * kWidth + x] = colour; }
  void Fill(int x1, int y1, int x2, int y2, uint32_t colour) {
    for (int y = y1; y <= y2; ++y)
      for (int x = x1; x <= x2; ++x) Set(x, y, colour);
  }
};

// Runs `draw` (Lua statements) every frame on a 32x24 screen at `scale`
// (a window of exactly that size) after Cls(0, 0, 0); returns the window.
WindowImage ShowScene(const std::string& draw, int scale) {
  std::string title = UniqueTitle("primitives");
  std::string size = std::to_string(kWidth * scale) + ", " + std::to_string(kHeight * scale);
  BackgroundGame game(std::string(kShowPrologue) + "OpenDisplay(\"" + title + "\", 32, 24, false, " + size +
                          ")\nShow(function()\nCls(0, 0, 0)\n" + draw + "\nend)\nCloseDisplay()\n",
                      {"--nocrt"});
  RunResult result;
  WindowImage got = GrabAndClose(game, title, &result);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  return got;
}

void ExpectScene(const std::string& draw, const Canvas& want, int scale) {
  WindowImage got = ShowScene(draw, scale);
  std::string report;
  WindowImage expected = MagnifiedScene(want.pixels, kWidth, kHeight, scale, kWidth * scale, kHeight * scale, 0);
  EXPECT_EQ(CountMismatches(got, expected, 0, &report), 0) << "scale " << scale << "\n" << report;
}

class PrimitivesAtScale : public ::testing::TestWithParam<int> {};

TEST_P(PrimitivesAtScale, PlotLightsTheVirtualPixelItsCoordinatesCutTowardZeroTo) {
  Canvas want;
  want.Set(5, 7, 0xff0000);
  want.Set(10, 3, 0x00ff00);   // 10.9, 3.9
  want.Set(0, 12, 0x0000ff);   // -0.5 cuts to 0, not -1
  want.Set(20, 4, 0xffffff);   // numeric strings count
  want.Set(31, 23, 0xffff00);  // the last pixel
  ExpectScene(R"(
Plot(5, 7, 255, 0, 0)
Plot(10.9, 3.9, 0, 255, 0)
Plot(-0.5, 12, 0, 0, 255)
Plot("20", "4", 255, 255, 255)
Plot(31, 23, 255, 255, 0)
Plot(32, 5, 255, 255, 255)
Plot(-1, 5, 255, 255, 255)
)",
              want, GetParam());
}

TEST_P(PrimitivesAtScale, FillRectFillsBothCornersInclusive) {
  Canvas want;
  want.Fill(2, 2, 5, 4, 0xff0000);
  want.Set(10, 10, 0x00ff00);               // one pixel
  want.Fill(19, 5, 19, 8, 0x0000ff);        // x2 < x1: the quad spans x2 + 1 to x1, one column
  want.Fill(0, 20, 31, 23, 0x808080);       // clipped at the screen's edges
  ExpectScene(R"(
FillRect(2, 2, 5, 4, 255, 0, 0)
FillRect(10, 10, 10, 10, 0, 255, 0)
FillRect(20, 5, 18, 8, 0, 0, 255)
FillRect(25, 15, 24, 15, 255, 255, 255)
FillRect(-10, 20, 40, 30, 128, 128, 128)
)",
              want, GetParam());
}

// Magnified, points and lines are widened rather than drawn as quads: a
// horizontal line fills exactly the window rows of its virtual row, a
// vertical one the columns of its virtual column.
TEST_P(PrimitivesAtScale, LinesAreAsThickAsAMagnifiedPixel) {
  const int s = GetParam();
  WindowImage got = ShowScene("Line(2, 10, 20, 10, 255, 0, 0)\nLine(25, 2, 25, 20, 0, 255, 0)", s);
  ASSERT_EQ(got.width, kWidth * s);
  for (int y = 0; y < got.height; ++y) {
    bool inRow = y / s == 10, inColumn = y / s >= 3 && y / s <= 18;
    EXPECT_EQ(got.At(10 * s, y), inRow ? 0xff0000u : 0u) << "window row " << y;
    if (inColumn) {
      for (int x = 0; x < got.width; ++x) {
        EXPECT_EQ(got.At(x, y) == 0x00ff00u, x / s == 25) << "window pixel " << x << ", " << y;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Scales, PrimitivesAtScale, ::testing::Values(1, 2, 3));

// Lines and outlines at one window pixel per virtual pixel, where a line's
// pixels are exactly those of the rasteriser's rule: every pixel the line
// leaves, so the end point itself stays dark.
TEST(Primitives, LinesLightThePixelsFromTheirStartUpToTheirEnd) {
  Canvas want;
  want.Fill(2, 20, 11, 20, 0x00ff00);          // Line(2, 20, 12, 20)
  want.Fill(20, 2, 20, 11, 0x00ffff);          // Line(20, 2, 20, 12)
  for (int i = 0; i < 6; ++i) want.Set(25 + i, 10 + i, 0xffff00);  // Line(25, 10, 31, 16)
  want.Fill(4, 6, 12, 6, 0xff00ff);            // Line(12, 6, 3, 6), leftwards: pixel 12 down to 4
  ExpectScene(R"(
Line(2, 20, 12, 20, 0, 255, 0)
Line(20, 2, 20, 12, 0, 255, 255)
Line(25, 10, 31, 16, 255, 255, 0)
Line(12, 6, 3, 6, 255, 0, 255)
)",
              want, 1);
}

TEST(Primitives, BoxOutlinesIncludeBothCornersWhicheverComesFirst) {
  Canvas want;
  for (int i = 0; i <= 9; ++i) {
    want.Set(i, 0, 0xffffff), want.Set(i, 9, 0xffffff), want.Set(0, i, 0xffffff), want.Set(9, i, 0xffffff);
  }
  for (int x = 14; x <= 20; ++x) want.Set(x, 4, 0xff0000), want.Set(x, 10, 0xff0000);
  for (int y = 4; y <= 10; ++y) want.Set(14, y, 0xff0000), want.Set(20, y, 0xff0000);
  ExpectScene(R"(
Box(0, 0, 9, 9, 255, 255, 255)
Box(20, 10, 14, 4, 255, 0, 0)
)",
              want, 1);
}

TEST(Primitives, ChannelsWrapToTheirLowBitsExceptInCls) {
  Canvas want;
  want.Fill(0, 0, 31, 23, 0xff0080);   // Cls(300, -20, 128.9): clamped, not wrapped
  want.Fill(0, 0, 3, 3, 0x2cff00);     // FillRect with 300, -1, 256
  want.Set(10, 10, 0x01fe00);          // Plot with 257, 510, 768
  want.Fill(15, 15, 18, 15, 0x00002c); // Line with 0, 0, 300
  ExpectScene(R"(
Cls(300, -20, 128.9)
FillRect(0, 0, 3, 3, 300, -1, 256)
Plot(10, 10, 257, 510, 768)
Line(15, 15, 19, 15, 0, 0, 300)
)",
              want, 1);
}

TEST(Primitives, AlphaScalesWhatLiesBelowAndTheColourIsAddedInFull) {
  Canvas want;
  want.Fill(8, 0, 21, 1, 0xffffff);   // the white ground of the right-hand cases
  want.Fill(0, 0, 1, 1, 0xffffff);    // full white, alpha 128, over black: white
  want.Fill(4, 0, 5, 1, 0x808080);    // premultiplied grey over black: grey
  want.Fill(8, 0, 9, 1, 0xffffff);    // the same grey over white: white
  want.Fill(12, 0, 13, 1, 0xbfbfbf);  // black, alpha "64" over white: 255 * 191/255
  want.Fill(16, 0, 17, 1, 0x000000);  // black, alpha true (no number: 255) over white
  want.Fill(20, 0, 21, 1, 0x000000);  // alpha left out: 255
  ExpectScene(R"(
FillRect(0, 0, 1, 1, 255, 255, 255, 128)
FillRect(4, 0, 5, 1, 128, 128, 128, 128)
FillRect(8, 0, 21, 1, 255, 255, 255)
FillRect(8, 0, 9, 1, 128, 128, 128, 128)
FillRect(12, 0, 13, 1, 0, 0, 0, "64")
FillRect(16, 0, 17, 1, 0, 0, 0, true)
FillRect(20, 0, 21, 1, 0, 0, 0)
)",
              want, 1);
}

}  // namespace

// ---- one-pass magnification against drawing every primitive magnified ----

namespace {

// A 16 x 16 32-bit TGA (rows bottom-up): a colour ramp, one translucent row.
std::string RampImage() {
  const int side = 16;
  std::string f(18, '\0');
  f[2] = 2;
  f[12] = side;
  f[14] = side;
  f[16] = 32;
  f[17] = 8;
  for (int y = side - 1; y >= 0; --y)
    for (int x = 0; x < side; ++x) {
      int a = y == 5 ? 128 : 255;
      f += {static_cast<char>((16 * x + 3) * a / 255), static_cast<char>((9 * y + 40) * a / 255),
            static_cast<char>((200 - 11 * x) * a / 255), static_cast<char>(a)};
    }
  return f;
}

// With KEEP only the first frame clears and draws what blends; every later
// frame draws opaque primitives over the last one without Cls, the same
// each time, so the window settles whenever it is grabbed.
const char kMagnifiedScene[] = R"(
local s = LoadTileset("ramp.tga", 4, 4)
local soft = LoadTileset("ramp.tga", 8, 8, true)
OpenDisplay(TITLE, 32, 24, false, WINDOW_W, WINDOW_H)
local m = CreateMap(12, 10)
for y = 0, 9 do for x = 0, 11 do SetTile(m, x, y, (x + 2 * y) % 16 + (x % 2) * 32768 + (y % 3 == 0 and 16384 or 0)) end end
AssignMap(0, m)
AssignTileset(0, s)
local frame = 0
Show(function()
  frame = frame + 1
  local full = frame == 1 or not KEEP
  if full then
    Cls(10, 40, 90)
    Playfield(0, 2, 1, 3, 2)
    FillRect(0, 0, 31, 0, 200, 30, 30)
    FillRect(20, 5, 18, 8, 0, 0, 255)
    FillRect(-5, 20, 40, 30, 64, 64, 64, 64)
    if DIAGONAL_FIRST then Line(1, 22, 30, 3, 250, 250, 0) end
    for i = 0, 40 do Sprite(s, (i * 7) % 36 - 2, (i * 5) % 28 - 2, i % 16, i % 2 == 0, 255, 200, 255 - i, 255) end
    Plot(7, 11, 0, 255, 0, 128)
    if not NO_LINES then Box(28, 18, 22, 12, 0, 200, 255, 200) end
    if SOFT then Sprite(soft, 14, 9, 1) end
  end
  Plot(0, 0, 255, 255, 255)
  Plot(31, 23, 255, 0, 255)
  Plot(-1, 3, 255, 255, 255)
  if not NO_LINES then
    Line(0, 2, 31, 2, 0, 255, 255)
    Line(30, 23, 3, 23, 255, 128, 0)
    Line(0, 4, 0, 20, 255, 255, 255)
    Line(31, 20, 31, 1, 128, 255, 128)
    Line(12, 12, 12, 12, 255, 0, 0)
    Box(3, 3, 9, 8, 255, 255, 255)
  end
  FillRect(14, 3, 17, 3, 255, 255, 255)
  if KEEP_DIAGONAL then Line(5, 20, 25, 10, 255, 0, 0) end
  if full and DIAGONAL_LAST then Line(2, 2, 20, 14, 255, 0, 0) Sprite(s, 9, 7, 3) end
end)
CloseDisplay()
)";

struct MagnifyCase {
  const char* name;
  std::string flags;  // Lua assignments before the scene
};

void PrintTo(const MagnifyCase& c, std::ostream* out) { *out << c.name; }

class OnePassMagnification : public ::testing::TestWithParam<std::tuple<int, MagnifyCase>> {};

// The window with every primitive, drawn either way, at each scale; the
// window is wider and taller than the picture, so its borders are compared
// too (a widened point or line reaching past the picture would show there).
TEST_P(OnePassMagnification, GivesTheWindowOfDrawingEveryPrimitiveMagnified) {
  const int scale = std::get<0>(GetParam());
  const MagnifyCase& c = std::get<1>(GetParam());
  const int windowW = kWidth * scale + 7, windowH = kHeight * scale + 4;
  std::vector<WindowImage> images;
  for (const char* direct : {"1", "0"}) {
    setenv("PELTO_DIRECT_MAGNIFY", direct, 1);  // the child inherits it
    std::string title = UniqueTitle("magnify");
    std::string boot = std::string(kShowPrologue) + "TITLE = \"" + title + "\"\nWINDOW_W = " +
                       std::to_string(windowW) + "\nWINDOW_H = " + std::to_string(windowH) + "\n" + c.flags +
                       "\n" + kMagnifiedScene;
    BackgroundGame game(boot, std::map<std::string, std::string>{{"ramp.tga", RampImage()}}, {"--nocrt"});
    RunResult result;
    images.push_back(GrabAndClose(game, title, &result));
    EXPECT_EQ(result.exitCode, 0) << result.err;
  }
  unsetenv("PELTO_DIRECT_MAGNIFY");
  ASSERT_EQ(images[0].width, windowW);
  std::string report;
  EXPECT_EQ(CountMismatches(images[1], images[0], 0, &report), 0) << report;
  // The scene is there: the Cls colour, the map and the sprites.
  const WindowImage& one = images[0];
  std::set<uint32_t> colours(one.pixels.begin(), one.pixels.end());
  EXPECT_GT(colours.size(), 40u);
}

INSTANTIATE_TEST_SUITE_P(
    ScalesAndFrames, OnePassMagnification,
    ::testing::Combine(::testing::Values(1, 2, 3, 4),
                       ::testing::Values(MagnifyCase{"NoLines", "NO_LINES = true"},
                                         MagnifyCase{"AxisAlignedLines", ""},
                                         MagnifyCase{"DiagonalMidFrame", "DIAGONAL_LAST = true"},
                                         MagnifyCase{"DiagonalFirstThenSmooth", "DIAGONAL_FIRST = true\nSOFT = true"},
                                         MagnifyCase{"Smooth", "SOFT = true"},
                                         MagnifyCase{"KeptBetweenFrames", "KEEP = true"},
                                         MagnifyCase{"KeptWithoutLines", "KEEP = true\nNO_LINES = true"},
                                         MagnifyCase{"KeptWithDiagonal", "KEEP = true\nKEEP_DIAGONAL = true"})),
    [](const ::testing::TestParamInfo<std::tuple<int, MagnifyCase>>& p) {
      return std::string(std::get<1>(p.param).name) + "Scale" + std::to_string(std::get<0>(p.param));
    });

}  // namespace
