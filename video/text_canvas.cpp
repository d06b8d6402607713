// Text and rectangles in a plain RGBA picture (see the header).
#include "video/text_canvas.h"

#include <algorithm>

#include "video/font8x8.h"

void CanvasReset(TextCanvas* canvas, int width, int height, CanvasColour fill) {
  canvas->width = std::max(width, 0);
  canvas->height = std::max(height, 0);
  canvas->pixels.assign(static_cast<size_t>(canvas->width) * canvas->height * 4, 0);
  CanvasFill(canvas, 0, 0, canvas->width, canvas->height, fill);
}

void CanvasFill(TextCanvas* canvas, int x, int y, int w, int h, CanvasColour colour) {
  int x0 = std::max(x, 0), y0 = std::max(y, 0);
  int x1 = std::min(x + w, canvas->width), y1 = std::min(y + h, canvas->height);
  for (int row = y0; row < y1; ++row) {
    uint8_t* p = &canvas->pixels[(static_cast<size_t>(row) * canvas->width + x0) * 4];
    for (int col = x0; col < x1; ++col, p += 4) {
      p[0] = colour.r;
      p[1] = colour.g;
      p[2] = colour.b;
      p[3] = colour.a;
    }
  }
}

void CanvasText(TextCanvas* canvas, int x, int y, const std::string& text, CanvasColour colour, int scale) {
  if (scale < 1) scale = 1;
  int left = x;
  for (unsigned char c : text) {
    int glyph = (c >= 32 && c <= 126) ? c - 32 : '?' - 32;
    for (int row = 0; row < 8; ++row) {
      uint8_t bits = kFont8x8[glyph][row];
      for (int col = 0; col < 8; ++col) {
        if (bits & (0x80 >> col)) CanvasFill(canvas, left + col * scale, y + row * scale, scale, scale, colour);
      }
    }
    left += 8 * scale;
  }
}

std::vector<std::string> WrapText(const std::string& text, int columns) {
  if (columns < 1) columns = 1;
  std::vector<std::string> lines;
  std::string line;
  auto flush = [&] {
    lines.push_back(line);
    line.clear();
  };
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\n') {
      flush();
      continue;
    }
    if (text[i] == '\r') continue;
    if (text[i] == '\t') {
      line += "  ";
    } else {
      line += text[i];
    }
    while (static_cast<int>(line.size()) > columns) {
      size_t cut = line.rfind(' ', static_cast<size_t>(columns));
      if (cut == std::string::npos || cut == 0) cut = static_cast<size_t>(columns);
      std::string rest = line.substr(cut);
      line.erase(cut);
      flush();
      // The wrapped part keeps its leading spaces trimmed.
      size_t start = rest.find_first_not_of(' ');
      line = start == std::string::npos ? "" : rest.substr(start);
    }
  }
  if (!lines.empty() && lines.back().empty() && !text.empty() && text.back() == '\n') lines.pop_back();
  return lines;
}
