// The built-in 8x8 font shared by the tool (pelto.text's font image) and the
// engine's own screens. One copy of the glyph data lives in font8x8.cpp.
#pragma once

#include <cstdint>

// Glyphs for characters 32..127 (index = character - 32), 8 rows each from
// the top; bit 7 of a row byte is the leftmost pixel.
extern const uint8_t kFont8x8[96][8];
