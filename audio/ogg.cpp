// The Ogg Vorbis reader: libvorbisfile decodes the whole stream from memory
// into 16-bit samples. (It replaced stb_vorbis, which leaked on damaged
// streams; libvorbis is the reference decoder and fuzzed continuously.)
#include "audio/ogg.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// The entry as a read-only file for libvorbisfile.
struct MemoryFile {
  const uint8_t* data;
  size_t size;
  size_t position;
};

size_t ReadMemory(void* into, size_t itemSize, size_t items, void* source) {
  MemoryFile* file = static_cast<MemoryFile*>(source);
  if (itemSize == 0) return 0;
  size_t count = std::min(items, (file->size - file->position) / itemSize);
  std::memcpy(into, file->data + file->position, count * itemSize);
  file->position += count * itemSize;
  return count;
}

int SeekMemory(void* source, ogg_int64_t offset, int whence) {
  MemoryFile* file = static_cast<MemoryFile*>(source);
  ogg_int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? static_cast<ogg_int64_t>(file->position)
                                                                 : static_cast<ogg_int64_t>(file->size);
  if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return -1;
  if (offset < -base || offset > static_cast<ogg_int64_t>(file->size) - base) return -1;
  file->position = static_cast<size_t>(base + offset);
  return 0;
}

long TellMemory(void* source) { return static_cast<long>(static_cast<MemoryFile*>(source)->position); }

constexpr size_t kFirstBufferBytes = 64 * 1024;
constexpr int kReadBytes = 4096;  // asked of ov_read at a time

}  // namespace

int DecodeOgg(const uint8_t* data, size_t size, DecodedSound* sound) {
  *sound = DecodedSound{};
  if (!data || size == 0) return SOUND_NOT_RECOGNISED;
  MemoryFile file = {data, size, 0};
  const ov_callbacks callbacks = {ReadMemory, SeekMemory, nullptr, TellMemory};
  OggVorbis_File vorbis;
  if (ov_open_callbacks(&file, &vorbis, nullptr, 0, callbacks) != 0) return SOUND_NOT_RECOGNISED;

  const vorbis_info* info = ov_info(&vorbis, -1);
  int status = 0;
  int32_t rate = 0;
  if (!info || info->channels != 1) {
    status = SOUND_UNSUPPORTED;
  } else {
    rate = static_cast<int32_t>(info->rate);
  }
  uint8_t* pcm = nullptr;
  size_t capacity = 0;
  size_t used = 0;
  while (status == 0) {
    if (capacity - used < static_cast<size_t>(kReadBytes)) {
      // A slot holds at most 2^32 - 1 bytes of 16-bit samples.
      size_t grown = capacity == 0 ? kFirstBufferBytes : capacity * 2;
      if (grown > UINT32_MAX) grown = UINT32_MAX;
      if (grown - used < static_cast<size_t>(kReadBytes)) {
        status = SOUND_NO_SLOT;
        break;
      }
      uint8_t* bigger = static_cast<uint8_t*>(std::realloc(pcm, grown));
      if (!bigger) {
        status = SOUND_NO_SLOT;
        break;
      }
      pcm = bigger;
      capacity = grown;
    }
    int link = 0;
    // Little-endian, 16-bit, signed: the wave reader's Signed16.
    long got = ov_read(&vorbis, reinterpret_cast<char*>(pcm + used), kReadBytes, 0, 2, 1, &link);
    if (got == OV_HOLE) continue;  // a gap in the data: decoding goes on after it
    if (got <= 0) break;           // the end, or damage that ends the stream here
    const vorbis_info* linkInfo = ov_info(&vorbis, link);
    if (!linkInfo || linkInfo->channels != 1) {
      status = SOUND_UNSUPPORTED;  // a chained stream whose later part is not mono
      break;
    }
    used += static_cast<size_t>(got);
  }
  ov_clear(&vorbis);
  if (status != 0) {
    std::free(pcm);
    return status;
  }
  sound->bytes = pcm;
  sound->byteCount = static_cast<uint32_t>(used & ~static_cast<size_t>(1));
  sound->format = SampleFormat::Signed16;
  sound->rate = rate;
  sound->owned = pcm;
  return 0;
}
