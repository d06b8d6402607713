// The mixer renders exactly what its formulas give: every scripted set-up
// is rendered by the engine and by an independent reference, and every
// 16-bit sample must agree.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "audio/mixer.h"
#include "audio/sound.h"
#include "tests/support/mixer_reference.h"

namespace {

class MixerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MixerInit();
    // The filter state outlives every table; bring it to rest so each test
    // starts where the reference does.
    Mix(8192);
  }
  void TearDown() override { MixerShutdown(); }

  // Adds the same sound to the engine and the reference.
  int AddSound(const std::vector<float>& values, int32_t rate, bool loopWhole = false) {
    int slot = CreateSoundFromPcm(values.data(), rate, SampleFormat::Float32,
                                  static_cast<uint32_t>(values.size() * sizeof(float)));
    EXPECT_GE(slot, 0);
    if (loopWhole) SetSoundLoop(slot, 1, 0, 0);
    if (ref.sounds.size() <= static_cast<size_t>(slot)) ref.sounds.resize(slot + 1);
    ref.sounds[slot] = RefSound::Of(values, rate, loopWhole);
    return slot;
  }
  void LoopBoth(int slot, uint32_t start, uint32_t end) {
    SetSoundLoop(slot, 1, start, end);
    ref.sounds[slot].Loop(start, end == 0 ? ref.sounds[slot].length : end);
  }
  void PlayBoth(int ch, int s, float volume, float panning, int32_t rate) {
    PlaySoundOnChannel(ch, s, volume, panning, rate);
    ref.Play(ch, s, volume, panning, rate);
  }
  void StopBoth(int ch) {
    ChannelStop(ch);
    ref.Stop(ch);
  }

  static std::vector<int16_t> Mix(int frames) {
    std::vector<int16_t> out(2 * static_cast<size_t>(frames), 0x5555);
    MixAudio(out.data(), frames);
    return out;
  }
  // Renders `frames` through both and compares; the reference takes one
  // chunk per call, which is what the engine sees between two calls.
  void RenderAndCompare(int frames, const char* where) {
    std::vector<int16_t> engine = Mix(frames);
    std::vector<int16_t> expected;
    ref.Render(frames, &expected);
    ASSERT_EQ(engine.size(), expected.size());
    for (size_t i = 0; i < engine.size(); ++i) {
      ASSERT_EQ(engine[i], expected[i]) << where << ": frame " << i / 2 << (i % 2 ? " right" : " left")
                                        << " of a call of " << frames;
    }
  }

  RefMixer ref;
};

// Deterministic noise in -1..+1 for sound contents.
std::vector<float> Noise(size_t count, uint32_t seed) {
  std::vector<float> out(count);
  for (float& v : out) {
    seed = seed * 1664525u + 1013904223u;
    v = static_cast<float>(static_cast<int32_t>(seed) >> 8) / 8388608.0f;
  }
  return out;
}

TEST_F(MixerTest, FullScaleSoundSettlesAtHalfScaleBothSides) {
  int s = AddSound(std::vector<float>(64, 1.0f), 44100, true);
  PlaySoundOnChannel(0, s, 1.0f, 0.0f, 0);
  std::vector<int16_t> out = Mix(2000);
  EXPECT_EQ(out[2 * 1999], 16384);
  EXPECT_EQ(out[2 * 1999 + 1], 16384);
}

TEST_F(MixerTest, GainsFollowPanningAndStopAtHalf) {
  int s = AddSound(std::vector<float>(64, 1.0f), 44100, true);
  PlaySoundOnChannel(0, s, 1.0f, -1.0f, 0);  // full left
  std::vector<int16_t> out = Mix(2000);
  EXPECT_EQ(out[2 * 1999], 16384);
  EXPECT_EQ(out[2 * 1999 + 1], 0);

  PlaySoundOnChannel(0, s, 2.0f, 0.0f, 0);  // twice the volume, still at most half
  out = Mix(2000);
  EXPECT_EQ(out[2 * 1999], 16384);
  EXPECT_EQ(out[2 * 1999 + 1], 16384);

  PlaySoundOnChannel(0, s, 0.5f, -1.0f, 0);  // full left reaches half already at 0.5
  out = Mix(2000);
  EXPECT_EQ(out[2 * 1999], 16384);
  EXPECT_EQ(out[2 * 1999 + 1], 0);
}

TEST_F(MixerTest, DoubleRateEndsAfterHalfTheFrames) {
  int s = AddSound(std::vector<float>(1000, 0.5f), 44100);
  PlaySoundOnChannel(3, s, 1.0f, 0.0f, 0);
  Mix(999);
  EXPECT_EQ(ChannelIsActive(3), 1);
  Mix(1);
  EXPECT_EQ(ChannelIsActive(3), 0);

  PlaySoundOnChannel(3, s, 1.0f, 0.0f, 88200);
  Mix(499);
  EXPECT_EQ(ChannelIsActive(3), 1);
  Mix(1);
  EXPECT_EQ(ChannelIsActive(3), 0);
}

TEST_F(MixerTest, OneSoundOnManyChannelsMatchesReference) {
  int s = AddSound(Noise(5000, 7), 22050);
  LoopBoth(s, 1200, 4100);
  for (int ch = 0; ch < kMixerChannelCount; ++ch) {
    PlayBoth(ch, s, 0.05f * (ch % 9), -1.0f + ch / 23.5f, 3000 + ch * 2917);
  }
  for (int frames : {1, 64, 441, 1023, 1024, 1025, 3000, 4096, 7}) RenderAndCompare(frames, "many channels");
}

TEST_F(MixerTest, LoopsAndRatesMatchReference) {
  int plain = AddSound(Noise(700, 1), 11025);
  int whole = AddSound(Noise(300, 2), 22050, true);
  int inner = AddSound(Noise(900, 3), 44100);
  LoopBoth(inner, 100, 340);
  int tiny = AddSound(Noise(5, 4), 8000);
  LoopBoth(tiny, 2, 4);  // two samples long

  PlayBoth(0, plain, 1.0f, 0.0f, 0);       // ends on its own, reading the guard last
  PlayBoth(1, whole, 0.7f, 0.3f, 0);       // wraps through the guard
  PlayBoth(2, inner, 1.3f, -0.6f, 65537);  // a step above 1
  PlayBoth(3, tiny, 0.9f, 0.9f, 44100 * 9 + 123);  // a step far larger than its loop
  PlayBoth(4, plain, 0.4f, -1.0f, 1);     // barely moves
  PlayBoth(5, whole, 0.6f, 1.0f, 500000);
  // Channels 8-15 form a second group, mixed after the first in every frame;
  // a negative rate never moves its channel and sends the group the slow way
  // until it is stopped.
  for (int ch = 8; ch < 16; ++ch) PlayBoth(ch, ch % 2 ? inner : whole, 0.1f * (ch - 7), 0.0f, 9000 * (ch - 6));
  PlayBoth(12, inner, 0.5f, 0.0f, -20000);
  for (int frames : {900, 1024, 2, 2500, 333}) RenderAndCompare(frames, "loops and rates");
  StopBoth(12);
  RenderAndCompare(1024, "loops and rates, all forward");
  EXPECT_FALSE(ref.Active(0));
  EXPECT_EQ(ChannelIsActive(0), 0);
  EXPECT_EQ(ChannelIsActive(3), 1);
}

TEST_F(MixerTest, VolumeAndPanningChangeAtTheNextCall) {
  int s = AddSound(Noise(6000, 9), 44100, true);
  PlayBoth(7, s, 1.0f, 0.0f, 30000);
  RenderAndCompare(500, "before");
  ChannelSetVolume(7, 0.25f);
  ref.SetVolume(7, 0.25f);
  RenderAndCompare(700, "quieter");
  ChannelSetPanning(7, 0.8f);
  ref.SetPanning(7, 0.8f);
  ChannelSetRate(7, 50000);
  ref.SetRate(7, 50000);
  RenderAndCompare(1500, "panned and faster");
  ChannelSetVolume(7, 5.0f);  // clamped to 2
  ref.SetVolume(7, 5.0f);
  RenderAndCompare(300, "loudest");
}

TEST_F(MixerTest, StartsAndStopsTakeEffectAtCallBoundaries) {
  int a = AddSound(Noise(3000, 11), 44100);
  int b = AddSound(Noise(2000, 12), 32000, true);
  PlayBoth(0, a, 1.0f, 0.0f, 0);
  RenderAndCompare(1024, "a alone");
  PlayBoth(1, b, 0.8f, 0.5f, 0);
  RenderAndCompare(1024, "a and b");
  ChannelStop(0);
  ref.Stop(0);
  EXPECT_EQ(ChannelIsActive(0), 0);
  RenderAndCompare(512, "b alone");
  PlayBoth(0, a, 1.0f, 0.0f, 0);  // a restarts from its beginning
  PlayBoth(0, a, 1.0f, -0.2f, 0);  // twice before the mixer sees it: one start
  RenderAndCompare(2048, "a again");
  PlayBoth(1, b, 0.8f, 0.5f, 16000);  // restarting a playing channel
  RenderAndCompare(1500, "b restarted");
}

TEST_F(MixerTest, OutputClampsInsteadOfWrapping) {
  int up = AddSound(std::vector<float>(64, 1.0f), 44100, true);
  int down = AddSound(std::vector<float>(64, -1.0f), 44100, true);
  for (int ch = 0; ch < 4; ++ch) PlaySoundOnChannel(ch, up, 2.0f, -1.0f, 0);
  for (int ch = 4; ch < 8; ++ch) PlaySoundOnChannel(ch, down, 2.0f, 1.0f, 0);
  std::vector<int16_t> out = Mix(500);
  EXPECT_EQ(out[2 * 499], 32767);
  EXPECT_EQ(out[2 * 499 + 1], -32768);
}

TEST_F(MixerTest, SilenceWithoutChannelsStaysZero) {
  std::vector<int16_t> out = Mix(3000);
  for (int16_t v : out) ASSERT_EQ(v, 0);
}

// ---- the tick hook ----

int tickCalls = 0;
int tickPeriod = 441;
int TickCounting() {
  ++tickCalls;
  return tickPeriod;
}

TEST_F(MixerTest, TickHookRunsEveryPeriodWhateverTheCallSize) {
  tickCalls = 0;
  tickPeriod = 441;
  SetTickHook(TickCounting);
  EXPECT_EQ(tickCalls, 0);  // first called by the mixer, not by the installer
  Mix(1000);                // frames 0, 441, 882
  EXPECT_EQ(tickCalls, 3);
  Mix(1205);                // 1323, 1764; 2205 is the start of the next call
  EXPECT_EQ(tickCalls, 5);
  for (int i = 0; i < 441; ++i) Mix(1);
  EXPECT_EQ(tickCalls, 6);
  SetTickHook(nullptr);
  Mix(5000);
  EXPECT_EQ(tickCalls, 6);
}

int TickOnce() {
  ++tickCalls;
  return 0;
}

TEST_F(MixerTest, TickHookReturningZeroIsRemovedAndMixingGoesOn) {
  int s = AddSound(Noise(4000, 5), 44100);
  PlayBoth(2, s, 1.0f, 0.0f, 0);
  tickCalls = 0;
  SetTickHook(TickOnce);
  RenderAndCompare(1000, "hook removed at once");
  EXPECT_EQ(tickCalls, 1);
  RenderAndCompare(1000, "without hook");
  EXPECT_EQ(tickCalls, 1);
}

// The sequencer's way of working: channel changes from inside the hook land
// exactly on the tick's frame, however the output is cut into calls.
int sequencerSound = 0;
int sequencerStep = 0;
int SequencerTick() {
  int n = sequencerStep++;
  if (n % 3 == 0) {
    ChannelSetRate(5, 20000 + 1000 * n);
    ChannelStart(5, sequencerSound);
  }
  ChannelSetVolume(5, 0.2f * (n % 5));
  ChannelSetPanning(5, n % 2 ? 0.5f : -0.5f);
  return 300 + 7 * (n % 4);
}

TEST_F(MixerTest, ChannelChangesFromTheHookAreExactToTheFrame) {
  sequencerSound = AddSound(Noise(2500, 8), 22050, true);
  sequencerStep = 0;
  SetTickHook(SequencerTick);
  std::vector<int16_t> engine;
  for (int frames : {1000, 17, 4096, 333, 2222}) {
    std::vector<int16_t> part = Mix(frames);
    engine.insert(engine.end(), part.begin(), part.end());
  }
  SetTickHook(nullptr);
  // The reference takes one tick per chunk, with the tick's own length.
  std::vector<int16_t> expected;
  int total = static_cast<int>(engine.size() / 2);
  for (int n = 0, done = 0; done < total; ++n) {
    if (n % 3 == 0) {
      ref.SetRate(5, 20000 + 1000 * n);
      ref.Start(5, sequencerSound);
    }
    ref.SetVolume(5, 0.2f * (n % 5));
    ref.SetPanning(5, n % 2 ? 0.5f : -0.5f);
    int frames = std::min(300 + 7 * (n % 4), total - done);
    ref.Render(frames, &expected);
    done += frames;
  }
  ASSERT_EQ(engine.size(), expected.size());
  for (size_t i = 0; i < engine.size(); ++i) ASSERT_EQ(engine[i], expected[i]) << "sample " << i;
}

}  // namespace
