// The engine's archive interface: mount once at start-up, load entries by name.
#pragma once

#include "archive/archive_set.h"

// Mounts the *.DAT archives of the data path; shows its own message on failure.
bool MountArchives();
void UnmountArchives();

// Fills buffer with the unpacked entry; a missing or corrupt entry ends the
// process through FatalError, so a caller that gets control back has its data.
bool AssetLoad(AssetBuffer* buffer, const char* name);

// Development mode, between runs: mounts the data path again (the archives
// were rebuilt) without any box; false with the message a mount failure
// shows in a release run.
bool RemountArchives(const char** message);
// Development mode: like AssetLoad, but a missing or corrupt entry gives
// false instead of ending the process.
bool AssetTryLoad(AssetBuffer* buffer, const char* name);

// Releases buffer->data and sets it to null; size is left as it was.
void AssetFree(AssetBuffer* buffer);
