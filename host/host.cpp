// Process-wide host state and the two ways the engine reports failure.
#include "host/host.h"

#include <cstdio>
#include <cstdlib>

#include "audio/audio_stream.h"
#include "host/dev_mode.h"
#include "host/key_table.h"
#include "host/platform.h"
#include "host/window_system.h"
#include "host/host_state.h"
#include "input/input_events.h"

namespace {

const char* dataPath = ".";
char profilePath[kProfilePathSize] = "";
HostInfo hostInfo = {kKeyTable, 0, nullptr, 0, 0};
int closeRequested = 0;
char fatalDetail[256] = "";

}  // namespace

const char* FatalErrorMessage(int code) {
  switch (code) {
    case FATAL_OUT_OF_MEMORY: return "Out of memory.";
    case FATAL_DATA: return "Data file missing or corrupt.";
    case FATAL_OPENGL: return "An OpenGL error occurred.";
    default: return "A fatal error occurred.";
  }
}

void SetFatalDetail(const char* what, const char* name) {
  if (!what) {
    fatalDetail[0] = 0;
    return;
  }
  std::snprintf(fatalDetail, sizeof fatalDetail, "%s \"%s\"", what, name ? name : "");
}

const char* FatalDetail() { return fatalDetail; }

void HostClearCloseRequest() { closeRequested = 0; }

void FatalError(int code) {
  // In development mode an error inside the game ends its run, not the process.
  if (DevModeActive()) DevModeFatal(code);
  ShowErrorBox(FatalErrorMessage(code));
  HostShutdown();
  // The Lua state, the mixer and the archives are left to the process's end.
  std::exit(1);
}

void HostShutdown() {
  AudioTerminate();
  WindowSystemTerminate();
}

const char* HostDataPath() { return dataPath; }
const char* HostProfilePath() { return profilePath; }
const HostInfo* HostGetInfo() { return &hostInfo; }
int HostCloseRequested() { return closeRequested; }

void HostRequestClose() { closeRequested = 1; }

bool HostStartup(int argc, char** argv) {
  StartupOptions options = {".", 0};
  ParseOptions(argc, argv, &options, &Display());
  dataPath = options.dataPath;
  SettlePlatformProfilePath(options.portableMode, profilePath);
  if (!WindowSystemInit()) {
    ShowErrorBox("Unable to initialise GLFW.");
    return false;
  }
  // Whether the audio library starts or not, the engine goes on.
  AudioInit();
  ClearKeyState();
  ProbeJoysticks();
  closeRequested = 0;
  hostInfo.argc = argc;
  hostInfo.argv = argv;
  WindowSystemDesktopSize(&hostInfo.desktopWidth, &hostInfo.desktopHeight);
  return true;
}
