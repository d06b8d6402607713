// TGA decoding: uncompressed colour-mapped and 32-bit images, rows stored
// bottom-up. Every offset the header implies is checked against the file
// before a byte is read, so a lying header is refused, never followed.
#include "video/tga.h"

#include <cstdlib>
#include <cstring>

#include "audio/byte_reader.h"

namespace {

const size_t kHeaderSize = 18;
const size_t kFooterSize = 26;  // extension offset, developer offset, signature
const size_t kKeyInExtension = 470;
const char kSignature[] = "TRUEVISION-XFILE";

struct ColourKey {
  bool active;  // a key whose first byte is not 0 matches nothing
  uint8_t r, g, b;
};

// Magenta unless a TGA 2.0 footer points at an extension area naming another
// key. False when the footer points outside the file.
bool FindColourKey(const uint8_t* data, size_t size, ColourKey* key) {
  *key = {true, 255, 0, 255};
  if (size < kHeaderSize + kFooterSize) return true;
  if (std::memcmp(data + size - 18, kSignature, 16) != 0) return true;
  ByteReader footer(data, size);
  footer.Seek(size - kFooterSize);
  int32_t extension = static_cast<int32_t>(footer.U32());
  if (extension <= 0) return true;
  ByteReader area(data, size);
  area.Seek(static_cast<uint64_t>(extension) + kKeyInExtension);
  const uint8_t* k = area.Take(4);
  if (k == nullptr) return false;
  *key = {k[0] == 0, k[1], k[2], k[3]};
  return true;
}

}  // namespace

bool DecodeTga(DecodedImage* image, const uint8_t* data, size_t size) {
  if (data == nullptr) return false;
  ByteReader header(data, size);
  uint8_t idLength = header.U8();
  header.U8();  // colour map type: the image type says everything needed
  uint8_t type = header.U8();
  uint16_t firstEntry = header.U16();
  uint16_t mapLength = header.U16();
  uint8_t entryBits = header.U8();
  header.Seek(12);
  uint16_t width = header.U16(), height = header.U16();
  uint8_t depth = header.U8(), descriptor = header.U8();
  if (header.failed) return false;
  if (type == 1) {
    if (descriptor != 0) return false;
  } else if (type == 2) {
    if (depth != 32 || descriptor != 8) return false;
  } else {
    return false;  // run-length and every other type
  }
  if (width == 0 || height == 0) return false;
  const uint64_t count = static_cast<uint64_t>(width) * height;
  if (count > kMaxImagePixels) return false;

  // The colour map and the pixel data must both lie inside the file.
  const uint64_t entryBytes = entryBits / 8;
  const uint64_t mapStart = kHeaderSize + idLength;
  const uint64_t pixelStart = mapStart + entryBytes * mapLength;
  const uint64_t pixelBytes = count * (type == 1 ? 1 : 4);
  if (pixelStart + pixelBytes > size) return false;
  ColourKey key{};
  if (type == 1 && !FindColourKey(data, size, &key)) return false;

  uint8_t* pixels = static_cast<uint8_t*>(std::malloc(count * 4));
  if (pixels == nullptr) return false;
  const uint8_t* in = data + pixelStart;
  for (int stored = 0; stored < height; ++stored) {
    // The first stored row is the bottom row of the picture.
    uint8_t* out = pixels + static_cast<size_t>(height - 1 - stored) * width * 4;
    for (int x = 0; x < width; ++x, out += 4) {
      if (type == 2) {
        uint8_t b = in[0], g = in[1], r = in[2], a = in[3];
        in += 4;
        out[0] = static_cast<uint8_t>(r * a >> 8);
        out[1] = static_cast<uint8_t>(g * a >> 8);
        out[2] = static_cast<uint8_t>(b * a >> 8);
        out[3] = a;
        continue;
      }
      // Entries are entryBytes apart; the colour is the first three bytes
      // (blue, green, red) of the entry, which must be inside map and file.
      int64_t entry = static_cast<int64_t>(*in++) - firstEntry;
      uint64_t at = mapStart + static_cast<uint64_t>(entry) * entryBytes;
      if (entry < 0 || entry >= mapLength || at + 3 > pixelStart) {
        std::free(pixels);
        return false;
      }
      const uint8_t* c = data + at;
      if (key.active && c[2] == key.r && c[1] == key.g && c[0] == key.b) {
        std::memset(out, 0, 4);
      } else {
        out[0] = c[2];
        out[1] = c[1];
        out[2] = c[0];
        out[3] = 255;
      }
    }
  }
  image->width = width;
  image->height = height;
  image->pixels = pixels;
  return true;
}
