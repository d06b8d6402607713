// Sound slots: PCM conversion into floats with a guard sample, loops, safe
// freeing, and loading from archive entries.
#include "audio/sound.h"

#include <cstdlib>
#include <cstring>

#include "archive/archive_set.h"
#include "audio/mixer.h"
#include "audio/ogg.h"
#include "audio/wave.h"

namespace {

// How long freeing waits for a mixer call to finish. A call lasts a few
// milliseconds; one that takes longer is stuck, and its memory is kept.
constexpr int kFreeWaitMs = 1000;

Sound* SlotInUse(int s) {
  Sound* sounds = Mixer().sounds;
  if (!sounds || s < 0 || s >= kMixerSoundCount) return nullptr;
  Sound* sound = &sounds[s];
  return (sound->flags.load(std::memory_order_relaxed) & SOUND_IN_USE) ? sound : nullptr;
}

int LowestFreeSlot() {
  Sound* sounds = Mixer().sounds;
  if (!sounds) return SOUND_NO_SLOT;
  for (int s = 0; s < kMixerSoundCount; ++s) {
    if (!(sounds[s].flags.load(std::memory_order_relaxed) & SOUND_IN_USE)) return s;
  }
  return SOUND_NO_SLOT;
}

uint64_t BytesPerSample(SampleFormat format) {
  switch (format) {
    case SampleFormat::Signed16:
    case SampleFormat::Signed16Delta: return 2;
    case SampleFormat::Float32:
    case SampleFormat::Signed32: return 4;
    default: return 1;
  }
}

void Convert(const uint8_t* in, SampleFormat format, uint32_t length, float* out) {
  switch (format) {
    case SampleFormat::Unsigned8:
      for (uint32_t i = 0; i < length; ++i) out[i] = static_cast<float>(in[i] - 128) * (1.0f / 128.0f);
      break;
    case SampleFormat::Signed8:
      for (uint32_t i = 0; i < length; ++i) out[i] = static_cast<float>(static_cast<int8_t>(in[i])) * (1.0f / 128.0f);
      break;
    case SampleFormat::Signed8Delta: {
      uint8_t sum = 0;  // wraps at 8 bits
      for (uint32_t i = 0; i < length; ++i) {
        sum = static_cast<uint8_t>(sum + in[i]);
        out[i] = static_cast<float>(static_cast<int8_t>(sum)) * (1.0f / 128.0f);
      }
      break;
    }
    case SampleFormat::Signed16:
      for (uint32_t i = 0; i < length; ++i) {
        int16_t v = static_cast<int16_t>(in[2 * i] | in[2 * i + 1] << 8);
        out[i] = static_cast<float>(v) * (1.0f / 32768.0f);
      }
      break;
    case SampleFormat::Signed16Delta: {
      uint16_t sum = 0;  // wraps at 16 bits
      for (uint32_t i = 0; i < length; ++i) {
        sum = static_cast<uint16_t>(sum + (in[2 * i] | in[2 * i + 1] << 8));
        out[i] = static_cast<float>(static_cast<int16_t>(sum)) * (1.0f / 32768.0f);
      }
      break;
    }
    case SampleFormat::Float32:
      std::memcpy(out, in, static_cast<size_t>(length) * 4);
      break;
    case SampleFormat::Signed32:
      // Full scale is 2^31: a 32-bit integer wave sounds as loud as its 16-bit twin.
      for (uint32_t i = 0; i < length; ++i) {
        uint32_t u = static_cast<uint32_t>(in[4 * i]) | static_cast<uint32_t>(in[4 * i + 1]) << 8 |
                     static_cast<uint32_t>(in[4 * i + 2]) << 16 | static_cast<uint32_t>(in[4 * i + 3]) << 24;
        out[i] = static_cast<float>(static_cast<int32_t>(u)) * (1.0f / 2147483648.0f);
      }
      break;
  }
}

// Detaches a slot from the mixer: no new start can name it, and the
// generation bump silences every channel that still plays it. Returns the
// samples to release once the audio thread is past them, or null.
float* DetachSlot(Sound* sound) {
  uint32_t flags = sound->flags.load(std::memory_order_relaxed);
  float* owned = (flags & SOUND_OWNS_SAMPLES) ? sound->samples : nullptr;
  sound->flags.store(0, std::memory_order_seq_cst);
  sound->generation.fetch_add(1, std::memory_order_seq_cst);
  return owned;
}

}  // namespace

int CreateSoundFromPcm(const void* data, int32_t defaultRate, SampleFormat format, uint32_t byteCount) {
  int slot = LowestFreeSlot();
  if (slot < 0) return SOUND_NO_SLOT;
  uint64_t length = byteCount / BytesPerSample(format);
  float* samples = static_cast<float*>(std::malloc((length + 1) * sizeof(float)));
  if (!samples) return SOUND_NO_SLOT;
  if (length > 0) Convert(static_cast<const uint8_t*>(data), format, static_cast<uint32_t>(length), samples);
  samples[length] = 0.0f;  // the guard: interpolation past the last sample reads it

  Sound& sound = Mixer().sounds[slot];
  sound.defaultRate = defaultRate;
  sound.length = static_cast<uint32_t>(length);
  sound.samples = samples;
  sound.looping = 0;
  sound.loopStart = 0;
  sound.loopEnd = 0;
  sound.flags.store(SOUND_IN_USE | SOUND_OWNS_SAMPLES, std::memory_order_release);
  return slot;
}

int CreateSound(const void* data, int32_t defaultRate, int bits, bool isSigned, bool delta, uint32_t byteCount) {
  SampleFormat format;
  if (isSigned && bits == 16) {
    format = delta ? SampleFormat::Signed16Delta : SampleFormat::Signed16;
  } else if (isSigned && bits == 8) {
    format = delta ? SampleFormat::Signed8Delta : SampleFormat::Signed8;
  } else if (!isSigned && bits == 8) {
    format = SampleFormat::Unsigned8;  // delta coding does not apply
  } else if (isSigned && bits == 32) {
    format = SampleFormat::Float32;
  } else {
    return SOUND_NO_SLOT;
  }
  return CreateSoundFromPcm(data, defaultRate, format, byteCount);
}

void SetSoundLoop(int s, int mode, uint32_t start, uint32_t end) {
  Sound* sound = SlotInUse(s);
  if (!sound || start > sound->length || end > sound->length) return;
  uint32_t loopEnd = end == 0 ? sound->length : end;
  if (loopEnd <= start) {
    // Nothing to repeat: wrapping would either never end or run past the
    // samples, so the sound simply plays to its end.
    sound->looping = 0;
    return;
  }
  sound->loopStart = start;
  sound->loopEnd = loopEnd;
  sound->looping = 1;
  // Interpolation across the seam reads the guard, which must then be the
  // loop's first sample. A loop ending earlier reads a real sample there.
  if (loopEnd == sound->length) sound->samples[sound->length] = sound->samples[start];
}

void FreeSound(int s) { FreeSounds(&s, 1); }

void FreeSounds(const int* slots, int count) {
  float* release[kMixerSoundCount];
  int pending = 0;
  for (int i = 0; i < count; ++i) {
    Sound* sound = SlotInUse(slots[i]);
    if (!sound) continue;
    float* owned = DetachSlot(sound);
    if (owned) release[pending++] = owned;
  }
  if (pending == 0) return;
  // A mixer call that started before the detach may still hold the samples.
  // If it never finishes, keeping the memory is the only safe choice.
  if (!MixerWaitForAudioThread(kFreeWaitMs)) return;
  for (int i = 0; i < pending; ++i) std::free(release[i]);
}

int CreateSoundFromDecoded(const DecodedSound& sound) {
  return CreateSoundFromPcm(sound.bytes, sound.rate, sound.format, sound.byteCount);
}

namespace {

// Runs a decoder, then takes the slot; the decoder's buffer is released either way.
int CreateSoundWith(int (*decode)(const uint8_t*, size_t, DecodedSound*), const uint8_t* data, size_t size) {
  DecodedSound sound;
  int status = decode(data, size, &sound);
  if (status == 0) status = CreateSoundFromDecoded(sound);
  FreeDecodedSound(&sound);
  return status;
}

}  // namespace

int CreateSoundFromWave(const uint8_t* data, size_t size) { return CreateSoundWith(DecodeWave, data, size); }
int CreateSoundFromOgg(const uint8_t* data, size_t size) { return CreateSoundWith(DecodeOgg, data, size); }

void FreeDecodedSound(DecodedSound* sound) {
  std::free(sound->owned);
  *sound = DecodedSound{};
}

int LoadSoundAsset(const AssetBuffer& buffer, bool loop) {
  size_t size = buffer.size > 0 ? static_cast<size_t>(buffer.size) : 0;
  int slot = CreateSoundFromWave(buffer.data, size);
  if (slot == SOUND_NOT_RECOGNISED) slot = CreateSoundFromOgg(buffer.data, size);
  if (slot >= 0 && loop) SetSoundLoop(slot, 1, 0, 0);
  return slot;
}

int32_t SoundDefaultRate(int s) {
  const Sound* sound = SlotInUse(s);
  return sound ? sound->defaultRate : 0;
}

void PlaySoundOnChannel(int ch, int s, float volume, float panning, int32_t rate) {
  ChannelStop(ch);
  ChannelSetRate(ch, rate);
  ChannelSetVolume(ch, volume);
  ChannelSetPanning(ch, panning);
  ChannelStart(ch, s);
}
