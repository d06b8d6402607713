// Start-up's side of the host: what main() and the window callbacks call.
#pragma once

#include "host/options.h"
#include "video/display_state.h"

// Options, profile path, window library and desktop size. False when the
// window library cannot start; the message has been shown.
bool HostStartup(int argc, char** argv);

// The window-close handler's only effect: OsQuit reports true from now on.
void HostRequestClose();
