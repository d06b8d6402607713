// The wave reader. The layout is fixed: "fmt " at offset 12 and "data"
// directly after it; files with any chunk between the two are not played.
// Every size from the header is checked against the entry before use.
#include "audio/wave.h"

#include "audio/byte_reader.h"

namespace {

constexpr uint16_t kFormatPcm = 1;

}  // namespace

int DecodeWave(const uint8_t* data, size_t size, DecodedSound* sound) {
  *sound = DecodedSound{};
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

  // 8-bit waves are unsigned, wider ones signed; a well-formed wave of
  // another width has no slot format.
  SampleFormat format;
  switch (bits) {
    case 8: format = SampleFormat::Unsigned8; break;
    case 16: format = SampleFormat::Signed16; break;
    case 32: format = SampleFormat::Signed32; break;
    default: return SOUND_NO_SLOT;
  }
  sound->bytes = samples;
  sound->byteCount = dataSize;
  sound->format = format;
  sound->rate = static_cast<int32_t>(sampleRate);
  return 0;
}
