// Joysticks through made-up device readings: counts fixed at start-up, the
// axis directions and numbering scripts expect, hats as axis pairs, and
// numbers outside the counts answered without reading the device.
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "input/joystick.h"

namespace {

// The made-up devices the fake reader serves, and how often it was asked.
struct FakeDevices {
  bool present[2] = {false, false};
  std::vector<float> axes[2];
  std::vector<unsigned char> hats[2];
  std::vector<unsigned char> buttons[2];
  int reads = 0;
} fake;

bool FakeRead(int id, JoystickDevice* device) {
  ++fake.reads;
  *device = {};
  if (id < 0 || id > 1 || !fake.present[id]) return false;
  *device = {fake.axes[id].data(), (int)fake.axes[id].size(), fake.hats[id].data(),
             (int)fake.hats[id].size(), fake.buttons[id].data(), (int)fake.buttons[id].size()};
  return true;
}

class Joysticks : public ::testing::Test {
 protected:
  void SetUp() override { fake = FakeDevices(); }
  void TearDown() override {
    fake = FakeDevices();
    JoystickProbe(FakeRead);  // leave both absent for other tests
  }
  // A pad with four axes, one hat and six buttons as joystick 1.
  static void PlugPad() {
    fake.present[0] = true;
    fake.axes[0] = {0, 0, 0, 0};
    fake.hats[0] = {0};
    fake.buttons[0] = {0, 0, 0, 0, 0, 0};
  }
  static float Axis(int joystick, int axis) { return JoystickPosition(joystick, axis, FakeRead); }
  static bool Button(int joystick, int button) { return JoystickButton(joystick, button, FakeRead); }
};

TEST_F(Joysticks, AbsentAtStartUpEverythingReadsRestWithoutAsking) {
  JoystickProbe(FakeRead);
  EXPECT_EQ(JoystickRecord(0).axisCount, 0);
  EXPECT_EQ(JoystickRecord(1).buttonCount, 0);
  fake.reads = 0;
  PlugPad();  // plugged in later: never seen
  EXPECT_EQ(Axis(1, 1), 0.0f);
  EXPECT_FALSE(Button(1, 1));
  EXPECT_FALSE(Button(2, 5));
  EXPECT_EQ(fake.reads, 0);
}

TEST_F(Joysticks, CountsAreFixedAtStartUpWithHatsAsAxisPairs) {
  PlugPad();
  fake.present[1] = true;
  fake.axes[1] = {0, 0, 0};
  fake.buttons[1] = {0, 0, 0, 0};
  JoystickProbe(FakeRead);
  EXPECT_EQ(JoystickRecord(0).axisCount, 6);
  EXPECT_EQ(JoystickRecord(0).buttonCount, 6);
  EXPECT_EQ(JoystickRecord(1).axisCount, 3);
  EXPECT_EQ(JoystickRecord(1).buttonCount, 4);
  fake.buttons[1].push_back(1);  // a device that grows later keeps its old count
  fake.reads = 0;
  EXPECT_FALSE(Button(2, 5));
  EXPECT_EQ(fake.reads, 0);
}

TEST_F(Joysticks, EverySecondAxisIsTurnedSoUpIsPositive) {
  PlugPad();
  JoystickProbe(FakeRead);
  fake.axes[0] = {0.5f, 0.25f, -1.0f, 1.0f};  // stick right and down, right stick up-left
  EXPECT_EQ(Axis(1, 1), 0.5f);
  EXPECT_EQ(Axis(1, 2), -0.25f);
  EXPECT_EQ(Axis(1, 3), -1.0f);
  EXPECT_EQ(Axis(1, 4), -1.0f);
}

TEST_F(Joysticks, ACentredAxisIsPlainZero) {
  PlugPad();
  JoystickProbe(FakeRead);
  float y = Axis(1, 2);
  EXPECT_EQ(y, 0.0f);
  EXPECT_FALSE(std::signbit(y));
}

TEST_F(Joysticks, AHatMovesLikeAStickAfterTheAxes) {
  PlugPad();
  JoystickProbe(FakeRead);
  fake.hats[0] = {1 | 2};  // up and right
  EXPECT_EQ(Axis(1, 5), 1.0f);
  EXPECT_EQ(Axis(1, 6), 1.0f);
  fake.hats[0] = {4 | 8};  // down and left
  EXPECT_EQ(Axis(1, 5), -1.0f);
  EXPECT_EQ(Axis(1, 6), -1.0f);
  fake.hats[0] = {0};
  EXPECT_EQ(Axis(1, 5), 0.0f);
  EXPECT_EQ(Axis(1, 6), 0.0f);
}

TEST_F(Joysticks, AfterAnOddNumberOfAxesTheTurnFollowsThePosition) {
  // Three axes: the hat's x is the fourth axis and is turned, its y is not,
  // exactly as the numbering rule gives for any other device.
  fake.present[1] = true;
  fake.axes[1] = {0, 0, 0};
  fake.hats[1] = {2 | 4};  // right and down
  JoystickProbe(FakeRead);
  EXPECT_EQ(Axis(2, 4), -1.0f);
  EXPECT_EQ(Axis(2, 5), 1.0f);
}

TEST_F(Joysticks, ButtonsCountFromOne) {
  PlugPad();
  JoystickProbe(FakeRead);
  fake.buttons[0] = {0, 1, 0, 0, 0, 1};
  EXPECT_FALSE(Button(1, 1));
  EXPECT_TRUE(Button(1, 2));
  EXPECT_TRUE(Button(1, 6));
  EXPECT_EQ(JoystickRecord(0).buttonBuffer[1], 1);
}

TEST_F(Joysticks, NumbersOutsideTheTableReadZeroWithoutAsking) {
  PlugPad();
  fake.axes[0] = {1, 1, 1, 1};
  fake.buttons[0] = {1, 1, 1, 1, 1, 1};
  JoystickProbe(FakeRead);
  fake.reads = 0;
  for (int joystick : {0, 3, -1, 1000, -2147483647 - 1}) {
    EXPECT_EQ(Axis(joystick, 1), 0.0f) << joystick;
    EXPECT_FALSE(Button(joystick, 1)) << joystick;
  }
  for (int number : {0, -1, 7, 2147483647, -2147483647 - 1}) {
    EXPECT_EQ(Axis(1, number), 0.0f) << number;
    EXPECT_FALSE(Button(1, number)) << number;
  }
  EXPECT_EQ(Axis(2, 1), 0.0f);  // joystick 2 is absent
  EXPECT_EQ(fake.reads, 0);
  EXPECT_EQ(Axis(1, 1), 1.0f);
  EXPECT_EQ(fake.reads, 1);
}

TEST_F(Joysticks, UnpluggedLaterReadsCentredAndReleased) {
  PlugPad();
  fake.axes[0] = {1, 1, 1, 1};
  fake.buttons[0] = {1, 1, 1, 1, 1, 1};
  JoystickProbe(FakeRead);
  EXPECT_TRUE(Button(1, 3));
  fake.present[0] = false;
  EXPECT_EQ(Axis(1, 1), 0.0f);
  EXPECT_EQ(Axis(1, 2), 0.0f);
  EXPECT_FALSE(Button(1, 3));
}

TEST_F(Joysticks, ASmallerDeviceInTheSameSlotReadsCentredBeyondItsEnd) {
  PlugPad();
  JoystickProbe(FakeRead);
  fake.axes[0] = {1.0f};
  fake.hats[0].clear();
  fake.buttons[0] = {1};
  EXPECT_EQ(Axis(1, 1), 1.0f);
  EXPECT_EQ(Axis(1, 2), 0.0f);
  EXPECT_EQ(Axis(1, 6), 0.0f);
  EXPECT_TRUE(Button(1, 1));
  EXPECT_FALSE(Button(1, 2));
}

TEST(JoystickMapping, PureConversionsFillExactlyTheRequestedCount) {
  const float axes[] = {0.5f, 0.5f};
  const unsigned char hats[] = {8};
  const unsigned char buttons[] = {1, 0, 1};
  JoystickDevice device = {axes, 2, hats, 1, buttons, 3};
  float out[6] = {9, 9, 9, 9, 9, 9};
  JoystickAxesFromDevice(&device, out, 5);
  EXPECT_EQ(out[0], 0.5f);
  EXPECT_EQ(out[1], -0.5f);
  EXPECT_EQ(out[2], -1.0f);  // left
  EXPECT_EQ(out[3], 0.0f);
  EXPECT_EQ(out[4], 0.0f);   // beyond the device
  EXPECT_EQ(out[5], 9.0f);   // beyond the count: untouched
  uint8_t pressed[4] = {7, 7, 7, 7};
  JoystickButtonsFromDevice(&device, pressed, 3);
  EXPECT_EQ(pressed[0], 1);
  EXPECT_EQ(pressed[1], 0);
  EXPECT_EQ(pressed[2], 1);
  EXPECT_EQ(pressed[3], 7);
  JoystickAxesFromDevice(nullptr, out, 2);
  EXPECT_EQ(out[0], 0.0f);
  JoystickButtonsFromDevice(nullptr, pressed, 1);
  EXPECT_EQ(pressed[0], 0);
}

}  // namespace
