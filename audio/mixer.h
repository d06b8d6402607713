// The software mixer: 128 sound slots of float samples, 48 playback
// channels, and MixAudio, which renders them into interleaved 16-bit stereo
// at 44100 Hz. Plain code with no device behind it: the output stream's
// callback only calls MixAudio, and tests render into their own buffers.
//
// Two threads share these tables without locks. The script thread loads and
// frees sounds and drives channels; the audio thread runs MixAudio and, inside
// it, the tick hook (the music sequencer), which drives channels as well.
// Every shared word is a 32-bit std::atomic; each field says who writes it.
#pragma once

#include <atomic>
#include <cstdint>

constexpr int kMixerRate = 44100;         // output frames per second
constexpr int kMixerChannelCount = 48;    // channel numbers 0-47
constexpr int kMixerSoundCount = 128;     // sound numbers 0-127
constexpr int kMixerChunkFrames = 1024;   // most frames mixed in one pass

// Sound flags.
constexpr uint32_t SOUND_IN_USE = 1u << 0;        // the slot holds a sound
constexpr uint32_t SOUND_OWNS_SAMPLES = 1u << 1;  // samples is freed with the slot

// One slot of the sounds table. The script thread fills a slot completely and
// only then sets SOUND_IN_USE, so a channel can never start a half-made sound.
// The mixer reads the plain fields only for a channel whose recorded
// generation still matches the slot's.
struct Sound {
  std::atomic<uint32_t> flags;       // script: SOUND_IN_USE | SOUND_OWNS_SAMPLES
  std::atomic<uint32_t> generation;  // script: bumped by every FreeSound, so stale starts die
  int32_t defaultRate;               // script: Hz, the rate of a start with rate 0
  uint32_t length;                   // script: samples, not counting the guard
  float* samples;                    // script: length + 1 floats, nominally -1..+1; [length] is the guard
  int32_t looping;                   // script: 1 = loops, 0 = ends
  uint32_t loopStart;                // script: sample index playback returns to
  uint32_t loopEnd;                  // script: sample index at which playback wraps, <= length
};

// Channel state bits. Both live in one word so that a start taken by the
// mixer and a stop from the script thread can never cross: with two words a
// stop arriving between "clear the request" and "set playing" would be lost.
constexpr uint32_t CHANNEL_START_REQUEST = 1u << 0;  // begin at the next chunk
constexpr uint32_t CHANNEL_PLAYING = 1u << 1;        // being mixed

// One playback channel. The starter is whoever calls the channel operations:
// the script thread, or the sequencer on the audio thread.
struct Channel {
  std::atomic<uint32_t> state;            // starter sets/clears, mixer converts and ends
  std::atomic<int32_t> sound;             // starter: slot of the pending start
  std::atomic<uint32_t> soundGeneration;  // starter: that slot's generation at the start
  std::atomic<float> volume;              // starter: 0.0-2.0
  std::atomic<float> panning;             // starter: -1.0 (left) .. +1.0 (right)
  std::atomic<int32_t> rate;              // starter: Hz; 0 = the sound's default at the next start
  std::atomic<float> step;                // starter: rate / 44100, samples per output frame
  std::atomic<int32_t> playSound;         // mixer: the slot being mixed, copied from sound at the start
  std::atomic<uint32_t> playGeneration;   // mixer: its generation, copied likewise
  uint32_t position;                      // mixer only: index of the current sample
  float fraction;                         // mixer only: 0 <= fraction < 1 between position and position + 1
};

// The routine the mixer calls between chunks (the music sequencer). It
// returns the number of output frames until its next call; 0 or less removes it.
using TickHook = int (*)();

// Tables exist from MixerInit to MixerShutdown; null (count 0) otherwise.
struct MixerState {
  Sound* sounds;     // kMixerSoundCount slots
  Channel* channels; // kMixerChannelCount channels
  int channelCount;  // kMixerChannelCount with a table, else 0
};
const MixerState& Mixer();

// ---- life cycle (script thread, no stream running) ----

// Allocates both tables zero-filled and removes the tick hook. Failure is
// silent: without tables no channel does anything and no sound can be made.
void MixerInit();
// Frees the channels, every sample buffer the slots own, then the slots.
void MixerShutdown();

// ---- channel operations (either thread); 1 for a valid channel, else 0 ----

// Takes the sound's default rate when rate is 0, computes the step and asks
// the mixer to start from sample 0 at its next chunk. A sound number outside
// 0-127 or an empty slot is ignored: the channel is left as it was.
int ChannelStart(int ch, int s);
int ChannelStop(int ch);
int ChannelSetVolume(int ch, float v);   // clamped to 0.0-2.0; NaN reads 0
int ChannelSetPanning(int ch, float p);  // clamped to -1.0..+1.0; NaN reads 0
int ChannelSetRate(int ch, int32_t r);   // step = r / 44100 from the next frame
// 1 while a start is pending or the channel plays a sound that still exists.
int ChannelIsActive(int ch);

// Installs (or with nullptr removes) the tick hook; an installed routine is
// first called at the start of the next chunk.
void SetTickHook(TickHook hook);

// Fills `frames` stereo frames of interleaved 16-bit samples (audio thread).
void MixAudio(int16_t* output, int frames);

// Returns once no MixAudio call that may have seen the tables before this
// call is still running: true at once when none runs, false when one has not
// finished within timeoutMs (the caller must then keep memory it meant to free).
bool MixerWaitForAudioThread(int timeoutMs);
