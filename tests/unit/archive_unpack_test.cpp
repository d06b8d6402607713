// The entry decoder on hand-built streams: every token kind, the layout's
// edge cases, the check word, and every kind of malformed block.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "archive/unpack.h"
#include "tests/unit/archive_test_support.h"

namespace {

using archive_test::GetU32;
using archive_test::PutU32;
using archive_test::ReferenceUnpack;
using archive_test::Stream;

using Bytes = std::vector<uint8_t>;

// Unpacks with the fast decoder; the output is empty on failure.
bool Unpack(const Bytes& block, Bytes* output) {
  size_t size = block.size() >= 4 ? GetU32(block, 0) : 0;
  output->assign(size, 0xEE);
  return UnpackEntry(block.data(), block.size(), output->data(), output->size());
}

Bytes Range(int count, int first = 0) {
  Bytes bytes;
  for (int i = 0; i < count; ++i) bytes.push_back(uint8_t(first + i));
  return bytes;
}

// ---- token kinds ----------------------------------------------------------

TEST(ArchiveUnpack, ShortLiteralRunFillsTheOutputFromItsEnd) {
  Bytes out;
  ASSERT_TRUE(Unpack(Stream().ShortLiterals({'c', 'b', 'a'}).Block(3), &out));
  EXPECT_EQ(out, (Bytes{'a', 'b', 'c'}));
}

TEST(ArchiveUnpack, OneByteOutputDecodesExactlyOneToken) {
  // Bits after the first token are never read, and the word below is never loaded.
  Stream stream;
  stream.ShortLiterals({0x42}).Bits(0x7, 3);
  Bytes block = stream.Block(1, 1);
  Bytes out;
  ASSERT_TRUE(Unpack(block, &out));
  EXPECT_EQ(out, Bytes{0x42});
  size_t loaded = 0;
  Bytes reference(1);
  EXPECT_TRUE(ReferenceUnpack(block, &reference, &loaded));
  EXPECT_EQ(loaded, 1u);
}

TEST(ArchiveUnpack, LiteralThenTwoByteMatchAtOffsetOneEndsWithThreeEqualBytes) {
  Bytes out;
  ASSERT_TRUE(Unpack(Stream().ShortLiterals({'x', 'q'}).Match2(1).Block(4), &out));
  // 'x' at the end, 'q' below it, then two copies of the byte above.
  EXPECT_EQ(out, (Bytes{'q', 'q', 'q', 'x'}));
}

TEST(ArchiveUnpack, ShortMatchesCopyFromTheirOffsets) {
  Bytes out;
  Bytes lit = Range(8, 1);  // output ends 8 7 6 5 4 3 2 1
  ASSERT_TRUE(Unpack(Stream().ShortLiterals(lit).Match2(8).Match3(5).Match4(10).Block(17), &out));
  Bytes expected(17);
  for (int i = 0; i < 8; ++i) expected[16 - i] = uint8_t(i + 1);
  for (int pos = 8; pos >= 0; --pos) {
    int offset = pos >= 7 ? 8 : pos >= 4 ? 5 : 10;
    expected[pos] = expected[pos + offset];
  }
  EXPECT_EQ(out, expected);
}

TEST(ArchiveUnpack, LargestOffsetOfEachMatchKindReachesTheEnd) {
  struct Case {
    int length, offset;
  } cases[] = {{2, 255}, {3, 511}, {4, 1023}, {200, 4095}};
  for (const Case& c : cases) {
    Bytes lit(c.offset);
    std::mt19937 rng(c.offset);
    for (auto& b : lit) b = uint8_t(rng());
    Stream stream;
    for (size_t i = 0; i < lit.size(); i += 264) {
      Bytes run(lit.begin() + i, lit.begin() + std::min(lit.size(), i + 264));
      if (run.size() >= 9) stream.LongLiterals(run);
      else stream.ShortLiterals(run);
    }
    if (c.length == 2) stream.Match2(c.offset);
    else if (c.length == 3) stream.Match3(c.offset);
    else if (c.length == 4) stream.Match4(c.offset);
    else stream.LongMatch(c.length, c.offset);
    uint32_t size = uint32_t(c.offset + c.length);
    Bytes out;
    ASSERT_TRUE(Unpack(stream.Block(size), &out)) << c.offset;
    for (int i = 0; i < c.length; ++i) EXPECT_EQ(out[size - 1 - c.offset - i], lit[i]) << c.offset;
  }
}

TEST(ArchiveUnpack, LongMatchLengthFieldRunsFromOneToTwoHundredFiftySixBytes) {
  Bytes out;
  ASSERT_TRUE(Unpack(Stream().ShortLiterals({9}).LongMatch(1, 1).Block(2), &out));
  EXPECT_EQ(out, (Bytes{9, 9}));
  ASSERT_TRUE(Unpack(Stream().ShortLiterals({7, 8}).LongMatch(256, 2).Block(258), &out));
  for (int i = 0; i < 258; ++i) EXPECT_EQ(out[257 - i], i % 2 ? 8 : 7) << i;
}

TEST(ArchiveUnpack, LongLiteralCountFieldRunsFromNineToTwoHundredSixtyFour) {
  Bytes out;
  ASSERT_TRUE(Unpack(Stream().LongLiterals(Range(9)).Block(9), &out));
  EXPECT_EQ(out, (Bytes{8, 7, 6, 5, 4, 3, 2, 1, 0}));
  Bytes many = Range(264);
  ASSERT_TRUE(Unpack(Stream().LongLiterals(many).Block(264), &out));
  for (int i = 0; i < 264; ++i) EXPECT_EQ(out[263 - i], many[i]);
}

TEST(ArchiveUnpack, ShortOffsetsRepeatAPattern) {
  Bytes out;
  ASSERT_TRUE(Unpack(Stream().ShortLiterals({1, 2, 3}).LongMatch(10, 3).Block(13), &out));
  EXPECT_EQ(out, (Bytes{1, 3, 2, 1, 3, 2, 1, 3, 2, 1, 3, 2, 1}));
}

// Long runs of a short pattern (a repeated 16-bit map cell has offset 2)
// take a quicker way than byte by byte: every offset below the 8-byte piece
// size, every length around the piece boundaries, ending at the start of
// the output or with bytes still to come below.
TEST(ArchiveUnpack, LongRunsOfShortPatternsAgreeWithBitByBitDecoding) {
  for (uint32_t offset = 1; offset <= 12; ++offset) {
    for (uint32_t length : {16u, 17u, 23u, 24u, 25u, 31u, 100u, 255u, 256u}) {
      for (int after : {0, 1, 3, 9}) {
        Bytes pattern = Range(int(std::max(offset, 9u)), 40);
        Stream stream;
        stream.LongLiterals(pattern);
        stream.LongMatch(length, offset);
        if (after >= 9) stream.LongLiterals(Range(after, 90));
        else if (after > 0) stream.ShortLiterals(Range(after, 90));
        uint32_t size = uint32_t(pattern.size()) + length + uint32_t(after);
        Bytes block = stream.Block(size);
        Bytes reference(size), out;
        ASSERT_TRUE(ReferenceUnpack(block, &reference));
        ASSERT_TRUE(Unpack(block, &out)) << offset << " " << length << " " << after;
        ASSERT_EQ(out, reference) << offset << " " << length << " " << after;
      }
    }
  }
}

// ---- layout of the words --------------------------------------------------

TEST(ArchiveUnpack, LastWordOfOneOrZeroCarriesNoBits) {
  // 13 bits of one short literal run, all in the word below the last.
  Stream stream;
  stream.ShortLiterals({0xA5});
  std::vector<uint32_t> words = stream.Words();
  ASSERT_EQ(words.size(), 1u);
  uint32_t payload = words[0] & 0x1fff;  // the 13 bits below the sentinel
  for (uint32_t last : {1u, 0u}) {
    Bytes block = Stream::MakeBlock(1, {payload, last}, payload ^ last);
    Bytes out;
    EXPECT_TRUE(Unpack(block, &out)) << last;
    EXPECT_EQ(out, Bytes{0xA5}) << last;
  }
}

TEST(ArchiveUnpack, BitCountMultipleOf32EndsWithAWordEqualToOne) {
  Stream exact;
  exact.LongLiterals(Range(9)).ShortLiterals({1});  // 11 + 72 + 13 = 96 bits
  ASSERT_EQ(exact.BitCount() % 32, 0u);
  std::vector<uint32_t> words = exact.Words();
  EXPECT_EQ(words.back(), 1u);
  EXPECT_EQ(words.size(), 4u);
  Bytes out;
  ASSERT_TRUE(Unpack(exact.Block(10), &out));
  EXPECT_EQ(out, (Bytes{1, 8, 7, 6, 5, 4, 3, 2, 1, 0}));
}

TEST(ArchiveUnpack, CheckCoversExactlyTheWordsLoaded) {
  // The fast decoder reads words ahead; words it never needed stay out of
  // the check. Streams ending at every bit position within a word, with zero
  // to three unused words below them.
  for (int extraLiterals = 1; extraLiterals <= 40; ++extraLiterals) {
    Stream stream;
    for (int i = 0; i < extraLiterals; ++i) stream.ShortLiterals({uint8_t(i)});
    for (int unused = 0; unused <= 3; ++unused) {
      Bytes block = stream.Block(uint32_t(extraLiterals), unused);
      Bytes out;
      EXPECT_TRUE(Unpack(block, &out)) << extraLiterals << " " << unused;
      // Folding an unused word into the check makes it fail.
      if (unused > 0) {
        PutU32(&block, 8, GetU32(block, 8) ^ GetU32(block, 12));
        EXPECT_FALSE(Unpack(block, &out)) << extraLiterals << " " << unused;
      }
    }
  }
}

TEST(ArchiveUnpack, AChangedCheckWordOrStreamWordFails) {
  Stream stream;
  stream.LongLiterals(Range(40)).Match4(7).LongMatch(100, 30).ShortLiterals({1, 2});
  Bytes block = stream.Block(146);
  Bytes out;
  ASSERT_TRUE(Unpack(block, &out));

  Bytes badCheck = block;
  badCheck[8] ^= 0x10;
  EXPECT_FALSE(Unpack(badCheck, &out));

  // Flipping a literal bit keeps the words loaded the same.
  for (size_t word = 12; word < block.size(); word += 4) {
    Bytes changed = block;
    size_t loaded = 0;
    Bytes reference(146);
    changed[word + 3] ^= 0x01;  // bit 24 of the word
    bool referenceResult = ReferenceUnpack(changed, &reference, &loaded);
    bool result = Unpack(changed, &out);
    EXPECT_EQ(result, referenceResult) << word;
    if (loaded == (block.size() - 12) / 4) {
      EXPECT_FALSE(result) << word;
    }
  }
}

// ---- malformed blocks -----------------------------------------------------

TEST(ArchiveUnpack, RefusesBlocksWhoseSizesDisagree) {
  Bytes block = Stream().ShortLiterals({1, 2}).Block(2);
  Bytes out(2);
  EXPECT_TRUE(UnpackEntry(block.data(), block.size(), out.data(), 2));
  // Unpacked size different from the output buffer.
  EXPECT_FALSE(UnpackEntry(block.data(), block.size(), out.data(), 1));
  // Block size field different from the buffer.
  Bytes wrongSize = block;
  PutU32(&wrongSize, 4, uint32_t(block.size() + 4));
  EXPECT_FALSE(UnpackEntry(wrongSize.data(), wrongSize.size(), out.data(), 2));
  // Not a whole number of words, or no word at all.
  Bytes ragged = block;
  ragged.push_back(0);
  PutU32(&ragged, 4, uint32_t(ragged.size()));
  EXPECT_FALSE(UnpackEntry(ragged.data(), ragged.size(), out.data(), 2));
  Bytes headerOnly(block.begin(), block.begin() + 12);
  PutU32(&headerOnly, 4, 12);
  EXPECT_FALSE(UnpackEntry(headerOnly.data(), headerOnly.size(), out.data(), 2));
  EXPECT_FALSE(UnpackEntry(block.data(), 11, out.data(), 2));
}

TEST(ArchiveUnpack, RefusesAnUnpackedSizeOfZero) {
  // No stream can express it: a token always produces at least one byte.
  Bytes block = Stream().ShortLiterals({1}).Block(0);
  uint8_t none = 0;
  EXPECT_FALSE(UnpackEntry(block.data(), block.size(), &none, 0));
}

TEST(ArchiveUnpack, RefusesWritesBelowTheOutput) {
  Bytes out;
  EXPECT_FALSE(Unpack(Stream().ShortLiterals({1, 2, 3}).Block(2), &out));
  EXPECT_FALSE(Unpack(Stream().LongLiterals(Range(20)).Block(19), &out));
  EXPECT_FALSE(Unpack(Stream().ShortLiterals({1}).LongMatch(5, 1).Block(5), &out));
  EXPECT_FALSE(Unpack(Stream().ShortLiterals({1, 2, 3}).Match4(1).Block(6), &out));
}

TEST(ArchiveUnpack, RefusesMatchesFromBeyondTheOutputOrAtOffsetZero) {
  Bytes out;
  // Offset 2 after one byte: the source lies past the end.
  EXPECT_FALSE(Unpack(Stream().ShortLiterals({1}).Match2(2).Block(3), &out));
  EXPECT_FALSE(Unpack(Stream().ShortLiterals({1, 2}).LongMatch(4, 4095).Block(6), &out));
  // A match as the first token has nothing to copy.
  EXPECT_FALSE(Unpack(Stream().Match3(1).Block(3), &out));
  EXPECT_FALSE(Unpack(Stream().ShortLiterals({1}).Match2(0).Block(3), &out));
  EXPECT_FALSE(Unpack(Stream().ShortLiterals({1, 2, 3, 4}).LongMatch(3, 0).Block(7), &out));
}

TEST(ArchiveUnpack, RefusesAStreamThatRunsOutOfWords) {
  // Tokens for 12 bytes, but the header claims 20: the decoder would go on
  // reading the header as stream words.
  Bytes out;
  EXPECT_FALSE(Unpack(Stream().ShortLiterals(Range(8)).ShortLiterals(Range(4)).Block(20), &out));
  // Cut off mid-token: the last word alone, holding half a literal run.
  Stream stream;
  stream.LongLiterals(Range(30));
  std::vector<uint32_t> words = stream.Words();
  Bytes cut = Stream::MakeBlock(30, {words.back()}, words.back());
  EXPECT_FALSE(Unpack(cut, &out));
}

// ---- against the bit-by-bit reading ---------------------------------------

// Random token sequences, well formed and not, must give the same verdict
// and (when accepted) the same bytes as the plain decoder.
TEST(ArchiveUnpack, AgreesWithBitByBitDecodingOnRandomStreams) {
  std::mt19937 rng(2024);
  for (int iteration = 0; iteration < 3000; ++iteration) {
    Stream stream;
    size_t produced = 0;
    int tokens = 1 + int(rng() % 40);
    bool sloppy = iteration % 3 == 0;  // offsets and sizes may break the rules
    for (int t = 0; t < tokens; ++t) {
      int kind = int(rng() % 6);
      auto offset = [&](uint32_t limit) {
        uint32_t most = std::min<uint32_t>(limit, uint32_t(produced));
        if (sloppy || most == 0) return uint32_t(rng() % (limit + 1));
        return 1 + uint32_t(rng() % most);
      };
      if (produced == 0 && !sloppy) kind = kind % 2 ? 0 : 5;
      switch (kind) {
        case 0: {
          Bytes lit(1 + rng() % 8);
          for (auto& b : lit) b = uint8_t(rng());
          stream.ShortLiterals(lit);
          produced += lit.size();
          break;
        }
        case 1: stream.Match2(offset(255)); produced += 2; break;
        case 2: stream.Match3(offset(511)); produced += 3; break;
        case 3: stream.Match4(offset(1023)); produced += 4; break;
        case 4: {
          uint32_t length = 1 + rng() % 256;
          stream.LongMatch(length, offset(4095));
          produced += length;
          break;
        }
        default: {
          Bytes lit(9 + rng() % 256);
          for (auto& b : lit) b = uint8_t(rng());
          stream.LongLiterals(lit);
          produced += lit.size();
          break;
        }
      }
    }
    uint32_t size = uint32_t(produced);
    if (sloppy && rng() % 2) size = uint32_t(rng() % (produced + 20) + 1);
    Bytes block = stream.Block(size, int(rng() % 3));
    if (sloppy && rng() % 4 == 0) block[12 + rng() % (block.size() - 12)] ^= uint8_t(1 << (rng() % 8));
    Bytes reference(size);
    bool expected = ReferenceUnpack(block, &reference);
    Bytes out;
    bool result = Unpack(block, &out);
    ASSERT_EQ(result, expected) << iteration;
    if (!sloppy) {
      ASSERT_TRUE(expected) << iteration;
    }
    if (expected) {
      ASSERT_EQ(out, reference) << iteration;
    }
  }
}

// Arbitrary bytes as blocks: never a read or write outside the buffers
// (the sanitizer build watches), and the verdict of the plain decoder.
TEST(ArchiveUnpack, SurvivesRandomBlocks) {
  std::mt19937 rng(7);
  for (int iteration = 0; iteration < 20000; ++iteration) {
    size_t words = 1 + rng() % 8;
    Bytes block(12 + 4 * words);
    for (auto& b : block) b = uint8_t(rng());
    uint32_t size = 1 + rng() % 64;
    PutU32(&block, 0, size);
    PutU32(&block, 4, uint32_t(block.size()));
    // Make the check right half the time so the bounds tests decide.
    if (iteration % 2) {
      Bytes probe(size);
      size_t loaded = 0;
      ReferenceUnpack(block, &probe, &loaded);
      uint32_t check = 0;
      for (size_t i = 0; i < loaded && i < words; ++i) check ^= GetU32(block, block.size() - 4 - 4 * i);
      PutU32(&block, 8, check);
    }
    Bytes reference(size);
    bool expected = ReferenceUnpack(block, &reference);
    Bytes out;
    ASSERT_EQ(Unpack(block, &out), expected) << iteration;
    if (expected) {
      ASSERT_EQ(out, reference);
    }
  }
}

TEST(ArchiveUnpack, LargestUnpackedSizeBoundsWhatABlockCanProduce) {
  // 23 bits per 256-byte match: a block of one word makes at most 256 bytes.
  Stream stream;
  stream.ShortLiterals({1}).LongMatch(256, 1);  // 36 bits: two words
  Bytes block = stream.Block(257);
  EXPECT_LE(257u, MaxUnpackedSize(block.size()));
  EXPECT_EQ(MaxUnpackedSize(16), 512u);
  EXPECT_EQ(MaxUnpackedSize(11), 0u);
}

}  // namespace
