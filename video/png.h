// PNG images: every colour type and bit depth, tRNS, Adam7 interlacing.
// The engine tries PNG only after PCX and TGA have refused an entry, so the
// two older formats keep their exact behaviour. The tool reads and writes
// straight (not premultiplied) RGBA through the same code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "video/decoded_image.h"

// Tileset decoding, premultiplied like the other decoders. True on success;
// on refusal (not a PNG, damaged, truncated, bad CRC or Adler-32, too large)
// `image` is untouched and nothing stays allocated.
bool DecodePng(DecodedImage* image, const uint8_t* data, size_t size);

// Straight RGBA, 8 bits per channel, row 0 at the top: what the tool's
// converters read and write.
struct RgbaImage {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> pixels;  // width x height x 4 bytes: red, green, blue, alpha
};

// True on success; on refusal `image` is left empty.
bool DecodePngRgba(RgbaImage* image, const uint8_t* data, size_t size);

// Encodes straight RGBA as a PNG (8-bit RGBA, not interlaced). True on success.
bool EncodePngRgba(const RgbaImage& image, std::vector<uint8_t>* png);
