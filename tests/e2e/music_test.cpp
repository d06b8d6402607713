// Tracker music played by the real engine: the module is made here, packed
// with pelto-tool, played through ALSA into a pipe, and the captured stream
// is compared sample by sample with the reference mixer driven the way the
// sequencer must drive it. Also the script-level rules of the music
// functions and the modules LoadMusic refuses.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/engine_runner.h"
#include "tests/e2e/pipe_capture.h"
#include "tests/support/mixer_reference.h"
#include "tests/support/trk_writer.h"

namespace {

std::string Bytes(const trk::Module& m) {
  std::vector<uint8_t> b = m.Bytes();
  return std::string(b.begin(), b.end());
}

// Ticks at 125 BPM last 882 frames; effect 15 with 150 makes them 735.
constexpr int kSlowTick = 882;
constexpr int kFastTick = 735;
constexpr int kSpeed = 3;
// Note 49 with relative note and finetune 0 in linear mode plays at 8363 Hz.
constexpr uint8_t kNote = 49;
constexpr int32_t kNoteRate = 8363;
// Row 40 turns the second note off: heard only if the sequencer still runs.
constexpr int kLateKeyOffRow = 40;

// One channel, no envelopes: a looped square wave starts on row 0, is keyed
// off on row 2 (which silences it at once and quickens the tempo), starts
// again on row 4 and would be keyed off on row 40.
trk::Module TimingModule() {
  trk::Module m;
  m.speed = kSpeed;
  m.instruments.push_back(trk::Instrument::Of(trk::Sample::Square(32, 100)));
  m.patterns[0]
      .Put(0, 0, {kNote, 1})
      .Put(2, 0, {trk::kKeyOff, 0, 0, 15, 150})
      .Put(4, 0, {kNote, 1})
      .Put(kLateKeyOffRow, 0, {trk::kKeyOff});
  return m;
}

// Frames from the first note to the second: two rows of slow ticks, then
// two of fast ones.
constexpr int kSecondOnset = 2 * kSpeed * kSlowTick + 2 * kSpeed * kFastTick;
// Frames from the first note to the row-40 key-off.
constexpr int kLateKeyOff = kSecondOnset + (kLateKeyOffRow - 4) * kSpeed * kFastTick;

// What the mixer must be told, tick by tick: full volume at the centre for a
// note, silence (and the panning envelope's swing to the left) at key-off.
// The first rendered frame is the first note's first frame.
std::vector<int16_t> ReferenceFromFirstNote(int frames) {
  RefMixer ref;
  std::vector<float> square;
  for (int i = 0; i < 32; ++i) square.push_back((i < 16 ? 100 : -100) / 128.0f);
  ref.sounds = {RefSound::Of(square, kNoteRate, true)};
  auto note = [&ref] {
    ref.SetVolume(0, 1.0f);
    ref.SetPanning(0, 0.0f);
    ref.SetRate(0, kNoteRate);
    ref.Start(0, 0);
  };
  std::vector<int16_t> out;
  note();
  ref.Render(2 * kSpeed * kSlowTick, &out);
  ref.SetVolume(0, 0.0f);
  ref.SetPanning(0, -1.0f);
  ref.Render(2 * kSpeed * kFastTick, &out);
  note();
  ref.Render(frames - kSecondOnset, &out);
  return out;
}

size_t FirstSoundingFrame(const std::vector<int16_t>& s, size_t fromFrame) {
  for (size_t i = 2 * fromFrame; i < s.size(); ++i)
    if (s[i] != 0) return i / 2;
  return s.size() / 2;
}

size_t FirstSilentFrame(const std::vector<int16_t>& s, size_t fromFrame) {
  for (size_t f = fromFrame; 2 * f + 1 < s.size(); ++f)
    if (s[2 * f] == 0 && s[2 * f + 1] == 0) return f;
  return s.size() / 2;
}

const char kPlayStopDelete[] = R"(
local function wait(ms)
  local t = OsTicks()
  while OsTicks() - t < ms do OsUpdate() Flip() end
end
print(LoadMusic("song.trk"))
OpenDisplay("music", 64, 48)
PlayMusic()
wait(1000)
StopMusic()
wait(2000)
DeleteMusic()
wait(600)
CloseDisplay()
print("done")
)";

TEST(MusicOutput, NotesStartOnTheirTickToTheFrameStopMusicKeepsThemAndDeleteMusicSilences) {
  ScratchDir dir;
  BuildGame(dir, {{"boot.lua", kPlayStopDelete}, {"song.trk", Bytes(TimingModule())}});
  dir.Write("home/.asoundrc", AsoundrcToFile(dir / "capture.raw"));
  PipeCapture capture(dir / "capture.raw");
  RunResult result = RunGame(dir);
  capture.Stop();

  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "true\ndone\n");
  std::vector<std::vector<int16_t>> segments = capture.Segments();
  ASSERT_EQ(segments.size(), 1u);
  const std::vector<int16_t>& s = segments[0];

  // The stream is silent until the first note. From there on it is the
  // reference's bit for bit until DeleteMusic stops the channel: the
  // key-off silences the note within the filter's tail, and the second note
  // starts exactly two slow and two fast rows after the first.
  size_t first = FirstSoundingFrame(s, 0);
  ASSERT_LT(first, s.size() / 2) << "nothing was heard";
  size_t frames = s.size() / 2 - first;
  ASSERT_GT(frames, static_cast<size_t>(kLateKeyOff + 44100)) << "the capture is too short";
  std::vector<int16_t> expected = ReferenceFromFirstNote(static_cast<int>(frames));
  size_t quiet = FirstSilentFrame(expected, 0);
  ASSERT_GT(quiet, static_cast<size_t>(2 * kSpeed * kSlowTick));
  ASSERT_LT(quiet, static_cast<size_t>(2 * kSpeed * kSlowTick + 32));
  EXPECT_EQ(FirstSilentFrame(s, first), first + quiet);
  EXPECT_EQ(FirstSoundingFrame(s, first + quiet), first + kSecondOnset);

  size_t match = 0;
  while (match < frames && s[2 * (first + match)] == expected[2 * match] &&
         s[2 * (first + match) + 1] == expected[2 * match + 1])
    ++match;
  // Had StopMusic not stopped the sequencer, the row-40 key-off would have
  // ended the match there.
  EXPECT_GT(match, static_cast<size_t>(kLateKeyOff + 4410)) << "StopMusic should leave the note sounding";
  // DeleteMusic comes three seconds after PlayMusic by the script's clock.
  EXPECT_GT(match, 44100u * 5 / 2);
  EXPECT_LT(match, 44100u * 4) << "DeleteMusic should silence the note";

  // After DeleteMusic only the filter's tail, then silence to the end.
  size_t silent = FirstSilentFrame(s, first + match);
  EXPECT_LT(silent, first + match + 32);
  EXPECT_EQ(FirstSoundingFrame(s, silent), s.size() / 2) << "sound after DeleteMusic";
}

TEST(MusicFunctions, AreHarmlessWithoutAMusicAndLoadMusicDoesNotStartPlaying) {
  ScratchDir dir;
  BuildGame(dir, {{"boot.lua", R"(
PlayMusic()
StopMusic()
DeleteMusic()
SetMusicVolume(0.5)
print("nothing loaded")
print(LoadMusic("song.trk"), LoadMusic("song.trk"))
DeleteMusic()
DeleteMusic()
PlayMusic()
print("deleted")
OpenDisplay("music", 32, 32)
LoadMusic("song.trk")
local t = OsTicks()
while OsTicks() - t < 200 do OsUpdate() Flip() end
print("loaded, silent", IsChannelActive(0))
PlayMusic()
t = OsTicks()
while OsTicks() - t < 200 do OsUpdate() Flip() end
print("playing", IsChannelActive(0))
SetMusicVolume(2)
PlayMusic()
LoadMusic("song.trk")
print("reloaded", IsChannelActive(0))
CloseDisplay()
)"},
                  {"song.trk", Bytes(TimingModule())}});
  // A device paced like a sound card, so that channels play at all.
  dir.Write("home/.asoundrc", AsoundrcToFile(dir / "capture.raw"));
  PipeCapture capture(dir / "capture.raw");
  RunResult result = RunGame(dir);
  capture.Stop();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out,
            "nothing loaded\ntrue\ttrue\ndeleted\nloaded, silent\tfalse\nplaying\ttrue\nreloaded\tfalse\n");
}

// Modules LoadMusic must refuse, each beside the one valid module it spoils.
std::vector<std::pair<std::string, std::string>> SpoiltModules() {
  std::vector<std::pair<std::string, std::string>> out;
  trk::Module m = TimingModule();
  m.version = 2;
  out.push_back({"another version", Bytes(m)});
  m = TimingModule();
  m.orders = {1};
  out.push_back({"an order naming a missing pattern", Bytes(m)});
  m = TimingModule();
  m.patterns[0].Put(7, 0, {kNote, 2});
  out.push_back({"an instrument beyond the instruments", Bytes(m)});
  m = TimingModule();
  for (uint16_t x = 0; x < 13; ++x) m.instruments[0].volumeEnvelope.points.push_back({x, 64});
  out.push_back({"13 envelope points", Bytes(m)});
  m = TimingModule();
  std::string cut = Bytes(m);
  out.push_back({"a sample cut short", cut.substr(0, cut.size() - 5)});
  m = TimingModule();
  m.patterns[0].rowsField = 2000;
  out.push_back({"more rows than the entry holds", Bytes(m)});
  return out;
}

TEST(MusicLoading, ModulesThatDoNotHoldTogetherEndTheGame) {
  for (const auto& [what, module] : SpoiltModules()) {
    ScratchDir dir;
    BuildGame(dir, {{"boot.lua", "print('before')\nLoadMusic('song.trk')\nprint('not reached')\n"},
                    {"song.trk", module}});
    RunResult result = RunGame(dir);
    EXPECT_EQ(result.exitCode, 1) << what;
    EXPECT_EQ(result.out, "before\n") << what;
    EXPECT_EQ(result.err, "Error: Data file missing or corrupt.\n") << what;
  }
}

TEST(MusicLoading, AMissingEntryEndsTheGame) {
  ScratchDir dir;
  BuildGame(dir, {{"boot.lua", "LoadMusic('nowhere.trk')\nprint('not reached')\n"}});
  RunResult result = RunGame(dir);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "Error: Data file missing or corrupt.\n");
}

}  // namespace
