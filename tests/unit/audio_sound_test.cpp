// Sound slots and channel operations: conversion of PCM into floats, loops,
// slot reuse, the channel rules, and deleting sounds that are playing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "audio/mixer.h"
#include "audio/sound.h"

namespace {

class SoundTest : public ::testing::Test {
 protected:
  void SetUp() override { MixerInit(); }
  void TearDown() override { MixerShutdown(); }

  static const Sound& Slot(int s) { return Mixer().sounds[s]; }
  static std::vector<float> Samples(int s) {
    const Sound& sound = Slot(s);
    return std::vector<float>(sound.samples, sound.samples + sound.length + 1);  // with the guard
  }
  static int Constant(float value, uint32_t count, int32_t rate = 44100) {
    std::vector<float> values(count, value);
    return CreateSoundFromPcm(values.data(), rate, SampleFormat::Float32, count * 4);
  }
  static std::vector<int16_t> Mix(int frames) {
    std::vector<int16_t> out(2 * static_cast<size_t>(frames));
    MixAudio(out.data(), frames);
    return out;
  }
  static bool AllZero(const std::vector<int16_t>& v) {
    for (int16_t x : v)
      if (x != 0) return false;
    return true;
  }
};

// ---- conversion ----

TEST_F(SoundTest, EightBitUnsignedSamplesCentreOn128) {
  uint8_t bytes[] = {0x80, 0x00, 0xFF};
  int s = CreateSound(bytes, 8000, 8, false, false, 3);
  ASSERT_EQ(s, 0);
  EXPECT_EQ(Samples(s), (std::vector<float>{0.0f, -1.0f, 0.9921875f, 0.0f}));
  EXPECT_EQ(Slot(s).defaultRate, 8000);
  EXPECT_EQ(Slot(s).flags.load(), SOUND_IN_USE | SOUND_OWNS_SAMPLES);
}

TEST_F(SoundTest, SixteenBitSignedSamplesSpanMinusOneToJustBelowOne) {
  uint8_t bytes[] = {0x00, 0x80, 0xFF, 0x7F, 0x00, 0x00, 0x01};  // the odd last byte is no sample
  int s = CreateSound(bytes, 22050, 16, true, false, 7);
  EXPECT_EQ(Samples(s), (std::vector<float>{-1.0f, 0.999969482421875f, 0.0f, 0.0f}));
}

TEST_F(SoundTest, DeltaCodedSamplesAccumulateAndWrap) {
  // 100, 50, -200 as 16-bit values.
  uint8_t wide[] = {100, 0, 50, 0, 0x38, 0xFF};
  int s16 = CreateSound(wide, 8363, 16, true, true, 6);
  EXPECT_EQ(Samples(s16), (std::vector<float>{100 / 32768.0f, 150 / 32768.0f, -50 / 32768.0f, 0.0f}));
  // 8-bit: 100 + 100 wraps to -56.
  uint8_t narrow[] = {100, 100, 0x9C};
  int s8 = CreateSound(narrow, 8363, 8, true, true, 3);
  EXPECT_EQ(Samples(s8), (std::vector<float>{100 / 128.0f, -56 / 128.0f, 100 / 128.0f, 0.0f}));
  // Unsigned 8-bit ignores delta coding.
  uint8_t plain[] = {0x80, 0x90};
  int u8 = CreateSound(plain, 8363, 8, false, true, 2);
  EXPECT_EQ(Samples(u8), (std::vector<float>{0.0f, 16 / 128.0f, 0.0f}));
}

TEST_F(SoundTest, SignedThirtyTwoBitsAreFloatsButWavesConvertIntegers) {
  float floats[] = {0.25f, -3.5f};
  int f = CreateSound(floats, 44100, 32, true, false, 8);
  EXPECT_EQ(Samples(f), (std::vector<float>{0.25f, -3.5f, 0.0f}));
  int32_t ints[] = {INT32_MIN, 1 << 30, INT32_MAX};
  int i = CreateSoundFromPcm(ints, 44100, SampleFormat::Signed32, 12);
  EXPECT_EQ(Samples(i), (std::vector<float>{-1.0f, 0.5f, 1.0f, 0.0f}));  // 2^31 - 1 rounds to 1 as a float
}

TEST_F(SoundTest, OtherWidthsAndSignednessAreRefused) {
  uint8_t bytes[8] = {};
  EXPECT_EQ(CreateSound(bytes, 44100, 16, false, false, 8), SOUND_NO_SLOT);
  EXPECT_EQ(CreateSound(bytes, 44100, 32, false, false, 8), SOUND_NO_SLOT);
  EXPECT_EQ(CreateSound(bytes, 44100, 24, true, false, 6), SOUND_NO_SLOT);
  EXPECT_EQ(CreateSound(bytes, 44100, 4, true, false, 8), SOUND_NO_SLOT);
  EXPECT_EQ(Constant(0.0f, 1), 0);  // nothing was taken by the refusals
}

// ---- slots ----

TEST_F(SoundTest, SlotsAreTakenLowestFirstAndReused) {
  for (int i = 0; i < kMixerSoundCount; ++i) ASSERT_EQ(Constant(0.1f, 4), i);
  EXPECT_EQ(Constant(0.1f, 4), SOUND_NO_SLOT);
  FreeSound(77);
  FreeSound(5);
  EXPECT_EQ(SoundDefaultRate(5), 0);
  EXPECT_EQ(Constant(0.1f, 4, 11025), 5);
  EXPECT_EQ(SoundDefaultRate(5), 11025);
  EXPECT_EQ(Constant(0.1f, 4), 77);
}

TEST_F(SoundTest, BadSlotNumbersAreHarmless) {
  int s = Constant(0.5f, 8, 16000);
  FreeSound(-1);
  FreeSound(128);
  FreeSound(1);  // empty
  EXPECT_EQ(SoundDefaultRate(s), 16000);
  EXPECT_EQ(SoundDefaultRate(-1), 0);
  EXPECT_EQ(SoundDefaultRate(128), 0);
  EXPECT_EQ(SoundDefaultRate(1), 0);
  FreeSound(s);
  FreeSound(s);  // twice
  EXPECT_EQ(SoundDefaultRate(s), 0);
}

TEST_F(SoundTest, WithoutTablesNothingIsMadeOrPlayed) {
  MixerShutdown();
  EXPECT_EQ(Constant(0.5f, 8), SOUND_NO_SLOT);
  EXPECT_EQ(ChannelStart(0, 0), 0);
  EXPECT_EQ(ChannelSetVolume(0, 1.0f), 0);
  EXPECT_EQ(ChannelIsActive(0), 0);
  EXPECT_EQ(SoundDefaultRate(0), 0);
  FreeSound(0);
  Mix(4000);
  EXPECT_TRUE(AllZero(Mix(100)));
  MixerInit();
}

// ---- loops ----

TEST_F(SoundTest, WholeLoopCopiesTheFirstSampleIntoTheGuard) {
  std::vector<float> values = {0.5f, 0.25f, -0.5f};
  int s = CreateSoundFromPcm(values.data(), 44100, SampleFormat::Float32, 12);
  SetSoundLoop(s, 1, 0, 0);
  EXPECT_EQ(Slot(s).looping, 1);
  EXPECT_EQ(Slot(s).loopStart, 0u);
  EXPECT_EQ(Slot(s).loopEnd, 3u);
  EXPECT_EQ(Samples(s)[3], 0.5f);
  SetSoundLoop(s, 2, 1, 3);  // ping-pong is stored as a forward loop
  EXPECT_EQ(Slot(s).loopStart, 1u);
  EXPECT_EQ(Samples(s)[3], 0.25f);
}

TEST_F(SoundTest, InnerLoopLeavesTheGuardAlone) {
  int s = Constant(0.75f, 10);
  SetSoundLoop(s, 1, 2, 6);
  EXPECT_EQ(Slot(s).loopEnd, 6u);
  EXPECT_EQ(Samples(s)[10], 0.0f);
}

TEST_F(SoundTest, LoopsOutsideTheSoundOrOfNoLengthAreNotKept) {
  int s = Constant(0.75f, 10);
  SetSoundLoop(s, 1, 11, 0);
  SetSoundLoop(s, 1, 0, 11);
  EXPECT_EQ(Slot(s).looping, 0);
  SetSoundLoop(s, 1, 6, 4);  // ends before it starts
  EXPECT_EQ(Slot(s).looping, 0);
  SetSoundLoop(s, 1, 10, 0);  // from the end to the end
  EXPECT_EQ(Slot(s).looping, 0);
  SetSoundLoop(3, 1, 0, 0);  // empty slot
  EXPECT_EQ(Slot(3).looping, 0);

  int empty = CreateSoundFromPcm(nullptr, 8000, SampleFormat::Float32, 0);
  SetSoundLoop(empty, 1, 0, 0);
  EXPECT_EQ(Slot(empty).looping, 0);
  // An empty sound plays nothing and ends at once.
  PlaySoundOnChannel(0, empty, 1.0f, 0.0f, 0);
  Mix(10);
  EXPECT_EQ(ChannelIsActive(0), 0);
}

// ---- channels ----

TEST_F(SoundTest, ChannelNumbersOutsideTheTableAreIgnored) {
  for (int ch : {-1, 48, 1000}) {
    EXPECT_EQ(ChannelStart(ch, 0), 0);
    EXPECT_EQ(ChannelStop(ch), 0);
    EXPECT_EQ(ChannelSetVolume(ch, 1.0f), 0);
    EXPECT_EQ(ChannelSetPanning(ch, 1.0f), 0);
    EXPECT_EQ(ChannelSetRate(ch, 1), 0);
    EXPECT_EQ(ChannelIsActive(ch), 0);
  }
  EXPECT_EQ(ChannelStop(47), 1);
}

TEST_F(SoundTest, VolumeAndPanningAreClampedAndNaNIsNeutral) {
  const Channel& ch = Mixer().channels[4];
  ChannelSetVolume(4, 3.0f);
  EXPECT_EQ(ch.volume.load(), 2.0f);
  ChannelSetVolume(4, -1.0f);
  EXPECT_EQ(ch.volume.load(), 0.0f);
  ChannelSetVolume(4, NAN);
  EXPECT_EQ(ch.volume.load(), 0.0f);
  ChannelSetPanning(4, -7.0f);
  EXPECT_EQ(ch.panning.load(), -1.0f);
  ChannelSetPanning(4, 1.5f);
  EXPECT_EQ(ch.panning.load(), 1.0f);
  ChannelSetPanning(4, NAN);
  EXPECT_EQ(ch.panning.load(), 0.0f);
}

TEST_F(SoundTest, StartTakesTheDefaultRateAndKeepsIt) {
  int a = Constant(0.5f, 100, 22050);
  int b = Constant(0.5f, 100, 11025);
  const Channel& ch = Mixer().channels[9];
  ChannelStart(9, a);
  EXPECT_EQ(ch.rate.load(), 22050);
  EXPECT_EQ(ch.step.load(), 0.5f);
  ChannelStart(9, b);  // the rate survives the start
  EXPECT_EQ(ch.rate.load(), 22050);
  ChannelSetRate(9, 0);
  EXPECT_EQ(ch.step.load(), 0.0f);
  ChannelStart(9, b);
  EXPECT_EQ(ch.rate.load(), 11025);
  EXPECT_EQ(ch.step.load(), 0.25f);
}

TEST_F(SoundTest, ChannelIsActiveFromTheStartUntilTheEnd) {
  int s = Constant(0.5f, 300);
  EXPECT_EQ(ChannelIsActive(2), 0);
  PlaySoundOnChannel(2, s, 1.0f, 0.0f, 0);
  EXPECT_EQ(ChannelIsActive(2), 1);  // before the mixer has seen it
  Mix(299);
  EXPECT_EQ(ChannelIsActive(2), 1);
  Mix(1);
  EXPECT_EQ(ChannelIsActive(2), 0);
  PlaySoundOnChannel(2, s, 1.0f, 0.0f, 0);
  ChannelStop(2);
  EXPECT_EQ(ChannelIsActive(2), 0);
  Mix(100);
  EXPECT_EQ(ChannelIsActive(2), 0);
}

TEST_F(SoundTest, StartingAMissingSoundLeavesTheChannelSilent) {
  int s = Constant(0.5f, 1000);
  Mix(4000);
  for (int bad : {-1, 128, 100000, s + 1}) {
    PlaySoundOnChannel(6, s, 1.0f, 0.0f, 0);
    Mix(10);
    PlaySoundOnChannel(6, bad, 1.0f, 0.0f, 0);  // stops, then the start is ignored
    EXPECT_EQ(ChannelIsActive(6), 0) << bad;
    Mix(4000);
    EXPECT_TRUE(AllZero(Mix(200))) << bad;
  }
  // A start of an empty slot is not even pending: filling the slot later
  // does not bring it to life.
  EXPECT_EQ(ChannelStart(7, 50), 1);
  EXPECT_EQ(ChannelIsActive(7), 0);
  Mix(100);
  EXPECT_EQ(ChannelIsActive(7), 0);
}

// ---- deleting sounds that play ----

TEST_F(SoundTest, DeletingAPlayingSoundSilencesItsChannels) {
  int s = Constant(0.5f, 5000);
  SetSoundLoop(s, 1, 0, 0);
  PlaySoundOnChannel(0, s, 1.0f, 0.0f, 0);
  PlaySoundOnChannel(1, s, 1.0f, 0.5f, 30000);
  Mix(512);
  FreeSound(s);
  EXPECT_EQ(ChannelIsActive(0), 0);
  EXPECT_EQ(ChannelIsActive(1), 0);
  Mix(4000);  // the filter's tail
  EXPECT_TRUE(AllZero(Mix(1000)));
}

TEST_F(SoundTest, DeletingASoundWhoseStartIsPendingCancelsIt) {
  int s = Constant(0.5f, 5000);
  PlaySoundOnChannel(3, s, 1.0f, 0.0f, 0);
  FreeSound(s);
  EXPECT_EQ(ChannelIsActive(3), 0);
  Mix(4000);
  EXPECT_TRUE(AllZero(Mix(1000)));
}

TEST_F(SoundTest, ASlotReloadedAfterDeleteIsNotPlayedByOldStarts) {
  int s = Constant(0.5f, 5000);
  PlaySoundOnChannel(0, s, 1.0f, 0.0f, 0);  // pending
  PlaySoundOnChannel(1, s, 1.0f, 0.0f, 0);
  Mix(100);                                   // playing
  PlaySoundOnChannel(2, s, 1.0f, 0.0f, 0);  // pending again
  FreeSound(s);
  int again = Constant(-0.75f, 8000);
  ASSERT_EQ(again, s);  // same number, another sound
  EXPECT_EQ(ChannelIsActive(0), 0);
  EXPECT_EQ(ChannelIsActive(1), 0);
  EXPECT_EQ(ChannelIsActive(2), 0);
  Mix(4000);
  EXPECT_TRUE(AllZero(Mix(1000)));
  // New starts of the new sound play it.
  PlaySoundOnChannel(2, again, 1.0f, 0.0f, 0);
  std::vector<int16_t> out = Mix(1000);
  EXPECT_EQ(out[2 * 999], -12288);
}

TEST_F(SoundTest, FreeingManySoundsAtOnce) {
  int slots[] = {Constant(0.1f, 10), Constant(0.2f, 10), Constant(0.3f, 10), -4, 200};
  PlaySoundOnChannel(0, slots[1], 1.0f, 0.0f, 0);
  FreeSounds(slots, 5);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(SoundDefaultRate(slots[i]), 0);
  EXPECT_EQ(ChannelIsActive(0), 0);
  EXPECT_EQ(Constant(0.4f, 10), 0);
}

}  // namespace
