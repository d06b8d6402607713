// Drawing primitives on the virtual screen: clear, point, line, rectangle
// outline and filled rectangle, each one immediate-mode draw in the viewport
// the display set up. Coordinates are virtual pixels, both corners of a
// rectangle inclusive. Without an open window they draw nothing.
#pragma once

#include <cstdint>

// A colour as the script gave it; each channel is cut to its low 8 bits
// when drawn (256 is 0, -1 is 255), except by Cls.
struct Rgba {
  int32_t r, g, b, a;
};

// Clears the whole window, borders included, to channel/255 each (OpenGL
// clamps to 0..1, so 300 is full intensity).
void Cls(const Rgba& colour);
void Plot(int32_t x, int32_t y, const Rgba& colour);
void Line(int32_t x1, int32_t y1, int32_t x2, int32_t y2, const Rgba& colour);
void Box(int32_t x1, int32_t y1, int32_t x2, int32_t y2, const Rgba& colour);
void FillRect(int32_t x1, int32_t y1, int32_t x2, int32_t y2, const Rgba& colour);
