// RIFF/WAVE sounds: mono PCM of 8 bits (unsigned), 16 bits (signed) or
// 32 bits (signed integers), with the "data" chunk right after "fmt ".
#pragma once

#include <cstddef>
#include <cstdint>

#include "audio/pcm.h"

// Reads the wave in data[0..size) into `sound`, whose bytes then point into
// `data`. Returns 0, SOUND_NOT_RECOGNISED when it is no RIFF/WAVE file,
// SOUND_UNSUPPORTED for a wave of another kind or one whose header sizes run
// past the end, and SOUND_NO_SLOT for a PCM width other than 8, 16 and 32.
// On failure `sound` is left empty.
int DecodeWave(const uint8_t* data, size_t size, DecodedSound* sound);
