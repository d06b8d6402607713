// Entry packer: the inverse of UnpackEntry, with an optimal parse.
//
// The decoder writes its output from the last byte to the first, so the
// packer works on the data reversed: there the tokens form an ordinary LZ77
// parse, each match repeating bytes `offset` places earlier. The token kinds
// and their exact costs in bits:
//
//   short literal run  1-8 bytes      5 + 8 per byte
//   long literal run   9-264 bytes   11 + 8 per byte
//   2-byte match       offset <= 255     10
//   3-byte match       offset <= 511     12
//   4-byte match       offset <= 1023    13
//   long match         1-256 bytes, offset <= 4095   23
//
// The parse minimises the total bit count by dynamic programming over the
// positions of the reversed data. Three facts keep it linear:
// - a long match costs 23 bits whatever its length and offset, so only the
//   longest match at each position matters for it (any shorter length is a
//   prefix of it); the longest match within the window is found exactly by
//   a binary tree of the window's suffixes;
// - the short matches depend only on whether some offset within their limit
//   repeats 2, 3 or 4 bytes, which the most recent occurrence of those bytes
//   tells;
// - literal runs cost a fixed head plus 8 bits a byte, so the best start of a
//   run ending at a position is a sliding-window minimum.
#include "archive/pack.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>

#include "archive/unpack.h"

namespace {

constexpr int kWindow = 4095;       // largest offset a token can express
constexpr int kRing = 4096;         // ring buffers cover the whole window
constexpr int kMaxMatch = 256;      // longest match
constexpr int kShortLiteralMax = 8;
constexpr int kLongLiteralMin = 9;
constexpr int kLongLiteralMax = 264;

constexpr int kCostShortLiteralHead = 5;
constexpr int kCostLongLiteralHead = 11;
constexpr int kCostMatch2 = 10;
constexpr int kCostMatch3 = 12;
constexpr int kCostMatch4 = 13;
constexpr int kCostLongMatch = 23;

enum StepKind : uint8_t { STEP_NONE, STEP_LITERALS, STEP_SHORT_MATCH, STEP_LONG_MATCH };

// How the parse reaches a position: from position `from` by a literal run,
// by a 2-4 byte match token or by a long match, of (position - from) bytes.
struct Step {
  int32_t from;
  uint16_t offset;
  uint8_t kind;
};

// Longest match in the window for every position, by a binary search tree
// of the window's suffixes (compared up to kMaxMatch bytes). Each new
// position becomes the root and splits the tree around itself; the nodes on
// that path include its neighbours in sorted order, which share the longest
// prefix with it. Nodes sit above older nodes, so the walk stops at the first
// node that has left the window. A node equal to the new one over the whole
// compared length is replaced by it: the newer one matches the same bytes at
// a smaller offset.
class MatchTree {
 public:
  explicit MatchTree(const uint8_t* data, int size) : data_(data), size_(size) {
    std::fill(std::begin(smaller_), std::end(smaller_), -1);
    std::fill(std::begin(larger_), std::end(larger_), -1);
  }

  // Inserts position pos (called for every position in order) and returns
  // the longest match length, with its offset in *offset.
  int Insert(int pos, int* offset) {
    const int limit = std::min(kMaxMatch, size_ - pos);
    const uint8_t* current = data_ + pos;
    int32_t* smallerSlot = &smaller_[pos & (kRing - 1)];  // where the next smaller node hangs
    int32_t* largerSlot = &larger_[pos & (kRing - 1)];
    int smallerLength = 0, largerLength = 0;  // prefix shared with the bounds so far
    int best = 0;
    *offset = 0;
    int node = root_;
    root_ = pos;
    while (node >= 0 && pos - node <= kWindow) {
      const uint8_t* candidate = data_ + node;
      int length = std::min(smallerLength, largerLength);
      while (length < limit && candidate[length] == current[length]) ++length;
      if (length > best) {
        best = length;
        *offset = pos - node;
      }
      const int slot = node & (kRing - 1);
      if (length == limit) {
        *smallerSlot = smaller_[slot];
        *largerSlot = larger_[slot];
        return best;
      }
      if (candidate[length] < current[length]) {
        *smallerSlot = node;
        smallerSlot = &larger_[slot];
        node = larger_[slot];
        smallerLength = length;
      } else {
        *largerSlot = node;
        largerSlot = &smaller_[slot];
        node = smaller_[slot];
        largerLength = length;
      }
    }
    *smallerSlot = -1;
    *largerSlot = -1;
    return best;
  }

 private:
  const uint8_t* data_;
  int size_;
  int32_t root_ = -1;
  int32_t smaller_[kRing];
  int32_t larger_[kRing];
};

// Most recent earlier position whose next `Width` bytes equal those at a
// position, through hash chains over a ring that covers the window.
template <int Width>
class RecentMatch {
 public:
  explicit RecentMatch(const uint8_t* data, int size) : data_(data), size_(size) {
    std::fill(std::begin(head_), std::end(head_), -1);
  }

  // Inserts pos (every position in order) and returns the smallest offset
  // of a Width-byte repeat, or 0 if none lies within maxOffset.
  int Insert(int pos, int maxOffset) {
    if (pos + Width > size_) return 0;
    const uint8_t* current = data_ + pos;
    uint32_t key = 0;
    for (int i = 0; i < Width; ++i) key = key << 8 | current[i];
    const uint32_t hash = Width == 2 ? key : (key * 2654435761u) >> (32 - kHashBits);
    int found = 0;
    for (int node = head_[hash]; node >= 0 && pos - node <= maxOffset; node = chain_[node & (kRing - 1)]) {
      if (std::memcmp(data_ + node, current, Width) == 0) {
        found = pos - node;
        break;
      }
    }
    chain_[pos & (kRing - 1)] = head_[hash];
    head_[hash] = pos;
    return found;
  }

 private:
  static constexpr int kHashBits = 16;
  const uint8_t* data_;
  int size_;
  int32_t head_[1 << kHashBits];
  int32_t chain_[kRing];
};

// Minimum of values over a window of indices that only moves forward, each
// index carrying the last position it may serve. Entries live for at most
// kLongLiteralMax + 1 positions, so a small ring holds them all.
class WindowMinimum {
 public:
  void Push(int32_t index, int64_t value, int64_t until) {
    while (tail_ > head_ && slots_[(tail_ - 1) & kMask].value >= value) --tail_;
    slots_[tail_ & kMask] = Slot{index, value, until};
    ++tail_;
  }
  // Drops entries that cannot serve position `at` (their `until` is below it).
  void Expire(int64_t at) {
    while (head_ < tail_ && slots_[head_ & kMask].until < at) ++head_;
  }
  bool Empty() const { return head_ == tail_; }
  int32_t FrontIndex() const { return slots_[head_ & kMask].index; }
  int64_t FrontValue() const { return slots_[head_ & kMask].value; }

 private:
  static constexpr size_t kCapacity = 512;  // > the longest life of an entry
  static constexpr size_t kMask = kCapacity - 1;
  struct Slot {
    int32_t index;
    int64_t value;
    int64_t until;
  };
  Slot slots_[kCapacity];
  size_t head_ = 0, tail_ = 0;
};

// Collects token bits in decode order, then lays them out as stream words.
class BitSink {
 public:
  void Put(uint32_t value, int n) {  // most significant bit first
    for (int i = n - 1; i >= 0; --i) {
      if (count_ % 64 == 0) bits_.push_back(0);
      bits_.back() |= uint64_t((value >> i) & 1) << (count_ % 64);
      ++count_;
    }
  }

  // The block: header, then the words. The last word holds the first bits
  // below its sentinel; each word before it holds the next 32, bit 0 first.
  std::vector<uint8_t> Finish(uint32_t unpackedSize) const {
    const size_t total = count_;
    const size_t inLast = total % 32;
    const size_t wordCount = total / 32 + 1;
    std::vector<uint32_t> words(wordCount, 0);
    words[wordCount - 1] = 1u << inLast;
    for (size_t t = 0; t < total; ++t) {
      if (!((bits_[t / 64] >> (t % 64)) & 1)) continue;
      if (t < inLast) {
        words[wordCount - 1] |= 1u << t;
      } else {
        size_t rest = t - inLast;
        words[wordCount - 2 - rest / 32] |= 1u << (rest % 32);
      }
    }
    uint32_t check = 0;
    for (uint32_t w : words) check ^= w;
    const size_t blockSize = kBlockHeaderSize + 4 * wordCount;
    std::vector<uint8_t> block(blockSize);
    auto put32 = [&](size_t at, uint32_t v) {
      for (int i = 0; i < 4; ++i) block[at + i] = uint8_t(v >> (8 * i));
    };
    put32(0, unpackedSize);
    put32(4, uint32_t(blockSize));
    put32(8, check);
    for (size_t i = 0; i < wordCount; ++i) put32(kBlockHeaderSize + 4 * i, words[i]);
    return block;
  }

 private:
  std::vector<uint64_t> bits_;  // bit t of the stream is bit t % 64 of element t / 64
  size_t count_ = 0;
};

std::vector<uint8_t> PackReversed(const uint8_t* data, int size) {
  // Match search. The finders are large; they live on the heap.
  std::vector<int32_t> longest(size), longestOffset(size);
  std::vector<uint16_t> offset2(size), offset3(size), offset4(size);
  {
    auto tree = std::make_unique<MatchTree>(data, size);
    auto recent2 = std::make_unique<RecentMatch<2>>(data, size);
    auto recent3 = std::make_unique<RecentMatch<3>>(data, size);
    auto recent4 = std::make_unique<RecentMatch<4>>(data, size);
    for (int pos = 0; pos < size; ++pos) {
      int offset = 0;
      longest[pos] = tree->Insert(pos, &offset);
      longestOffset[pos] = offset;
      offset2[pos] = uint16_t(recent2->Insert(pos, 255));
      offset3[pos] = uint16_t(recent3->Insert(pos, 511));
      offset4[pos] = uint16_t(recent4->Insert(pos, 1023));
    }
  }

  // cost[i]: fewest bits that produce the first i bytes; step[i]: how.
  const int64_t kUnreached = INT64_MAX / 4;
  std::vector<int64_t> cost(size + 1, kUnreached);
  std::vector<Step> step(size + 1, Step{0, 0, STEP_NONE});
  cost[0] = 0;

  // Literal runs ending at j: short ones start in [j-8, j-1], long ones in
  // [j-264, j-9]; a run from i costs cost[i] - 8i + head + 8j. Long matches
  // reaching j start at i < j with i + longest[i] >= j; those right ends
  // never decrease with i, so this is a sliding window too.
  WindowMinimum shortRuns, longRuns, longMatches;

  auto offer = [&](int to, int64_t bits, int from, int offset, StepKind kind) {
    if (bits < cost[to]) {
      cost[to] = bits;
      step[to] = Step{from, uint16_t(offset), uint8_t(kind)};
    }
  };

  for (int j = 0; j <= size; ++j) {
    if (j > 0) {
      shortRuns.Expire(j);
      if (!shortRuns.Empty()) {
        offer(j, shortRuns.FrontValue() + kCostShortLiteralHead + 8 * int64_t(j), shortRuns.FrontIndex(), 0,
              STEP_LITERALS);
      }
      if (j >= kLongLiteralMin) {
        int start = j - kLongLiteralMin;
        longRuns.Push(start, cost[start] - 8 * int64_t(start), int64_t(start) + kLongLiteralMax);
      }
      longRuns.Expire(j);
      if (!longRuns.Empty()) {
        offer(j, longRuns.FrontValue() + kCostLongLiteralHead + 8 * int64_t(j), longRuns.FrontIndex(), 0,
              STEP_LITERALS);
      }
      longMatches.Expire(j);
      if (!longMatches.Empty()) {
        int from = longMatches.FrontIndex();
        offer(j, longMatches.FrontValue() + kCostLongMatch, from, longestOffset[from], STEP_LONG_MATCH);
      }
    }
    if (j == size) break;

    // Position j is settled: make it a start for what follows.
    shortRuns.Push(j, cost[j] - 8 * int64_t(j), int64_t(j) + kShortLiteralMax);
    longMatches.Push(j, cost[j], int64_t(j) + longest[j]);
    if (offset2[j]) offer(j + 2, cost[j] + kCostMatch2, j, offset2[j], STEP_SHORT_MATCH);
    if (offset3[j]) offer(j + 3, cost[j] + kCostMatch3, j, offset3[j], STEP_SHORT_MATCH);
    if (offset4[j]) offer(j + 4, cost[j] + kCostMatch4, j, offset4[j], STEP_SHORT_MATCH);
  }

  // Walk the steps back from the end, then emit the tokens in decode order.
  std::vector<int32_t> ends;
  for (int at = size; at > 0; at = step[at].from) ends.push_back(at);
  std::reverse(ends.begin(), ends.end());

  BitSink sink;
  for (int end : ends) {
    const Step& s = step[end];
    const int length = end - s.from;
    if (s.kind == STEP_LITERALS) {
      if (length <= kShortLiteralMax) {
        sink.Put(0, 2);
        sink.Put(uint32_t(length - 1), 3);
      } else {
        sink.Put(7, 3);
        sink.Put(uint32_t(length - kLongLiteralMin), 8);
      }
      for (int i = s.from; i < end; ++i) sink.Put(data[i], 8);
    } else if (s.kind == STEP_SHORT_MATCH && length == 2) {
      sink.Put(1, 2);
      sink.Put(s.offset, 8);
    } else if (s.kind == STEP_SHORT_MATCH && length == 3) {
      sink.Put(4, 3);
      sink.Put(s.offset, 9);
    } else if (s.kind == STEP_SHORT_MATCH) {
      sink.Put(5, 3);
      sink.Put(s.offset, 10);
    } else {
      sink.Put(6, 3);
      sink.Put(uint32_t(length - 1), 8);
      sink.Put(s.offset, 12);
    }
  }
  return sink.Finish(uint32_t(size));
}

}  // namespace

std::vector<uint8_t> PackEntry(const uint8_t* data, size_t size) {
  // An empty entry cannot be expressed (the decoder always reads a token,
  // and every token produces a byte); sizes must fit the 32-bit header.
  if (size == 0 || size > 0x7fffffffu) return {};
  std::vector<uint8_t> reversed(data, data + size);
  std::reverse(reversed.begin(), reversed.end());
  return PackReversed(reversed.data(), int(size));
}

bool AssembleArchive(const std::vector<ArchiveBlock>& entries, uint8_t priority, std::vector<uint8_t>* archive) {
  auto putU32 = [archive](uint32_t value) {
    for (int i = 0; i < 4; ++i) archive->push_back(uint8_t(value >> (8 * i)));
  };
  uint64_t total = 6 + 8;
  for (const ArchiveBlock& entry : entries) total += entry.block->size() + 8;
  if (total > 0xffffffffu) return false;
  archive->clear();
  archive->reserve(size_t(total));
  *archive = {'[', 'V', 'X', ']', 1, priority};
  std::vector<std::pair<uint32_t, uint32_t>> records;
  for (const ArchiveBlock& entry : entries) {
    records.emplace_back(entry.nameHash, uint32_t(archive->size()));
    archive->insert(archive->end(), entry.block->begin(), entry.block->end());
  }
  const uint32_t directoryOffset = uint32_t(archive->size());
  std::sort(records.begin(), records.end());
  putU32(uint32_t(records.size()));
  for (const auto& [hash, offset] : records) {
    putU32(hash);
    putU32(offset);
  }
  putU32(directoryOffset);
  return true;
}
