// Uncompressed TGA: colour-mapped (type 1, with a colour key that a TGA 2.0
// extension area may name) or 32-bit true colour with alpha (type 2).
#pragma once

#include <cstddef>
#include <cstdint>

#include "video/decoded_image.h"

// True on success. On refusal `image` is untouched and nothing stays allocated.
bool DecodeTga(DecodedImage* image, const uint8_t* data, size_t size);
