// Mouse position and buttons through the window layer, translated with the
// display's scale and centring offsets.
#include "input/mouse.h"

#include <cmath>

#include "video/display_state.h"
#include "video/window.h"

int MouseToVirtual(double windowPosition, int offset, int pixelScale, int displaySize) {
  // pixelScale is 0 while no display is open: there is no picture to point
  // at, and dividing by it is not an option, so the corner is reported.
  if (pixelScale <= 0 || displaySize < 1 || !std::isfinite(windowPosition)) return 0;
  // The window pixel under the pointer; far outside the window it is simply clamped.
  double pixel = std::floor(windowPosition);
  if (pixel < -1e9) pixel = -1e9;
  if (pixel > 1e9) pixel = 1e9;
  long long v = (static_cast<long long>(pixel) - offset) / pixelScale;  // C++ division cuts toward zero
  if (v < 0) return 0;
  if (v >= displaySize) return displaySize - 1;
  return static_cast<int>(v);
}

namespace {

// The pointer as it stood at the frame's first query. The window library
// asks the X server anew on every call, so without this MouseX and MouseY
// could come from two different moments of a moving pointer.
struct MouseFrame {
  bool taken;    // position read since the last OsUpdate
  bool inWindow; // a window answered; otherwise both read 0
  double x, y;   // window pixels, origin at the top-left
} frame = {};

// offsetY counts from the window's bottom edge while the pointer's y counts
// from the top; the picture is centred with the same gap at both edges, so
// the gap applies as it is (when the spare height is odd the top gap is one
// window pixel larger, which moves the answer by at most that pixel).
int MouseAxis(bool vertical) {
  if (!frame.taken) {
    frame.inWindow = WindowCursorPos(&frame.x, &frame.y);
    frame.taken = true;
  }
  if (!frame.inWindow) return 0;
  const DisplayState& d = Display();
  return vertical ? MouseToVirtual(frame.y, d.offsetY, d.pixelScale, d.displayHeight)
                  : MouseToVirtual(frame.x, d.offsetX, d.pixelScale, d.displayWidth);
}

}  // namespace

void MouseForgetFrame() { frame.taken = false; }

int MouseX() { return MouseAxis(false); }
int MouseY() { return MouseAxis(true); }
bool MouseLMB() { return WindowMouseButtonDown(0); }
bool MouseRMB() { return WindowMouseButtonDown(1); }
void MouseOn() { WindowSetCursorVisible(true); }

// In a window the pointer must stay reachable for the rest of the desktop.
void MouseOff() {
  if (Display().fullscreen) WindowSetCursorVisible(false);
}
