// Start-up's platform services on Linux: the XDG profile folder rule; a
// terminal program needs no console set-up.
#include "host/platform.h"

#include <cstdlib>

void SettlePlatformProfilePath(int portableMode, char (&profilePath)[kProfilePathSize]) {
  SettleProfilePath(portableMode, [](const char* name) -> const char* { return std::getenv(name); }, profilePath);
}

void PlatformAttachConsole() {}
