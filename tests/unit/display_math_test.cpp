// The display's arithmetic: window size and scale, fullscreen choice,
// centring and the filter's texture layout.
#include <climits>

#include <gtest/gtest.h>

#include "video/crt_filter.h"
#include "video/display.h"
#include "video/display_state.h"

namespace {

DisplayState Fresh() { return DisplayState{0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 8, 8, 8}; }

TEST(DisplayPlan, TheWindowSizeArgumentsDecideTheScaleWhenNoneIsSet) {
  WindowPlan plan = PlanWindow(320, 240, 0, 320, 240);
  EXPECT_EQ(plan.windowWidth, 320);
  EXPECT_EQ(plan.windowHeight, 240);
  EXPECT_EQ(plan.pixelScale, 1);
  plan = PlanWindow(320, 240, 0, 1000, 1000);
  EXPECT_EQ(plan.windowWidth, 1000);
  EXPECT_EQ(plan.pixelScale, 3);  // min(1000 / 320, 1000 / 240)
  EXPECT_EQ(PlanWindow(320, 200, 0, 1280, 720).pixelScale, 3);
  EXPECT_EQ(PlanWindow(320, 240, 0, 100, 100).pixelScale, 0);  // smaller than the screen
}

TEST(DisplayPlan, ASetScaleIgnoresTheWindowSizeArguments) {
  WindowPlan plan = PlanWindow(320, 240, 2, 1000, 1000);
  EXPECT_EQ(plan.windowWidth, 640);
  EXPECT_EQ(plan.windowHeight, 480);
  EXPECT_EQ(plan.pixelScale, 2);
}

TEST(DisplayPlan, SizesBelowOneOrBeyondAnyWindowAreRefused) {
  EXPECT_FALSE(PlanAcceptable(PlanWindow(0, 240, 0, 320, 240)));
  EXPECT_FALSE(PlanAcceptable(PlanWindow(320, -1, 0, 320, 240)));
  EXPECT_FALSE(PlanAcceptable(PlanWindow(320, 240, 0, 0, 240)));
  EXPECT_FALSE(PlanAcceptable(PlanWindow(320, 240, 0, 320, -240)));
  EXPECT_FALSE(PlanAcceptable(PlanWindow(320, 240, 0, kMaxWindowSide + 1, 240)));
  EXPECT_FALSE(PlanAcceptable(PlanWindow(INT_MAX, 240, 2, 0, 0)));  // no overflow on the way
  EXPECT_TRUE(PlanAcceptable(PlanWindow(1, 1, 0, 1, 1)));
  EXPECT_TRUE(PlanAcceptable(PlanWindow(INT_MAX, 240, 0, 100, 100)));  // scale 0, small window
}

TEST(DisplayPlan, FullscreenWhenAskedUnlessWindowedIsForced) {
  DisplayState d = Fresh();
  EXPECT_FALSE(ChooseFullscreen(&d, false));
  EXPECT_EQ(d.fullscreen, 0);
  EXPECT_TRUE(ChooseFullscreen(&d, true));
  EXPECT_EQ(d.fullscreen, 1);
  EXPECT_TRUE(ChooseFullscreen(&d, false));  // stays until CloseDisplay

  DisplayState both = Fresh();
  both.fullscreen = 1;
  both.forceWindowed = 1;
  EXPECT_FALSE(ChooseFullscreen(&both, true));
  EXPECT_EQ(both.fullscreen, 1);  // the mouse still reads it
}

TEST(DisplayPlan, CentringPutsTheOddSparePixelRightAndAtTheTop) {
  DisplayState d = Fresh();
  d.displayWidth = 320, d.displayHeight = 240, d.windowWidth = 1000, d.windowHeight = 1000, d.pixelScale = 3;
  CentrePicture(&d);
  EXPECT_EQ(d.offsetX, 20);
  EXPECT_EQ(d.offsetY, 140);
  d.windowWidth = 965, d.windowHeight = 723;
  CentrePicture(&d);
  EXPECT_EQ(d.offsetX, 2);  // 5 spare: 2 left, 3 right
  EXPECT_EQ(d.offsetY, 1);  // 3 spare: 1 below, 2 above
}

TEST(CrtLayout, TheFrameTextureHasPowerOfTwoSides) {
  CrtFilter plan = CrtPlan(320, 240);
  EXPECT_EQ(plan.frameTextureWidth, 512);
  EXPECT_EQ(plan.frameTextureHeight, 256);
  EXPECT_FLOAT_EQ(plan.frameMaxU, 0.625f);
  EXPECT_FLOAT_EQ(plan.frameMaxV, 0.9375f);
  plan = CrtPlan(256, 256);
  EXPECT_EQ(plan.frameTextureWidth, 256);
  EXPECT_FLOAT_EQ(plan.frameMaxU, 1.0f);
  EXPECT_FLOAT_EQ(plan.frameMaxV, 1.0f);
  EXPECT_EQ(plan.frameTexture, 0u);
}

TEST(CrtLayout, PowersOfTwoStopBeforeOverflowing) {
  EXPECT_EQ(PowerOfTwoAtLeast(1), 1);
  EXPECT_EQ(PowerOfTwoAtLeast(0), 1);
  EXPECT_EQ(PowerOfTwoAtLeast(-7), 1);
  EXPECT_EQ(PowerOfTwoAtLeast(3), 4);
  EXPECT_EQ(PowerOfTwoAtLeast(1 << 30), 1 << 30);
  EXPECT_EQ(PowerOfTwoAtLeast((1 << 30) + 1), 0);
  EXPECT_EQ(PowerOfTwoAtLeast(INT_MAX), 0);
}

}  // namespace
