// What the engine's process needs from the operating system at start-up,
// beside the window library: the platform's name for scripts, the profile
// folder, and (on Windows) a console for a GUI program.
#pragma once

#include <cstddef>

#include "host/options.h"

// The value of pelto.platform.
#if defined(_WIN32)
constexpr const char* kPlatformName = "Win32";
#else
constexpr const char* kPlatformName = "Linux";
#endif

// Fills profilePath by this system's rule ("." when portable).
void SettlePlatformProfilePath(int portableMode, char (&profilePath)[kProfilePathSize]);

// Windows: the engine is a GUI program, which gets no console of its own.
// Started from one, it attaches to it so that print and the error lines
// still show there; standard streams that already lead somewhere (a pipe or
// a file, as in tests) are left as they are. Nothing on other systems.
void PlatformAttachConsole();
