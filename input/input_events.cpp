// What the window layer and start-up tell the input subsystem, passed on to
// the keyboard, the mouse and the joysticks.
#include "input/input_events.h"

#include "input/joystick.h"
#include "input/key_map.h"
#include "input/keyboard.h"
#include "input/mouse.h"

void ClearKeyState() { KeyboardClear(); }

// Start-up, once: a joystick plugged in later is never seen.
void ProbeJoysticks() { JoystickProbe(); }

// Every opening of the window turns key repeat off again, as it always did;
// held keys and their unreported presses are kept.
void InputWindowOpened() {
  KeyboardWindowOpened();
  MouseForgetFrame();
}

void InputBeginFrame() {
  Keyboard().pendingChar = 0;
  MouseForgetFrame();
}

namespace {
bool (*keyFilter)(int code, int action) = nullptr;
}  // namespace

void InputSetKeyFilter(bool (*filter)(int code, int action)) { keyFilter = filter; }

void InputKeyEvent(int glfwKey, int scancode, int glfwAction) {
  int code = KeyCodeFromGlfw(glfwKey, KeyLayoutName(glfwKey, scancode));
  if (keyFilter && keyFilter(code, glfwAction)) return;
  KeyCallback(code, glfwAction);
}

void InputCharEvent(unsigned int codepoint) { CharCallback(codepoint); }
