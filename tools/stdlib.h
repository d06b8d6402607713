// pelto's small standard library in Lua: modules pelto-tool bundles into a
// game only when the game requires them, with the files they need.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct StdlibFile {
  std::string name;  // archive entry name
  std::vector<uint8_t> bytes;
};

// True if `name` ("pelto.text") is a standard module; then `source` holds
// its Lua source and, unless `files` is null, `files` what it loads from
// the archive. The files are made from data the source also holds (the
// glyph rows), so the source alone identifies them for a cache.
bool FindStdlibModule(const std::string& name, std::string* source, std::vector<StdlibFile>* files);

// The built-in font as a PNG of 16 x 6 glyph cells, white on transparent,
// each font pixel drawn as scale x scale pixels. (PNG rather than TGA: the
// engine rounds PNG's premultiplied white to 255, TGA's to 254.)
std::vector<uint8_t> MakeFontPng(int scale);
