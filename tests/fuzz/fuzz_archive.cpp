// Archive targets: mounting archives held in memory, loading every entry
// they list, and the unpacker on its own.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/archive_set.h"
#include "archive/unpack.h"
#include "tests/fuzz/fuzz_targets.h"

namespace {

constexpr size_t kMaxLoads = 256;  // entries loaded per input, to keep runs short

}  // namespace

// The input is one or more archives laid end to end: each "[VX]" after the
// first byte starts the next one, so joined archive files split where they
// were joined and a mutation can add or remove an archive.
int FuzzArchive(const uint8_t* data, size_t size) {
  static const char* const kNames[kMaxArchives] = {"A.DAT", "B.DAT", "C.DAT", "D.DAT",
                                                   "E.DAT", "F.DAT", "G.DAT", "H.DAT"};
  ArchiveImage images[kMaxArchives];
  int count = 0;
  size_t start = 0;
  for (size_t at = 1; at + 4 <= size && count < kMaxArchives - 1; ++at) {
    if (std::memcmp(data + at, "[VX]", 4) != 0) continue;
    images[count] = ArchiveImage{kNames[count], data + start, at - start};
    ++count;
    start = at;
  }
  images[count] = ArchiveImage{kNames[count], data + start, size - start};
  ++count;

  ArchiveSet set;
  set.archiveCount = 0;
  if (MountArchiveImages(images, count, &set) != MountStatus::Ok) {
    FuzzCheck(set.archiveCount == 0 && set.directory.empty(), "a refused mount leaves the set empty");
    return 0;
  }
  size_t loads = 0;
  for (size_t i = 0; i < set.directory.size() && loads < kMaxLoads; ++i) {
    if (i > 0 && set.directory[i].nameHash == set.directory[i - 1].nameHash) continue;
    AssetBuffer buffer;
    LoadStatus status = LoadArchiveEntryByHash(set, set.directory[i].nameHash, &buffer);
    ++loads;
    if (status == LoadStatus::Ok) {
      FuzzCheck(buffer.data != nullptr && buffer.size > 0, "a loaded entry has bytes");
      FuzzTouch(buffer.data, static_cast<size_t>(buffer.size));
    } else {
      FuzzCheck(buffer.data == nullptr && buffer.size == 0, "a failed load leaves the buffer empty");
    }
    std::free(buffer.data);
  }
  UnmountArchiveSet(&set);
  return 0;
}

// The input is a whole block, header included; the output gets the size the
// header states, when the loader would accept it.
int FuzzUnpack(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  uint32_t unpackedSize = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24;
  if (size > 0xffffffffu || !BlockSizesPlausible(unpackedSize, uint32_t(size))) return 0;
  if (unpackedSize > (64u << 20)) return 0;  // beyond the fuzzer's memory limit
  std::vector<uint8_t> output(unpackedSize);
  if (UnpackEntry(data, size, output.data(), output.size())) FuzzTouch(output.data(), output.size());
  return 0;
}
