// Gathered quads against quad-by-quad drawing on long runs: hundreds of
// sprites of one tileset in a row and a scrolled playfield, so the gathering
// fills and flushes many full batches, with quads across all four screen
// edges, mirrored, tinted and translucent. Every way must give the same
// window, pixel for pixel, through the CRT filter at scale 1 and without it
// at every scale: quad by quad magnified directly, gathered magnified
// directly, and gathered 1:1 then magnified in one pass.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/engine_runner.h"
#include "tests/e2e/window_probe.h"

namespace {

// A 32 x 32 32-bit TGA (type 2, rows bottom-up): a colour ramp, opaque
// except for a translucent row in every tile row.
std::string TileImage() {
  const int side = 32;
  std::string f(18, '\0');
  f[2] = 2;
  f[12] = side;
  f[14] = side;
  f[16] = 32;
  f[17] = 8;
  for (int y = side - 1; y >= 0; --y)
    for (int x = 0; x < side; ++x) {
      int a = (y % 8 == 3) ? 96 : 255;
      f += {static_cast<char>(200 - 5 * x), static_cast<char>(7 * y + 20), static_cast<char>(8 * x + 3),
            static_cast<char>(a)};
    }
  return f;
}

const char kScene[] = R"(
local a = LoadTileset("tiles.tga", 8, 8)
local b = LoadTileset("tiles.tga", 4, 4)
OpenDisplay(TITLE, 80, 60, false, WINDOW_W, WINDOW_H)
local m = CreateMap(24, 20)
for y = 0, 19 do
  for x = 0, 23 do SetTile(m, x, y, 1 + (x * 7 + y * 3) % 15 + (x % 3 == 0 and 32768 or 0)) end
end
AssignMap(0, m)
AssignTileset(0, a)
Show(function()
  Cls(20, 30, 40)
  Playfield(0, 0, 0, 3, 5)
  for i = 0, 599 do
    Sprite(a, (i * 37) % 100 - 10, (i * 23) % 80 - 10, i % 16, i % 2 == 0,
           255 - i % 256, 128 + i % 100, 255, i % 3 == 0 and 128 or 255)
  end
  for i = 0, 199 do Sprite(b, (i * 13) % 90 - 5, (i * 29) % 70 - 5, i % 64) end
end)
CloseDisplay()
)";

struct BatchCase {
  const char* name;
  int windowWidth, windowHeight;
  std::vector<std::string> args;
};

void PrintTo(const BatchCase& c, std::ostream* out) { *out << c.name; }

class LongRuns : public ::testing::TestWithParam<BatchCase> {};

TEST_P(LongRuns, GatheredAndQuadByQuadGiveTheSameWindow) {
  const BatchCase& c = GetParam();
  std::vector<WindowImage> images;
  const char* ways[][2] = {{"1", "1"}, {"0", "1"}, {"0", "0"}};  // no batch, direct magnification
  for (const auto& way : ways) {
    // The engine reads the switches once; the child inherits them.
    setenv("PELTO_NO_BATCH", way[0], 1);
    setenv("PELTO_DIRECT_MAGNIFY", way[1], 1);
    std::string title = UniqueTitle("longruns");
    std::string boot = std::string(kShowPrologue) + "TITLE = \"" + title + "\"\nWINDOW_W = " +
                       std::to_string(c.windowWidth) + "\nWINDOW_H = " + std::to_string(c.windowHeight) + "\n" +
                       kScene;
    BackgroundGame game(boot, std::map<std::string, std::string>{{"tiles.tga", TileImage()}}, c.args);
    RunResult result;
    images.push_back(GrabAndClose(game, title, &result));
    EXPECT_EQ(result.exitCode, 0) << result.err;
  }
  unsetenv("PELTO_NO_BATCH");
  unsetenv("PELTO_DIRECT_MAGNIFY");
  ASSERT_EQ(images[0].width, c.windowWidth);
  for (size_t i = 1; i < images.size(); ++i) {
    ASSERT_EQ(images[i].width, c.windowWidth);
    std::string report;
    EXPECT_EQ(CountMismatches(images[i], images[0], 0, &report), 0) << "way " << i << "\n" << report;
  }
  // A busy window, not two blank ones.
  const WindowImage& one = images[0];
  EXPECT_GT(std::count_if(one.pixels.begin(), one.pixels.end(), [&](uint32_t p) { return p != one.At(0, 0); }),
            one.width * one.height / 2);
}

INSTANTIATE_TEST_SUITE_P(Modes, LongRuns,
                         ::testing::Values(BatchCase{"CrtScale1", 80, 60, {}},
                                           BatchCase{"NoCrtScale2", 163, 121, {"--nocrt"}},
                                           BatchCase{"NoCrtScale3", 240, 180, {"--nocrt"}},
                                           BatchCase{"NoCrtScale4", 320, 240, {"--nocrt"}}),
                         [](const ::testing::TestParamInfo<BatchCase>& param) { return std::string(param.param.name); });

}  // namespace
