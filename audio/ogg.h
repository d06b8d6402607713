// Ogg Vorbis sounds, decoded whole into 16-bit samples.
#pragma once

#include <cstddef>
#include <cstdint>

#include "audio/pcm.h"

// Decodes the stream in data[0..size) into `sound` (its own buffer; free it
// with FreeDecodedSound). Returns 0, SOUND_NOT_RECOGNISED when it does not
// decode, SOUND_UNSUPPORTED for more than one channel and SOUND_NO_SLOT when
// the samples do not fit a slot. On failure `sound` is left empty.
int DecodeOgg(const uint8_t* data, size_t size, DecodedSound* sound);
