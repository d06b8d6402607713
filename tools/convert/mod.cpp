// ProTracker-style MOD modules (31 samples, 4 to 32 channels) read into the
// shared source record. Periods become note numbers here; how their pitch
// is kept is decided in tracker_convert.cpp.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "audio/byte_reader.h"
#include "tools/convert/tracker_source.h"

namespace tracker_source {

namespace {

constexpr size_t kSampleCount = 31;
constexpr size_t kSampleHeaderOffset = 20;
constexpr size_t kSampleHeaderBytes = 30;
constexpr size_t kOrderCountOffset = 950;
constexpr size_t kOrdersOffset = 952;
constexpr size_t kTagOffset = 1080;
constexpr size_t kPatternsOffset = 1084;
constexpr int kRows = 64;

// The channel count a format tag stands for, 0 for an unknown tag.
int ChannelsOfTag(const uint8_t* tag) {
  auto is = [tag](const char* text) { return std::memcmp(tag, text, 4) == 0; };
  auto digit = [](uint8_t c) { return c >= '0' && c <= '9'; };
  if (is("M.K.") || is("M!K!") || is("M&K!") || is("FLT4") || is("4CHN") || is("N.T.")) return 4;
  if (is("FLT8") || is("OKTA") || is("OCTA") || is("CD81")) return 8;
  // "6CHN", "8CHN" ...: one digit.
  if (digit(tag[0]) && std::memcmp(tag + 1, "CHN", 3) == 0) return tag[0] - '0';
  // "10CH", "16CH", "32CN" ...: two digits.
  if (digit(tag[0]) && digit(tag[1]) && (std::memcmp(tag + 2, "CH", 2) == 0 || std::memcmp(tag + 2, "CN", 2) == 0)) {
    return (tag[0] - '0') * 10 + (tag[1] - '0');
  }
  // "TDZ4" ... "TDZ9" (TakeTracker).
  if (std::memcmp(tag, "TDZ", 3) == 0 && digit(tag[3])) return tag[3] - '0';
  return 0;
}

// The note (49 = period 428, the Amiga's C-2) nearest to a period in pitch.
uint8_t NoteOfPeriod(uint32_t period) {
  double note = 49.0 + 12.0 * std::log2(428.0 / period);
  long n = std::lround(note);
  return static_cast<uint8_t>(n < 1 ? 1 : n > 96 ? 96 : n);
}

std::string Format(const char* format, unsigned a, unsigned b = 0) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

}  // namespace

bool ReadMod(const uint8_t* data, size_t size, Song* song, std::string* error) {
  if (size < kPatternsOffset) {
    *error = "the file ends inside the module header";
    return false;
  }
  int channels = ChannelsOfTag(data + kTagOffset);
  if (channels == 0) {
    // Without a tag the file may be an old 15-sample module, or no MOD at
    // all; neither can be told apart reliably from a damaged file.
    *error = "no known format tag at offset 1080 (M.K., FLT4, 8CHN, 16CH ...); old 15-sample modules are not supported";
    return false;
  }
  if (channels > 32) {
    *error = Format("%u channels (4 to 32 allowed)", static_cast<unsigned>(channels));
    return false;
  }
  bool flt8 = std::memcmp(data + kTagOffset, "FLT8", 4) == 0;
  ByteReader in(data, size);
  song->mod = true;
  song->linear = false;
  song->channels = static_cast<uint16_t>(channels);
  song->speed = 6;
  song->bpm = 125;

  song->instruments.resize(kSampleCount);
  in.Seek(kSampleHeaderOffset);
  for (size_t s = 0; s < kSampleCount; ++s) {
    in.Take(22);  // name
    uint32_t lengthWords = in.U16();  // lengths are big-endian words
    uint32_t length = ((lengthWords & 0xFF) << 8 | lengthWords >> 8) * 2u;
    uint8_t finetune = in.U8() & 15;
    uint8_t volume = in.U8();
    uint32_t loopStartWords = in.U16();
    uint32_t loopLengthWords = in.U16();
    loopStartWords = (loopStartWords & 0xFF) << 8 | loopStartWords >> 8;
    loopLengthWords = (loopLengthWords & 0xFF) << 8 | loopLengthWords >> 8;
    Instrument& instrument = song->instruments[s];
    if (length == 0) continue;  // an empty slot: an instrument without samples
    Sample sample;
    sample.length = length;
    sample.byteCount = length;
    sample.deltaCoded = false;
    sample.volume = volume > 64 ? 64 : volume;
    sample.finetune = static_cast<int8_t>(finetune >= 8 ? (finetune - 16) * 16 : finetune * 16);
    // A loop of one word is ProTracker's "no loop".
    if (loopLengthWords > 1) {
      uint64_t start = loopStartWords * 2ull, end = start + loopLengthWords * 2ull;
      if (end > length) end = length;  // trackers clip loops to the sample
      if (start < end) {
        sample.loop = LoopKind::Forward;
        sample.loopStart = static_cast<uint32_t>(start);
        sample.loopLength = static_cast<uint32_t>(end - start);
      }
    }
    instrument.samples.push_back(sample);
  }
  in.Seek(kOrderCountOffset);
  uint32_t songLength = in.U8();
  song->restart = in.U8();  // 127 in most files: no restart position
  const uint8_t* orders = in.Take(128);
  if (in.failed) {
    *error = "the file ends inside the module header";
    return false;
  }
  if (songLength == 0 || songLength > 128) {
    *error = Format("a song length of %u orders (1 to 128 allowed)", songLength);
    return false;
  }
  if (song->restart >= songLength) song->restart = 0;
  // Trackers count every entry of the table, played or not, to know how
  // many patterns the file holds.
  uint32_t highest = 0;
  for (int o = 0; o < 128; ++o) highest = orders[o] > highest ? orders[o] : highest;
  if (flt8) highest /= 2;  // FLT8 pairs 4-channel patterns, named by even numbers
  uint32_t patternCount = highest + 1;
  song->orders.assign(orders, orders + songLength);
  if (flt8) {
    for (uint8_t& o : song->orders) o = static_cast<uint8_t>(o / 2);
  }

  uint64_t patternBytes = static_cast<uint64_t>(kRows) * channels * 4;
  if (kPatternsOffset + patternCount * patternBytes > size) {
    *error = Format("%u patterns run past the end of the file", patternCount);
    return false;
  }
  song->patterns.resize(patternCount);
  for (uint32_t p = 0; p < patternCount; ++p) {
    Pattern& pattern = song->patterns[p];
    pattern.rows = kRows;
    pattern.cells.resize(static_cast<size_t>(kRows) * channels);
    const uint8_t* base = data + kPatternsOffset + p * patternBytes;
    for (int row = 0; row < kRows; ++row) {
      for (int ch = 0; ch < channels; ++ch) {
        const uint8_t* c;
        if (flt8) {
          // Channels 0-3 from the first 4-channel pattern, 4-7 from the second.
          c = base + (ch / 4) * (kRows * 16) + row * 16 + (ch % 4) * 4;
        } else {
          c = base + (static_cast<size_t>(row) * channels + ch) * 4;
        }
        Cell& cell = pattern.cells[static_cast<size_t>(row) * channels + ch];
        uint32_t period = static_cast<uint32_t>(c[0] & 0x0F) << 8 | c[1];
        cell.instrument = static_cast<uint8_t>((c[0] & 0xF0) | c[2] >> 4);
        cell.note = period ? NoteOfPeriod(period) : 0;
        cell.effect = c[2] & 0x0F;
        cell.param = c[3];
      }
    }
  }
  size_t at = kPatternsOffset + patternCount * patternBytes;
  for (size_t s = 0; s < kSampleCount; ++s) {
    for (Sample& sample : song->instruments[s].samples) {
      if (sample.byteCount > size - at) {
        *error = Format("sample %u: its data run past the end of the file", static_cast<unsigned>(s + 1));
        return false;
      }
      sample.data = data + at;
      at += sample.byteCount;
    }
  }
  return true;
}

}  // namespace tracker_source
