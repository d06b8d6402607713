// The engine's side of the archives: one process-wide archive set, mounted
// at start-up; mount failures become message boxes, load failures fatal
// errors, so callers of AssetLoad always get their data back.
#include "archive/asset.h"

#include <cstdlib>

#include "host/host.h"

namespace {

ArchiveSet archiveSet;  // mounted once, read-only while the script runs

}  // namespace

bool MountArchives() {
  MountStatus status = MountArchiveSet(HostDataPath(), &archiveSet);
  switch (status) {
    case MountStatus::Ok: return true;
    case MountStatus::CannotFindData: ShowErrorBox("Cannot find game data."); break;
    case MountStatus::CannotAccess: ShowErrorBox("Cannot access data file."); break;
    case MountStatus::Corrupted: ShowErrorBox("Data file corrupted."); break;
    case MountStatus::OutOfMemory: ShowErrorBox("Out of memory."); break;
  }
  return false;
}

void UnmountArchives() { UnmountArchiveSet(&archiveSet); }

bool AssetLoad(AssetBuffer* buffer, const char* name) {
  switch (LoadArchiveEntry(archiveSet, name, buffer)) {
    case LoadStatus::Ok: return true;
    case LoadStatus::OutOfMemory: FatalError(FATAL_OUT_OF_MEMORY);
    case LoadStatus::Missing:
    case LoadStatus::Corrupt: break;
  }
  FatalError(FATAL_DATA);
}

void AssetFree(AssetBuffer* buffer) {
  std::free(buffer->data);  // LoadArchiveEntry allocates with malloc
  buffer->data = nullptr;
}
