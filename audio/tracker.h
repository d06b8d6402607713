// Tracker music: the "[TRK]" module format loaded into plain records, and
// the sequencer that plays them from inside the mixer.
//
// A module is an order list of pattern numbers, patterns of rows of 5-byte
// cells (one cell per music channel) and instruments whose samples become
// mixer sound slots. Music channel i always plays on mixer channel i.
//
// Threads: loading, freeing and StartTracker run on the script thread while
// no tick can run (the hook is removed and the audio thread has passed a
// chunk boundary first); MusicTick runs on the audio thread and is then the
// only code that touches the playback fields and track states.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

constexpr int kEnvelopeMaxPoints = 12;
constexpr int kKeymapSize = 96;
constexpr int kCellBytes = 5;
constexpr int kTrackerHeaderBytes = 22;

// Module flags.
constexpr uint32_t TRACKER_LINEAR_FREQUENCY = 1u << 0;

// Envelope flags.
constexpr uint8_t ENVELOPE_ON = 1u << 0;
constexpr uint8_t ENVELOPE_SUSTAIN = 1u << 1;

// Sample type bits.
constexpr uint8_t SAMPLE_LOOP_FORWARD = 1u << 0;
constexpr uint8_t SAMPLE_LOOP_PINGPONG = 1u << 1;
constexpr uint8_t SAMPLE_16BIT = 1u << 4;

// Cell notes.
constexpr uint8_t NOTE_NONE = 0;
constexpr uint8_t NOTE_LAST = 96;  // notes are 1-96
constexpr uint8_t NOTE_KEY_OFF = 97;

struct EnvelopePoint {
  uint16_t x;  // tick
  uint16_t y;  // value
};

struct Envelope {
  uint8_t flags;         // ENVELOPE_ON | ENVELOPE_SUSTAIN
  uint8_t pointCount;    // 0-12
  uint8_t sustainPoint;  // index of the point the envelope holds at
  uint8_t stored[2];     // kept from the file, not used by playback
  EnvelopePoint points[kEnvelopeMaxPoints];
};

struct InstrumentSample {
  int32_t sound;  // mixer slot, or -1 when the table was full (never started)
  uint8_t volume;  // 0-64
  int8_t finetune;
  uint8_t type;     // SAMPLE_* bits
  uint8_t panning;  // 0-255
  int8_t relativeNote;
};

struct Instrument {
  uint32_t sampleCount;
  uint8_t keymap[kKeymapSize];  // note -> sample number within the instrument (entry 0 unused)
  Envelope volumeEnvelope;
  Envelope panningEnvelope;
  uint8_t stored[4];  // kept from the file, not used
  int32_t fadeout;    // per tick after key-off, out of 65536; the file's value doubled
  InstrumentSample* samples;
};

struct Pattern {
  uint32_t rows;
  uint8_t* cells;  // rows x channelCount x 5 bytes
};

struct EnvelopeState {
  int32_t value;   // volume 0-64; panning 0-64 with 32 neutral
  int32_t active;  // 1 while the envelope advances
  int32_t tick;    // envelope time
  int32_t point;   // first point of the current segment
};

struct TrackState {
  int32_t instrument;  // 0-based
  int32_t volume;      // normally 0-64
  int32_t keyOn;
  int32_t note;  // last note started, 1-96
  int32_t panning;  // 0-255, 128 centre
  int32_t period;
  int32_t targetPeriod;  // tone portamento target
  int32_t sampleIndex;
  int32_t fadeVolume;    // 0-65536
  int32_t effectMemory;  // last non-zero effect parameter
  EnvelopeState volumeEnvelope;
  EnvelopeState panningEnvelope;
};

struct Music {
  // From the header.
  uint32_t songLength;
  uint32_t channelCount;
  uint32_t patternCount;
  uint32_t instrumentCount;
  uint32_t flags;
  uint32_t defaultSpeed;
  uint32_t defaultBpm;
  uint32_t stored;  // the header word at offset 20, not used

  uint8_t* orders;           // songLength pattern numbers
  Pattern* patterns;         // patternCount
  Instrument* instruments;   // instrumentCount, zero-filled before loading

  // Playback, written by StartTracker and then by MusicTick only.
  int32_t framesPerTick;
  uint32_t tick;
  uint32_t bpm;
  uint32_t speed;
  uint32_t orderPosition;
  uint32_t row;
  int32_t globalVolume;  // 0-64 by default
  const Pattern* currentPattern;

  TrackState* tracks;  // channelCount
};

// ---- loading (script thread) ----

// Builds a Music from a whole "[TRK]" entry, creating a sound slot per
// sample. Returns null for a wrong magic, a failed allocation, or an entry
// whose sizes, counts or references do not fit (everything created so far
// is freed again).
Music* LoadTracker(const uint8_t* data, size_t size);
// Frees everything the Music owns, sound slots included. Null and partly
// built records are fine. The caller makes sure no tick runs.
void FreeTracker(Music* music);

// ---- sequencer ----

// Resets playback to order 0, row 0 and installs MusicTick as the mixer's
// tick hook. The caller makes sure no tick runs.
void StartTracker(Music* music);
// One tick of the playing music (audio thread); returns the frames until the
// next tick.
int MusicTick();
// Advances one envelope by one tick; 1 when its value changed.
int StepEnvelope(const Envelope& envelope, EnvelopeState& state, int32_t keyOn);

// The music volume, 0.0-1.0, applied to every music channel from the next tick.
void SetMusicVolumeLevel(double volume);
float MusicVolumeLevel();

// ---- the engine's one music (script thread) ----

Music* CurrentMusic();
// Stops the sequencer and waits until the audio thread is past any tick.
// False if it is stuck inside one: the music must then be left alone.
bool StopTrackerAndWait();
// Replaces the current music; false when the entry is not a usable module
// (the previous music is gone either way).
bool LoadCurrentMusic(const uint8_t* data, size_t size);
// Stops the sequencer, silences the music's channels and frees it.
void DeleteCurrentMusic();
// Plays the current music from the start; nothing without one.
void PlayCurrentMusic();
void StopCurrentMusic();
