// Targets of pelto-tool's converters and bundler. Whatever a converter
// accepts must be something the engine then loads: a converted module
// loads as music, every converted map entry and image decodes, and a
// bundle translates to the engine's form, passes Lua's loader and runs.
#include <lua.hpp>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/mixer.h"
#include "audio/tracker.h"
#include "host/chunk_loaders.h"
#include "host/chunk_translate.h"
#include "tests/fuzz/fuzz_targets.h"
#include "tools/convert/tiled_convert.h"
#include "tools/convert/tracker_convert.h"
#include "tools/lua_bundle.h"
#include "video/png.h"
#include "video/tilemap.h"

namespace {

// ---- music ----

int ConvertMusic(bool (*convert)(const uint8_t*, size_t, TrackerConversion*), const uint8_t* data, size_t size) {
  FuzzMixerReady();
  TrackerConversion out;
  if (!convert(data, size, &out)) {
    FuzzCheck(!out.error.empty(), "a refused module says why");
    return 0;
  }
  FuzzCheck(out.error.empty(), "a converted module has no error");
  FuzzCheck(LoadCurrentMusic(out.trk.data(), out.trk.size()), "the engine loads every converted module");
  PlayCurrentMusic();
  SetTickHook(nullptr);
  int16_t frames[2 * 4];
  for (int i = 0; i < 200; ++i) {
    MusicTick();
    MixAudio(frames, 4);
  }
  DeleteCurrentMusic();
  return 0;
}

// ---- Tiled maps ----

// The image every tileset refers to: 64 x 64 pixels, so tiles of 1, 2, 4,
// 8, 16, 32 and 64 pixels fit it whole.
const std::vector<uint8_t>& TilesetPng() {
  static std::vector<uint8_t> png;
  if (png.empty()) {
    RgbaImage image;
    image.width = image.height = 64;
    for (uint32_t i = 0; i < 64 * 64; ++i) {
      image.pixels.insert(image.pixels.end(), {uint8_t(i), uint8_t(i >> 6), uint8_t(i * 7), uint8_t(i % 3 ? 255 : 0)});
    }
    EncodePngRgba(image, &png);
  }
  return png;
}

bool EndsWith(const std::string& s, const char* tail) {
  size_t n = std::strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// The input is the map, optionally followed by a NUL byte and the text of
// any external tileset it names; images are the fixed PNG above.
int ConvertMap(const char* mapPath, const uint8_t* data, size_t size) {
  const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(data, 0, size));
  const size_t mapSize = nul ? size_t(nul - data) : size;
  std::vector<uint8_t> map(data, data + mapSize);
  std::vector<uint8_t> tileset;
  if (nul) tileset.assign(nul + 1, data + size);

  ReadFileFn readFile = [&](const std::string& path, std::vector<uint8_t>* bytes) {
    if (path == mapPath) {
      *bytes = map;
    } else if (EndsWith(path, ".png")) {
      *bytes = TilesetPng();
    } else if (nul && (EndsWith(path, ".tsx") || EndsWith(path, ".tsj") || EndsWith(path, ".json"))) {
      *bytes = tileset;
    } else {
      return false;
    }
    return true;
  };
  MapConversion out;
  if (!ConvertTiledMap(mapPath, "level", "maps/", readFile, &out)) {
    FuzzCheck(!out.error.empty() && out.files.empty(), "a refused map says why and writes nothing");
    return 0;
  }
  for (const ConvertedFile& file : out.files) {
    if (EndsWith(file.name, ".map")) {
      MapStatus status;
      int slot = MapLoad(file.bytes.data(), file.bytes.size(), &status);
      FuzzCheck(slot >= 0, "the engine loads every converted map layer");
      MapDelete(slot);
    } else if (EndsWith(file.name, ".png")) {
      DecodedImage image = {0, 0, nullptr};
      FuzzCheck(DecodePng(&image, file.bytes.data(), file.bytes.size()), "the engine decodes every converted tileset");
      FreeDecodedImage(&image);
    } else if (EndsWith(file.name, ".lua")) {
      std::vector<uint8_t> dump;
      std::string message;
      FuzzCheck(CompileLuaModule(std::string(file.bytes.begin(), file.bytes.end()), "@maps/level.lua", &dump, &message),
                "a map's description compiles");
    }
  }
  return 0;
}

bool StartsLikeJson(const uint8_t* data, size_t size) {
  size_t i = 0;
  while (i < size && (data[i] == ' ' || data[i] == '\t' || data[i] == '\r' || data[i] == '\n')) ++i;
  return i < size && data[i] == '{';
}

// ---- the bundler ----

// Lua's allocator with a ceiling, so a script cannot take the fuzzer's memory.
struct Budget {
  size_t used = 0;
};
constexpr size_t kLuaMemory = 32u << 20;

void* LimitedAlloc(void* ud, void* ptr, size_t oldSize, size_t newSize) {
  Budget* budget = static_cast<Budget*>(ud);
  if (newSize == 0) {
    std::free(ptr);
    budget->used -= oldSize;
    return nullptr;
  }
  if (newSize > oldSize && budget->used + (newSize - oldSize) > kLuaMemory) return nullptr;
  void* grown = std::realloc(ptr, newSize);
  if (grown) budget->used = budget->used - oldSize + newSize;
  return grown;
}

// Ends a script that runs too long: a count hook that raises an error.
void StopRunaway(lua_State* L, lua_Debug*) { luaL_error(L, "instruction budget spent"); }

}  // namespace

int FuzzXm(const uint8_t* data, size_t size) { return ConvertMusic(ConvertXmToTrk, data, size); }
int FuzzMod(const uint8_t* data, size_t size) { return ConvertMusic(ConvertModToTrk, data, size); }

int FuzzTmx(const uint8_t* data, size_t size) {
  if (StartsLikeJson(data, size)) return 0;  // the JSON target's
  return ConvertMap("maps/level.tmx", data, size);
}

int FuzzTmj(const uint8_t* data, size_t size) {
  if (!StartsLikeJson(data, size)) return 0;  // the XML target's
  return ConvertMap("maps/level.tmj", data, size);
}

// The input is Lua source: the modules boot, m1, m2, ... separated by NUL
// bytes. They are compiled, their requires found, bundled as `pelto-tool
// build` bundles them, translated, loaded as the engine loads boot.prg and
// run with a budget of instructions and memory.
int FuzzBundle(const uint8_t* data, size_t size) {
  std::vector<BundleModule> modules;
  size_t start = 0;
  while (start <= size && modules.size() < 8) {
    const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(data + start, 0, size - start));
    size_t end = nul ? size_t(nul - data) : size;
    std::string name = modules.empty() ? "boot" : "m" + std::to_string(modules.size());
    std::string source(reinterpret_cast<const char*>(data + start), end - start);
    BundleModule module;
    module.name = name;
    std::string message;
    if (!CompileLuaModule(source, "@" + name + ".lua", &module.dump, &message)) {
      FuzzCheck(!message.empty(), "a syntax error has a message");
      return 0;
    }
    std::vector<RequireSite> sites;
    FuzzCheck(FindRequires(module.dump, &sites), "the requires of a compiled module are found");
    modules.push_back(std::move(module));
    if (!nul) break;
    start = end + 1;
  }
  std::vector<uint8_t> bundle;
  std::string problem;
  if (!BundleModules(modules, "boot", &bundle, &problem)) return 0;
  std::vector<uint8_t> chunk;
  FuzzCheck(TranslateStandardChunk(bundle.data(), bundle.size(), &chunk) == ChunkError::None,
            "a bundle translates to the engine's form");

  Budget budget;
  lua_State* L = lua_newstate(LimitedAlloc, &budget);
  if (!L) return 0;
  // The engine's libraries: base, table, string and math, and its loaders.
  const lua_CFunction libraries[] = {luaopen_base, luaopen_table, luaopen_string, luaopen_math};
  for (lua_CFunction open : libraries) {
    lua_pushcfunction(L, open);
    lua_call(L, 0, 0);
  }
  InstallChunkLoaders(L);
  int status = LoadEngineChunk(L, reinterpret_cast<const char*>(chunk.data()), chunk.size(), "=boot.prg");
  FuzzCheck(status == 0 || status == LUA_ERRMEM, "Lua's loader accepts a bundle");
  if (status == 0) {
    lua_sethook(L, StopRunaway, LUA_MASKCOUNT, 50000);
    lua_pcall(L, 0, 0, 0);
  }
  lua_close(L);
  return 0;
}
