// From the window library's key numbers to the key codes scripts use: a
// printable key is its upper-case ISO 8859-1 character, every other key a
// code from 257 (KEY_ESC) to 325 (KEY_MENU). The window library numbers keys
// by their US position; scripts expect the character printed on the key.
#pragma once

constexpr int kKeyCodeCount = 326;  // codes 0..325; KEY_MENU is the highest
constexpr int kKeyNone = -1;        // the key has no code: its events are ignored

// True for the keys whose code follows the user's keyboard layout: the main
// block's printable keys (letters, digits, punctuation, the non-US keys).
// Space and the keypad keep fixed codes.
bool KeyFollowsLayout(int glfwKey);

// The character a layout name stands for: the name (UTF-8) must be exactly one
// character; it is upper-cased within ISO 8859-1 and accepted when it lies in
// 32-126 or 160-255. Otherwise kKeyNone. A null name gives kKeyNone.
int KeyCodeFromLayoutName(const char* utf8Name);

// The script key code of a window-library key. layoutName is what the user's
// layout prints on the key (null when unknown); it is only looked at for keys
// that follow the layout, which fall back to their US character without it.
int KeyCodeFromGlfw(int glfwKey, const char* layoutName);

// The thin adapter over the window library: the layout's name for the key,
// or null (no window library, not a printable key, no name).
const char* KeyLayoutName(int glfwKey, int scancode);
