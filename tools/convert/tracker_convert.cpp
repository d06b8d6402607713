// The second half of both tracker converters: a source module (as XM or MOD
// meant it) becomes a "[TRK]" module that the engine's sequencer plays as
// closely as it can, plus a warning for everything it cannot play the same
// way.
//
// The sequencer reads one cell per channel and row, knows a fixed set of
// effects, keeps one effect memory per channel and always plays the
// patterns of its order list through. So the converter:
// - walks the song as the tracker plays it (position jumps, pattern breaks,
//   pattern loops and pattern delays) and writes the rows in the order they
//   are heard, as new patterns, shared wherever two stretches are the same;
// - resolves every "use the last value" parameter from the tracker's own
//   per-effect memories on that walk, so each cell carries its value;
// - rewrites the effects the engine knows into its units, and drops the
//   others with a warning.
#include "tools/convert/tracker_convert.h"

#include <algorithm>
#include <cstdarg>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "audio/tracker_writer.h"
#include "tools/convert/tracker_source.h"

namespace tracker_source {

namespace {

// Effect numbers as the trackers number them (A = 10 ... Z = 35).
enum : uint8_t {
  FX_ARPEGGIO = 0x0, FX_PORTA_UP = 0x1, FX_PORTA_DOWN = 0x2, FX_TONE = 0x3, FX_VIBRATO = 0x4,
  FX_TONE_SLIDE = 0x5, FX_VIBRATO_SLIDE = 0x6, FX_TREMOLO = 0x7, FX_PANNING = 0x8, FX_OFFSET = 0x9,
  FX_VOLUME_SLIDE = 0xA, FX_JUMP = 0xB, FX_VOLUME = 0xC, FX_BREAK = 0xD, FX_EXTENDED = 0xE, FX_SPEED = 0xF,
  FX_GLOBAL_VOLUME = 16, FX_GLOBAL_SLIDE = 17, FX_KEY_OFF = 20, FX_ENVELOPE_POSITION = 21,
  FX_PANNING_SLIDE = 25, FX_MULTI_RETRIGGER = 27, FX_TREMOR = 29, FX_EXTRA_FINE = 33,
};

// The trackers' effect memories that a zero parameter falls back on.
enum Memory : uint8_t {
  MEM_NONE, MEM_PORTA_UP, MEM_PORTA_DOWN, MEM_TONE, MEM_VOLUME_SLIDE, MEM_GLOBAL_SLIDE, MEM_FINE_UP,
  MEM_FINE_DOWN, MEM_FINE_VOLUME_UP, MEM_FINE_VOLUME_DOWN, MEM_EXTRA_FINE_UP, MEM_EXTRA_FINE_DOWN, MEM_OFFSET, MEM_COUNT,
};

constexpr int kAmigaLowestNote = 37;  // the engine's period table covers notes 37-72
constexpr int kAmigaHighestNote = 72;
constexpr uint64_t kMaxSongRows = 1u << 20;  // a walk that never ends is cut here
constexpr uint32_t kMaxSampleValues = 1u << 24;
constexpr int kSoundSlots = 128;

std::string Text(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Text(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::string NoteName(int note) {
  static const char* kNames[12] = {"C-", "C#", "D-", "D#", "E-", "F-", "F#", "G-", "G#", "A-", "A#", "B-"};
  return std::string(kNames[(note - 1) % 12]) + std::to_string((note - 1) / 12);
}

// A cell as written, with the parameters still to be taken from memory.
struct OutCell {
  uint8_t note = 0, instrument = 0, volume = 0, effect = 0, param = 0;
  Memory effectMemory = MEM_NONE;  // param (or its low nibble) 0 means "the last value"
  Memory volumeMemory = MEM_NONE;  // a volume slide carried in the volume column: volumeParam
  uint8_t volumeParam = 0;
  bool offset = false;  // sample offset on this note: offsetParam x 256 values (0: the last one)
  uint8_t offsetParam = 0;
};

// Warnings of pattern cells, one entry per pattern and text: the first
// place (by row, then channel) and how often it happens there. Cells are
// translated as the song walk first plays them, so rows never played warn
// nothing.
class WarningLog {
 public:
  explicit WarningLog(size_t patterns) : byPattern_(patterns) {}

  // `fixed` texts are string literals, told apart by their address alone.
  void Add(uint32_t p, uint32_t r, uint32_t c, const char* text, bool fixed) {
    for (size_t index : byPattern_[p]) {
      Entry& e = entries_[index];
      if (fixed ? e.literal != text : (e.literal != nullptr || e.text != text)) continue;
      ++e.count;
      if (std::tie(r, c) < std::tie(e.row, e.channel)) e.row = r, e.channel = c;
      return;
    }
    byPattern_[p].push_back(entries_.size());
    entries_.push_back({p, r, c, text, fixed ? text : nullptr, 1});
  }

  // "pattern P row R channel C: text", ordered by place.
  std::vector<std::string> Lines() {
    std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
      return std::tie(a.pattern, a.row, a.channel, a.text) < std::tie(b.pattern, b.row, b.channel, b.text);
    });
    std::vector<std::string> lines;
    for (const Entry& e : entries_) {
      std::string line = Text("pattern %u row %u channel %u: ", e.pattern, e.row, e.channel + 1) + e.text;
      if (e.count > 1) line += Text(" (and %u more times in this pattern)", static_cast<unsigned>(e.count - 1));
      lines.push_back(line);
    }
    return lines;
  }

 private:
  struct Entry {
    uint32_t pattern, row, channel;
    std::string text;
    const char* literal;  // the text's address when it is a literal
    size_t count;
  };
  std::vector<Entry> entries_;
  std::vector<std::vector<size_t>> byPattern_;
};

class Translator {
 public:
  Translator(const Song& song, WarningLog* warnings)
      : song_(song), warnings_(warnings), instrumentCount_(song.instruments.size()) {}

  OutCell Translate(uint32_t p, uint32_t r, uint32_t c, const Cell& in) {
    OutCell out;
    if ((in.note | in.instrument | in.volume | in.effect | in.param) == 0) return out;  // most cells
    p_ = p, r_ = r, c_ = c;
    out.note = in.note >= 1 && in.note <= NOTE_KEY_OFF ? in.note : 0;
    out.instrument = in.instrument;
    if (in.instrument > instrumentCount_) {
      WarnFormat("instrument %u does not exist; the cell's instrument is dropped", in.instrument);
      out.instrument = 0;
    }
    if (!song_.linear && out.note >= 1 && out.note <= NOTE_LAST &&
        (out.note < kAmigaLowestNote || out.note > kAmigaHighestNote)) {
      WarnFormat("note %s is outside the Amiga period table's three octaves (C-3 to B-5); it plays at the nearest end",
           NoteName(out.note).c_str());
    }
    if (in.effect != 0 || in.param != 0) Effect(in, &out);
    if (in.volume >= 0x10) VolumeColumn(in, &out);
    // A note with an instrument restarts the volume at the sample's even
    // under tone portamento, which the engine skips: the volume column says it.
    if (out.effect == FX_TONE && out.instrument != 0 && out.note >= 1 && out.note <= NOTE_LAST && out.volume == 0) {
      const Instrument& instrument = song_.instruments[out.instrument - 1];
      uint8_t s = instrument.keymap[out.note - 1];
      if (s < instrument.samples.size()) out.volume = static_cast<uint8_t>(0x10 + std::min<uint8_t>(instrument.samples[s].volume, 64));
    }
    return out;
  }

  bool quiet = false;  // set while a row is played again: it has warned already

 private:
  void Warn(const char* text) {
    if (!quiet) warnings_->Add(p_, r_, c_, text, true);
  }

 public:
  // A warning found by the song walk about a cell of this row.
  void WarnAt(uint32_t p, uint32_t r, uint32_t c, const char* text) {
    if (!quiet) warnings_->Add(p, r, c, text, true);
  }

 private:
  __attribute__((noinline, cold, format(printf, 2, 3))) void WarnFormat(const char* format, ...) {
    if (quiet) return;
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    warnings_->Add(p_, r_, c_, text, false);
  }

  void Set(OutCell* out, uint8_t effect, uint8_t param, Memory memory = MEM_NONE) {
    out->effect = effect;
    out->param = param;
    out->effectMemory = memory;
  }

  // A parameter-less effect that MOD treats as "nothing" and XM as "the last value".
  void Remembered(OutCell* out, uint8_t effect, uint8_t param, Memory memory) {
    if (song_.mod) {
      if (param != 0) Set(out, effect, param);
      return;
    }
    Set(out, effect, param, memory);
  }

  void Effect(const Cell& in, OutCell* out) {
    uint8_t p = in.param, x = p >> 4, y = p & 15;
    switch (in.effect) {
      case FX_ARPEGGIO:
        if (p == 0) break;
        if (song_.linear) {
          Warn("arpeggio (effect 0) is played only in Amiga frequency mode; dropped");
        } else {
          Set(out, FX_ARPEGGIO, p);
        }
        break;
      case FX_PORTA_UP:
      case FX_PORTA_DOWN:
        if (song_.linear && p > 0x3F) Warn("portamento faster than 3F is limited to 3F in linear frequency mode");
        Remembered(out, in.effect, p, in.effect == FX_PORTA_UP ? MEM_PORTA_UP : MEM_PORTA_DOWN);
        break;
      case FX_TONE:
        Set(out, FX_TONE, p, MEM_TONE);
        break;
      case FX_VIBRATO:
        Warn("vibrato (effect 4) is not supported; the note keeps its pitch");
        break;
      case FX_TONE_SLIDE:
        Set(out, FX_TONE, 0, MEM_TONE);
        if (in.volume >= 0x10) {
          Warn("tone portamento with volume slide (effect 5): the volume column is taken, so the slide is dropped");
        } else if (p != 0 || !song_.mod) {
          Warn("tone portamento with volume slide (effect 5): the slide moves to the volume column, which also "
               "slides on the row's first tick");
          out->volumeMemory = song_.mod ? MEM_NONE : MEM_VOLUME_SLIDE;
          out->volumeParam = p;
        }
        break;
      case FX_VIBRATO_SLIDE:
        Warn("vibrato with volume slide (effect 6): the vibrato is not supported; only the slide is kept");
        Remembered(out, FX_VOLUME_SLIDE, p, MEM_VOLUME_SLIDE);
        break;
      case FX_TREMOLO:
        Warn("tremolo (effect 7) is not supported; dropped");
        break;
      case FX_PANNING:
        Set(out, FX_PANNING, p);
        break;
      case FX_OFFSET:
        // The engine starts samples at their beginning; a note with an
        // instrument plays a copy of its sample that begins at the offset.
        if (in.note >= 1 && in.note <= NOTE_LAST && in.instrument != 0 && in.instrument <= instrumentCount_) {
          out->offset = true;
          out->offsetParam = p;
        } else if (in.note >= 1 && in.note <= NOTE_LAST) {
          Warn("sample offset (effect 9) on a note without an instrument number is not supported; the sample plays "
               "from its start");
        }
        break;
      case FX_VOLUME_SLIDE:
        Remembered(out, FX_VOLUME_SLIDE, p, MEM_VOLUME_SLIDE);
        break;
      case FX_JUMP:
      case FX_BREAK:
        break;  // played by the song walk
      case FX_VOLUME:
        Set(out, FX_VOLUME, std::min<uint8_t>(p, 64));  // the trackers stop at 64 too
        break;
      case FX_EXTENDED:
        Extended(x, y, in, out);
        break;
      case FX_SPEED:
        if (p == 0) {
          Warn("speed 0 (effect F00) would stop the song; ignored");
        } else if (p == 32) {
          Warn("tempo 32 BPM (effect F20) would be read as speed 32; 33 BPM is used");
          Set(out, FX_SPEED, 33);
        } else {
          Set(out, FX_SPEED, p);
        }
        break;
      case FX_GLOBAL_VOLUME:
        if (!song_.mod) Set(out, FX_GLOBAL_VOLUME, std::min<uint8_t>(p, 64));
        break;
      case FX_GLOBAL_SLIDE:
        if (!song_.mod) Set(out, FX_GLOBAL_SLIDE, p, MEM_GLOBAL_SLIDE);
        break;
      case FX_KEY_OFF:
        if (song_.mod) break;
        if (in.note != 0) {
          Warn("key off at a tick (effect K) beside a note is not supported; dropped");
        } else {
          if (p != 0) Warn("key off at a later tick (effect K) is not supported; the key goes off on the row's first tick");
          out->note = NOTE_KEY_OFF;
        }
        break;
      case FX_ENVELOPE_POSITION:
        if (!song_.mod) Warn("set envelope position (effect L) is not supported; dropped");
        break;
      case FX_PANNING_SLIDE:
        if (!song_.mod) Warn("panning slide (effect P) is not supported; dropped");
        break;
      case FX_MULTI_RETRIGGER:
        if (!song_.mod) Warn("multi retrigger (effect R) is not supported; the note plays once");
        break;
      case FX_TREMOR:
        if (!song_.mod) Warn("tremor (effect T) is not supported; dropped");
        break;
      case FX_EXTRA_FINE:
        if (song_.mod) break;
        if (x == 1 || x == 2) {
          if (!song_.linear) Warn("extra fine portamento (effect X) is rounded to fine portamento in Amiga mode");
          Set(out, FX_EXTENDED, p, x == 1 ? MEM_EXTRA_FINE_UP : MEM_EXTRA_FINE_DOWN);
        }
        break;
      default:
        if (!song_.mod && (in.effect != 0 || p != 0)) {
          WarnFormat("effect %c is not supported; dropped", "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"[in.effect % 36]);
        }
        break;
    }
  }

  void Extended(uint8_t x, uint8_t y, const Cell& in, OutCell* out) {
    switch (x) {
      case 0x0:
        if (song_.mod) Warn("the Amiga filter switch (effect E0) is not supported; dropped");
        break;
      case 0x1:
      case 0x2:
        if (song_.linear && y > 3) Warn("fine portamento above 3 is limited to 3 in linear frequency mode");
        Remembered(out, FX_EXTENDED, static_cast<uint8_t>(x << 4 | y), x == 1 ? MEM_FINE_UP : MEM_FINE_DOWN);
        if (!song_.mod && y == 0) out->param = static_cast<uint8_t>(x << 4);
        break;
      case 0x3:
        if (y) Warn("glissando (effect E3) is not supported; dropped");
        break;
      case 0x5:
        Warn("set finetune (effect E5) is not supported; dropped");
        break;
      case 0x6:
      case 0xE:
        break;  // pattern loop and pattern delay: played by the song walk
      case 0x9:
        if (y) Warn("retrigger (effect E9) is not supported; the note plays once");
        break;
      case 0xA:
      case 0xB:
        Remembered(out, FX_EXTENDED, static_cast<uint8_t>(x << 4 | y), x == 0xA ? MEM_FINE_VOLUME_UP : MEM_FINE_VOLUME_DOWN);
        if (!song_.mod && y == 0) out->param = static_cast<uint8_t>(x << 4);
        break;
      case 0xC:
        if (y == 0) {
          Set(out, FX_VOLUME, 0);  // a cut on the first tick is a volume of 0
        } else {
          Warn("note cut after the first tick (effect EC) is not supported; the note plays on");
        }
        break;
      case 0xD:
        if (y && in.note) Warn("note delay (effect ED) is not supported; the note starts on the row's first tick");
        break;
      case 0xF:
        if (song_.mod && y) Warn("invert loop (effect EF) is not supported; dropped");
        break;
      default:
        break;  // waveforms (E4, E7) belong to unsupported effects; E8 plays nothing in the trackers
    }
  }

  void VolumeColumn(const Cell& in, OutCell* out) {
    uint8_t v = in.volume, low = v & 15;
    if (song_.mod || v < 0x10) return;
    bool effectFree = in.effect == 0 && in.param == 0;
    if (v <= 0x50) {
      out->volume = v;
    } else if (v < 0x60) {
      // FastTracker 2 plays nothing here.
    } else if (v < 0x80) {
      if (low == 0) return;
      if (effectFree) {
        // The effect column's slide acts on the later ticks only, as this
        // column does in FastTracker 2; the value is given, not remembered.
        Set(out, FX_VOLUME_SLIDE, v < 0x70 ? low : static_cast<uint8_t>(low << 4));
      } else {
        Warn("volume slide in the volume column also slides on the row's first tick, as the effect column is taken");
        out->volume = v;
      }
    } else if (v < 0xA0) {
      out->volume = v;  // fine slides act on the first tick only, as in FastTracker 2
    } else if (v < 0xC0) {
      Warn("vibrato in the volume column is not supported; dropped");
    } else if (v < 0xD0) {
      if (effectFree) {
        Set(out, FX_PANNING, static_cast<uint8_t>(low * 16));
      } else {
        Warn("panning in the volume column lands 8 steps to the right, as the effect column is taken");
        out->volume = v;
      }
    } else if (v < 0xF0) {
      Warn("panning slide in the volume column is not supported; dropped");
    } else if (effectFree) {
      Set(out, FX_TONE, static_cast<uint8_t>(low << 4), MEM_TONE);
    } else {
      Warn("tone portamento in the volume column beside another effect is not supported; dropped");
    }
  }

  const Song& song_;
  WarningLog* warnings_;
  size_t instrumentCount_;
  uint32_t p_ = 0, r_ = 0, c_ = 0;
};

// ---- the song walk ----

// The engine's value for a remembered tracker parameter; 0 drops the effect.
uint8_t EngineParam(Memory memory, uint8_t value, bool linear) {
  switch (memory) {
    case MEM_PORTA_UP:
    case MEM_PORTA_DOWN:
      // Linear periods slide 4 units per step in FastTracker 2, 1 in the engine.
      return linear ? static_cast<uint8_t>(std::min(value * 4, 255)) : value;
    case MEM_FINE_UP:
    case MEM_FINE_DOWN: {
      int y = linear ? std::min(value * 4, 15) : value;
      return static_cast<uint8_t>((memory == MEM_FINE_UP ? 0x10 : 0x20) | y);
    }
    case MEM_EXTRA_FINE_UP:
    case MEM_EXTRA_FINE_DOWN: {
      int y = linear ? value : (value + 2) / 4;
      if (y == 0) return 0;
      return static_cast<uint8_t>((memory == MEM_EXTRA_FINE_UP ? 0x10 : 0x20) | y);
    }
    case MEM_FINE_VOLUME_UP: return static_cast<uint8_t>(0xA0 | value);
    case MEM_FINE_VOLUME_DOWN: return static_cast<uint8_t>(0xB0 | value);
    default: return value;
  }
}

bool NibbleMemory(Memory memory) { return memory >= MEM_FINE_UP; }

// An instrument copied so that one of its samples starts `offset` values in.
struct OffsetCopy {
  uint32_t instrument;
  uint32_t sample;
  uint32_t offset;
  bool operator==(const OffsetCopy& o) const {
    return instrument == o.instrument && sample == o.sample && offset == o.offset;
  }
};

class SongWalk {
 public:
  std::vector<OffsetCopy>* offsetCopies = nullptr;  // filled as the walk meets sample offsets
  size_t sampleCount = 0;                          // samples of the module's own instruments

  SongWalk(const Song& song, Translator* translator, TrackerModuleDesc* module)
      : song_(song), translator_(translator), module_(module), channels_(song.channels) {
    memory_.assign(channels_, std::array<uint8_t, MEM_COUNT>{});
    arpeggio_.assign(channels_, 0);
    lastNote_.assign(channels_, 0);
    loopRow_.assign(channels_, 0);
    loopCount_.assign(channels_, 0);
    visited_.resize(song.patterns.size());
    for (size_t p = 0; p < song.patterns.size(); ++p) visited_[p].assign(song.patterns[p].rows, 0);
  }

  // Walks from order 0, row 0 until the song comes back to a place it has
  // started a stretch from; false (with *error) when the result does not fit.
  bool Run(std::vector<std::string>* warnings, std::string* error) {
    uint32_t order = 0, row = 0;
    std::map<std::pair<uint32_t, uint32_t>, size_t> entries;  // (order, row) -> the stretch played from it
    entries.emplace(std::make_pair(order, row), 0);
    StartStretch();
    for (uint64_t rows = 1;; ++rows) {
      if (rows > kMaxSongRows) {
        warnings->push_back(Text("song: its jumps and loops never end; it is cut after %u rows",
                                 static_cast<unsigned>(kMaxSongRows)));
        return Finish(0, error);
      }
      uint32_t p = song_.orders[order];
      int delay = 0, loopTo = -1, jump = -1, breakTo = -1;
      Flow(p, row, &delay, &loopTo, &jump, &breakTo);
      Emit(p, row, false);
      for (int d = 0; d < delay; ++d) Emit(p, row, true);
      if (loopTo >= 0) {
        // Back to the loop's start, in a stretch of its own.
        row = static_cast<uint32_t>(loopTo);
        StartStretch();
        continue;
      }
      uint32_t nextOrder = order + 1, nextRow = 0;
      if (jump >= 0 || breakTo >= 0) {
        if (jump >= 0) nextOrder = static_cast<uint32_t>(jump);
        if (breakTo >= 0) nextRow = static_cast<uint32_t>(breakTo);
      } else if (row + 1 < song_.patterns[p].rows) {
        ++row;
        continue;
      }
      // A pattern loop's start belongs to the pattern it was set in.
      std::fill(loopRow_.begin(), loopRow_.end(), 0);
      std::fill(loopCount_.begin(), loopCount_.end(), 0);
      if (nextOrder >= song_.orders.size()) {
        nextOrder = song_.restart < song_.orders.size() ? song_.restart : 0;
      }
      if (nextRow >= song_.patterns[song_.orders[nextOrder]].rows) nextRow = 0;  // a break past the end
      auto seen = entries.find({nextOrder, nextRow});
      if (seen != entries.end()) {
        if (!LoopsAlike(seen->second)) {
          warnings->push_back(Text("song: after its end the song goes back to order %u; the engine restarts it "
                                   "from the first order",
                                   nextOrder));
        }
        return Finish(seen->second, error);
      }
      StartStretch();
      entries.emplace(std::make_pair(nextOrder, nextRow), orders_.size());
      order = nextOrder, row = nextRow;
    }
  }

  // Whether playing the whole song over again (what the engine does) sounds
  // like going back to stretch `back`: it does when the stretches before it
  // repeat the loop's own start.
  bool LoopsAlike(size_t back) {
    if (!current_.empty()) EndStretch();
    size_t loop = orders_.size() - back;
    for (size_t i = 0; i < back; ++i) {
      if (orders_[i] != orders_[i + loop]) return false;
    }
    return true;
  }

 private:
  // The flow effects of a row, channel by channel as the trackers read them.
  void Flow(uint32_t p, uint32_t row, int* delay, int* loopTo, int* jump, int* breakTo) {
    const Pattern& pattern = song_.patterns[p];
    for (uint32_t c = 0; c < channels_; ++c) {
      const Cell& cell = pattern.cells[static_cast<size_t>(row) * channels_ + c];
      uint8_t x = cell.param >> 4, y = cell.param & 15;
      if (cell.effect == FX_JUMP) {
        *jump = cell.param;  // with a break on the same row: that row of the jumped-to order
      } else if (cell.effect == FX_BREAK) {
        *breakTo = x * 10 + y;  // the row is written in decimal
      } else if (cell.effect == FX_EXTENDED && x == 0xE) {
        if (*delay == 0) *delay = y;  // the first delay of a row counts
      } else if (cell.effect == FX_EXTENDED && x == 0x6) {
        if (y == 0) {
          loopRow_[c] = row;
        } else if (loopCount_[c] == 0) {
          loopCount_[c] = y;
          *loopTo = static_cast<int>(loopRow_[c]);
        } else if (--loopCount_[c] > 0) {
          *loopTo = static_cast<int>(loopRow_[c]);
        }
      }
    }
    if (*jump >= 0 && static_cast<size_t>(*jump) >= song_.orders.size()) *jump = static_cast<int>(song_.orders.size());
  }

  void StartStretch() {
    if (!current_.empty()) EndStretch();
    currentRows_ = 0;
    current_.reserve(64 * channels_ * kCellBytes);
  }

  // Appends a row to the stretch, with every remembered parameter resolved.
  // A repeat (pattern delay) keeps only what acts on the later ticks.
  void Emit(uint32_t p, uint32_t row, bool repeat) {
    if (currentRows_ == 0xFFFF) StartStretch();
    size_t at = current_.size();
    current_.resize(at + channels_ * kCellBytes);
    // Rows are translated as they are played; only the first time a row
    // is played may it warn, so rows never heard warn nothing.
    translator_->quiet = visited_[p][row] != 0;
    visited_[p][row] = 1;
    const Cell* in = &song_.patterns[p].cells[static_cast<size_t>(row) * channels_];
    bool amiga = !song_.linear;
    for (uint32_t c = 0; c < channels_; ++c) {
      OutCell cell = translator_->Translate(p, row, c, in[c]);
      if (repeat) {
        cell.note = cell.instrument = 0;
        bool lasting = cell.effect == FX_PORTA_UP || cell.effect == FX_PORTA_DOWN || cell.effect == FX_TONE ||
                       (cell.effect == FX_ARPEGGIO && cell.param) || cell.effect == FX_VOLUME_SLIDE ||
                       cell.effect == FX_GLOBAL_SLIDE;
        if (!lasting) cell.effect = cell.param = 0, cell.effectMemory = MEM_NONE;
        if (!(cell.volume >= 0x60 && cell.volume < 0x80)) cell.volume = 0, cell.volumeMemory = MEM_NONE;
      }
      Resolve(c, &cell);
      if (cell.offset) Offset(p, row, c, &cell);
      // An instrument without a note sets the volume of the sample playing,
      // which the engine does not do: the volume column says it.
      if (cell.note >= 1 && cell.note <= NOTE_LAST) {
        lastNote_[c] = cell.note;
      } else if (cell.instrument != 0 && cell.note == 0 && cell.volume == 0 && lastNote_[c] != 0) {
        const Instrument& instrument = song_.instruments[cell.instrument - 1];
        uint8_t s = instrument.keymap[lastNote_[c] - 1];
        if (s < instrument.samples.size()) cell.volume = static_cast<uint8_t>(0x10 + std::min<uint8_t>(instrument.samples[s].volume, 64));
      }
      // The engine leaves an arpeggio's last note sounding; a quick tone
      // portamento on the next free row brings the pitch back to the note.
      if (amiga) {
        bool arpeggio = cell.effect == FX_ARPEGGIO && cell.param != 0;
        if (arpeggio_[c] && !arpeggio && cell.note == 0 && cell.effect == 0 && cell.param == 0) {
          cell.effect = FX_TONE;
          cell.param = 0xFF;
        }
        arpeggio_[c] = arpeggio;
      }
      uint8_t* bytes = &current_[at + c * kCellBytes];
      bytes[0] = cell.note, bytes[1] = cell.instrument, bytes[2] = cell.volume, bytes[3] = cell.effect;
      bytes[4] = cell.param;
    }
    ++currentRows_;
  }

  // Points the cell at a copy of its instrument whose sample starts at the offset.
  void Offset(uint32_t p, uint32_t row, uint32_t c, OutCell* cell) {
    uint8_t& memory = memory_[c][MEM_OFFSET];
    if (cell->offsetParam != 0) memory = cell->offsetParam;
    if (memory == 0 || cell->note == 0) return;
    uint32_t instrument = cell->instrument - 1u;
    uint8_t sample = song_.instruments[instrument].keymap[cell->note - 1];
    if (sample >= song_.instruments[instrument].samples.size()) return;
    OffsetCopy copy{instrument, sample, memory * 256u};
    auto found = std::find(offsetCopies->begin(), offsetCopies->end(), copy);
    size_t index = static_cast<size_t>(found - offsetCopies->begin());
    if (found == offsetCopies->end()) {
      // Every copy takes an instrument number (a byte in a cell) and a
      // sound slot of the 128 that sound effects share too.
      if (song_.instruments.size() + offsetCopies->size() >= 255 || sampleCount + offsetCopies->size() >= 96) {
        translator_->WarnAt(p, row, c, "sample offset (effect 9) on more samples than the engine has room for; the "
                                       "sample plays from its start");
        return;
      }
      offsetCopies->push_back(copy);
    }
    cell->instrument = static_cast<uint8_t>(song_.instruments.size() + index + 1);
  }

  void Resolve(uint32_t c, OutCell* cell) {
    if (cell->effectMemory == MEM_NONE && cell->volumeMemory == MEM_NONE && cell->volumeParam == 0) return;
    std::array<uint8_t, MEM_COUNT>& memory = memory_[c];
    if (cell->effectMemory != MEM_NONE) {
      Memory m = cell->effectMemory;
      uint8_t given = NibbleMemory(m) ? (cell->param & 15) : cell->param;
      if (given != 0) memory[m] = given;
      uint8_t value = memory[m];
      uint8_t param = value ? EngineParam(m, value, song_.linear) : 0;
      if (param == 0) {
        // Nothing to slide by: the effect does nothing. A tone portamento
        // still keeps its note from restarting.
        if (m == MEM_TONE && cell->note != NOTE_KEY_OFF) cell->note = 0;
        cell->effect = 0;
      }
      cell->param = param;
    }
    if (cell->volumeMemory != MEM_NONE || cell->volumeParam != 0) {
      uint8_t value = cell->volumeParam;
      if (cell->volumeMemory != MEM_NONE) {
        if (value != 0) memory[cell->volumeMemory] = value;
        value = memory[cell->volumeMemory];
      }
      if (value >> 4) {
        cell->volume = static_cast<uint8_t>(0x70 | (value >> 4));
      } else if (value & 15) {
        cell->volume = static_cast<uint8_t>(0x60 | (value & 15));
      }
    }
  }

  // Closes the stretch: the same rows played before share their pattern.
  void EndStretch() {
    uint64_t hash = Hash(current_);
    std::vector<size_t>& candidates = stretches_[hash];
    size_t index = module_->patterns.size();
    for (size_t candidate : candidates) {
      if (module_->patterns[candidate].cells == current_) index = candidate;
    }
    if (index == module_->patterns.size()) {
      candidates.push_back(index);
      TrackerPatternDesc pattern;
      pattern.rows = static_cast<uint16_t>(currentRows_);
      pattern.cells = std::move(current_);
      module_->patterns.push_back(std::move(pattern));
    }
    orders_.push_back(index);
    current_.clear();
  }

  static uint64_t Hash(const std::vector<uint8_t>& bytes) {
    uint64_t h = 0x9E3779B97F4A7C15ull ^ bytes.size();
    size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
      uint64_t word;
      std::memcpy(&word, &bytes[i], 8);
      h = (h ^ word) * 0xFF51AFD7ED558CCDull;
      h ^= h >> 32;
    }
    for (; i < bytes.size(); ++i) h = (h ^ bytes[i]) * 0x100000001B3ull;
    return h;
  }

  bool Finish(size_t restart, std::string* error) {
    if (!current_.empty()) EndStretch();
    if (module_->patterns.size() > 256) {
      *error = Text("the song unrolls into %u different patterns (jumps, breaks, loops and remembered effect values "
                    "are written out); the engine holds 256",
                    static_cast<unsigned>(module_->patterns.size()));
      return false;
    }
    if (orders_.size() > 0xFFFF) {
      *error = "the song unrolls into more than 65535 order entries";
      return false;
    }
    for (size_t o : orders_) module_->orders.push_back(static_cast<uint8_t>(o));
    module_->restart = static_cast<uint16_t>(restart);
    return true;
  }

  const Song& song_;
  Translator* translator_;
  TrackerModuleDesc* module_;
  uint32_t channels_;
  std::vector<std::array<uint8_t, MEM_COUNT>> memory_;
  std::vector<uint8_t> arpeggio_;
  std::vector<uint8_t> lastNote_;  // the last note started on each channel, for its sample's volume
  std::vector<uint32_t> loopRow_;
  std::vector<uint32_t> loopCount_;
  std::vector<std::vector<uint8_t>> visited_;
  std::vector<uint8_t> current_;
  uint32_t currentRows_ = 0;
  std::map<uint64_t, std::vector<size_t>> stretches_;  // cell hash -> patterns with it
  std::vector<size_t> orders_;
};

// ---- instruments and samples ----

// The sample values as numbers (8-bit values stay -128..127).
std::vector<int32_t> SampleValues(const Sample& sample) {
  uint32_t unit = sample.sixteenBit ? 2 : 1;
  size_t bytes = static_cast<size_t>(sample.length) * unit;
  if (sample.deltaCoded) return TrackerDeltaDecode(sample.data, bytes, sample.sixteenBit);
  std::vector<int32_t> values(sample.length);
  for (uint32_t i = 0; i < sample.length; ++i) values[i] = static_cast<int8_t>(sample.data[i]);
  return values;
}

struct SampleOut;
void StartAt(SampleOut* s, uint32_t offset);

struct SampleOut {
  std::vector<int32_t> values;
  bool sixteenBit;
  uint32_t loopStart, loopLength;  // in values; length 0 = none
};

// A ping-pong loop played forward: the loop, then the loop backwards
// without its two ends, loops forward exactly as it bounced.
void UnrollPingPong(SampleOut* s) {
  uint32_t start = s->loopStart, end = s->loopStart + s->loopLength;
  if (s->loopLength < 3) return;
  s->values.resize(end);
  for (uint32_t i = end - 2; i > start; --i) s->values.push_back(s->values[i]);
  s->loopLength = static_cast<uint32_t>(s->values.size()) - start;
}

// The sample as heard from `offset` on: what lies before is cut, and a
// loop that began earlier is appended after the part up to its end.
void StartAt(SampleOut* s, uint32_t offset) {
  uint32_t length = static_cast<uint32_t>(s->values.size());
  uint32_t loopEnd = s->loopStart + s->loopLength;
  if (s->loopLength == 0) {
    // Past the end of a sample without a loop nothing is heard.
    s->values.erase(s->values.begin(), s->values.begin() + std::min(offset, length));
    return;
  }
  if (offset >= loopEnd) offset = s->loopStart;
  std::vector<int32_t> out(s->values.begin() + offset, s->values.begin() + loopEnd);
  if (offset <= s->loopStart) {
    s->loopStart -= offset;
  } else {
    out.insert(out.end(), s->values.begin() + s->loopStart, s->values.begin() + loopEnd);
    s->loopStart = loopEnd - offset;
  }
  s->values = std::move(out);
}

// Resamples so that the sample, played at the rate of an untuned one,
// sounds `semitones` higher (the engine's Amiga periods know no finetune).
bool Retune(SampleOut* s, double semitones) {
  double step = std::pow(2.0, semitones / 12.0);  // source values per new value
  size_t length = s->values.size();
  double newLength = std::floor(length / step);
  if (newLength > kMaxSampleValues) return false;
  bool looped = s->loopLength > 0;
  uint32_t loopEnd = s->loopStart + s->loopLength;
  std::vector<int32_t> out(static_cast<size_t>(newLength));
  int scale = s->sixteenBit ? 1 : 256;  // the result is 16-bit, for precision
  for (size_t i = 0; i < out.size(); ++i) {
    double position = i * step;
    size_t at = static_cast<size_t>(position);
    double fraction = position - at;
    if (at >= length) at = length - 1;
    size_t next = at + 1;
    if (looped && next >= loopEnd) next = s->loopStart;
    int32_t a = s->values[at], b = next < length ? s->values[next] : a;
    double v = (a + (b - a) * fraction) * scale;
    out[i] = static_cast<int32_t>(std::lround(std::min(std::max(v, -32768.0), 32767.0)));
  }
  s->values = std::move(out);
  s->sixteenBit = true;
  if (looped) {
    uint32_t start = static_cast<uint32_t>(std::lround(s->loopStart / step));
    uint32_t end = static_cast<uint32_t>(std::min<double>(std::lround(loopEnd / step), s->values.size()));
    s->loopStart = start;
    s->loopLength = end > start ? end - start : 0;
  }
  return true;
}

// The engine keeps an envelope while the key is up only until its last
// point, then drops to 0; the trackers hold the last value. A last point
// far away holds it as long as any fade-out takes.
void HoldLastValue(Envelope* e) {
  if (e->pointCount < 2 || e->pointCount >= kEnvelopeMaxPoints) return;
  EnvelopePoint last = e->points[e->pointCount - 1];
  if (last.x >= 0xFFFF) return;
  e->points[e->pointCount++] = {0xFFFF, last.y};
}

Envelope ConvertEnvelope(const SourceEnvelope& in, unsigned number, const char* kind, std::vector<std::string>* warnings) {
  Envelope e{};
  if (!(in.flags & 1)) return e;
  uint8_t count = in.pointCount;
  if (count > kEnvelopeMaxPoints) {
    warnings->push_back(Text("instrument %u: the %s envelope has %u points; the engine keeps the first 12", number,
                             kind, count));
    count = kEnvelopeMaxPoints;
  }
  if (count == 0) return e;
  e.flags = ENVELOPE_ON;
  for (int p = 0; p < count; ++p) {
    e.points[p] = in.points[p];
    e.points[p].y = std::min<uint16_t>(e.points[p].y, 64);  // the trackers' range; panning's centre is 32
  }
  e.pointCount = count;
  if (count == 1) e.points[e.pointCount++] = {0xFFFF, in.points[0].y};  // one point: a constant
  if ((in.flags & 2) && in.sustainPoint < count) {
    e.flags |= ENVELOPE_SUSTAIN;
    e.sustainPoint = in.sustainPoint;
  }
  if (in.flags & 4) {
    warnings->push_back(Text("instrument %u: %s envelope loops are not supported; the envelope plays through once",
                             number, kind));
  }
  if (e.pointCount == kEnvelopeMaxPoints && e.points[e.pointCount - 1].x < 0xFFFF) {
    warnings->push_back(Text("instrument %u: the %s envelope uses all 12 points, leaving none to hold its last value; "
                             "after key-off it ends at 0",
                             number, kind));
  }
  HoldLastValue(&e);
  return e;
}

// `offset` > 0 converts only sample `only` of the instrument, starting there
// (the copies sample offsets play).
bool ConvertInstrument(const Song& song, unsigned number, const Instrument& in, TrackerInstrumentDesc* out,
                       std::vector<std::string>* warnings, std::string* error, uint32_t only = 0,
                       uint32_t offset = 0) {
  if (in.samples.empty()) return true;
  // The engine's keymap is indexed by the note itself, so note 96 shares
  // the entry of note 95.
  for (int n = 1; n < kKeymapSize; ++n) out->keymap[n] = in.keymap[n - 1];
  out->keymap[0] = in.keymap[0];
  if (in.keymap[95] != in.keymap[94]) {
    warnings->push_back(Text("instrument %u: note B-7 plays sample %u, the sample of A#7, instead of sample %u",
                             number, in.keymap[94], in.keymap[95]));
  }
  out->volumeEnvelope = ConvertEnvelope(in.volumeEnvelope, number, "volume", warnings);
  out->panningEnvelope = ConvertEnvelope(in.panningEnvelope, number, "panning", warnings);
  // Without a panning envelope the engine swings a released note to the
  // left; a flat one keeps it where it was while the volume envelope fades it.
  if ((out->volumeEnvelope.flags & ENVELOPE_ON) && !(out->panningEnvelope.flags & ENVELOPE_ON)) {
    out->panningEnvelope.flags = ENVELOPE_ON;
    out->panningEnvelope.pointCount = 2;
    out->panningEnvelope.points[0] = {0, 32};
    out->panningEnvelope.points[1] = {0xFFFF, 32};
  }
  out->fadeout = in.fadeout;
  if (in.vibratoDepth != 0) {
    warnings->push_back(Text("instrument %u: automatic vibrato is not supported; dropped", number));
  }
  if (offset > 0) out->keymap.fill(0);
  for (size_t s = offset > 0 ? only : 0; s < (offset > 0 ? only + 1 : in.samples.size()); ++s) {
    const Sample& sample = in.samples[s];
    TrackerSampleDesc desc;
    desc.volume = std::min<uint8_t>(sample.volume, 64);
    if (song.linear) {
      desc.finetune = sample.finetune;
      desc.relativeNote = sample.relativeNote;
      desc.panning = sample.panning;
    } else if (!song.mod && sample.panning != 128) {
      warnings->push_back(Text("instrument %u sample %u: its panning is not applied in Amiga frequency mode", number,
                               static_cast<unsigned>(s)));
    }
    uint32_t loopStart = std::min(sample.loopStart, sample.length);
    uint32_t loopLength = std::min(sample.loopLength, sample.length - loopStart);
    if (sample.loop == LoopKind::None) loopLength = 0;
    // Amiga periods ignore relative note and finetune: they go into the data.
    double semitones = song.linear ? 0.0 : sample.relativeNote + sample.finetune / 128.0;
    bool rewrite = !sample.deltaCoded || (sample.loop == LoopKind::PingPong && loopLength > 0) || semitones != 0.0 ||
                   offset > 0;
    if (!rewrite) {
      // Delta coding is the same in both formats: the bytes are used as they are.
      desc.borrowed = sample.data;
      desc.borrowedSize = static_cast<size_t>(sample.length) * (sample.sixteenBit ? 2 : 1);
      desc.type = sample.sixteenBit ? SAMPLE_16BIT : 0;
    } else {
      SampleOut values{SampleValues(sample), sample.sixteenBit, loopStart, loopLength};
      if (sample.loop == LoopKind::PingPong) UnrollPingPong(&values);
      if (offset > 0) StartAt(&values, offset);
      if (semitones != 0.0 && !values.values.empty() && !Retune(&values, semitones)) {
        *error = Text("instrument %u sample %u: too long once tuned", number, static_cast<unsigned>(s));
        return false;
      }
      desc.data = TrackerDeltaEncode(values.values.data(), values.values.size(), values.sixteenBit);
      desc.type = values.sixteenBit ? SAMPLE_16BIT : 0;
      loopStart = values.loopStart;
      loopLength = values.loopLength;
    }
    uint32_t unit = (desc.type & SAMPLE_16BIT) ? 2 : 1;
    if (loopLength > 0) {
      desc.type |= SAMPLE_LOOP_FORWARD;
      desc.loopStart = loopStart * unit;
      desc.loopLength = loopLength * unit;
    }
    out->samples.push_back(std::move(desc));
  }
  return true;
}

}  // namespace

bool BuildTracker(const Song& song, std::vector<uint8_t>* trk, std::vector<std::string>* warnings,
                  std::string* error) {
  TrackerModuleDesc module;
  module.flags = song.linear ? TRACKER_LINEAR_FREQUENCY : 0;
  module.channels = song.channels;
  module.speed = song.speed;
  module.bpm = song.bpm;
  std::vector<std::string> songWarnings = song.warnings;
  if (module.speed == 0 || module.speed > 31) {
    songWarnings.push_back(Text("song: an initial speed of %u is not playable; 6 is used", module.speed));
    module.speed = 6;
  }
  if (module.bpm < 32) {
    songWarnings.push_back(Text("song: an initial tempo of %u BPM is not playable; 125 is used", module.bpm));
    module.bpm = 125;
  }

  WarningLog cellWarnings(song.patterns.size());
  Translator translator(song, &cellWarnings);
  size_t sampleTotal = 0;
  for (const Instrument& instrument : song.instruments) sampleTotal += instrument.samples.size();
  std::vector<OffsetCopy> offsetCopies;
  SongWalk walk(song, &translator, &module);
  walk.offsetCopies = &offsetCopies;
  walk.sampleCount = sampleTotal;
  if (!walk.Run(&songWarnings, error)) return false;

  sampleTotal = 0;
  module.instruments.resize(song.instruments.size());
  for (size_t i = 0; i < song.instruments.size(); ++i) {
    if (!ConvertInstrument(song, static_cast<unsigned>(i + 1), song.instruments[i], &module.instruments[i],
                           &songWarnings, error)) {
      return false;
    }
    sampleTotal += module.instruments[i].samples.size();
  }
  for (const OffsetCopy& copy : offsetCopies) {
    TrackerInstrumentDesc instrument;
    std::vector<std::string> repeated;  // the original instrument has said it all
    if (!ConvertInstrument(song, copy.instrument + 1, song.instruments[copy.instrument], &instrument, &repeated, error,
                           copy.sample, copy.offset)) {
      return false;
    }
    module.instruments.push_back(std::move(instrument));
    ++sampleTotal;
  }
  if (sampleTotal > kSoundSlots) {
    songWarnings.push_back(Text("song: %u samples, but the engine has 128 sound slots shared with sound effects; the "
                                "samples past the free slots stay silent",
                                static_cast<unsigned>(sampleTotal)));
  }

  *warnings = cellWarnings.Lines();
  warnings->insert(warnings->end(), songWarnings.begin(), songWarnings.end());

  if (!WriteTracker(module, trk)) {
    *error = "the converted module does not fit the engine's format";
    return false;
  }
  return true;
}

}  // namespace tracker_source

namespace {

bool Convert(bool (*read)(const uint8_t*, size_t, tracker_source::Song*, std::string*), const uint8_t* data,
             size_t size, TrackerConversion* out) {
  out->trk.clear();
  out->warnings.clear();
  out->error.clear();
  tracker_source::Song song;
  if (!data || !read(data, size, &song, &out->error) ||
      !tracker_source::BuildTracker(song, &out->trk, &out->warnings, &out->error)) {
    if (out->error.empty()) out->error = "not a module";
    out->trk.clear();
    out->warnings.clear();
    return false;
  }
  return true;
}

}  // namespace

bool ConvertXmToTrk(const uint8_t* data, size_t size, TrackerConversion* out) {
  return Convert(tracker_source::ReadXm, data, size, out);
}

bool ConvertModToTrk(const uint8_t* data, size_t size, TrackerConversion* out) {
  return Convert(tracker_source::ReadMod, data, size, out);
}
