// The engine's side of the archives: one process-wide archive set, mounted
// at start-up; mount failures become message boxes, load failures fatal
// errors, so callers of AssetLoad always get their data back.
#include "archive/asset.h"

#include <cstdlib>

#include "host/host.h"

namespace {

ArchiveSet archiveSet;  // mounted once, read-only while the script runs

const char* MountMessage(MountStatus status) {
  switch (status) {
    case MountStatus::Ok: break;
    case MountStatus::CannotFindData: return "Cannot find game data.";
    case MountStatus::CannotAccess: return "Cannot access data file.";
    case MountStatus::Corrupted: return "Data file corrupted.";
    case MountStatus::OutOfMemory: return "Out of memory.";
  }
  return nullptr;
}

}  // namespace

bool MountArchives() {
  MountStatus status = MountArchiveSet(HostDataPath(), &archiveSet);
  if (status == MountStatus::Ok) return true;
  ShowErrorBox(MountMessage(status));
  return false;
}

bool RemountArchives(const char** message) {
  UnmountArchiveSet(&archiveSet);
  MountStatus status = MountArchiveSet(HostDataPath(), &archiveSet);
  *message = MountMessage(status);
  return status == MountStatus::Ok;
}

bool AssetTryLoad(AssetBuffer* buffer, const char* name) {
  return LoadArchiveEntry(archiveSet, name, buffer) == LoadStatus::Ok;
}

void UnmountArchives() { UnmountArchiveSet(&archiveSet); }

bool AssetLoad(AssetBuffer* buffer, const char* name) {
  switch (LoadArchiveEntry(archiveSet, name, buffer)) {
    case LoadStatus::Ok: return true;
    case LoadStatus::OutOfMemory: FatalError(FATAL_OUT_OF_MEMORY);
    case LoadStatus::Missing: SetFatalDetail("no entry named", name); break;
    case LoadStatus::Corrupt: SetFatalDetail("damaged entry", name); break;
  }
  FatalError(FATAL_DATA);
}

void AssetFree(AssetBuffer* buffer) {
  std::free(buffer->data);  // LoadArchiveEntry allocates with malloc
  buffer->data = nullptr;
}
