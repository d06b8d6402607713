// What the window layer and start-up tell the input subsystem. The window
// layer passes GLFW 3's callback arguments on unchanged; input turns them
// into the key codes and the behaviour scripts have always seen.
#pragma once

// Start-up: every key released, no typed character pending.
void ClearKeyState();
// Start-up, once: probes joysticks 1 and 2 and fixes their axis and button counts.
void ProbeJoysticks();

// A window was opened: key repeat is off again, as after every opening.
void InputWindowOpened();
// OsUpdate, before polling: the character typed last frame is gone.
void InputBeginFrame();

// Development mode takes some keys before the game sees them: the filter
// gets the script key code and the action (0 release, 1 press, 2 repeat)
// and returns true for a key it took. Null (the default) for none.
void InputSetKeyFilter(bool (*filter)(int code, int action));

// GLFW 3 key callback arguments (key, scancode, action GLFW_PRESS/RELEASE/REPEAT).
void InputKeyEvent(int glfwKey, int scancode, int glfwAction);
// GLFW 3 character callback argument (a Unicode code point).
void InputCharEvent(unsigned int codepoint);
