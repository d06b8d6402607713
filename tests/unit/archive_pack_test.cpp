// The packer: round trips through the decoder on many sizes and kinds of
// data, and the optimality of its parse against an exhaustive search.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "archive/pack.h"
#include "archive/unpack.h"
#include "tests/unit/archive_test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Packs and unpacks; fails the test if the bytes do not come back.
Bytes RoundTrip(const Bytes& data) {
  Bytes block = PackEntry(data.data(), data.size());
  EXPECT_FALSE(block.empty());
  EXPECT_EQ(archive_test::GetU32(block, 0), data.size());
  EXPECT_EQ(archive_test::GetU32(block, 4), block.size());
  Bytes out(data.size());
  EXPECT_TRUE(UnpackEntry(block.data(), block.size(), out.data(), out.size()));
  EXPECT_EQ(out, data);
  Bytes reference(data.size());
  EXPECT_TRUE(archive_test::ReferenceUnpack(block, &reference));
  return block;
}

// Bits the stream uses: 32 per word below the last, plus the last word's.
size_t StreamBits(const Bytes& block) {
  size_t words = (block.size() - 12) / 4;
  uint32_t last = archive_test::GetU32(block, block.size() - 4);
  return 32 * (words - 1) + size_t(31 - __builtin_clz(last));
}

Bytes Text(size_t size, uint32_t seed) {
  static const char* kWords[] = {"the ", "player ", "tile ", "map ", "sound ", "enemy ", "score ", "level ",
                                 "= ",   "true\n",  "end\n", "local ", "function ", "return ", "if ", "then "};
  std::mt19937 rng(seed);
  Bytes text;
  while (text.size() < size) {
    const char* word = kWords[rng() % 16];
    text.insert(text.end(), word, word + std::char_traits<char>::length(word));
  }
  text.resize(size);
  return text;
}

TEST(ArchivePack, RefusesEmptyData) {
  // An empty entry cannot be expressed by any stream.
  uint8_t none = 0;
  EXPECT_TRUE(PackEntry(&none, 0).empty());
}

TEST(ArchivePack, OneByteIsOneShortLiteralRun) {
  Bytes block = RoundTrip({0x5A});
  EXPECT_EQ(StreamBits(block), 13u);
  EXPECT_EQ(block.size(), 16u);
}

TEST(ArchivePack, RoundTripsRandomBytesOfManySizes) {
  std::mt19937 rng(1);
  for (size_t size : {1, 2, 3, 7, 8, 9, 31, 32, 33, 63, 64, 65, 255, 256, 257, 264, 265, 1000, 4095, 4096, 4097,
                      20000, 100000}) {
    Bytes data(size);
    for (auto& b : data) b = uint8_t(rng());
    Bytes block = RoundTrip(data);
    // Incompressible data costs little more than its own size.
    EXPECT_LE(block.size(), size + size / 30 + 20) << size;
  }
}

TEST(ArchivePack, RoundTripsZerosAndLongRunsCompactly) {
  for (size_t size : {2, 3, 100, 256, 257, 4096, 1 << 20}) {
    Bytes zeros(size, 0);
    Bytes block = RoundTrip(zeros);
    // One literal, then 256-byte matches of 23 bits each.
    EXPECT_LE(StreamBits(block), 13 + 23 * (size / 256 + 2)) << size;
  }
  Bytes runs;
  std::mt19937 rng(3);
  while (runs.size() < 50000) runs.insert(runs.end(), 1 + rng() % 600, uint8_t(rng()));
  Bytes block = RoundTrip(runs);
  EXPECT_LT(block.size(), runs.size() / 20);
}

TEST(ArchivePack, RoundTripsTextAndStructuredData) {
  Bytes text = Text(30000, 5);
  EXPECT_LT(RoundTrip(text).size(), text.size() / 2);

  // 16-bit map cells and a repeating image row with a far repeat (past the window).
  Bytes map;
  std::mt19937 rng(9);
  for (int i = 0; i < 20000; ++i) {
    uint16_t cell = uint16_t(rng() % 5 ? 17 : rng() % 300);
    map.push_back(uint8_t(cell));
    map.push_back(uint8_t(cell >> 8));
  }
  RoundTrip(map);
  Bytes image;
  for (int row = 0; row < 200; ++row) {
    for (int x = 0; x < 320; ++x) image.push_back(uint8_t((x / 16 + row / 16) % 7));
  }
  RoundTrip(image);
  Bytes far = Text(6000, 11);
  far.insert(far.end(), far.begin(), far.begin() + 3000);  // repeat from 6000 back: out of reach
  RoundTrip(far);
}

TEST(ArchivePack, RoundTripsMixedRandomStreams) {
  std::mt19937 rng(77);
  for (int iteration = 0; iteration < 300; ++iteration) {
    size_t size = 1 + rng() % (iteration < 200 ? 400 : 30000);
    int alphabet = 1 + int(rng() % 8);
    Bytes data(size);
    for (size_t i = 0; i < size; ++i) {
      bool repeat = i > 0 && rng() % 3;
      data[i] = repeat ? data[i - 1 - rng() % std::min<size_t>(i, 1 + rng() % 5000)] : uint8_t(rng() % alphabet * 37);
    }
    RoundTrip(data);
    if (HasFailure()) FAIL() << "iteration " << iteration;
  }
}

// The fewest bits any parse can reach, by trying every token at every
// position with every offset (small inputs only).
size_t ExhaustiveBits(const Bytes& data) {
  Bytes r(data.rbegin(), data.rend());  // the decoder produces the data backwards
  const size_t n = r.size();
  std::vector<size_t> best(n + 1, SIZE_MAX);
  best[0] = 0;
  for (size_t i = 0; i < n; ++i) {
    for (size_t k = 1; k <= 264 && i + k <= n; ++k) {
      best[i + k] = std::min(best[i + k], best[i] + (k <= 8 ? 5 : 11) + 8 * k);
    }
    for (size_t offset = 1; offset <= std::min<size_t>(i, 4095); ++offset) {
      size_t length = 0;
      while (length < 256 && i + length < n && r[i - offset + length] == r[i + length]) ++length;
      for (size_t k = 1; k <= length; ++k) {
        size_t cost = 23;
        if (k == 2 && offset <= 255) cost = 10;
        if (k == 3 && offset <= 511) cost = 12;
        if (k == 4 && offset <= 1023) cost = 13;
        best[i + k] = std::min(best[i + k], best[i] + cost);
      }
    }
  }
  return best[n];
}

TEST(ArchivePack, ParseIsOptimal) {
  std::mt19937 rng(12);
  for (int iteration = 0; iteration < 60; ++iteration) {
    size_t size = 1 + rng() % 600;
    int alphabet = 1 + int(rng() % 6);
    Bytes data(size);
    for (size_t i = 0; i < size; ++i) {
      data[i] = i > 10 && rng() % 2 ? data[i - 1 - rng() % std::min<size_t>(i, 300)] : uint8_t(rng() % alphabet);
    }
    Bytes block = RoundTrip(data);
    ASSERT_EQ(StreamBits(block), ExhaustiveBits(data)) << "iteration " << iteration;
  }
}

TEST(ArchivePack, StreamHasTheLayoutTheDecoderExpects) {
  // Every word is loaded: the check is the XOR of all of them, and the last
  // word holds a sentinel.
  Bytes block = RoundTrip(Text(5000, 2));
  uint32_t check = 0;
  for (size_t at = 12; at < block.size(); at += 4) check ^= archive_test::GetU32(block, at);
  EXPECT_EQ(check, archive_test::GetU32(block, 8));
  EXPECT_NE(archive_test::GetU32(block, block.size() - 4), 0u);
  size_t loaded = 0;
  Bytes out(5000);
  ASSERT_TRUE(archive_test::ReferenceUnpack(block, &out, &loaded));
  EXPECT_EQ(loaded, (block.size() - 12) / 4);
}

}  // namespace
