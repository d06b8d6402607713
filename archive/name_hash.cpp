// MurmurHash3 x86_32: the hash that names archive entries. The directory of
// an archive stores only this hash, so the packer and the engine must agree
// on it bit for bit.
#include "archive/name_hash.h"

namespace {

inline uint32_t Rotl32(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

// Final avalanche: every input bit affects every output bit.
inline uint32_t FinalMix(uint32_t h) {
  h ^= h >> 16;
  h *= 0x85ebca6bu;
  h ^= h >> 13;
  h *= 0xc2b2ae35u;
  h ^= h >> 16;
  return h;
}

}  // namespace

uint32_t MurmurHash3_x86_32(const void* data, size_t length, uint32_t seed) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  const uint32_t c1 = 0xcc9e2d51u;
  const uint32_t c2 = 0x1b873593u;
  uint32_t h = seed;

  // Body: whole 4-byte blocks, read little-endian whatever the host order.
  size_t blockCount = length / 4;
  for (size_t i = 0; i < blockCount; ++i) {
    const uint8_t* p = bytes + i * 4;
    uint32_t k = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    k *= c1;
    k = Rotl32(k, 15);
    k *= c2;
    h ^= k;
    h = Rotl32(h, 13);
    h = h * 5 + 0xe6546b64u;
  }

  // Tail: the last 1-3 bytes, the first of them in the low byte.
  const uint8_t* tail = bytes + blockCount * 4;
  uint32_t k = 0;
  switch (length & 3) {
    case 3: k ^= uint32_t(tail[2]) << 16; [[fallthrough]];
    case 2: k ^= uint32_t(tail[1]) << 8; [[fallthrough]];
    case 1:
      k ^= tail[0];
      k *= c1;
      k = Rotl32(k, 15);
      k *= c2;
      h ^= k;
  }

  // The length goes in as a 32-bit value, as the x86_32 variant defines it.
  h ^= uint32_t(length);
  return FinalMix(h);
}

uint32_t NameHash(const char* name, size_t length) { return MurmurHash3_x86_32(name, length, kNameHashSeed); }
