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

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
constexpr int kLanes = 8;
constexpr int kHalfLanes = 4;

// The frames of a run for four lanes, where no lane can reach its limit.
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

// A run of eight lanes as two passes of four: the second pass adds its
// channels to each frame after the first, so every sum keeps its order.
int MixRunScalar(Lane* lanes, float* out, int j, uint32_t run) {
  for (int half = 0; half < kLanes; half += kHalfLanes) {
    Lane a = lanes[half], b = lanes[half + 1], c = lanes[half + 2], d = lanes[half + 3];
    bool anyBig = a.bigStep || b.bigStep || c.bigStep || d.bigStep;
    if (anyBig) {
      MixRun<true>(a, b, c, d, out, j, run);
    } else {
      MixRun<false>(a, b, c, d, out, j, run);
    }
    lanes[half] = a;
    lanes[half + 1] = b;
    lanes[half + 2] = c;
    lanes[half + 3] = d;
  }
  return j + static_cast<int>(run);
}

#if defined(__SSE2__)
// The same run with the eight lanes' fractions, steps and positions in
// vectors of four. Every lane still does exactly the scalar operations in
// the scalar order (no fused multiply-adds, the sums added one channel at a
// time), so the output is the same to the bit.
//
// Advancing: with small steps a fraction reaching 1 gives one sample; with
// big steps all whole samples go at once, t - trunc(t), which equals taking
// them one by one since every such subtraction below 2^24 is exact. Lanes
// that step backwards never move their position and take the scalar way.
template <bool MAYBE_BIG>
int MixRunVector(Lane* lanes, float* out, int j, uint32_t run) {
  const float* src[kLanes];
  alignas(16) uint32_t pos[kLanes];
  alignas(16) float frac[kLanes];
  for (int k = 0; k < kLanes; ++k) {
    src[k] = lanes[k].samples;
    pos[k] = lanes[k].position;
  }
  const Lane* l = lanes;
  __m128 fracLo = _mm_setr_ps(l[0].fraction, l[1].fraction, l[2].fraction, l[3].fraction);
  __m128 fracHi = _mm_setr_ps(l[4].fraction, l[5].fraction, l[6].fraction, l[7].fraction);
  const __m128 stepLo = _mm_setr_ps(l[0].step, l[1].step, l[2].step, l[3].step);
  const __m128 stepHi = _mm_setr_ps(l[4].step, l[5].step, l[6].step, l[7].step);
  // Gains in the order they are added: left and right of one lane, then the next.
  const __m128 gains01 = _mm_setr_ps(l[0].gainLeft, l[0].gainRight, l[1].gainLeft, l[1].gainRight);
  const __m128 gains23 = _mm_setr_ps(l[2].gainLeft, l[2].gainRight, l[3].gainLeft, l[3].gainRight);
  const __m128 gains45 = _mm_setr_ps(l[4].gainLeft, l[4].gainRight, l[5].gainLeft, l[5].gainRight);
  const __m128 gains67 = _mm_setr_ps(l[6].gainLeft, l[6].gainRight, l[7].gainLeft, l[7].gainRight);
  const __m128 one = _mm_set1_ps(1.0f);
  __m128i posLo = _mm_load_si128(reinterpret_cast<const __m128i*>(pos));
  __m128i posHi = _mm_load_si128(reinterpret_cast<const __m128i*>(pos + 4));
  for (uint32_t n = 0; n < run; ++n, ++j) {
    __m128 atLo = _mm_setr_ps(src[0][pos[0]], src[1][pos[1]], src[2][pos[2]], src[3][pos[3]]);
    __m128 nextLo = _mm_setr_ps(src[0][pos[0] + 1], src[1][pos[1] + 1], src[2][pos[2] + 1], src[3][pos[3] + 1]);
    __m128 atHi = _mm_setr_ps(src[4][pos[4]], src[5][pos[5]], src[6][pos[6]], src[7][pos[7]]);
    __m128 nextHi = _mm_setr_ps(src[4][pos[4] + 1], src[5][pos[5] + 1], src[6][pos[6] + 1], src[7][pos[7] + 1]);
    __m128 valueLo = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(one, fracLo), atLo), _mm_mul_ps(fracLo, nextLo));
    __m128 valueHi = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(one, fracHi), atHi), _mm_mul_ps(fracHi, nextHi));
    __m128 p01 = _mm_mul_ps(gains01, _mm_unpacklo_ps(valueLo, valueLo));
    __m128 p23 = _mm_mul_ps(gains23, _mm_unpackhi_ps(valueLo, valueLo));
    __m128 p45 = _mm_mul_ps(gains45, _mm_unpacklo_ps(valueHi, valueHi));
    __m128 p67 = _mm_mul_ps(gains67, _mm_unpackhi_ps(valueHi, valueHi));
    // The frame's left and right in the low two places.
    __m128 sum = _mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(out + 2 * j));
    sum = _mm_add_ps(sum, p01);
    sum = _mm_add_ps(sum, _mm_movehl_ps(p01, p01));
    sum = _mm_add_ps(sum, p23);
    sum = _mm_add_ps(sum, _mm_movehl_ps(p23, p23));
    sum = _mm_add_ps(sum, p45);
    sum = _mm_add_ps(sum, _mm_movehl_ps(p45, p45));
    sum = _mm_add_ps(sum, p67);
    sum = _mm_add_ps(sum, _mm_movehl_ps(p67, p67));
    _mm_storel_pi(reinterpret_cast<__m64*>(out + 2 * j), sum);
    __m128 tLo = _mm_add_ps(fracLo, stepLo);
    __m128 tHi = _mm_add_ps(fracHi, stepHi);
    if (MAYBE_BIG) {
      __m128i wholeLo = _mm_cvttps_epi32(tLo);
      __m128i wholeHi = _mm_cvttps_epi32(tHi);
      fracLo = _mm_sub_ps(tLo, _mm_cvtepi32_ps(wholeLo));
      fracHi = _mm_sub_ps(tHi, _mm_cvtepi32_ps(wholeHi));
      posLo = _mm_add_epi32(posLo, wholeLo);
      posHi = _mm_add_epi32(posHi, wholeHi);
    } else {
      __m128 carryLo = _mm_cmpge_ps(tLo, one);
      __m128 carryHi = _mm_cmpge_ps(tHi, one);
      fracLo = _mm_sub_ps(tLo, _mm_and_ps(carryLo, one));
      fracHi = _mm_sub_ps(tHi, _mm_and_ps(carryHi, one));
      posLo = _mm_sub_epi32(posLo, _mm_castps_si128(carryLo));  // a carry is all ones: -1
      posHi = _mm_sub_epi32(posHi, _mm_castps_si128(carryHi));
    }
    _mm_store_si128(reinterpret_cast<__m128i*>(pos), posLo);
    _mm_store_si128(reinterpret_cast<__m128i*>(pos + 4), posHi);
  }
  _mm_store_ps(frac, fracLo);
  _mm_store_ps(frac + 4, fracHi);
  for (int k = 0; k < kLanes; ++k) {
    lanes[k].position = pos[k];
    lanes[k].fraction = frac[k];
  }
  return j;
}
#endif

int MixLanes(Lane* lanes, float* out, int j, uint32_t run) {
#if defined(__SSE2__)
  bool forward = true;
  bool anyBig = false;
  for (int k = 0; k < kLanes; ++k) {
    forward = forward && lanes[k].step >= 0.0f;
    anyBig = anyBig || lanes[k].bigStep;
  }
  if (forward) return anyBig ? MixRunVector<true>(lanes, out, j, run) : MixRunVector<false>(lanes, out, j, run);
#endif
  return MixRunScalar(lanes, out, j, run);
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
    j = MixLanes(lanes, out, j, run);
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
