// Small pieces the benchmarks share: a stopwatch and the little-endian
// writers of the XM modules that libxmp plays beside pelto.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

inline double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
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
