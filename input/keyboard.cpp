// The keyboard handlers and the script's view of them. The window library
// reports a held key as a stream of repeat events (each with its character)
// whatever the repeat setting; scripts were written for a library that sent
// them only when asked, so the filtering happens here.
#include "input/keyboard.h"

#include <cstring>

namespace {

bool IsKeyCode(int key) { return key >= 0 && key < kKeyCodeCount; }

}  // namespace

KeyboardState& Keyboard() {
  static KeyboardState state = {};
  return state;
}

void KeyCallback(int code, int action) {
  KeyboardState& k = Keyboard();
  k.lastKeyRepeated = action == kKeyRepeat;
  if (action == kKeyRepeat && !k.repeatEnabled) return;
  if (!IsKeyCode(code)) return;
  k.keyState[code] = action == kKeyRelease ? 0 : 3;  // a passed-on repeat counts as a new press
}

void CharCallback(unsigned int codepoint) {
  KeyboardState& k = Keyboard();
  if (k.lastKeyRepeated && !k.repeatEnabled) return;
  // Control characters are read as keys (Enter, Escape...), and characters
  // beyond ASCII never reach Inkey.
  if (k.pendingChar == 0 && codepoint >= 32 && codepoint <= 126) k.pendingChar = static_cast<uint8_t>(codepoint);
}

bool KeyDown(int key) {
  return IsKeyCode(key) && (Keyboard().keyState[key] & 1) != 0;
}

bool KeyPressed(int key) {
  if (!IsKeyCode(key)) return false;
  uint8_t& state = Keyboard().keyState[key];
  bool pressed = (state & 2) != 0;
  state &= static_cast<uint8_t>(~2);
  return pressed;
}

int Inkey() {
  KeyboardState& k = Keyboard();
  int c = k.pendingChar;
  k.pendingChar = 0;
  return c;
}

void KeyRepeatOn() { Keyboard().repeatEnabled = true; }
void KeyRepeatOff() { Keyboard().repeatEnabled = false; }

void KeyboardClear() {
  KeyboardState& k = Keyboard();
  std::memset(k.keyState, 0, sizeof k.keyState);
  k.pendingChar = 0;
  k.repeatEnabled = false;
  k.lastKeyRepeated = false;
}

void KeyboardWindowOpened() {
  Keyboard().repeatEnabled = false;
  Keyboard().lastKeyRepeated = false;
}
