// The standard modules: their sources are compiled into pelto-tool (from
// tools/stdlib/), their files are made from the engine's own data.
#include "tools/stdlib.h"

#include "video/font8x8.h"
#include "video/png.h"

extern const char kPeltoTextLua[];  // tools/stdlib/pelto/text.lua, generated at configure time

namespace {

constexpr int kFontImageScales = 4;  // pelto.text's IMAGE_SCALES

// Glyph rows as a Lua list, on one line so the module's line numbers hold.
std::string GlyphRowsLua() {
  std::string rows;
  for (int glyph = 0; glyph < 96; ++glyph) {
    for (int row = 0; row < 8; ++row) rows += std::to_string(kFont8x8[glyph][row]) + ",";
  }
  return rows;
}

}  // namespace

std::vector<uint8_t> MakeFontPng(int scale) {
  RgbaImage image;
  image.width = uint32_t(16 * 8 * scale);
  image.height = uint32_t(6 * 8 * scale);
  image.pixels.assign(size_t(image.width) * image.height * 4, 0);
  for (uint32_t y = 0; y < image.height; ++y) {
    const uint32_t glyphRow = y / (8 * scale), pixelRow = (y / scale) % 8;
    for (uint32_t x = 0; x < image.width; ++x) {
      const uint32_t glyph = glyphRow * 16 + x / (8 * scale), pixelColumn = (x / scale) % 8;
      if (kFont8x8[glyph][pixelRow] & (0x80 >> pixelColumn)) {
        uint8_t* pixel = &image.pixels[(size_t(y) * image.width + x) * 4];
        pixel[0] = pixel[1] = pixel[2] = pixel[3] = 255;
      }
    }
  }
  std::vector<uint8_t> png;
  EncodePngRgba(image, &png);  // cannot fail on a well-formed image but for memory
  return png;
}

bool FindStdlibModule(const std::string& name, std::string* source, std::vector<StdlibFile>* files) {
  if (name != "pelto.text") return false;
  *source = kPeltoTextLua;
  const std::string mark = "--[[GLYPH_ROWS]]";
  size_t at = source->find(mark);
  if (at != std::string::npos) source->replace(at, mark.size(), GlyphRowsLua());
  if (!files) return true;
  files->clear();
  for (int scale = 1; scale <= kFontImageScales; ++scale) {
    files->push_back({"pelto/font8x8-" + std::to_string(scale) + ".png", MakeFontPng(scale)});
  }
  return true;
}
