// Sounds in the mixer's slots: creation from PCM bytes, loops, freeing,
// loading from an archive entry (RIFF/WAVE or Ogg Vorbis), and the channel
// sequence behind PlaySound. All of it runs on the script thread; results
// are statuses, which the engine API bindings turn into fatal errors.
#pragma once

#include <cstddef>
#include <cstdint>

#include "audio/pcm.h"

struct AssetBuffer;

// Converts byteCount bytes into a new slot, lowest free first; returns the
// slot or SOUND_NO_SLOT. The slot is complete before it is marked in use.
int CreateSoundFromPcm(const void* data, int32_t defaultRate, SampleFormat format, uint32_t byteCount);
// The same by bits, signedness and delta coding: signed 8 and 16 (with or
// without delta), unsigned 8, and signed 32 taken as floats; any other
// combination gives SOUND_NO_SLOT.
int CreateSound(const void* data, int32_t defaultRate, int bits, bool isSigned, bool delta, uint32_t byteCount);

// Loops slot s from `start` to `end` (0: to the end of the sound); mode 1
// (forward) and 2 (ping-pong) both loop forward. Nothing happens for an
// empty slot or bounds past the sound; a loop that would end at or before
// its start makes the sound play without a loop.
void SetSoundLoop(int s, int mode, uint32_t start, uint32_t end);

// Empties slot s. Channels playing the sound fall silent and never read its
// samples again; the memory is released once the audio thread is past them.
// A bad or empty slot number is ignored.
void FreeSound(int s);
// Empties several slots with a single wait for the audio thread.
void FreeSounds(const int* slots, int count);

// A decoded sound into a new slot; returns the slot or SOUND_NO_SLOT.
int CreateSoundFromDecoded(const DecodedSound& sound);
// A wave, or an Ogg Vorbis stream, decoded into a new slot. Returns the slot
// or the decoder's negative status.
int CreateSoundFromWave(const uint8_t* data, size_t size);
int CreateSoundFromOgg(const uint8_t* data, size_t size);

// A wave, else an Ogg Vorbis stream, into a new slot, looped whole if `loop`.
// Returns the slot or a negative status.
int LoadSoundAsset(const AssetBuffer& buffer, bool loop);

// The slot's default rate; 0 without a table, outside 0-127 or for an empty slot.
int32_t SoundDefaultRate(int s);

// PlaySound: stops the channel, sets rate, volume and panning, and starts
// the sound from its first sample.
void PlaySoundOnChannel(int ch, int s, float volume, float panning, int32_t rate);
