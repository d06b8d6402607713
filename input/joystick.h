// Two joysticks as scripts have always seen them: axes from -1 to 1 with up
// and right positive, buttons numbered from 1, counts fixed at start-up.
// Every query reads the device at the moment of the call. Main thread only.
#pragma once

#include <cstdint>
#include <vector>

constexpr int kJoystickCount = 2;

// One reading of a device, pointing into the window library's own arrays.
struct JoystickDevice {
  const float* axes;             // -1..1 as the library reports them (down positive)
  int axisCount;
  const unsigned char* hats;     // per hat a mask: 1 up, 2 right, 4 down, 8 left
  int hatCount;
  const unsigned char* buttons;  // plain buttons only (no buttons made from hats)
  int buttonCount;
};

// Reads joystick id (0 or 1) now; false when it is not connected.
using JoystickReader = bool (*)(int id, JoystickDevice* device);
bool JoystickDeviceRead(int id, JoystickDevice* device);  // the window-library adapter

struct Joystick {
  int axisCount;                      // axes scripts see; 0 when absent at start-up
  int buttonCount;                    // buttons scripts see; 0 when absent
  std::vector<float> axisBuffer;      // axisCount values, refilled by each position query
  std::vector<uint8_t> buttonBuffer;  // buttonCount values, 1 held, refilled by each button query
};

Joystick& JoystickRecord(int index);  // index 0 or 1

// Fixes a record's counts from a device reading, or to zero for none.
void JoystickSetUp(Joystick& joystick, const JoystickDevice* device);
// The axes scripts see, from a reading (null: unplugged, all centred);
// `count` values are written, missing ones 0.
void JoystickAxesFromDevice(const JoystickDevice* device, float* out, int count);
// The buttons scripts see, 1 held and 0 released; missing ones 0.
void JoystickButtonsFromDevice(const JoystickDevice* device, uint8_t* out, int count);

// Probes both joysticks and fixes their counts for the rest of the run.
void JoystickProbe(JoystickReader read = JoystickDeviceRead);
// Joystick 1 or 2, axis and button from 1; outside the counts: 0 and false,
// and the device is not read.
float JoystickPosition(int joystick, int axis, JoystickReader read = JoystickDeviceRead);
bool JoystickButton(int joystick, int button, JoystickReader read = JoystickDeviceRead);
