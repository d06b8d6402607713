// The display seen from outside: window sizes for the option combinations,
// the magnified and centred picture without the filter, re-opening, and the
// refusals after which the script goes on.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/engine_runner.h"
#include "tests/e2e/window_probe.h"

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// ---- exact pixels without the filter ----

struct ScaleCase {
  int scale;
  int windowWidth, windowHeight;  // chosen so that the scale follows and the offsets are odd or even
};

void PrintTo(const ScaleCase& c, std::ostream* out) {
  *out << "scale " << c.scale << " in " << c.windowWidth << "x" << c.windowHeight;
}


class NoFilterPicture : public ::testing::TestWithParam<ScaleCase> {};

// A 16x12 screen where every virtual pixel has its own colour.
uint32_t SceneColour(int x, int y) {
  return static_cast<uint32_t>(x * 16) << 16 | static_cast<uint32_t>(y * 20) << 8 | (((x + y) & 1) ? 255u : 0u);
}

TEST_P(NoFilterPicture, EveryVirtualPixelCoversItsSquareAndBordersTakeTheClearColour) {
  const ScaleCase c = GetParam();
  const int w = 16, h = 12;
  std::string title = UniqueTitle("nocrt-scale");
  std::string script = std::string(kShowPrologue) + "OpenDisplay(" + Quoted(title) + ", 16, 12, false, " +
                       std::to_string(c.windowWidth) + ", " + std::to_string(c.windowHeight) + R"()
Show(function()
  Cls(40, 50, 60)
  for y = 0, 11 do
    for x = 0, 15 do
      FillRect(x, y, x, y, x * 16, y * 20, (x + y) % 2 * 255)
    end
  end
end)
CloseDisplay()
)";
  BackgroundGame game(script, {"--nocrt"});
  RunResult result;
  WindowImage got = GrabAndClose(game, title, &result);
  EXPECT_EQ(result.exitCode, 0) << result.err;

  std::vector<uint32_t> scene;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) scene.push_back(SceneColour(x, y));
  std::string report;
  WindowImage want = MagnifiedScene(scene, w, h, c.scale, c.windowWidth, c.windowHeight, 0x28323c);
  EXPECT_EQ(CountMismatches(got, want, 0, &report), 0) << report;
}

INSTANTIATE_TEST_SUITE_P(Scales, NoFilterPicture,
                         ::testing::Values(ScaleCase{1, 21, 15},    // spare 5 x 3: offsets 2, 1
                                           ScaleCase{2, 37, 29},    // spare 5 x 5: offsets 2, 2
                                           ScaleCase{3, 53, 41}));  // spare 5 x 5: offsets 2, 2

// ---- window sizes ----

struct SizeCase {
  const char* name;
  std::vector<std::string> options;
  std::string openArguments;  // after the title
  int width, height;          // 0 x 0: the whole screen
};

void PrintTo(const SizeCase& c, std::ostream* out) { *out << c.name; }

class WindowSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(WindowSize, FollowsTheOptionsAndTheScript) {
  const SizeCase c = GetParam();
  std::string title = UniqueTitle("size");
  BackgroundGame game(std::string(kShowPrologue) + "OpenDisplay(" + Quoted(title) + ", " + c.openArguments +
                          ")\nShow(function() Cls(0, 0, 0) end)\nCloseDisplay()\n",
                      c.options);
  WindowProbe probe;
  ASSERT_TRUE(game.WaitReady());
  unsigned long window = game.WaitWindow(probe, title);
  ASSERT_NE(window, 0u);
  int width = 0, height = 0, screenWidth = 0, screenHeight = 0;
  EXPECT_TRUE(probe.Size(window, &width, &height));
  ASSERT_TRUE(probe.ScreenSize(&screenWidth, &screenHeight));
  EXPECT_EQ(width, c.width ? c.width : screenWidth);
  EXPECT_EQ(height, c.height ? c.height : screenHeight);
  game.Proceed(1);
  RunResult result = game.Finish();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Options, WindowSize,
    ::testing::Values(
        SizeCase{"Plain", {}, "320, 240", 320, 240},
        SizeCase{"Double", {"--double"}, "320, 240", 640, 480},
        SizeCase{"DoubleIgnoresTheWindowSize", {"--double"}, "320, 240, false, 1000, 1000", 640, 480},
        SizeCase{"WindowSizeArguments", {}, "320, 240, false, 1000, 1000", 1000, 1000},
        SizeCase{"ScriptAsksFullscreen", {}, "320, 240, true", 0, 0},
        SizeCase{"FullscreenOption", {"--fullscreen"}, "320, 240", 0, 0},
        SizeCase{"FullscreenAndWindowed", {"--fullscreen", "--windowed"}, "320, 240", 320, 240},
        SizeCase{"WindowedOverridesTheScript", {"--windowed"}, "320, 240, true", 320, 240},
        SizeCase{"NumberOneIsNoFlag", {}, "320, 240, 1", 320, 240},
        SizeCase{"SixteenBits", {"--16bpp"}, "320, 240", 320, 240},
        SizeCase{"ThirtyTwoBits", {"--32bpp", "--double", "--nocrt"}, "100, 50", 200, 100}),
    [](const ::testing::TestParamInfo<SizeCase>& param) { return std::string(param.param.name); });

// ---- re-opening ----

TEST(DisplayReopen, DoubleLastsUntilTheFirstCloseDisplay) {
  std::string first = UniqueTitle("double-a"), second = UniqueTitle("double-b");
  BackgroundGame game(std::string(kShowPrologue) + "OpenDisplay(" + Quoted(first) + R"(, 320, 240)
Show(function() Cls(0, 0, 0) end, 1)
CloseDisplay()
OpenDisplay()" + Quoted(second) + R"(, 320, 240)
Show(function() Cls(0, 0, 0) end, 2)
CloseDisplay()
print(OsDisplayWidth(), OsDisplayHeight())
)",
                      {"--double"});
  WindowProbe probe;
  int width = 0, height = 0;
  ASSERT_TRUE(game.WaitReady(1));
  ASSERT_TRUE(probe.Size(game.WaitWindow(probe, first), &width, &height));
  EXPECT_EQ(width, 640);
  EXPECT_EQ(height, 480);
  game.Proceed(1);
  ASSERT_TRUE(game.WaitReady(2));
  ASSERT_TRUE(probe.Size(game.WaitWindow(probe, second), &width, &height));
  EXPECT_EQ(width, 320);
  EXPECT_EQ(height, 240);
  game.Proceed(2);
  RunResult result = game.Finish();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "320\t240\n");  // the virtual size outlives CloseDisplay
}

TEST(DisplayReopen, OpeningWhileOpenReplacesTheWindow) {
  std::string first = UniqueTitle("replace-a"), second = UniqueTitle("replace-b");
  BackgroundGame game(std::string(kShowPrologue) + "OpenDisplay(" + Quoted(first) + R"(, 320, 240, false, 640, 480)
Show(function() Cls(0, 0, 0) end, 1)
OpenDisplay()" + Quoted(second) + R"(, 100, 80)
Show(function() Cls(0, 0, 0) end, 2)
CloseDisplay()
)");
  WindowProbe probe;
  ASSERT_TRUE(game.WaitReady(1));
  EXPECT_NE(game.WaitWindow(probe, first), 0u);
  game.Proceed(1);
  ASSERT_TRUE(game.WaitReady(2));
  int width = 0, height = 0;
  ASSERT_TRUE(probe.Size(game.WaitWindow(probe, second), &width, &height));
  EXPECT_EQ(width, 100);
  EXPECT_EQ(height, 80);
  EXPECT_EQ(probe.Find(first), 0u) << "the first window is still there";
  game.Proceed(2);
  RunResult result = game.Finish();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.err, "");
}

// ---- refusals: a box, and the script goes on ----

TEST(DisplayRefusal, SizesBelowOneAreRefusedBeforeAnythingChanges) {
  std::string title = UniqueTitle("kept");
  BackgroundGame game(std::string(kShowPrologue) + "OpenDisplay(" + Quoted(title) + R"(, 64, 48)
Show(function() Cls(0, 0, 0) end, 1)
OpenDisplay("zero", 0, 48)
OpenDisplay("negative", 64, -1)
OpenDisplay("huge", 64, 48, false, 100000, 100)
print(OsDisplayWidth(), OsDisplayHeight())
Show(function() Cls(0, 0, 0) end, 2)
CloseDisplay()
)");
  WindowProbe probe;
  ASSERT_TRUE(game.WaitReady(1));
  unsigned long window = game.WaitWindow(probe, title);
  ASSERT_NE(window, 0u);
  game.Proceed(1);
  ASSERT_TRUE(game.WaitReady(2));
  EXPECT_EQ(probe.Find(title), window) << "the open window was not kept";
  game.Proceed(2);
  RunResult result = game.Finish();
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "64\t48\n");
  EXPECT_EQ(result.err,
            "Error: Could not create OpenGL display.\nError: Could not create OpenGL display.\n"
            "Error: Could not create OpenGL display.\n");
}

TEST(DisplayRefusal, NoScaleWithoutTheFilterFailsTheSetUpAndTheScriptGoesOn) {
  // A window smaller than the virtual screen gives scale 0, and points of
  // size 0 are an OpenGL error.
  RunResult result = RunBootSource(R"(
OpenDisplay("small", 320, 240, false, 100, 100)
print("after", OsDisplayWidth())
Cls(255, 0, 0)
Flip()
CloseDisplay()
)",
                                   {"--nocrt"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "after\t320\n");
  EXPECT_EQ(result.err, "Error: OpenGL setup failed.\n");
}

TEST(DisplayRefusal, AFilterTooLargeForAnyTextureFailsTheSetUpWithoutAllocatingIt) {
  RunResult result = RunBootSource(R"(
OpenDisplay("vast", 1000000, 500000, false, 200, 100)
Cls(255, 0, 0)
FillRect(0, 0, 10, 10, 0, 255, 0)
Flip()
CloseDisplay()
print("after", OsDisplayWidth())
)");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "after\t1000000\n");
  EXPECT_EQ(result.err, "Error: OpenGL setup failed.\n");
}

TEST(DisplayClosed, DrawingFlippingAndClosingWithoutAWindowDoNothing) {
  RunResult result = RunBootSource(R"(
CloseDisplay()
Cls(255, 255, 255)
Plot(1, 1, 255, 0, 0)
Line(0, 0, 10, 10, 255, 0, 0)
Box(0, 0, 10, 10, 255, 0, 0)
FillRect(0, 0, 10, 10, 255, 0, 0)
Flip()
OsCRTFilter(false)
OsCRTFilter(true)
OsVSync(false)
OsUpdate()
OpenDisplay("once", 32, 24)
CloseDisplay()
Cls(255, 255, 255)
FillRect(0, 0, 10, 10, 255, 0, 0)
Flip()
CloseDisplay()
print(OsDisplayWidth(), OsDisplayHeight(), OsQuit())
)");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "32\t24\tfalse\n");
  EXPECT_EQ(result.err, "");
}

TEST(DisplayClosed, AWindowLeftOpenIsClosedAtTheEnd) {
  RunResult result = RunBootSource("OpenDisplay('left open', 32, 24)\nCls(1, 2, 3)\nFlip()\n");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.err, "");
}

}  // namespace
