// bench_convert: converting a 1 MB XM module to "[TRK]" with pelto's
// converter, beside libxmp loading the same module from memory
// (xmp_load_module_from_memory and xmp_release_module), in one run.
//
// The module is what a full song looks like: 32 channels, 120 patterns of 64
// rows (about half the cells empty, the others with notes, instruments,
// the volume column and effects: slides, portamento, tone portamento, set
// volume, and vibrato and arpeggio that the engine drops with a warning),
// and 16 instruments with envelopes and one 16-bit sample of 16,000 values
// each: about 500 KB of patterns and 500 KB of samples. Printed: the median
// of many conversions and of as many loads, taking turns, in processor time.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <vector>

#include <xmp.h>

#include "bench/bench_support.h"
#include "tests/support/tracker_files.h"
#include "tools/convert/tracker_convert.h"

namespace {

constexpr int kChannels = 32;
constexpr int kPatterns = 120;
constexpr int kInstruments = 16;
constexpr int kSampleValues = 16000;
constexpr int kRuns = 41;

std::vector<uint8_t> MakeSong() {
  xmfile::Module m;
  m.channels = kChannels;
  m.speed = 4;
  m.patterns.clear();
  m.orders.clear();
  uint32_t noise = 12345;
  auto next = [&noise](uint32_t range) {
    noise = noise * 1664525u + 1013904223u;
    return (noise >> 8) % range;
  };
  // Effects in the shares songs use them: volume slides most, then
  // vibrato, set volume, portamento, arpeggio (which the engine plays in
  // Amiga mode only) and panning.
  static const uint8_t kEffects[20] = {0xA, 0xA, 0xA, 0xA, 0xA, 0xA, 0x4, 0x4, 0x4, 0xC,
                                       0xC, 0xC, 0x1, 0x2, 0x3, 0x3, 0x0, 0x0, 0x8, 0xE};
  for (int p = 0; p < kPatterns; ++p) {
    xmfile::Pattern pattern;
    for (int row = 0; row < 64; ++row) {
      for (int ch = 0; ch < kChannels; ++ch) {
        // About half the cells of a song are empty.
        if (next(100) < 55) continue;
        xmfile::Cell cell;
        if (next(100) < 55) {
          cell.note = static_cast<uint8_t>(25 + next(48));
          cell.instrument = static_cast<uint8_t>(1 + next(kInstruments));
        }
        if (next(100) < 35) cell.volume = static_cast<uint8_t>(0x10 + next(65));
        if (cell.note == 0 || next(100) < 40) {
          cell.effect = kEffects[next(20)];
          cell.param = cell.effect == 0xC ? static_cast<uint8_t>(next(65))
                     : cell.effect == 0xE ? static_cast<uint8_t>(0xA0 + next(16))
                                          : static_cast<uint8_t>(1 + next(15));
        }
        pattern.Put(row, ch, cell);
      }
    }
    m.patterns.push_back(pattern);
    m.orders.push_back(static_cast<uint8_t>(p));
  }
  for (int k = 0; k < kInstruments; ++k) {
    xmfile::Sample s;
    std::vector<int16_t> wave = MakeWaveform(kSampleValues, k);
    s.values.assign(wave.begin(), wave.end());
    s.sixteenBit = true;
    s.loopType = 1;
    s.loopLength = kSampleValues;
    xmfile::Instrument instrument = xmfile::Instrument::Of(s);
    instrument.volumeEnvelope.flags = 3;
    instrument.volumeEnvelope.sustain = 2;
    instrument.volumeEnvelope.points = {{0, 64}, {8, 56}, {24, 48}, {64, 40}, {200, 20}};
    instrument.panningEnvelope.flags = 1;
    instrument.panningEnvelope.points = {{0, 32}, {16, 48}, {48, 16}, {96, 32}};
    instrument.fadeout = 256;
    m.instruments.push_back(instrument);
  }
  return m.Bytes();
}

// The thread's processor time: on a machine shared with other work the
// wall clock mostly measures waiting, which says nothing about either side.
double CpuMilliseconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main() {
  std::vector<uint8_t> song = MakeSong();
  std::printf("module: %.2f MB XM, %d channels, %d patterns, %d instruments\n", song.size() / 1048576.0, kChannels,
              kPatterns, kInstruments);

  TrackerConversion result;
  if (!ConvertXmToTrk(song.data(), song.size(), &result)) {
    std::printf("pelto refused the module: %s\n", result.error.c_str());
    return 1;
  }
  std::printf("pelto: %.2f MB [TRK], %zu warning lines\n", result.trk.size() / 1048576.0, result.warnings.size());
  xmp_context ctx = xmp_create_context();
  std::vector<double> pelto, xmp;
  for (int run = 0; run < kRuns; ++run) {
    // Turn about, so that neither always runs on a warm cache.
    double start = CpuMilliseconds();
    TrackerConversion out;
    bool ok = ConvertXmToTrk(song.data(), song.size(), &out);
    pelto.push_back(CpuMilliseconds() - start);
    if (!ok) return 1;
    start = CpuMilliseconds();
    if (xmp_load_module_from_memory(ctx, song.data(), static_cast<long>(song.size())) != 0) {
      std::printf("libxmp refused the module\n");
      return 1;
    }
    xmp_release_module(ctx);
    xmp.push_back(CpuMilliseconds() - start);
  }
  xmp_free_context(ctx);
  double p = Median(pelto), x = Median(xmp);
  std::printf("convert 1 MB XM: pelto ConvertXmToTrk %.2f ms, libxmp xmp_load_module %.2f ms (processor time, "
              "median of %d; pelto/libxmp %.2f)\n",
              p, x, kRuns, p / x);
  return 0;
}
