// The Tiled map converter on maps built here in memory: the pictures its
// output gives when drawn by the engine's rules against Tiled's own rule,
// every data encoding, merged, external and image-collection tilesets,
// infinite maps, the Lua description read back by Lua, refusals and
// hostile files.
#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tools/convert/tiled_convert.h"
#include "video/playfield.h"
#include "video/png.h"
#include "video/tileset.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Files = std::map<std::string, Bytes>;

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

const uint32_t kH = 0x80000000u, kV = 0x40000000u, kD = 0x20000000u;
const int kTile = 4;

// An image whose every pixel differs from every other image's: `seed` tells
// the images apart, the position the pixels.
RgbaImage MakeImage(int w, int h, int seed) {
  RgbaImage image;
  image.width = w;
  image.height = h;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      image.pixels.insert(image.pixels.end(), {uint8_t(10 + x * 13), uint8_t(10 + y * 17), uint8_t(seed * 40 + 3), 255});
    }
  }
  return image;
}

void SetPixel(RgbaImage* image, int x, int y, uint32_t rgb) {
  uint8_t* p = &image->pixels[(size_t(y) * image->width + x) * 4];
  p[0] = uint8_t(rgb >> 16), p[1] = uint8_t(rgb >> 8), p[2] = uint8_t(rgb), p[3] = 255;
}

Bytes Png(const RgbaImage& image) {
  Bytes png;
  EXPECT_TRUE(EncodePngRgba(image, &png));
  return png;
}

// ---- The test's own model of the tilesets, and Tiled's drawing rule ----

const uint32_t kTrans = 0x102030;  // sheet A's transparent colour

// Sheet A: 3 x 2 tiles of 4x4 with a margin of 1 and spacing of 2; the gaps
// hold a colour no tile has, and some tile pixels the transparent colour.
RgbaImage SheetA() {
  RgbaImage image = MakeImage(18, 12, 1);
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 18; ++x) {
      bool inTile = x >= 1 && (x - 1) % 6 < 4 && x < 17 && y >= 1 && (y - 1) % 6 < 4 && y < 11;
      if (!inTile) SetPixel(&image, x, y, 0xff00ff);
      else if ((x * 3 + y) % 7 == 0) SetPixel(&image, x, y, kTrans);
    }
  }
  return image;
}
RgbaImage SheetB() { return MakeImage(8, 8, 2); }     // external, 2 x 2 tiles
RgbaImage ImageC0() { return MakeImage(4, 4, 3); }    // collection tile 0
RgbaImage ImageC3() { return MakeImage(8, 4, 4); }    // collection tile 3: its right half
RgbaImage ImageC5() { return MakeImage(8, 8, 5); }    // collection tile 5: too large for layers

// The files every map of these tests can use; the maps name c0.png by a
// roundabout path ("./../maps/c0.png"), which must reach the same file.
Files TilesetFiles() {
  Files files;
  files["maps/a.png"] = Png(SheetA());
  files["maps/sets/b.png"] = Png(SheetB());
  files["maps/c0.png"] = Png(ImageC0());
  files["maps/c3.png"] = Png(ImageC3());
  files["maps/c5.png"] = Png(ImageC5());
  files["maps/sets/b.tsx"] = ToBytes(R"(<?xml version="1.0" encoding="UTF-8"?>
<tileset version="1.10" name="B" tilewidth="4" tileheight="4" tilecount="4" columns="2">
 <image source="b.png" width="8" height="8"/>
</tileset>
)");
  return files;
}

const int kUsedGids[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 14};

std::string TilesetsXml() {
  return R"( <tileset firstgid="1" name="A" tilewidth="4" tileheight="4" spacing="2" margin="1" tilecount="6" columns="3">
  <image source="a.png" trans="102030" width="18" height="12"/>
  <tile id="0"><animation><frame tileid="0" duration="100"/><frame tileid="5" duration="250"/></animation></tile>
 </tileset>
 <tileset firstgid="7" source="sets/b.tsx"/>
 <tileset firstgid="11" name="C" tilewidth="8" tileheight="8" tilecount="3" columns="0">
  <grid orientation="orthogonal" width="1" height="1"/>
  <tile id="0"><image source="./../maps/c0.png" width="4" height="4"/></tile>
  <tile id="3" x="4" y="0" width="4" height="4"><image source="c3.png" width="8" height="4"/></tile>
  <tile id="5"><image source="c5.png" width="8" height="8"/></tile>
 </tileset>
)";
}

std::string TilesetsJson() {
  return R"([
  {"firstgid": 1, "name": "A", "tilewidth": 4, "tileheight": 4, "spacing": 2, "margin": 1, "tilecount": 6,
   "columns": 3, "image": "a.png", "imagewidth": 18, "imageheight": 12, "transparentcolor": "#102030",
   "tiles": [{"id": 0, "animation": [{"tileid": 0, "duration": 100}, {"tileid": 5, "duration": 250}]}]},
  {"firstgid": 7, "source": "sets/b.tsx"},
  {"firstgid": 11, "name": "C", "tilewidth": 8, "tileheight": 8, "tilecount": 3, "columns": 0,
   "tiles": [{"id": 0, "image": "./../maps/c0.png", "imagewidth": 4, "imageheight": 4},
             {"id": 3, "image": "c3.png", "imagewidth": 8, "imageheight": 4, "x": 4, "y": 0, "width": 4, "height": 4},
             {"id": 5, "image": "c5.png", "imagewidth": 8, "imageheight": 8}]}
 ])";
}

// Tiled's rule: the pixel (u, v) of a cell is found by undoing the
// left-right and top-bottom flips, then the diagonal flip (x and y swapped),
// in the tile's own pixels. Returns RGBA; 0 for no pixel.
uint32_t TiledPixel(uint32_t gid, int u, int v) {
  static const RgbaImage a = SheetA(), b = SheetB(), c0 = ImageC0(), c3 = ImageC3();
  uint32_t id = gid & 0x0fffffff;
  if (id == 0) return 0;
  if (gid & kH) u = kTile - 1 - u;
  if (gid & kV) v = kTile - 1 - v;
  if (gid & kD) std::swap(u, v);
  const RgbaImage* image;
  int x, y;
  if (id <= 6) {
    image = &a, x = 1 + (id - 1) % 3 * 6, y = 1 + (id - 1) / 3 * 6;
  } else if (id <= 10) {
    image = &b, x = (id - 7) % 2 * 4, y = (id - 7) / 2 * 4;
  } else if (id == 11) {
    image = &c0, x = 0, y = 0;
  } else {
    image = &c3, x = 4, y = 0;
  }
  const uint8_t* p = &image->pixels[(size_t(y + v) * image->width + x + u) * 4];
  uint32_t rgb = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
  if (image == &a && rgb == kTrans) return 0;
  return rgb << 8 | p[3];
}

// ---- Running the converter and reading its output the engine's way ----

struct Output {
  bool ok = false;
  MapConversion result;
  const Bytes* Find(const std::string& name) const {
    for (const ConvertedFile& f : result.files) {
      if (f.name == name) return &f.bytes;
    }
    return nullptr;
  }
};

Output Convert(const Files& files, const std::string& path, const std::string& stem = "level",
               const std::string& prefix = "") {
  Output out;
  ReadFileFn read = [&files](const std::string& p, Bytes* bytes) {
    auto found = files.find(p);
    if (found == files.end()) return false;
    *bytes = found->second;
    return true;
  };
  out.ok = ConvertTiledMap(path, stem, prefix, read, &out.result);
  return out;
}

struct MapFile {
  int width = 0, height = 0;
  std::vector<uint16_t> cells;
};

MapFile ReadMapFile(const Bytes& b) {
  MapFile m;
  m.width = b[0] | b[1] << 8;
  m.height = b[2] | b[3] << 8;
  EXPECT_EQ(b.size(), 4u + 2u * m.width * m.height);
  for (size_t i = 4; i + 1 < b.size(); i += 2) m.cells.push_back(uint16_t(b[i] | b[i + 1] << 8));
  return m;
}

// The pixel the engine draws for a cell: its quad from the playfield code,
// read back in the decoded tileset image.
uint32_t EnginePixel(const RgbaImage& atlas, uint16_t cell, int u, int v) {
  Tileset tileset{};
  tileset.tileWidth = kTile;
  tileset.tileHeight = kTile;
  tileset.tilesPerRow = uint16_t(atlas.width / kTile);
  tileset.texelWidth = 1.0f / atlas.width;
  tileset.texelHeight = 1.0f / atlas.height;
  CellQuad quad;
  if (!CellQuadFor(tileset, cell, 0, 0, &quad)) return 0;
  int x0 = int(quad.s0 * atlas.width + 0.5f), y0 = int(quad.t0 * atlas.height + 0.5f);
  // The texture's corner (s0, t0) lands at (xa, ya): a swapped pair mirrors.
  int tu = quad.xa > quad.xb ? kTile - 1 - u : u, tv = quad.ya > quad.yb ? kTile - 1 - v : v;
  const uint8_t* p = &atlas.pixels[(size_t(y0 + tv) * atlas.width + x0 + tu) * 4];
  if (p[3] == 0) return 0;
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// Every pixel of a converted layer against Tiled's rule on the gids; the
// gids are in Tiled's cells, the map's top-left at Tiled's (ox, oy).
void ExpectSamePicture(const Output& out, const std::string& layerFile, const std::vector<uint32_t>& gids,
                       int tiledWidth, int ox = 0, int oy = 0, const std::string& stem = "level") {
  ASSERT_TRUE(out.ok) << out.result.error;
  const Bytes* png = out.Find(stem + ".png");
  const Bytes* map = out.Find(layerFile);
  ASSERT_TRUE(png && map) << layerFile;
  RgbaImage atlas;
  ASSERT_TRUE(DecodePngRgba(&atlas, png->data(), png->size()));
  MapFile m = ReadMapFile(*map);
  int tiledHeight = int(gids.size()) / tiledWidth, mismatches = 0;
  for (int ty = 0; ty < tiledHeight; ++ty) {
    for (int tx = 0; tx < tiledWidth; ++tx) {
      int x = tx - ox, y = ty - oy;
      uint32_t gid = gids[size_t(ty * tiledWidth + tx)];
      bool inside = x >= 0 && y >= 0 && x < m.width && y < m.height;
      if (!inside) {
        EXPECT_EQ(gid & 0x0fffffff, 0u) << "a tile outside the converted map at " << tx << "," << ty;
        continue;
      }
      uint16_t cell = m.cells[size_t(y * m.width + x)];
      for (int v = 0; v < kTile; ++v) {
        for (int u = 0; u < kTile; ++u) {
          if (EnginePixel(atlas, cell, u, v) != TiledPixel(gid, u, v) && ++mismatches < 5) {
            ADD_FAILURE() << layerFile << " cell " << tx << "," << ty << " gid " << std::hex << gid << " pixel " << u
                          << "," << v << ": engine " << EnginePixel(atlas, cell, u, v) << " Tiled "
                          << TiledPixel(gid, u, v);
          }
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// ---- Writing maps ----

std::string Csv(const std::vector<uint32_t>& gids) {
  std::string s;
  for (size_t i = 0; i < gids.size(); ++i) s += (i ? "," : "") + std::to_string(gids[i]) + (i % 8 == 7 ? "\n" : "");
  return s;
}

std::string Base64(const Bytes& b) {
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string s;
  for (size_t i = 0; i < b.size(); i += 3) {
    uint32_t n = uint32_t(b[i]) << 16 | (i + 1 < b.size() ? b[i + 1] << 8 : 0) | (i + 2 < b.size() ? b[i + 2] : 0);
    s += alphabet[n >> 18 & 63];
    s += alphabet[n >> 12 & 63];
    s += i + 1 < b.size() ? alphabet[n >> 6 & 63] : '=';
    s += i + 2 < b.size() ? alphabet[n & 63] : '=';
  }
  return s;
}

Bytes Compress(const Bytes& raw, const std::string& how) {
  if (how.empty()) return raw;
  if (how == "zstd") {
    Bytes out(ZSTD_compressBound(raw.size()));
    out.resize(ZSTD_compress(out.data(), out.size(), raw.data(), raw.size(), 3));
    return out;
  }
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, how == "gzip" ? 31 : 15, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&z, raw.size()) + 32);
  z.next_in = const_cast<Bytef*>(raw.data());
  z.avail_in = uInt(raw.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

Bytes LittleEndian(const std::vector<uint32_t>& gids) {
  Bytes raw;
  for (uint32_t g : gids) raw.insert(raw.end(), {uint8_t(g), uint8_t(g >> 8), uint8_t(g >> 16), uint8_t(g >> 24)});
  return raw;
}

// The <data> element (TMX) for gids in an encoding: "csv", "xml", or
// "base64" with a compression ("", zlib, gzip, zstd).
std::string TmxData(const std::vector<uint32_t>& gids, const std::string& encoding, const std::string& compression) {
  if (encoding == "csv") return "<data encoding=\"csv\">\n" + Csv(gids) + "</data>";
  if (encoding == "xml") {
    std::string s = "<data>";
    for (uint32_t g : gids) s += g ? "<tile gid=\"" + std::to_string(g) + "\"/>" : "<tile/>";
    return s + "</data>";
  }
  std::string attrs = compression.empty() ? "" : " compression=\"" + compression + "\"";
  return "<data encoding=\"base64\"" + attrs + ">\n   " + Base64(Compress(LittleEndian(gids), compression)) + "\n  </data>";
}

// The data fields of a TMJ layer.
std::string TmjData(const std::vector<uint32_t>& gids, const std::string& encoding, const std::string& compression) {
  if (encoding == "csv") {
    std::string s = "\"data\": [";
    for (size_t i = 0; i < gids.size(); ++i) s += (i ? "," : "") + std::to_string(gids[i]);
    return s + "]";
  }
  return "\"encoding\": \"base64\", \"compression\": \"" + compression + "\", \"data\": \"" +
         Base64(Compress(LittleEndian(gids), compression)) + "\"";
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  size_t at = s.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? s : s.replace(at, from.size(), to);
}

std::string Tmx(int w, int h, const std::string& layers, const std::string& extra = "") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<map version=\"1.10\" orientation=\"orthogonal\" "
         "renderorder=\"right-down\" width=\"" + std::to_string(w) + "\" height=\"" + std::to_string(h) +
         "\" tilewidth=\"4\" tileheight=\"4\" infinite=\"0\"" + extra + ">\n" + TilesetsXml() + layers + "</map>\n";
}

std::string Tmj(int w, int h, const std::string& layers) {
  return "{\"type\": \"map\", \"orientation\": \"orthogonal\", \"width\": " + std::to_string(w) + ", \"height\": " +
         std::to_string(h) + ", \"tilewidth\": 4, \"tileheight\": 4, \"infinite\": false, \"tilesets\": " +
         TilesetsJson() + ", \"layers\": [" + layers + "]}";
}

// Every used tile in all 8 flip combinations: column = flags, row = tile.
std::vector<uint32_t> AllFlips() {
  std::vector<uint32_t> gids;
  for (int gid : kUsedGids) {
    for (int f = 0; f < 8; ++f) gids.push_back(uint32_t(gid) | (f & 1 ? kH : 0) | (f & 2 ? kV : 0) | (f & 4 ? kD : 0));
  }
  return gids;
}

TEST(TiledConvert, EveryFlipOfEveryTilesetKindDrawsAsTiledDrawsIt) {
  const std::vector<uint32_t> gids = AllFlips();
  for (bool json : {false, true}) {
    Files files = TilesetFiles();
    const int h = int(gids.size()) / 8;
    files["maps/level.tmx"] = ToBytes(Tmx(8, h, " <layer id=\"1\" name=\"flips\" width=\"8\" height=\"" +
                                                    std::to_string(h) + "\">" + TmxData(gids, "csv", "") + "</layer>\n"));
    files["maps/level.tmj"] = ToBytes(Tmj(8, h, "{\"type\": \"tilelayer\", \"name\": \"flips\", \"width\": 8, "
                                                "\"height\": " + std::to_string(h) + ", " + TmjData(gids, "csv", "") + "}"));
    Output out = Convert(files, json ? "maps/level.tmj" : "maps/level.tmx");
    ExpectSamePicture(out, "level.flips.map", gids, 8);
    // Plain and transposed variants of each of the 12 tiles, and tile 0.
    RgbaImage atlas;
    const Bytes* png = out.Find("level.png");
    ASSERT_TRUE(png && DecodePngRgba(&atlas, png->data(), png->size()));
    EXPECT_EQ(atlas.width, 5u * kTile);  // 25 tiles, five to a row
    EXPECT_EQ(atlas.height, 5u * kTile);
    for (int y = 0; y < kTile; ++y) {
      for (int x = 0; x < kTile; ++x) EXPECT_EQ(atlas.pixels[(y * atlas.width + x) * 4 + 3], 0) << "tile 0 is empty";
    }
    EXPECT_TRUE(out.result.warnings.empty()) << out.result.warnings[0];
  }
}

TEST(TiledConvert, EveryDataEncodingGivesTheSameFiles) {
  std::vector<uint32_t> gids = {1, 0, 2 | kH, 3 | kD | kV, 0, 7, 8 | kH | kV | kD, 11, 14 | kD, 0, 0, 4, 5, 6, 9, 10,
                                0, 0, 0, 1 | kD, 2, 3, 0, 7};
  Files files = TilesetFiles();
  files["maps/level.tmx"] = ToBytes(Tmx(6, 4, " <layer id=\"1\" name=\"ground\" width=\"6\" height=\"4\">" +
                                                  TmxData(gids, "csv", "") + "</layer>\n"));
  Output reference = Convert(files, "maps/level.tmx");
  ExpectSamePicture(reference, "level.ground.map", gids, 6);
  struct Encoding {
    bool json;
    const char* encoding;
    const char* compression;
  };
  const Encoding encodings[] = {{false, "xml", ""},      {false, "base64", ""},    {false, "base64", "zlib"},
                                {false, "base64", "gzip"}, {false, "base64", "zstd"}, {true, "csv", ""},
                                {true, "base64", ""},      {true, "base64", "zlib"},  {true, "base64", "gzip"},
                                {true, "base64", "zstd"}};
  for (const Encoding& e : encodings) {
    SCOPED_TRACE(std::string(e.json ? "tmj " : "tmx ") + e.encoding + " " + e.compression);
    Files variant = TilesetFiles();
    std::string path = e.json ? "maps/level.tmj" : "maps/level.tmx";
    variant[path] = ToBytes(e.json ? Tmj(6, 4, "{\"type\": \"tilelayer\", \"name\": \"ground\", \"width\": 6, "
                                               "\"height\": 4, " + TmjData(gids, e.encoding, e.compression) + "}")
                                   : Tmx(6, 4, " <layer id=\"1\" name=\"ground\" width=\"6\" height=\"4\">" +
                                                   TmxData(gids, e.encoding, e.compression) + "</layer>\n"));
    Output out = Convert(variant, path);
    ASSERT_TRUE(out.ok) << out.result.error;
    ASSERT_EQ(out.result.files.size(), reference.result.files.size());
    for (size_t i = 0; i < out.result.files.size(); ++i) {
      EXPECT_EQ(out.result.files[i].name, reference.result.files[i].name);
      EXPECT_TRUE(out.result.files[i].bytes == reference.result.files[i].bytes) << out.result.files[i].name;
    }
  }
}

// Infinite maps: chunks anywhere, the converted map cut to the tiles' extent.
TEST(TiledConvert, InfiniteMapsAreCutToTheirTilesAndKeepObjectsInPlace) {
  // Two chunks of 4x4, at (-4, -4) and (4, 0); tiles at (-3, -2) and (5, 1).
  std::vector<uint32_t> a(16, 0), b(16, 0);
  a[2 * 4 + 1] = 1 | kD;
  b[1 * 4 + 1] = 9 | kH;
  for (bool json : {false, true}) {
    Files files = TilesetFiles();
    std::string path = json ? "maps/level.tmj" : "maps/level.tmx";
    if (json) {
      std::string map = Tmj(0, 0, "{\"type\": \"tilelayer\", \"name\": \"inf\", \"startx\": -4, \"starty\": -4, "
                                  "\"encoding\": \"base64\", \"compression\": \"zstd\", \"chunks\": ["
                                  "{\"x\": -4, \"y\": -4, \"width\": 4, \"height\": 4, \"data\": \"" +
                                      Base64(Compress(LittleEndian(a), "zstd")) +
                                      "\"}, {\"x\": 4, \"y\": 0, \"width\": 4, \"height\": 4, \"data\": \"" +
                                      Base64(Compress(LittleEndian(b), "zstd")) + "\"}]},"
                                  "{\"type\": \"objectgroup\", \"name\": \"o\", \"objects\": "
                                  "[{\"id\": 3, \"x\": -12, \"y\": -8, \"width\": 4, \"height\": 4}]}");
      map.replace(map.find("\"infinite\": false"), 17, "\"infinite\": true");
      files[path] = ToBytes(map);
    } else {
      std::string map = Tmx(16, 16, " <layer id=\"1\" name=\"inf\" width=\"16\" height=\"16\"><data encoding=\"csv\">"
                                    "<chunk x=\"-4\" y=\"-4\" width=\"4\" height=\"4\">" + Csv(a) + "</chunk>"
                                    "<chunk x=\"4\" y=\"0\" width=\"4\" height=\"4\">" + Csv(b) + "</chunk>"
                                    "</data></layer>\n <objectgroup name=\"o\"><object id=\"3\" x=\"-12\" y=\"-8\" "
                                    "width=\"4\" height=\"4\"/></objectgroup>\n");
      map.replace(map.find("infinite=\"0\""), 12, "infinite=\"1\"");
      files[path] = ToBytes(map);
    }
    Output out = Convert(files, path);
    ASSERT_TRUE(out.ok) << out.result.error;
    // Tiled's cells from (-4, -4) to (7, 3) as one grid, origin at (-3, -2).
    std::vector<uint32_t> whole(12 * 8, 0);
    for (int i = 0; i < 16; ++i) {
      whole[size_t((i / 4) * 12 + i % 4)] = a[size_t(i)];
      whole[size_t((4 + i / 4) * 12 + 8 + i % 4)] = b[size_t(i)];
    }
    ExpectSamePicture(out, "level.inf.map", whole, 12, 1, 2);
    MapFile m = ReadMapFile(*out.Find("level.inf.map"));
    EXPECT_EQ(m.width, 9);
    EXPECT_EQ(m.height, 4);
    std::string lua(out.Find("level.lua")->begin(), out.Find("level.lua")->end());
    EXPECT_NE(lua.find("originX = -3, originY = -2,"), std::string::npos) << lua;
    EXPECT_NE(lua.find("x = 0, y = 0, width = 4"), std::string::npos) << "object at Tiled's (-12, -8)\n" << lua;
  }
}

// Runs the description in Lua and evaluates `expression` against it (as M).
std::string LuaValue(const Bytes& chunk, const std::string& expression) {
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  std::string result;
  if (luaL_loadbuffer(L, reinterpret_cast<const char*>(chunk.data()), chunk.size(), "description") != 0 ||
      lua_pcall(L, 0, 1, 0) != 0) {
    result = std::string("error: ") + lua_tostring(L, -1);
  } else {
    lua_setglobal(L, "M");
    std::string code = "return tostring(" + expression + ")";
    if (luaL_loadstring(L, code.c_str()) != 0 || lua_pcall(L, 0, 1, 0) != 0) {
      result = std::string("error: ") + lua_tostring(L, -1);
    } else {
      result = lua_tostring(L, -1);
    }
  }
  lua_close(L);
  return result;
}

TEST(TiledConvert, TheDescriptionLoadsInLuaAndHoldsTheMap) {
  Files files = TilesetFiles();
  std::vector<uint32_t> gids = {1, 2, 3, 4};
  std::string layer = TmxData(gids, "csv", "");
  files["maps/level.tmx"] = ToBytes(Tmx(2, 2, R"(
 <properties>
  <property name="title" value="Caves &quot;1&quot;"/>
  <property name="gravity" type="float" value="9.5"/>
  <property name="lives" type="int" value="3"/>
  <property name="dark" type="bool" value="true"/>
  <property name="sky" type="color" value="#ff336699"/>
  <property name="music" type="file" value="song.trk"/>
  <property name="boss" type="object" value="7"/>
  <property name="spawn" type="class" propertytype="Point"><properties><property name="x" type="int" value="4"/></properties></property>
  <property name="notes">line one
line two</property>
 </properties>
 <layer id="1" name="Ground" width="2" height="2">)" + layer + R"(</layer>
 <group id="2" name="decor" offsetx="3" offsety="-2" opacity="0.5" tintcolor="#80ff0000">
  <properties><property name="unused" value="x"/></properties>
  <layer id="3" name="Ground" width="2" height="2" offsetx="1" opacity="0.5"><properties><property name="solid" type="bool" value="false"/></properties>)" +
                                            layer + R"(</layer>
  <group id="4" name="inner" visible="0"><layer id="5" name="Très beau!" width="2" height="2">)" + layer + R"(</layer></group>
 </group>
 <imagelayer id="6" name="sky"><image source="sky.png"/></imagelayer>
 <objectgroup id="7" name="things" offsetx="2">
  <object id="7" name="boss" type="enemy" x="8.5" y="4" width="16" height="12" rotation="45"><properties><property name="hp" type="int" value="30"/></properties></object>
  <object id="8" name="path" x="1" y="2"><polyline points="0,0 8,4 -2,6.5"/></object>
  <object id="9" name="door" gid="2147483650" x="4" y="8" width="4" height="4"/>
  <object id="10" name="tree" gid="16" x="0" y="8" width="8" height="8"/>
  <object id="11" x="0" y="0" width="40" height="10"><text wrap="1">Hello</text></object>
  <object id="12" x="1" y="1"><ellipse/></object>
  <object id="13" template="things/chest.tx" x="12" y="16"><properties><property name="gold" type="int" value="9"/></properties></object>
 </objectgroup>
)", " class=\"cave\""));
  // The same map saved as JSON.
  files["maps/level.tmj"] = ToBytes(R"({"type": "map", "orientation": "orthogonal", "width": 2, "height": 2,
 "tilewidth": 4, "tileheight": 4, "infinite": false, "class": "cave",
 "properties": [{"name": "title", "type": "string", "value": "Caves \"1\""},
  {"name": "gravity", "type": "float", "value": 9.5}, {"name": "lives", "type": "int", "value": 3},
  {"name": "dark", "type": "bool", "value": true}, {"name": "sky", "type": "color", "value": "#ff336699"},
  {"name": "music", "type": "file", "value": "song.trk"}, {"name": "boss", "type": "object", "value": 7},
  {"name": "spawn", "type": "class", "propertytype": "Point", "value": {"x": 4}},
  {"name": "notes", "type": "string", "value": "line one\nline two"}],
 "tilesets": )" + TilesetsJson() + R"(,
 "layers": [
  {"type": "tilelayer", "name": "Ground", "width": 2, "height": 2, "data": [1, 2, 3, 4]},
  {"type": "group", "name": "decor", "offsetx": 3, "offsety": -2, "opacity": 0.5, "tintcolor": "#80ff0000",
   "properties": [{"name": "unused", "type": "string", "value": "x"}], "layers": [
   {"type": "tilelayer", "name": "Ground", "width": 2, "height": 2, "offsetx": 1, "opacity": 0.5,
    "properties": [{"name": "solid", "type": "bool", "value": false}], "data": [1, 2, 3, 4]},
   {"type": "group", "name": "inner", "visible": false, "layers": [
    {"type": "tilelayer", "name": "Très beau!", "width": 2, "height": 2, "data": [1, 2, 3, 4]}]}]},
  {"type": "imagelayer", "name": "sky", "image": "sky.png"},
  {"type": "objectgroup", "name": "things", "offsetx": 2, "objects": [
   {"id": 7, "name": "boss", "type": "enemy", "x": 8.5, "y": 4, "width": 16, "height": 12, "rotation": 45,
    "properties": [{"name": "hp", "type": "int", "value": 30}]},
   {"id": 8, "name": "path", "x": 1, "y": 2, "polyline": [{"x": 0, "y": 0}, {"x": 8, "y": 4}, {"x": -2, "y": 6.5}]},
   {"id": 9, "name": "door", "gid": 2147483650, "x": 4, "y": 8, "width": 4, "height": 4},
   {"id": 10, "name": "tree", "gid": 16, "x": 0, "y": 8, "width": 8, "height": 8},
   {"id": 11, "x": 0, "y": 0, "width": 40, "height": 10, "text": {"text": "Hello", "wrap": true}},
   {"id": 12, "x": 1, "y": 1, "ellipse": true},
   {"id": 13, "template": "things/chest.tj", "x": 12, "y": 16, "properties": [{"name": "gold", "type": "int", "value": 9}]}]}]})");
  // An object template in both forms: its tile counts in its own numbering
  // of tileset B (tile 1 there is gid 8 in the maps).
  files["maps/things/chest.tx"] = ToBytes(R"(<?xml version="1.0" encoding="UTF-8"?>
<template>
 <tileset firstgid="1" source="../sets/b.tsx"/>
 <object name="chest" type="pickup" gid="2" width="4" height="4">
  <properties><property name="gold" type="int" value="5"/><property name="locked" type="bool" value="true"/></properties>
 </object>
</template>
)");
  files["maps/things/chest.tj"] = ToBytes(R"({"type": "template", "tileset": {"firstgid": 1, "source": "../sets/b.tsx"},
 "object": {"name": "chest", "type": "pickup", "gid": 2, "width": 4, "height": 4,
  "properties": [{"name": "gold", "type": "int", "value": 5}, {"name": "locked", "type": "bool", "value": true}]}})");
  Output out = Convert(files, "maps/level.tmx", "level", "maps/");
  ASSERT_TRUE(out.ok) << out.result.error;
  const Bytes& d = *out.Find("level.lua");
  Output json = Convert(files, "maps/level.tmj", "level", "maps/");
  ASSERT_TRUE(json.ok) << json.result.error;
  EXPECT_EQ(std::string(json.Find("level.lua")->begin(), json.Find("level.lua")->end()), std::string(d.begin(), d.end()));
  EXPECT_EQ(json.result.warnings, out.result.warnings);
  struct Check {
    const char* expression;
    const char* value;
  };
  const Check checks[] = {
      {"M.width .. 'x' .. M.height .. ' ' .. M.tileWidth .. 'x' .. M.tileHeight", "2x2 4x4"},
      {"M.tileset", "maps/level.png"},
      {"M.tileCount", "7"},  // the empty tile, four map tiles, gid 6 (a frame of gid 1) and the chest; the door reuses one
      {"#M.animations[1] .. ' ' .. M.animations[1][1].tile .. ' ' .. M.animations[1][2].tile .. ' ' .. "
       "M.animations[1][2].duration .. ' ' .. tostring(M.animations[2])",
       "2 1 5 250 nil"},
      {"M.class", "cave"},
      {"M.properties.title", "Caves \"1\""},
      {"M.properties.gravity + M.properties.lives", "12.5"},
      {"M.properties.dark", "true"},
      {"M.properties.sky .. M.properties.music .. M.properties.boss", "#ff336699song.trk7"},
      {"M.properties.spawn.x", "4"},
      {"M.properties.notes", "line one\nline two"},
      {"#M.layers", "3"},
      {"M.layers[1].entry .. ' ' .. M.layers[2].entry .. ' ' .. M.layers[3].entry",
       "maps/level.Ground.map maps/level.Ground_2.map maps/level.Tr_s_beau_.map"},
      {"M.layers[2].name .. M.layers[2].offsetX .. ',' .. M.layers[2].offsetY .. ',' .. M.layers[2].opacity",
       "Ground4,-2,0.25"},
      {"table.concat(M.layers[2].tint, ',')", "32,0,0,32"},  // red at a quarter times the tint's half
      {"tostring(M.layers[2].properties.solid) .. tostring(M.layers[2].properties.unused)", "falsenil"},
      {"tostring(M.layers[1].visible) .. tostring(M.layers[3].visible)", "truefalse"},
      {"M.layers[1].order .. M.layers[2].order .. M.layers[3].order .. M.objectLayers[1].order", "1234"},
      {"#M.objectLayers .. ' ' .. #M.objectLayers[1].objects .. ' ' .. M.objectLayers[1].offsetX", "1 7 2"},
      {"M.objectLayers[1].objects[7].name .. M.objectLayers[1].objects[7].type .. M.objectLayers[1].objects[7].id",
       "chestpickup13"},
      {"M.objectLayers[1].objects[7].x .. ',' .. M.objectLayers[1].objects[7].y .. ',' .. "
       "M.objectLayers[1].objects[7].width .. ',' .. M.objectLayers[1].objects[7].tile", "12,16,4,6"},
      {"M.objectLayers[1].objects[7].properties.gold .. tostring(M.objectLayers[1].objects[7].properties.locked)",
       "9true"},
      {"M.objectLayers[1].objects[1].name .. M.objectLayers[1].objects[1].type .. M.objectLayers[1].objects[1].id",
       "bossenemy7"},
      {"M.objectLayers[1].objects[1].x + M.objectLayers[1].objects[1].rotation", "53.5"},
      {"M.objectLayers[1].objects[1].properties.hp", "30"},
      {"M.objectLayers[1].objects[2].shape .. #M.objectLayers[1].objects[2].points", "polyline3"},
      {"M.objectLayers[1].objects[2].points[3].x + M.objectLayers[1].objects[2].points[3].y", "4.5"},
      // gid 2 mirrored left-right: tile 2 of the image with bit 15 set
      {"M.objectLayers[1].objects[3].shape .. M.objectLayers[1].objects[3].tile", "tile" "32770"},
      {"tostring(M.objectLayers[1].objects[4].tile)", "nil"},  // an 8x8 tile
      {"M.objectLayers[1].objects[5].shape .. M.objectLayers[1].objects[5].text", "textHello"},
      {"M.objectLayers[1].objects[6].shape", "ellipse"},
  };
  for (const Check& c : checks) EXPECT_EQ(LuaValue(d, c.expression), c.value) << c.expression;
  std::string warnings;
  for (const std::string& w : out.result.warnings) warnings += w + "\n";
  EXPECT_NE(warnings.find("layer \"sky\": image layers are skipped"), std::string::npos) << warnings;
  EXPECT_NE(warnings.find("object 10: its tile is 8x8 pixels"), std::string::npos) << warnings;
  EXPECT_NE(warnings.find("object 11: a text object"), std::string::npos) << warnings;
  EXPECT_EQ(out.result.warnings.size(), 3u) << warnings;
  // Entry names inside, file names outside: the output folder has no prefix.
  EXPECT_TRUE(out.Find("level.Ground_2.map") && out.Find("level.png"));
}

TEST(TiledConvert, RefusesWhatPlayfieldsCannotDraw) {
  struct Case {
    std::string map, error;
  };
  const std::string layer2x1 = " <layer id=\"1\" name=\"l\" width=\"2\" height=\"1\"><data encoding=\"csv\">";
  std::vector<Case> cases = {
      {Replace(Tmx(2, 1, layer2x1 + "1,2</data></layer>\n"), "orthogonal", "isometric"), "the map is isometric"},
      {Tmx(2, 1, layer2x1 + "1,16</data></layer>\n"), "cell (1, 0): tile 16 is 8x8 pixels, but the map's tiles are 4x4"},
      {Tmx(2, 1, layer2x1 + "1,99</data></layer>\n"), "tile 99 is not in tileset \"C\""},
      {Tmx(2, 1, layer2x1 + "1,2,3</data></layer>\n"), "more than 2 cells"},
      {Tmx(2, 1, layer2x1 + "1</data></layer>\n"), "1 cells, not 2"},
      {Tmx(2, 1, layer2x1 + "1,x</data></layer>\n"), "CSV holds something other than tile numbers"},
      {Tmx(2, 1, " <layer name=\"l\" width=\"2\" height=\"1\"><data encoding=\"base64\" compression=\"zlib\">AAAA</data></layer>\n"),
       "zlib stream is damaged"},
      {Tmx(2, 1, " <layer name=\"l\" width=\"2\" height=\"1\"><data encoding=\"base64\">AQAAAAIAAA*</data></layer>\n"),
       "not valid base64"},
      {Tmx(2, 1, " <layer name=\"l\" width=\"2\" height=\"1\"><data encoding=\"base64\" compression=\"lzma\">AAAA</data></layer>\n"),
       "unknown compression"},
      {Replace(Tmx(2, 1, layer2x1 + "1,2</data></layer>\n"), "</map>", ""), "not well-formed XML"},
  };
  // Non-square tiles turned by Tiled cannot be drawn in their cells.
  std::string wide = "<map orientation=\"orthogonal\" width=\"1\" height=\"1\" tilewidth=\"8\" tileheight=\"4\">"
                     "<tileset firstgid=\"1\" name=\"w\" tilewidth=\"8\" tileheight=\"4\"><image source=\"c3.png\"/></tileset>"
                     "<layer name=\"l\" width=\"1\" height=\"1\"><data encoding=\"csv\">536870913</data></layer></map>";
  cases.push_back({wide, "needs square tiles"});
  // 16,384 variants: tile 0 and these fill the tile numbers.
  std::string many = "<map orientation=\"orthogonal\" width=\"128\" height=\"128\" tilewidth=\"1\" tileheight=\"1\">"
                     "<tileset firstgid=\"1\" name=\"big\" tilewidth=\"1\" tileheight=\"1\"><image source=\"big.png\"/></tileset>"
                     "<layer name=\"l\" width=\"128\" height=\"128\"><data encoding=\"csv\">";
  for (int i = 0; i < 128 * 128; ++i) many += (i ? "," : "") + std::to_string(i + 1);
  cases.push_back({many + "</data></layer></map>", "16384 tile variants"});
  cases.push_back({"{\"type\": \"map\", \"orientation\": \"orthogonal\", \"width\": \"2\", \"tilewidth\": 4, \"tileheight\": 4}",
                   "\"width\" is not a number"});
  cases.push_back({Replace(Tmx(1, 1, ""), "sets/b.tsx", "sets/x.tsx"), "maps/sets/x.tsx: cannot read the tileset"});
  for (const Case& c : cases) {
    Files files = TilesetFiles();
    files["maps/big.png"] = Png(MakeImage(128, 128, 6));
    files["maps/level.tmx"] = ToBytes(c.map);
    Output out = Convert(files, "maps/level.tmx");
    EXPECT_FALSE(out.ok) << c.error;
    EXPECT_TRUE(out.result.files.empty());
    EXPECT_NE(out.result.error.find(c.error), std::string::npos) << "wanted: " << c.error << "\ngot: " << out.result.error;
  }
  // A tileset image that is not a PNG, once a layer uses it.
  Files files = TilesetFiles();
  files["maps/a.png"] = ToBytes("BM not a png");
  files["maps/level.tmx"] = ToBytes(Tmx(1, 1, " <layer name=\"l\" width=\"1\" height=\"1\"><data encoding=\"csv\">7</data></layer>\n"));
  EXPECT_TRUE(Convert(files, "maps/level.tmx").ok) << "tileset A is not used";
  files["maps/level.tmx"] = ToBytes(Tmx(1, 1, " <layer name=\"l\" width=\"1\" height=\"1\"><data encoding=\"csv\">1</data></layer>\n"));
  Output out = Convert(files, "maps/level.tmx");
  EXPECT_FALSE(out.ok);
  EXPECT_EQ(out.result.error, "maps/a.png: not a readable PNG image (tileset images must be PNG)");
}

// Truncated and corrupted maps and layer streams are refused or converted,
// never read out of bounds (the sanitizer build runs this too).
TEST(TiledConvert, HostileFilesAreRefusedCleanly) {
  std::vector<uint32_t> gids = AllFlips();
  const int h = int(gids.size()) / 8;
  std::vector<std::pair<std::string, std::string>> maps;
  for (const char* compression : {"", "zlib", "gzip", "zstd"}) {
    maps.emplace_back("maps/level.tmx", Tmx(8, h, " <layer name=\"l\" width=\"8\" height=\"" + std::to_string(h) +
                                                      "\">" + TmxData(gids, "base64", compression) + "</layer>\n"));
    maps.emplace_back("maps/level.tmj", Tmj(8, h, "{\"type\": \"tilelayer\", \"name\": \"l\", \"width\": 8, "
                                                  "\"height\": " + std::to_string(h) + ", " +
                                                      TmjData(gids, "base64", compression) + "}"));
  }
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
  int refused = 0;
  for (const auto& m : maps) {
    Files files = TilesetFiles();
    const std::string& text = m.second;
    // Every truncation ends the document early: all are refused.
    for (size_t cut = 0; cut < text.size() - 2; cut += 1 + text.size() / 300) {
      files[m.first] = ToBytes(text.substr(0, cut));
      Output out = Convert(files, m.first);
      EXPECT_FALSE(out.ok) << m.first << " cut at " << cut;
    }
    // Corrupted bytes, mostly inside the layer data.
    size_t data = text.find(m.first.back() == 'x' ? "base64\"" : "\"data\"");
    for (int i = 0; i < 150; ++i) {
      std::string bad = text;
      for (int k = 0; k < 1 + int(next() % 3); ++k) {
        size_t at = i % 3 ? data + next() % (bad.size() - data) : next() % bad.size();
        bad[at] = char(next());
      }
      files[m.first] = ToBytes(bad);
      Output out = Convert(files, m.first);
      if (!out.ok) {
        ++refused;
        EXPECT_FALSE(out.result.error.empty());
        EXPECT_TRUE(out.result.files.empty());
        continue;
      }
      // What converts despite the damage is still whole: every map file
      // as long as its header says, every cell naming a tile of the image.
      RgbaImage atlas;
      ASSERT_TRUE(DecodePngRgba(&atlas, out.Find("level.png")->data(), out.Find("level.png")->size()));
      const size_t tiles = size_t(atlas.width / kTile) * (atlas.height / kTile);
      for (const ConvertedFile& f : out.result.files) {
        if (f.name.size() < 4 || f.name.compare(f.name.size() - 4, 4, ".map") != 0) continue;
        MapFile map = ReadMapFile(f.bytes);
        for (uint16_t cell : map.cells) EXPECT_LT(size_t(cell & 0x3fff), tiles) << f.name;
      }
    }
  }
  EXPECT_GT(refused, 0);
  // A damaged tileset image and a damaged external tileset.
  Files files = TilesetFiles();
  files["maps/level.tmx"] = ToBytes(Tmx(8, h, " <layer name=\"l\" width=\"8\" height=\"" + std::to_string(h) + "\">" +
                                                  TmxData(gids, "csv", "") + "</layer>\n"));
  for (const char* victim : {"maps/sets/b.png", "maps/sets/b.tsx", "maps/c3.png"}) {
    Bytes original = files[victim];
    for (size_t cut = 0; cut < original.size(); cut += 1 + original.size() / 40) {
      files[victim] = Bytes(original.begin(), original.begin() + long(cut));
      EXPECT_FALSE(Convert(files, "maps/level.tmx").ok) << victim << " cut at " << cut;
    }
    files[victim] = original;
  }
}

}  // namespace
