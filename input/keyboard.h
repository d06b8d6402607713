// Keyboard state as scripts poll it: which keys are held, which were pressed
// since the script last asked, and the first character typed in the frame.
// Written only by the two handlers while OsUpdate delivers events, and by
// KeyPressed and Inkey. Main thread only.
#pragma once

#include <cstdint>

#include "input/key_map.h"

// Key actions as the window library reports them.
constexpr int kKeyRelease = 0;
constexpr int kKeyPress = 1;
constexpr int kKeyRepeat = 2;  // the key is held and the system repeats it

struct KeyboardState {
  uint8_t keyState[kKeyCodeCount];  // per key code: bit 0 held, bit 1 pressed and not yet reported
  uint8_t pendingChar;              // 0 empty, else 32-126: the first character typed this frame
  bool repeatEnabled;               // repeated presses and their characters are passed on
  bool lastKeyRepeated;             // the latest key event was a repeat; its character follows it
};

KeyboardState& Keyboard();

// Start-up: keys released, nothing typed, repeat off.
void KeyboardClear();
// A window was opened: repeat is off again; the keys are kept.
void KeyboardWindowOpened();

// The key handler, with a script key code (kKeyNone and codes outside 0-325
// are ignored): a press stores 3, a release 0. While repeat is off a repeated
// press is dropped, so a held key gives one press, as scripts expect.
void KeyCallback(int code, int action);
// The character handler: keeps the first printable ASCII character of the
// frame. While repeat is off the character of a repeated key is dropped too.
void CharCallback(unsigned int codepoint);

bool KeyDown(int key);     // held; false for codes outside 0-325
bool KeyPressed(int key);  // pressed since last asked; clears the report
int Inkey();               // the pending character, emptied; 0 when none
void KeyRepeatOn();
void KeyRepeatOff();
