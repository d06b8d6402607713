#include "host/window_system.h"

#include <GLFW/glfw3.h>

namespace {
bool initialised = false;
}

bool WindowSystemInit() {
  initialised = glfwInit() == GLFW_TRUE;
  return initialised;
}

void WindowSystemTerminate() {
  if (initialised) glfwTerminate();
  initialised = false;
}

void WindowSystemDesktopSize(int* width, int* height) {
  *width = 0;
  *height = 0;
  GLFWmonitor* monitor = initialised ? glfwGetPrimaryMonitor() : nullptr;
  const GLFWvidmode* mode = monitor ? glfwGetVideoMode(monitor) : nullptr;
  if (mode) {
    *width = mode->width;
    *height = mode->height;
  }
}
