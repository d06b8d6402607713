// The wave reader. The layout is fixed: "fmt " at offset 12 and "data"
// directly after it; files with any chunk between the two are not played.
// Every size from the header is checked against the entry before use.
#include "audio/wave.h"

#include "audio/byte_reader.h"
#include "audio/sound.h"

namespace {

constexpr uint16_t kFormatPcm = 1;

}  // namespace

int ParseWave(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  bool riff = in.Tag("RIFF");
  in.U32();  // the RIFF size is not trusted for anything
  if (!riff || !in.Tag("WAVE")) return SOUND_NOT_RECOGNISED;

  if (!in.Tag("fmt ")) return SOUND_UNSUPPORTED;
  uint32_t fmtSize = in.U32();
  uint16_t formatTag = in.U16();
  uint16_t channels = in.U16();
  uint32_t sampleRate = in.U32();
  in.U32();  // byte rate
  in.U16();  // block align
  uint16_t bits = in.U16();
  if (in.failed || formatTag != kFormatPcm || channels != 1) return SOUND_UNSUPPORTED;

  // "data" at 20 + F, its size at 24 + F, the samples from 28 + F.
  in.Seek(20 + static_cast<uint64_t>(fmtSize));
  if (!in.Tag("data")) return SOUND_UNSUPPORTED;
  uint32_t dataSize = in.U32();
  const uint8_t* samples = in.Take(dataSize);
  if (in.failed) return SOUND_UNSUPPORTED;  // sizes that run past the entry

  int32_t rate = static_cast<int32_t>(sampleRate);
  if (bits == 32) return CreateSoundFromPcm(samples, rate, SampleFormat::Signed32, dataSize);
  // 8-bit waves are unsigned, wider ones signed; widths other than 8 and
  // 16 are refused by CreateSound.
  return CreateSound(samples, rate, bits, bits != 8, false, dataSize);
}
