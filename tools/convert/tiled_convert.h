// Tiled maps (orthogonal, .tmx XML or .tmj JSON) -> what the engine loads:
// one tileset image STEM.png holding every tile variant the tile layers use,
// one STEM.LAYER.map per tile layer, and STEM.lua, a Lua module describing
// the map, its layers and its objects. A pure function: every file it needs
// comes through readFile, and it prints nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using ReadFileFn = std::function<bool(const std::string& path, std::vector<uint8_t>* bytes)>;

struct ConvertedFile {
  std::string name;             // relative to the output folder
  std::vector<uint8_t> bytes;
};

struct MapConversion {
  std::vector<ConvertedFile> files;   // empty when the conversion failed
  std::vector<std::string> warnings;  // "where: what and why", without the file prefix
  std::string error;                  // set when the conversion failed
};

// mapPath is passed to readFile; external .tsx tilesets and images resolve
// relative to it. Entry names written inside STEM.lua are entryPrefix + file
// name (entryPrefix "" for `convert`, "maps/" when `build` converts
// maps/level.tmx). True on success; on failure out->error says why and
// out->files is empty.
bool ConvertTiledMap(const std::string& mapPath, const std::string& stem, const std::string& entryPrefix,
                     const ReadFileFn& readFile, MapConversion* out);
