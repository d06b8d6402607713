// 8-bit run-length encoded PCX with a 256-colour palette at the end of the
// file. Palette colour magenta (255, 0, 255) is the colour key.
#pragma once

#include <cstddef>
#include <cstdint>

#include "video/decoded_image.h"

// True on success. On refusal (another format, malformed data, an image
// too large) `image` is untouched and nothing stays allocated.
bool DecodePcx(DecodedImage* image, const uint8_t* data, size_t size);
