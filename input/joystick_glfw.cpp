// The joystick adapter: one reading of a device through the window library.
#include <GLFW/glfw3.h>

#include "input/joystick.h"

bool JoystickDeviceRead(int id, JoystickDevice* device) {
  *device = {};
  if (glfwJoystickPresent(id) != GLFW_TRUE) return false;
  int axes = 0, hats = 0, buttons = 0;
  device->axes = glfwGetJoystickAxes(id, &axes);
  device->hats = glfwGetJoystickHats(id, &hats);
  device->buttons = glfwGetJoystickButtons(id, &buttons);
  device->axisCount = device->axes ? axes : 0;
  device->hatCount = device->hats ? hats : 0;
  // The library appends four buttons per hat to the list (its default, which
  // the engine keeps); they are not buttons of the device and are left out.
  int plain = device->buttons ? buttons - 4 * device->hatCount : 0;
  device->buttonCount = plain > 0 ? plain : 0;
  return true;
}
