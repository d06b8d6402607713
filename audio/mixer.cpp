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

// Odd while MixAudio runs. Written by the audio thread only. The script
// thread's generation bumps and hook requests before it looks at the epoch,
// and the mixer's reads of them after each epoch step, are sequentially
// consistent: either the script thread sees a call running and waits for
// it, or that call already sees the bump.
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
  // Acquire: a routine newer than the serial just read may be taken here,
  // and it must come with everything its installer wrote before it.
  activeHook = requestedHook.load(std::memory_order_acquire);
  framesUntilTick = 0;
}

// Turns a pending start into playing and reports whether the channel is to
// be mixed now. The slot and generation are read before the request is
// claimed, so they belong to the request that was claimed.
bool TakeChannel(Channel& ch) {
  uint32_t state = ch.state.load(std::memory_order_acquire);
  while (state & CHANNEL_START_REQUEST) {
    int32_t s = ch.sound.load(std::memory_order_relaxed);
    uint32_t generation = ch.soundGeneration.load(std::memory_order_relaxed);
    if (ch.state.compare_exchange_weak(state, CHANNEL_PLAYING, std::memory_order_acq_rel,
                                       std::memory_order_acquire)) {
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
void EndChannel(Channel& ch) { ch.state.fetch_and(~CHANNEL_PLAYING, std::memory_order_acq_rel); }

// How many frames from `position` surely stay below `limit`: a frame moves
// the position by at most floor(step) + 1 samples.
inline uint32_t SafeFrames(uint32_t position, uint32_t limit, uint32_t maxAdvance) {
  if (position >= limit) return 0;
  return (limit - 1 - position) / maxAdvance;
}

// One channel being mixed in the current chunk: its sound's bounds and its
// playback state, copied out of the shared records for the chunk.
struct Lane {
  const float* samples;
  uint32_t length, loopStart, loopEnd;
  bool looping;
  bool bigStep;         // step >= 1: more than one sample per frame is possible
  bool alive;           // false: a silent stand-in that reads zeros
  uint32_t limit;       // loopEnd when looping, else length
  uint32_t maxAdvance;  // samples one frame can move
  uint32_t position;
  float fraction, step, gainLeft, gainRight;
  Channel* channel;
};

// A stand-in lane reads these two zeros forever with zero gains: adding its
// +0 products leaves every sum as it was.
const float kSilence[2] = {0.0f, 0.0f};

void Silence(Lane& lane) {
  lane.samples = kSilence;
  lane.alive = false;
  lane.looping = false;
  lane.bigStep = false;
  lane.length = lane.limit = 1;
  lane.maxAdvance = 1;
  lane.position = 0;
  lane.fraction = lane.step = lane.gainLeft = lane.gainRight = 0.0f;
  lane.channel = nullptr;
}

// The interpolated sample at the lane's position.
inline float Interpolate(const Lane& lane) {
  return (1.0f - lane.fraction) * lane.samples[lane.position] + lane.fraction * lane.samples[lane.position + 1];
}

// Moves the lane one frame on. The fraction loses whole samples one at a
// time in the documented rule; taking them all at once is the same, since
// below 2^24 every such subtraction is exact. A step below 1 can carry at
// most one sample, which needs no branch.
template <bool MAYBE_BIG = true>
inline void Advance(Lane& lane) {
  float t = lane.fraction + lane.step;
  if (MAYBE_BIG && lane.bigStep) {
    if (t >= 1.0f) {
      t -= 1.0f;
      lane.position += 1;
      if (t >= 1.0f) {
        uint32_t whole = static_cast<uint32_t>(t);
        t -= static_cast<float>(whole);
        lane.position += whole;
      }
    }
    lane.fraction = t;
  } else {
    bool carry = t >= 1.0f;
    lane.fraction = carry ? t - 1.0f : t;
    lane.position += carry ? 1 : 0;
  }
}

// The end rule after a frame: a loop wraps (as often as a long step needs,
// never leaving the loop), a sound without one ends.
void CheckEnd(Lane& lane) {
  if (lane.position < lane.limit || !lane.alive) return;
  if (lane.looping) {
    lane.position = WrapLoop(lane.position, lane.loopStart, lane.loopEnd);
    return;
  }
  // The channel stops where it is; from here on the lane stands in silent.
  lane.channel->position = lane.position;
  lane.channel->fraction = lane.fraction;
  EndChannel(*lane.channel);
  Silence(lane);
}

// Mixes a group of lanes (in channel order) into mixBuffer. Up to the first
// frame at which some lane may reach its limit, every frame runs without end
// tests; that frame runs alone with them. The lanes' chains of fractions are
// independent, so the processor works on them side by side; within a frame
// each sum still adds the channels in their order.
constexpr int kLanes = 4;

// The frames of a run, where no lane can reach its limit.
template <bool MAYBE_BIG>
int MixRun(Lane& a, Lane& b, Lane& c, Lane& d, float* out, int j, uint32_t run) {
  for (uint32_t n = 0; n < run; ++n, ++j) {
    float sa = Interpolate(a), sb = Interpolate(b), sc = Interpolate(c), sd = Interpolate(d);
    float left = out[2 * j], right = out[2 * j + 1];
    left += a.gainLeft * sa;
    right += a.gainRight * sa;
    left += b.gainLeft * sb;
    right += b.gainRight * sb;
    left += c.gainLeft * sc;
    right += c.gainRight * sc;
    left += d.gainLeft * sd;
    right += d.gainRight * sd;
    out[2 * j] = left;
    out[2 * j + 1] = right;
    Advance<MAYBE_BIG>(a);
    Advance<MAYBE_BIG>(b);
    Advance<MAYBE_BIG>(c);
    Advance<MAYBE_BIG>(d);
  }
  return j;
}

void MixGroup(Lane* lanes, int frames) {
  float* out = mixBuffer;
  int j = 0;
  while (j < frames) {
    uint32_t run = static_cast<uint32_t>(frames - j);
    for (int k = 0; k < kLanes; ++k) {
      if (lanes[k].alive) run = std::min(run, SafeFrames(lanes[k].position, lanes[k].limit, lanes[k].maxAdvance));
    }
    if (run == 0) {
      float left = out[2 * j], right = out[2 * j + 1];
      for (int k = 0; k < kLanes; ++k) {
        float s = Interpolate(lanes[k]);
        left += lanes[k].gainLeft * s;
        right += lanes[k].gainRight * s;
        Advance(lanes[k]);
        CheckEnd(lanes[k]);
      }
      out[2 * j] = left;
      out[2 * j + 1] = right;
      ++j;
      continue;
    }
    Lane a = lanes[0], b = lanes[1], c = lanes[2], d = lanes[3];
    bool anyBig = a.bigStep || b.bigStep || c.bigStep || d.bigStep;
    if (anyBig) {
      j = MixRun<true>(a, b, c, d, out, j, run);
    } else {
      j = MixRun<false>(a, b, c, d, out, j, run);
    }
    lanes[0] = a;
    lanes[1] = b;
    lanes[2] = c;
    lanes[3] = d;
  }
}

// Sets a lane up for a playing channel and its sound, or returns false when
// the channel is not to be mixed (not playing, or its sound is gone).
bool PrepareLane(Channel& ch, Lane& lane) {
  if (!TakeChannel(ch)) return false;
  int32_t s = ch.playSound.load(std::memory_order_relaxed);
  if (s < 0 || s >= kMixerSoundCount) {
    EndChannel(ch);
    return false;
  }
  const Sound& sound = mixer.sounds[s];
  // A freed or replaced slot has another generation: its samples may be
  // gone, so the channel ends without reading them.
  if (sound.generation.load(std::memory_order_seq_cst) != ch.playGeneration.load(std::memory_order_relaxed) ||
      !(sound.flags.load(std::memory_order_acquire) & SOUND_IN_USE)) {
    EndChannel(ch);
    return false;
  }
  lane.channel = &ch;
  lane.alive = true;
  lane.samples = sound.samples;
  lane.length = sound.length;
  lane.loopStart = sound.loopStart;
  lane.loopEnd = sound.loopEnd;
  // A loop that does not lie inside the sound is no loop: wrapping into it
  // would read outside the samples or never end.
  lane.looping = sound.looping == 1 && sound.loopStart < sound.loopEnd && sound.loopEnd <= sound.length;
  lane.limit = lane.looping ? lane.loopEnd : lane.length;
  // Gains once per chunk; no gain ever exceeds 0.5.
  float volume = ch.volume.load(std::memory_order_relaxed);
  float p = (ch.panning.load(std::memory_order_relaxed) + 1.0f) * 0.5f;
  lane.gainLeft = std::min((1.0f - p) * volume, 0.5f);
  lane.gainRight = std::min(p * volume, 0.5f);
  lane.step = ch.step.load(std::memory_order_relaxed);
  lane.bigStep = lane.step >= 1.0f;
  lane.maxAdvance = lane.step > 0.0f ? static_cast<uint32_t>(lane.step) + 1 : 1;
  lane.position = ch.position;
  lane.fraction = ch.fraction;
  // The position must lie inside before anything is read: a loop changed
  // under a playing channel is entered, an empty or finished sound ends.
  if (lane.position >= lane.limit) {
    if (!lane.looping) {
      EndChannel(ch);
      return false;
    }
    lane.position = WrapLoop(lane.position, lane.loopStart, lane.loopEnd);
  }
  return true;
}

// Mixes every playing channel into the first `frames` frames of mixBuffer,
// four at a time in channel order.
void MixChannels(int frames) {
  if (!mixer.channels || !mixer.sounds) return;
  Lane lanes[kLanes];
  int count = 0;
  for (int c = 0; c < mixer.channelCount; ++c) {
    if (!PrepareLane(mixer.channels[c], lanes[count])) continue;
    if (++count < kLanes) continue;
    MixGroup(lanes, frames);
    for (Lane& lane : lanes) {
      if (!lane.alive) continue;
      lane.channel->position = lane.position;
      lane.channel->fraction = lane.fraction;
    }
    count = 0;
  }
  if (count == 0) return;
  for (int k = count; k < kLanes; ++k) Silence(lanes[k]);
  MixGroup(lanes, frames);
  for (Lane& lane : lanes) {
    if (!lane.alive) continue;
    lane.channel->position = lane.position;
    lane.channel->fraction = lane.fraction;
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
  channel->state.store(CHANNEL_START_REQUEST, std::memory_order_release);
  return 1;
}

int ChannelStop(int ch) {
  Channel* channel = ChannelAt(ch);
  if (!channel) return 0;
  channel->state.store(0, std::memory_order_release);
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
  requestedHook.store(hook, std::memory_order_release);
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
