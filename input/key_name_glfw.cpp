// The one place the keyboard asks the window library for the layout's name
// of a key. Only keys that follow the layout are asked about, so the library
// is never given a key it would complain about.
#include <GLFW/glfw3.h>

#include "input/key_map.h"
#include "input/keyboard.h"

// The keyboard takes the library's actions unchanged.
static_assert(kKeyRelease == GLFW_RELEASE && kKeyPress == GLFW_PRESS && kKeyRepeat == GLFW_REPEAT,
              "key actions");

const char* KeyLayoutName(int glfwKey, int scancode) {
  if (!KeyFollowsLayout(glfwKey)) return nullptr;
  return glfwGetKeyName(glfwKey, scancode);
}
