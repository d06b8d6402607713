// Encoder of the packed entry stream: the inverse of UnpackEntry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Packs data (size >= 1) into a complete block, header included, that
// UnpackEntry turns back into the same bytes. Uses an optimal parse.
std::vector<uint8_t> PackEntry(const uint8_t* data, size_t size);

// One entry of an archive being assembled: its name hash and packed block.
struct ArchiveBlock {
  uint32_t nameHash = 0;
  const std::vector<uint8_t>* block = nullptr;  // as PackEntry made it
};

// Lays out a whole archive: header with the priority, the blocks in the
// given order, then the directory sorted by hash and its offset as the last
// four bytes. False when the archive would pass what 32-bit offsets address.
bool AssembleArchive(const std::vector<ArchiveBlock>& entries, uint8_t priority, std::vector<uint8_t>* archive);
