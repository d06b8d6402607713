// bench_music: tracker music, the sequencer alone and the whole mixer with a
// 32-channel module playing, beside libxmp playing the same module as XM.
//
// The module: one 64-row pattern at speed 3 and 125 BPM (a tick every 882
// frames, a row every third tick), 32 channels, 8 instruments each with one
// looped 16-bit sample (3000-30000 samples), a sustained volume envelope, a
// panning envelope and a fade-out. Every cell of every channel holds
// something: notes, key-offs, tone portamento, pitch slides, volume slides
// from both the effect and the volume column, panning, set volume. About
// half of the rows move the pitch, so every tick recomputes the rates of
// many channels, the dearest step of a tick. The same cells, instruments and samples are
// written once as "[TRK]" and once as XM, so both players read one song.
//
// Printed: (a) MusicTick's cost per tick, called directly with no mixing;
// (b) nanoseconds per channel-frame of MixAudio with the module playing
// through the tick hook, beside xmp_play_buffer's (linear interpolation,
// libxmp's own filters off), best of several runs, with the share of the
// mixing alone and of the sequencer.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <xmp.h>

#include "audio/mixer.h"
#include "bench/bench_support.h"
#include "audio/tracker.h"
#include "tests/support/trk_writer.h"

namespace {

constexpr int kChannels = 32;
constexpr int kRows = 64;
constexpr int kInstruments = 8;
constexpr int kCallFrames = 512;
constexpr int kRuns = 5;      // of the sequencer alone
constexpr int kMixRuns = 25;  // of each player; a run takes some 20 ms
// Sixteen rows of three ticks and a bit: every channel has started a note.
constexpr int kWarmUpFrames = 16 * 3 * 882 + kCallFrames;

// ---- the song ----

trk::Instrument MakeInstrument(int k) {
  trk::Sample s;
  std::vector<int16_t> wave = MakeWaveform(3000 + k * 3857, k);
  s.values.assign(wave.begin(), wave.end());
  s.type = trk::kSixteenBit | trk::kLoopForward;
  s.loopLength = static_cast<uint32_t>(s.values.size() * 2);  // bytes: the whole sample
  s.panning = static_cast<uint8_t>(64 + 16 * k);
  trk::Instrument ins = trk::Instrument::Of(s);
  // The volume holds at point 2 while the key is down and sinks after a
  // key-off; the panning swings and settles.
  ins.volumeEnvelope = trk::Envelope::On({{0, 64}, {8, 56}, {24, 48}, {64, 40}, {200, 20}}, 2);
  ins.panningEnvelope = trk::Envelope::On({{0, 32}, {16, 48}, {48, 16}, {96, 32}});
  ins.fadeout = 64;
  return ins;
}

// What a channel does on a row: a 16-row cycle, each channel a few rows
// behind the one before, so every tick has every kind of work somewhere.
trk::Cell MakeCell(int row, int ch) {
  uint8_t instrument = static_cast<uint8_t>(1 + ch % kInstruments);
  uint8_t base = static_cast<uint8_t>(37 + (ch * 5) % 24);  // 4-16 kHz
  switch ((row + 3 * ch) % 16) {
    case 0: return {base, instrument, 0x10 + 48, 8, static_cast<uint8_t>(ch * 8)};
    case 1: return {0, 0, 0, 1, 2};                         // slide up
    case 2: return {0, 0, 0x62, 10, 0x20};                  // up 2 by the effect, down 2 by the column
    case 3: return {0, 0, 0, 2, 2};                         // slide down
    case 4: return {static_cast<uint8_t>(base + 3), instrument, 0, 3, 8};  // tone portamento target
    case 5: return {0, 0, 0, 3, 0};                         // ...carried on from memory
    case 6: return {0, 0, 0x75, 14, 0x12};                  // fine slide up, volume up
    case 7: return {0, 0, 0, 10, 0x03};                     // volume down
    case 8: return {0, 0, 0, 1, 1};
    case 9: return {0, 0, 0xC8, 2, 1};                      // panning from the column
    case 10: return {0, 0, 0, 12, 40};                      // set volume
    case 11: return {trk::kKeyOff, 0, 0, 0, 0};             // the envelope runs on, the fade starts
    case 12: return {base, instrument, 0x10 + 40, 0, 0};
    case 13: return {0, 0, 0, 0, 0x37};                     // arpeggio
    case 14: return {0, 0, 0, 10, 0x20};
    default: return {0, 0, 0x62, 14, 0x22};                 // fine slide down
  }
}

trk::Module MakeModule() {
  trk::Module m;
  m.channels = kChannels;
  m.speed = 3;
  m.bpm = 125;
  m.patterns = {trk::Pattern(kRows)};
  for (int row = 0; row < kRows; ++row)
    for (int ch = 0; ch < kChannels; ++ch) m.patterns[0].Put(row, ch, MakeCell(row, ch));
  for (int k = 0; k < kInstruments; ++k) m.instruments.push_back(MakeInstrument(k));
  return m;
}

// ---- the same song as XM ----

// Twelve points of an XM envelope, unused ones zero.
void PutXmEnvelope(std::string* s, const trk::Envelope& e) {
  for (size_t i = 0; i < 12; ++i) {
    Put16(s, i < e.points.size() ? e.points[i].x : 0);
    Put16(s, i < e.points.size() ? e.points[i].y : 0);
  }
}

// The cells are stored unpacked (a note byte never has bit 7 set); the
// effect numbers of the two formats are the same.
std::string MakeXm(const trk::Module& m) {
  std::string x;
  PutText(&x, "Extended Module: ", 17);
  PutText(&x, "bench music", 20);
  Put8(&x, 0x1A);
  PutText(&x, "pelto bench", 20);
  Put16(&x, 0x0104);
  Put32(&x, 276);  // header size from here
  Put16(&x, static_cast<int>(m.orders.size()));
  Put16(&x, 0);  // restart position
  Put16(&x, m.channels);
  Put16(&x, static_cast<int>(m.patterns.size()));
  Put16(&x, static_cast<int>(m.instruments.size()));
  Put16(&x, m.flags & trk::kLinear);
  Put16(&x, m.speed);
  Put16(&x, m.bpm);
  std::string orders(m.orders.begin(), m.orders.end());
  orders.resize(256, '\0');
  x += orders;

  for (const trk::Pattern& p : m.patterns) {
    std::string cells;
    for (int row = 0; row < p.rows; ++row) {
      for (int ch = 0; ch < m.channels; ++ch) {
        auto it = p.cells.find({row, ch});
        trk::Cell c = it == p.cells.end() ? trk::Cell{} : it->second;
        for (uint8_t b : {c.note, c.instrument, c.volume, c.effect, c.param}) Put8(&cells, b);
      }
    }
    Put32(&x, 9);
    Put8(&x, 0);
    Put16(&x, p.rows);
    Put16(&x, static_cast<int>(cells.size()));
    x += cells;
  }

  for (const trk::Instrument& ins : m.instruments) {
    const trk::Sample& s = ins.samples[0];
    std::vector<uint8_t> data = s.Data();  // delta-coded, as XM stores it too
    Put32(&x, 243);  // instrument header size
    PutText(&x, "ins", 22);
    Put8(&x, 0);
    Put16(&x, 1);   // one sample
    Put32(&x, 40);  // sample header size
    x.append(ins.keymap.begin(), ins.keymap.end());
    PutXmEnvelope(&x, ins.volumeEnvelope);
    PutXmEnvelope(&x, ins.panningEnvelope);
    Put8(&x, static_cast<int>(ins.volumeEnvelope.points.size()));
    Put8(&x, static_cast<int>(ins.panningEnvelope.points.size()));
    Put8(&x, ins.volumeEnvelope.sustain);
    Put16(&x, 0);  // volume loop start, end
    Put8(&x, ins.panningEnvelope.sustain);
    Put16(&x, 0);  // panning loop start, end
    Put8(&x, ins.volumeEnvelope.flags);
    Put8(&x, ins.panningEnvelope.flags);
    Put32(&x, 0);  // no vibrato
    Put16(&x, ins.fadeout);
    Put16(&x, 0);
    Put32(&x, static_cast<uint32_t>(data.size()));
    Put32(&x, s.loopStart);
    Put32(&x, s.loopLength);
    Put8(&x, s.volume);
    Put8(&x, s.finetune);
    Put8(&x, s.type);
    Put8(&x, s.panning);
    Put8(&x, s.relativeNote);
    Put8(&x, 0);
    PutText(&x, "smp", 22);
    x.append(data.begin(), data.end());
  }
  return x;
}

// ---- pelto ----

// A fresh mixer with the module loaded and started; null if it did not load.
Music* StartPelto(const std::vector<uint8_t>& module) {
  MixerInit();
  // The filter state outlives the tables; silence brings it to rest.
  std::vector<int16_t> silence(2 * 8192);
  MixAudio(silence.data(), 8192);
  Music* music = LoadTracker(module.data(), module.size());
  if (music) StartTracker(music);
  return music;
}

void StopPelto(Music* music) {
  SetTickHook(nullptr);
  FreeTracker(music);
  MixerShutdown();
}

// MusicTick called directly, nothing mixed: nanoseconds per tick.
double PeltoNsPerTick(const std::vector<uint8_t>& module, int ticks) {
  double best = 1e30;
  for (int run = 0; run < kRuns; ++run) {
    Music* music = StartPelto(module);
    if (!music) return -1;
    auto start = std::chrono::steady_clock::now();
    for (int t = 0; t < ticks; ++t) MusicTick();
    best = std::min(best, Seconds(start));
    StopPelto(music);
  }
  return best * 1e9 / ticks;
}

// One run of MixAudio with the module playing through the tick hook, or,
// with `withTicks` false, with the hook removed once every channel sounds
// (the mixing alone). Seconds for `frames` frames; -1 if it did not load.
double PeltoMixSeconds(const std::vector<uint8_t>& module, int frames, bool withTicks, int* active) {
  std::vector<int16_t> out(2 * kCallFrames);
  Music* music = StartPelto(module);
  if (!music) return -1;
  for (int done = 0; done < kWarmUpFrames; done += kCallFrames) MixAudio(out.data(), kCallFrames);
  if (!withTicks) SetTickHook(nullptr);
  auto start = std::chrono::steady_clock::now();
  for (int done = 0; done < frames; done += kCallFrames) MixAudio(out.data(), kCallFrames);
  double seconds = Seconds(start);
  *active = 0;
  for (int ch = 0; ch < kChannels; ++ch) *active += ChannelIsActive(ch);
  StopPelto(music);
  return seconds;
}

// ---- libxmp ----

// One run of xmp_play_buffer on the XM module; seconds, or -1.
double XmpMixSeconds(const std::string& module, int frames, int* active) {
  return XmpPlaySeconds(module, kWarmUpFrames, frames, kCallFrames, active);
}

}  // namespace

int main() {
  trk::Module song = MakeModule();
  std::vector<uint8_t> trkBytes = song.Bytes();
  std::string xmBytes = MakeXm(song);

  const int ticks = 100000;
  double perTick = PeltoNsPerTick(trkBytes, ticks);
  if (perTick < 0) {
    std::printf("the [TRK] module did not load\n");
    return 1;
  }
  std::printf("sequencer: MusicTick on %d channels, %d ticks, nothing mixed (best of %d)\n", kChannels, ticks,
              kRuns);
  std::printf("  %.0f ns per tick, %.1f ns per channel-tick; at 50 ticks a second %.3f%% of one core\n", perTick,
              perTick / kChannels, perTick * 50 / 1e7);

  // The players take turns, so that a busy moment of the machine falls on
  // all three alike; each keeps its best run.
  const int frames = 44100 * 4;
  int peltoActive = 0, mixOnlyActive = 0, xmpActive = 0;
  double peltoBest = 1e30, mixOnlyBest = 1e30, xmpBest = 1e30;
  for (int run = 0; run < kMixRuns; ++run) {
    peltoBest = std::min(peltoBest, PeltoMixSeconds(trkBytes, frames, true, &peltoActive));
    mixOnlyBest = std::min(mixOnlyBest, PeltoMixSeconds(trkBytes, frames, false, &mixOnlyActive));
    xmpBest = std::min(xmpBest, XmpMixSeconds(xmBytes, frames, &xmpActive));
  }
  double channelFrames = static_cast<double>(frames) * kChannels;
  double pelto = peltoBest * 1e9 / channelFrames;
  double mixOnly = mixOnlyBest * 1e9 / channelFrames;
  double xmp = xmpBest * 1e9 / channelFrames;
  // The sequencer's share from (a): one tick per 882 frames of 32 channels.
  double tickShare = perTick / (882.0 * kChannels);
  std::printf("\nmixer with the module playing: %d channels, %d frames at 44100 Hz in calls of %d (best of %d)\n",
              kChannels, frames, kCallFrames, kMixRuns);
  std::printf("%-34s %14s %10s\n", "", "ns/chan-frame", "voices");
  std::printf("%-34s %14.2f %10d\n", "pelto MixAudio + MusicTick", pelto, peltoActive);
  std::printf("%-34s %14.2f %10d\n", "  mixing alone (hook removed)", mixOnly, mixOnlyActive);
  std::printf("%-34s %14.3f\n", "  MusicTick's share, from (a)", tickShare);
  std::printf("%-34s %14.2f %10d\n", "libxmp xmp_play_buffer (XM)", xmp, xmpActive);
  std::printf("ratio pelto / libxmp: %.2f (target: at most 1)\n", xmp > 0 ? pelto / xmp : 0.0);
  return 0;
}
