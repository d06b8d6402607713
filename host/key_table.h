// The KEY_* names scripts find in the `pelto` table, with the key codes the
// keyboard functions take: printable keys are their upper-case character,
// every other key a code from 257 to 325.
#pragma once

struct KeyName {
  const char* name;  // nullptr ends the table
  int value;
};

extern const KeyName kKeyTable[];
constexpr int kKeyNameCount = 117;
