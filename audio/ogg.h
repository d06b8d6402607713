// Ogg Vorbis sounds, decoded whole into 16-bit samples by stb_vorbis.
#pragma once

#include <cstddef>
#include <cstdint>

// Decodes the stream in data[0..size) into a new sound slot. Returns the
// slot, SOUND_NOT_RECOGNISED when it does not decode, SOUND_UNSUPPORTED for
// more than one channel and SOUND_NO_SLOT when the slot cannot be made.
int DecodeOggSound(const uint8_t* data, size_t size);
