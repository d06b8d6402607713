// Entry decoder. The packed stream is an LZ77 bit stream of six token kinds,
// read from the last 32-bit word of the block towards the header, each word
// bit 0 first; multi-bit fields arrive most significant bit first; the output
// is written from its last byte to its first.
//
// The reference reading is one bit at a time from a 32-bit buffer. This
// decoder produces the same result faster: it keeps up to 64 bits in a
// buffer, refills it a whole word at a time before it can run dry, turns
// fields around with a table, stores literals four at a time and copies
// matches in 8-byte pieces where they cannot overlap their source, runs of a
// short pattern too once the pattern repeats far enough.
//
// Two consequences of reading ahead are undone at the end:
// - the check word must equal the XOR of exactly the words a bit-by-bit
//   reader would have loaded, so words loaded early but never needed are
//   XORed out again;
// - once the stream words are used up the buffer is fed zero words, and a
//   stream that actually needed any of those bits is refused: a bit-by-bit
//   reader would have read the header as stream words.
//
// Malformed streams (refused with false, never reading or writing outside
// the two buffers): a token that would write below the start of the output,
// a match with offset 0 or whose source lies beyond the end of the output, a
// stream that runs out of words, a block size below 16, not 12 plus whole
// words, or different from the buffer size, an unpacked size different from
// the output size, and an unpacked size of 0 (no stream can express it: at
// least one token is always decoded, and every token produces a byte).
#include "archive/unpack.h"

#include <cstring>

namespace {

// kReverse12[x] is x with its 12 low bits in the opposite order; a field of n
// bits (n <= 12) turns around as kReverse12[x] >> (12 - n).
struct Reverse12Table {
  uint16_t value[4096];
  constexpr Reverse12Table() : value() {
    for (int x = 0; x < 4096; ++x) {
      int r = 0;
      for (int bit = 0; bit < 12; ++bit) r |= ((x >> bit) & 1) << (11 - bit);
      value[x] = static_cast<uint16_t>(r);
    }
  }
};
constexpr Reverse12Table kReverse12;

inline uint32_t Field(uint32_t bits, int n) { return kReverse12.value[bits & ((1u << n) - 1)] >> (12 - n); }

inline uint32_t Load32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Writes the low byte of v at p, the next at p + 1, and so on.
inline void Store32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

// All 32 bits in the opposite order: stored at p, the first stream byte
// (bits 0-7 read most significant first) lands at p + 3, the next at p + 2.
inline uint32_t Reverse32(uint32_t x) {
  x = ((x >> 1) & 0x55555555u) | ((x & 0x55555555u) << 1);
  x = ((x >> 2) & 0x33333333u) | ((x & 0x33333333u) << 2);
  x = ((x >> 4) & 0x0f0f0f0fu) | ((x & 0x0f0f0f0fu) << 4);
  return __builtin_bswap32(x);
}

inline void Copy8(uint8_t* to, const uint8_t* from) {
  uint8_t piece[8];
  std::memcpy(piece, from, 8);  // the whole source is read before anything is written
  std::memcpy(to, piece, 8);
}

// Writes out[pos - 1] down to out[pos - length] with out[i] = out[i + offset].
// Bytes at and above pos are final, bytes below are free: every one of them
// is written again by a later token, so copies may spill below the match.
// The caller has checked 1 <= offset, offset <= size - pos and length <= pos.
inline void CopyMatch(uint8_t* out, size_t pos, size_t length, size_t offset) {
  size_t end = pos - length;
  if (offset >= 8) {
    // No 8-byte piece overlaps a byte still to be written.
    while (pos >= end + 8) {
      Copy8(out + pos - 8, out + pos - 8 + offset);
      pos -= 8;
    }
    if (pos == end) return;
    if (pos >= 8) {
      Copy8(out + pos - 8, out + pos - 8 + offset);
      return;
    }
  } else if (offset >= length && pos >= 8) {
    Copy8(out + pos - 8, out + pos - 8 + offset);
    return;
  } else if (offset == 1) {
    std::memset(out + end, out[pos], length);
    return;
  } else if (length >= 16) {
    // A run of a short pattern (a 16-bit cell repeated has offset 2). The
    // output is periodic in `offset` from pos - 8 up to pos + offset - 1
    // once 8 bytes are written one by one, so every later byte also equals
    // the one `step` places above it, a multiple of offset from 8 to
    // offset + 7: far enough for 8-byte pieces that never overlap, and near
    // enough that the source lies in the part already periodic.
    const size_t step = offset * ((8 + offset - 1) / offset);
    for (size_t stop = pos - 8; pos > stop;) {
      --pos;
      out[pos] = out[pos + offset];
    }
    while (pos >= end + 8) {
      Copy8(out + pos - 8, out + pos - 8 + step);
      pos -= 8;
    }
    if (pos > end && pos >= 8) {
      Copy8(out + pos - 8, out + pos - 8 + step);
      return;
    }
    while (pos > end) {
      --pos;
      out[pos] = out[pos + step];
    }
    return;
  }
  // Short offsets repeat a pattern: byte by byte, as the format defines it.
  while (pos > end) {
    --pos;
    out[pos] = out[pos + offset];
  }
}

}  // namespace

uint64_t MaxUnpackedSize(size_t blockSize) {
  if (blockSize < kBlockHeaderSize) return 0;
  // The best a bit can do is 1/23 of a 256-byte match.
  uint64_t streamBits = uint64_t(blockSize - kBlockHeaderSize) * 8;
  return (streamBits / 23 + 1) * 256;
}

bool UnpackEntry(const uint8_t* block, size_t blockSize, uint8_t* output, size_t outputSize) {
  if (blockSize < kBlockHeaderSize + 4 || (blockSize - kBlockHeaderSize) % 4 != 0) return false;
  const uint32_t unpackedSize = Load32(block);
  const uint32_t declaredBlockSize = Load32(block + 4);
  const uint32_t checkWord = Load32(block + 8);
  if (declaredBlockSize != blockSize || unpackedSize != outputSize || unpackedSize == 0) return false;

  const uint8_t* words = block + kBlockHeaderSize;
  const ptrdiff_t wordCount = ptrdiff_t((blockSize - kBlockHeaderSize) / 4);

  // The last word holds its bits below a sentinel 1; a last word of 0 or 1
  // holds none.
  const uint32_t lastWord = Load32(words + 4 * (wordCount - 1));
  const int firstBits = lastWord > 1 ? 31 - __builtin_clz(lastWord) : 0;
  uint64_t bits = lastWord & ((1u << firstBits) - 1);
  int count = firstBits;  // valid bits in `bits`, 0-64
  uint32_t check = checkWord ^ lastWord;
  ptrdiff_t next = wordCount - 2;  // next word to load; below 0 the words are used up

  // Keeps at least 33 bits in the buffer: enough for the longest token head
  // (23 bits) or four literal bytes. Past the first word, zeros are fed in;
  // whether any of them was needed is settled at the end.
  auto refill = [&]() {
    if (count <= 32) {
      uint32_t w = next >= 0 ? Load32(words + 4 * next) : 0;
      --next;
      check ^= w;
      bits |= uint64_t(w) << count;
      count += 32;
    }
  };
  auto consume = [&](int n) {
    bits >>= n;
    count -= n;
  };

  size_t pos = outputSize;  // everything at and above pos is written

  // Stores `n` literal bytes below pos, first byte at pos - 1.
  auto literals = [&](size_t n) -> bool {
    if (n > pos) return false;
    while (n >= 4) {
      refill();
      Store32(output + pos - 4, Reverse32(uint32_t(bits)));
      consume(32);
      pos -= 4;
      n -= 4;
    }
    if (n == 0) return true;
    refill();
    if (pos >= 4) {
      // Four bytes go out, the ones below the run are written again later.
      Store32(output + pos - 4, Reverse32(uint32_t(bits)));
      consume(int(8 * n));
      pos -= n;
    } else {
      while (n-- > 0) {
        output[--pos] = uint8_t(Field(uint32_t(bits), 8));
        consume(8);
      }
    }
    return true;
  };

  // Copies a match below pos, refusing one that leaves the output.
  auto match = [&](size_t length, size_t offset) -> bool {
    if (offset == 0 || length > pos || offset > outputSize - pos) return false;
    CopyMatch(output, pos, length, offset);
    pos -= length;
    return true;
  };

  // At least one token is decoded; the end test follows each token.
  do {
    refill();
    const uint32_t peek = uint32_t(bits);
    bool ok;
    switch (peek & 7) {
      case 0:
      case 4:  // 0 0: short literal run, count - 1 in 3 bits
        consume(5);
        ok = literals(Field(peek >> 2, 3) + 1);
        break;
      case 2:
      case 6:  // 0 1: 2-byte match, offset in 8 bits
        consume(10);
        ok = match(2, Field(peek >> 2, 8));
        break;
      case 1:  // 1 0 0: 3-byte match, offset in 9 bits
        consume(12);
        ok = match(3, Field(peek >> 3, 9));
        break;
      case 5:  // 1 0 1: 4-byte match, offset in 10 bits
        consume(13);
        ok = match(4, Field(peek >> 3, 10));
        break;
      case 3:  // 1 1 0: long match, length - 1 in 8 bits, then offset in 12
        consume(23);
        ok = match(Field(peek >> 3, 8) + 1, Field(peek >> 11, 12));
        break;
      default:  // 1 1 1: long literal run, count - 9 in 8 bits
        consume(11);
        ok = literals(Field(peek >> 3, 8) + 9);
        break;
    }
    if (!ok) return false;
  } while (pos > 0);

  // Settle how many words a bit-by-bit reader would have loaded: the last
  // word, then one more per 32 bits used beyond the last word's own bits.
  const uint64_t supplied = uint64_t(firstBits) + 32 * uint64_t(wordCount - 2 - next);
  const uint64_t used = supplied - uint64_t(count);
  const uint64_t needed = 1 + (used > uint64_t(firstBits) ? (used - firstBits + 31) / 32 : 0);
  if (needed > uint64_t(wordCount)) return false;  // it would have read the header
  // Words loaded ahead but never needed leave the check again (at most two).
  for (ptrdiff_t i = wordCount - 1 - ptrdiff_t(needed); i > next; --i) {
    if (i >= 0) check ^= Load32(words + 4 * i);
  }
  return check == 0;
}

bool BlockSizesPlausible(uint32_t unpackedSize, uint32_t blockSize) {
  return blockSize >= kBlockHeaderSize + 4 && (blockSize - kBlockHeaderSize) % 4 == 0 && unpackedSize != 0 &&
         unpackedSize <= 0x7fffffffu && unpackedSize <= MaxUnpackedSize(blockSize);
}
