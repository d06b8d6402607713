// The script thread and a running audio thread together: sounds deleted and
// reloaded while channels play them, hooks removed while the mixer calls
// them. Run under the address and thread sanitizers, a read of freed memory
// or an unordered access fails these tests.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/mixer.h"
#include "audio/sound.h"
#include "tests/support/audio_thread.h"

namespace {

class AudioThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override { MixerInit(); }
  void TearDown() override { MixerShutdown(); }

  static int Constant(float value, uint32_t count, int32_t rate = 44100) {
    std::vector<float> values(count, value);
    return CreateSoundFromPcm(values.data(), rate, SampleFormat::Float32, count * 4);
  }
};

TEST_F(AudioThreadsTest, DeletingAndReloadingWhileChannelsPlayIsSafe) {
  AudioThread audio(0);
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t range) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % range;
  };
  int slots[8];
  for (int& s : slots) {
    s = Constant(0.3f, 200 + next(3000));
    SetSoundLoop(s, 1, 0, 0);
  }
  for (int round = 0; round < 3000; ++round) {
    int which = static_cast<int>(next(8));
    switch (next(6)) {
      case 0:
      case 1:
        PlaySoundOnChannel(static_cast<int>(next(48)), slots[which], 1.0f, 0.0f,
                           static_cast<int32_t>(next(200000)));
        break;
      case 2:
        FreeSound(slots[which]);
        slots[which] = Constant(-0.2f, 1 + next(4000), 8000 + static_cast<int32_t>(next(40000)));
        if (next(2)) SetSoundLoop(slots[which], 1, next(50), 0);
        break;
      case 3:
        ChannelSetVolume(static_cast<int>(next(48)), 0.1f * next(20));
        ChannelSetPanning(static_cast<int>(next(48)), -1.0f + 0.1f * next(20));
        break;
      case 4:
        ChannelSetRate(static_cast<int>(next(48)), static_cast<int32_t>(next(100000)));
        ChannelIsActive(static_cast<int>(next(48)));
        break;
      default:
        ChannelStop(static_cast<int>(next(48)));
        break;
    }
    if (round % 100 == 0) audio.WaitForCalls(audio.Calls() + 1);
  }
  FreeSounds(slots, 8);
  for (int ch = 0; ch < kMixerChannelCount; ++ch) EXPECT_EQ(ChannelIsActive(ch), 0) << ch;
  audio.Stop();
}

TEST_F(AudioThreadsTest, ADeletedSoundIsNotHeardAgain) {
  AudioThread audio(256);
  int s = Constant(0.5f, 1000);
  SetSoundLoop(s, 1, 0, 0);
  PlaySoundOnChannel(10, s, 1.0f, 0.0f, 0);
  PlaySoundOnChannel(11, s, 1.0f, -1.0f, 22050);
  int before = audio.Calls();
  audio.WaitForCalls(before + 3);
  EXPECT_GT(audio.Loudest(before + 2), 8000);

  FreeSound(s);
  int after = audio.Calls();
  audio.WaitForCalls(after + 4);
  // The call running during the delete may still mix; the one after it
  // starts silent but for the filter's tail; from then on nothing.
  EXPECT_EQ(audio.Loudest(after + 2), 0);
  EXPECT_EQ(audio.Loudest(after + 3), 0);
  EXPECT_EQ(ChannelIsActive(10), 0);
  EXPECT_EQ(ChannelIsActive(11), 0);
  // Reloaded into the same slot, the new sound is heard only where started.
  int again = Constant(0.25f, 1000);
  ASSERT_EQ(again, s);
  int quiet = audio.Calls();
  audio.WaitForCalls(quiet + 3);
  EXPECT_EQ(audio.Loudest(quiet + 2), 0);
}

std::atomic<int> hookCalls{0};
int CountingHook() {
  hookCalls.fetch_add(1);
  return 64;
}

TEST_F(AudioThreadsTest, ARemovedHookIsNotCalledOnceTheMixerIsWaitedFor) {
  AudioThread audio(1024);
  hookCalls.store(0);
  SetTickHook(CountingHook);
  while (hookCalls.load() < 50) std::this_thread::yield();
  SetTickHook(nullptr);
  EXPECT_TRUE(MixerWaitForAudioThread(1000));
  int seen = hookCalls.load();
  int calls = audio.Calls();
  audio.WaitForCalls(calls + 3);
  EXPECT_EQ(hookCalls.load(), seen);
}

TEST_F(AudioThreadsTest, WaitingWithoutAnAudioThreadReturnsAtOnce) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(MixerWaitForAudioThread(1000));
  int s = Constant(0.5f, 100);
  PlaySoundOnChannel(0, s, 1.0f, 0.0f, 0);
  FreeSound(s);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

std::atomic<bool> holdMixer{false};
std::atomic<bool> mixerHeld{false};
int HoldingHook() {
  while (holdMixer.load()) {
    mixerHeld.store(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return 64;
}

TEST_F(AudioThreadsTest, AStuckMixerMakesDeleteKeepTheMemory) {
  int s = Constant(0.5f, 100);
  PlaySoundOnChannel(0, s, 1.0f, 0.0f, 0);
  holdMixer.store(true);
  mixerHeld.store(false);
  SetTickHook(HoldingHook);
  AudioThread audio(256);
  while (!mixerHeld.load()) std::this_thread::yield();

  float* kept = Mixer().sounds[s].samples;
  EXPECT_FALSE(MixerWaitForAudioThread(50));
  FreeSound(s);  // gives up waiting and leaves the samples alone
  EXPECT_EQ(SoundDefaultRate(s), 0);
  EXPECT_EQ(kept[0], 0.5f);  // still readable
  holdMixer.store(false);
  SetTickHook(nullptr);
  audio.Stop();
  std::free(kept);
}

}  // namespace
