// The name hash: MurmurHash3 x86_32 against vectors computed by a separate,
// plain implementation of the published algorithm (not this code).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "archive/name_hash.h"

namespace {

uint32_t Hash(const std::string& bytes, uint32_t seed) { return MurmurHash3_x86_32(bytes.data(), bytes.size(), seed); }

TEST(ArchiveNameHash, MatchesKnownVectorsForEmptyInput) {
  EXPECT_EQ(Hash("", 0), 0x00000000u);
  EXPECT_EQ(Hash("", 1), 0x514E28B7u);
  EXPECT_EQ(Hash("", 0xffffffffu), 0x81F16F39u);
}

TEST(ArchiveNameHash, MatchesKnownVectorsForText) {
  EXPECT_EQ(Hash("hello", 0), 0x248BFA47u);
  EXPECT_EQ(Hash("The quick brown fox jumps over the lazy dog", 0x9747b28cu), 0x2FA826CDu);
}

TEST(ArchiveNameHash, EveryTailLengthFollowsTheAlgorithm) {
  // One to three bytes of tail, and none.
  EXPECT_EQ(Hash("a", 735), 0xCF8AAB6Eu);
  EXPECT_EQ(Hash("ab", 735), 0x55526552u);
  EXPECT_EQ(Hash("abc", 735), 0x6BFEB603u);
  EXPECT_EQ(Hash("abcd", 735), 0x34331257u);
  std::string all(256, '\0');
  for (int i = 0; i < 256; ++i) all[i] = char(i);
  EXPECT_EQ(Hash(all, 735), 0xFAFB7715u);
}

TEST(ArchiveNameHash, NamesUseSeed735AndAreCaseSensitive) {
  EXPECT_EQ(kNameHashSeed, 735u);
  EXPECT_EQ(NameHash("boot.prg", 8), 0xBC3AC96Du);
  EXPECT_EQ(NameHash("Boot.prg", 8), 0x44AA11AEu);
  EXPECT_EQ(NameHash("gfx/tiles.pcx", 13), 0x0652A5B5u);
  EXPECT_NE(NameHash("./boot.prg", 10), NameHash("boot.prg", 8));
}

TEST(ArchiveNameHash, TwoKnownNamesCollide) {
  // Found by searching with the separate implementation; the pack tests rely on it.
  EXPECT_EQ(NameHash("f7081.txt", 9), 0xE80692D1u);
  EXPECT_EQ(NameHash("f85367.txt", 10), 0xE80692D1u);
}

}  // namespace
