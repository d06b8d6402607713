// The one table between the window library's key numbers and the script key
// codes. The window library's numbers are written out here (its header stays
// in the adapters); the unit tests check every row against that header.
#include "input/key_map.h"

namespace {

// A run of consecutive window-library keys with consecutive script codes.
struct KeyRun {
  int first, last;   // window-library key numbers, inclusive
  int code;          // script code of `first`; kKeyNone: no code of its own
  bool followsLayout;  // the layout's character wins over `code`
};

const KeyRun kKeyRuns[] = {
    // Printable keys: the window library numbers them by their US character.
    {32, 32, 32, false},    // space: the same on every layout
    {39, 39, 39, true},     // '
    {44, 57, 44, true},     // , - . / and the digits
    {59, 59, 59, true},     // ;
    {61, 61, 61, true},     // =
    {65, 93, 65, true},     // letters, [ \ ]
    {96, 96, 96, true},     // `
    {161, 162, kKeyNone, true},  // the two non-US keys: only their layout names them
    // Everything else has a fixed code from 257 up.
    {256, 256, 257, false},  // escape
    {257, 257, 294, false},  // enter
    {258, 258, 293, false},  // tab
    {259, 259, 295, false},  // backspace
    {260, 260, 296, false},  // insert
    {261, 261, 297, false},  // delete
    {262, 262, 286, false},  // right
    {263, 263, 285, false},  // left
    {264, 264, 284, false},  // down
    {265, 265, 283, false},  // up
    {266, 266, 298, false},  // page up
    {267, 267, 299, false},  // page down
    {268, 268, 300, false},  // home
    {269, 269, 301, false},  // end
    {280, 280, 320, false},  // caps lock
    {281, 281, 321, false},  // scroll lock
    {282, 282, 319, false},  // num lock
    {284, 284, 322, false},  // pause (print screen, 283, has no code)
    {290, 314, 258, false},  // F1..F25
    {320, 329, 302, false},  // keypad 0..9
    {330, 330, 316, false},  // keypad decimal
    {331, 331, 312, false},  // keypad divide
    {332, 332, 313, false},  // keypad multiply
    {333, 333, 314, false},  // keypad subtract
    {334, 334, 315, false},  // keypad add
    {335, 335, 318, false},  // keypad enter
    {336, 336, 317, false},  // keypad equal
    {340, 340, 287, false},  // left shift
    {341, 341, 289, false},  // left control
    {342, 342, 291, false},  // left alt
    {343, 343, 323, false},  // left super
    {344, 344, 288, false},  // right shift
    {345, 345, 290, false},  // right control
    {346, 346, 292, false},  // right alt
    {347, 347, 324, false},  // right super
    {348, 348, 325, false},  // menu
};

const KeyRun* FindRun(int glfwKey) {
  for (const KeyRun& run : kKeyRuns) {
    if (glfwKey >= run.first && glfwKey <= run.last) return &run;
  }
  return nullptr;
}

// ISO 8859-1 upper case: a-z and the accented small letters 224-254 (except
// the division sign 247). Sharp s and y with diaeresis have no capital
// within the set and stay as they are.
int Latin1Upper(int c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c >= 224 && c <= 254 && c != 247) return c - 32;
  return c;
}

}  // namespace

bool KeyFollowsLayout(int glfwKey) {
  const KeyRun* run = FindRun(glfwKey);
  return run && run->followsLayout;
}

int KeyCodeFromLayoutName(const char* utf8Name) {
  if (!utf8Name) return kKeyNone;
  const unsigned char* s = reinterpret_cast<const unsigned char*>(utf8Name);
  int c;
  if (s[0] != 0 && s[0] < 0x80 && s[1] == 0) {
    c = s[0];
  } else if ((s[0] == 0xC2 || s[0] == 0xC3) && (s[1] & 0xC0) == 0x80 && s[2] == 0) {
    c = ((s[0] & 0x1F) << 6) | (s[1] & 0x3F);  // two bytes reach exactly 128-255 here
  } else {
    return kKeyNone;  // empty, several characters, or beyond ISO 8859-1
  }
  c = Latin1Upper(c);
  if ((c >= 32 && c <= 126) || (c >= 160 && c <= 255)) return c;
  return kKeyNone;
}

int KeyCodeFromGlfw(int glfwKey, const char* layoutName) {
  const KeyRun* run = FindRun(glfwKey);
  if (!run) return kKeyNone;  // print screen, unknown keys and the like
  if (run->followsLayout) {
    int fromLayout = KeyCodeFromLayoutName(layoutName);
    if (fromLayout != kKeyNone) return fromLayout;
  }
  return run->code == kKeyNone ? kKeyNone : run->code + (glfwKey - run->first);
}
