// Tiled map -> engine data. The readers turn .tmx/.tmj into one model; this
// file places every tile layer on one grid, collects the tile variants the
// cells use, bakes them into one tileset image and writes the map files and
// the Lua description.
//
// Flips: Tiled transposes a tile first (its "diagonal" flag), then mirrors it
// left-right and top-bottom. The engine mirrors only, so every transposed
// tile gets a variant of its own in the image, and Tiled's left-right and
// top-bottom flags carry over unchanged as the cells' bits 15 and 14.
#include "tools/convert/tiled_convert.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>

#include "tools/convert/tiled_model.h"
#include "video/png.h"

namespace {

constexpr int kMaxVariants = 16383;       // tile numbers 1-16383; 0 is the empty cell
constexpr int kMaxAtlasSide = 16384;      // pixels; more than graphics cards take
constexpr int kMaxMapSide = 65535;        // cells: map files store 16-bit sizes

// A tile's pixels: an image and a rectangle in it.
struct TileSource {
  const RgbaImage* image = nullptr;
  int x = 0, y = 0, width = 0, height = 0;
};

class Converter {
 public:
  Converter(const std::string& mapPath, const ReadFileFn& readFile, MapConversion* out)
      : mapPath_(mapPath), readFile_(readFile), out_(out) {}

  bool Run(const std::string& stem, const std::string& entryPrefix);
  const std::string& error() const { return error_; }

 private:
  bool Fail(const std::string& message) {
    if (error_.empty()) error_ = message;
    return false;
  }
  void Warn(const std::string& message) { out_->warnings.push_back(message); }

  bool PlaceLayers();
  const TiledTileset* TilesetOf(uint32_t gid) const;
  const RgbaImage* Image(const TiledImage& image, const std::string& owner);
  bool Resolve(uint32_t gid, TileSource* source, std::string* why);
  bool UseVariant(uint32_t gid, const std::string& where);
  bool AddVariant(uint32_t gid, const std::string& where, std::vector<uint32_t>* pending);
  bool BakeAtlas();
  uint16_t CellOf(uint32_t gid) const;
  void WriteMaps(const std::string& stem, const std::string& entryPrefix);
  void WriteLua(const std::string& stem, const std::string& entryPrefix);

  std::string mapPath_;
  const ReadFileFn& readFile_;
  MapConversion* out_;
  std::string error_;
  TiledMap map_;
  int width_ = 0, height_ = 0;           // cells of the converted map
  int64_t originX_ = 0, originY_ = 0;    // Tiled's cell at the converted map's top-left
  std::vector<const TiledLayer*> tileLayers_;
  std::vector<std::vector<uint32_t>> grids_;  // one per tile layer, width_ x height_ gids
  std::map<uint64_t, int> variants_;     // (gid << 1 | transposed) -> tile number in the image
  std::map<uint64_t, std::string> firstUse_;  // where each variant was first seen, for messages
  std::map<std::string, std::unique_ptr<RgbaImage>> images_;
  std::set<const TiledTileset*> warnedSets_;
  std::map<uint64_t, const TiledTile*> animations_;  // variant key -> its animated tile
  std::vector<std::string> layerEntries_;
  RgbaImage atlas_;
  int atlasColumns_ = 1;
};

// The model from either format, told apart by the first character.
bool ReadMap(const std::string& path, const std::vector<uint8_t>& bytes, TiledReadContext* ctx, TiledMap* map) {
  size_t i = 0;
  while (i < bytes.size() && (bytes[i] == ' ' || bytes[i] == '\n' || bytes[i] == '\r' || bytes[i] == '\t' ||
                              bytes[i] == 0xef || bytes[i] == 0xbb || bytes[i] == 0xbf)) {
    ++i;
  }
  if (i < bytes.size() && bytes[i] == '{') return ReadTmj(path, bytes, ctx, map);
  return ReadTmx(path, bytes, ctx, map);
}

bool Converter::Run(const std::string& stem, const std::string& entryPrefix) {
  std::vector<uint8_t> bytes;
  if (!readFile_(mapPath_, &bytes)) return Fail("cannot read the map");
  TiledReadContext ctx;
  ctx.readFile = &readFile_;
  ctx.warnings = &out_->warnings;
  if (!ReadMap(mapPath_, bytes, &ctx, &map_)) return Fail(ctx.error);
  if (map_.orientation != "orthogonal") {
    return Fail("the map is " + map_.orientation + "; only orthogonal maps can be drawn by playfields");
  }
  std::stable_sort(map_.tilesets.begin(), map_.tilesets.end(),
                   [](const TiledTileset& a, const TiledTileset& b) { return a.firstGid < b.firstGid; });
  if (!PlaceLayers()) return false;

  // Every variant the tile layers use, then the tile objects' tiles.
  for (size_t l = 0; l < tileLayers_.size(); ++l) {
    const std::vector<uint32_t>& grid = grids_[l];
    for (size_t i = 0; i < grid.size(); ++i) {
      if ((grid[i] & kGidMask) == 0) continue;
      uint64_t key = uint64_t{grid[i] & kGidMask} << 1 | ((grid[i] & kGidFlipD) ? 1 : 0);
      if (variants_.count(key)) continue;
      std::string where = "layer \"" + tileLayers_[l]->name + "\" cell (" + std::to_string(i % width_) + ", " +
                          std::to_string(i / width_) + ")";
      if (!UseVariant(grid[i], where)) return false;
      if (variants_.size() > kMaxVariants) break;  // refused below
    }
  }
  for (TiledLayer& layer : map_.layers) {
    for (TiledObject& object : layer.objects) {
      if (!object.gid) continue;
      uint32_t gid = object.gid & ~kGidFlipD;  // tile objects mirror, they never transpose
      TileSource source;
      std::string why;
      if (!Resolve(gid, &source, &why)) {
        if (!error_.empty()) return false;  // an unreadable image
        Warn("object " + std::to_string(object.id) + ": " + why + "; it gets no tile");
        object.gid = 0;
      } else if (source.width != map_.tileWidth || source.height != map_.tileHeight) {
        Warn("object " + std::to_string(object.id) + ": its tile is " + std::to_string(source.width) + "x" +
             std::to_string(source.height) + " pixels, not the map's tile size; it gets no tile");
        object.gid = 0;
      } else if (!UseVariant(gid, "object " + std::to_string(object.id))) {
        return false;
      } else {
        object.gid = gid;
      }
    }
  }
  if (variants_.size() > kMaxVariants) {
    return Fail("the map uses " + std::to_string(variants_.size()) + " tile variants (tiles and their transposed " +
                "copies); one tileset holds at most 16383");
  }
  int number = 1;
  for (auto& v : variants_) v.second = number++;
  if (!BakeAtlas()) return false;

  std::vector<uint8_t> png;
  if (!EncodePngRgba(atlas_, &png)) return Fail("cannot encode the tileset image");
  out_->files.push_back({stem + ".png", std::move(png)});
  WriteMaps(stem, entryPrefix);
  WriteLua(stem, entryPrefix);
  return true;
}

// Puts every tile layer on one grid. A finite map keeps its own size; an
// infinite one is cut to the smallest rectangle holding every non-empty cell
// of every tile layer, whose top-left cell becomes (0, 0).
bool Converter::PlaceLayers() {
  for (const TiledLayer& layer : map_.layers) {
    if (layer.kind == TiledLayer::kTiles) tileLayers_.push_back(&layer);
  }
  int64_t left = 0, top = 0, right = map_.width, bottom = map_.height;  // cells, right and bottom exclusive
  if (map_.infinite) {
    left = top = INT64_MAX;
    right = bottom = INT64_MIN;
    for (const TiledLayer* layer : tileLayers_) {
      for (const TiledChunk& chunk : layer->chunks) {
        for (int64_t i = 0; i < static_cast<int64_t>(chunk.gids.size()); ++i) {
          if ((chunk.gids[i] & kGidMask) == 0) continue;
          int64_t x = chunk.x + i % chunk.width, y = chunk.y + i / chunk.width;
          left = std::min(left, x);
          top = std::min(top, y);
          right = std::max(right, x + 1);
          bottom = std::max(bottom, y + 1);
        }
      }
    }
    if (left == INT64_MAX) left = top = right = bottom = 0;  // no tile at all
  }
  originX_ = left;
  originY_ = top;
  if (right - left > kMaxMapSide || bottom - top > kMaxMapSide) {
    return Fail("the map is " + std::to_string(right - left) + "x" + std::to_string(bottom - top) +
                " cells; map files hold at most 65535 in each direction");
  }
  width_ = static_cast<int>(right - left);
  height_ = static_cast<int>(bottom - top);
  const int64_t cells = int64_t{width_} * height_;
  if (cells > kMaxLayerCells || cells * static_cast<int64_t>(tileLayers_.size()) > kMaxTotalCells) {
    return Fail("the map is too large: " + std::to_string(tileLayers_.size()) + " tile layers of " +
                std::to_string(width_) + "x" + std::to_string(height_) + " cells");
  }
  // Copies a block of gids whose top-left lies at Tiled's cell (bx, by).
  auto place = [&](std::vector<uint32_t>* grid, const std::vector<uint32_t>& gids, int64_t bx, int64_t by, int bw) {
    for (int64_t i = 0; i < static_cast<int64_t>(gids.size()); ++i) {
      int64_t x = bx + i % bw - left, y = by + i / bw - top;
      if (x < 0 || y < 0 || x >= width_ || y >= height_) continue;
      (*grid)[static_cast<size_t>(y * width_ + x)] = gids[static_cast<size_t>(i)];
    }
  };
  for (const TiledLayer* layer : tileLayers_) {
    grids_.emplace_back(static_cast<size_t>(cells), 0);
    if (!map_.infinite && layer->width > 0) place(&grids_.back(), layer->gids, layer->x, layer->y, layer->width);
    for (const TiledChunk& chunk : layer->chunks) {
      if (chunk.width > 0) place(&grids_.back(), chunk.gids, chunk.x, chunk.y, chunk.width);
    }
  }
  return true;
}

// The tileset a gid belongs to: the one with the largest first gid not above it.
const TiledTileset* Converter::TilesetOf(uint32_t gid) const {
  const TiledTileset* found = nullptr;
  for (const TiledTileset& set : map_.tilesets) {
    if (set.firstGid <= gid) found = &set;
  }
  return found;
}

// Decodes an image once; the transparent colour becomes alpha 0.
const RgbaImage* Converter::Image(const TiledImage& image, const std::string& owner) {
  std::string key = image.path + (image.path.empty() ? owner : "") + "#" +
                    (image.hasTrans ? std::to_string(image.trans) : "-");
  auto found = images_.find(key);
  if (found != images_.end()) return found->second.get();
  std::vector<uint8_t> bytes = image.embedded;
  if (!image.path.empty() && !readFile_(image.path, &bytes)) {
    Fail(image.path + ": cannot read the image");
    return nullptr;
  }
  auto decoded = std::make_unique<RgbaImage>();
  if (!DecodePngRgba(decoded.get(), bytes.data(), bytes.size())) {
    Fail((image.path.empty() ? owner : image.path) + ": not a readable PNG image (tileset images must be PNG)");
    return nullptr;
  }
  if (image.hasTrans) {
    std::vector<uint8_t>& p = decoded->pixels;
    for (size_t i = 0; i + 3 < p.size(); i += 4) {
      uint32_t rgb = uint32_t{p[i]} << 16 | uint32_t{p[i + 1]} << 8 | p[i + 2];
      if (rgb == image.trans) p[i] = p[i + 1] = p[i + 2] = p[i + 3] = 0;
    }
  }
  const RgbaImage* result = decoded.get();
  images_[key] = std::move(decoded);
  return result;
}

// Where a gid's pixels are. False with *why for a gid that names no tile, or
// an image that cannot be read (then error_ is set too).
bool Converter::Resolve(uint32_t gid, TileSource* source, std::string* why) {
  const uint32_t id = gid & kGidMask;
  const TiledTileset* set = TilesetOf(id);
  if (!set) {
    *why = "tile " + std::to_string(id) + " belongs to no tileset";
    return false;
  }
  const uint32_t local = id - set->firstGid;
  const std::string setName = "tileset \"" + set->name + "\"";
  if (set->hasImage) {
    source->image = Image(set->image, setName);
    if (!source->image) {
      *why = error_;
      return false;
    }
    // Tiled counts whole tiles in the image as it is now, whatever the
    // tileset's own columns and tilecount say.
    const int64_t step = int64_t{set->tileWidth} + set->spacing, stepY = int64_t{set->tileHeight} + set->spacing;
    const int64_t columns = (int64_t{source->image->width} - set->margin + set->spacing) / step;
    const int64_t rows = (int64_t{source->image->height} - set->margin + set->spacing) / stepY;
    if (columns <= 0 || rows <= 0 || local >= columns * rows) {
      *why = "tile " + std::to_string(id) + " lies outside the image of " + setName;
      return false;
    }
    source->x = static_cast<int>(set->margin + (local % columns) * step);
    source->y = static_cast<int>(set->margin + (local / columns) * stepY);
    source->width = set->tileWidth;
    source->height = set->tileHeight;
    return true;
  }
  for (const TiledTile& tile : set->tiles) {
    if (tile.id != local || !tile.hasImage) continue;
    source->image = Image(tile.image, setName + " tile " + std::to_string(local));
    if (!source->image) {
      *why = error_;
      return false;
    }
    source->x = tile.x;
    source->y = tile.y;
    source->width = tile.width >= 0 ? tile.width : static_cast<int>(source->image->width) - tile.x;
    source->height = tile.height >= 0 ? tile.height : static_cast<int>(source->image->height) - tile.y;
    if (source->width <= 0 || source->height <= 0 || int64_t{source->x} + source->width > source->image->width ||
        int64_t{source->y} + source->height > source->image->height) {
      *why = "tile " + std::to_string(id) + " of " + setName + " lies outside its image";
      return false;
    }
    return true;
  }
  *why = "tile " + std::to_string(id) + " is not in " + setName;
  return false;
}

// Checks a gid drawn by a cell or a tile object and records its variant;
// the frames of an animated tile go to *pending.
bool Converter::AddVariant(uint32_t gid, const std::string& where, std::vector<uint32_t>* pending) {
  TileSource source;
  std::string why;
  if (!Resolve(gid, &source, &why)) return Fail(error_.empty() ? where + ": " + why : error_);
  if (source.width != map_.tileWidth || source.height != map_.tileHeight) {
    return Fail(where + ": tile " + std::to_string(gid & kGidMask) + " is " + std::to_string(source.width) + "x" +
                std::to_string(source.height) + " pixels, but the map's tiles are " + std::to_string(map_.tileWidth) +
                "x" + std::to_string(map_.tileHeight));
  }
  const bool transposed = gid & kGidFlipD;
  if (transposed && map_.tileWidth != map_.tileHeight) {
    return Fail(where + ": a rotated or diagonally flipped tile needs square tiles");
  }
  const TiledTileset* set = TilesetOf(gid & kGidMask);
  if (warnedSets_.insert(set).second) {
    const std::string name = "tileset \"" + set->name + "\"";
    if (set->offsetX || set->offsetY) Warn(name + ": its drawing offset is dropped; tiles are drawn on the grid");
    if (set->hasWangSets) Warn(name + ": Wang and terrain sets are editing aids and are skipped");
  }
  const uint64_t key = uint64_t{gid & kGidMask} << 1 | (transposed ? 1 : 0);
  variants_[key] = 0;
  // An animated tile brings its frames into the image, turned like the
  // tile, so a game can step through them with SetTile.
  const uint32_t local = (gid & kGidMask) - set->firstGid;
  for (const TiledTile& tile : set->tiles) {
    if (tile.id != local || tile.frames.empty()) continue;
    animations_[key] = &tile;
    for (const auto& frame : tile.frames) {
      const uint64_t frameGid = uint64_t{set->firstGid} + frame.first;
      if (frameGid > kGidMask) return Fail(where + ": an animation frame names no tile");
      const uint32_t frameCell = static_cast<uint32_t>(frameGid) | (transposed ? kGidFlipD : 0);
      if (!variants_.count(frameGid << 1 | (transposed ? 1 : 0))) pending->push_back(frameCell);
    }
  }
  return true;
}

// A variant and, through a work list rather than recursion (frames can be
// animated too), every animation frame it brings.
bool Converter::UseVariant(uint32_t gid, const std::string& where) {
  std::vector<uint32_t> pending = {gid};
  for (size_t i = 0; i < pending.size(); ++i) {
    const uint32_t next = pending[i];
    if (i > 0 && variants_.count(uint64_t{next & kGidMask} << 1 | ((next & kGidFlipD) ? 1 : 0))) continue;
    if (!AddVariant(next, i ? where + ": animation frame" : where, &pending)) return false;
    if (variants_.size() > kMaxVariants) break;  // refused by the caller; no need to go on
  }
  return true;
}

// One image: tile 0 left transparent, then every variant in order of gid,
// the plain tile before its transposed copy, in rows as square as may be.
bool Converter::BakeAtlas() {
  const int tw = map_.tileWidth, th = map_.tileHeight;
  const int count = static_cast<int>(variants_.size()) + 1;
  atlasColumns_ = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count))));
  const int rows = (count + atlasColumns_ - 1) / atlasColumns_;
  if (int64_t{atlasColumns_} * tw > kMaxAtlasSide || int64_t{rows} * th > kMaxAtlasSide) {
    return Fail("the tileset image would be " + std::to_string(int64_t{atlasColumns_} * tw) + "x" +
                std::to_string(int64_t{rows} * th) + " pixels, more than graphics cards take");
  }
  atlas_.width = static_cast<uint32_t>(atlasColumns_ * tw);
  atlas_.height = static_cast<uint32_t>(rows * th);
  atlas_.pixels.assign(size_t{atlas_.width} * atlas_.height * 4, 0);
  for (const auto& v : variants_) {
    TileSource source;
    std::string why;
    if (!Resolve(static_cast<uint32_t>(v.first >> 1), &source, &why)) return Fail(why);
    const bool transposed = v.first & 1;
    const int ax = v.second % atlasColumns_ * tw, ay = v.second / atlasColumns_ * th;
    for (int y = 0; y < th; ++y) {
      for (int x = 0; x < tw; ++x) {
        // A transposed tile's pixel (x, y) is the source's (y, x).
        const int sx = source.x + (transposed ? y : x), sy = source.y + (transposed ? x : y);
        const uint8_t* from = &source.image->pixels[(size_t{static_cast<uint32_t>(sy)} * source.image->width + sx) * 4];
        uint8_t* to = &atlas_.pixels[(size_t{static_cast<uint32_t>(ay + y)} * atlas_.width + ax + x) * 4];
        std::copy(from, from + 4, to);
      }
    }
  }
  return true;
}

uint16_t Converter::CellOf(uint32_t gid) const {
  if ((gid & kGidMask) == 0) return 0;
  auto found = variants_.find(uint64_t{gid & kGidMask} << 1 | ((gid & kGidFlipD) ? 1 : 0));
  uint16_t cell = static_cast<uint16_t>(found->second);
  if (gid & kGidFlipH) cell |= 0x8000;
  if (gid & kGidFlipV) cell |= 0x4000;
  return cell;
}

// A layer name as a file name part: A-Za-z0-9_- kept, every other character
// (a whole UTF-8 sequence counts as one) becomes '_'.
std::string SanitizeName(const std::string& name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if ((c & 0xc0) == 0x80 && i > 0 && (static_cast<unsigned char>(name[i - 1]) & 0x80)) continue;
    bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    out += keep ? static_cast<char>(c) : '_';
  }
  return out.empty() ? "layer" : out;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

void Converter::WriteMaps(const std::string& stem, const std::string& entryPrefix) {
  // Names compare without case, so the files stay apart on Windows too.
  std::set<std::string> taken;
  for (size_t l = 0; l < tileLayers_.size(); ++l) {
    std::string base = SanitizeName(tileLayers_[l]->name), name = base;
    for (int n = 2; taken.count(Lower(name)); ++n) name = base + "_" + std::to_string(n);
    taken.insert(Lower(name));
    ConvertedFile file;
    file.name = stem + "." + name + ".map";
    std::vector<uint8_t>& b = file.bytes;
    b.reserve(4 + grids_[l].size() * 2);
    b = {static_cast<uint8_t>(width_), static_cast<uint8_t>(width_ >> 8), static_cast<uint8_t>(height_),
         static_cast<uint8_t>(height_ >> 8)};
    for (uint32_t gid : grids_[l]) {
      uint16_t cell = CellOf(gid);
      b.push_back(static_cast<uint8_t>(cell));
      b.push_back(static_cast<uint8_t>(cell >> 8));
    }
    layerEntries_.push_back(entryPrefix + file.name);
    out_->files.push_back(std::move(file));
  }
}

// ---- The Lua description -------------------------------------------------

std::string LuaString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 32 || c == 127) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\%03d", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string LuaNumber(double v) {
  char text[32];
  if (v == std::floor(v) && std::fabs(v) < 1e15) {
    std::snprintf(text, sizeof text, "%.0f", v);
  } else {
    std::snprintf(text, sizeof text, "%.17g", v);
  }
  return text;
}

void LuaProperties(const std::vector<TiledProperty>& props, std::string* out) {
  *out += "{";
  for (size_t i = 0; i < props.size(); ++i) {
    const TiledProperty& p = props[i];
    *out += (i ? ", [" : " [") + LuaString(p.name) + "] = ";
    switch (p.kind) {
      case TiledProperty::kString: *out += LuaString(p.text); break;
      case TiledProperty::kNumber: *out += LuaNumber(p.number); break;
      case TiledProperty::kBool: *out += p.flag ? "true" : "false"; break;
      case TiledProperty::kClass: LuaProperties(p.members, out); break;
    }
    if (i + 1 == props.size()) *out += " ";
  }
  *out += "}";
}

void LayerFields(const TiledLayer& layer, const std::string& indent, std::string* out) {
  *out += indent + "name = " + LuaString(layer.name) + ",\n";
  *out += indent + "class = " + LuaString(layer.className) + ",\n";
  *out += indent + "order = " + std::to_string(layer.order) + ",\n";
  *out += indent + "visible = " + (layer.visible ? "true" : "false") + ",\n";
  *out += indent + "opacity = " + LuaNumber(layer.opacity) + ",\n";
  *out += indent + "offsetX = " + LuaNumber(layer.offsetX) + ", offsetY = " + LuaNumber(layer.offsetY) + ",\n";
  *out += indent + "parallaxX = " + LuaNumber(layer.parallaxX) + ", parallaxY = " + LuaNumber(layer.parallaxY) + ",\n";
  // Playfield's tint arguments that give Tiled's tint colour and opacity on
  // the engine's premultiplied pixels.
  const double alpha = layer.opacity * layer.tint[3];
  auto channel = [](double v) { return std::to_string(static_cast<int>(std::lround(std::min(1.0, std::max(0.0, v)) * 255))); };
  *out += indent + "tint = { " + channel(layer.tint[0] * alpha) + ", " + channel(layer.tint[1] * alpha) + ", " +
          channel(layer.tint[2] * alpha) + ", " + channel(alpha) + " },\n";
  *out += indent + "properties = ";
  LuaProperties(layer.properties, out);
  *out += ",\n";
}

void Converter::WriteLua(const std::string& stem, const std::string& entryPrefix) {
  const double shiftX = -static_cast<double>(originX_) * map_.tileWidth;
  const double shiftY = -static_cast<double>(originY_) * map_.tileHeight;
  std::string s = "-- " + stem + ".lua: made by pelto-tool convert from a Tiled map. Convert again rather than edit.\n";
  s += "return {\n";
  s += "  width = " + std::to_string(width_) + ", height = " + std::to_string(height_) + ",  -- cells\n";
  s += "  tileWidth = " + std::to_string(map_.tileWidth) + ", tileHeight = " + std::to_string(map_.tileHeight) +
       ",  -- pixels\n";
  s += "  tileset = " + LuaString(entryPrefix + stem + ".png") + ",\n";
  s += "  tileCount = " + std::to_string(variants_.size() + 1) + ",  -- tile 0 is the empty tile\n";
  s += "  -- Tiled's cell at the top-left of the converted map (infinite maps are cut to their tiles)\n";
  s += "  originX = " + std::to_string(originX_) + ", originY = " + std::to_string(originY_) + ",\n";
  s += "  class = " + LuaString(map_.className) + ",\n";
  if (!map_.backgroundColor.empty()) {
    uint32_t argb;
    if (ParseTiledColor(map_.backgroundColor, &argb)) s += "  backgroundColor = " + LuaString(TiledColorString(argb)) + ",\n";
  }
  s += "  properties = ";
  LuaProperties(map_.properties, &s);
  s += ",\n";
  // Animated tiles by their tile number in the image: frames as tile numbers
  // (turned like the tile) and durations in milliseconds.
  s += "  animations = {";
  for (const auto& a : animations_) {
    const TiledTileset* set = TilesetOf(static_cast<uint32_t>(a.first >> 1));
    s += "\n    [" + std::to_string(variants_.at(a.first)) + "] = {";
    for (size_t i = 0; i < a.second->frames.size(); ++i) {
      const auto& frame = a.second->frames[i];
      const uint64_t frameKey = (uint64_t{set->firstGid} + frame.first) << 1 | (a.first & 1);
      s += (i ? ", " : " ") + std::string("{ tile = ") + std::to_string(variants_.at(frameKey)) +
           ", duration = " + std::to_string(frame.second) + " }";
    }
    s += " },";
  }
  s += animations_.empty() ? "},\n" : "\n  },\n";
  s += "  layers = {\n";
  size_t tileIndex = 0;
  for (const TiledLayer& layer : map_.layers) {
    if (layer.kind != TiledLayer::kTiles) continue;
    s += "    {\n      entry = " + LuaString(layerEntries_[tileIndex++]) + ",\n";
    LayerFields(layer, "      ", &s);
    s += "    },\n";
  }
  s += "  },\n  objectLayers = {\n";
  for (const TiledLayer& layer : map_.layers) {
    if (layer.kind != TiledLayer::kObjects) continue;
    s += "    {\n";
    LayerFields(layer, "      ", &s);
    s += "      objects = {\n";
    for (const TiledObject& o : layer.objects) {
      s += "        { id = " + std::to_string(o.id) + ", name = " + LuaString(o.name) + ", type = " + LuaString(o.type) +
           ", shape = " + LuaString(o.shape) + ",\n";
      s += "          x = " + LuaNumber(o.x + shiftX) + ", y = " + LuaNumber(o.y + shiftY) + ", width = " +
           LuaNumber(o.width) + ", height = " + LuaNumber(o.height) + ", rotation = " + LuaNumber(o.rotation) +
           ", visible = " + (o.visible ? "true" : "false") + ",\n";
      if (o.gid) s += "          tile = " + std::to_string(CellOf(o.gid)) + ",\n";
      if (o.shape == "polygon" || o.shape == "polyline") {
        s += "          points = {";
        for (size_t i = 0; i < o.points.size(); ++i) {
          s += (i ? ", " : " ") + std::string("{ x = ") + LuaNumber(o.points[i].first) + ", y = " +
               LuaNumber(o.points[i].second) + " }";
        }
        s += " },\n";
      }
      if (o.shape == "text") s += "          text = " + LuaString(o.text) + ",\n";
      s += "          properties = ";
      LuaProperties(o.properties, &s);
      s += " },\n";
    }
    s += "      },\n    },\n";
  }
  s += "  },\n}\n";
  out_->files.push_back({stem + ".lua", std::vector<uint8_t>(s.begin(), s.end())});
}

}  // namespace

bool ConvertTiledMap(const std::string& mapPath, const std::string& stem, const std::string& entryPrefix,
                     const ReadFileFn& readFile, MapConversion* out) {
  out->files.clear();
  out->error.clear();
  Converter converter(mapPath, readFile, out);
  if (!converter.Run(stem, entryPrefix)) {
    out->files.clear();
    out->error = converter.error().empty() ? "conversion failed" : converter.error();
    return false;
  }
  return true;
}
