// The CRT filter read back from the window and compared, pixel by pixel,
// with what its three passes compute: the frame sampled linearly in orange,
// darkened through the repeated scanline mask, plus the frame in blue half a
// virtual pixel further left.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/engine_runner.h"
#include "tests/e2e/window_probe.h"

namespace {

const int kWidth = 40, kHeight = 30;  // even, so the mask repeats exactly twice per pixel pair
const uint32_t kClear = 0x1e2832;     // Cls(30, 40, 50)

// The scene: two coloured halves, a white block and a black bar, so there
// are edges in every direction.
const char kSceneLua[] = R"(
Cls(30, 40, 50)
FillRect(0, 0, 19, 29, 200, 100, 50)
FillRect(20, 0, 39, 29, 20, 220, 160)
FillRect(8, 6, 13, 11, 255, 255, 255)
FillRect(25, 18, 34, 20, 0, 0, 0)
)";

uint32_t SceneAt(int x, int y) {
  if (x >= 8 && x <= 13 && y >= 6 && y <= 11) return 0xffffff;
  if (x >= 25 && x <= 34 && y >= 18 && y <= 20) return 0x000000;
  return x < 20 ? 0xc86432 : 0x14dca0;
}

struct Rgba {
  double r, g, b, a;  // 0..1
};

int PowerOfTwoAtLeast(int n) {
  int p = 1;
  while (p < n) p *= 2;
  return p;
}

// A texel of the frame texture: texture row 0 is the bottom row of the
// virtual screen. Beyond the copied frame the texture holds the black (alpha
// 1) it was made with; beyond the texture lies the clamp's border colour,
// transparent black.
Rgba FrameTexel(int column, int row) {
  if (column < 0 || row < 0 || column >= PowerOfTwoAtLeast(kWidth) || row >= PowerOfTwoAtLeast(kHeight)) {
    return {0, 0, 0, 0};
  }
  if (column >= kWidth || row >= kHeight) return {0, 0, 0, 1};
  Rgb c = Channels(SceneAt(column, kHeight - 1 - row));
  return {c.r / 255.0, c.g / 255.0, c.b / 255.0, 1};
}

const int kMaskAlpha[4][4] = {{0, 0, 0, 32}, {255, 255, 255, 255}, {0, 32, 0, 0}, {255, 255, 255, 255}};

double MaskTexel(int column, int row) { return kMaskAlpha[((row % 4) + 4) % 4][((column % 4) + 4) % 4] / 255.0; }

// Linear filtering at (u, v) in texel units: the four texels around the
// sample point, weighted by distance.
template <typename Texel, typename Mix>
Texel Linear(double u, double v, Texel (*texel)(int, int), Mix mix) {
  double x = u - 0.5, y = v - 0.5;
  int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
  double a = x - x0, b = y - y0;
  return mix(texel(x0, y0), texel(x0 + 1, y0), texel(x0, y0 + 1), texel(x0 + 1, y0 + 1), a, b);
}

Rgba FrameSample(double u, double v) {
  return Linear<Rgba>(u, v, FrameTexel, [](Rgba p, Rgba q, Rgba r, Rgba s, double a, double b) {
    auto lerp = [&](double pv, double qv, double rv, double sv) {
      return (1 - a) * (1 - b) * pv + a * (1 - b) * qv + (1 - a) * b * rv + a * b * sv;
    };
    return Rgba{lerp(p.r, q.r, r.r, s.r), lerp(p.g, q.g, r.g, s.g), lerp(p.b, q.b, r.b, s.b), lerp(p.a, q.a, r.a, s.a)};
  });
}

double MaskSample(double u, double v) {
  return Linear<double>(u, v, MaskTexel, [](double p, double q, double r, double s, double a, double b) {
    return (1 - a) * (1 - b) * p + a * (1 - b) * q + (1 - a) * b * r + a * b * s;
  });
}

// The window the filter shows for the scene at `scale`, centred in a window
// of the given size.
WindowImage FilteredScene(int scale, int windowWidth, int windowHeight) {
  WindowImage image;
  image.width = windowWidth;
  image.height = windowHeight;
  const int w = kWidth * scale, h = kHeight * scale;
  const int offsetX = (windowWidth - w) / 2, offsetY = (windowHeight - h) / 2;
  const int shifted = offsetX - scale / 2;
  Rgb clear = Channels(kClear);
  for (int row = 0; row < windowHeight; ++row) {
    const int glRow = windowHeight - 1 - row;  // viewports count from the bottom
    for (int column = 0; column < windowWidth; ++column) {
      double r = clear.r / 255.0, g = clear.g / 255.0, b = clear.b / 255.0;
      int j = glRow - offsetY;
      bool inRows = j >= 0 && j < h;
      int i = column - offsetX;
      if (inRows && i >= 0 && i < w) {
        // Pass 1: orange, alpha 1.
        Rgba f = FrameSample((i + 0.5) / scale, (j + 0.5) / scale);
        r = f.r + r * (1 - f.a);
        g = f.g * 152 / 255 + g * (1 - f.a);
        b = f.b * 53 / 255 + b * (1 - f.a);
        // Pass 2: black through the mask, one repeat per two virtual pixels.
        double m = MaskSample((i + 0.5) * 4.0 * (kWidth / 2) / w, (j + 0.5) * 4.0 * (kHeight / 2) / h) * 42 / 255;
        r *= 1 - m, g *= 1 - m, b *= 1 - m;
      }
      int k = column - shifted;
      if (inRows && k >= 0 && k < w) {
        // Pass 3: blue, alpha 0, added.
        Rgba f = FrameSample((k + 0.5) / scale, (j + 0.5) / scale);
        r += f.r * 49 / 255, g += f.g * 152 / 255, b += f.b;
      }
      auto byte = [](double value) { return static_cast<uint32_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255)); };
      image.pixels.push_back(byte(r) << 16 | byte(g) << 8 | byte(b));
    }
  }
  return image;
}

std::vector<uint32_t> Scene() {
  std::vector<uint32_t> scene;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) scene.push_back(SceneAt(x, y));
  return scene;
}

std::string OpenCall(const std::string& title, int windowWidth, int windowHeight) {
  return "OpenDisplay(\"" + title + "\", 40, 30, false, " + std::to_string(windowWidth) + ", " +
         std::to_string(windowHeight) + ")\n";
}

struct CrtCase {
  int scale;
  int windowWidth, windowHeight;
};

void PrintTo(const CrtCase& c, std::ostream* out) {
  *out << "scale " << c.scale << " in " << c.windowWidth << "x" << c.windowHeight;
}


class CrtPicture : public ::testing::TestWithParam<CrtCase> {};

TEST_P(CrtPicture, MatchesTheThreePassesWithinTwoPerChannel) {
  const CrtCase c = GetParam();
  std::string title = UniqueTitle("crt");
  BackgroundGame game(std::string(kShowPrologue) + OpenCall(title, c.windowWidth, c.windowHeight) +
                      "Show(function()\n" + kSceneLua + "end)\nCloseDisplay()\n");
  RunResult result;
  WindowImage got = GrabAndClose(game, title, &result);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  std::string report;
  EXPECT_EQ(CountMismatches(got, FilteredScene(c.scale, c.windowWidth, c.windowHeight), 2, &report), 0)
      << "scale " << c.scale << "\n" << report;
}

INSTANTIATE_TEST_SUITE_P(Scales, CrtPicture,
                         ::testing::Values(CrtCase{1, 40, 30},     // no shift of the blue pass
                                           CrtCase{1, 47, 35},     // borders around an opaque frame
                                           CrtCase{2, 85, 63},     // shift 1, offsets 2 and 1
                                           CrtCase{3, 126, 95},    // shift 1, offsets 3 and 2
                                           CrtCase{4, 165, 120})); // shift 2, offsets 2 and 0

// Over a black ground the first pass is drawn without blending, which the
// translucent filtered edges cannot tell: the same window, pixel for pixel.
TEST(CrtBlackGround, FirstPassIsTheSameUnblended) {
  for (const CrtCase& c : {CrtCase{2, 85, 63}, CrtCase{3, 126, 95}, CrtCase{4, 165, 120}}) {
    std::vector<WindowImage> images;
    for (const char* blend : {"1", "0"}) {
      setenv("PELTO_CRT_BLEND", blend, 1);  // the child inherits it
      std::string title = UniqueTitle("crtblack");
      BackgroundGame game(std::string(kShowPrologue) + OpenCall(title, c.windowWidth, c.windowHeight) +
                          "Show(function()\n" + kSceneLua + "Cls(0, 0, 0)\nFillRect(0, 0, 19, 29, 200, 100, 50)\n" +
                          "FillRect(22, 3, 39, 29, 20, 220, 160, 128)\nend)\nCloseDisplay()\n");
      RunResult result;
      images.push_back(GrabAndClose(game, title, &result));
      EXPECT_EQ(result.exitCode, 0) << result.err;
    }
    unsetenv("PELTO_CRT_BLEND");
    std::string report;
    EXPECT_EQ(CountMismatches(images[1], images[0], 0, &report), 0) << "scale " << c.scale << "\n" << report;
    EXPECT_NE(images[0].At(c.windowWidth / 4, c.windowHeight / 2), 0u);
  }
}

// A player toggling the filter sees the change at the next frame, both ways.
TEST(CrtSwitch, TakesEffectAtOnceWhileTheWindowIsOpen) {
  const int scale = 2, windowWidth = 85, windowHeight = 63;
  std::string title = UniqueTitle("crt-switch");
  BackgroundGame game(std::string(kShowPrologue) + OpenCall(title, windowWidth, windowHeight) +
                      "local function draw()\n" + kSceneLua + "end\n" +
                      "Show(draw, 1)\nOsCRTFilter(nil)\nShow(draw, 2)\nOsCRTFilter(0)\nShow(draw, 3)\n"
                      "CloseDisplay()\n");
  WindowProbe probe;
  WindowImage got;
  std::string report;
  ASSERT_TRUE(game.WaitReady(1));
  unsigned long window = game.WaitWindow(probe, title);
  ASSERT_NE(window, 0u);
  WindowImage filtered = FilteredScene(scale, windowWidth, windowHeight);

  ASSERT_TRUE(probe.Grab(window, &got));
  EXPECT_EQ(CountMismatches(got, filtered, 2, &report), 0) << "filter on at first\n" << report;
  game.Proceed(1);

  ASSERT_TRUE(game.WaitReady(2));
  ASSERT_TRUE(probe.Grab(window, &got));
  report.clear();
  WindowImage plain = MagnifiedScene(Scene(), kWidth, kHeight, scale, windowWidth, windowHeight, kClear);
  EXPECT_EQ(CountMismatches(got, plain, 0, &report), 0) << "switched off\n" << report;
  game.Proceed(2);

  ASSERT_TRUE(game.WaitReady(3));
  ASSERT_TRUE(probe.Grab(window, &got));
  report.clear();
  EXPECT_EQ(CountMismatches(got, filtered, 2, &report), 0) << "switched on again with 0\n" << report;
  game.Proceed(3);

  RunResult result = game.Finish();
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.err, "");
}

TEST(CrtSwitch, SwitchedOnOverANoFilterStartTheFilterIsBuilt) {
  const int scale = 3, windowWidth = 126, windowHeight = 95;
  std::string title = UniqueTitle("crt-on");
  BackgroundGame game(std::string(kShowPrologue) + OpenCall(title, windowWidth, windowHeight) +
                          "OsCRTFilter(true)\nShow(function()\n" + kSceneLua + "end)\nCloseDisplay()\n",
                      {"--nocrt"});
  RunResult result;
  WindowImage got = GrabAndClose(game, title, &result);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.err, "");
  std::string report;
  EXPECT_EQ(CountMismatches(got, FilteredScene(scale, windowWidth, windowHeight), 2, &report), 0) << report;
}

}  // namespace
