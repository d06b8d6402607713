// pelto: mounts a game's archives and runs its boot.prg until it returns.
#include "archive/asset.h"
#include "audio/audio_stream.h"
#include "audio/mixer.h"
#include "banks/bank.h"
#include "host/dev_mode.h"
#include "host/host.h"
#include "host/host_state.h"
#include "host/platform.h"
#include "host/script_host.h"
#include "video/playfield.h"
#include "video/tileset.h"
#include "video/tilemap.h"

#if defined(_WIN32)
// The C runtime's start-up code expands unquoted arguments holding * or ?
// into the names of the matching files (left as they are when none match).
int _dowildcard = -1;
#endif

int main(int argc, char** argv) {
  // A GUI program on Windows: find the console it was started from, if any.
  PlatformAttachConsole();

  // Options, profile folder, window library, desktop size.
  if (!HostStartup(argc, argv)) return 1;

  // Only `pelto-tool run --watch` hands the engine a development channel;
  // without one this changes nothing.
  DevModeStart();

  // A mount failure has shown its own message; nothing else runs. The
  // development mode mounts before each run and shows failures itself.
  if (!DevModeActive() && !MountArchives()) return 1;

  // Sound slots and channels; sounds may be loaded before any display opens.
  MixerInit();

  // Every resource table starts empty.
  ClearTilesets();
  ClearMaps();
  ClearPlayfields();
  ClearBanks();

  int exitCode = 0;
  if (DevModeActive()) {
    exitCode = DevModeRunScripts();
    DevModeShutdown();
  } else {
    ScriptHost();
  }

  // The stream is stopped before the tables it reads are freed.
  CloseAudioStream();
  MixerShutdown();

  UnmountArchives();
  HostShutdown();
  return exitCode;
}
