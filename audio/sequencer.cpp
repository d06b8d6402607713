// The tracker sequencer: one MusicTick per tick on the audio thread reads
// the current row and drives mixer channel i for music channel i.
//
// It allocates nothing and takes no lock. Whatever a module can hold that
// would divide by zero or index past a table is handled here quietly, the
// way a listener would least notice: such notes are skipped, such envelopes
// act as switched off, and such periods leave the pitch where it was.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "audio/mixer.h"
#include "audio/tracker.h"

namespace {

constexpr int kAmigaPeriods[36] = {856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453,
                                   428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 226,
                                   214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113};
constexpr int32_t kAmigaClock = 3546895;
constexpr int32_t kTempoFrames = 5512500;  // framesPerTick = kTempoFrames / (50 x BPM)
constexpr uint32_t kFallbackBpm = 125;     // for a module that says 0
constexpr uint8_t kEmptyCell[kCellBytes] = {0, 0, 0, 0, 0};
const Envelope kNoEnvelope = {};

Music* playingMusic = nullptr;
std::atomic<float> musicVolume{1.0f};
std::atomic<uint32_t> musicVolumeChanged{0};

int32_t FramesPerTick(uint32_t bpm) { return kTempoFrames / (50 * static_cast<int32_t>(bpm)); }

int32_t AmigaPeriod(int note) { return kAmigaPeriods[std::min(std::max(note - 37, 0), 35)]; }

bool LinearFrequency(const Music& music) { return (music.flags & TRACKER_LINEAR_FREQUENCY) != 0; }

// The instrument a channel plays, or null when the module has none there.
const Instrument* ChannelInstrument(const Music& music, const TrackState& track) {
  if (track.instrument < 0 || static_cast<uint32_t>(track.instrument) >= music.instrumentCount) return nullptr;
  return &music.instruments[track.instrument];
}

int32_t SlideUp(int32_t value, int amount) { return std::min(value + amount, 64); }
int32_t SlideDown(int32_t value, int amount) { return std::max(value - amount, 0); }

// Effect 10's rule, shared by the global volume slide.
int32_t VolumeSlide(int32_t value, int32_t memory) {
  if (memory >> 4) return SlideUp(value, memory >> 4);
  return SlideDown(value, memory & 15);
}

int32_t LinearRate(int32_t period) {
  float power = static_cast<float>(std::pow(2.0, (4608.0 - period) / 768.0));
  float rate = 8363.0f * power;
  // Effects can slide a period anywhere; past the int range the rate is
  // pinned instead of overflowing the conversion.
  if (!(rate < 2147483648.0f)) return INT32_MAX;
  return static_cast<int32_t>(rate);
}

// Everything one channel does in one tick, with the flags that say which
// mixer values must be sent at its end.
struct TickFlags {
  bool volumeChanged = false;
  bool panChanged = false;
  bool periodChanged = false;
  bool trigger = false;
};

// Row tick step 2: a note from the cell. Returns without effect for a note
// the channel's instrument cannot play.
void ReadNote(Music& music, TrackState& track, const uint8_t* cell, TickFlags& flags) {
  int note = cell[0];
  if (note == NOTE_NONE || note > NOTE_KEY_OFF) return;  // 98-255: no note
  if (note == NOTE_KEY_OFF) {
    track.keyOn = 0;
    return;
  }
  const Instrument* instrument = ChannelInstrument(music, track);
  if (!instrument || instrument->sampleCount == 0) return;
  // The keymap has 96 entries for notes 1-96 counted from 0, so note 96
  // would be one past it: it takes the last entry.
  int s = instrument->keymap[std::min(note, kKeymapSize - 1)];
  if (static_cast<uint32_t>(s) >= instrument->sampleCount) return;
  const InstrumentSample& sample = instrument->samples[s];
  if (LinearFrequency(music)) {
    track.targetPeriod = static_cast<int32_t>(7680.0 - 64.0 * (note + sample.relativeNote - 1) -
                                              sample.finetune * 0.5 + 0.5);
  } else {
    track.targetPeriod = AmigaPeriod(note);
  }
  if (cell[3] == 3) return;  // tone portamento: the target only
  if (cell[1] != 0) {
    track.volume = sample.volume;
    flags.volumeChanged = true;
  }
  if (LinearFrequency(music)) {
    track.panning = sample.panning;
    flags.panChanged = true;
  }
  track.period = track.targetPeriod;
  track.keyOn = 1;
  track.fadeVolume = 65536;
  track.volumeEnvelope = {64, 1, 0, 0};
  track.panningEnvelope = {32, 1, 0, 0};
  track.note = note;
  track.sampleIndex = s;
  flags.periodChanged = true;
  flags.trigger = true;
}

void RowVolumeColumn(TrackState& track, int v, TickFlags& flags) {
  int low = v & 15;
  if (v >= 0x10 && v <= 0x50) {
    track.volume = v - 16;
  } else if (v >= 0x51 && v <= 0x5F) {
    track.volume = 64;
  } else if ((v >= 0x60 && v <= 0x6F) || (v >= 0x80 && v <= 0x8F)) {
    track.volume = SlideDown(track.volume, low);
  } else if ((v >= 0x70 && v <= 0x7F) || (v >= 0x90 && v <= 0x9F)) {
    track.volume = SlideUp(track.volume, low);
  } else if (v >= 0xC0 && v <= 0xCF) {
    track.panning = low * 16 + 8;
    flags.panChanged = true;
    return;
  } else {
    return;
  }
  flags.volumeChanged = true;
}

void RowEffect(Music& music, TrackState& track, int effect, int p, TickFlags& flags) {
  switch (effect) {
    case 8:
      track.panning = p;
      flags.panChanged = true;
      break;
    case 12:
      track.volume = p;
      flags.volumeChanged = true;
      break;
    case 14: {
      int x = p >> 4, y = p & 15;
      if (x == 1 || x == 2) {
        track.period += x == 1 ? -y : y;
        flags.periodChanged = true;
      } else if (x == 10 || x == 11) {
        track.volume = x == 10 ? SlideUp(track.volume, y) : SlideDown(track.volume, y);
        flags.volumeChanged = true;
      }
      break;
    }
    case 15:
      if (p <= 32) {
        music.speed = static_cast<uint32_t>(p);
      } else {
        music.bpm = static_cast<uint32_t>(p);
        music.framesPerTick = FramesPerTick(music.bpm);
      }
      break;
    case 16:
      music.globalVolume = p;
      flags.volumeChanged = true;
      break;
    default: break;
  }
}

void TickEffect(Music& music, TrackState& track, int effect, int p, TickFlags& flags) {
  int32_t m = track.effectMemory;
  switch (effect) {
    case 0:
      if (!LinearFrequency(music) && p != 0) {
        int r = static_cast<int>(music.tick % 3);
        int note = track.note + (r == 1 ? p >> 4 : r == 2 ? p & 15 : 0);
        track.period = AmigaPeriod(note);
        flags.periodChanged = true;
      }
      break;
    case 1:
      track.period -= m;
      flags.periodChanged = true;
      break;
    case 2:
      track.period += m;
      flags.periodChanged = true;
      break;
    case 3: {
      int32_t speed = LinearFrequency(music) ? m * 4 : m;
      int32_t before = track.period;
      if (track.period < track.targetPeriod) {
        track.period = std::min(track.period + speed, track.targetPeriod);
      } else if (track.period > track.targetPeriod) {
        track.period = std::max(track.period - speed, track.targetPeriod);
      }
      if (track.period != before) flags.periodChanged = true;
      break;
    }
    case 10:
      track.volume = VolumeSlide(track.volume, m);
      flags.volumeChanged = true;
      break;
    case 17:
      music.globalVolume = VolumeSlide(music.globalVolume, m);
      flags.volumeChanged = true;
      break;
    default: break;
  }
}

void SendToMixer(const Music& music, int ch, TrackState& track, const TickFlags& flags, float volumeLevel) {
  const Instrument* instrument = ChannelInstrument(music, track);
  bool recompute = flags.volumeChanged;
  if (!track.keyOn && track.fadeVolume > 0) {
    track.fadeVolume = std::max(track.fadeVolume - (instrument ? instrument->fadeout : 0), 0);
    recompute = true;
  }
  if (recompute) {
    float volume = static_cast<float>(track.volume) / 64.0f * volumeLevel *
                   (static_cast<float>(track.volumeEnvelope.value) / 64.0f) *
                   (static_cast<float>(music.globalVolume) / 64.0f) *
                   (static_cast<float>(track.fadeVolume) / 65536.0f);
    ChannelSetVolume(ch, volume);
  }
  if (flags.panChanged) {
    int32_t swing = (128 - std::abs(track.panning - 128)) / 32;
    int32_t final = track.panning + (track.panningEnvelope.value - 32) * swing;
    ChannelSetPanning(ch, static_cast<float>(final) / 128.0f - 1.0f);
  }
  if (flags.periodChanged) {
    if (LinearFrequency(music)) {
      ChannelSetRate(ch, LinearRate(track.period));
    } else if (track.period > 0) {
      ChannelSetRate(ch, kAmigaClock / track.period);
    }
  }
  if (flags.trigger && instrument) {
    int sound = instrument->samples[track.sampleIndex].sound;
    if (sound >= 0) ChannelStart(ch, sound);
  }
}

}  // namespace

void StartTracker(Music* music) {
  if (!music) return;
  music->tick = 0;
  music->row = 0;
  music->orderPosition = 0;
  music->speed = music->defaultSpeed;
  music->bpm = music->defaultBpm;
  music->globalVolume = 64;
  music->currentPattern = &music->patterns[music->orders[0]];
  // A tempo of 0 has no tick length; the usual default stands in for it.
  music->framesPerTick = FramesPerTick(music->bpm > 0 ? music->bpm : kFallbackBpm);
  playingMusic = music;
  for (uint32_t i = 0; i < music->channelCount; ++i) {
    TrackState& track = music->tracks[i];
    track = TrackState{};
    bool right = i % 4 == 1 || i % 4 == 2;
    track.panning = right ? 192 : 64;
    ChannelSetPanning(static_cast<int>(i), right ? 0.5f : -0.5f);
  }
  // Last: the audio thread sees everything above once it takes the hook.
  SetTickHook(MusicTick);
}

int MusicTick() {
  Music* music = playingMusic;
  if (!music) return 0;
  // Taken once, at the start: a change made while this tick runs is kept
  // for the next one instead of being cleared unseen at its end.
  bool volumeRequest = musicVolumeChanged.exchange(0, std::memory_order_acquire) != 0;
  float volumeLevel = musicVolume.load(std::memory_order_relaxed);
  const Pattern& pattern = *music->currentPattern;
  for (uint32_t i = 0; i < music->channelCount; ++i) {
    TrackState& track = music->tracks[i];
    const uint8_t* cell = music->row < pattern.rows
                              ? pattern.cells + (static_cast<size_t>(music->row) * music->channelCount + i) * kCellBytes
                              : kEmptyCell;
    int volumeColumn = cell[2], effect = cell[3], param = cell[4];
    TickFlags flags;
    flags.volumeChanged = volumeRequest;
    if (music->tick == 0) {
      int k = cell[1];
      if (k != 0 && music->instruments[k - 1].sampleCount > 0) track.instrument = k - 1;
      ReadNote(*music, track, cell, flags);
      RowVolumeColumn(track, volumeColumn, flags);
      if (param != 0) track.effectMemory = param;
      RowEffect(*music, track, effect, param, flags);
    } else {
      if (volumeColumn >= 0x60 && volumeColumn <= 0x6F) {
        track.volume = SlideDown(track.volume, volumeColumn & 15);
        flags.volumeChanged = true;
      } else if (volumeColumn >= 0x70 && volumeColumn <= 0x7F) {
        track.volume = SlideUp(track.volume, volumeColumn & 15);
        flags.volumeChanged = true;
      }
      TickEffect(*music, track, effect, param, flags);
    }
    const Instrument* instrument = ChannelInstrument(*music, track);
    const Envelope& volumeEnvelope = instrument ? instrument->volumeEnvelope : kNoEnvelope;
    const Envelope& panningEnvelope = instrument ? instrument->panningEnvelope : kNoEnvelope;
    if (StepEnvelope(volumeEnvelope, track.volumeEnvelope, track.keyOn)) flags.volumeChanged = true;
    if (StepEnvelope(panningEnvelope, track.panningEnvelope, track.keyOn)) flags.panChanged = true;
    SendToMixer(*music, static_cast<int>(i), track, flags, volumeLevel);
  }
  music->tick += 1;
  if (music->tick >= music->speed) {
    music->tick = 0;
    music->row += 1;
    if (music->row >= music->currentPattern->rows) {
      music->row = 0;
      music->orderPosition += 1;
      if (music->orderPosition >= music->songLength) music->orderPosition = 0;
      music->currentPattern = &music->patterns[music->orders[music->orderPosition]];
    }
  }
  return music->framesPerTick;
}

int StepEnvelope(const Envelope& envelope, EnvelopeState& state, int32_t keyOn) {
  // Fewer than two points make no segment: such an envelope acts as off.
  bool on = (envelope.flags & ENVELOPE_ON) && envelope.pointCount >= 2;
  if (!on || !state.active) {
    if (keyOn) return 0;
    if (state.value > 0) {
      state.value = 0;
      return 1;
    }
    return 0;
  }
  int i = state.point;
  // A damaged state never indexes past the segment table.
  if (i < 0 || i + 1 >= envelope.pointCount) {
    state.active = 0;
    return 0;
  }
  const EnvelopePoint& p0 = envelope.points[i];
  const EnvelopePoint& p1 = envelope.points[i + 1];
  if ((envelope.flags & ENVELOPE_SUSTAIN) && i == envelope.sustainPoint && state.tick == p0.x && keyOn) return 0;
  int32_t t = state.tick;
  if (p1.x > p0.x && t < p1.x) {
    uint32_t f = (static_cast<uint32_t>(p1.x - t) * 65536u) / static_cast<uint32_t>(p1.x - p0.x);
    int64_t mixed = static_cast<int64_t>(f) * p0.y + (65536 - static_cast<int64_t>(f)) * p1.y;
    state.value = static_cast<int32_t>(mixed >> 16);
    state.tick = t + 1;
    if (p1.x > t + 1) return 1;
  } else {
    // A segment of no length (or one already passed): its end at once.
    state.value = p1.y;
    state.tick = t + 1;
  }
  if (i + 2 < envelope.pointCount) {
    state.point = i + 1;
  } else {
    state.active = 0;
    state.value = p1.y;
  }
  return 1;
}

void SetMusicVolumeLevel(double volume) {
  float level = volume > 1.0 ? 1.0f : volume > 0.0 ? static_cast<float>(volume) : 0.0f;
  musicVolume.store(level, std::memory_order_relaxed);
  musicVolumeChanged.store(1, std::memory_order_release);
}

float MusicVolumeLevel() { return musicVolume.load(std::memory_order_relaxed); }
