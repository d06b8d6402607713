// RIFF/WAVE sounds: mono PCM of 8 bits (unsigned), 16 bits (signed) or
// 32 bits (signed integers), with the "data" chunk right after "fmt ".
#pragma once

#include <cstddef>
#include <cstdint>

// Converts the wave in data[0..size) into a new sound slot. Returns the slot,
// SOUND_NOT_RECOGNISED when it is no RIFF/WAVE file, SOUND_UNSUPPORTED for a
// wave of another kind or one whose header sizes run past the end, and
// SOUND_NO_SLOT when the slot cannot be made (including other bit widths).
int ParseWave(const uint8_t* data, size_t size);
