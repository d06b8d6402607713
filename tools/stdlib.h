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
// its Lua source and `files` what it loads from the archive.
bool FindStdlibModule(const std::string& name, std::string* source, std::vector<StdlibFile>* files);

// The built-in font as a 32-bit TGA of 16 x 6 glyph cells, white on
// transparent, each font pixel drawn as scale x scale pixels.
std::vector<uint8_t> MakeFontTga(int scale);
