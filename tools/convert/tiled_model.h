// The parts of a Tiled map the converter uses, the same whether they came
// from XML (.tmx/.tsx) or JSON (.tmj/.tsj). The readers fill it; group
// layers are already flattened into their children, in draw order.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/convert/tiled_convert.h"

// Tiled keeps three flip flags and a hexagonal rotation flag in the top bits
// of every global tile id.
constexpr uint32_t kGidFlipH = 0x80000000u;
constexpr uint32_t kGidFlipV = 0x40000000u;
constexpr uint32_t kGidFlipD = 0x20000000u;  // transpose: x and y swapped, done before H and V
constexpr uint32_t kGidRotateHex = 0x10000000u;
constexpr uint32_t kGidMask = 0x0fffffffu;

// Limits that keep hostile files from asking for unbounded memory.
constexpr int64_t kMaxLayerCells = int64_t{1} << 24;  // e.g. 4096 x 4096
constexpr int64_t kMaxTotalCells = int64_t{1} << 26;
constexpr int kMaxGroupDepth = 64;

struct TiledProperty {
  enum Kind { kString, kNumber, kBool, kClass };
  std::string name;
  Kind kind = kString;
  std::string text;                   // kString
  double number = 0;                  // kNumber
  bool flag = false;                  // kBool
  std::vector<TiledProperty> members;  // kClass
};

struct TiledImage {
  std::string path;                // resolved for readFile; empty when embedded
  std::vector<uint8_t> embedded;   // PNG bytes stored inside the file
  bool hasTrans = false;
  uint32_t trans = 0;              // 0xRRGGBB shown as transparent
};

struct TiledTile {
  uint32_t id = 0;
  bool hasImage = false;  // image-collection tilesets
  TiledImage image;
  int x = 0, y = 0, width = -1, height = -1;  // sub-rectangle of the image; -1: all of it
  std::vector<std::pair<uint32_t, int>> frames;  // animation: tile id in the same tileset, milliseconds
};

struct TiledTileset {
  uint32_t firstGid = 0;
  std::string name;
  std::string file;  // where it was read from, for messages
  int tileWidth = 0, tileHeight = 0, spacing = 0, margin = 0, tileCount = 0, columns = 0;
  int offsetX = 0, offsetY = 0;
  bool hasImage = false;  // false: an image collection
  TiledImage image;
  std::vector<TiledTile> tiles;  // tiles with extra data, by id
  bool hasWangSets = false;
};

struct TiledChunk {
  int64_t x = 0, y = 0;
  int width = 0, height = 0;
  std::vector<uint32_t> gids;
};

struct TiledObject {
  int64_t id = 0;
  std::string name, type, shape = "rectangle";  // rectangle, ellipse, point, polygon, polyline, text, tile
  double x = 0, y = 0, width = 0, height = 0, rotation = 0;
  bool visible = true;
  uint32_t gid = 0;  // tile objects, flags included
  std::vector<std::pair<double, double>> points;
  std::string text;
  std::vector<TiledProperty> properties;
};

struct TiledLayer {
  enum Kind { kTiles, kObjects };
  Kind kind = kTiles;
  int order = 0;  // 1-based place among all drawn layers
  std::string name, className;
  bool visible = true;
  double opacity = 1;
  double offsetX = 0, offsetY = 0, parallaxX = 1, parallaxY = 1;
  double tint[4] = {1, 1, 1, 1};  // red, green, blue, alpha as 0-1
  std::vector<TiledProperty> properties;
  // kTiles
  int64_t x = 0, y = 0;
  int width = 0, height = 0;
  std::vector<uint32_t> gids;      // finite maps: width x height
  std::vector<TiledChunk> chunks;  // infinite maps
  // kObjects
  std::vector<TiledObject> objects;
};

struct TiledMap {
  std::string orientation;
  int width = 0, height = 0, tileWidth = 0, tileHeight = 0;
  bool infinite = false;
  std::string backgroundColor, className;
  std::vector<TiledProperty> properties;
  std::vector<TiledTileset> tilesets;
  std::vector<TiledLayer> layers;
};

// An object template (.tx XML or .tj JSON): the object's defaults, and the
// tileset its gid counts in (firstGid 0: none).
struct TiledTemplate {
  TiledObject object;
  uint32_t firstGid = 0;
  std::string tilesetPath;
};

// What a reader needs: file access, where warnings go, and the first error.
struct TiledReadContext {
  std::map<std::string, TiledTemplate> templates;  // read once each, by path
  const ReadFileFn* readFile = nullptr;
  std::vector<std::string>* warnings = nullptr;
  std::string error;
  int64_t totalCells = 0;
  bool Fail(const std::string& message) {
    if (error.empty()) error = message;
    return false;
  }
  void Warn(const std::string& message) { warnings->push_back(message); }
};

// Readers: true on success, otherwise ctx->error says why.
bool ReadTmx(const std::string& path, const std::vector<uint8_t>& bytes, TiledReadContext* ctx, TiledMap* map);
bool ReadTmj(const std::string& path, const std::vector<uint8_t>& bytes, TiledReadContext* ctx, TiledMap* map);
// External tilesets, XML or JSON whatever their extension (told by the first character).
bool ReadTsx(const std::string& path, const std::vector<uint8_t>& bytes, TiledReadContext* ctx, TiledTileset* set);
bool ReadTsj(const std::string& path, const std::vector<uint8_t>& bytes, TiledReadContext* ctx, TiledTileset* set);
bool ReadExternalTileset(const std::string& path, TiledReadContext* ctx, TiledTileset* set);
bool ReadTemplateXml(const std::string& path, const std::vector<uint8_t>& bytes, TiledReadContext* ctx,
                     TiledTemplate* out);
bool ReadTemplateJson(const std::string& path, const std::vector<uint8_t>& bytes, TiledReadContext* ctx,
                      TiledTemplate* out);
// Starts *object from the template at path: its fields, properties and tile
// (the gid moved into the map's numbering). The instance's own fields are
// read over it afterwards.
bool ApplyTiledTemplate(const std::string& path, const std::vector<TiledTileset>& tilesets, TiledReadContext* ctx,
                        TiledObject* object);

// Shared helpers (tiled_data.cpp).
// The folder part of a path, with its trailing '/', or "" when there is none.
std::string TiledDirectory(const std::string& path);
// A file named inside a map or tileset, resolved against that file's folder.
std::string TiledResolve(const std::string& fromFile, const std::string& source);
// Base64 text, whitespace allowed between characters.
bool DecodeTiledBase64(const std::string& text, std::vector<uint8_t>* bytes, std::string* error);
// Layer data: base64 text (spaces ignored), then decompressed ("" none, "zlib",
// "gzip", "zstd") to exactly `count` little-endian 32-bit gids.
bool DecodeTiledBase64Data(const std::string& text, const std::string& compression, int64_t count,
                           std::vector<uint32_t>* gids, std::string* error);
// Layer data as comma-separated numbers, exactly `count` of them.
bool DecodeTiledCsv(const std::string& text, int64_t count, std::vector<uint32_t>* gids, std::string* error);
// Tiled colours: "#RRGGBB" or "#AARRGGBB" (the '#' optional). False if malformed.
bool ParseTiledColor(const std::string& text, uint32_t* argb);
// The colour as a Lua-friendly "#AARRGGBB" string.
std::string TiledColorString(uint32_t argb);
// Strict whole-number parse of text; false on anything else.
bool ParseTiledInt(const std::string& text, int64_t* value);
bool ParseTiledNumber(const std::string& text, double* value);
