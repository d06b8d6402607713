#include "host/options.h"

#include <cstdio>
#include <cstring>

#include "video/display_state.h"

void ParseOptions(int argc, char** argv, StartupOptions* options, DisplayState* display) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--fullscreen") == 0) {
      display->fullscreen = 1;
    } else if (std::strcmp(arg, "--windowed") == 0) {
      display->forceWindowed = 1;
    } else if (std::strcmp(arg, "--vsync") == 0) {
      display->vsyncEnabled = 1;
    } else if (std::strcmp(arg, "--novsync") == 0) {
      display->vsyncEnabled = 0;
    } else if (std::strcmp(arg, "--portable") == 0) {
      options->portableMode = 1;
    } else if (std::strcmp(arg, "--nocrt") == 0) {
      display->crtEnabled = 0;
    } else if (std::strcmp(arg, "--16bpp") == 0) {
      display->redBits = 5, display->greenBits = 6, display->blueBits = 5;
    } else if (std::strcmp(arg, "--32bpp") == 0) {
      display->redBits = 8, display->greenBits = 8, display->blueBits = 8;
    } else if (std::strcmp(arg, "--double") == 0) {
      display->pixelScale = 2;
    } else if (std::strcmp(arg, "--datapath") == 0) {
      // The path is taken but not consumed: the next argument is still
      // examined as an option. A trailing "--datapath" changes nothing.
      if (i + 1 >= argc) break;
      options->dataPath = argv[i + 1];
    }
  }
}

namespace {

// An unset variable and an empty one both mean "not given".
const char* NonEmpty(const char* value) { return (value && value[0]) ? value : nullptr; }

}  // namespace

void SettleProfilePath(int portableMode, const char* (*lookup)(const char* name),
                       char (&profilePath)[kProfilePathSize]) {
  const char* chosen = ".";
  char fromHome[kProfilePathSize * 2];
  if (!portableMode) {
    if (const char* xdg = NonEmpty(lookup("XDG_DATA_HOME"))) {
      chosen = xdg;
    } else if (const char* home = NonEmpty(lookup("HOME"))) {
      std::snprintf(fromHome, sizeof fromHome, "%s/.local/share", home);
      chosen = fromHome;
    } else if (const char* appdata = NonEmpty(lookup("APPDATA"))) {
      chosen = appdata;
    }
  }
  // Cut to fit, always ending with a zero byte; no separator is added.
  std::snprintf(profilePath, kProfilePathSize, "%s", chosen);
}

void SettleWindowsProfilePath(int portableMode, bool (*shellFolder)(char* out, size_t size),
                              const char* (*lookup)(const char* name), char (&profilePath)[kProfilePathSize]) {
  const char* chosen = ".";
  char fromShell[kProfilePathSize] = "";
  if (!portableMode) {
    if (shellFolder(fromShell, sizeof fromShell)) {
      chosen = fromShell;
    } else if (const char* appdata = NonEmpty(lookup("APPDATA"))) {
      // An empty value would make "/save" of "" + "/save" the drive's root.
      chosen = appdata;
    }
  }
  std::snprintf(profilePath, kProfilePathSize, "%s", chosen);
}
