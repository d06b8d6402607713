// Sound files: which waves are played and how, which are refused without a
// byte read past the entry, and mono Ogg Vorbis streams made by sox.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "archive/archive_set.h"
#include "audio/mixer.h"
#include "audio/ogg.h"
#include "audio/sound.h"
#include "audio/wave.h"
#include "tests/support/wave_files.h"

namespace {

class DecoderTest : public ::testing::Test {
 protected:
  void SetUp() override { MixerInit(); }
  void TearDown() override { MixerShutdown(); }

  // Parses a copy of exactly the file's bytes on the heap, so that a read
  // past its end is caught by the address sanitizer.
  static int Parse(const std::string& file) {
    std::vector<uint8_t> bytes(file.begin(), file.end());
    return CreateSoundFromWave(bytes.data(), bytes.size());
  }
  static int Load(const std::string& file, bool loop) {
    std::vector<uint8_t> bytes(file.begin(), file.end());
    AssetBuffer buffer = {static_cast<int32_t>(bytes.size()), bytes.data()};
    return LoadSoundAsset(buffer, loop);
  }
  static const Sound& Slot(int s) { return Mixer().sounds[s]; }
};

// ---- waves that play ----

TEST_F(DecoderTest, SixteenBitWaveKeepsItsRateAndSamples) {
  int s = Parse(MakeWave({}, Pcm16({0, 16384, -32768, 32767})));
  ASSERT_EQ(s, 0);
  EXPECT_EQ(Slot(s).defaultRate, 22050);
  ASSERT_EQ(Slot(s).length, 4u);
  EXPECT_EQ(Slot(s).samples[1], 0.5f);
  EXPECT_EQ(Slot(s).samples[2], -1.0f);
}

TEST_F(DecoderTest, EightBitWaveIsUnsigned) {
  WaveLayout w;
  w.bits = 8;
  w.rate = 11025;
  int s = Parse(MakeWave(w, Pcm8({0x80, 0x00, 0xFF, 0xC0})));
  ASSERT_EQ(Slot(s).length, 4u);
  EXPECT_EQ(Slot(s).samples[0], 0.0f);
  EXPECT_EQ(Slot(s).samples[1], -1.0f);
  EXPECT_EQ(Slot(s).samples[2], 0.9921875f);
  EXPECT_EQ(Slot(s).samples[3], 0.5f);
  EXPECT_EQ(Slot(s).defaultRate, 11025);
}

TEST_F(DecoderTest, ThirtyTwoBitWaveHoldsIntegersAtFullScaleTwoToThe31) {
  WaveLayout w;
  w.bits = 32;
  int s = Parse(MakeWave(w, Pcm32({INT32_MIN, -(1 << 29), 1 << 30, 0})));
  ASSERT_EQ(Slot(s).length, 4u);
  EXPECT_EQ(Slot(s).samples[0], -1.0f);
  EXPECT_EQ(Slot(s).samples[1], -0.25f);
  EXPECT_EQ(Slot(s).samples[2], 0.5f);
}

TEST_F(DecoderTest, LongerFmtChunkAndEmptyDataAreFine) {
  WaveLayout w;
  w.fmtSize = 18;  // with the cbSize word of newer writers
  int s = Parse(MakeWave(w, Pcm16({1000, 2000})));
  ASSERT_GE(s, 0);
  EXPECT_EQ(Slot(s).length, 2u);
  int empty = Parse(MakeWave({}, ""));
  ASSERT_GE(empty, 0);
  EXPECT_EQ(Slot(empty).length, 0u);
}

TEST_F(DecoderTest, LoadedWithLoopTheWholeSoundRepeats) {
  int looped = Load(MakeWave({}, Pcm16({8192, 0, -8192})), true);
  EXPECT_EQ(Slot(looped).looping, 1);
  EXPECT_EQ(Slot(looped).loopEnd, 3u);
  EXPECT_EQ(Slot(looped).samples[3], 0.25f);
  int once = Load(MakeWave({}, Pcm16({8192, 0, -8192})), false);
  EXPECT_EQ(Slot(once).looping, 0);
}

// ---- waves that are refused ----

TEST_F(DecoderTest, NonWavesAreNotRecognised) {
  EXPECT_EQ(Parse(""), SOUND_NOT_RECOGNISED);
  EXPECT_EQ(Parse("RIFF"), SOUND_NOT_RECOGNISED);
  EXPECT_EQ(Parse(std::string("RIFF\x04\0\0\0WAVX", 12)), SOUND_NOT_RECOGNISED);
  EXPECT_EQ(Parse(std::string("RIFX\0\0\0\0WAVEfmt ", 16)), SOUND_NOT_RECOGNISED);
  EXPECT_EQ(Load("just some text that is no sound", false), SOUND_NOT_RECOGNISED);
}

TEST_F(DecoderTest, OtherKindsOfWaveAreUnsupported) {
  WaveLayout stereo;
  stereo.channels = 2;
  EXPECT_EQ(Parse(MakeWave(stereo, Pcm16({1, 2, 3, 4}))), SOUND_UNSUPPORTED);
  WaveLayout floats;
  floats.formatTag = 3;
  floats.bits = 32;
  EXPECT_EQ(Parse(MakeWave(floats, Pcm32({0, 0}))), SOUND_UNSUPPORTED);
  WaveLayout list;
  list.between = std::string("LIST\x04\0\0\0INFO", 12);
  EXPECT_EQ(Parse(MakeWave(list, Pcm16({1, 2}))), SOUND_UNSUPPORTED);
  std::string noFmt = MakeWave({}, Pcm16({1, 2}));
  noFmt.replace(12, 4, "junk");
  EXPECT_EQ(Parse(noFmt), SOUND_UNSUPPORTED);
  WaveLayout wide;
  wide.bits = 24;
  EXPECT_EQ(Parse(MakeWave(wide, std::string(6, '\0'))), SOUND_NO_SLOT);
  EXPECT_EQ(Load(MakeWave(stereo, Pcm16({1, 2})), false), SOUND_UNSUPPORTED);
  EXPECT_EQ(Mixer().sounds[0].flags.load(), 0u);  // nothing was taken
}

TEST_F(DecoderTest, HeaderSizesBeyondTheEntryAreUnsupported) {
  std::string whole = MakeWave({}, Pcm16({1, 2, 3, 4}));
  // Every cut of a good file: a short header, a missing data tag, too few samples.
  for (size_t cut = 12; cut < whole.size(); ++cut) {
    EXPECT_EQ(Parse(whole.substr(0, cut)), SOUND_UNSUPPORTED) << "cut at " << cut;
  }
  WaveLayout lying;
  lying.statedDataSize = 0xFFFFFFF0u;
  EXPECT_EQ(Parse(MakeWave(lying, Pcm16({1, 2}))), SOUND_UNSUPPORTED);
  std::string file = MakeWave({}, Pcm16({1, 2}));
  file[16] = '\xF0';
  file[17] = file[18] = file[19] = '\xFF';
  EXPECT_EQ(Parse(file), SOUND_UNSUPPORTED);
  WaveLayout shortFmt;
  shortFmt.fmtSize = 14;  // "data" would lie inside the format fields
  EXPECT_EQ(Parse(MakeWave(shortFmt, Pcm16({1, 2}))), SOUND_UNSUPPORTED);
}

// ---- Ogg Vorbis ----

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// An Ogg Vorbis file of a sine made by sox, or "" (with a failure) if sox fails.
std::string SoxOgg(int channels, int rate, double seconds) {
  char pattern[] = "/tmp/pelto-ogg-XXXXXX";
  int fd = mkstemp(pattern);
  if (fd >= 0) close(fd);
  std::string path = std::string(pattern) + ".ogg";
  std::string command = "sox -q -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " " + path +
                        " synth " + std::to_string(seconds) + " sine 440 vol 0.5 2>/dev/null";
  int status = std::system(command.c_str());
  std::string bytes = ReadAll(path);
  std::remove(path.c_str());
  std::remove(pattern);
  EXPECT_EQ(status, 0) << "sox could not make an Ogg file (is sox installed?)";
  EXPECT_FALSE(bytes.empty());
  return bytes;
}

TEST_F(DecoderTest, MonoOggDecodesAtItsOwnRate) {
  std::string ogg = SoxOgg(1, 22050, 0.5);
  ASSERT_FALSE(ogg.empty());
  std::vector<uint8_t> bytes(ogg.begin(), ogg.end());
  int s = CreateSoundFromOgg(bytes.data(), bytes.size());
  ASSERT_GE(s, 0);
  EXPECT_EQ(Slot(s).defaultRate, 22050);
  EXPECT_NEAR(static_cast<double>(Slot(s).length), 11025.0, 64.0);
  // A 440 Hz sine at half scale: the peaks come close to 0.5 and no further.
  float peak = 0.0f;
  for (uint32_t i = 0; i < Slot(s).length; ++i) peak = std::max(peak, std::fabs(Slot(s).samples[i]));
  EXPECT_NEAR(peak, 0.5f, 0.05f);
  EXPECT_EQ(Slot(s).samples[Slot(s).length], 0.0f);
  // Through the loader, with a loop.
  int looped = Load(ogg, true);
  EXPECT_EQ(Slot(looped).looping, 1);
  EXPECT_EQ(Slot(looped).defaultRate, 22050);
}

TEST_F(DecoderTest, StereoOggIsUnsupported) {
  std::string ogg = SoxOgg(2, 44100, 0.2);
  ASSERT_FALSE(ogg.empty());
  EXPECT_EQ(Load(ogg, false), SOUND_UNSUPPORTED);
  EXPECT_EQ(Mixer().sounds[0].flags.load(), 0u);
}

TEST_F(DecoderTest, DamagedOggIsRefusedOrDecodedButNeverOverread) {
  std::string ogg = SoxOgg(1, 11025, 0.3);
  ASSERT_FALSE(ogg.empty());
  EXPECT_EQ(Load(ogg.substr(0, 20), false), SOUND_NOT_RECOGNISED);  // the headers are cut
  for (size_t cut : {ogg.size() / 3, ogg.size() / 2, ogg.size() - 1}) {
    int s = Load(ogg.substr(0, cut), false);
    if (s >= 0) FreeSound(s);
  }
  std::string garbled = ogg;
  for (size_t i = 200; i < garbled.size(); i += 97) garbled[i] = static_cast<char>(garbled[i] ^ 0x5A);
  int s = Load(garbled, false);
  if (s >= 0) FreeSound(s);
}

}  // namespace
