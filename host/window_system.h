// The seam between the host and the window library: start, stop and the
// desktop mode. The window itself is the display's business; the window
// layer (video/window.cpp) implements these too.
#pragma once

// Initialises the window library; false when it cannot start (no display).
bool WindowSystemInit();
void WindowSystemTerminate();
// Size of the desktop video mode, or 0 x 0 when none is known.
void WindowSystemDesktopSize(int* width, int* height);
