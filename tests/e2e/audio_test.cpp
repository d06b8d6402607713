// Sound heard from outside: the real engine plays through ALSA into a pipe
// (a test HOME's .asoundrc routes the default device to ALSA's file plugin),
// and the captured stream is compared sample by sample with the reference
// mixer. The pipe is read at the pace of a real sound card.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/engine_runner.h"
#include "tests/e2e/pipe_capture.h"
#include "tests/support/mixer_reference.h"
#include "tests/support/wave_files.h"

namespace {

// The known sounds: a 16-bit tone and an 8-bit blip, both starting loud.
std::vector<int16_t> ToneValues() {
  std::vector<int16_t> v;
  for (int i = 0; i < 20000; ++i) v.push_back(static_cast<int16_t>(12000 - (i * 37) % 20000));
  return v;
}
std::vector<uint8_t> BlipValues() {
  std::vector<uint8_t> v;
  for (int i = 0; i < 8000; ++i) v.push_back(static_cast<uint8_t>(i % 2 ? 240 : 20 + i % 60));
  return v;
}
RefSound ToneReference() {
  std::vector<float> f;
  for (int16_t x : ToneValues()) f.push_back(x * (1.0f / 32768.0f));
  return RefSound::Of(f, 22050);
}
RefSound BlipReference() {
  std::vector<float> f;
  for (uint8_t x : BlipValues()) f.push_back((x - 128) * (1.0f / 128.0f));
  return RefSound::Of(f, 11025);
}

// The first frame that is not silent; the output's first frames are the
// silence the sound system fills its buffer with before the stream runs.
size_t FirstSoundingFrame(const std::vector<int16_t>& s) {
  for (size_t i = 0; i < s.size(); ++i)
    if (s[i] != 0) return i / 2;
  return s.size() / 2;
}

// Compares a captured segment from its first sounding frame to its end with
// the reference, which renders the same number of frames.
void ExpectSegmentMatches(const std::vector<int16_t>& captured, RefMixer* ref, size_t soundFrames,
                          const char* name) {
  size_t first = FirstSoundingFrame(captured);
  for (size_t i = 0; i < 2 * first; ++i) ASSERT_EQ(captured[i], 0) << name;
  size_t frames = captured.size() / 2 - first;
  ASSERT_GT(frames, soundFrames) << name << ": too short to hold the sound";
  std::vector<int16_t> expected;
  ref->Render(static_cast<int>(frames), &expected);
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(captured[2 * first + i], expected[i])
        << name << ": frame " << i / 2 << (i % 2 ? " right" : " left") << " after the start";
  }
  // It ends in silence: the sounds ended and the filter's tail died away.
  EXPECT_EQ(expected[expected.size() - 1], 0);
  EXPECT_EQ(expected[expected.size() - 2], 0);
}

const char kScript[] = R"(
local tone = LoadSound("tone.wav")
local blip = LoadSound("blip.wav")
print("rates", GetSoundDefaultRate(tone), GetSoundDefaultRate(blip))

-- Played before any display: waiting, and not reported active.
PlaySound(5, tone, 1.0, -0.5)
PlaySound(9, blip, 0.5, 1.0, 44100)
print("before", IsChannelActive(5), IsChannelActive(9))

local function wait(ms)
  local t = OsTicks()
  while OsTicks() - t < ms do OsUpdate() Flip() end
end
local function playOut(ch)
  local t = OsTicks()
  while IsChannelActive(ch) and OsTicks() - t < 5000 do OsUpdate() Flip() end
end

OpenDisplay("sound", 64, 48)
print("open", IsChannelActive(5), IsChannelActive(9))
playOut(5)
playOut(9)
print("ended", IsChannelActive(5), IsChannelActive(9))
wait(200)
CloseDisplay()

-- Played while no display is open: not heard now, not active.
PlaySound(6, tone, 2.0, 0.25, 30000)
print("closed", IsChannelActive(6))
local t = OsTicks()
while OsTicks() - t < 300 do end

-- The next display's stream starts with it.
OpenDisplay("sound", 64, 48)
playOut(6)
wait(200)
CloseDisplay()
print("done")
)";

TEST(SoundOutput, CapturedStreamHoldsExactlyTheMixedSoundsWhileADisplayIsOpen) {
  ScratchDir dir;
  WaveLayout tone;
  tone.rate = 22050;
  WaveLayout blip;
  blip.rate = 11025;
  blip.bits = 8;
  BuildGame(dir, {{"boot.lua", kScript},
                  {"tone.wav", MakeWave(tone, Pcm16(ToneValues()))},
                  {"blip.wav", MakeWave(blip, Pcm8(BlipValues()))}});
  dir.Write("home/.asoundrc", AsoundrcToFile(dir / "capture.raw"));
  PipeCapture capture(dir / "capture.raw");
  RunResult result = RunGame(dir);
  capture.Stop();

  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out,
            "rates\t22050\t11025\nbefore\tfalse\tfalse\nopen\ttrue\ttrue\nended\tfalse\tfalse\n"
            "closed\tfalse\ndone\n");

  // One stream per display, nothing in between.
  std::vector<std::vector<int16_t>> segments = capture.Segments();
  ASSERT_EQ(segments.size(), 2u);

  RefMixer first;
  first.sounds = {ToneReference(), BlipReference()};
  first.Play(5, 0, 1.0f, -0.5f, 0);
  first.Play(9, 1, 0.5f, 1.0f, 44100);
  ExpectSegmentMatches(segments[0], &first, 40000, "first display");

  RefMixer second;
  second.sounds = {ToneReference(), BlipReference()};
  second.Play(6, 0, 2.0f, 0.25f, 30000);
  ExpectSegmentMatches(segments[1], &second, 29400, "second display");
}

TEST(SoundOutput, WithoutAnOutputDeviceTheGameRunsSilently) {
  // The default device cannot be opened; a machine with sound cards would
  // still offer those, so the test needs one without.
  struct stat cards;
  if (stat("/dev/snd", &cards) == 0) GTEST_SKIP() << "this machine has sound cards";
  ScratchDir dir;
  WaveLayout tone;
  BuildGame(dir, {{"boot.lua", R"(
local s = LoadSound("tone.wav")
OpenDisplay("silent", 32, 32)
PlaySound(0, s)
print(IsChannelActive(0))
OsUpdate() Flip()
CloseDisplay()
)"},
                  {"tone.wav", MakeWave(tone, Pcm16(ToneValues()))}});
  dir.Write("home/.asoundrc", "pcm.!default {\n  type file\n  slave.pcm \"nowhere\"\n  file \"/dev/null\"\n}\n");
  RunResult result = RunGame(dir);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "false\n");
}

TEST(SoundOutput, AStreamThatCannotOpenShowsTwoBoxesAndTheGameGoesOn) {
  ScratchDir dir;
  BuildGame(dir, {{"boot.lua", "OpenDisplay('no stream', 32, 32)\nprint('going on')\nCloseDisplay()\n"}});
  // A default device with one channel only: a stereo stream is refused.
  dir.Write("home/.asoundrc",
            "pcm.!default {\n  type multi\n  slaves.a { pcm \"null\" channels 1 }\n"
            "  bindings.0 { slave a channel 0 }\n}\n");
  RunResult result = RunGame(dir);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "going on\n");
  EXPECT_EQ(result.err, "Error: Error initialising audio stream.\nError: Invalid number of channels\n");
}

TEST(SoundLoading, SlotsRunOutFatallyAndADeletedNumberIsReused) {
  ScratchDir dir;
  BuildGame(dir, {{"boot.lua", R"(
local last
for i = 1, 128 do last = LoadSound("tone.wav") end
print(last, GetSoundDefaultRate(40))
DeleteSound(40)
DeleteSound(40)
DeleteSound(-3)
print(GetSoundDefaultRate(40), LoadSound("tone.wav"))
LoadSound("tone.wav")
print("not reached")
)"},
                  {"tone.wav", MakeWave({}, Pcm16({1, 2, 3}))}});
  RunResult result = RunGame(dir);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, "127\t22050\n0\t40\n");
  EXPECT_EQ(result.err, "Error: Data file missing or corrupt.\n");
}

TEST(SoundLoading, FilesOfOtherKindsEndTheGame) {
  WaveLayout stereo;
  stereo.channels = 2;
  WaveLayout listed;
  listed.between = std::string("LIST\x04\0\0\0INFO", 12);
  WaveLayout truncated;
  truncated.statedDataSize = 1000;
  for (const std::string& file : {MakeWave(stereo, Pcm16({1, 2})), MakeWave(listed, Pcm16({1, 2})),
                                  MakeWave(truncated, Pcm16({1, 2})), std::string("neither wave nor ogg")}) {
    ScratchDir dir;
    BuildGame(dir, {{"boot.lua", "LoadSound('bad.wav')\nprint('not reached')\n"}, {"bad.wav", file}});
    RunResult result = RunGame(dir);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Error: Data file missing or corrupt.\n");
  }
}

}  // namespace
