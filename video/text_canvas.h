// A plain RGBA picture that the development screens (the error screen and
// the overlay) are drawn into with the built-in 8x8 font before OpenGL
// shows it in one go. No OpenGL here, so tests check the pixels directly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TextCanvas {
  int width = 0, height = 0;
  std::vector<uint8_t> pixels;  // width x height x 4: red, green, blue, alpha (premultiplied), row 0 at the top
};

struct CanvasColour {
  uint8_t r, g, b, a;
};

void CanvasReset(TextCanvas* canvas, int width, int height, CanvasColour fill);
// Fills the rectangle, clipped to the canvas.
void CanvasFill(TextCanvas* canvas, int x, int y, int w, int h, CanvasColour colour);
// Draws one line of text with its top-left at (x, y), each font pixel a
// scale x scale block; characters outside 32-126 show as '?'. Clipped.
void CanvasText(TextCanvas* canvas, int x, int y, const std::string& text, CanvasColour colour, int scale);

// Splits text into lines of at most `columns` characters: at newlines,
// then at the last space that fits, else hard; tabs become two spaces.
std::vector<std::string> WrapText(const std::string& text, int columns);
