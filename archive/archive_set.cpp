// Mounting the *.DAT archives of a folder and loading entries by name hash.
//
// Archive file: "[VX]", version 1, priority byte, entry blocks anywhere,
// then the entry count N at offset D, N records {name hash, entry offset},
// and D itself as the last four bytes. The format guards itself only by the
// magic, the version and each entry's check word; everything else a damaged
// file could hold is checked here, so that no read leaves the file and no
// allocation trusts a wild size:
//
//   refused at mount ("Data file corrupted.", MountStatus::Corrupted):
//     a file too short for its header and directory offset, a directory
//     offset inside the header, an entry count whose records do not fit
//     between the directory offset and the last four bytes, an entry offset
//     inside the header or whose 12-byte block header passes the file's end;
//   refused at load (FatalError 3 through LoadStatus::Corrupt):
//     a block size below 16 (no stream word), not 12 plus whole words, or
//     passing the file's end; an unpacked size of 0, above 2^31 - 1 or above
//     what the block could ever produce; a stream that fails the decoder.
//
// Choices the format leaves open:
//   - archives of equal priority are ordered by path (byte order), so the
//     one whose name sorts last wins, whatever order the folder lists them in;
//   - of two records with the same hash in one archive, the first in the
//     file's directory wins (the merged directory is sorted stably).
#include "archive/archive_set.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(_WIN32)
#include <io.h>

#include <algorithm>
// Archives are binary files; Windows opens files in text mode unless told
// otherwise, and has no close-on-exec (the engine starts no programs).
#define O_CLOEXEC O_BINARY
// Positioned reads: a seek, then a read. The archive files are read from the
// main thread only, so no other read moves the position in between.
static ssize_t pread(int fd, void* into, size_t length, int64_t offset) {
  if (_lseeki64(fd, offset, SEEK_SET) < 0) return -1;
  return _read(fd, into, static_cast<unsigned>(std::min<size_t>(length, 1u << 30)));
}
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "archive/name_hash.h"
#include "archive/unpack.h"

namespace {

constexpr size_t kPathMax = 511;            // longest path kept, in characters
constexpr uint64_t kArchiveHeaderSize = 6;  // magic, version, priority
constexpr uint64_t kRecordSize = 8;
constexpr size_t kRecordsPerRead = 512;     // directory records read in one go

// An archive opened for reading, from its file or from memory, with a
// sticky error flag: reads past the end or short reads set `failed` and
// yield zeros, so a caller reads a whole header and tests the flag once.
struct ArchiveFile {
  int fd = -1;
  const uint8_t* image = nullptr;  // the archive in memory, read in place of fd
  uint64_t size = 0;
  bool failed = false;

  bool Open(const ArchiveRecord& archive) {
    if (archive.image) {
      image = archive.image;
      size = archive.imageSize;
      return true;
    }
    fd = open(archive.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      Close();
      return false;
    }
    size = uint64_t(info.st_size);
    return true;
  }
  void Close() {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  ~ArchiveFile() { Close(); }

  void Read(uint64_t offset, void* into, size_t length) {
    if (failed || offset > size || length > size - offset) {
      failed = true;
      std::memset(into, 0, length);
      return;
    }
    uint8_t* to = static_cast<uint8_t*>(into);
    if (image) {
      std::memcpy(to, image + offset, length);
      return;
    }
    while (length > 0) {
      ssize_t got = pread(fd, to, length, int64_t(offset));
      if (got <= 0) {
        failed = true;
        std::memset(to, 0, length);
        return;
      }
      to += got;
      offset += uint64_t(got);
      length -= size_t(got);
    }
  }
  uint32_t ReadU32(uint64_t offset) {
    uint8_t b[4];
    Read(offset, b, 4);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
  }
};

inline uint32_t GetU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Why a file was refused, for the tool that lists archives (the engine
// itself only says "Data file corrupted.").
void SetReason(const char** reason, const char* text) {
  if (reason) *reason = text;
}

// Reads the directory offset D and checks that N records fit between it and
// the last four bytes. Returns false for a damaged directory.
bool ReadDirectoryOffset(ArchiveFile* file, uint32_t* directoryOffset, const char** reason) {
  if (file->size < kArchiveHeaderSize + 8) {  // header, N and D at least
    SetReason(reason, "too short for an archive header and directory");
    return false;
  }
  uint32_t d = file->ReadU32(file->size - 4);
  if (file->failed || d < kArchiveHeaderSize || uint64_t(d) + 4 > file->size - 4) {
    SetReason(reason, "the directory offset in the last four bytes points outside the file");
    return false;
  }
  *directoryOffset = d;
  return true;
}

bool DirectoryFits(const ArchiveFile& file, uint32_t directoryOffset, uint32_t entryCount) {
  return uint64_t(directoryOffset) + 4 + kRecordSize * entryCount <= file.size - 4;
}

// First pass: magic, version, priority and entry count of one archive.
MountStatus ReadArchiveHeader(ArchiveRecord* archive, const char** reason) {
  ArchiveFile file;
  if (!file.Open(*archive)) return MountStatus::CannotAccess;
  uint8_t header[kArchiveHeaderSize];
  file.Read(0, header, sizeof header);
  if (file.failed || std::memcmp(header, "[VX]", 4) != 0) {
    SetReason(reason, "it does not begin with \"[VX]\"");
    return MountStatus::Corrupted;
  }
  if (header[4] != 1) {
    SetReason(reason, "its format version is not 1");
    return MountStatus::Corrupted;
  }
  archive->priority = header[5];
  uint32_t directoryOffset = 0;
  if (!ReadDirectoryOffset(&file, &directoryOffset, reason)) return MountStatus::Corrupted;
  archive->entryCount = file.ReadU32(directoryOffset);
  if (file.failed || !DirectoryFits(file, directoryOffset, archive->entryCount)) {
    SetReason(reason, "its entry count does not fit the directory");
    return MountStatus::Corrupted;
  }
  return MountStatus::Ok;
}

// Second pass: appends the archive's directory records, in file order.
MountStatus ReadArchiveDirectory(const ArchiveRecord& archive, int archiveIndex,
                                 std::vector<DirectoryRecord>* directory, const char** reason) {
  ArchiveFile file;
  if (!file.Open(archive)) return MountStatus::CannotAccess;
  uint32_t directoryOffset = 0;
  // The file may have changed since the first pass; the count read then is
  // what the directory was sized for, so it must still fit.
  if (!ReadDirectoryOffset(&file, &directoryOffset, reason)) return MountStatus::Corrupted;
  if (!DirectoryFits(file, directoryOffset, archive.entryCount)) {
    SetReason(reason, "its entry count does not fit the directory");
    return MountStatus::Corrupted;
  }
  uint8_t records[kRecordsPerRead * kRecordSize];
  uint64_t at = uint64_t(directoryOffset) + 4;
  uint32_t left = archive.entryCount;
  while (left > 0) {
    size_t batch = std::min<size_t>(left, kRecordsPerRead);
    file.Read(at, records, batch * kRecordSize);
    if (file.failed) {
      SetReason(reason, "its directory cannot be read");
      return MountStatus::Corrupted;
    }
    for (size_t i = 0; i < batch; ++i) {
      uint32_t hash = GetU32(records + i * kRecordSize);
      uint32_t offset = GetU32(records + i * kRecordSize + 4);
      // The block header must lie past the archive header and inside the file.
      if (offset < kArchiveHeaderSize || uint64_t(offset) + kBlockHeaderSize > file.size) {
        SetReason(reason, "an entry's offset points outside the file");
        return MountStatus::Corrupted;
      }
      directory->push_back(DirectoryRecord{hash, offset, archiveIndex});
    }
    at += batch * kRecordSize;
    left -= uint32_t(batch);
  }
  return MountStatus::Ok;
}

// Lists the folder and keeps the first kMaxArchives regular files named
// "*.DAT" (any case, something before the extension), in listing order.
MountStatus ListArchives(const char* dataPath, ArchiveSet* set) {
  DIR* folder = opendir(dataPath);
  if (!folder) return MountStatus::CannotFindData;
  while (set->archiveCount < kMaxArchives) {
    struct dirent* item = readdir(folder);
    if (!item) break;
    size_t nameLength = std::strlen(item->d_name);
    if (nameLength <= 4 || strcasecmp(item->d_name + nameLength - 4, ".DAT") != 0) continue;
    char path[kPathMax + 1];
    std::snprintf(path, sizeof path, "%s/%s", dataPath, item->d_name);
    struct stat info;
    if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) continue;
    ArchiveRecord& archive = set->archives[set->archiveCount++];
    archive.path = path;
    archive.priority = 0;
    archive.entryCount = 0;
    archive.image = nullptr;
    archive.imageSize = 0;
  }
  closedir(folder);
  return MountStatus::Ok;
}

// Every run of records with one hash takes the winner's offset and archive:
// the highest archive index, and within it the first record of the run.
void MergeDuplicates(std::vector<DirectoryRecord>* directory) {
  std::vector<DirectoryRecord>& records = *directory;
  size_t start = 0;
  while (start < records.size()) {
    size_t end = start + 1;
    size_t winner = start;
    while (end < records.size() && records[end].nameHash == records[start].nameHash) {
      if (records[end].archiveIndex > records[winner].archiveIndex) winner = end;
      ++end;
    }
    const DirectoryRecord chosen = records[winner];
    for (size_t i = start; i < end; ++i) records[i] = chosen;
    start = end;
  }
}

// Stands in for an image without bytes, which must still read as memory.
const uint8_t kNoBytes[1] = {0};

// Lists the images as the folder's files would be listed.
MountStatus ListImages(const ArchiveImage* images, int count, ArchiveSet* set) {
  for (int i = 0; i < count && set->archiveCount < kMaxArchives; ++i) {
    ArchiveRecord& archive = set->archives[set->archiveCount++];
    archive.path = images[i].name ? images[i].name : "";
    archive.priority = 0;
    archive.entryCount = 0;
    archive.image = images[i].data ? images[i].data : kNoBytes;
    archive.imageSize = images[i].data ? images[i].size : 0;
  }
  return MountStatus::Ok;
}

// Reads, orders and merges the listed archives.
MountStatus MountListed(ArchiveSet* set) {
  MountStatus status;
  uint64_t totalEntries = 0;
  for (int i = 0; i < set->archiveCount; ++i) {
    status = ReadArchiveHeader(&set->archives[i], nullptr);
    if (status != MountStatus::Ok) return status;
    totalEntries += set->archives[i].entryCount;
  }

  // Lowest priority first; equal priorities by path, so the result does not
  // depend on the order the file system lists the folder in.
  std::sort(set->archives, set->archives + set->archiveCount, [](const ArchiveRecord& a, const ArchiveRecord& b) {
    if (a.priority != b.priority) return a.priority < b.priority;
    return std::strcmp(a.path.c_str(), b.path.c_str()) < 0;
  });

  set->directory.reserve(size_t(totalEntries));
  for (int i = 0; i < set->archiveCount; ++i) {
    status = ReadArchiveDirectory(set->archives[i], i, &set->directory, nullptr);
    if (status != MountStatus::Ok) return status;
  }

  // Stable: within one hash the records stay in archive order, then file order.
  std::stable_sort(set->directory.begin(), set->directory.end(),
                   [](const DirectoryRecord& a, const DirectoryRecord& b) { return a.nameHash < b.nameHash; });
  MergeDuplicates(&set->directory);
  return MountStatus::Ok;
}

}  // namespace

MountStatus MountArchiveSet(const char* dataPath, ArchiveSet* set) {
  UnmountArchiveSet(set);
  MountStatus status;
  try {
    status = ListArchives(dataPath, set);
    if (status == MountStatus::Ok) status = MountListed(set);
  } catch (const std::bad_alloc&) {
    status = MountStatus::OutOfMemory;
  }
  if (status != MountStatus::Ok) UnmountArchiveSet(set);
  return status;
}

MountStatus MountArchiveImages(const ArchiveImage* images, int count, ArchiveSet* set) {
  UnmountArchiveSet(set);
  MountStatus status;
  try {
    status = ListImages(images, count, set);
    if (status == MountStatus::Ok) status = MountListed(set);
  } catch (const std::bad_alloc&) {
    status = MountStatus::OutOfMemory;
  }
  if (status != MountStatus::Ok) UnmountArchiveSet(set);
  return status;
}

void UnmountArchiveSet(ArchiveSet* set) {
  for (ArchiveRecord& archive : set->archives) {
    std::string().swap(archive.path);
    archive.priority = 0;
    archive.entryCount = 0;
    archive.image = nullptr;
    archive.imageSize = 0;
  }
  set->archiveCount = 0;
  std::vector<DirectoryRecord>().swap(set->directory);
}

MountStatus ReadArchiveContents(const char* path, ArchiveContents* contents, const char** reason) {
  contents->priority = 0;
  contents->entries.clear();
  SetReason(reason, "");
  ArchiveRecord archive{path, 0, 0, nullptr, 0};
  std::vector<DirectoryRecord> records;
  MountStatus status;
  try {
    status = ReadArchiveHeader(&archive, reason);
    if (status == MountStatus::Ok) status = ReadArchiveDirectory(archive, 0, &records, reason);
  } catch (const std::bad_alloc&) {
    status = MountStatus::OutOfMemory;
  }
  if (status != MountStatus::Ok) return status;
  contents->priority = archive.priority;
  for (const DirectoryRecord& record : records) contents->entries.push_back({record.nameHash, record.entryOffset});
  return MountStatus::Ok;
}

namespace {

// Reads and unpacks the block at entryOffset of one archive, file or memory.
LoadStatus LoadBlock(const ArchiveRecord& archive, uint32_t entryOffset, AssetBuffer* buffer,
                     EntryBlockHeader* header) {
  buffer->data = nullptr;
  buffer->size = 0;
  if (header) *header = EntryBlockHeader{0, 0};
  // Plain descriptor reads: the only allocations of a load are the block and
  // the output (stdio would add a buffer of its own).
  ArchiveFile file;
  if (!file.Open(archive)) return LoadStatus::Missing;
  const uint32_t unpackedSize = file.ReadU32(entryOffset);
  const uint32_t blockSize = file.ReadU32(uint64_t(entryOffset) + 4);
  if (header && !file.failed) *header = EntryBlockHeader{unpackedSize, blockSize};
  if (file.failed || !BlockSizesPlausible(unpackedSize, blockSize) || uint64_t(blockSize) > file.size - entryOffset) {
    return LoadStatus::Corrupt;
  }

  uint8_t* block = static_cast<uint8_t*>(std::malloc(blockSize));
  uint8_t* output = static_cast<uint8_t*>(std::malloc(unpackedSize));
  LoadStatus status = LoadStatus::Ok;
  if (!block || !output) {
    status = LoadStatus::OutOfMemory;
  } else {
    file.Read(entryOffset, block, blockSize);
    file.Close();
    if (file.failed || !UnpackEntry(block, blockSize, output, unpackedSize)) status = LoadStatus::Corrupt;
  }
  std::free(block);
  if (status != LoadStatus::Ok) {
    std::free(output);
    return status;
  }
  buffer->data = output;
  buffer->size = int32_t(unpackedSize);
  return LoadStatus::Ok;
}

}  // namespace

LoadStatus LoadArchiveBlock(const char* path, uint32_t entryOffset, AssetBuffer* buffer, EntryBlockHeader* header) {
  const ArchiveRecord archive{path ? path : "", 0, 0, nullptr, 0};
  return LoadBlock(archive, entryOffset, buffer, header);
}

LoadStatus LoadArchiveEntry(const ArchiveSet& set, const char* name, AssetBuffer* buffer) {
  buffer->data = nullptr;
  buffer->size = 0;
  if (!name) return LoadStatus::Missing;
  return LoadArchiveEntryByHash(set, NameHash(name, std::strlen(name)), buffer);
}

LoadStatus LoadArchiveEntryByHash(const ArchiveSet& set, uint32_t hash, AssetBuffer* buffer) {
  buffer->data = nullptr;
  buffer->size = 0;
  auto found = std::lower_bound(set.directory.begin(), set.directory.end(), hash,
                                [](const DirectoryRecord& record, uint32_t h) { return record.nameHash < h; });
  if (found == set.directory.end() || found->nameHash != hash) return LoadStatus::Missing;
  if (found->archiveIndex < 0 || found->archiveIndex >= set.archiveCount) return LoadStatus::Missing;
  return LoadBlock(set.archives[found->archiveIndex], found->entryOffset, buffer, nullptr);
}
