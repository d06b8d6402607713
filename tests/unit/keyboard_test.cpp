// The keyboard handlers fed with the event sequences the window library
// delivers, and what KeyDown, KeyPressed and Inkey make of them.
#include <cstring>

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include "input/input_events.h"
#include "input/keyboard.h"

namespace {

constexpr int kA = 'A';

class KeyboardEvents : public ::testing::Test {
 protected:
  void SetUp() override { ClearKeyState(); }
  void TearDown() override { ClearKeyState(); }

  // A held key as the window library reports it: press, then repeats, each
  // followed by the key's character.
  static void Hold(int code, char typed, int repeats) {
    KeyCallback(code, kKeyPress);
    CharCallback(typed);
    for (int i = 0; i < repeats; ++i) {
      KeyCallback(code, kKeyRepeat);
      CharCallback(typed);
    }
  }
};

TEST_F(KeyboardEvents, PressAndReleaseInOneFrameLeaveNoTrace) {
  KeyCallback(kA, kKeyPress);
  KeyCallback(kA, kKeyRelease);
  EXPECT_FALSE(KeyDown(kA));
  EXPECT_FALSE(KeyPressed(kA));
}

TEST_F(KeyboardEvents, KeyPressedReportsAPressOnceWhileKeyDownStays) {
  KeyCallback(kA, kKeyPress);
  EXPECT_TRUE(KeyPressed(kA));
  EXPECT_FALSE(KeyPressed(kA));
  EXPECT_TRUE(KeyDown(kA));
  EXPECT_TRUE(KeyDown(kA));
  EXPECT_EQ(Keyboard().keyState[kA], 1);
  KeyCallback(kA, kKeyRelease);
  EXPECT_FALSE(KeyDown(kA));
}

TEST_F(KeyboardEvents, AReleaseForgetsAnUnreportedPress) {
  KeyCallback(kA, kKeyPress);
  KeyCallback(kA, kKeyRelease);
  KeyCallback('B', kKeyPress);
  EXPECT_FALSE(KeyPressed(kA));
  EXPECT_TRUE(KeyPressed('B'));
}

TEST_F(KeyboardEvents, WithRepeatOffAHeldKeyGivesOnePressAndOneCharacter) {
  InputBeginFrame();
  Hold(kA, 'a', 3);
  EXPECT_TRUE(KeyPressed(kA));
  EXPECT_EQ(Inkey(), 'a');
  for (int frame = 0; frame < 3; ++frame) {
    InputBeginFrame();
    for (int i = 0; i < 2; ++i) {
      KeyCallback(kA, kKeyRepeat);
      CharCallback('a');
    }
    EXPECT_FALSE(KeyPressed(kA));
    EXPECT_TRUE(KeyDown(kA));
    EXPECT_EQ(Inkey(), 0);
  }
}

TEST_F(KeyboardEvents, WithRepeatOnEachRepeatIsAPressWithItsCharacter) {
  KeyRepeatOn();
  Hold(kA, 'a', 0);
  EXPECT_TRUE(KeyPressed(kA));
  for (int frame = 0; frame < 3; ++frame) {
    InputBeginFrame();
    KeyCallback(kA, kKeyRepeat);
    CharCallback('a');
    EXPECT_TRUE(KeyPressed(kA));
    EXPECT_FALSE(KeyPressed(kA));
    EXPECT_EQ(Inkey(), 'a');
  }
  KeyRepeatOff();
  InputBeginFrame();
  KeyCallback(kA, kKeyRepeat);
  CharCallback('a');
  EXPECT_FALSE(KeyPressed(kA));
  EXPECT_EQ(Inkey(), 0);
}

TEST_F(KeyboardEvents, OpeningAWindowTurnsRepeatOffButKeepsTheKeys) {
  KeyRepeatOn();
  KeyCallback(kA, kKeyPress);
  InputWindowOpened();
  EXPECT_TRUE(KeyDown(kA));
  EXPECT_TRUE(KeyPressed(kA));
  KeyCallback(kA, kKeyRepeat);
  EXPECT_FALSE(KeyPressed(kA));
}

TEST_F(KeyboardEvents, ARepeatOnlyHoldsBackItsOwnCharacter) {
  Hold(kA, 'a', 1);
  InputBeginFrame();
  KeyCallback(kA, kKeyRepeat);
  CharCallback('a');
  KeyCallback('B', kKeyPress);
  CharCallback('b');
  EXPECT_EQ(Inkey(), 'b');
  // A character that comes with no key event (an input method) is kept too.
  InputBeginFrame();
  KeyCallback('B', kKeyRelease);
  CharCallback('x');
  EXPECT_EQ(Inkey(), 'x');
}

TEST_F(KeyboardEvents, InkeyKeepsTheFirstCharacterOfTheFrame) {
  EXPECT_EQ(Inkey(), 0);
  CharCallback('h');
  CharCallback('i');
  EXPECT_EQ(Inkey(), 'h');
  EXPECT_EQ(Inkey(), 0);
  CharCallback('j');
  EXPECT_EQ(Inkey(), 'j');  // read at once, so the next one is taken
}

TEST_F(KeyboardEvents, ACharacterNotReadBeforeTheNextFrameIsLost) {
  CharCallback('q');
  InputBeginFrame();
  EXPECT_EQ(Inkey(), 0);
}

TEST_F(KeyboardEvents, InkeyGivesOnlyPrintableAscii) {
  for (unsigned int c : {0u, 8u, 9u, 13u, 27u, 31u, 127u, 128u, 160u, 0xE9u, 0x20ACu, 0x110000u}) {
    CharCallback(c);
    EXPECT_EQ(Inkey(), 0) << c;
  }
  CharCallback(' ');
  EXPECT_EQ(Inkey(), ' ');
  CharCallback('~');
  EXPECT_EQ(Inkey(), '~');
}

TEST_F(KeyboardEvents, CodesOutsideTheTableReadFalseAndWriteNothing) {
  uint8_t before[sizeof Keyboard().keyState];
  std::memcpy(before, Keyboard().keyState, sizeof before);
  for (int code : {kKeyNone, -2, kKeyCodeCount, 1000, -2147483647 - 1, 2147483647}) {
    KeyCallback(code, kKeyPress);
    EXPECT_FALSE(KeyDown(code)) << code;
    EXPECT_FALSE(KeyPressed(code)) << code;
  }
  EXPECT_EQ(std::memcmp(before, Keyboard().keyState, sizeof before), 0);
  KeyCallback(325, kKeyPress);  // KEY_MENU, the last code
  EXPECT_TRUE(KeyPressed(325));
  KeyCallback(0, kKeyPress);
  EXPECT_TRUE(KeyDown(0));
}

TEST_F(KeyboardEvents, WindowEventsArriveAsScriptCodes) {
  InputKeyEvent(GLFW_KEY_A, 38, GLFW_PRESS);  // no window: the US position
  EXPECT_TRUE(KeyDown('A'));
  EXPECT_FALSE(KeyDown('a'));
  InputKeyEvent(GLFW_KEY_ESCAPE, 9, GLFW_PRESS);
  EXPECT_TRUE(KeyPressed(257));
  InputKeyEvent(GLFW_KEY_KP_ENTER, 104, GLFW_PRESS);
  EXPECT_TRUE(KeyDown(318));
  InputKeyEvent(GLFW_KEY_PRINT_SCREEN, 107, GLFW_PRESS);  // no code: ignored
  InputKeyEvent(GLFW_KEY_UNKNOWN, 200, GLFW_PRESS);
  InputKeyEvent(GLFW_KEY_A, 38, GLFW_REPEAT);
  InputCharEvent('a');
  EXPECT_EQ(Inkey(), 0);
  InputKeyEvent(GLFW_KEY_A, 38, GLFW_RELEASE);
  EXPECT_FALSE(KeyDown('A'));
  InputCharEvent('z');
  InputBeginFrame();
  EXPECT_EQ(Inkey(), 0);
}

TEST_F(KeyboardEvents, ClearKeyStateReleasesEverything) {
  KeyRepeatOn();
  KeyCallback(kA, kKeyPress);
  KeyCallback(300, kKeyPress);
  CharCallback('a');
  ClearKeyState();
  EXPECT_FALSE(KeyDown(kA));
  EXPECT_FALSE(KeyPressed(300));
  EXPECT_EQ(Inkey(), 0);
  EXPECT_FALSE(Keyboard().repeatEnabled);
}

}  // namespace
