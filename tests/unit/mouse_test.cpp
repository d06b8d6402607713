// Window positions to virtual pixels through the display's scale and
// centring, including the answer while no display gives a scale.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "input/mouse.h"
#include "video/display_state.h"

namespace {

// A 320 x 240 screen at scale 2 in an 800 x 600 window: offsets 80 and 60.
int X2(double x) { return MouseToVirtual(x, 80, 2, 320); }
int Y2(double y) { return MouseToVirtual(y, 60, 2, 240); }

TEST(MouseTranslation, CornersOfTheMagnifiedPicture) {
  EXPECT_EQ(X2(80), 0);
  EXPECT_EQ(Y2(60), 0);
  EXPECT_EQ(X2(719), 319);
  EXPECT_EQ(Y2(539), 239);
  EXPECT_EQ(X2(81), 0);
  EXPECT_EQ(X2(82), 1);
  EXPECT_EQ(X2(400), 160);
}

TEST(MouseTranslation, TheBorderClampsToTheNearestEdge) {
  EXPECT_EQ(X2(10), 0);
  EXPECT_EQ(Y2(10), 0);
  EXPECT_EQ(X2(799), 319);
  EXPECT_EQ(Y2(599), 239);
  EXPECT_EQ(X2(-50), 0);
  EXPECT_EQ(Y2(5000), 239);
}

TEST(MouseTranslation, SubpixelPositionsBelongToTheirWindowPixel) {
  EXPECT_EQ(X2(81.99), 0);
  EXPECT_EQ(X2(82.0), 1);
  EXPECT_EQ(X2(79.5), 0);
  EXPECT_EQ(X2(-0.5), 0);
}

TEST(MouseTranslation, ScaleThreeWithUnevenGaps) {
  // 320 x 240 at scale 3 in a 1000 x 1000 window: offsets 20 and 140.
  EXPECT_EQ(MouseToVirtual(20, 20, 3, 320), 0);
  EXPECT_EQ(MouseToVirtual(22, 20, 3, 320), 0);
  EXPECT_EQ(MouseToVirtual(23, 20, 3, 320), 1);
  EXPECT_EQ(MouseToVirtual(979, 20, 3, 320), 319);
  EXPECT_EQ(MouseToVirtual(140, 140, 3, 240), 0);
  EXPECT_EQ(MouseToVirtual(859, 140, 3, 240), 239);
  EXPECT_EQ(MouseToVirtual(860, 140, 3, 240), 239);
}

TEST(MouseTranslation, ScaleOneIsTheWindowPixel) {
  EXPECT_EQ(MouseToVirtual(0, 0, 1, 320), 0);
  EXPECT_EQ(MouseToVirtual(123.7, 0, 1, 320), 123);
  EXPECT_EQ(MouseToVirtual(319, 0, 1, 320), 319);
}

TEST(MouseTranslation, NoScaleOrNoScreenReadsZeroWithoutDividing) {
  EXPECT_EQ(MouseToVirtual(500, 0, 0, 320), 0);
  EXPECT_EQ(MouseToVirtual(500, 80, 0, 0), 0);
  EXPECT_EQ(MouseToVirtual(500, 0, -2, 320), 0);
  EXPECT_EQ(MouseToVirtual(500, 0, 2, 0), 0);  // "--double" before any display
  EXPECT_EQ(MouseToVirtual(500, 0, 2, -5), 0);
}

TEST(MouseTranslation, PositionsBeyondAnyWindowStayInRange) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(X2(std::nan("")), 0);
  EXPECT_EQ(X2(inf), 0);
  EXPECT_EQ(X2(-inf), 0);
  EXPECT_EQ(X2(1e300), 319);
  EXPECT_EQ(X2(-1e300), 0);
  EXPECT_EQ(MouseToVirtual(0, -2147483647 - 1, 1, 320), 319);
  EXPECT_EQ(MouseToVirtual(0, 2147483647, 1, 320), 0);
}

TEST(MouseWithoutWindow, PositionAndButtonsReadAsRest) {
  DisplayState saved = Display();
  Display().pixelScale = 2;  // as after "--double"
  Display().displayWidth = 320;
  Display().displayHeight = 240;
  MouseForgetFrame();
  EXPECT_EQ(MouseX(), 0);
  EXPECT_EQ(MouseY(), 0);
  EXPECT_FALSE(MouseLMB());
  EXPECT_FALSE(MouseRMB());
  Display() = saved;
}

}  // namespace
