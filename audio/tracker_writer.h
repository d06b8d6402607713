// Writing "[TRK]" modules: the inverse of LoadTracker, from a plain module
// description to the bytes the loader reads. The converters in pelto-tool
// and the tests build modules through it, so the layout lives here and in
// the loader only.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "audio/tracker.h"

struct TrackerSampleDesc {
  uint32_t loopStart = 0;   // bytes
  uint32_t loopLength = 0;  // bytes; 0 = no loop (the type's loop bits are then cleared)
  uint8_t volume = 64;      // 0-64
  int8_t finetune = 0;      // 1/128 semitone, linear mode only
  uint8_t type = 0;         // SAMPLE_* bits
  uint8_t panning = 128;    // 0-255, linear mode only
  int8_t relativeNote = 0;  // linear mode only
  std::vector<uint8_t> data;  // delta-coded bytes as stored (16-bit little-endian when SAMPLE_16BIT)
  // Bytes kept elsewhere, written instead of `data` when set; they must
  // outlive WriteTracker (a converter passes its input's bytes this way).
  const uint8_t* borrowed = nullptr;
  size_t borrowedSize = 0;

  const uint8_t* Bytes() const { return borrowed ? borrowed : data.data(); }
  size_t Size() const { return borrowed ? borrowedSize : data.size(); }
};

struct TrackerInstrumentDesc {
  std::array<uint8_t, kKeymapSize> keymap{};  // entry n: the sample for note n (entry 0 unused)
  Envelope volumeEnvelope{};                   // pointCount 0-12
  Envelope panningEnvelope{};
  uint16_t fadeout = 0;  // as stored; the engine doubles it
  std::vector<TrackerSampleDesc> samples;  // none: the instrument is the 2-byte empty block
};

struct TrackerPatternDesc {
  uint16_t rows = 0;
  std::vector<uint8_t> cells;  // rows x channels x 5 bytes
};

struct TrackerModuleDesc {
  uint16_t flags = TRACKER_LINEAR_FREQUENCY;
  uint16_t channels = 1;
  uint16_t bpm = 125;
  uint16_t speed = 6;
  uint16_t restart = 0;          // the stored header word: the order the song loops back to
  std::vector<uint8_t> orders;   // pattern numbers
  std::vector<TrackerPatternDesc> patterns;
  std::vector<TrackerInstrumentDesc> instruments;
};

// Appends little-endian values.
void TrackerPut8(std::vector<uint8_t>& out, uint32_t v);
void TrackerPut16(std::vector<uint8_t>& out, uint32_t v);
void TrackerPut32(std::vector<uint8_t>& out, uint32_t v);

// Delta-codes sample values (-128..127, or -32768..32767 for 16-bit) into
// the stored bytes.
std::vector<uint8_t> TrackerDeltaEncode(const int32_t* values, size_t count, bool sixteenBit);
// The values of delta-coded bytes (the inverse of TrackerDeltaEncode).
std::vector<int32_t> TrackerDeltaDecode(const uint8_t* data, size_t bytes, bool sixteenBit);

// Pieces of an instrument block, for writers that must bend one field.
void TrackerAppendEnvelopePoints(std::vector<uint8_t>& out, const Envelope& envelope);
void TrackerAppendSampleHeader(std::vector<uint8_t>& out, uint32_t byteCount, const TrackerSampleDesc& sample);

// The whole module; false (and `out` untouched) when a count does not fit
// its field: more than 65535 patterns, orders or rows, more than 12
// envelope points, or cells that are not rows x channels x 5 bytes.
bool WriteTracker(const TrackerModuleDesc& module, std::vector<uint8_t>* out);
