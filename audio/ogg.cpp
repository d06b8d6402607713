// The Ogg Vorbis reader: stb_vorbis decodes the whole stream in memory.
#include "audio/ogg.h"

#include <climits>
#include <cstdlib>

#include "audio/sound.h"

// The system library holds the decoder; only its declarations are wanted here.
#define STB_VORBIS_HEADER_ONLY
#include <stb/stb_vorbis.h>

int DecodeOggSound(const uint8_t* data, size_t size) {
  if (!data || size == 0 || size > INT_MAX) return SOUND_NOT_RECOGNISED;
  int channels = 0;
  int sampleRate = 0;
  short* decoded = nullptr;
  int frames = stb_vorbis_decode_memory(data, static_cast<int>(size), &channels, &sampleRate, &decoded);
  if (frames < 0) return SOUND_NOT_RECOGNISED;  // not a Vorbis stream, or out of memory
  int slot;
  if (channels != 1) {
    slot = SOUND_UNSUPPORTED;
  } else if (static_cast<uint64_t>(frames) * 2 > UINT32_MAX) {
    slot = SOUND_NO_SLOT;
  } else {
    slot = CreateSound(decoded, sampleRate, 16, true, false, static_cast<uint32_t>(frames) * 2);
  }
  std::free(decoded);
  return slot;
}
