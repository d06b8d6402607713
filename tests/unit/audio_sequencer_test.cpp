// The tracker sequencer, stepped tick by tick without a device: timing,
// rows and orders, notes and periods in both frequency modes, the volume
// column, every effect, envelopes and fade-out, the music volume, the odd
// modules that must play without harm, and the script thread's calls
// racing a real audio thread.
//
// Most tests call MusicTick themselves and never MixAudio (StartTracker's
// hook is only ever called from MixAudio), then read the mixer channels
// and the track states. Tests about frame timing and channels that keep
// sounding run MixAudio instead and never call MusicTick.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <thread>
#include <vector>

#include "audio/mixer.h"
#include "audio/sound.h"
#include "audio/tracker.h"
#include "tests/support/audio_thread.h"
#include "tests/support/trk_writer.h"

namespace {

// ---- expected values, from the sequencer's formulas ----

int32_t LinearPeriod(int note, int relativeNote = 0, int finetune = 0) {
  return static_cast<int32_t>(7680.0 - 64.0 * (note + relativeNote - 1) - finetune * 0.5 + 0.5);
}

// The power in double precision, the product in single, clamped to an int.
int32_t LinearRate(int32_t period) {
  float rate = 8363.0f * static_cast<float>(std::pow(2.0, (4608 - period) / 768.0));
  if (!(rate > 0.0f)) return 0;
  if (rate >= 2147483648.0f) return INT32_MAX;
  return static_cast<int32_t>(rate);
}

int32_t AmigaPeriod(int note) {
  static const int32_t kTable[36] = {856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453,
                                     428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 226,
                                     214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113};
  return kTable[std::min(std::max(note - 37, 0), 35)];
}

int32_t AmigaRate(int32_t period) { return 3546895 / period; }

// The channel volume the sequencer sends, before the mixer's clamp.
float Loudness(int volume, int envelope = 64, int global = 64, int fade = 65536, float music = 1.0f) {
  return (volume / 64.0f) * music * (envelope / 64.0f) * (global / 64.0f) * (fade / 65536.0f);
}

// The mixer panning for a track panning and a panning envelope value.
float Placement(int panning, int envelope = 32) {
  int final = panning + (envelope - 32) * ((128 - std::abs(panning - 128)) / 32);
  return std::min(std::max(final / 128.0f - 1.0f, -1.0f), 1.0f);
}

// An envelope segment from (x0, y0) to (x1, y1) at tick t.
int Segment(int x0, int y0, int x1, int y1, int t) {
  uint32_t f = static_cast<uint32_t>((x1 - t) * 65536) / static_cast<uint32_t>(x1 - x0);
  return static_cast<int>(f * y0 + (65536 - f) * y1) >> 16;
}

// One channel at `speed` with one instrument: a looped square of volume
// 64, centre panning, no envelopes.
trk::Module Song(uint16_t speed = 6, uint16_t flags = trk::kLinear) {
  trk::Module m;
  m.speed = speed;
  m.flags = flags;
  m.instruments = {trk::Instrument::Of(trk::Sample::Square())};
  return m;
}

class SequencerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MixerInit();
    SetMusicVolumeLevel(1.0);
  }
  void TearDown() override {
    SetTickHook(nullptr);
    FreeTracker(music_);
    DeleteCurrentMusic();
    MixerShutdown();
  }

  // Loads the module and starts it; the caller steps it.
  Music* Play(const trk::Module& m) {
    SetTickHook(nullptr);
    FreeTracker(music_);
    bytes_ = m.Bytes();
    music_ = LoadTracker(bytes_.data(), bytes_.size());
    if (music_) StartTracker(music_);
    return music_;
  }
  static int Tick(int count = 1) {
    int frames = 0;
    for (int i = 0; i < count; ++i) frames = MusicTick();
    return frames;
  }

  static float Volume(int ch) { return Mixer().channels[ch].volume.load(); }
  static float Panning(int ch) { return Mixer().channels[ch].panning.load(); }
  static int32_t Rate(int ch) { return Mixer().channels[ch].rate.load(); }
  static int Sound(int ch) { return Mixer().channels[ch].sound.load(); }
  // Whether the channel was (re)started since the last look; forgets the start.
  static bool Started(int ch) {
    bool started = (Mixer().channels[ch].state.load() & CHANNEL_START_REQUEST) != 0;
    ChannelStop(ch);
    return started;
  }
  // A rate no tick would set: it stays only if the period was left alone.
  static void MarkRate(int ch) { ChannelSetRate(ch, 1); }
  const TrackState& Track(int ch) const { return music_->tracks[ch]; }

  Music* music_ = nullptr;
  std::vector<uint8_t> bytes_;
};

// ---- timing, rows and orders ----

TEST_F(SequencerTest, TicksLastFramesPerTickAndRowsLastSpeedTicks) {
  trk::Module m = Song(6);
  m.patterns[0] = trk::Pattern(4);
  ASSERT_NE(Play(m), nullptr);
  EXPECT_EQ(music_->framesPerTick, 882);
  for (uint32_t t = 0; t < 6; ++t) {
    EXPECT_EQ(music_->row, 0u);
    EXPECT_EQ(music_->tick, t);
    EXPECT_EQ(MusicTick(), 882);
  }
  EXPECT_EQ(music_->row, 1u);
  EXPECT_EQ(music_->tick, 0u);

  struct { uint16_t bpm; int frames; } tempos[] = {{33, 3340}, {32, 3445}, {255, 432}, {1, 110250}, {0, 882}};
  for (auto tempo : tempos) {
    m.bpm = tempo.bpm;
    ASSERT_NE(Play(m), nullptr);
    EXPECT_EQ(music_->framesPerTick, tempo.frames) << tempo.bpm;
    EXPECT_EQ(MusicTick(), tempo.frames) << tempo.bpm;
  }
}

TEST_F(SequencerTest, TempoEffectSetsTheSpeedUpTo32AndTheTempoAbove) {
  trk::Module m = Song(6);
  m.patterns[0].Put(0, 0, {0, 0, 0, 15, 33});
  ASSERT_NE(Play(m), nullptr);
  EXPECT_EQ(MusicTick(), 3340);  // at once, from the tick that reads it
  EXPECT_EQ(music_->framesPerTick, 3340);
  EXPECT_EQ(music_->speed, 6u);

  m.patterns[0].Put(0, 0, {0, 0, 0, 15, 32});
  ASSERT_NE(Play(m), nullptr);
  EXPECT_EQ(MusicTick(), 882);
  EXPECT_EQ(music_->speed, 32u);
  Tick(30);
  EXPECT_EQ(music_->row, 0u);
  Tick();
  EXPECT_EQ(music_->row, 1u);

  // Speed 0 makes every tick a row tick, from the effect or the header.
  m.patterns[0].Put(0, 0, {0, 0, 0, 15, 0});
  ASSERT_NE(Play(m), nullptr);
  Tick();
  EXPECT_EQ(music_->row, 1u);
  Tick();
  EXPECT_EQ(music_->row, 2u);
  trk::Module zero = Song(0);
  zero.patterns[0].Put(1, 0, {49, 1});
  ASSERT_NE(Play(zero), nullptr);
  Tick();
  EXPECT_EQ(music_->row, 1u);
  Tick();
  EXPECT_TRUE(Started(0));
  EXPECT_EQ(music_->row, 2u);
}

TEST_F(SequencerTest, RowsRunThroughTheOrdersAndTheSongStartsAgain) {
  trk::Module m = Song(1);
  m.patterns = {trk::Pattern(2), trk::Pattern(3)};
  m.orders = {1, 0};
  m.patterns[1].Put(2, 0, {49, 1});
  m.patterns[0].Put(1, 0, {61, 1});
  ASSERT_NE(Play(m), nullptr);
  EXPECT_EQ(music_->currentPattern, &music_->patterns[1]);

  struct { uint32_t order, row; int pattern; } after[] = {{0, 1, 1}, {0, 2, 1}, {1, 0, 0}, {1, 1, 0}, {0, 0, 1}};
  for (auto step : after) {
    Tick();
    EXPECT_EQ(music_->orderPosition, step.order);
    EXPECT_EQ(music_->row, step.row);
    EXPECT_EQ(music_->currentPattern, &music_->patterns[step.pattern]);
  }
  // The cells read on the way: pattern 1 row 2 (tick 3), pattern 0 row 1 (tick 5).
  ASSERT_NE(Play(m), nullptr);
  Tick(3);
  EXPECT_EQ(Track(0).period, 4608);
  Tick(2);
  EXPECT_EQ(Track(0).period, 3840);
  Started(0);
  Tick(3);  // round again to pattern 1 row 2
  EXPECT_EQ(Track(0).period, 4608);
  EXPECT_TRUE(Started(0));
}

TEST_F(SequencerTest, TheHookRunsOnTheExactFrameOfEachTick) {
  trk::Module m = Song(6);
  m.patterns[0].Put(0, 0, {49, 1});
  ASSERT_NE(Play(m), nullptr);
  std::vector<int16_t> out(2 * 2048);
  MixAudio(out.data(), 882);  // tick at frame 0
  EXPECT_EQ(music_->tick, 1u);
  EXPECT_EQ(Mixer().channels[0].state.load(), CHANNEL_PLAYING);
  MixAudio(out.data(), 882);  // frame 882
  EXPECT_EQ(music_->tick, 2u);
  MixAudio(out.data(), 881);  // frame 1764
  EXPECT_EQ(music_->tick, 3u);
  MixAudio(out.data(), 1);
  EXPECT_EQ(music_->tick, 3u);
  MixAudio(out.data(), 1);  // frame 2646
  EXPECT_EQ(music_->tick, 4u);
  MixAudio(out.data(), 2 * 882 - 1);  // frames 2647-4409 hold the tick at 3528
  EXPECT_EQ(music_->tick, 5u);
  MixAudio(out.data(), 1);  // frame 4410: the second row
  EXPECT_EQ(music_->row, 1u);
  EXPECT_EQ(music_->tick, 0u);
}

TEST_F(SequencerTest, StartingPansChannelsByNumberAndClearsTheTracks) {
  trk::Module m = Song(6);
  m.channels = 5;
  ASSERT_NE(Play(m), nullptr);
  const float mixer[] = {-0.5f, 0.5f, 0.5f, -0.5f, -0.5f};
  const int track[] = {64, 192, 192, 64, 64};
  for (int ch = 0; ch < 5; ++ch) {
    EXPECT_EQ(Panning(ch), mixer[ch]) << ch;
    EXPECT_EQ(Track(ch).panning, track[ch]) << ch;
  }
  EXPECT_EQ(Mixer().channels[5].panning.load(), 0.0f);

  music_->tracks[2].volume = 50;
  music_->tracks[2].effectMemory = 9;
  music_->globalVolume = 3;
  music_->row = 7;
  music_->orderPosition = 1;
  music_->tick = 2;
  SetTickHook(nullptr);
  StartTracker(music_);
  EXPECT_EQ(Track(2).volume, 0);
  EXPECT_EQ(Track(2).effectMemory, 0);
  EXPECT_EQ(Track(2).panning, 192);
  EXPECT_EQ(music_->globalVolume, 64);
  EXPECT_EQ(music_->row, 0u);
  EXPECT_EQ(music_->orderPosition, 0u);
  EXPECT_EQ(music_->tick, 0u);
  EXPECT_EQ(music_->speed, 6u);
  EXPECT_EQ(music_->bpm, 125u);
}

// ---- notes ----

TEST_F(SequencerTest, LinearNotesGivePeriodsAndRates) {
  trk::Module m = Song(1);
  trk::Sample shifted = trk::Sample::Square();
  shifted.relativeNote = 12;
  shifted.finetune = -128;
  m.instruments.push_back(trk::Instrument::Of(shifted));
  m.patterns[0].Put(0, 0, {49, 1}).Put(1, 0, {61, 1}).Put(2, 0, {49, 2}).Put(3, 0, {1, 1}).Put(4, 0, {96, 1});
  ASSERT_NE(Play(m), nullptr);

  Tick();
  EXPECT_EQ(Track(0).period, 4608);
  EXPECT_EQ(Track(0).targetPeriod, 4608);
  EXPECT_EQ(Rate(0), 8363);
  EXPECT_TRUE(Started(0));
  EXPECT_EQ(Sound(0), music_->instruments[0].samples[0].sound);
  Tick();
  EXPECT_EQ(Track(0).period, 3840);
  EXPECT_EQ(Rate(0), 16726);
  Tick();
  EXPECT_EQ(Track(0).period, LinearPeriod(49, 12, -128));
  EXPECT_EQ(Track(0).period, 3904);
  EXPECT_EQ(Rate(0), LinearRate(3904));
  EXPECT_EQ(Sound(0), music_->instruments[1].samples[0].sound);
  Tick();
  EXPECT_EQ(Track(0).period, 7680);
  EXPECT_EQ(Rate(0), 522);
  Tick();
  EXPECT_EQ(Track(0).period, 1600);
  EXPECT_EQ(Rate(0), LinearRate(1600));
  EXPECT_EQ(Mixer().channels[0].step.load(), Rate(0) / 44100.0f);
}

TEST_F(SequencerTest, AmigaNotesUseThePeriodTable) {
  trk::Module m = Song(1, 0);
  trk::Sample shifted = trk::Sample::Square();
  shifted.relativeNote = 12;
  shifted.finetune = 64;
  shifted.panning = 255;
  m.instruments.push_back(trk::Instrument::Of(shifted));
  int notes[] = {49, 1, 37, 38, 72, 96, 61};
  for (int row = 0; row < 7; ++row) m.patterns[0].Put(row, 0, {static_cast<uint8_t>(notes[row]), 2});
  ASSERT_NE(Play(m), nullptr);
  Tick();
  EXPECT_EQ(Track(0).period, 428);  // relative note and finetune play no part
  EXPECT_EQ(Rate(0), 8287);
  EXPECT_EQ(Track(0).panning, 64);  // nor the sample's panning
  EXPECT_EQ(Panning(0), -0.5f);
  const int32_t periods[] = {856, 856, 808, 113, 113, 214};
  for (int row = 1; row < 7; ++row) {
    Tick();
    EXPECT_EQ(Track(0).period, periods[row - 1]) << notes[row];
    EXPECT_EQ(Track(0).period, AmigaPeriod(notes[row]));
    EXPECT_EQ(Rate(0), AmigaRate(periods[row - 1])) << notes[row];
  }
}

TEST_F(SequencerTest, ANoteResetsItsTrackAndAnInstrumentByteTheVolume) {
  trk::Module m = Song(1);
  m.instruments[0].samples[0].volume = 40;
  m.instruments[0].samples[0].panning = 200;
  m.instruments.push_back(trk::Instrument());  // no samples
  m.patterns[0]
      .Put(0, 0, {49, 1})
      .Put(1, 0, {0, 0, 0x20})
      .Put(2, 0, {61, 0})
      .Put(3, 0, {49, 2});
  ASSERT_NE(Play(m), nullptr);
  Tick();
  const TrackState& t = Track(0);
  EXPECT_EQ(t.instrument, 0);
  EXPECT_EQ(t.volume, 40);
  EXPECT_EQ(t.keyOn, 1);
  EXPECT_EQ(t.note, 49);
  EXPECT_EQ(t.sampleIndex, 0);
  EXPECT_EQ(t.fadeVolume, 65536);
  EXPECT_EQ(t.panning, 200);
  EXPECT_EQ(t.volumeEnvelope.value, 64);
  EXPECT_EQ(t.volumeEnvelope.active, 1);
  EXPECT_EQ(t.panningEnvelope.value, 32);
  EXPECT_EQ(t.panningEnvelope.active, 1);
  EXPECT_FLOAT_EQ(Volume(0), Loudness(40));
  EXPECT_FLOAT_EQ(Panning(0), Placement(200));
  EXPECT_TRUE(Started(0));

  Tick();
  EXPECT_EQ(t.volume, 16);
  Tick();  // a note without an instrument byte keeps the volume
  EXPECT_TRUE(Started(0));
  EXPECT_EQ(t.note, 61);
  EXPECT_EQ(t.volume, 16);
  EXPECT_FLOAT_EQ(Volume(0), Loudness(16));
  Tick();  // an instrument without samples is not taken, but the byte resets the volume
  EXPECT_TRUE(Started(0));
  EXPECT_EQ(t.instrument, 0);
  EXPECT_EQ(t.volume, 40);
}

TEST_F(SequencerTest, ANoteTakesTheSampleOfItsKeymapEntry) {
  trk::Module m = Song(1);
  std::vector<trk::Sample> samples(3, trk::Sample::Square());
  samples[0].volume = 10;
  samples[1].volume = 20;
  samples[2].volume = 30;
  m.instruments = {trk::Instrument::Of(samples)};
  m.instruments[0].keymap[49] = 2;  // entries are indexed by the note itself
  m.instruments[0].keymap[48] = 1;
  m.patterns[0].Put(0, 0, {49, 1}).Put(1, 0, {48, 1}).Put(2, 0, {50, 1});
  ASSERT_NE(Play(m), nullptr);
  const int volumes[] = {30, 20, 10};
  const int samplesTaken[] = {2, 1, 0};
  for (int row = 0; row < 3; ++row) {
    Tick();
    EXPECT_EQ(Track(0).sampleIndex, samplesTaken[row]) << row;
    EXPECT_EQ(Sound(0), music_->instruments[0].samples[samplesTaken[row]].sound) << row;
    EXPECT_EQ(Track(0).volume, volumes[row]) << row;
  }
}

// ---- volume column ----

TEST_F(SequencerTest, VolumeColumnSlidesActOnEveryTickOfTheRow) {
  trk::Module m = Song(6);
  m.patterns[0].Put(0, 0, {49, 1, 0x6F}).Put(1, 0, {0, 0, 0x7F});
  ASSERT_NE(Play(m), nullptr);
  const int down[] = {49, 34, 19, 4, 0, 0};
  for (int v : down) {
    Tick();
    EXPECT_EQ(Track(0).volume, v);
    EXPECT_FLOAT_EQ(Volume(0), Loudness(v));
  }
  const int up[] = {15, 30, 45, 60, 64, 64};
  for (int v : up) {
    Tick();
    EXPECT_EQ(Track(0).volume, v);
    EXPECT_FLOAT_EQ(Volume(0), Loudness(v));
  }
}

TEST_F(SequencerTest, VolumeColumnSetsFineSlidesAndPans) {
  trk::Module m = Song(3);
  struct { uint8_t column; int volume; } rows[] = {
      {0x83, 61}, {0x92, 63}, {0x9F, 64}, {0x30, 32}, {0x5A, 64}, {0x10, 0}, {0x50, 64},
      {0x8F, 49}, {0xC4, 49}, {0xA0, 49}, {0xA5, 49}, {0xBF, 49}, {0x05, 49}, {0xD0, 49}, {0xFF, 49}};
  m.patterns[0].Put(0, 0, {49, 1});
  for (size_t r = 0; r < std::size(rows); ++r) m.patterns[0].Put(static_cast<int>(r) + 1, 0, {0, 0, rows[r].column});
  ASSERT_NE(Play(m), nullptr);
  Tick(3);
  for (auto row : rows) {
    for (int t = 0; t < 3; ++t) {  // fine slides act on the row tick only
      Tick();
      EXPECT_EQ(Track(0).volume, row.volume) << std::hex << int(row.column) << " tick " << t;
    }
    EXPECT_FLOAT_EQ(Volume(0), Loudness(row.volume));
  }
  EXPECT_EQ(Track(0).panning, 72);  // from 0xC4 only
  EXPECT_FLOAT_EQ(Panning(0), Placement(72));
}

// ---- effects ----

TEST_F(SequencerTest, ArpeggioCyclesThreeNotesInAmigaModeOnly) {
  trk::Module m = Song(6, 0);
  m.patterns[0].Put(0, 0, {49, 1, 0, 0, 0x37}).Put(1, 0, {0, 0, 0, 0, 0});
  ASSERT_NE(Play(m), nullptr);
  const int notes[] = {49, 52, 56, 49, 52, 56};
  for (int note : notes) {
    Tick();
    EXPECT_EQ(Track(0).period, AmigaPeriod(note));
    EXPECT_EQ(Rate(0), AmigaRate(AmigaPeriod(note)));
  }
  MarkRate(0);
  Tick(6);  // parameter 0: no arpeggio, although the memory holds 0x37
  EXPECT_EQ(Rate(0), 1);

  m.flags = trk::kLinear;
  ASSERT_NE(Play(m), nullptr);
  Tick();
  MarkRate(0);
  Tick(5);
  EXPECT_EQ(Track(0).period, 4608);
  EXPECT_EQ(Rate(0), 1);
}

TEST_F(SequencerTest, PortamentosSlideOnLaterTicksWithTheSharedMemory) {
  trk::Module m = Song(4);
  m.patterns[0]
      .Put(0, 0, {49, 1, 0, 1, 8})
      .Put(1, 0, {0, 0, 0, 2, 0})
      .Put(2, 0, {0, 0, 0, 10, 0x20})
      .Put(3, 0, {0, 0, 0, 1, 0});
  ASSERT_NE(Play(m), nullptr);
  const int32_t periods[] = {4608, 4600, 4592, 4584,   // up by 8
                             4584, 4592, 4600, 4608,   // down by the remembered 8
                             4608, 4608, 4608, 4608,   // a volume slide sets the memory
                             4608, 4576, 4544, 4512};  // which the next slide uses
  for (int i = 0; i < 16; ++i) {
    Tick();
    EXPECT_EQ(Track(0).period, periods[i]) << i;
    EXPECT_EQ(Rate(0), LinearRate(periods[i])) << i;
    EXPECT_EQ(Track(0).effectMemory, i < 8 ? 8 : 0x20) << i;
  }
}

TEST_F(SequencerTest, TonePortamentoGlidesToTheNoteWithoutRestartingIt) {
  trk::Module m = Song(3);
  m.patterns[0]
      .Put(0, 0, {49, 1, 0x30})
      .Put(1, 0, {61, 1, 0, 3, 0x10})
      .Put(2, 0, {0, 0, 0, 3, 0xFF})
      .Put(3, 0, {49, 0, 0, 3, 0x01});
  ASSERT_NE(Play(m), nullptr);
  Tick(3);
  EXPECT_TRUE(Started(0));
  MarkRate(0);
  Tick();  // the row tick only aims
  EXPECT_EQ(Track(0).targetPeriod, 3840);
  EXPECT_EQ(Track(0).period, 4608);
  EXPECT_EQ(Track(0).volume, 32);  // not reset by the instrument byte
  EXPECT_EQ(Track(0).note, 49);
  EXPECT_FALSE(Started(0));
  EXPECT_EQ(Rate(0), 1);
  Tick();  // 16 x 4 per tick in linear mode
  EXPECT_EQ(Track(0).period, 4544);
  EXPECT_EQ(Rate(0), LinearRate(4544));
  Tick();
  EXPECT_EQ(Track(0).period, 4480);

  Tick(2);  // a step past the target stops on it
  EXPECT_EQ(Track(0).period, 3840);
  EXPECT_EQ(Rate(0), 16726);
  MarkRate(0);
  Tick();  // on the target: nothing changes
  EXPECT_EQ(Track(0).period, 3840);
  EXPECT_EQ(Rate(0), 1);

  Tick(2);  // and upwards, by the new parameter 1 x 4
  EXPECT_EQ(Track(0).targetPeriod, 4608);
  EXPECT_EQ(Track(0).period, 3844);
  Tick();
  EXPECT_EQ(Track(0).period, 3848);
  EXPECT_FALSE(Started(0));

  // Amiga periods move by the parameter itself.
  trk::Module amiga = Song(2, 0);
  amiga.patterns[0].Put(0, 0, {49, 1}).Put(1, 0, {61, 1, 0, 3, 0x10});
  ASSERT_NE(Play(amiga), nullptr);
  Tick(3);
  EXPECT_EQ(Track(0).targetPeriod, 214);
  Tick();
  EXPECT_EQ(Track(0).period, 412);
  EXPECT_EQ(Rate(0), AmigaRate(412));
}

TEST_F(SequencerTest, PanningEffectSetsTheTrackPanning) {
  trk::Module m = Song(1);
  m.patterns[0].Put(0, 0, {49, 1, 0, 8, 0x30}).Put(1, 0, {0, 0, 0, 8, 0xFF}).Put(2, 0, {0, 0, 0, 8, 0});
  ASSERT_NE(Play(m), nullptr);
  Tick();
  EXPECT_EQ(Track(0).panning, 0x30);
  EXPECT_FLOAT_EQ(Panning(0), Placement(0x30));
  Tick();
  EXPECT_FLOAT_EQ(Panning(0), 255 / 128.0f - 1.0f);
  Tick();
  EXPECT_EQ(Panning(0), -1.0f);
}

TEST_F(SequencerTest, VolumeSlideRisesByTheHighNibbleElseFallsByTheLow) {
  trk::Module m = Song(4);
  m.patterns[0]
      .Put(0, 0, {49, 1, 0x30, 10, 0x21})
      .Put(1, 0, {0, 0, 0, 10, 0x04})
      .Put(2, 0, {0, 0, 0x5F, 10, 0xF0})
      .Put(3, 0, {0, 0, 0x12, 10, 0x0F});
  ASSERT_NE(Play(m), nullptr);
  const int volumes[] = {32, 34, 36, 38, 38, 34, 30, 26, 64, 64, 64, 64, 2, 0, 0, 0};
  for (int i = 0; i < 16; ++i) {
    Tick();
    EXPECT_EQ(Track(0).volume, volumes[i]) << i;
    EXPECT_FLOAT_EQ(Volume(0), Loudness(volumes[i])) << i;
  }
}

TEST_F(SequencerTest, SetVolumeIsNotLimitedTo64) {
  trk::Module m = Song(1);
  m.patterns[0].Put(0, 0, {49, 1, 0, 12, 80}).Put(1, 0, {0, 0, 0, 12, 0x20}).Put(2, 0, {0, 0, 0, 12, 200});
  ASSERT_NE(Play(m), nullptr);
  Tick();
  EXPECT_EQ(Track(0).volume, 80);
  EXPECT_FLOAT_EQ(Volume(0), 1.25f);
  Tick();
  EXPECT_FLOAT_EQ(Volume(0), 0.5f);
  Tick();
  EXPECT_EQ(Track(0).volume, 200);
  EXPECT_EQ(Volume(0), 2.0f);  // the mixer's bound
}

TEST_F(SequencerTest, ExtendedEffectsActOnTheRowTickOnly) {
  trk::Module m = Song(2);
  m.patterns[0]
      .Put(0, 0, {49, 1, 0, 14, 0x13})
      .Put(1, 0, {0, 0, 0, 14, 0x25})
      .Put(2, 0, {0, 0, 0x30, 14, 0xA5})
      .Put(3, 0, {0, 0, 0x50, 14, 0xAF})
      .Put(4, 0, {0, 0, 0, 14, 0xB4})
      .Put(5, 0, {0, 0, 0x12, 14, 0xBF})
      .Put(6, 0, {0, 0, 0, 14, 0x35});
  ASSERT_NE(Play(m), nullptr);
  struct { int32_t period; bool moved; int volume; } rows[] = {
      {4605, true, 64},  {4610, true, 64},  {4610, false, 37}, {4610, false, 64},
      {4610, false, 60}, {4610, false, 0},  {4610, false, 0}};
  for (const auto& row : rows) {
    Tick();
    EXPECT_EQ(Track(0).period, row.period);
    EXPECT_EQ(Rate(0), row.moved ? LinearRate(row.period) : 1);
    EXPECT_EQ(Track(0).volume, row.volume);
    EXPECT_FLOAT_EQ(Volume(0), Loudness(row.volume));
    EXPECT_EQ(Started(0), &row == &rows[0]);  // the fine slides never restart the note
    MarkRate(0);
    Tick();
    EXPECT_EQ(Rate(0), 1);
    EXPECT_EQ(Track(0).volume, row.volume);
  }
}

TEST_F(SequencerTest, GlobalVolumeScalesTheChannelsAndSlides) {
  trk::Module m = Song(4);
  m.channels = 2;
  m.patterns[0]
      .Put(0, 0, {49, 1, 0, 16, 32})
      .Put(0, 1, {49, 1})
      .Put(1, 0, {0, 0, 0, 16, 100})
      .Put(2, 0, {0, 0, 0, 16, 64})
      .Put(3, 0, {0, 0, 0, 17, 0x04})
      .Put(4, 0, {0, 0, 0, 17, 0x20})
      .Put(5, 0, {0, 0, 0, 17, 0xF0});
  ASSERT_NE(Play(m), nullptr);
  Tick();
  EXPECT_EQ(music_->globalVolume, 32);
  EXPECT_FLOAT_EQ(Volume(0), Loudness(64, 64, 32));
  EXPECT_FLOAT_EQ(Volume(1), Loudness(64, 64, 32));  // channel 1 comes later in the same tick
  Tick(3);
  Tick();
  EXPECT_EQ(music_->globalVolume, 100);  // not limited to 64
  EXPECT_FLOAT_EQ(Volume(0), Loudness(64, 64, 100));
  EXPECT_FLOAT_EQ(Volume(1), Loudness(64, 64, 32));  // recomputed only when it changes
  Tick(3 + 4);  // the rest of that row, and a row back to 64
  const int slides[] = {64, 60, 56, 52, 52, 54, 56, 58, 58, 64, 64, 64};
  for (int i = 0; i < 12; ++i) {
    Tick();
    EXPECT_EQ(music_->globalVolume, slides[i]) << i;
    EXPECT_FLOAT_EQ(Volume(0), Loudness(64, 64, slides[i])) << i;
  }
}

// ---- envelopes ----

TEST_F(SequencerTest, AVolumeEnvelopeInterpolatesAndEnds) {
  trk::Module m = Song(1);
  m.instruments[0].volumeEnvelope = trk::Envelope::On({{0, 64}, {10, 0}});
  m.instruments[0].panningEnvelope = trk::Envelope::Off({{0, 32}});
  m.patterns[0].Put(0, 0, {49, 1});
  ASSERT_NE(Play(m), nullptr);
  for (int t = 0; t < 9; ++t) {
    Tick();
    EXPECT_EQ(Track(0).volumeEnvelope.value, Segment(0, 64, 10, 0, t)) << t;
    EXPECT_FLOAT_EQ(Volume(0), Loudness(64, Segment(0, 64, 10, 0, t))) << t;
  }
  EXPECT_EQ(Track(0).volumeEnvelope.value, 12);  // tick 8
  Tick();  // tick 9 reaches the last point
  EXPECT_EQ(Track(0).volumeEnvelope.value, 0);
  EXPECT_EQ(Track(0).volumeEnvelope.active, 0);
  EXPECT_EQ(Volume(0), 0.0f);
  Tick(5);
  EXPECT_EQ(Track(0).volumeEnvelope.value, 0);
}

TEST_F(SequencerTest, ASustainedEnvelopeHoldsUntilKeyOffThenRunsOnAndFades) {
  trk::Module m = Song(1);
  m.instruments[0].volumeEnvelope = trk::Envelope::On({{0, 64}, {4, 32}, {8, 0}}, 1);
  m.instruments[0].panningEnvelope = trk::Envelope::Off({{0, 32}});
  m.instruments[0].fadeout = 300;  // 600 per tick
  m.patterns[0].Put(0, 0, {49, 1}).Put(10, 0, {trk::kKeyOff});
  ASSERT_NE(Play(m), nullptr);
  for (int t = 0; t < 4; ++t) {
    Tick();
    EXPECT_EQ(Track(0).volumeEnvelope.value, Segment(0, 64, 4, 32, t)) << t;
  }
  EXPECT_EQ(Track(0).volumeEnvelope.value, 40);  // the tick before the sustain point
  for (int t = 4; t < 10; ++t) {
    Tick();
    EXPECT_EQ(Track(0).volumeEnvelope.value, 40);
    EXPECT_EQ(Track(0).fadeVolume, 65536);
  }
  EXPECT_FLOAT_EQ(Volume(0), Loudness(64, 40));

  const int after[] = {32, 24, 16, 0, 0, 0};  // ticks 4-7 of the envelope, then its end
  for (int k = 1; k <= 6; ++k) {
    Tick();
    EXPECT_EQ(Track(0).keyOn, 0);
    EXPECT_EQ(Track(0).volumeEnvelope.value, after[k - 1]) << k;
    EXPECT_EQ(Track(0).fadeVolume, 65536 - 600 * k) << k;
    EXPECT_FLOAT_EQ(Volume(0), Loudness(64, after[k - 1], 64, 65536 - 600 * k)) << k;
  }
  EXPECT_EQ(Track(0).volumeEnvelope.active, 0);
}

TEST_F(SequencerTest, FadeOutStopsAtZero) {
  trk::Module m = Song(1);
  m.instruments[0].volumeEnvelope = trk::Envelope::On({{0, 64}, {2, 64}}, 0);
  m.instruments[0].panningEnvelope = trk::Envelope::Off({{0, 32}});
  m.instruments[0].fadeout = 20000;  // 40000 per tick
  m.patterns[0].Put(0, 0, {49, 1}).Put(2, 0, {trk::kKeyOff});
  ASSERT_NE(Play(m), nullptr);
  Tick(3);
  EXPECT_EQ(Track(0).fadeVolume, 65536 - 40000);
  EXPECT_FLOAT_EQ(Volume(0), Loudness(64, 64, 64, 65536 - 40000));
  Tick();
  EXPECT_EQ(Track(0).fadeVolume, 0);
  EXPECT_EQ(Volume(0), 0.0f);
  Tick(3);
  EXPECT_EQ(Track(0).fadeVolume, 0);
}

TEST_F(SequencerTest, KeyOffWithoutEnvelopesSilencesAndPansAtOnce) {
  trk::Module m = Song(1);
  m.channels = 2;
  m.instruments[0].samples[0].panning = 192;
  m.instruments[0].fadeout = 100;
  m.patterns[0].Put(0, 0, {49, 1}).Put(0, 1, {49, 1}).Put(1, 0, {trk::kKeyOff});
  ASSERT_NE(Play(m), nullptr);
  Tick();
  EXPECT_FLOAT_EQ(Volume(0), 1.0f);
  EXPECT_FLOAT_EQ(Panning(0), 0.5f);
  Tick();
  EXPECT_EQ(Track(0).keyOn, 0);
  EXPECT_EQ(Volume(0), 0.0f);
  EXPECT_FLOAT_EQ(Panning(0), Placement(192, 0));  // a full negative swing: 192 -> 128
  EXPECT_EQ(Panning(0), 0.0f);
  EXPECT_EQ(Track(0).fadeVolume, 65536 - 200);
  EXPECT_FLOAT_EQ(Volume(1), 1.0f);  // the other channel plays on
}

TEST_F(SequencerTest, APanningEnvelopeSwingsAroundTheTrackPanning) {
  trk::Module m = Song(1);
  m.instruments[0].samples[0].panning = 62;  // room to swing: (128 - 66) / 32 = 1 per step
  m.instruments[0].volumeEnvelope = trk::Envelope::Off({{0, 64}});
  m.instruments[0].panningEnvelope = trk::Envelope::On({{0, 0}, {4, 64}});
  m.patterns[0].Put(0, 0, {49, 1}).Put(6, 0, {trk::kKeyOff}).Put(8, 0, {49, 1});
  ASSERT_NE(Play(m), nullptr);
  const int values[] = {0, 16, 32, 64, 64, 64};
  const int finals[] = {30, 46, 62, 94, 94, 94};
  for (int t = 0; t < 6; ++t) {
    Tick();
    EXPECT_EQ(Track(0).panningEnvelope.value, values[t]) << t;
    EXPECT_FLOAT_EQ(Panning(0), Placement(62, values[t])) << t;
    EXPECT_FLOAT_EQ(Panning(0), finals[t] / 128.0f - 1.0f) << t;
  }
  Tick();  // key-off: the finished envelope drops to 0, a full swing left
  EXPECT_EQ(Track(0).panningEnvelope.value, 0);
  EXPECT_FLOAT_EQ(Panning(0), 30 / 128.0f - 1.0f);
  Tick(2);  // a new note starts the envelope again
  EXPECT_EQ(Track(0).panningEnvelope.value, 0);
  EXPECT_EQ(Track(0).panningEnvelope.active, 1);
  Tick();
  EXPECT_EQ(Track(0).panningEnvelope.value, 16);
}

TEST_F(SequencerTest, StepEnvelopeFollowsItsRules) {
  Envelope e{};
  e.flags = ENVELOPE_ON | ENVELOPE_SUSTAIN;
  e.pointCount = 3;
  e.sustainPoint = 1;
  e.points[0] = {0, 64};
  e.points[1] = {2, 20};
  e.points[2] = {6, 0};
  EnvelopeState s{64, 1, 0, 0};
  EXPECT_EQ(StepEnvelope(e, s, 1), 1);
  EXPECT_EQ(s.value, 64);
  EXPECT_EQ(StepEnvelope(e, s, 1), 1);
  EXPECT_EQ(s.value, Segment(0, 64, 2, 20, 1));
  EXPECT_EQ(s.point, 1);
  EXPECT_EQ(s.tick, 2);
  EXPECT_EQ(StepEnvelope(e, s, 1), 0);  // holding at the sustain point
  EXPECT_EQ(s.value, 42);
  EXPECT_EQ(StepEnvelope(e, s, 0), 1);  // runs on with the key up
  EXPECT_EQ(s.value, 20);

  // Switched off or finished: unchanged with the key down, 0 with it up.
  Envelope off{};
  EnvelopeState held{64, 1, 0, 0};
  EXPECT_EQ(StepEnvelope(off, held, 1), 0);
  EXPECT_EQ(held.value, 64);
  EXPECT_EQ(StepEnvelope(off, held, 0), 1);
  EXPECT_EQ(held.value, 0);
  EXPECT_EQ(StepEnvelope(off, held, 0), 0);
  EnvelopeState ended{30, 0, 9, 1};
  EXPECT_EQ(StepEnvelope(e, ended, 1), 0);
  EXPECT_EQ(ended.value, 30);
  EXPECT_EQ(StepEnvelope(e, ended, 0), 1);
  EXPECT_EQ(ended.value, 0);
}

TEST_F(SequencerTest, DegenerateEnvelopesNeverDivideByZero) {
  // Fewer than two points: as if switched off.
  for (uint8_t count : {0, 1}) {
    Envelope e{};
    e.flags = ENVELOPE_ON;
    e.pointCount = count;
    e.points[0] = {0, 20};
    EnvelopeState s{64, 1, 0, 0};
    EXPECT_EQ(StepEnvelope(e, s, 1), 0) << int(count);
    EXPECT_EQ(s.value, 64);
    EXPECT_EQ(StepEnvelope(e, s, 0), 1);
    EXPECT_EQ(s.value, 0);
  }
  // Two points on one tick: the segment's end is reached at once.
  Envelope e{};
  e.flags = ENVELOPE_ON;
  e.pointCount = 3;
  e.points[0] = {0, 64};
  e.points[1] = {0, 32};
  e.points[2] = {10, 0};
  EnvelopeState s{64, 1, 0, 0};
  EXPECT_EQ(StepEnvelope(e, s, 1), 1);
  EXPECT_EQ(s.value, 32);
  EXPECT_EQ(s.point, 1);
  EXPECT_EQ(s.tick, 1);
  EXPECT_EQ(StepEnvelope(e, s, 1), 1);
  EXPECT_EQ(s.value, Segment(0, 32, 10, 0, 1));
  // A point going back in time, or a tick already past the segment, likewise.
  Envelope back{};
  back.flags = ENVELOPE_ON;
  back.pointCount = 2;
  back.points[0] = {5, 64};
  back.points[1] = {3, 10};
  EnvelopeState b{64, 1, 0, 0};
  EXPECT_EQ(StepEnvelope(back, b, 1), 1);
  EXPECT_EQ(b.value, 10);
  EXPECT_EQ(b.active, 0);
  Envelope late = e;
  late.points[1] = {10, 32};
  late.points[2] = {20, 0};
  EnvelopeState l{64, 1, 15, 0};
  EXPECT_EQ(StepEnvelope(late, l, 1), 1);
  EXPECT_EQ(l.value, 32);
  EXPECT_EQ(l.point, 1);
  EXPECT_EQ(l.tick, 16);
  EXPECT_EQ(StepEnvelope(late, l, 1), 1);
  EXPECT_EQ(l.value, Segment(10, 32, 20, 0, 16));

  // Through the sequencer: a one-point envelope plays as none.
  trk::Module m = Song(1);
  m.instruments[0].volumeEnvelope = trk::Envelope::On({{0, 20}});
  m.instruments[0].panningEnvelope = trk::Envelope::On({{0, 64}});
  m.patterns[0].Put(0, 0, {49, 1}).Put(2, 0, {trk::kKeyOff});
  ASSERT_NE(Play(m), nullptr);
  Tick(2);
  EXPECT_FLOAT_EQ(Volume(0), 1.0f);
  EXPECT_FLOAT_EQ(Panning(0), 0.0f);
  Tick();
  EXPECT_EQ(Volume(0), 0.0f);
}

// ---- the music volume ----

TEST_F(SequencerTest, MusicVolumeScalesEveryChannelFromTheNextTick) {
  trk::Module m = Song(6);
  m.channels = 2;
  m.instruments[0].samples[0].volume = 32;
  m.patterns[0].Put(0, 0, {49, 1}).Put(0, 1, {49, 1, 0x50});
  ASSERT_NE(Play(m), nullptr);
  Tick();
  EXPECT_FLOAT_EQ(Volume(0), 0.5f);
  EXPECT_FLOAT_EQ(Volume(1), 1.0f);
  SetMusicVolumeLevel(0.5);
  EXPECT_EQ(MusicVolumeLevel(), 0.5f);
  EXPECT_FLOAT_EQ(Volume(1), 1.0f);
  Tick();
  EXPECT_FLOAT_EQ(Volume(0), 0.25f);
  EXPECT_FLOAT_EQ(Volume(1), 0.5f);
  SetMusicVolumeLevel(3.0);  // above 1 acts as 1
  EXPECT_EQ(MusicVolumeLevel(), 1.0f);
  Tick();
  EXPECT_FLOAT_EQ(Volume(1), 1.0f);
  SetMusicVolumeLevel(-1.0);
  EXPECT_EQ(MusicVolumeLevel(), 0.0f);
  Tick();
  EXPECT_EQ(Volume(0), 0.0f);
  EXPECT_EQ(Volume(1), 0.0f);
  SetMusicVolumeLevel(1.0);
  Tick();
  EXPECT_FLOAT_EQ(Volume(1), 1.0f);
}

// ---- the engine's current music, played through the mixer ----

TEST_F(SequencerTest, StopMusicLeavesALoopingNoteSounding) {
  trk::Module m = Song(6);
  m.patterns[0].Put(0, 0, {49, 1});
  std::vector<uint8_t> bytes = m.Bytes();
  std::vector<int16_t> out(2 * 4096);
  PlayCurrentMusic();  // nothing loaded: nothing happens
  MixAudio(out.data(), 2000);
  EXPECT_EQ(ChannelIsActive(0), 0);

  ASSERT_TRUE(LoadCurrentMusic(bytes.data(), bytes.size()));
  EXPECT_EQ(ChannelIsActive(0), 0);  // loading does not play
  PlayCurrentMusic();
  MixAudio(out.data(), 2000);  // ticks at 0, 882 and 1764
  EXPECT_EQ(CurrentMusic()->tick, 3u);
  EXPECT_EQ(ChannelIsActive(0), 1);

  StopCurrentMusic();
  MixAudio(out.data(), 4096);
  EXPECT_EQ(CurrentMusic()->tick, 3u);
  EXPECT_EQ(ChannelIsActive(0), 1);
  EXPECT_NE(*std::max_element(out.begin(), out.end()), 0);

  PlayCurrentMusic();  // from the start again
  EXPECT_EQ(CurrentMusic()->tick, 0u);
  MixAudio(out.data(), 1);
  EXPECT_EQ(CurrentMusic()->tick, 1u);
  EXPECT_EQ(CurrentMusic()->row, 0u);

  DeleteCurrentMusic();  // silences the music's channels
  EXPECT_EQ(ChannelIsActive(0), 0);
  MixAudio(out.data(), 4096);
  PlayCurrentMusic();
  MixAudio(out.data(), 4096);
  EXPECT_EQ(ChannelIsActive(0), 0);
}

// ---- odd modules ----

TEST_F(SequencerTest, NoteNinetySixUsesTheLastKeymapEntry) {
  trk::Module m = Song(1);
  m.instruments = {trk::Instrument::Of({trk::Sample::Square(), trk::Sample::Square()})};
  m.instruments[0].samples[1].volume = 20;
  m.instruments[0].keymap[95] = 1;
  m.patterns[0].Put(0, 0, {96, 1});
  ASSERT_NE(Play(m), nullptr);
  Tick();
  EXPECT_EQ(Track(0).sampleIndex, 1);
  EXPECT_EQ(Track(0).volume, 20);
  EXPECT_EQ(Track(0).period, 1600);
  EXPECT_EQ(Sound(0), music_->instruments[0].samples[1].sound);
  EXPECT_TRUE(Started(0));
}

TEST_F(SequencerTest, NotesAboveKeyOffAreNoNotesButTheCellStillActs) {
  trk::Module m = Song(1);
  trk::Sample other = trk::Sample::Square();
  other.volume = 50;
  m.instruments.push_back(trk::Instrument::Of(other));
  m.patterns[0].Put(0, 0, {49, 1}).Put(1, 0, {120, 2, 0x30}).Put(2, 0, {255, 0, 0, 12, 10}).Put(3, 0, {98, 0});
  ASSERT_NE(Play(m), nullptr);
  Tick();
  EXPECT_TRUE(Started(0));
  Tick();
  EXPECT_FALSE(Started(0));
  EXPECT_EQ(Track(0).instrument, 1);
  EXPECT_EQ(Track(0).volume, 32);
  EXPECT_EQ(Track(0).note, 49);
  EXPECT_EQ(Track(0).keyOn, 1);
  Tick();
  EXPECT_EQ(Track(0).volume, 10);
  Tick();
  EXPECT_FALSE(Started(0));
  EXPECT_EQ(Track(0).period, 4608);
}

TEST_F(SequencerTest, NotesWithoutAPlayableSampleAreNoNotes) {
  // A keymap entry beyond the samples.
  trk::Module m = Song(1);
  m.instruments[0].keymap[49] = 3;
  m.patterns[0].Put(0, 0, {49, 1, 0x20}).Put(1, 0, {50, 1});
  ASSERT_NE(Play(m), nullptr);
  Tick();
  EXPECT_FALSE(Started(0));
  EXPECT_EQ(Track(0).period, 0);
  EXPECT_EQ(Track(0).keyOn, 0);
  EXPECT_EQ(Track(0).volume, 16);  // the rest of the cell still acts
  Tick();
  EXPECT_TRUE(Started(0));

  // No instruments at all, and an instrument without samples.
  trk::Module none = Song(1);
  none.instruments.clear();
  none.patterns[0].Put(0, 0, {49, 0, 0x20});
  ASSERT_NE(Play(none), nullptr);
  Tick(70);
  EXPECT_FALSE(Started(0));
  EXPECT_EQ(Track(0).keyOn, 0);
  trk::Module empty = Song(1);
  empty.instruments = {trk::Instrument()};
  empty.patterns[0].Put(0, 0, {49, 1}).Put(1, 0, {49, 0});
  ASSERT_NE(Play(empty), nullptr);
  Tick(70);
  EXPECT_FALSE(Started(0));
  EXPECT_EQ(Track(0).period, 0);
}

TEST_F(SequencerTest, ASampleWithoutASlotPlaysEverythingButTheStart) {
  for (int i = 0; i < kMixerSoundCount; ++i) {
    float v = 0.25f;
    ASSERT_EQ(CreateSoundFromPcm(&v, 44100, SampleFormat::Float32, 4), i);
  }
  trk::Module m = Song(1);
  m.instruments[0].samples[0].volume = 48;
  m.patterns[0].Put(0, 0, {49, 1});
  ASSERT_NE(Play(m), nullptr);
  ASSERT_EQ(music_->instruments[0].samples[0].sound, -1);
  Tick();
  EXPECT_EQ(Track(0).keyOn, 1);
  EXPECT_EQ(Track(0).period, 4608);
  EXPECT_EQ(Rate(0), 8363);
  EXPECT_FLOAT_EQ(Volume(0), Loudness(48));
  EXPECT_EQ(Mixer().channels[0].state.load(), 0u);
  std::vector<int16_t> out(2 * 512);
  MixAudio(out.data(), 512);
  EXPECT_EQ(ChannelIsActive(0), 0);
}

TEST_F(SequencerTest, AmigaPeriodsOfZeroOrLessKeepTheLastRate) {
  trk::Module m = Song(4, 0);
  m.patterns[0].Put(0, 0, {96, 1, 0, 1, 113}).Put(1, 0, {0, 0, 0, 2, 0xFF});
  ASSERT_NE(Play(m), nullptr);
  Tick();
  EXPECT_EQ(Rate(0), 31388);
  const int32_t periods[] = {0, -113, -226};
  for (int32_t period : periods) {
    Tick();
    EXPECT_EQ(Track(0).period, period);
    EXPECT_EQ(Rate(0), 31388);
  }
  Tick(2);  // back above 0 by 255
  EXPECT_EQ(Track(0).period, 29);
  EXPECT_EQ(Rate(0), AmigaRate(29));
}

TEST_F(SequencerTest, LinearRatesAreClampedToTheIntRange) {
  trk::Module up = Song(31);
  up.patterns[0].Put(0, 0, {96, 1, 0, 1, 0xFF}).Put(1, 0, {0, 0, 0, 1, 0});
  ASSERT_NE(Play(up), nullptr);
  for (int i = 0; i < 62; ++i) {
    Tick();
    EXPECT_EQ(Rate(0), LinearRate(Track(0).period)) << Track(0).period;
  }
  EXPECT_LT(Track(0).period, -9216);
  EXPECT_EQ(Rate(0), INT32_MAX);

  trk::Module down = Song(31);
  down.patterns[0].Put(0, 0, {1, 1, 0, 2, 0xFF});
  ASSERT_NE(Play(down), nullptr);
  Tick(31);
  EXPECT_EQ(Track(0).period, 7680 + 30 * 255);
  EXPECT_EQ(Rate(0), 0);
}

TEST_F(SequencerTest, APatternWithoutRowsReadsAsOneEmptyRow) {
  trk::Module m = Song(2);
  m.patterns = {trk::Pattern(0), trk::Pattern(1)};
  m.patterns[1].Put(0, 0, {49, 1});
  m.orders = {0, 1, 0};
  ASSERT_NE(Play(m), nullptr);
  Tick(2);
  EXPECT_FALSE(Started(0));
  EXPECT_EQ(music_->orderPosition, 1u);
  Tick();
  EXPECT_TRUE(Started(0));
  Tick();
  EXPECT_EQ(music_->orderPosition, 2u);
  Tick(2);
  EXPECT_EQ(music_->orderPosition, 0u);
  Tick(100);
}

TEST_F(SequencerTest, ChannelsBeyondTheMixerAndNoChannelsAreHarmless) {
  trk::Module wide = Song(1);
  wide.channels = 50;
  for (int ch = 0; ch < 50; ++ch) wide.patterns[0].Put(0, ch, {49, 1, 0, 8, static_cast<uint8_t>(ch)});
  ASSERT_NE(Play(wide), nullptr);
  Tick(3);
  EXPECT_TRUE(Started(47));
  EXPECT_EQ(Track(49).period, 4608);
  EXPECT_EQ(Track(49).panning, 49);

  trk::Module none = Song(1);
  none.channels = 0;
  ASSERT_NE(Play(none), nullptr);
  EXPECT_EQ(Tick(200), 882);
}

// ---- the script thread against a running audio thread ----

// A busy module: short ticks, notes, key-offs, slides and envelopes on
// every channel.
trk::Module Busy(uint16_t channels, uint8_t seed) {
  trk::Module m = Song(2);
  m.bpm = 255;
  m.channels = channels;
  m.patterns = {trk::Pattern(8), trk::Pattern(4)};
  m.orders = {0, 1, 0};
  trk::Instrument ins = trk::Instrument::Of({trk::Sample::Square(64), trk::Sample::Square(16, 60)});
  for (int i = 0; i < 96; ++i) ins.keymap[i] = static_cast<uint8_t>(i % 2);
  ins.volumeEnvelope = trk::Envelope::On({{0, 64}, {3, 40}, {9, 0}}, 1);
  ins.panningEnvelope = trk::Envelope::On({{0, 0}, {6, 64}});
  ins.fadeout = 2000;
  m.instruments = {ins, trk::Instrument::Of(trk::Sample::Square(8))};
  const trk::Cell cells[] = {{49, 1, 0x6F, 1, 3}, {61, 2, 0, 3, 0x20}, {trk::kKeyOff, 0, 0x7F, 10, 0x0F},
                             {37, 1, 0xC4, 17, 0x02}, {0, 0, 0, 14, 0x13}, {72, 2, 0x40, 0, 0x37}};
  for (int p = 0; p < 2; ++p) {
    for (int row = 0; row < m.patterns[p].rows; ++row) {
      for (int ch = 0; ch < channels; ++ch) m.patterns[p].Put(row, ch, cells[(row + ch + seed) % 6]);
    }
  }
  return m;
}

class MusicThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MixerInit();
    SetMusicVolumeLevel(1.0);
  }
  void TearDown() override {
    DeleteCurrentMusic();
    MixerShutdown();
    SetMusicVolumeLevel(1.0);  // the races leave a random level behind
  }
};

TEST_F(MusicThreadsTest, MusicPlaysAndStopsUnderARunningMixer) {
  AudioThread audio(0);  // call sizes vary
  std::vector<uint8_t> bytes = Busy(4, 0).Bytes();
  ASSERT_TRUE(LoadCurrentMusic(bytes.data(), bytes.size()));
  PlayCurrentMusic();
  audio.WaitForCalls(audio.Calls() + 20);
  EXPECT_GT(audio.Loudest(), 0);
  ASSERT_TRUE(StopTrackerAndWait());
  uint32_t row = CurrentMusic()->row, tick = CurrentMusic()->tick, order = CurrentMusic()->orderPosition;
  audio.WaitForCalls(audio.Calls() + 10);
  EXPECT_EQ(CurrentMusic()->row, row);
  EXPECT_EQ(CurrentMusic()->tick, tick);
  EXPECT_EQ(CurrentMusic()->orderPosition, order);
  DeleteCurrentMusic();
  for (int ch = 0; ch < 4; ++ch) EXPECT_EQ(ChannelIsActive(ch), 0) << ch;
  audio.Stop();
}

TEST_F(MusicThreadsTest, ScriptCallsNeverRaceARunningTick) {
  AudioThread audio(0);  // call sizes vary
  std::vector<uint8_t> modules[] = {Busy(8, 0).Bytes(), Busy(3, 2).Bytes()};
  float effectValue = 0.3f;
  int effect = CreateSoundFromPcm(&effectValue, 8000, SampleFormat::Float32, 4);
  SetSoundLoop(effect, 1, 0, 0);
  uint32_t seed = 2024;
  auto next = [&seed](uint32_t range) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % range;
  };
  for (int round = 0; round < 1200; ++round) {
    switch (next(8)) {
      case 0: {
        const std::vector<uint8_t>& bytes = modules[next(2)];
        ASSERT_TRUE(LoadCurrentMusic(bytes.data(), bytes.size()));
        break;
      }
      case 1:
      case 2:
      case 3:
        PlayCurrentMusic();
        break;
      case 4:
        SetMusicVolumeLevel(next(12) / 10.0);
        MusicVolumeLevel();
        break;
      case 5:
        StopCurrentMusic();
        break;
      case 6:
        if (next(4) == 0) DeleteCurrentMusic();
        break;
      default:
        PlaySoundOnChannel(static_cast<int>(next(10)), effect, 0.5f, 0.0f, 0);
        break;
    }
    if (round % 8 == 0) audio.WaitForCalls(audio.Calls() + 1);
  }
  const std::vector<uint8_t>& last = modules[0];
  ASSERT_TRUE(LoadCurrentMusic(last.data(), last.size()));
  PlayCurrentMusic();
  audio.WaitForCalls(audio.Calls() + 5);
  DeleteCurrentMusic();
  for (int ch = 0; ch < 8; ++ch) EXPECT_EQ(ChannelIsActive(ch), 0) << ch;
  audio.Stop();
  FreeSound(effect);
}

}  // namespace
