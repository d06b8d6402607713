// Decoded sound files: PCM bytes with their sample format and rate, as the
// wave and Ogg readers return them. The decoders stop here; sound.cpp turns
// PCM into a mixer slot, so a decoder can be driven (by tests, fuzzers and
// tools) without the mixer's tables.
#pragma once

#include <cstdint>

// Loader results besides a slot number 0-127 (decoders return 0 or one of these).
constexpr int SOUND_NO_SLOT = -1;         // no table, no free slot, no memory or a width not converted
constexpr int SOUND_NOT_RECOGNISED = -2;  // not this file format at all
constexpr int SOUND_UNSUPPORTED = -3;     // this format, but not a kind the engine plays

// How PCM bytes are read into float samples.
enum class SampleFormat {
  Unsigned8,      // (byte - 128) / 128
  Signed8,        // byte / 128
  Signed8Delta,   // running 8-bit sum of the bytes, / 128
  Signed16,       // little-endian 16-bit / 32768
  Signed16Delta,  // running 16-bit sum of the values, / 32768
  Float32,        // the bytes are 32-bit floats already
  Signed32,       // little-endian 32-bit integers / 2^31
};

struct DecodedSound {
  const uint8_t* bytes;  // the PCM: inside the file for waves, `owned` for Ogg
  uint32_t byteCount;
  SampleFormat format;
  int32_t rate;          // Hz, the slot's default rate
  void* owned;           // malloc'ed by the decoder, or null
};

// Releases what the decoder allocated and empties the record.
void FreeDecodedSound(DecodedSound* sound);
