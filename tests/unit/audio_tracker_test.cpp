// The "[TRK]" loader: what a module turns into (records, sound slots,
// loops), the engine's one current music, and every kind of entry it
// refuses, with nothing read outside the entry and no slot left behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "audio/mixer.h"
#include "audio/sound.h"
#include "audio/tracker.h"
#include "tests/support/trk_writer.h"

namespace {

class TrackerLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override { MixerInit(); }
  void TearDown() override {
    FreeTracker(music_);
    DeleteCurrentMusic();
    MixerShutdown();
  }

  // Loads from a heap copy of exactly the module's bytes, so the sanitizer
  // sees any read past the entry.
  Music* Load(const std::vector<uint8_t>& bytes) {
    FreeTracker(music_);
    entry_ = std::vector<uint8_t>(bytes.begin(), bytes.end());
    music_ = LoadTracker(entry_.data(), entry_.size());
    return music_;
  }
  Music* Load(const trk::Module& m) { return Load(m.Bytes()); }

  static int SlotsInUse() {
    int n = 0;
    for (int s = 0; s < kMixerSoundCount; ++s) n += (Mixer().sounds[s].flags.load() & SOUND_IN_USE) ? 1 : 0;
    return n;
  }
  static const Sound& Slot(int s) { return Mixer().sounds[s]; }
  static std::vector<float> Samples(int s) {
    const Sound& sound = Slot(s);
    return std::vector<float>(sound.samples, sound.samples + sound.length + 1);  // with the guard
  }
  static int Constant(float value) { return CreateSoundFromPcm(&value, 44100, SampleFormat::Float32, 4); }

  // A module using every section: two channels, two patterns played in
  // the order 1, 0, 1, an instrument with two samples and both envelopes,
  // an empty instrument and a plain one. Its last byte is sample data, so
  // the loader needs every byte of it.
  static trk::Module Rich() {
    trk::Module m;
    m.flags = trk::kLinear;
    m.channels = 2;
    m.bpm = 140;
    m.speed = 4;
    m.stored = 0xBEEF;
    m.orders = {1, 0, 1};
    m.patterns = {trk::Pattern(2), trk::Pattern(1)};
    m.patterns[0].Put(0, 0, {49, 1, 0x30, 0x0A, 0x21}).Put(1, 1, {trk::kKeyOff, 3, 0xC4, 0x0F, 0x21});
    m.patterns[1].Put(0, 1, {96, 0, 0, 0x08, 0x80});

    trk::Sample narrow;
    narrow.values = {0, 50, -50, 100};
    narrow.loopStart = 1;
    narrow.loopLength = 2;
    narrow.type = trk::kLoopForward;
    narrow.volume = 48;
    narrow.finetune = -5;
    narrow.panning = 200;
    narrow.relativeNote = -12;
    trk::Sample wide;
    wide.type = trk::kSixteenBit;
    wide.values = {1000, -1000, 32767};
    wide.volume = 64;
    wide.finetune = 16;
    wide.panning = 0;
    wide.relativeNote = 7;
    trk::Instrument full = trk::Instrument::Of({narrow, wide});
    for (int i = 0; i < 96; ++i) full.keymap[i] = static_cast<uint8_t>(i % 2);
    full.volumeEnvelope = trk::Envelope::On({{0, 64}, {10, 32}, {300, 0}}, 1);
    full.volumeEnvelope.stored[0] = 0xAA;
    full.volumeEnvelope.stored[1] = 0xBB;
    full.panningEnvelope = trk::Envelope::On({{0, 32}, {20, 64}});
    full.panningEnvelope.stored[0] = 0xCC;
    full.stored[0] = 1;
    full.stored[3] = 4;
    full.fadeout = 300;

    trk::Sample last;
    last.values = {-128, 127, 3};
    m.instruments = {full, trk::Instrument(), trk::Instrument::Of(last)};
    return m;
  }

  // A refused module: no Music and no sound slot left taken.
  void ExpectRefused(const std::vector<uint8_t>& bytes, const char* what) {
    EXPECT_EQ(Load(bytes), nullptr) << what;
    EXPECT_EQ(SlotsInUse(), 0) << what;
  }
  void ExpectRefused(const trk::Module& m, const char* what) { ExpectRefused(m.Bytes(), what); }

  Music* music_ = nullptr;
  std::vector<uint8_t> entry_;
};

// ---- what a module becomes ----

TEST_F(TrackerLoaderTest, HeaderOrdersAndPatternsAreCopied) {
  Music* m = Load(Rich());
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->songLength, 3u);
  EXPECT_EQ(m->channelCount, 2u);
  EXPECT_EQ(m->patternCount, 2u);
  EXPECT_EQ(m->instrumentCount, 3u);
  EXPECT_EQ(m->flags, TRACKER_LINEAR_FREQUENCY);
  EXPECT_EQ(m->defaultSpeed, 4u);
  EXPECT_EQ(m->defaultBpm, 140u);
  EXPECT_EQ(m->stored, 0xBEEFu);
  EXPECT_EQ(std::vector<uint8_t>(m->orders, m->orders + 3), (std::vector<uint8_t>{1, 0, 1}));
  ASSERT_NE(m->tracks, nullptr);

  ASSERT_EQ(m->patterns[0].rows, 2u);
  EXPECT_EQ(std::vector<uint8_t>(m->patterns[0].cells, m->patterns[0].cells + 20),
            (std::vector<uint8_t>{49, 1, 0x30, 0x0A, 0x21, 0, 0, 0, 0, 0,  // row 0
                                  0, 0, 0, 0, 0, 97, 3, 0xC4, 0x0F, 0x21}));  // row 1
  ASSERT_EQ(m->patterns[1].rows, 1u);
  EXPECT_EQ(std::vector<uint8_t>(m->patterns[1].cells, m->patterns[1].cells + 10),
            (std::vector<uint8_t>{0, 0, 0, 0, 0, 96, 0, 0, 0x08, 0x80}));
}

TEST_F(TrackerLoaderTest, InstrumentsEnvelopesAndSamplesAreCopied) {
  Music* m = Load(Rich());
  ASSERT_NE(m, nullptr);
  const Instrument& full = m->instruments[0];
  ASSERT_EQ(full.sampleCount, 2u);
  for (int i = 0; i < 96; ++i) EXPECT_EQ(full.keymap[i], i % 2) << i;

  const Envelope& vol = full.volumeEnvelope;
  EXPECT_EQ(vol.flags, ENVELOPE_ON | ENVELOPE_SUSTAIN);
  EXPECT_EQ(vol.pointCount, 3);
  EXPECT_EQ(vol.sustainPoint, 1);
  EXPECT_EQ(vol.stored[0], 0xAA);
  EXPECT_EQ(vol.stored[1], 0xBB);
  EXPECT_EQ(vol.points[1].x, 10);
  EXPECT_EQ(vol.points[1].y, 32);
  EXPECT_EQ(vol.points[2].x, 300);
  EXPECT_EQ(vol.points[2].y, 0);
  const Envelope& pan = full.panningEnvelope;
  EXPECT_EQ(pan.flags, ENVELOPE_ON);
  EXPECT_EQ(pan.pointCount, 2);
  EXPECT_EQ(pan.stored[0], 0xCC);
  EXPECT_EQ(pan.points[0].y, 32);
  EXPECT_EQ(pan.points[1].x, 20);
  EXPECT_EQ(pan.points[1].y, 64);
  EXPECT_EQ(full.stored[0], 1);
  EXPECT_EQ(full.stored[3], 4);
  EXPECT_EQ(full.fadeout, 600);  // doubled

  const InstrumentSample& narrow = full.samples[0];
  EXPECT_EQ(narrow.sound, 0);
  EXPECT_EQ(narrow.volume, 48);
  EXPECT_EQ(narrow.finetune, -5);
  EXPECT_EQ(narrow.type, trk::kLoopForward);
  EXPECT_EQ(narrow.panning, 200);
  EXPECT_EQ(narrow.relativeNote, -12);
  EXPECT_EQ(Slot(0).defaultRate, 8363);
  EXPECT_EQ(Samples(0), (std::vector<float>{0.0f, 50 / 128.0f, -50 / 128.0f, 100 / 128.0f, 0.0f}));
  EXPECT_EQ(Slot(0).looping, 1);
  EXPECT_EQ(Slot(0).loopStart, 1u);
  EXPECT_EQ(Slot(0).loopEnd, 3u);

  const InstrumentSample& wide = full.samples[1];
  EXPECT_EQ(wide.sound, 1);
  EXPECT_EQ(wide.finetune, 16);
  EXPECT_EQ(wide.relativeNote, 7);
  EXPECT_EQ(Samples(1), (std::vector<float>{1000 / 32768.0f, -1000 / 32768.0f, 32767 / 32768.0f, 0.0f}));
  EXPECT_EQ(Slot(1).looping, 0);

  // The empty instrument is all zeros; the one after it still lines up.
  const Instrument& empty = m->instruments[1];
  EXPECT_EQ(empty.sampleCount, 0u);
  EXPECT_EQ(empty.samples, nullptr);
  EXPECT_EQ(empty.volumeEnvelope.pointCount, 0);
  EXPECT_EQ(empty.fadeout, 0);
  const Instrument& last = m->instruments[2];
  ASSERT_EQ(last.sampleCount, 1u);
  EXPECT_EQ(last.samples[0].sound, 2);
  EXPECT_EQ(Samples(2), (std::vector<float>{-1.0f, 127 / 128.0f, 3 / 128.0f, 0.0f}));
}

TEST_F(TrackerLoaderTest, AnInstrumentWithoutSamplesTakesTwoBytes) {
  trk::Module m;
  trk::Sample s;
  s.values = {1, 2, 3};
  s.volume = 33;
  m.instruments = {trk::Instrument(), trk::Instrument(), trk::Instrument::Of(s)};
  std::vector<uint8_t> bytes = m.Bytes();
  // Header, one order, a 64-row pattern of one channel, then 2 + 2 bytes.
  size_t third = 22 + 1 + 2 + 64 * 5 + 4;
  ASSERT_EQ(bytes[third - 4], 0);
  ASSERT_EQ(bytes[third], 1);  // the third instrument's sample count
  Music* music = Load(bytes);
  ASSERT_NE(music, nullptr);
  EXPECT_EQ(music->instruments[2].sampleCount, 1u);
  EXPECT_EQ(music->instruments[2].samples[0].volume, 33);
  EXPECT_EQ(SlotsInUse(), 1);
}

TEST_F(TrackerLoaderTest, DeltaCodedDataBecomesRunningSums) {
  trk::Sample narrow;
  narrow.raw = {10, 5, 251};
  trk::Sample wide;
  wide.type = trk::kSixteenBit;
  wide.raw = {100, 0, 50, 0, 0x38, 0xFF, 7};  // 100, 50, -200 and an odd byte that is no sample
  trk::Module m;
  m.instruments = {trk::Instrument::Of({narrow, wide})};
  ASSERT_NE(Load(m), nullptr);
  EXPECT_EQ(Samples(0), (std::vector<float>{10 / 128.0f, 15 / 128.0f, 10 / 128.0f, 0.0f}));
  EXPECT_EQ(Samples(1), (std::vector<float>{100 / 32768.0f, 150 / 32768.0f, -50 / 32768.0f, 0.0f}));
}

// ---- loops ----

TEST_F(TrackerLoaderTest, SixteenBitLoopsCountBytesAndAreHalved) {
  trk::Sample s;
  s.type = trk::kSixteenBit | trk::kLoopForward;
  s.values.assign(1000, 1000);
  s.loopStart = 400;
  s.loopLength = 1000;
  trk::Module m;
  m.instruments = {trk::Instrument::Of(s)};
  ASSERT_NE(Load(m), nullptr);
  EXPECT_EQ(Slot(0).length, 1000u);
  EXPECT_EQ(Slot(0).looping, 1);
  EXPECT_EQ(Slot(0).loopStart, 200u);
  EXPECT_EQ(Slot(0).loopEnd, 700u);
  EXPECT_EQ(Samples(0)[1000], 0.0f);  // the loop ends early: the guard stays 0
}

TEST_F(TrackerLoaderTest, LoopBitsChooseForwardLoopsAndBadLoopsAreDropped) {
  auto sample = [](uint8_t type, uint32_t start, uint32_t length) {
    trk::Sample s;
    for (int i = 0; i < 100; ++i) s.values.push_back(i);
    s.type = type;
    s.loopStart = start;
    s.loopLength = length;
    return s;
  };
  trk::Module m;
  m.instruments = {trk::Instrument::Of({
      sample(trk::kLoopForward | trk::kLoopPingPong, 10, 50),  // both bits: forward
      sample(trk::kLoopPingPong, 20, 30),                      // ping-pong plays forward
      sample(trk::kLoopForward, 50, 50),                       // up to the end: the guard repeats the loop start
      sample(trk::kLoopForward, 50, 51),                       // past the end: no loop
      sample(0, 10, 20),                                       // no loop bit
  })};
  ASSERT_NE(Load(m), nullptr);
  EXPECT_EQ(Slot(0).looping, 1);
  EXPECT_EQ(Slot(0).loopStart, 10u);
  EXPECT_EQ(Slot(0).loopEnd, 60u);
  EXPECT_EQ(Slot(1).looping, 1);
  EXPECT_EQ(Slot(1).loopStart, 20u);
  EXPECT_EQ(Slot(1).loopEnd, 50u);
  EXPECT_EQ(Slot(2).looping, 1);
  EXPECT_EQ(Slot(2).loopEnd, 100u);
  EXPECT_EQ(Samples(2)[100], 50 / 128.0f);
  EXPECT_EQ(Slot(3).looping, 0);
  EXPECT_EQ(Slot(4).looping, 0);
}

// ---- sound slots ----

TEST_F(TrackerLoaderTest, AFullSoundTableLeavesSamplesWithoutSlots) {
  for (int i = 0; i < kMixerSoundCount - 1; ++i) ASSERT_EQ(Constant(0.1f), i);
  trk::Sample looped = trk::Sample::Square();
  trk::Sample plain;
  plain.values = {1, 2};
  plain.volume = 17;
  trk::Module m;
  m.instruments = {trk::Instrument::Of({plain, looped}), trk::Instrument::Of(plain)};
  Music* music = Load(m);
  ASSERT_NE(music, nullptr);
  EXPECT_EQ(music->instruments[0].samples[0].sound, 127);
  EXPECT_EQ(music->instruments[0].samples[1].sound, -1);
  EXPECT_EQ(music->instruments[1].samples[0].sound, -1);
  EXPECT_EQ(music->instruments[1].samples[0].volume, 17);  // loading went on
  FreeTracker(music);
  music_ = nullptr;
  EXPECT_EQ(SlotsInUse(), kMixerSoundCount - 1);  // only its own slot was given back
  EXPECT_EQ(Slot(126).flags.load() & SOUND_IN_USE, SOUND_IN_USE);
}

TEST_F(TrackerLoaderTest, TheCurrentMusicIsReplacedAndItsSlotsReused) {
  int effect = Constant(0.5f);
  ASSERT_EQ(effect, 0);
  trk::Module first;
  first.instruments = {trk::Instrument::Of({trk::Sample::Square(), trk::Sample::Square()})};
  trk::Module second;
  second.instruments = {trk::Instrument::Of(trk::Sample::Square()),
                        trk::Instrument::Of({trk::Sample::Square(), trk::Sample::Square()})};
  std::vector<uint8_t> a = first.Bytes(), b = second.Bytes();

  EXPECT_EQ(CurrentMusic(), nullptr);
  ASSERT_TRUE(LoadCurrentMusic(a.data(), a.size()));
  ASSERT_NE(CurrentMusic(), nullptr);
  EXPECT_EQ(CurrentMusic()->instruments[0].samples[1].sound, 2);
  // The first music's slots are free again before the second's are made.
  ASSERT_TRUE(LoadCurrentMusic(b.data(), b.size()));
  EXPECT_EQ(CurrentMusic()->instrumentCount, 2u);
  EXPECT_EQ(CurrentMusic()->instruments[0].samples[0].sound, 1);
  EXPECT_EQ(CurrentMusic()->instruments[1].samples[1].sound, 3);
  EXPECT_EQ(SlotsInUse(), 4);

  DeleteCurrentMusic();
  EXPECT_EQ(CurrentMusic(), nullptr);
  EXPECT_EQ(SlotsInUse(), 1);  // the sound effect stays
  EXPECT_EQ(Slot(effect).samples[0], 0.5f);
  DeleteCurrentMusic();  // harmless with nothing loaded

  // A refused entry leaves no music: the previous one is gone either way.
  ASSERT_TRUE(LoadCurrentMusic(a.data(), a.size()));
  std::vector<uint8_t> bad(a.begin(), a.end() - 1);
  EXPECT_FALSE(LoadCurrentMusic(bad.data(), bad.size()));
  EXPECT_EQ(CurrentMusic(), nullptr);
  EXPECT_EQ(SlotsInUse(), 1);
}

TEST_F(TrackerLoaderTest, FreeingNothingIsHarmless) {
  FreeTracker(nullptr);
  EXPECT_EQ(LoadTracker(nullptr, 0), nullptr);
}

// ---- refusals ----

TEST_F(TrackerLoaderTest, WrongMagicOrVersionIsRefused) {
  trk::Module m = Rich();
  m.version = 2;
  ExpectRefused(m, "version 2");
  m.version = 0;
  ExpectRefused(m, "version 0");
  m.version = 1;
  m.magic = "[TRX]";
  ExpectRefused(m, "magic");
  m.magic = "[trk]";
  ExpectRefused(m, "lower case magic");
  m.magic = "[TRK]";
  EXPECT_NE(Load(m), nullptr);
}

TEST_F(TrackerLoaderTest, ReferencesOutsideTheModuleAreRefused) {
  trk::Module m = Rich();
  m.orders = {};
  ExpectRefused(m, "song length 0");

  m = Rich();
  m.orders = {0, 2, 1};
  ExpectRefused(m, "order entry naming a third pattern");

  m = Rich();
  m.patterns[1].Put(0, 0, {1, 4});
  ExpectRefused(m, "instrument byte beyond the instruments");
  m.patterns[1].Put(0, 0, {1, 3});
  EXPECT_NE(Load(m), nullptr) << "the last instrument";
}

TEST_F(TrackerLoaderTest, EnvelopesOfMoreThanTwelvePointsAreRefused) {
  std::vector<trk::Point> thirteen;
  for (int i = 0; i < 13; ++i) thirteen.push_back({static_cast<uint16_t>(i * 256), 32});
  std::vector<trk::Point> twelve(thirteen.begin(), thirteen.end() - 1);
  trk::Instrument ins = trk::Instrument::Of(trk::Sample::Square());
  ins.volumeEnvelope = trk::Envelope::On(twelve);
  ins.panningEnvelope = trk::Envelope::On(twelve);
  trk::Module m;
  m.instruments = {ins};
  Music* music = Load(m);
  ASSERT_NE(music, nullptr);
  EXPECT_EQ(music->instruments[0].panningEnvelope.pointCount, 12);
  EXPECT_EQ(music->instruments[0].panningEnvelope.points[11].x, 11 * 256);

  m.instruments[0].volumeEnvelope.points = thirteen;
  ExpectRefused(m, "13 volume points");
  m.instruments[0].volumeEnvelope.points = twelve;
  m.instruments[0].panningEnvelope.points = thirteen;
  ExpectRefused(m, "13 panning points");

  // Only the count's low byte counts: a first point whose x has a low byte,
  // or an empty panning envelope after a switched-on volume envelope, would
  // read as hundreds of points as a whole word.
  m.instruments[0].panningEnvelope.points = {{5, 32}, {300, 40}};
  music = Load(m);
  ASSERT_NE(music, nullptr) << "first point at x = 5";
  EXPECT_EQ(music->instruments[0].panningEnvelope.pointCount, 2);
  EXPECT_EQ(music->instruments[0].panningEnvelope.points[0].x, 5);
  EXPECT_EQ(music->instruments[0].panningEnvelope.points[1].y, 40);
  m.instruments[0].panningEnvelope = trk::Envelope();
  music = Load(m);
  ASSERT_NE(music, nullptr) << "empty panning envelope after a switched-on volume envelope";
  EXPECT_EQ(music->instruments[0].panningEnvelope.pointCount, 0);
  EXPECT_EQ(music->instruments[0].volumeEnvelope.flags & ENVELOPE_ON, ENVELOPE_ON);
}

TEST_F(TrackerLoaderTest, SizesRunningPastTheEntryAreRefused) {
  trk::Module m;
  m.patterns[0].rowsField = 65;
  ExpectRefused(m, "a pattern with more rows than its data");

  m = trk::Module();
  m.channels = 65535;
  m.patterns[0].rows = 0;
  m.patterns[0].rowsField = 65535;
  ExpectRefused(m, "a pattern of 21 GB");

  m = trk::Module();
  m.instrumentCountField = 65535;
  ExpectRefused(m, "instruments that are not there");

  m = Rich();
  m.instruments[2].samples[0].lengthField = 4;
  ExpectRefused(m, "sample data one byte short");
  m.instruments[2].samples[0].lengthField = 0xFFFFFFFF;
  ExpectRefused(m, "sample data of 4 GB");
  m = Rich();
  m.instruments[2].sampleCountField = 2;
  ExpectRefused(m, "a sample header that is not there");

  ExpectRefused(std::vector<uint8_t>{'[', 'T', 'R', 'K', ']', 1}, "a bare magic");
  ExpectRefused(std::vector<uint8_t>{}, "an empty entry");
}

TEST_F(TrackerLoaderTest, EveryTruncationOfAValidModuleIsRefused) {
  std::vector<uint8_t> bytes = Rich().Bytes();
  ASSERT_NE(Load(bytes), nullptr);
  FreeTracker(music_);
  music_ = nullptr;
  ASSERT_EQ(SlotsInUse(), 0);
  for (size_t size = 0; size < bytes.size(); ++size) {
    Music* music = Load(std::vector<uint8_t>(bytes.begin(), bytes.begin() + size));
    EXPECT_EQ(music, nullptr) << "cut at " << size << " of " << bytes.size();
    EXPECT_EQ(SlotsInUse(), 0) << "cut at " << size;
    if (music || SlotsInUse() != 0) break;  // one report is enough
  }
}

TEST_F(TrackerLoaderTest, OddButReadablePatternsAreAccepted) {
  trk::Module empty;
  empty.patterns = {trk::Pattern(0), trk::Pattern(3)};
  empty.orders = {0, 1, 0};
  Music* m = Load(empty);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->patterns[0].rows, 0u);
  EXPECT_EQ(m->patterns[1].rows, 3u);

  trk::Module silent;
  silent.channels = 0;
  m = Load(silent);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->channelCount, 0u);

  trk::Module wide;
  wide.channels = 49;
  wide.patterns[0].Put(63, 48, {200, 0, 0xFF, 0xFF, 0xFF});  // a note past key-off, too
  m = Load(wide);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->channelCount, 49u);
  EXPECT_EQ(m->patterns[0].cells[(63 * 49 + 48) * 5], 200);
}

}  // namespace
