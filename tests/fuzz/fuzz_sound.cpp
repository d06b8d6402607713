// Sound targets: the wave and Ogg Vorbis decoders, without the mixer.
#include "audio/ogg.h"
#include "audio/wave.h"
#include "tests/fuzz/fuzz_targets.h"

namespace {

int DecodeWith(int (*decode)(const uint8_t*, size_t, DecodedSound*), const uint8_t* data, size_t size) {
  DecodedSound sound;
  int status = decode(data, size, &sound);
  if (status == 0) {
    FuzzCheck(sound.byteCount == 0 || sound.bytes != nullptr, "decoded PCM has bytes");
    FuzzTouch(sound.bytes, sound.byteCount);
  } else {
    FuzzCheck(status == SOUND_NOT_RECOGNISED || status == SOUND_UNSUPPORTED || status == SOUND_NO_SLOT,
              "a refusal is one of the loader's statuses");
    FuzzCheck(sound.bytes == nullptr && sound.owned == nullptr, "a refused sound holds nothing");
  }
  FreeDecodedSound(&sound);
  return 0;
}

}  // namespace

int FuzzWav(const uint8_t* data, size_t size) { return DecodeWith(DecodeWave, data, size); }
int FuzzOgg(const uint8_t* data, size_t size) { return DecodeWith(DecodeOgg, data, size); }
