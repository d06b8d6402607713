// Small pieces the benchmarks share: a stopwatch, a test waveform, the little-endian
// writers of the XM modules that libxmp plays beside pelto, and one timed
// libxmp run.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <xmp.h>

inline double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// A looped 16-bit sound: a square tone with some noise, so interpolation
// has work to do.
inline std::vector<int16_t> MakeWaveform(int length, int seed) {
  std::vector<int16_t> v(length);
  uint32_t noise = 0x9E3779B9u * (seed + 1);
  for (int i = 0; i < length; ++i) {
    noise = noise * 1664525u + 1013904223u;
    int tone = 9000 * ((i * (seed + 3)) % 200 < 100 ? 1 : -1);
    v[i] = static_cast<int16_t>(tone + static_cast<int>(noise >> 20) - 2048);
  }
  return v;
}

inline void Put8(std::string* s, int v) { s->push_back(static_cast<char>(v & 0xFF)); }
inline void Put16(std::string* s, int v) {
  Put8(s, v);
  Put8(s, v >> 8);
}
inline void Put32(std::string* s, uint32_t v) {
  Put16(s, static_cast<int>(v & 0xFFFF));
  Put16(s, static_cast<int>(v >> 16));
}
// A text field of `width` bytes, padded with zeros.
inline void PutText(std::string* s, const char* text, size_t width) {
  std::string t(text);
  t.resize(width, '\0');
  *s += t;
}

// Plays an XM module with libxmp at 44100 Hz stereo, linear interpolation
// and its own effects off, in calls of callFrames: warmUpFrames untimed, then
// `frames` timed. Returns the timed seconds (-1 if libxmp refuses the
// module) and, in *voices, how many voices were sounding at the end.
inline double XmpPlaySeconds(const std::string& module, int warmUpFrames, int frames, int callFrames,
                             int* voices) {
  std::vector<int16_t> out(2 * static_cast<size_t>(callFrames));
  *voices = -1;
  xmp_context ctx = xmp_create_context();
  if (xmp_load_module_from_memory(ctx, module.data(), static_cast<long>(module.size())) != 0) {
    xmp_free_context(ctx);
    return -1;
  }
  xmp_start_player(ctx, 44100, 0);
  xmp_set_player(ctx, XMP_PLAYER_INTERP, XMP_INTERP_LINEAR);
  xmp_set_player(ctx, XMP_PLAYER_DSP, 0);
  for (int done = 0; done < warmUpFrames; done += callFrames) xmp_play_buffer(ctx, out.data(), callFrames * 4, 0);
  auto start = std::chrono::steady_clock::now();
  for (int done = 0; done < frames; done += callFrames) xmp_play_buffer(ctx, out.data(), callFrames * 4, 0);
  double seconds = Seconds(start);
  xmp_frame_info info;
  xmp_get_frame_info(ctx, &info);
  *voices = info.virt_used;
  xmp_end_player(ctx);
  xmp_release_module(ctx);
  xmp_free_context(ctx);
  return seconds;
}
