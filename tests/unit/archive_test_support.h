// Helpers for the archive tests: a token writer that lays out packed blocks
// by hand, a plain bit-by-bit decoder to compare the fast one against, and
// builders for archive files.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "archive/name_hash.h"
#include "archive/pack.h"

namespace archive_test {

inline void PutU32(std::vector<uint8_t>* out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*out)[at + i] = uint8_t(v >> (8 * i));
}
inline void AppendU32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(uint8_t(v >> (8 * i)));
}
inline uint32_t GetU32(const std::vector<uint8_t>& in, size_t at) {
  return uint32_t(in[at]) | uint32_t(in[at + 1]) << 8 | uint32_t(in[at + 2]) << 16 | uint32_t(in[at + 3]) << 24;
}

// Token bits in decode order, laid out as the decoder reads them: the first
// bits below the sentinel of the last word, then 32 per word towards the header.
class Stream {
 public:
  Stream& Bits(uint32_t value, int n) {  // most significant bit first
    for (int i = n - 1; i >= 0; --i) bits_.push_back((value >> i) & 1);
    return *this;
  }
  Stream& ShortLiterals(const std::vector<uint8_t>& bytes) {  // 1-8 bytes, in decode order
    Bits(0, 2).Bits(uint32_t(bytes.size() - 1), 3);
    for (uint8_t b : bytes) Bits(b, 8);
    return *this;
  }
  Stream& LongLiterals(const std::vector<uint8_t>& bytes) {  // 9-264 bytes
    Bits(7, 3).Bits(uint32_t(bytes.size() - 9), 8);
    for (uint8_t b : bytes) Bits(b, 8);
    return *this;
  }
  Stream& Match2(uint32_t offset) { return Bits(1, 2).Bits(offset, 8); }
  Stream& Match3(uint32_t offset) { return Bits(4, 3).Bits(offset, 9); }
  Stream& Match4(uint32_t offset) { return Bits(5, 3).Bits(offset, 10); }
  Stream& LongMatch(uint32_t length, uint32_t offset) { return Bits(6, 3).Bits(length - 1, 8).Bits(offset, 12); }

  size_t BitCount() const { return bits_.size(); }

  // Stream words, W[0] first. `unusedWords` extra words (never loaded) go
  // before W[0].
  std::vector<uint32_t> Words(int unusedWords = 0) const {
    const size_t inLast = bits_.size() % 32;
    const size_t count = bits_.size() / 32 + 1;
    std::vector<uint32_t> words(count, 0);
    words[count - 1] = 1u << inLast;
    for (size_t t = 0; t < bits_.size(); ++t) {
      if (!bits_[t]) continue;
      if (t < inLast) words[count - 1] |= 1u << t;
      else words[count - 2 - (t - inLast) / 32] |= 1u << ((t - inLast) % 32);
    }
    std::vector<uint32_t> all;
    for (int i = 0; i < unusedWords; ++i) all.push_back(0x5a5a0000u + uint32_t(i));
    all.insert(all.end(), words.begin(), words.end());
    return all;
  }

  // The whole block; its check word covers the loaded words only.
  std::vector<uint8_t> Block(uint32_t unpackedSize, int unusedWords = 0) const {
    std::vector<uint32_t> words = Words(unusedWords);
    uint32_t check = 0;
    for (size_t i = unusedWords; i < words.size(); ++i) check ^= words[i];
    return MakeBlock(unpackedSize, words, check);
  }

  static std::vector<uint8_t> MakeBlock(uint32_t unpackedSize, const std::vector<uint32_t>& words, uint32_t check) {
    std::vector<uint8_t> block;
    AppendU32(&block, unpackedSize);
    AppendU32(&block, uint32_t(12 + 4 * words.size()));
    AppendU32(&block, check);
    for (uint32_t w : words) AppendU32(&block, w);
    return block;
  }

 private:
  std::vector<uint8_t> bits_;
};

// The decoder exactly as the format describes it, one bit at a time from a
// 32-bit buffer, with plain bounds checks. Returns false for a check
// mismatch or a malformed stream; *wordsLoaded counts the words it loaded.
inline bool ReferenceUnpack(const std::vector<uint8_t>& block, std::vector<uint8_t>* output,
                            size_t* wordsLoaded = nullptr) {
  if (block.size() < 16 || (block.size() - 12) % 4 != 0) return false;
  const uint32_t u = GetU32(block, 0);
  if (GetU32(block, 4) != block.size() || u != output->size() || u == 0) return false;
  long word = long((block.size() - 12) / 4) - 1;
  uint32_t buffer = GetU32(block, 12 + 4 * word);
  uint32_t check = GetU32(block, 8) ^ buffer;
  size_t loaded = 1;
  bool ranOut = false;
  auto bit = [&]() -> uint32_t {
    uint32_t b = buffer & 1;
    buffer >>= 1;
    if (buffer != 0) return b;
    if (--word < 0) {
      ranOut = true;
      return 0;
    }
    uint32_t w = GetU32(block, 12 + 4 * word);
    ++loaded;
    check ^= w;
    buffer = (w >> 1) | 0x80000000u;
    return w & 1;
  };
  auto bits = [&](int n) {
    uint32_t v = 0;
    while (n-- > 0) v = (v << 1) | bit();
    return v;
  };
  long pos = long(u);
  std::vector<uint8_t>& out = *output;
  do {
    uint32_t length = 0, offset = 0, literals = 0;
    if (bit()) {
      switch (bits(2)) {
        case 0: length = 3; offset = bits(9); break;
        case 1: length = 4; offset = bits(10); break;
        case 2: length = bits(8) + 1; offset = bits(12); break;
        default: literals = bits(8) + 9; break;
      }
    } else if (bit()) {
      length = 2;
      offset = bits(8);
    } else {
      literals = bits(3) + 1;
    }
    if (ranOut) return false;
    for (uint32_t i = 0; i < literals; ++i) {
      uint32_t value = bits(8);
      if (ranOut || pos == 0) return false;
      out[--pos] = uint8_t(value);
    }
    for (uint32_t i = 0; i < length; ++i) {
      if (pos == 0 || offset == 0 || pos - 1 + long(offset) >= long(u)) return false;
      --pos;
      out[pos] = out[pos + offset];
    }
  } while (pos > 0);
  if (wordsLoaded) *wordsLoaded = loaded;
  return check == 0;
}

// One archive file's bytes: magic, version, priority, the blocks, then the
// directory in the order given and its offset.
struct RawRecord {
  uint32_t hash;
  std::vector<uint8_t> block;
};

inline std::string ArchiveBytes(int priority, const std::vector<RawRecord>& records, uint8_t version = 1) {
  std::vector<uint8_t> file = {'[', 'V', 'X', ']', version, uint8_t(priority)};
  std::vector<uint32_t> offsets;
  for (const RawRecord& record : records) {
    offsets.push_back(uint32_t(file.size()));
    file.insert(file.end(), record.block.begin(), record.block.end());
  }
  uint32_t directory = uint32_t(file.size());
  AppendU32(&file, uint32_t(records.size()));
  for (size_t i = 0; i < records.size(); ++i) {
    AppendU32(&file, records[i].hash);
    AppendU32(&file, offsets[i]);
  }
  AppendU32(&file, directory);
  return std::string(file.begin(), file.end());
}

inline std::vector<uint8_t> Packed(const std::string& data) {
  return PackEntry(reinterpret_cast<const uint8_t*>(data.data()), data.size());
}

// An archive of named entries packed from their contents.
inline std::string Archive(int priority, const std::vector<std::pair<std::string, std::string>>& entries) {
  std::vector<RawRecord> records;
  for (const auto& [name, data] : entries) records.push_back({NameHash(name.data(), name.size()), Packed(data)});
  return ArchiveBytes(priority, records);
}

}  // namespace archive_test
