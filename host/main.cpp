// pelto: mounts a game's archives and runs its boot.prg until it returns.
#include "archive/asset.h"
#include "banks/bank.h"
#include "host/host.h"
#include "host/host_state.h"
#include "host/script_host.h"

int main(int argc, char** argv) {
  // Options, profile folder, window library, desktop size.
  if (!HostStartup(argc, argv)) return 1;

  // A mount failure has shown its own message; nothing else runs.
  if (!MountArchives()) return 1;

  // Every resource table starts empty.
  ClearBanks();

  ScriptHost();

  UnmountArchives();
  HostShutdown();
  return 0;
}
