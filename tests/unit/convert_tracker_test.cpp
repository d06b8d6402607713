// The XM and MOD converters: modules built in memory the way the trackers
// save them are converted, loaded with the engine's own LoadTracker and
// stepped tick by tick, and what the channels do is compared with what the
// source module means. Also the warnings, and damaged files refused
// without a read outside the buffer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/mixer.h"
#include "audio/tracker.h"
#include "tests/support/tracker_files.h"
#include "tools/convert/tracker_convert.h"

namespace {

// FastTracker 2's linear period of a note, with relative note and finetune.
int32_t LinearPeriod(int note, int relativeNote, int finetune) {
  return static_cast<int32_t>(7680.0 - 64.0 * (note + relativeNote - 1) - finetune * 0.5 + 0.5);
}

class ConvertedMusic : public ::testing::Test {
 protected:
  void SetUp() override {
    MixerInit();
    SetMusicVolumeLevel(1.0);  // the level outlives a mixer
  }
  void TearDown() override {
    SetTickHook(nullptr);
    FreeTracker(music_);
    MixerShutdown();
  }

  // Converts, loads and starts the module; fails the test if any step refuses.
  Music* Play(const std::vector<uint8_t>& bytes, bool mod = false) {
    bool ok = mod ? ConvertModToTrk(bytes.data(), bytes.size(), &result_)
                  : ConvertXmToTrk(bytes.data(), bytes.size(), &result_);
    EXPECT_TRUE(ok) << result_.error;
    music_ = LoadTracker(result_.trk.data(), result_.trk.size());
    EXPECT_NE(music_, nullptr);
    if (music_) StartTracker(music_);
    return music_;
  }
  // Plays one whole row, however many ticks it has.
  void Row() {
    do MusicTick();
    while (music_->tick != 0);
  }
  const TrackState& Track(int ch) const { return music_->tracks[ch]; }
  static bool Started(int ch) {
    bool started = (Mixer().channels[ch].state.load() & CHANNEL_START_REQUEST) != 0;
    ChannelStop(ch);
    return started;
  }

  TrackerConversion result_;
  Music* music_ = nullptr;
};

TEST_F(ConvertedMusic, XmEffectsPlayAsFastTrackerMeansThemTickByTick) {
  xmfile::Module m;
  xmfile::Sample sample = xmfile::Sample::Square();
  sample.volume = 48;
  sample.panning = 200;
  sample.relativeNote = 12;
  sample.finetune = 16;
  m.instruments.push_back(xmfile::Instrument::Of(sample));
  m.orders = {0, 1};
  m.patterns[0]
      .Put(0, 0, {49, 1})
      .Put(1, 0, {0, 0, 0, 0x1, 0x02})   // portamento up 2: 8 linear units a tick
      .Put(2, 0, {0, 0, 0, 0x1, 0x00})   // again, from the effect's memory
      .Put(3, 0, {0, 0, 0, 0x2, 0x03})
      .Put(4, 0, {0, 0, 0, 0xA, 0x02})   // volume slide down 2 on the five later ticks
      .Put(5, 0, {0, 0, 0x62, 0, 0})     // the volume column's slide: the later ticks only
      .Put(6, 0, {0, 0, 0, 0xA, 0x00})   // A's memory is still 02
      .Put(7, 0, {51, 0, 0, 0x3, 0x0A})  // tone portamento to D-4, 40 units a tick
      .Put(8, 0, {0, 0, 0xC0, 0, 0})     // panning 0 from the volume column
      .Put(9, 0, {0, 0, 0, 0xC, 0x28})
      .Put(10, 0, {0, 0, 0, 0xE, 0xA3})  // fine volume slide up 3
      .Put(11, 0, {0, 0, 0, 0xE, 0xA0})  // again, from memory
      .Put(12, 0, {0, 1, 0, 0xE, 0x12})  // the sample's volume again; fine portamento up 2: 8 linear units
      .Put(13, 0, {0, 0, 0, 0xF, 0x03})
      .Put(14, 0, {0, 0, 0, 0xF, 0x96})
      .Put(15, 0, {0, 0, 0, 0xD, 0x05}); // on to row 5 of the next order
  m.patterns.emplace_back();
  for (int row = 0; row < 5; ++row) m.patterns[1].Put(row, 0, {13, 1});  // skipped by the break
  m.patterns[1]
      .Put(5, 0, {61, 1, 0, 0x4, 0x48})   // vibrato: the engine keeps the pitch
      .Put(6, 0, {0, 0, 0, 0xB, 0x00})    // back to the first order
      .Put(7, 0, {0, 0, 0, 0x0, 0x37});   // never played: no warning
  ASSERT_NE(Play(m.Bytes()), nullptr);

  const int32_t c4 = LinearPeriod(49, 12, 16);
  Row();
  EXPECT_TRUE(Started(0));
  EXPECT_EQ(Track(0).period, c4);
  EXPECT_EQ(Track(0).volume, 48);
  EXPECT_EQ(Track(0).panning, 200);
  Row();
  EXPECT_EQ(Track(0).period, c4 - 40);
  Row();
  EXPECT_EQ(Track(0).period, c4 - 80);
  Row();
  EXPECT_EQ(Track(0).period, c4 - 20);
  Row();
  EXPECT_EQ(Track(0).volume, 38);
  Row();
  EXPECT_EQ(Track(0).volume, 28);
  Row();
  EXPECT_EQ(Track(0).volume, 18);
  Row();
  EXPECT_EQ(Track(0).period, LinearPeriod(51, 12, 16));
  EXPECT_FALSE(Started(0)) << "tone portamento must not restart the note";
  EXPECT_EQ(Track(0).volume, 18);
  Row();
  EXPECT_EQ(Track(0).panning, 0);
  Row();
  EXPECT_EQ(Track(0).volume, 40);
  Row();
  EXPECT_EQ(Track(0).volume, 43);
  Row();
  EXPECT_EQ(Track(0).volume, 46);
  Row();
  EXPECT_EQ(Track(0).period, LinearPeriod(51, 12, 16) - 8);
  EXPECT_EQ(Track(0).volume, 48);
  EXPECT_FALSE(Started(0));
  Row();
  EXPECT_EQ(music_->speed, 3u);
  Row();
  EXPECT_EQ(music_->framesPerTick, 735);
  Row();  // the break
  EXPECT_FALSE(Started(0));
  // Pattern 1 from row 5: C-5 under a vibrato the engine cannot play.
  for (int tick = 0; tick < 3; ++tick) {
    MusicTick();
    EXPECT_EQ(Track(0).period, LinearPeriod(61, 12, 16)) << "tick " << tick;
  }
  EXPECT_TRUE(Started(0));
  Row();  // the jump back
  Row();
  EXPECT_TRUE(Started(0));
  EXPECT_EQ(Track(0).period, c4) << "the song goes on from its first row";

  EXPECT_EQ(result_.warnings,
            std::vector<std::string>{"pattern 1 row 5 channel 1: vibrato (effect 4) is not supported; the note keeps its pitch"});
}

TEST_F(ConvertedMusic, XmEnvelopesHoldTheirLastValueAfterKeyOffAndTheNoteStaysInPlace) {
  xmfile::Module m;
  xmfile::Instrument instrument = xmfile::Instrument::Of(xmfile::Sample::Square());
  instrument.volumeEnvelope.flags = 1 | 2 | 4;  // on, sustain, loop
  instrument.volumeEnvelope.points = {{0, 64}, {10, 32}, {20, 16}};
  instrument.volumeEnvelope.sustain = 1;
  instrument.fadeout = 0x400;  // 2048 of 65536 a tick
  m.instruments.push_back(instrument);
  m.patterns[0].Put(0, 0, {49, 1}).Put(4, 0, {97});
  ASSERT_NE(Play(m.Bytes()), nullptr);
  for (int row = 0; row < 4; ++row) Row();
  EXPECT_EQ(Track(0).keyOn, 1);
  EXPECT_EQ(Track(0).fadeVolume, 65536) << "held at the sustain point";
  for (int tick = 0; tick < 21; ++tick) MusicTick();  // the key-off tick and 20 more
  EXPECT_EQ(Track(0).keyOn, 0);
  EXPECT_EQ(Track(0).volumeEnvelope.value, 16) << "past its last point the envelope keeps its value";
  EXPECT_EQ(Track(0).fadeVolume, 65536 - 21 * 2048);
  EXPECT_FLOAT_EQ(Mixer().channels[0].volume.load(), 16 / 64.0f * (65536 - 21 * 2048) / 65536.0f);
  EXPECT_FLOAT_EQ(Mixer().channels[0].panning.load(), 0.0f) << "a released note stays where it was";
  EXPECT_EQ(result_.warnings, std::vector<std::string>{
                                  "instrument 1: volume envelope loops are not supported; the envelope plays through once"});
}

TEST_F(ConvertedMusic, XmPatternLoopsAndDelaysAreWrittenOutRowByRow) {
  xmfile::Module m;
  m.speed = 1;
  m.instruments.push_back(xmfile::Instrument::Of(xmfile::Sample::Square()));
  m.patterns[0] = xmfile::Pattern(8);
  m.patterns[0]
      .Put(0, 0, {25, 1})
      .Put(1, 0, {26, 1, 0, 0xE, 0x60})
      .Put(2, 0, {27, 1, 0, 0xE, 0x62})   // rows 1-2 twice more
      .Put(3, 0, {28, 1, 0, 0xE, 0xE2})   // this row three times
      .Put(4, 0, {29, 1})
      .Put(5, 0, {0, 0, 0, 0xD, 0x00});   // the end: back to the top
  ASSERT_NE(Play(m.Bytes()), nullptr);
  std::vector<int> notes, starts;
  for (int row = 0; row < 13; ++row) {
    Row();
    notes.push_back(Track(0).note);
    starts.push_back(Started(0));
  }
  EXPECT_EQ(notes, (std::vector<int>{25, 26, 27, 26, 27, 26, 27, 28, 28, 28, 29, 29, 25}));
  EXPECT_EQ(starts, (std::vector<int>{1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 1, 0, 1}));
  EXPECT_TRUE(result_.warnings.empty());
}

TEST_F(ConvertedMusic, ModKeepsFinetunePitchArpeggioPortamentoAndAmigaPanning) {
  modfile::Module m;
  modfile::Sample tuned;  // a triangle with a period of 64 values, finetune +3
  for (int i = 0; i < 256; ++i) tuned.values.push_back((i % 64 < 32 ? i % 64 : 64 - i % 64) * 6 - 96);
  tuned.finetune = 3;
  tuned.loopStartWords = 0;
  tuned.loopLengthWords = 128;
  modfile::Sample plain;
  for (int i = 0; i < 32; ++i) plain.values.push_back(i < 16 ? 90 : -90);
  plain.volume = 32;
  plain.loopLengthWords = 16;
  m.samples = {tuned, plain};
  m.Put(0, 0, 0, {428, 1})
      .Put(0, 0, 1, {428, 2, 0x0, 0x37})  // arpeggio: C, D#, G
      .Put(0, 0, 2, {428, 2, 0x1, 0x04})
      .Put(0, 1, 2, {0, 0, 0x1, 0x00})    // no memory in ProTracker: nothing
      .Put(0, 0, 3, {1712, 2});           // an octave below the Amiga's three
  ASSERT_NE(Play(m.Bytes(), true), nullptr);
  EXPECT_EQ(music_->flags & TRACKER_LINEAR_FREQUENCY, 0u);

  std::vector<int32_t> arpeggio;
  for (int tick = 0; tick < 6; ++tick) {
    MusicTick();
    arpeggio.push_back(Track(1).period);
  }
  EXPECT_EQ(arpeggio, (std::vector<int32_t>{428, 360, 285, 428, 360, 285}));
  EXPECT_EQ(Track(0).period, 428);
  EXPECT_EQ(Mixer().channels[0].rate.load(), 3546895 / 428);
  EXPECT_EQ(Track(2).period, 428 - 5 * 4);
  EXPECT_EQ(Track(1).volume, 32);
  EXPECT_EQ(Track(0).panning, 64);
  EXPECT_EQ(Track(1).panning, 192);
  MusicTick();
  MusicTick();
  EXPECT_EQ(Track(1).period, 428) << "the pitch comes back after the arpeggio";
  Row();
  EXPECT_EQ(Track(2).period, 408);

  // The engine's Amiga periods know no finetune: the sample itself is tuned,
  // so played at the period's rate it sounds 3/8 of a semitone higher.
  const InstrumentSample& s = music_->instruments[0].samples[0];
  const Sound& sound = Mixer().sounds[s.sound];
  double step = std::pow(2.0, 3.0 / 96.0);
  EXPECT_EQ(sound.length, static_cast<uint32_t>(std::floor(256 / step)));
  for (uint32_t i = 0; i < sound.length; i += 7) {
    double at = i * step;
    int a = static_cast<int>(at);
    double expected = tuned.values[a] + (tuned.values[(a + 1) % 256] - tuned.values[a]) * (at - a);
    EXPECT_NEAR(sound.samples[i] * 128.0, expected, 0.01) << i;
  }
  EXPECT_EQ(sound.loopStart, 0u);
  EXPECT_NEAR(sound.loopEnd, 256 / step, 1.0);

  EXPECT_EQ(result_.warnings,
            std::vector<std::string>{"pattern 0 row 0 channel 4: note C-2 is outside the Amiga period table's three "
                                     "octaves (C-3 to B-5); it plays at the nearest end"});
}

TEST_F(ConvertedMusic, PingPongLoopsPlayForwardAndBackThroughAForwardLoop) {
  xmfile::Module m;
  xmfile::Sample sample;
  sample.values = {0, 10, 20, 30, 40, 50, 60};
  sample.loopType = 2;
  sample.loopStart = 1;
  sample.loopLength = 4;  // 10 20 30 40, then back
  m.instruments.push_back(xmfile::Instrument::Of(sample));
  ASSERT_NE(Play(m.Bytes()), nullptr);
  const Sound& sound = Mixer().sounds[music_->instruments[0].samples[0].sound];
  std::vector<int> values;
  for (uint32_t i = 0; i < sound.length; ++i) values.push_back(static_cast<int>(std::lround(sound.samples[i] * 128)));
  EXPECT_EQ(values, (std::vector<int>{0, 10, 20, 30, 40, 30, 20}));
  EXPECT_EQ(sound.looping, 1);
  EXPECT_EQ(sound.loopStart, 1u);
  EXPECT_EQ(sound.loopEnd, 7u);
}

TEST_F(ConvertedMusic, SampleOffsetsPlayACopyOfTheSampleStartingThere) {
  xmfile::Module m;
  xmfile::Sample sample;
  for (int i = 0; i < 600; ++i) sample.values.push_back(i % 100 - 50);
  xmfile::Instrument instrument = xmfile::Instrument::Of(sample);
  instrument.fadeout = 77;
  m.instruments.push_back(instrument);
  m.patterns[0]
      .Put(0, 0, {49, 1, 0, 0x9, 0x02})   // from value 512
      .Put(1, 0, {49, 1})                 // from the start
      .Put(2, 0, {50, 1, 0, 0x9, 0x00});  // from 512 again, by memory
  ASSERT_NE(Play(m.Bytes()), nullptr);
  ASSERT_EQ(music_->instrumentCount, 2u) << "one copy for the one offset";
  const Instrument& copy = music_->instruments[1];
  EXPECT_EQ(copy.fadeout, 77 * 2);
  const Sound& sound = Mixer().sounds[copy.samples[0].sound];
  ASSERT_EQ(sound.length, 88u);
  EXPECT_EQ(std::lround(sound.samples[0] * 128), 512 % 100 - 50);
  std::vector<int> sounds;
  for (int row = 0; row < 3; ++row) {
    Row();
    EXPECT_TRUE(Started(0));
    sounds.push_back(Mixer().channels[0].sound.load());
  }
  EXPECT_EQ(sounds, (std::vector<int>{copy.samples[0].sound, music_->instruments[0].samples[0].sound,
                                      copy.samples[0].sound}));
  EXPECT_EQ(Track(0).period, LinearPeriod(50, 0, 0));
  EXPECT_TRUE(result_.warnings.empty());
}

TEST_F(ConvertedMusic, AmigaFrequencyXmTunesRelativeNotesIntoTheSamplesAndWarnsOfALateRestart) {
  xmfile::Module m;
  m.linear = false;
  xmfile::Sample sample;
  for (int i = 0; i < 64; ++i) sample.values.push_back(i * 3 - 96);
  sample.relativeNote = 12;  // an octave up: every second value
  sample.panning = 40;
  m.instruments.push_back(xmfile::Instrument::Of(sample));
  m.orders = {0, 1, 2};
  m.restart = 1;
  m.patterns = {xmfile::Pattern(2), xmfile::Pattern(2), xmfile::Pattern(2)};
  m.patterns[0].Put(0, 0, {49, 1});
  m.patterns[1].Put(0, 0, {51, 1});
  ASSERT_NE(Play(m.Bytes()), nullptr);
  Row();
  EXPECT_EQ(Track(0).period, 428);
  const Sound& sound = Mixer().sounds[music_->instruments[0].samples[0].sound];
  ASSERT_EQ(sound.length, 32u);
  for (uint32_t i = 0; i < 32; ++i) EXPECT_NEAR(sound.samples[i] * 128, sample.values[2 * i], 0.01) << i;
  EXPECT_EQ(result_.warnings,
            (std::vector<std::string>{
                "song: after its end the song goes back to order 1; the engine restarts it from the first order",
                "instrument 1 sample 0: its panning is not applied in Amiga frequency mode"}));
}

TEST(TrackerConvert, ModTagsSetTheChannelCount) {
  for (const auto& [tag, channels] : std::vector<std::pair<std::string, int>>{
           {"M.K.", 4}, {"FLT4", 4}, {"6CHN", 6}, {"8CHN", 8}, {"FLT8", 8}, {"12CH", 12}, {"32CH", 32}}) {
    modfile::Module m;
    m.tag = tag;
    m.channels = channels;
    m.samples.push_back({{10, 20, 30, 40}});
    m.Put(0, 5, channels - 1, {428, 1});
    std::vector<uint8_t> bytes = m.Bytes();
    TrackerConversion out;
    ASSERT_TRUE(ConvertModToTrk(bytes.data(), bytes.size(), &out)) << tag << ": " << out.error;
    EXPECT_EQ(out.trk[8] | out.trk[9] << 8, channels) << tag;
  }
  modfile::Module old;
  old.tag = "????";
  std::vector<uint8_t> bytes = old.Bytes();
  TrackerConversion out;
  EXPECT_FALSE(ConvertModToTrk(bytes.data(), bytes.size(), &out));
  EXPECT_NE(out.error.find("format tag"), std::string::npos) << out.error;
}

// A small XM with every part a file has: two patterns, an instrument with
// envelopes and a 16-bit ping-pong sample beside an 8-bit one.
std::vector<uint8_t> SmallXm() {
  xmfile::Module m;
  m.channels = 2;
  m.orders = {0, 1, 0};
  xmfile::Instrument instrument = xmfile::Instrument::Of(xmfile::Sample::Square(16));
  xmfile::Sample wide;
  for (int i = 0; i < 12; ++i) wide.values.push_back(i * 3000 - 16000);
  wide.sixteenBit = true;
  wide.loopType = 2;
  wide.loopStart = 2;
  wide.loopLength = 8;
  instrument.samples.push_back(wide);
  instrument.keymap[60] = 1;
  instrument.volumeEnvelope.flags = 3;
  instrument.volumeEnvelope.points = {{0, 64}, {4, 20}, {9, 40}};
  instrument.panningEnvelope.flags = 1;
  instrument.panningEnvelope.points = {{0, 0}, {8, 64}};
  instrument.fadeout = 300;
  m.instruments.push_back(instrument);
  m.instruments.emplace_back();  // no samples
  m.patterns[0] = xmfile::Pattern(4);
  m.patterns[0].Put(0, 0, {49, 1, 0x30, 0x1, 0x10}).Put(1, 1, {61, 1, 0, 0x4, 0x11}).Put(3, 0, {97});
  m.patterns.emplace_back(2);
  m.patterns[1].Put(0, 1, {50, 2, 0, 0xA, 0x0F}).Put(1, 0, {49, 1, 0x50, 0x3, 0x20});
  return m.Bytes();
}

std::vector<uint8_t> SmallMod() {
  modfile::Module m;
  m.orders = {0, 1};
  m.patterns.emplace_back();
  modfile::Sample a;
  for (int i = 0; i < 20; ++i) a.values.push_back(i * 10 - 100);
  a.finetune = -2;
  a.loopStartWords = 2;
  a.loopLengthWords = 6;
  m.samples = {a, modfile::Sample{{1, 2, 3, 4}}};
  m.Put(0, 0, 0, {428, 1, 0xA, 0x02}).Put(0, 1, 3, {214, 2, 0x0, 0x47}).Put(1, 2, 1, {0, 0, 0xD, 0x10});
  return m.Bytes();
}

// Every successful conversion must give a module the engine loads.
void ExpectLoadable(const TrackerConversion& out, const std::string& what) {
  MixerInit();
  Music* music = LoadTracker(out.trk.data(), out.trk.size());
  EXPECT_NE(music, nullptr) << what;
  FreeTracker(music);
  MixerShutdown();
}

TEST(TrackerConvert, DamagedFilesAreRefusedCleanlyAndEveryAcceptedOneLoads) {
  struct Format {
    const char* name;
    std::vector<uint8_t> bytes;
    bool (*convert)(const uint8_t*, size_t, TrackerConversion*);
  };
  for (const Format& format : {Format{"xm", SmallXm(), ConvertXmToTrk}, Format{"mod", SmallMod(), ConvertModToTrk}}) {
    const std::vector<uint8_t>& bytes = format.bytes;
    TrackerConversion out;
    ASSERT_TRUE(format.convert(bytes.data(), bytes.size(), &out)) << format.name << ": " << out.error;
    ExpectLoadable(out, format.name);
    // Cut anywhere: refused, with a reason. Each cut is its own allocation,
    // so the sanitizer sees any read past its end.
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
      std::vector<uint8_t> part(bytes.begin(), bytes.begin() + cut);
      EXPECT_FALSE(format.convert(part.data(), part.size(), &out)) << format.name << " cut at " << cut;
      EXPECT_FALSE(out.error.empty());
      EXPECT_TRUE(out.trk.empty());
    }
    // Any byte spoilt: refused or converted into something that loads.
    for (size_t at = 0; at < bytes.size(); ++at) {
      for (uint8_t value : {uint8_t{0x00}, uint8_t{0x7F}, uint8_t{0xFF}}) {
        std::vector<uint8_t> spoilt = bytes;
        spoilt[at] = value;
        if (format.convert(spoilt.data(), spoilt.size(), &out)) {
          ExpectLoadable(out, std::string(format.name) + " byte " + std::to_string(at));
        } else {
          EXPECT_FALSE(out.error.empty());
        }
      }
    }
  }
  TrackerConversion out;
  EXPECT_FALSE(ConvertXmToTrk(nullptr, 0, &out));
}

TEST(TrackerConvert, AbsurdCountsAndSizesAreRefusedWithAReason) {
  auto refuse = [](const std::vector<uint8_t>& bytes, bool mod, const std::string& reason) {
    TrackerConversion out;
    bool ok = mod ? ConvertModToTrk(bytes.data(), bytes.size(), &out) : ConvertXmToTrk(bytes.data(), bytes.size(), &out);
    EXPECT_FALSE(ok) << reason;
    EXPECT_NE(out.error.find(reason), std::string::npos) << out.error;
  };
  xmfile::Module m;
  m.patternCountField = 60000;
  refuse(m.Bytes(), false, "60000 patterns");
  m = xmfile::Module();
  m.channels = 200;
  refuse(m.Bytes(), false, "200 channels");
  m = xmfile::Module();
  m.instruments.push_back(xmfile::Instrument::Of(xmfile::Sample::Square()));
  m.instruments[0].samples[0].lengthField = 0xFFFFFFF0;
  refuse(m.Bytes(), false, "run past the end of the file");
  m = xmfile::Module();
  m.patterns[0] = xmfile::Pattern(0);
  refuse(m.Bytes(), false, "0 rows");
  refuse(std::vector<uint8_t>(400, 'x'), false, "not an XM module");

  modfile::Module mod;
  mod.orders = {0, 120};
  refuse(mod.Bytes(), true, "121 patterns run past the end of the file");
  mod = modfile::Module();
  mod.tag = "99CH";
  refuse(mod.Bytes(), true, "99 channels");
}

TEST(TrackerConvert, RepeatedWarningsOfAPatternAreOneLineAndUnplayedRowsWarnNothing) {
  xmfile::Module m;
  m.linear = true;
  m.channels = 2;
  m.instruments.push_back(xmfile::Instrument::Of(xmfile::Sample::Square()));
  for (int row = 0; row < 10; ++row) m.patterns[0].Put(row, 1, {0, 0, 0, 0x7, 0x44});
  m.patterns[0].Put(3, 0, {49, 0, 0, 0x9, 0x10}).Put(20, 0, {0, 0, 0, 0xB, 0x01});
  m.patterns.emplace_back();
  m.patterns[1].Put(0, 0, {0, 0, 0, 0x0, 0x37});  // arpeggio in a pattern never played
  m.orders = {0, 0};  // pattern 0 jumps to order 1, which is pattern 0 again: the song loops
  std::vector<uint8_t> bytes = m.Bytes();
  TrackerConversion out;
  ASSERT_TRUE(ConvertXmToTrk(bytes.data(), bytes.size(), &out)) << out.error;
  EXPECT_EQ(out.warnings,
            (std::vector<std::string>{
                "pattern 0 row 0 channel 2: tremolo (effect 7) is not supported; dropped (and 9 more times in this pattern)",
                "pattern 0 row 3 channel 1: sample offset (effect 9) on a note without an instrument number is not "
                "supported; the sample plays from its start",
            }));
}

}  // namespace
