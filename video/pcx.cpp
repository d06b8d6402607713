// PCX decoding: one pass over the run-length stream straight into the final
// pixel buffer. The stream is bounded by the palette marker, so a stream that
// ends early is refused instead of being read out of the palette or beyond.
#include "video/pcx.h"

#include <cstdlib>
#include <cstring>

#include "audio/byte_reader.h"

namespace {

const size_t kHeaderSize = 128;
const size_t kPaletteTail = 769;  // the marker byte 12 and 256 x RGB

// A palette colour as a premultiplied pixel; the key becomes all zeros.
void PaletteColour(const uint8_t* palette, uint8_t index, uint8_t* out) {
  const uint8_t* c = palette + index * 3;
  if (c[0] == 255 && c[1] == 0 && c[2] == 255) {
    std::memset(out, 0, 4);
    return;
  }
  out[0] = c[0];
  out[1] = c[1];
  out[2] = c[2];
  out[3] = 255;
}

}  // namespace

// Shared by both decoders; it lives with the first of them.
void FreeDecodedImage(DecodedImage* image) {
  std::free(image->pixels);
  image->pixels = nullptr;
}

bool DecodePcx(DecodedImage* image, const uint8_t* data, size_t size) {
  // The header and the palette tail must both be there and must not overlap.
  if (data == nullptr || size < kHeaderSize + kPaletteTail) return false;
  if (data[0] != 10 || data[1] != 5 || data[2] != 1 || data[3] != 8 || data[65] != 1) return false;
  if (data[size - kPaletteTail] != 12) return false;

  ByteReader header(data, kHeaderSize);
  header.Seek(4);
  int xmin = header.U16(), ymin = header.U16(), xmax = header.U16(), ymax = header.U16();
  int width = xmax - xmin + 1, height = ymax - ymin + 1;
  if (width <= 0 || height <= 0 || width > 65535 || height > 65535) return false;
  if (static_cast<uint64_t>(width) * height > kMaxImagePixels) return false;
  // No stream byte yields more than 63 pixels of one row, so a stream this
  // short can never fill the image: refused before allocating, or a header
  // of a tiny file would cost up to 256 MiB first.
  const uint64_t streamBytes = size - kPaletteTail - kHeaderSize;
  if (static_cast<uint64_t>(height) * ((static_cast<uint64_t>(width) + 62) / 63) > streamBytes) return false;

  uint8_t* pixels = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(width) * height * 4));
  if (pixels == nullptr) return false;
  const uint8_t* palette = data + size - 768;

  // Pixel data lies between the header and the palette marker.
  ByteReader stream(data, size - kPaletteTail);
  stream.Seek(kHeaderSize);
  for (int y = 0; y < height && !stream.failed; ++y) {
    uint8_t* row = pixels + static_cast<size_t>(y) * width * 4;
    int x = 0;
    while (x < width) {
      uint8_t b = stream.U8();
      int count = 1;
      if (b >= 192) {
        count = b & 63;
        b = stream.U8();
      }
      if (stream.failed) break;
      // A run never spills into the next row; its excess is dropped.
      for (int end = x + count < width ? x + count : width; x < end; ++x) PaletteColour(palette, b, row + x * 4);
    }
  }
  if (stream.failed) {
    std::free(pixels);
    return false;
  }
  image->width = static_cast<uint16_t>(width);
  image->height = static_cast<uint16_t>(height);
  image->pixels = pixels;
  return true;
}
