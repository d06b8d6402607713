// The frame loop's services. The engine has no loop of its own: the script
// calls OsUpdate once a frame, and only then do input states change.
#include "host/frame.h"

#include <cmath>

#include "host/host.h"
#include "input/input_events.h"
#include "video/display_state.h"
#include "video/window.h"

void OsUpdate() {
  // A character typed last frame and not read since is gone.
  InputBeginFrame();
  WindowPollEvents();
}

bool OsQuit() { return HostCloseRequested() != 0; }

uint32_t TicksFromSeconds(double seconds) {
  double ms = seconds * static_cast<double>(1000.0f);
  // The clock never runs backwards or near 2^63 ms; anything else reads 0.
  if (!(ms >= 0.0) || ms >= 9.2e18) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(ms)));
}

uint32_t OsTicks() { return TicksFromSeconds(WindowTime()); }

void OsVSync(bool on) {
  Display().vsyncEnabled = on ? 1 : 0;
  WindowSetSwapInterval(on ? 1 : 0);
}
