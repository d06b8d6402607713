// The standard modules: their sources are compiled into pelto-tool (from
// tools/stdlib/), their files are made from the engine's own data.
#include "tools/stdlib.h"

#include "video/font8x8.h"

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

std::vector<uint8_t> MakeFontTga(int scale) {
  const int width = 16 * 8 * scale, height = 6 * 8 * scale;
  // Type 2, 32 bits with 8 alpha bits, rows stored bottom-up.
  std::vector<uint8_t> tga = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                              uint8_t(width), uint8_t(width >> 8), uint8_t(height), uint8_t(height >> 8), 32, 8};
  tga.reserve(tga.size() + size_t(width) * size_t(height) * 4);
  for (int y = height - 1; y >= 0; --y) {
    const int glyphRow = y / (8 * scale), pixelRow = (y / scale) % 8;
    for (int x = 0; x < width; ++x) {
      const int glyph = glyphRow * 16 + x / (8 * scale), pixelColumn = (x / scale) % 8;
      const bool on = (kFont8x8[glyph][pixelRow] & (0x80 >> pixelColumn)) != 0;
      const uint8_t value = on ? 255 : 0;
      tga.insert(tga.end(), {value, value, value, value});  // blue, green, red, alpha
    }
  }
  return tga;
}

bool FindStdlibModule(const std::string& name, std::string* source, std::vector<StdlibFile>* files) {
  if (name != "pelto.text") return false;
  *source = kPeltoTextLua;
  const std::string mark = "--[[GLYPH_ROWS]]";
  size_t at = source->find(mark);
  if (at != std::string::npos) source->replace(at, mark.size(), GlyphRowsLua());
  files->clear();
  for (int scale = 1; scale <= kFontImageScales; ++scale) {
    files->push_back({"pelto/font8x8-" + std::to_string(scale) + ".tga", MakeFontTga(scale)});
  }
  return true;
}
