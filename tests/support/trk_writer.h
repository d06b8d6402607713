// "[TRK]" modules built in memory for the tracker tests and benchmarks.
//
// Every field has a default that makes a small valid module (one channel,
// one 64-row empty pattern, 125 BPM, speed 6, linear frequencies, no
// instruments), so a test states only what it is about:
//
//   trk::Module m;
//   m.instruments.push_back(trk::Instrument::Of(trk::Sample::Square()));
//   m.patterns[0].Put(0, 0, {49, 1});         // row 0, channel 0: note 49, instrument 1
//   std::vector<uint8_t> bytes = m.Bytes();
//
// The writer lays the bytes out exactly as the loader reads them: an
// envelope's point count is one byte, and its points follow at once.
// Fields named ...Field override what is written, for malformed modules.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace trk {

constexpr uint16_t kLinear = 1;  // module flag bit 0: linear frequencies

// Cell notes.
constexpr uint8_t kKeyOff = 97;

// Sample type bits.
constexpr uint8_t kLoopForward = 1;
constexpr uint8_t kLoopPingPong = 2;
constexpr uint8_t kSixteenBit = 16;

// Envelope flag bits.
constexpr uint8_t kEnvelopeOn = 1;
constexpr uint8_t kEnvelopeSustain = 2;

inline void Put8(std::vector<uint8_t>& out, uint32_t v) { out.push_back(static_cast<uint8_t>(v & 0xFF)); }
inline void Put16(std::vector<uint8_t>& out, uint32_t v) {
  Put8(out, v);
  Put8(out, v >> 8);
}
inline void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// One 5-byte cell; aggregate order is the file order: {note, instrument,
// volume column, effect, parameter}.
struct Cell {
  uint8_t note = 0;
  uint8_t instrument = 0;
  uint8_t volume = 0;
  uint8_t effect = 0;
  uint8_t param = 0;
};

struct Pattern {
  uint16_t rows = 64;
  int32_t rowsField = -1;  // the row count written; -1 = rows
  std::map<std::pair<int, int>, Cell> cells;  // (row, channel) -> cell; absent cells are empty

  Pattern() = default;
  explicit Pattern(uint16_t rowCount) : rows(rowCount) {}
  Pattern& Put(int row, int channel, Cell cell) {
    cells[{row, channel}] = cell;
    return *this;
  }
};

struct Point {
  uint16_t x;  // tick
  uint16_t y;  // value
};

struct Envelope {
  uint8_t flags = 0;  // kEnvelopeOn | kEnvelopeSustain
  uint8_t sustain = 0;
  uint8_t stored[2] = {0, 0};  // kept by the loader, unused by playback
  std::vector<Point> points;

  // Points kept but switched off.
  static Envelope Off(std::vector<Point> pts) {
    Envelope e;
    e.points = std::move(pts);
    return e;
  }
  // An envelope switched on (and holding at `sustainPoint` when >= 0).
  static Envelope On(std::vector<Point> pts, int sustainPoint = -1) {
    Envelope e;
    e.flags = kEnvelopeOn;
    e.points = std::move(pts);
    if (sustainPoint >= 0) {
      e.flags |= kEnvelopeSustain;
      e.sustain = static_cast<uint8_t>(sustainPoint);
    }
    return e;
  }
};

struct Sample {
  // Sample values (-128..127, or -32768..32767 for 16-bit samples); the
  // writer delta-codes them. Ignored when `raw` is given.
  std::vector<int> values;
  std::vector<uint8_t> raw;   // data bytes written as they are
  int64_t lengthField = -1;   // the byte length B written; -1 = the real one
  uint32_t loopStart = 0;     // bytes
  uint32_t loopLength = 0;    // bytes
  uint8_t volume = 64;
  int8_t finetune = 0;
  uint8_t type = 0;  // kLoopForward, kLoopPingPong, kSixteenBit
  uint8_t panning = 128;
  int8_t relativeNote = 0;

  // A square wave of `count` 8-bit values looped whole: a note that keeps sounding.
  static Sample Square(uint32_t count = 32, int amplitude = 100) {
    Sample s;
    for (uint32_t i = 0; i < count; ++i) s.values.push_back(i < count / 2 ? amplitude : -amplitude);
    s.type = kLoopForward;
    s.loopLength = count;
    return s;
  }
  // The data bytes as they appear in the file.
  std::vector<uint8_t> Data() const {
    if (!raw.empty()) return raw;
    std::vector<uint8_t> out;
    int previous = 0;
    for (int v : values) {
      int delta = v - previous;
      previous = v;
      if (type & kSixteenBit) {
        Put16(out, static_cast<uint32_t>(delta) & 0xFFFF);
      } else {
        Put8(out, static_cast<uint32_t>(delta) & 0xFF);
      }
    }
    return out;
  }
};

struct Instrument {
  std::vector<Sample> samples;
  std::array<uint8_t, 96> keymap{};  // sample number per keymap entry, all 0 by default
  Envelope volumeEnvelope;
  Envelope panningEnvelope;
  uint8_t stored[4] = {0, 0, 0, 0};  // kept by the loader, unused
  uint16_t fadeout = 0;              // as written; the engine doubles it
  int32_t sampleCountField = -1;     // the sample count written; -1 = the real one

  static Instrument Of(Sample sample) {
    Instrument i;
    i.samples.push_back(std::move(sample));
    return i;
  }
  static Instrument Of(std::vector<Sample> list) {
    Instrument i;
    i.samples = std::move(list);
    return i;
  }

  void Write(std::vector<uint8_t>& out) const {
    uint32_t count = sampleCountField >= 0 ? static_cast<uint32_t>(sampleCountField)
                                           : static_cast<uint32_t>(samples.size());
    Put16(out, count);
    if (count == 0) return;  // a 0-sample instrument is these two bytes only
    out.insert(out.end(), keymap.begin(), keymap.end());
    for (const Envelope* e : {&volumeEnvelope, &panningEnvelope}) {
      Put8(out, static_cast<uint32_t>(e->points.size()));
      for (const Point& p : e->points) {
        Put16(out, p.x);
        Put16(out, p.y);
      }
    }
    for (const Envelope* e : {&volumeEnvelope, &panningEnvelope}) {
      Put8(out, e->flags);
      Put8(out, e->sustain);
      Put8(out, e->stored[0]);
      Put8(out, e->stored[1]);
    }
    for (uint8_t b : stored) Put8(out, b);
    Put16(out, fadeout);
    for (const Sample& s : samples) {
      std::vector<uint8_t> data = s.Data();
      Put32(out, s.lengthField >= 0 ? static_cast<uint32_t>(s.lengthField) : static_cast<uint32_t>(data.size()));
      Put32(out, s.loopStart);
      Put32(out, s.loopLength);
      Put8(out, s.volume);
      Put8(out, static_cast<uint8_t>(s.finetune));
      Put8(out, s.type);
      Put8(out, s.panning);
      Put8(out, static_cast<uint8_t>(s.relativeNote));
      out.insert(out.end(), data.begin(), data.end());
    }
  }
};

struct Module {
  std::string magic = "[TRK]";
  uint8_t version = 1;
  uint16_t flags = kLinear;
  uint16_t channels = 1;
  uint16_t bpm = 125;
  uint16_t speed = 6;
  uint16_t stored = 0;  // the header word at offset 20
  std::vector<uint8_t> orders = {0};
  std::vector<Pattern> patterns = {Pattern()};
  std::vector<Instrument> instruments;
  // Header counts written instead of the real ones; -1 = the real one.
  int32_t patternCountField = -1;
  int32_t instrumentCountField = -1;
  int32_t songLengthField = -1;

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> out(magic.begin(), magic.end());
    Put8(out, version);
    Put16(out, flags);
    Put16(out, channels);
    Put16(out, patternCountField >= 0 ? static_cast<uint32_t>(patternCountField) : static_cast<uint32_t>(patterns.size()));
    Put16(out, instrumentCountField >= 0 ? static_cast<uint32_t>(instrumentCountField) : static_cast<uint32_t>(instruments.size()));
    Put16(out, bpm);
    Put16(out, speed);
    Put16(out, songLengthField >= 0 ? static_cast<uint32_t>(songLengthField) : static_cast<uint32_t>(orders.size()));
    Put16(out, stored);
    out.insert(out.end(), orders.begin(), orders.end());
    for (const Pattern& p : patterns) {
      Put16(out, p.rowsField >= 0 ? static_cast<uint32_t>(p.rowsField) : p.rows);
      for (int row = 0; row < p.rows; ++row) {
        for (int ch = 0; ch < channels; ++ch) {
          auto it = p.cells.find({row, ch});
          Cell c = it == p.cells.end() ? Cell{} : it->second;
          for (uint8_t b : {c.note, c.instrument, c.volume, c.effect, c.param}) Put8(out, b);
        }
      }
    }
    for (const Instrument& i : instruments) i.Write(out);
    return out;
  }
};

}  // namespace trk
