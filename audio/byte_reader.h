// A little-endian reader over a byte buffer with a sticky error flag: read
// freely, test `failed` once per block. A read past the end returns zeros,
// sets the flag and never touches memory outside the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

struct ByteReader {
  const uint8_t* data;
  size_t size;
  size_t offset = 0;
  bool failed = false;

  ByteReader(const uint8_t* bytes, size_t count) : data(bytes), size(count) {}

  // The next `count` bytes, or null (and the flag set) when they are not all there.
  const uint8_t* Take(size_t count) {
    if (failed || count > size - offset) {
      failed = true;
      return nullptr;
    }
    const uint8_t* at = data + offset;
    offset += count;
    return at;
  }
  uint8_t U8() {
    const uint8_t* p = Take(1);
    return p ? p[0] : 0;
  }
  uint16_t U16() {
    const uint8_t* p = Take(2);
    return p ? static_cast<uint16_t>(p[0] | p[1] << 8) : 0;
  }
  uint32_t U32() {
    const uint8_t* p = Take(4);
    return p ? static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                   static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24
             : 0;
  }
  // True when the next four bytes are `tag`; they are consumed either way.
  bool Tag(const char (&tag)[5]) {
    const uint8_t* p = Take(4);
    return p && std::memcmp(p, tag, 4) == 0;
  }
  // Moves to an absolute offset; one beyond the end fails.
  void Seek(uint64_t to) {
    if (to > size) {
      failed = true;
      return;
    }
    offset = static_cast<size_t>(to);
  }
};
