// bench_mixer: the mixer's cost per channel-frame beside libxmp's.
//
// pelto: 8, 32 and 48 channels play looped sounds (16-bit, 3000-30000
// samples) at assorted rates from 8 kHz to 60 kHz, rendered at 44100 Hz in
// callbacks of 512 frames. libxmp: an XM module made in memory with the same
// number of channels, each playing a looped 16-bit sample at its own note,
// rendered by xmp_play_buffer at 44100 Hz stereo with linear interpolation.
// Printed: nanoseconds per channel-frame (best of several runs) for both,
// and whether pelto's output still equals the reference mixer's bit for bit.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <xmp.h>

#include "audio/mixer.h"
#include "bench/bench_support.h"
#include "audio/sound.h"
#include "tests/support/mixer_reference.h"

namespace {

constexpr int kCallFrames = 512;
constexpr int kSoundCount = 8;

int SoundLength(int k) { return 3000 + k * 3857; }
int32_t ChannelRate(int ch) { return 8000 + (ch * 7919) % 52000; }
float ChannelVolume(int ch) { return 0.3f + 0.05f * (ch % 9); }
float ChannelPanning(int ch) { return -1.0f + (ch % 11) * 0.2f; }

// ---- pelto ----

void StartPelto(int channels, std::vector<int>* slots) {
  MixerInit();
  // The filter state outlives the tables: silence brings it to rest, where
  // the reference starts.
  std::vector<int16_t> silence(2 * 8192);
  MixAudio(silence.data(), 8192);
  slots->clear();
  for (int k = 0; k < kSoundCount; ++k) {
    std::vector<int16_t> w = MakeWaveform(SoundLength(k), k);
    int s = CreateSound(w.data(), 22050, 16, true, false, static_cast<uint32_t>(w.size() * 2));
    SetSoundLoop(s, 1, 0, 0);
    slots->push_back(s);
  }
  for (int ch = 0; ch < channels; ++ch) {
    PlaySoundOnChannel(ch, (*slots)[ch % kSoundCount], ChannelVolume(ch), ChannelPanning(ch), ChannelRate(ch));
  }
}

double PeltoNsPerChannelFrame(int channels, int frames) {
  std::vector<int> slots;
  std::vector<int16_t> out(2 * kCallFrames);
  double best = 1e30;
  for (int run = 0; run < 5; ++run) {
    StartPelto(channels, &slots);
    auto start = std::chrono::steady_clock::now();
    for (int done = 0; done < frames; done += kCallFrames) MixAudio(out.data(), kCallFrames);
    best = std::min(best, Seconds(start));
    MixerShutdown();
  }
  return best * 1e9 / (static_cast<double>(frames) * channels);
}

// The engine against the reference mixer on the same set-up.
bool PeltoMatchesReference(int channels, int frames) {
  std::vector<int> slots;
  StartPelto(channels, &slots);
  RefMixer ref;
  for (int k = 0; k < kSoundCount; ++k) {
    std::vector<int16_t> w = MakeWaveform(SoundLength(k), k);
    std::vector<float> f;
    for (int16_t x : w) f.push_back(x * (1.0f / 32768.0f));
    ref.sounds.push_back(RefSound::Of(f, 22050, true));
  }
  for (int ch = 0; ch < channels; ++ch)
    ref.Play(ch, ch % kSoundCount, ChannelVolume(ch), ChannelPanning(ch), ChannelRate(ch));
  std::vector<int16_t> out(2 * kCallFrames), expected;
  bool same = true;
  for (int done = 0; done < frames; done += kCallFrames) {
    MixAudio(out.data(), kCallFrames);
    expected.clear();
    ref.Render(kCallFrames, &expected);
    same = same && std::equal(out.begin(), out.end(), expected.begin());
  }
  MixerShutdown();
  return same;
}

// ---- libxmp: an XM module written in memory ----

// One pattern of 64 rows: on row 0 every channel starts a note of its own
// instrument; the samples loop, so every channel stays busy for good. The
// order list repeats the pattern.
std::string MakeXm(int channels) {
  std::string m;
  PutText(&m, "Extended Module: ", 17);
  PutText(&m, "bench", 20);
  Put8(&m, 0x1A);
  PutText(&m, "pelto bench", 20);
  Put16(&m, 0x0104);
  Put32(&m, 276);         // header size from here
  Put16(&m, 1);           // song length
  Put16(&m, 0);           // restart position
  Put16(&m, channels);
  Put16(&m, 1);           // patterns
  Put16(&m, kSoundCount); // instruments
  Put16(&m, 1);           // linear frequencies
  Put16(&m, 6);           // speed
  Put16(&m, 125);         // BPM
  std::string orders(256, '\0');
  m += orders;

  // The pattern: row 0 with a note per channel, then empty cells (0x80).
  std::string cells;
  for (int ch = 0; ch < channels; ++ch) {
    Put8(&cells, 0x80 | 0x01 | 0x02 | 0x04);  // note, instrument, volume follow
    Put8(&cells, 25 + (ch * 7) % 48);         // assorted notes: assorted rates
    Put8(&cells, 1 + ch % kSoundCount);
    Put8(&cells, 0x10 + 24 + ch % 40);        // a set volume
  }
  for (int i = 0; i < 63 * channels; ++i) Put8(&cells, 0x80);
  Put32(&m, 9);
  Put8(&m, 0);
  Put16(&m, 64);
  Put16(&m, static_cast<int>(cells.size()));
  m += cells;

  for (int k = 0; k < kSoundCount; ++k) {
    std::vector<int16_t> w = MakeWaveform(SoundLength(k), k);
    Put32(&m, 243);  // instrument header size
    PutText(&m, "ins", 22);
    Put8(&m, 0);
    Put16(&m, 1);    // one sample
    Put32(&m, 40);   // sample header size
    m += std::string(96, '\0');  // every note plays sample 0
    m += std::string(96, '\0');  // no envelopes
    m += std::string(14, '\0');  // point counts, sustain, loops, types, vibrato
    Put16(&m, 0);    // fade-out
    Put16(&m, 0);
    Put32(&m, static_cast<uint32_t>(w.size() * 2));  // bytes
    Put32(&m, 0);                                    // loop start
    Put32(&m, static_cast<uint32_t>(w.size() * 2));  // loop length
    Put8(&m, 64);
    Put8(&m, 0);
    Put8(&m, 0x10 | 0x01);  // 16-bit, forward loop
    Put8(&m, 128);
    Put8(&m, 0);
    Put8(&m, 0);
    PutText(&m, "smp", 22);
    int16_t previous = 0;
    for (int16_t x : w) {  // delta coded
      Put16(&m, static_cast<uint16_t>(x - previous));
      previous = x;
    }
  }
  return m;
}

double XmpNsPerChannelFrame(int channels, int frames, int* active) {
  std::string module = MakeXm(channels);
  double best = 1e30;
  for (int run = 0; run < 5; ++run) {
    // One call in, row 0 has started every note.
    double seconds = XmpPlaySeconds(module, kCallFrames, frames, kCallFrames, active);
    if (seconds < 0) return -1;
    best = std::min(best, seconds);
  }
  return best * 1e9 / (static_cast<double>(frames) * channels);
}

}  // namespace

int main() {
  const int frames = 44100 * 4;
  std::printf("mixer cost per channel-frame, %d frames at 44100 Hz in calls of %d (best of 5)\n", frames,
              kCallFrames);
  std::printf("%-9s %12s %12s %8s %14s %12s\n", "channels", "pelto ns", "libxmp ns", "ratio", "xmp voices",
              "bit-exact");
  // An untimed round first, so the first row does not pay for a cold cache
  // or a processor still raising its clock.
  int warmActive = 0;
  PeltoNsPerChannelFrame(8, frames / 4);
  XmpNsPerChannelFrame(8, frames / 4, &warmActive);
  for (int channels : {8, 32, 48}) {
    double pelto = PeltoNsPerChannelFrame(channels, frames);
    int active = 0;
    double xmp = XmpNsPerChannelFrame(channels, frames, &active);
    bool exact = PeltoMatchesReference(channels, 44100);
    std::printf("%-9d %12.2f %12.2f %8.2f %14d %12s\n", channels, pelto, xmp, xmp > 0 ? pelto / xmp : 0.0, active,
                exact ? "yes" : "NO");
  }
  std::printf("(target: pelto <= libxmp per channel-frame, output bit for bit as the reference mixer's)\n");
  return 0;
}
