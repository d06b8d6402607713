// XM and MOD modules built in memory for the converter's tests, the way a
// tracker saves them. Defaults make a small valid module, so a test states
// only what it is about:
//
//   xmfile::Module m;                          // 1 channel, one 64-row pattern
//   m.instruments.push_back(xmfile::Instrument::Of(xmfile::Sample::Square()));
//   m.patterns[0].Put(0, 0, {49, 1});          // row 0, channel 0: C-4, instrument 1
//   std::vector<uint8_t> bytes = m.Bytes();
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tracker_files {

inline void Put8(std::vector<uint8_t>& out, uint32_t v) { out.push_back(static_cast<uint8_t>(v & 0xFF)); }
inline void Put16(std::vector<uint8_t>& out, uint32_t v) {
  Put8(out, v);
  Put8(out, v >> 8);
}
inline void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
inline void PutText(std::vector<uint8_t>& out, const char* text, size_t width) {
  size_t n = std::strlen(text);
  for (size_t i = 0; i < width; ++i) out.push_back(i < n ? static_cast<uint8_t>(text[i]) : 0);
}
inline void Put16Big(std::vector<uint8_t>& out, uint32_t v) {
  Put8(out, v >> 8);
  Put8(out, v);
}

}  // namespace tracker_files

namespace xmfile {

using namespace tracker_files;

// {note, instrument, volume column, effect, parameter}, as FastTracker 2 shows them.
struct Cell {
  uint8_t note = 0;
  uint8_t instrument = 0;
  uint8_t volume = 0;
  uint8_t effect = 0;
  uint8_t param = 0;
};

struct Pattern {
  uint16_t rows = 64;
  std::map<std::pair<int, int>, Cell> cells;  // (row, channel) -> cell
  Pattern() = default;
  explicit Pattern(uint16_t count) : rows(count) {}
  Pattern& Put(int row, int channel, Cell cell) {
    cells[{row, channel}] = cell;
    return *this;
  }
};

struct Envelope {
  uint8_t flags = 0;  // 1 on, 2 sustain, 4 loop
  uint8_t sustain = 0, loopStart = 0, loopEnd = 0;
  std::vector<std::pair<uint16_t, uint16_t>> points;  // (tick, value)
  int countField = -1;                               // the point count written; -1 = the real one
};

struct Sample {
  std::vector<int> values;  // -128..127, or -32768..32767 when sixteenBit
  bool sixteenBit = false;
  uint32_t loopStart = 0, loopLength = 0;  // in values
  uint8_t loopType = 0;                    // 0 none, 1 forward, 2 ping-pong
  uint8_t volume = 64;
  int8_t finetune = 0;
  uint8_t panning = 128;
  int8_t relativeNote = 0;
  int64_t lengthField = -1;  // the byte length written; -1 = the real one

  // `count` 8-bit values of a square wave, looped whole.
  static Sample Square(uint32_t count = 32, int amplitude = 100) {
    Sample s;
    for (uint32_t i = 0; i < count; ++i) s.values.push_back(i < count / 2 ? amplitude : -amplitude);
    s.loopType = 1;
    s.loopLength = count;
    return s;
  }
};

struct Instrument {
  std::vector<Sample> samples;
  std::array<uint8_t, 96> keymap{};  // entry n-1: the sample of note n
  Envelope volumeEnvelope, panningEnvelope;
  uint16_t fadeout = 0;
  uint8_t vibratoDepth = 0;

  static Instrument Of(Sample s) {
    Instrument i;
    i.samples.push_back(std::move(s));
    return i;
  }
};

struct Module {
  uint16_t channels = 1;
  bool linear = true;
  uint16_t speed = 6, bpm = 125, restart = 0;
  std::vector<uint8_t> orders = {0};
  std::vector<Pattern> patterns = {Pattern()};
  std::vector<Instrument> instruments;
  int patternCountField = -1;  // written instead of the real count; -1 = the real one

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> out;
    PutText(out, "Extended Module: ", 17);
    PutText(out, "test", 20);
    Put8(out, 0x1A);
    PutText(out, "pelto tests", 20);
    Put16(out, 0x0104);
    Put32(out, 276);
    Put16(out, static_cast<uint32_t>(orders.size()));
    Put16(out, restart);
    Put16(out, channels);
    Put16(out, patternCountField >= 0 ? static_cast<uint32_t>(patternCountField) : static_cast<uint32_t>(patterns.size()));
    Put16(out, static_cast<uint32_t>(instruments.size()));
    Put16(out, linear ? 1 : 0);
    Put16(out, speed);
    Put16(out, bpm);
    for (size_t o = 0; o < 256; ++o) Put8(out, o < orders.size() ? orders[o] : 0);
    for (const Pattern& p : patterns) {
      std::vector<uint8_t> packed;
      for (int row = 0; row < p.rows; ++row) {
        for (int ch = 0; ch < channels; ++ch) {
          auto it = p.cells.find({row, ch});
          Cell c = it == p.cells.end() ? Cell{} : it->second;
          uint8_t fields[5] = {c.note, c.instrument, c.volume, c.effect, c.param};
          uint8_t mask = 0;
          for (int f = 0; f < 5; ++f) mask |= fields[f] ? (1 << f) : 0;
          // A full cell is stored plain, any other packed, as FastTracker 2 does.
          if (mask != 0x1F) packed.push_back(static_cast<uint8_t>(0x80 | mask));
          for (int f = 0; f < 5; ++f) {
            if (mask == 0x1F || fields[f]) packed.push_back(fields[f]);
          }
        }
      }
      Put32(out, 9);
      Put8(out, 0);
      Put16(out, p.rows);
      Put16(out, static_cast<uint32_t>(packed.size()));
      out.insert(out.end(), packed.begin(), packed.end());
    }
    for (const Instrument& i : instruments) {
      Put32(out, i.samples.empty() ? 29 : 263);
      PutText(out, "instrument", 22);
      Put8(out, 0);
      Put16(out, static_cast<uint32_t>(i.samples.size()));
      if (i.samples.empty()) continue;
      Put32(out, 40);
      out.insert(out.end(), i.keymap.begin(), i.keymap.end());
      for (const Envelope* e : {&i.volumeEnvelope, &i.panningEnvelope}) {
        for (size_t p = 0; p < 12; ++p) {
          Put16(out, p < e->points.size() ? e->points[p].first : 0);
          Put16(out, p < e->points.size() ? e->points[p].second : 0);
        }
      }
      for (const Envelope* e : {&i.volumeEnvelope, &i.panningEnvelope}) {
        Put8(out, e->countField >= 0 ? static_cast<uint32_t>(e->countField) : static_cast<uint32_t>(e->points.size()));
      }
      for (const Envelope* e : {&i.volumeEnvelope, &i.panningEnvelope}) {
        Put8(out, e->sustain);
        Put8(out, e->loopStart);
        Put8(out, e->loopEnd);
      }
      Put8(out, i.volumeEnvelope.flags);
      Put8(out, i.panningEnvelope.flags);
      Put8(out, 0);
      Put8(out, 0);
      Put8(out, i.vibratoDepth);
      Put8(out, 0);
      Put16(out, i.fadeout);
      Put16(out, 0);
      for (int pad = 0; pad < 20; ++pad) Put8(out, 0);  // 263 bytes in all
      std::vector<std::vector<uint8_t>> data;
      for (const Sample& s : i.samples) {
        uint32_t unit = s.sixteenBit ? 2 : 1;
        std::vector<uint8_t> d;
        int previous = 0;
        for (int v : s.values) {
          int delta = v - previous;
          previous = v;
          if (s.sixteenBit) {
            Put16(d, static_cast<uint32_t>(delta) & 0xFFFF);
          } else {
            Put8(d, static_cast<uint32_t>(delta) & 0xFF);
          }
        }
        Put32(out, s.lengthField >= 0 ? static_cast<uint32_t>(s.lengthField) : static_cast<uint32_t>(d.size()));
        Put32(out, s.loopStart * unit);
        Put32(out, s.loopLength * unit);
        Put8(out, s.volume);
        Put8(out, static_cast<uint8_t>(s.finetune));
        Put8(out, s.loopType | (s.sixteenBit ? 0x10 : 0));
        Put8(out, s.panning);
        Put8(out, static_cast<uint8_t>(s.relativeNote));
        Put8(out, 0);
        PutText(out, "sample", 22);
        data.push_back(std::move(d));
      }
      for (const auto& d : data) out.insert(out.end(), d.begin(), d.end());
    }
    return out;
  }
};

}  // namespace xmfile

namespace modfile {

using namespace tracker_files;

// The Amiga periods of notes C-1 to B-3 with finetune 0.
constexpr uint16_t kPeriods[36] = {856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453,
                                   428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 226,
                                   214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113};

struct Cell {
  uint16_t period = 0;  // 0: no note
  uint8_t sample = 0;   // 1-31, 0 none
  uint8_t effect = 0;
  uint8_t param = 0;
};

struct Sample {
  std::vector<int> values;  // -128..127; an even count
  int finetune = 0;         // -8..7
  uint8_t volume = 64;
  uint16_t loopStartWords = 0, loopLengthWords = 1;  // a loop of 1 word: none
};

struct Module {
  std::string tag = "M.K.";
  int channels = 4;
  std::vector<uint8_t> orders = {0};
  std::vector<std::map<std::pair<int, int>, Cell>> patterns = {{}};  // 64 rows each
  std::vector<Sample> samples;  // up to 31

  Module& Put(int pattern, int row, int channel, Cell cell) {
    patterns[pattern][{row, channel}] = cell;
    return *this;
  }

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> out;
    PutText(out, "test", 20);
    for (size_t s = 0; s < 31; ++s) {
      PutText(out, "sample", 22);
      const Sample* sample = s < samples.size() ? &samples[s] : nullptr;
      Put16Big(out, sample ? static_cast<uint32_t>(sample->values.size() / 2) : 0);
      Put8(out, sample ? static_cast<uint32_t>(sample->finetune & 15) : 0);
      Put8(out, sample ? sample->volume : 0);
      Put16Big(out, sample ? sample->loopStartWords : 0);
      Put16Big(out, sample ? sample->loopLengthWords : 1);
    }
    Put8(out, static_cast<uint32_t>(orders.size()));
    Put8(out, 127);
    for (size_t o = 0; o < 128; ++o) Put8(out, o < orders.size() ? orders[o] : 0);
    PutText(out, tag.c_str(), 4);
    for (const auto& pattern : patterns) {
      for (int row = 0; row < 64; ++row) {
        for (int ch = 0; ch < channels; ++ch) {
          auto it = pattern.find({row, ch});
          Cell c = it == pattern.end() ? Cell{} : it->second;
          Put8(out, (c.sample & 0xF0) | (c.period >> 8));
          Put8(out, c.period & 0xFF);
          Put8(out, static_cast<uint32_t>((c.sample & 15) << 4 | (c.effect & 15)));
          Put8(out, c.param);
        }
      }
    }
    for (const Sample& s : samples) {
      for (int v : s.values) Put8(out, static_cast<uint32_t>(v) & 0xFF);
    }
    return out;
  }
};

}  // namespace modfile
