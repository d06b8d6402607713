// The software mixer: channel hand-over, linear interpolation, loops, gains,
// the one-pole low-pass filter and the clamp to 16 bits.
//
// Memory safety between the threads rests on three rules:
//  - a start request is written last (release) and read first (acquire), so
//    the mixer sees every field the starter wrote before it;
//  - the mixer copies the slot and generation of a start into the channel and
//    checks, each chunk, that the slot still has that generation, so a sound
//    freed or replaced is never mixed again;
//  - mixEpoch is odd while MixAudio runs, so the script thread can tell
//    whether a call that may still hold an old samples pointer is running and
//    wait for it before freeing (MixerWaitForAudioThread).
#include "audio/mixer.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

namespace {

MixerState mixer = {nullptr, nullptr, 0};

// Odd while MixAudio runs. Written by the audio thread only.
std::atomic<uint32_t> mixEpoch{0};

// The hook the script thread asked for; the serial tells the mixer that a new
// request (even for the same routine) arrived. Both written by the script
// thread (and by the sequencer's own calls on the audio thread).
std::atomic<TickHook> requestedHook{nullptr};
std::atomic<uint32_t> hookSerial{0};

// Audio-thread state, kept for the life of the process.
TickHook activeHook = nullptr;  // the hook being called, or none
uint32_t seenHookSerial = 0;    // the last request taken over
int framesUntilTick = 0;        // frames until the hook's next call
float filterLeft = 0.0f;        // low-pass state per side, never reset
float filterRight = 0.0f;
float mixBuffer[kMixerChunkFrames * 2];  // left, right interleaved

// 1 - e^(-2*pi*4500/44100) and its complement: a corner at 4500 Hz.
constexpr float kFilterInput = 0.47330904f;
constexpr float kFilterKeep = 0.52669096f;

Channel* ChannelAt(int ch) {
  if (!mixer.channels || ch < 0 || ch >= mixer.channelCount) return nullptr;
  return &mixer.channels[ch];
}

Sound* LiveSound(int s) {
  if (!mixer.sounds || s < 0 || s >= kMixerSoundCount) return nullptr;
  Sound* sound = &mixer.sounds[s];
  return (sound->flags.load(std::memory_order_acquire) & SOUND_IN_USE) ? sound : nullptr;
}

// NaN has no place between the bounds; it would poison the filter state for
// the rest of the process, so it reads as `fallback`.
float Clamp(float v, float low, float high, float fallback) {
  if (v != v) return fallback;
  return std::min(std::max(v, low), high);
}

// Brings a looping position back into [loopStart, loopEnd). One subtraction
// is the common case; a step longer than the loop needs the remainder.
inline uint32_t WrapLoop(uint32_t position, uint32_t loopStart, uint32_t loopEnd) {
  position = position - loopEnd + loopStart;
  if (position >= loopEnd) position = loopStart + (position - loopStart) % (loopEnd - loopStart);
  return position;
}

// Takes the hook request of the script thread, if a new one came.
void PollHookRequest() {
  uint32_t serial = hookSerial.load(std::memory_order_seq_cst);
  if (serial == seenHookSerial) return;
  seenHookSerial = serial;
  activeHook = requestedHook.load(std::memory_order_relaxed);
  framesUntilTick = 0;
}

// Turns a pending start into playing and reports whether the channel is to
// be mixed now. The slot and generation are read before the request is
// claimed, so they belong to the request that was claimed.
bool TakeChannel(Channel& ch) {
  uint32_t state = ch.state.load(std::memory_order_seq_cst);
  while (state & CHANNEL_START_REQUEST) {
    int32_t s = ch.sound.load(std::memory_order_relaxed);
    uint32_t generation = ch.soundGeneration.load(std::memory_order_relaxed);
    if (ch.state.compare_exchange_weak(state, CHANNEL_PLAYING, std::memory_order_seq_cst)) {
      ch.playSound.store(s, std::memory_order_relaxed);
      ch.playGeneration.store(generation, std::memory_order_relaxed);
      ch.position = 0;
      ch.fraction = 0.0f;
      return true;
    }
  }
  return (state & CHANNEL_PLAYING) != 0;
}

// Ends playing without touching a start request that may have arrived.
void EndChannel(Channel& ch) { ch.state.fetch_and(~CHANNEL_PLAYING, std::memory_order_seq_cst); }

// How many frames from `position` surely stay below `limit`: a frame moves
// the position by at most floor(step) + 1 samples.
inline uint32_t SafeFrames(uint32_t position, uint32_t limit, uint32_t maxAdvance) {
  if (position >= limit) return 0;
  return (limit - 1 - position) / maxAdvance;
}

// Mixes `frames` frames of one sound into mixBuffer from frame `first`.
// LOOPING selects the end rule at compile time. Returns false when a
// non-looping sound ended.
template <bool LOOPING>
bool MixSpan(const Sound& sound, Channel& ch, float step, float gainLeft, float gainRight, int frames) {
  const float* samples = sound.samples;
  const uint32_t length = sound.length;
  const uint32_t loopStart = sound.loopStart;
  const uint32_t loopEnd = sound.loopEnd;
  const uint32_t limit = LOOPING ? loopEnd : length;
  const uint32_t maxAdvance = step > 0.0f ? static_cast<uint32_t>(step) + 1 : 1;
  uint32_t position = ch.position;
  float fraction = ch.fraction;
  float* out = mixBuffer;
  int j = 0;
  bool alive = true;
  while (j < frames) {
    // Frames that cannot reach the limit run without the end test; the
    // frame that may reach it runs alone with the test.
    uint32_t run = std::min<uint32_t>(SafeFrames(position, limit, maxAdvance), frames - j);
    bool checked = run == 0;
    if (checked) run = 1;
    for (uint32_t n = 0; n < run; ++n, ++j) {
      float s = (1.0f - fraction) * samples[position] + fraction * samples[position + 1];
      out[2 * j] += gainLeft * s;
      out[2 * j + 1] += gainRight * s;
      fraction += step;
      if (fraction >= 1.0f) {
        // Taking the whole part at once equals subtracting 1 that many times:
        // below 2^24 every such subtraction is exact.
        uint32_t whole = static_cast<uint32_t>(fraction);
        fraction -= static_cast<float>(whole);
        position += whole;
      }
    }
    if (checked && position >= limit) {
      if (LOOPING) {
        position = WrapLoop(position, loopStart, loopEnd);
      } else {
        alive = false;
        break;
      }
    }
  }
  ch.position = position;
  ch.fraction = fraction;
  return alive;
}

// Mixes every playing channel into the first `frames` frames of mixBuffer.
void MixChannels(int frames) {
  if (!mixer.channels || !mixer.sounds) return;
  for (int c = 0; c < mixer.channelCount; ++c) {
    Channel& ch = mixer.channels[c];
    if (!TakeChannel(ch)) continue;
    int32_t s = ch.playSound.load(std::memory_order_relaxed);
    if (s < 0 || s >= kMixerSoundCount) {
      EndChannel(ch);
      continue;
    }
    const Sound& sound = mixer.sounds[s];
    // A freed or replaced slot has another generation: its samples may be
    // gone, so the channel ends without reading them.
    if (sound.generation.load(std::memory_order_seq_cst) != ch.playGeneration.load(std::memory_order_relaxed) ||
        !(sound.flags.load(std::memory_order_acquire) & SOUND_IN_USE)) {
      EndChannel(ch);
      continue;
    }
    // Gains once per chunk; no gain ever exceeds 0.5.
    float volume = ch.volume.load(std::memory_order_relaxed);
    float p = (ch.panning.load(std::memory_order_relaxed) + 1.0f) * 0.5f;
    float gainLeft = std::min((1.0f - p) * volume, 0.5f);
    float gainRight = std::min(p * volume, 0.5f);
    float step = ch.step.load(std::memory_order_relaxed);
    // A loop that does not lie inside the sound is no loop: wrapping into it
    // would read outside the samples or never end.
    bool looping = sound.looping == 1 && sound.loopStart < sound.loopEnd && sound.loopEnd <= sound.length;
    bool alive;
    if (looping) {
      if (ch.position >= sound.loopEnd) ch.position = WrapLoop(ch.position, sound.loopStart, sound.loopEnd);
      alive = MixSpan<true>(sound, ch, step, gainLeft, gainRight, frames);
    } else {
      // An empty sound, or one whose end was reached, is not read at all.
      alive = ch.position < sound.length && MixSpan<false>(sound, ch, step, gainLeft, gainRight, frames);
    }
    if (!alive) EndChannel(ch);
  }
}

// y * 32768 rounded half to even and clamped. Clamping first gives the same
// result and keeps the conversion defined; NaN lands on the low end. Adding
// and subtracting 1.5 * 2^23 rounds to an integer in the current (nearest,
// ties to even) mode for every value inside the clamp.
inline int16_t ToSample(float y) {
  float v = y * 32768.0f;
  if (!(v > -32768.0f)) return -32768;
  if (v >= 32767.0f) return 32767;
  constexpr float kRound = 12582912.0f;
  return static_cast<int16_t>(static_cast<int>((v + kRound) - kRound));
}

// Runs the low-pass over a mixed chunk and writes the 16-bit frames.
void FilterToOutput(int16_t* output, int frames) {
  float left = filterLeft;
  float right = filterRight;
  for (int j = 0; j < frames; ++j) {
    left = kFilterInput * mixBuffer[2 * j] + kFilterKeep * left;
    right = kFilterInput * mixBuffer[2 * j + 1] + kFilterKeep * right;
    output[2 * j] = ToSample(left);
    output[2 * j + 1] = ToSample(right);
  }
  filterLeft = left;
  filterRight = right;
}

}  // namespace

const MixerState& Mixer() { return mixer; }

// ---- life cycle ----

void MixerInit() {
  SetTickHook(nullptr);
  mixer.sounds = new (std::nothrow) Sound[kMixerSoundCount]();
  if (!mixer.sounds) return;
  mixer.channels = new (std::nothrow) Channel[kMixerChannelCount]();
  mixer.channelCount = mixer.channels ? kMixerChannelCount : 0;
}

void MixerShutdown() {
  // The stream is stopped by now; nothing reads the tables any more.
  delete[] mixer.channels;
  mixer.channels = nullptr;
  mixer.channelCount = 0;
  if (!mixer.sounds) return;
  for (int s = 0; s < kMixerSoundCount; ++s) {
    Sound& sound = mixer.sounds[s];
    if (sound.flags.load(std::memory_order_relaxed) & SOUND_OWNS_SAMPLES) std::free(sound.samples);
  }
  delete[] mixer.sounds;
  mixer.sounds = nullptr;
}

// ---- channel operations ----

int ChannelStart(int ch, int s) {
  Channel* channel = ChannelAt(ch);
  if (!channel) return 0;
  Sound* sound = LiveSound(s);
  if (!sound) return 1;
  int32_t rate = channel->rate.load(std::memory_order_relaxed);
  if (rate == 0) {
    rate = sound->defaultRate;
    channel->rate.store(rate, std::memory_order_relaxed);
  }
  channel->step.store(static_cast<float>(rate) / static_cast<float>(kMixerRate), std::memory_order_relaxed);
  channel->sound.store(s, std::memory_order_relaxed);
  channel->soundGeneration.store(sound->generation.load(std::memory_order_relaxed), std::memory_order_relaxed);
  // Last, with release: the mixer reads the fields above only after this.
  // Storing the request alone also clears playing.
  channel->state.store(CHANNEL_START_REQUEST, std::memory_order_seq_cst);
  return 1;
}

int ChannelStop(int ch) {
  Channel* channel = ChannelAt(ch);
  if (!channel) return 0;
  channel->state.store(0, std::memory_order_seq_cst);
  return 1;
}

int ChannelSetVolume(int ch, float v) {
  Channel* channel = ChannelAt(ch);
  if (!channel) return 0;
  channel->volume.store(Clamp(v, 0.0f, 2.0f, 0.0f), std::memory_order_relaxed);
  return 1;
}

int ChannelSetPanning(int ch, float p) {
  Channel* channel = ChannelAt(ch);
  if (!channel) return 0;
  channel->panning.store(Clamp(p, -1.0f, 1.0f, 0.0f), std::memory_order_relaxed);
  return 1;
}

int ChannelSetRate(int ch, int32_t r) {
  Channel* channel = ChannelAt(ch);
  if (!channel) return 0;
  channel->rate.store(r, std::memory_order_relaxed);
  channel->step.store(static_cast<float>(r) / static_cast<float>(kMixerRate), std::memory_order_relaxed);
  return 1;
}

int ChannelIsActive(int ch) {
  Channel* channel = ChannelAt(ch);
  if (!channel || !mixer.sounds) return 0;
  uint32_t state = channel->state.load(std::memory_order_acquire);
  // A channel whose sound was deleted is silent from now on, so it is not
  // reported active even before the mixer has noticed.
  int32_t s;
  uint32_t generation;
  if (state & CHANNEL_START_REQUEST) {
    s = channel->sound.load(std::memory_order_relaxed);
    generation = channel->soundGeneration.load(std::memory_order_relaxed);
  } else if (state & CHANNEL_PLAYING) {
    s = channel->playSound.load(std::memory_order_relaxed);
    generation = channel->playGeneration.load(std::memory_order_relaxed);
  } else {
    return 0;
  }
  const Sound* sound = LiveSound(s);
  return sound && sound->generation.load(std::memory_order_relaxed) == generation ? 1 : 0;
}

void SetTickHook(TickHook hook) {
  requestedHook.store(hook, std::memory_order_relaxed);
  hookSerial.fetch_add(1, std::memory_order_seq_cst);
}

// ---- mixing ----

void MixAudio(int16_t* output, int frames) {
  mixEpoch.fetch_add(1, std::memory_order_seq_cst);  // odd: inside
  int remaining = frames;
  while (remaining > 0) {
    int chunk = std::min(remaining, kMixerChunkFrames);
    PollHookRequest();
    if (activeHook) {
      if (framesUntilTick <= 0) {
        int r = activeHook();
        if (r > 0) {
          framesUntilTick = r;
        } else {
          activeHook = nullptr;  // framesUntilTick keeps its value
        }
      }
      // A chunk never crosses a tick, so the hook runs at its exact frame.
      // A hook removed just now gives an empty pass; the next goes on without it.
      chunk = std::min(chunk, framesUntilTick);
      if (chunk <= 0) continue;
    }
    std::memset(mixBuffer, 0, sizeof(float) * 2 * chunk);
    MixChannels(chunk);
    if (activeHook) framesUntilTick -= chunk;
    FilterToOutput(output, chunk);
    remaining -= chunk;
    output += 2 * chunk;
  }
  mixEpoch.fetch_add(1, std::memory_order_seq_cst);  // even: outside
}

bool MixerWaitForAudioThread(int timeoutMs) {
  uint32_t epoch = mixEpoch.load(std::memory_order_seq_cst);
  // Even: no call runs now, and the next one starts after every store this
  // thread made before, so it sees them.
  if ((epoch & 1) == 0) return true;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (mixEpoch.load(std::memory_order_seq_cst) == epoch) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}
