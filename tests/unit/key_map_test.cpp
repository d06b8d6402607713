// The key table: every window-library key lands on the code scripts know it
// by, printable keys follow the user's layout, and nothing else gets a code.
#include <map>
#include <string>

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include "host/key_table.h"
#include "input/key_map.h"

namespace {

int ScriptCode(const char* name) {
  for (const KeyName* k = kKeyTable; k->name; ++k) {
    if (std::string(k->name) == name) return k->value;
  }
  ADD_FAILURE() << name << " is not in the key table";
  return kKeyNone;
}

TEST(KeyMap, NonPrintableKeysGetTheirScriptCodes) {
  const std::map<int, const char*> keys = {
      {GLFW_KEY_ESCAPE, "KEY_ESC"}, {GLFW_KEY_F1, "KEY_F1"}, {GLFW_KEY_F12, "KEY_F12"},
      {GLFW_KEY_F25, "KEY_F25"}, {GLFW_KEY_UP, "KEY_UP"}, {GLFW_KEY_DOWN, "KEY_DOWN"},
      {GLFW_KEY_LEFT, "KEY_LEFT"}, {GLFW_KEY_RIGHT, "KEY_RIGHT"},
      {GLFW_KEY_LEFT_SHIFT, "KEY_LSHIFT"}, {GLFW_KEY_RIGHT_SHIFT, "KEY_RSHIFT"},
      {GLFW_KEY_LEFT_CONTROL, "KEY_LCTRL"}, {GLFW_KEY_RIGHT_CONTROL, "KEY_RCTRL"},
      {GLFW_KEY_LEFT_ALT, "KEY_LALT"}, {GLFW_KEY_RIGHT_ALT, "KEY_RALT"},
      {GLFW_KEY_TAB, "KEY_TAB"}, {GLFW_KEY_ENTER, "KEY_ENTER"},
      {GLFW_KEY_BACKSPACE, "KEY_BACKSPACE"}, {GLFW_KEY_INSERT, "KEY_INSERT"},
      {GLFW_KEY_DELETE, "KEY_DELETE"}, {GLFW_KEY_PAGE_UP, "KEY_PAGEUP"},
      {GLFW_KEY_PAGE_DOWN, "KEY_PAGEDOWN"}, {GLFW_KEY_HOME, "KEY_HOME"}, {GLFW_KEY_END, "KEY_END"},
      {GLFW_KEY_KP_0, "KEY_KP_0"}, {GLFW_KEY_KP_5, "KEY_KP_5"}, {GLFW_KEY_KP_9, "KEY_KP_9"},
      {GLFW_KEY_KP_DIVIDE, "KEY_KP_SLASH"}, {GLFW_KEY_KP_MULTIPLY, "KEY_KP_ASTERISK"},
      {GLFW_KEY_KP_SUBTRACT, "KEY_KP_MINUS"}, {GLFW_KEY_KP_ADD, "KEY_KP_PLUS"},
      {GLFW_KEY_KP_DECIMAL, "KEY_KP_PERIOD"}, {GLFW_KEY_KP_EQUAL, "KEY_KP_EQUAL"},
      {GLFW_KEY_KP_ENTER, "KEY_KP_ENTER"}, {GLFW_KEY_NUM_LOCK, "KEY_KP_NUM_LOCK"},
      {GLFW_KEY_CAPS_LOCK, "KEY_CAPS_LOCK"}, {GLFW_KEY_SCROLL_LOCK, "KEY_SCROLL_LOCK"},
      {GLFW_KEY_PAUSE, "KEY_PAUSE"}, {GLFW_KEY_LEFT_SUPER, "KEY_LSUPER"},
      {GLFW_KEY_RIGHT_SUPER, "KEY_RSUPER"}, {GLFW_KEY_MENU, "KEY_MENU"},
  };
  for (const auto& [glfwKey, name] : keys) {
    EXPECT_EQ(KeyCodeFromGlfw(glfwKey, nullptr), ScriptCode(name)) << name;
    EXPECT_EQ(KeyCodeFromGlfw(glfwKey, "q"), ScriptCode(name)) << name << " must ignore layout names";
  }
}

TEST(KeyMap, WithoutLayoutNamesPrintableKeysAreTheirUsCharacters) {
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_A, nullptr), 'A');
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_Z, nullptr), 'Z');
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_0, nullptr), '0');
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_SPACE, nullptr), ' ');
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_GRAVE_ACCENT, nullptr), '`');
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_APOSTROPHE, nullptr), '\'');
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_BACKSLASH, nullptr), '\\');
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_SLASH, nullptr), '/');
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_SEMICOLON, nullptr), ';');
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_EQUAL, nullptr), '=');
}

TEST(KeyMap, EveryScriptKeyIsReachableOnAUsKeyboard) {
  std::map<int, int> reached;
  for (int key = GLFW_KEY_UNKNOWN; key <= GLFW_KEY_LAST; ++key) {
    int code = KeyCodeFromGlfw(key, nullptr);
    if (code != kKeyNone) ++reached[code];
  }
  int names = 0;
  for (const KeyName* k = kKeyTable; k->name; ++k, ++names) {
    EXPECT_EQ(reached[k->value], 1) << k->name;
  }
  EXPECT_EQ(names, 117);
  EXPECT_EQ(reached.size(), 117u) << "a key got a code that no KEY_ name has";
}

TEST(KeyMap, TheLayoutsCharacterWinsUpperCased) {
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_Y, "z"), 'Z');                // German: Z where US has Y
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_Q, "a"), 'A');                // French: A where US has Q
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_SEMICOLON, "\xC3\xB6"), 0xD6);  // German o umlaut
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_2, "\xC3\xA9"), 0xC9);        // French e acute on the 2 key
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_1, "&"), '&');
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_WORLD_1, "<"), '<');
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_GRAVE_ACCENT, "\xC2\xA7"), 0xA7);  // section sign
}

TEST(KeyMap, CharactersWithoutCapitalsInTheSetStayAsTheyAre) {
  EXPECT_EQ(KeyCodeFromLayoutName("\xC3\x9F"), 0xDF);  // sharp s
  EXPECT_EQ(KeyCodeFromLayoutName("\xC3\xBF"), 0xFF);  // y diaeresis
  EXPECT_EQ(KeyCodeFromLayoutName("\xC2\xB5"), 0xB5);  // micro sign
  EXPECT_EQ(KeyCodeFromLayoutName("\xC3\xB7"), 0xF7);  // division sign is not a small letter
  EXPECT_EQ(KeyCodeFromLayoutName("\xC3\xA0"), 0xC0);  // a grave
  EXPECT_EQ(KeyCodeFromLayoutName("\xC3\xBE"), 0xDE);  // thorn
}

TEST(KeyMap, NamesOutsideTheSetFallBackToTheUsPosition) {
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_A, "\xD1\x84"), 'A');  // Cyrillic ef
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_A, "ab"), 'A');
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_A, ""), 'A');
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_A, "\x7F"), 'A');
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_A, "\x01"), 'A');
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_A, "\xC2\x85"), 'A');   // a C1 control
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_A, "\xC1\x81"), 'A');   // overlong A
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_A, "\xC3("), 'A');      // broken sequence
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_A, "\xC3"), 'A');       // cut short
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_A, "\xE2\x82\xAC"), 'A');  // euro sign
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_WORLD_2, "\xE2\x82\xAC"), kKeyNone);  // no US position at all
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_WORLD_1, nullptr), kKeyNone);
}

TEST(KeyMap, OnlyTheMainBlocksPrintableKeysFollowTheLayout) {
  EXPECT_TRUE(KeyFollowsLayout(GLFW_KEY_A));
  EXPECT_TRUE(KeyFollowsLayout(GLFW_KEY_5));
  EXPECT_TRUE(KeyFollowsLayout(GLFW_KEY_WORLD_2));
  EXPECT_FALSE(KeyFollowsLayout(GLFW_KEY_SPACE));
  EXPECT_FALSE(KeyFollowsLayout(GLFW_KEY_KP_1));
  EXPECT_FALSE(KeyFollowsLayout(GLFW_KEY_KP_ADD));
  EXPECT_FALSE(KeyFollowsLayout(GLFW_KEY_ESCAPE));
  EXPECT_FALSE(KeyFollowsLayout(GLFW_KEY_UNKNOWN));
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_KP_1, "1"), ScriptCode("KEY_KP_1"));
  EXPECT_EQ(KeyCodeFromGlfw(GLFW_KEY_SPACE, "x"), ' ');
}

TEST(KeyMap, KeysWithoutACodeAreIgnored) {
  for (int key : {GLFW_KEY_UNKNOWN, GLFW_KEY_PRINT_SCREEN, GLFW_KEY_LAST + 1, -5, 0, 31, 127, 1000}) {
    EXPECT_EQ(KeyCodeFromGlfw(key, nullptr), kKeyNone) << key;
    EXPECT_EQ(KeyCodeFromGlfw(key, "a"), kKeyNone) << key;
  }
}

TEST(KeyMap, NoKeyReportsALowerCaseLetter) {
  for (int key = GLFW_KEY_UNKNOWN; key <= GLFW_KEY_LAST; ++key) {
    for (const char* name : {(const char*)nullptr, "a", "z", "\xC3\xA9"}) {
      int code = KeyCodeFromGlfw(key, name);
      EXPECT_FALSE(code >= 'a' && code <= 'z') << key;
      EXPECT_FALSE(code >= 0xE0 && code <= 0xFE && code != 0xF7) << key;
    }
  }
}

}  // namespace
