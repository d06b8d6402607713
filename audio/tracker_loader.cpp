// "[TRK]" modules: parsing an entry into a Music record, freeing it, and the
// engine's one current music with its safe replacement and deletion.
//
// The entry is walked with the sticky-error reader, so a size or count that
// runs past the end, or a reference to something the module does not have,
// refuses the whole module instead of reading outside it during playback.
#include "audio/tracker.h"

#include <cstring>
#include <new>

#include "audio/byte_reader.h"
#include "audio/mixer.h"
#include "audio/sound.h"

namespace {

constexpr uint8_t kMagic[6] = {'[', 'T', 'R', 'K', ']', 1};
constexpr int32_t kSampleDefaultRate = 8363;

// How long deletion waits for a mixer call to pass. A call lasts a few
// milliseconds; one that takes longer is stuck, and the music is kept.
constexpr int kStopWaitMs = 1000;

Music* currentMusic = nullptr;

// Reads one envelope's points. The point data begin one byte after the
// start of the count, so the count's high byte would be the first byte of
// the points (or of the next field for an empty envelope). Read as a whole
// word, an envelope whose first point is not at a tick below 256, or an empty
// envelope followed by a non-zero byte, would claim hundreds of points; only
// the low byte is the count the module was written with.
bool ReadEnvelopePoints(ByteReader& in, Envelope& envelope) {
  uint8_t count = in.U8();
  if (in.failed || count > kEnvelopeMaxPoints) return false;
  for (uint8_t p = 0; p < count; ++p) {
    envelope.points[p].x = in.U16();
    envelope.points[p].y = in.U16();
  }
  envelope.pointCount = count;
  return !in.failed;
}

bool ReadPatterns(ByteReader& in, Music& music) {
  music.patterns = new (std::nothrow) Pattern[music.patternCount]();
  if (!music.patterns) return false;
  uint64_t rowBytes = static_cast<uint64_t>(music.channelCount) * kCellBytes;
  for (uint32_t p = 0; p < music.patternCount; ++p) {
    Pattern& pattern = music.patterns[p];
    uint32_t rows = in.U16();
    uint64_t bytes = rows * rowBytes;
    if (in.failed || bytes > in.size - in.offset) return false;
    const uint8_t* cells = in.Take(static_cast<size_t>(bytes));
    // Every cell's instrument must exist; notes are checked as they play.
    for (uint64_t at = 1; at < bytes; at += kCellBytes) {
      if (cells[at] > music.instrumentCount) return false;
    }
    pattern.cells = new (std::nothrow) uint8_t[bytes > 0 ? bytes : 1];
    if (!pattern.cells) return false;
    if (bytes > 0) std::memcpy(pattern.cells, cells, static_cast<size_t>(bytes));
    pattern.rows = rows;
  }
  return true;
}

bool ReadSample(ByteReader& in, InstrumentSample& sample) {
  uint32_t byteCount = in.U32();
  uint32_t loopStart = in.U32();
  uint32_t loopLength = in.U32();
  sample.volume = in.U8();
  sample.finetune = static_cast<int8_t>(in.U8());
  sample.type = in.U8();
  sample.panning = in.U8();
  sample.relativeNote = static_cast<int8_t>(in.U8());
  const uint8_t* data = in.Take(byteCount);
  if (in.failed) return false;
  bool wide = (sample.type & SAMPLE_16BIT) != 0;
  sample.sound = CreateSound(data, kSampleDefaultRate, wide ? 16 : 8, true, true, byteCount);
  if (sample.type & (SAMPLE_LOOP_FORWARD | SAMPLE_LOOP_PINGPONG)) {
    // The loop counts bytes; a 16-bit sound counts samples. Both loop kinds
    // play forward, which also covers a type with both bits set.
    if (wide) {
      loopStart /= 2;
      loopLength /= 2;
    }
    int mode = (sample.type & SAMPLE_LOOP_FORWARD) ? 1 : 2;
    // The sum is taken in 64 bits so a huge length cannot wrap into range;
    // a loop past the sound is ignored by SetSoundLoop.
    uint64_t loopEnd = static_cast<uint64_t>(loopStart) + loopLength;
    if (loopEnd <= UINT32_MAX) SetSoundLoop(sample.sound, mode, loopStart, static_cast<uint32_t>(loopEnd));
  }
  return true;
}

bool ReadInstrument(ByteReader& in, Instrument& instrument) {
  uint32_t sampleCount = in.U16();
  if (in.failed) return false;
  if (sampleCount == 0) return true;
  const uint8_t* keymap = in.Take(kKeymapSize);
  if (!keymap) return false;
  std::memcpy(instrument.keymap, keymap, kKeymapSize);
  if (!ReadEnvelopePoints(in, instrument.volumeEnvelope)) return false;
  if (!ReadEnvelopePoints(in, instrument.panningEnvelope)) return false;
  instrument.volumeEnvelope.flags = in.U8();
  instrument.volumeEnvelope.sustainPoint = in.U8();
  instrument.volumeEnvelope.stored[0] = in.U8();
  instrument.volumeEnvelope.stored[1] = in.U8();
  instrument.panningEnvelope.flags = in.U8();
  instrument.panningEnvelope.sustainPoint = in.U8();
  instrument.panningEnvelope.stored[0] = in.U8();
  instrument.panningEnvelope.stored[1] = in.U8();
  for (uint8_t& b : instrument.stored) b = in.U8();
  instrument.fadeout = static_cast<int32_t>(in.U16()) * 2;
  if (in.failed) return false;
  instrument.samples = new (std::nothrow) InstrumentSample[sampleCount]();
  if (!instrument.samples) return false;
  // Samples not read yet hold no sound, so a refusal half-way frees only
  // the slots really taken.
  for (uint32_t s = 0; s < sampleCount; ++s) instrument.samples[s].sound = -1;
  instrument.sampleCount = sampleCount;
  for (uint32_t s = 0; s < sampleCount; ++s) {
    if (!ReadSample(in, instrument.samples[s])) return false;
  }
  return true;
}

bool ReadModule(ByteReader& in, Music& music) {
  const uint8_t* magic = in.Take(sizeof kMagic);
  if (!magic || std::memcmp(magic, kMagic, sizeof kMagic) != 0) return false;
  music.flags = in.U16();
  music.channelCount = in.U16();
  music.patternCount = in.U16();
  music.instrumentCount = in.U16();
  music.defaultBpm = in.U16();
  music.defaultSpeed = in.U16();
  music.songLength = in.U16();
  music.stored = in.U16();
  // Playback starts at order 0, which an empty song does not have.
  if (in.failed || music.songLength == 0) return false;

  const uint8_t* orders = in.Take(music.songLength);
  if (!orders) return false;
  for (uint32_t o = 0; o < music.songLength; ++o) {
    if (orders[o] >= music.patternCount) return false;
  }
  music.orders = new (std::nothrow) uint8_t[music.songLength];
  if (!music.orders) return false;
  std::memcpy(music.orders, orders, music.songLength);

  if (!ReadPatterns(in, music)) return false;

  if (music.instrumentCount > 0) {
    music.instruments = new (std::nothrow) Instrument[music.instrumentCount]();
    if (!music.instruments) return false;
  }
  for (uint32_t i = 0; i < music.instrumentCount; ++i) {
    if (!ReadInstrument(in, music.instruments[i])) return false;
  }

  music.tracks = new (std::nothrow) TrackState[music.channelCount > 0 ? music.channelCount : 1]();
  return music.tracks != nullptr;
}

}  // namespace

Music* LoadTracker(const uint8_t* data, size_t size) {
  if (!data) return nullptr;
  Music* music = new (std::nothrow) Music();
  if (!music) return nullptr;
  ByteReader in(data, size);
  if (!ReadModule(in, *music)) {
    FreeTracker(music);
    return nullptr;
  }
  return music;
}

void FreeTracker(Music* music) {
  if (!music) return;
  delete[] music->tracks;
  if (music->instruments) {
    // Every sound of the module in one go, so the audio thread is waited
    // for once and not once per sample.
    int slots[kMixerSoundCount];
    int pending = 0;
    for (uint32_t i = 0; i < music->instrumentCount; ++i) {
      Instrument& instrument = music->instruments[i];
      for (uint32_t s = 0; s < instrument.sampleCount; ++s) {
        int sound = instrument.samples[s].sound;
        if (sound < 0) continue;
        slots[pending++] = sound;
        if (pending == kMixerSoundCount) {
          FreeSounds(slots, pending);
          pending = 0;
        }
      }
    }
    FreeSounds(slots, pending);
    for (uint32_t i = 0; i < music->instrumentCount; ++i) delete[] music->instruments[i].samples;
    delete[] music->instruments;
  }
  if (music->patterns) {
    for (uint32_t p = 0; p < music->patternCount; ++p) delete[] music->patterns[p].cells;
    delete[] music->patterns;
  }
  delete[] music->orders;
  delete music;
}

// ---- the current music ----

Music* CurrentMusic() { return currentMusic; }

bool StopTrackerAndWait() {
  SetTickHook(nullptr);
  // A mixer call already running may be inside a tick, or about to take the
  // old hook; once it has returned, no tick of this music runs again.
  return MixerWaitForAudioThread(kStopWaitMs);
}

void DeleteCurrentMusic() {
  if (!currentMusic) {
    SetTickHook(nullptr);
    return;
  }
  // A stuck audio thread may still read the music: keeping it is the only
  // safe choice, and it is forgotten so that nothing plays it again.
  if (StopTrackerAndWait()) {
    for (uint32_t ch = 0; ch < currentMusic->channelCount; ++ch) ChannelStop(static_cast<int>(ch));
    FreeTracker(currentMusic);
  }
  currentMusic = nullptr;
}

bool LoadCurrentMusic(const uint8_t* data, size_t size) {
  // The old music's sound slots are given back before the new samples take
  // theirs, so a reloaded module gets the same slot numbers.
  DeleteCurrentMusic();
  currentMusic = LoadTracker(data, size);
  return currentMusic != nullptr;
}

void PlayCurrentMusic() {
  // Without a music nothing plays, and a music playing now goes on.
  if (!currentMusic) return;
  if (!StopTrackerAndWait()) return;
  StartTracker(currentMusic);
}

void StopCurrentMusic() { SetTickHook(nullptr); }
