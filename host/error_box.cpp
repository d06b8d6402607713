// ShowErrorBox: every message the engine shows to the user goes through here.
#include <SDL2/SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/host.h"

namespace {

bool DialogWanted() {
  const char* off = std::getenv("PELTO_NO_DIALOG");
  if (off && std::strcmp(off, "1") == 0) return false;
  // Without a display there is nobody to click the box away; stderr must do.
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 && x11[0]) || (wayland && wayland[0]);
}

}  // namespace

void ShowErrorBox(const char* message) {
  std::fprintf(stderr, "Error: %s\n", message);
  std::fflush(stderr);
  if (!DialogWanted()) return;
  // Modal, no owner window; returns when the user closes it. A display that
  // cannot be reached makes this fail at once, which is fine: stderr has it.
  SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "Error", message, nullptr);
}
