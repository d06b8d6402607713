// Mounting archive files and looking entries up by name hash: plain logic
// with status results; asset.cpp turns the statuses into the engine's
// messages and fatal errors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr int kMaxArchives = 8;

struct AssetBuffer {
  int32_t size;   // unpacked size in bytes
  uint8_t* data;  // owned by the caller of AssetLoad until AssetFree
};

struct ArchiveRecord {
  std::string path;     // the path as opened (a name for an archive in memory)
  int priority;         // 0-255, higher overrides lower
  uint32_t entryCount;
  const uint8_t* image;  // the whole archive when mounted from memory, else null
  size_t imageSize;      // bytes at image
};

struct DirectoryRecord {
  uint32_t nameHash;
  uint32_t entryOffset;
  int32_t archiveIndex;  // position in the priority-sorted archive table
};

struct ArchiveSet {
  ArchiveRecord archives[kMaxArchives];
  int archiveCount;
  std::vector<DirectoryRecord> directory;  // sorted by nameHash, duplicates merged
};

enum class MountStatus { Ok, CannotFindData, CannotAccess, Corrupted, OutOfMemory };
enum class LoadStatus { Ok, Missing, Corrupt, OutOfMemory };

// Mounts the first kMaxArchives "*.DAT" files of dataPath (any case) into
// set, replacing what it held. A damaged directory is refused here
// (Corrupted); on any failure the set is left empty.
MountStatus MountArchiveSet(const char* dataPath, ArchiveSet* set);
void UnmountArchiveSet(ArchiveSet* set);

// An archive held in memory, named as a file of the data folder would be.
struct ArchiveImage {
  const char* name;
  const uint8_t* data;
  size_t size;
};
// Mounts up to kMaxArchives archives from memory with the same checks,
// ordering and merging as MountArchiveSet (the tool and the fuzzers use it).
// The images must outlive the mount: entries are read from them at load.
MountStatus MountArchiveImages(const ArchiveImage* images, int count, ArchiveSet* set);

// Finds `name` by hash and unpacks it into a malloc'd buffer of exactly its
// size (free it with AssetFree or free). Allocates the block and the output
// and nothing else. Missing: unknown name or archive gone; Corrupt: a damaged
// block. On failure buffer holds {0, null}.
LoadStatus LoadArchiveEntry(const ArchiveSet& set, const char* name, AssetBuffer* buffer);

// One archive file read on its own (pelto-tool list and extract), with the
// checks of mounting. On Corrupted, *reason (if given) says what is wrong.
struct ArchiveEntryRecord {
  uint32_t nameHash;
  uint32_t entryOffset;
};
struct ArchiveContents {
  int priority = 0;
  std::vector<ArchiveEntryRecord> entries;  // in the order of the file's directory
};
MountStatus ReadArchiveContents(const char* path, ArchiveContents* contents, const char** reason);

// The two size words at the start of an entry block.
struct EntryBlockHeader {
  uint32_t unpackedSize;
  uint32_t blockSize;  // header included
};
// Reads and unpacks the block at entryOffset of the archive at path, as
// LoadArchiveEntry does once it has found the entry. header (if given) gets
// the block's size words whenever they could be read, even for a Corrupt block.
LoadStatus LoadArchiveBlock(const char* path, uint32_t entryOffset, AssetBuffer* buffer, EntryBlockHeader* header);
// The same by name hash.
LoadStatus LoadArchiveEntryByHash(const ArchiveSet& set, uint32_t nameHash, AssetBuffer* buffer);
