// The module record both tracker readers (xm.cpp, mod.cpp) fill and
// tracker_convert.cpp turns into "[TRK]": the source as the tracker meant
// it, before anything is adapted to the engine's sequencer.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/tracker.h"

namespace tracker_source {

// One cell in FastTracker 2's terms: note 0 none, 1-96, 97 key off;
// instrument 0 none or 1-based; the volume column byte; effect 0-35 (0-9,
// then A=10 ... Z=35); parameter.
struct Cell {
  uint8_t note = 0;
  uint8_t instrument = 0;
  uint8_t volume = 0;
  uint8_t effect = 0;
  uint8_t param = 0;
};

struct Pattern {
  uint16_t rows = 0;
  std::vector<Cell> cells;  // rows x channels
};

enum class LoopKind : uint8_t { None, Forward, PingPong };

struct Sample {
  uint32_t length = 0;     // in sample values
  uint32_t loopStart = 0;  // in sample values
  uint32_t loopLength = 0;
  LoopKind loop = LoopKind::None;
  bool sixteenBit = false;
  uint8_t volume = 64;
  int8_t finetune = 0;  // 1/128 semitone (a MOD's -8..7 is stored times 16)
  uint8_t panning = 128;
  int8_t relativeNote = 0;
  // The data inside the input: delta-coded (XM) or plain signed 8-bit (MOD).
  const uint8_t* data = nullptr;
  uint32_t byteCount = 0;  // bytes at `data`
  bool deltaCoded = true;
};

struct SourceEnvelope {
  uint8_t flags = 0;  // bit 0 on, bit 1 sustain, bit 2 loop
  uint8_t pointCount = 0;  // as stored, may exceed 12
  uint8_t sustainPoint = 0;
  uint8_t loopStart = 0;
  uint8_t loopEnd = 0;
  std::array<EnvelopePoint, kEnvelopeMaxPoints> points{};
};

struct Instrument {
  std::array<uint8_t, 96> keymap{};  // entry n-1: the sample for note n
  SourceEnvelope volumeEnvelope;
  SourceEnvelope panningEnvelope;
  uint16_t fadeout = 0;
  uint8_t vibratoDepth = 0;  // automatic vibrato, not played by the engine
  std::vector<Sample> samples;
};

struct Song {
  bool mod = false;     // ProTracker rules: no effect memory for 1, 2 and A; decimal pattern break
  bool linear = true;   // linear frequencies (XM flag); MODs are Amiga periods
  uint16_t channels = 0;
  uint16_t speed = 6;
  uint16_t bpm = 125;
  uint16_t restart = 0;
  std::vector<uint8_t> orders;
  std::vector<Pattern> patterns;
  std::vector<Instrument> instruments;
  std::vector<std::string> warnings;  // found while reading (instrument and song level)
};

// Readers: false with *error set for a refused file.
bool ReadXm(const uint8_t* data, size_t size, Song* song, std::string* error);
bool ReadMod(const uint8_t* data, size_t size, Song* song, std::string* error);

// The shared second half: song -> "[TRK]" bytes and warnings.
bool BuildTracker(const Song& song, std::vector<uint8_t>* trk, std::vector<std::string>* warnings,
                  std::string* error);

}  // namespace tracker_source
