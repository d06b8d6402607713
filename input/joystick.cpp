// Joystick records and the conventions scripts were written for.
//
// Axis directions: GLFW 3 reports y axes with down positive. Scripts were
// written against GLFW 2, which turned every second axis round so that up
// and forward read positive: counting axes from 1, axes 2, 4, 6... are
// negated, as GLFW 2 on Linux did with every odd-indexed axis of the
// joystick device (on Windows it turned the Y axis round in the same way).
//
// Hats: GLFW 2 saw a d-pad the way the Linux joystick device shows it, as
// two more axes (x, then y) after the others, and had no hat buttons. GLFW 3
// keeps hats apart and appends four buttons per hat; here each hat becomes
// an axis pair after the axes again and the hat buttons are left out, so a
// d-pad moves a game written for sticks and button numbers stay the device's.
#include "input/joystick.h"

namespace {

Joystick joysticks[kJoystickCount];

// A hat as the two axes the device driver gives it: x right positive,
// y down positive (the raw direction, turned round below like any y axis).
float HatAxis(unsigned char hat, bool vertical) {
  unsigned char plus = vertical ? 4 : 2;    // down : right
  unsigned char minus = vertical ? 1 : 8;   // up : left
  return static_cast<float>(((hat & plus) ? 1 : 0) - ((hat & minus) ? 1 : 0));
}

int ScriptAxisCount(const JoystickDevice& device) {
  return (device.axes ? device.axisCount : 0) + 2 * (device.hats ? device.hatCount : 0);
}

bool ValidJoystick(int joystick) { return joystick >= 1 && joystick <= kJoystickCount; }

}  // namespace

Joystick& JoystickRecord(int index) { return joysticks[index]; }

void JoystickSetUp(Joystick& joystick, const JoystickDevice* device) {
  joystick.axisCount = device ? ScriptAxisCount(*device) : 0;
  joystick.buttonCount = device && device->buttons && device->buttonCount > 0 ? device->buttonCount : 0;
  joystick.axisBuffer.assign(joystick.axisCount, 0.0f);
  joystick.buttonBuffer.assign(joystick.buttonCount, 0);
}

void JoystickAxesFromDevice(const JoystickDevice* device, float* out, int count) {
  for (int i = 0; i < count; ++i) out[i] = 0.0f;
  if (!device) return;
  int axes = device->axes ? device->axisCount : 0;
  int hats = device->hats ? device->hatCount : 0;
  for (int i = 0; i < count; ++i) {
    float value;
    if (i < axes) {
      value = device->axes[i];
    } else if (i < axes + 2 * hats) {
      int h = i - axes;
      value = HatAxis(device->hats[h / 2], (h & 1) != 0);
    } else {
      break;  // a device now smaller than at start-up: the rest reads centred
    }
    // Second, fourth... axis turned round; 0 - v keeps a centred axis at +0.
    out[i] = (i & 1) ? 0.0f - value : value;
  }
}

void JoystickButtonsFromDevice(const JoystickDevice* device, uint8_t* out, int count) {
  for (int i = 0; i < count; ++i) out[i] = 0;
  if (!device || !device->buttons) return;
  int n = device->buttonCount < count ? device->buttonCount : count;
  for (int i = 0; i < n; ++i) out[i] = device->buttons[i] ? 1 : 0;
}

void JoystickProbe(JoystickReader read) {
  for (int id = 0; id < kJoystickCount; ++id) {
    JoystickDevice device = {};
    JoystickSetUp(joysticks[id], read(id, &device) ? &device : nullptr);
  }
}

float JoystickPosition(int joystick, int axis, JoystickReader read) {
  if (!ValidJoystick(joystick)) return 0.0f;
  Joystick& j = joysticks[joystick - 1];
  if (axis < 1 || axis > j.axisCount) return 0.0f;
  JoystickDevice device = {};
  JoystickAxesFromDevice(read(joystick - 1, &device) ? &device : nullptr, j.axisBuffer.data(), j.axisCount);
  return j.axisBuffer[axis - 1];
}

bool JoystickButton(int joystick, int button, JoystickReader read) {
  if (!ValidJoystick(joystick)) return false;
  Joystick& j = joysticks[joystick - 1];
  if (button < 1 || button > j.buttonCount) return false;
  JoystickDevice device = {};
  JoystickButtonsFromDevice(read(joystick - 1, &device) ? &device : nullptr, j.buttonBuffer.data(), j.buttonCount);
  return j.buttonBuffer[button - 1] != 0;
}
