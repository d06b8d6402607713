// A reference of the mixer written straight from its documented formulas,
// frame by frame, with none of the engine's shortcuts: start requests are
// taken and gains computed at the start of each Render call (a chunk),
// fractions lose their whole part one subtraction at a time, and a loop
// wraps one subtraction at a time until the position is back inside it.
// Unit and end-to-end tests compare the engine's output with it bit for bit.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

struct RefSound {
  std::vector<float> samples;  // length + 1 values, the last being the guard
  uint32_t length = 0;
  int32_t defaultRate = 0;
  bool looping = false;
  uint32_t loopStart = 0, loopEnd = 0;

  // A sound of these samples with a guard of 0, optionally looped whole
  // (the guard then repeats the loop's first sample).
  static RefSound Of(const std::vector<float>& values, int32_t rate, bool loopWhole = false) {
    RefSound s;
    s.samples = values;
    s.samples.push_back(0.0f);
    s.length = static_cast<uint32_t>(values.size());
    s.defaultRate = rate;
    if (loopWhole) s.Loop(0, s.length);
    return s;
  }
  void Loop(uint32_t start, uint32_t end) {
    looping = true;
    loopStart = start;
    loopEnd = end;
    if (end == length) samples[length] = samples[start];
  }
};

struct RefChannel {
  bool startRequest = false, playing = false;
  int sound = 0;
  float volume = 0.0f, panning = 0.0f;
  int32_t rate = 0;
  uint32_t position = 0;
  float fraction = 0.0f, step = 0.0f;
};

class RefMixer {
 public:
  std::vector<RefSound> sounds;
  RefChannel channels[48];

  // PlaySound's order: stop, rate, volume, panning, start.
  void Play(int ch, int sound, float volume = 1.0f, float panning = 0.0f, int32_t rate = 0) {
    Stop(ch);
    SetRate(ch, rate);
    SetVolume(ch, volume);
    SetPanning(ch, panning);
    Start(ch, sound);
  }
  void Start(int ch, int sound) {
    RefChannel& c = channels[ch];
    if (c.rate == 0) c.rate = sounds[sound].defaultRate;
    c.fraction = 0.0f;
    c.position = 0;
    c.sound = sound;
    c.step = static_cast<float>(c.rate) / 44100.0f;
    c.startRequest = true;
  }
  void Stop(int ch) { channels[ch].playing = channels[ch].startRequest = false; }
  void SetVolume(int ch, float v) { channels[ch].volume = std::min(std::max(v, 0.0f), 2.0f); }
  void SetPanning(int ch, float p) { channels[ch].panning = std::min(std::max(p, -1.0f), 1.0f); }
  void SetRate(int ch, int32_t r) {
    channels[ch].rate = r;
    channels[ch].step = static_cast<float>(r) / 44100.0f;
  }
  bool Active(int ch) const { return channels[ch].playing || channels[ch].startRequest; }

  // One chunk of `frames` frames, appended to `out` as left, right pairs.
  void Render(int frames, std::vector<int16_t>* out) {
    std::vector<float> left(frames, 0.0f), right(frames, 0.0f);
    for (RefChannel& c : channels) {
      if (c.startRequest) {
        c.startRequest = false;
        c.playing = true;
      } else if (!c.playing) {
        continue;
      }
      const RefSound& s = sounds[c.sound];
      float p = (c.panning + 1.0f) * 0.5f;
      float gl = std::min((1.0f - p) * c.volume, 0.5f);
      float gr = std::min(p * c.volume, 0.5f);
      for (int j = 0; j < frames; ++j) {
        float v = (1.0f - c.fraction) * s.samples[c.position] + c.fraction * s.samples[c.position + 1];
        left[j] += gl * v;
        right[j] += gr * v;
        c.fraction += c.step;
        while (c.fraction >= 1.0f) {
          c.fraction -= 1.0f;
          c.position += 1;
        }
        if (s.looping) {
          while (c.position >= s.loopEnd) c.position = c.position - s.loopEnd + s.loopStart;
        } else if (c.position >= s.length) {
          c.playing = false;
          break;
        }
      }
    }
    for (int j = 0; j < frames; ++j) {
      yLeft_ = 0.47330904f * left[j] + 0.52669096f * yLeft_;
      yRight_ = 0.47330904f * right[j] + 0.52669096f * yRight_;
      out->push_back(ToOutput(yLeft_));
      out->push_back(ToOutput(yRight_));
    }
  }

 private:
  float yLeft_ = 0.0f, yRight_ = 0.0f;

  static int16_t ToOutput(float y) {
    float v = std::nearbyint(y * 32768.0f);  // ties to even in the default mode
    return static_cast<int16_t>(std::min(std::max(v, -32768.0f), 32767.0f));
  }
};
