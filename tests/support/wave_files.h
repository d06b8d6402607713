// RIFF/WAVE files built in memory for the sound tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

struct WaveLayout {
  uint16_t formatTag = 1;  // 1 = PCM
  uint16_t channels = 1;
  uint32_t rate = 22050;
  uint16_t bits = 16;
  uint32_t fmtSize = 16;           // the fmt chunk is padded with zeros beyond 16
  std::string between;             // a whole chunk put between "fmt " and "data"
  int64_t statedDataSize = -1;     // the data size written; -1 = the real one
};

inline void PutU16(std::string* out, uint32_t v) {
  out->push_back(static_cast<char>(v & 0xFF));
  out->push_back(static_cast<char>((v >> 8) & 0xFF));
}

inline void PutU32(std::string* out, uint32_t v) {
  PutU16(out, v & 0xFFFF);
  PutU16(out, v >> 16);
}

inline std::string MakeWave(const WaveLayout& w, const std::string& sampleBytes) {
  std::string fmt;
  PutU16(&fmt, w.formatTag);
  PutU16(&fmt, w.channels);
  PutU32(&fmt, w.rate);
  PutU32(&fmt, w.rate * w.channels * (w.bits / 8));
  PutU16(&fmt, w.channels * (w.bits / 8));
  PutU16(&fmt, w.bits);
  fmt.resize(std::max<size_t>(fmt.size(), w.fmtSize), '\0');
  std::string out = "RIFF";
  PutU32(&out, 0);  // patched below
  out += "WAVEfmt ";
  PutU32(&out, w.fmtSize);
  out += fmt.substr(0, std::max<size_t>(w.fmtSize, 16));
  out += w.between;
  out += "data";
  PutU32(&out, w.statedDataSize < 0 ? static_cast<uint32_t>(sampleBytes.size())
                                    : static_cast<uint32_t>(w.statedDataSize));
  out += sampleBytes;
  uint32_t riffSize = static_cast<uint32_t>(out.size() - 8);
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<char>((riffSize >> (8 * i)) & 0xFF);
  return out;
}

inline std::string Pcm16(const std::vector<int16_t>& values) {
  std::string out;
  for (int16_t v : values) PutU16(&out, static_cast<uint16_t>(v));
  return out;
}

inline std::string Pcm32(const std::vector<int32_t>& values) {
  std::string out;
  for (int32_t v : values) PutU32(&out, static_cast<uint32_t>(v));
  return out;
}

inline std::string Pcm8(const std::vector<uint8_t>& values) { return std::string(values.begin(), values.end()); }
