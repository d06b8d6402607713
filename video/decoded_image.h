// A decoded tileset image: premultiplied RGBA, row 0 at the top. Both
// decoders fill it, and only on success.
#pragma once

#include <cstdint>

struct DecodedImage {
  uint16_t width;
  uint16_t height;
  uint8_t* pixels;  // width x height x 4 bytes (red, green, blue, alpha), malloc'ed
};

// A header may ask for up to 65535 x 65535 pixels (16 GiB); anything above
// 64 Mpixels (256 MiB of pixels) is refused before allocating, as no texture
// a game uses comes near it.
constexpr uint64_t kMaxImagePixels = 64ull * 1024 * 1024;

// Releases the pixels and clears the pointer; an empty image is left alone.
void FreeDecodedImage(DecodedImage* image);
