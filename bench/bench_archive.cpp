// bench_archive: the archive subsystem against zlib on a game-like corpus.
//
// The corpus (about 3 MB, the same on every run: fixed seeds) imitates what
// a game ships: compiled Lua chunks, 8-bit run-length images, 32-bit images
// with alpha, 16-bit and 8-bit sound waves, 16-bit tile maps, and text.
// Printed: sizes (raw, zlib -9, pelto), unpacking speed of both (best of
// several runs over the same files), the bytes one load allocates, and the
// time to mount 8 archives of 8000 entries each.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <lua.hpp>
#include <zlib.h>

#include "archive/archive_set.h"
#include "archive/name_hash.h"
#include "archive/pack.h"
#include "archive/unpack.h"

// ---- allocation counter ----------------------------------------------------
// Every malloc of the process goes through here; while `counting` is set the
// bytes and calls are added up. (glibc's own entry points do the work; a
// sanitizer build keeps its own allocator and reports no count.)
namespace {
bool counting = false;
size_t countedBytes = 0;
size_t countedCalls = 0;
}  // namespace

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kCountingAllocations = false;
#else
constexpr bool kCountingAllocations = true;
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void __libc_free(void*);

extern "C" void* malloc(size_t size) {
  if (counting) {
    countedBytes += size;
    ++countedCalls;
  }
  return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) {
  if (counting) {
    countedBytes += count * size;
    ++countedCalls;
  }
  return __libc_calloc(count, size);
}
extern "C" void* realloc(void* p, size_t size) {
  if (counting) {
    countedBytes += size;
    ++countedCalls;
  }
  return __libc_realloc(p, size);
}
extern "C" void free(void* p) { __libc_free(p); }
#endif

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

struct CorpusFile {
  std::string name;
  Bytes data;
};

void Put16(Bytes* out, uint32_t v) {
  out->push_back(uint8_t(v));
  out->push_back(uint8_t(v >> 8));
}
void Put32(Bytes* out, uint32_t v) {
  Put16(out, v & 0xffff);
  Put16(out, v >> 16);
}

// ---- corpus ---------------------------------------------------------------

const char* kWords[] = {"the",   "a",     "player", "enemy", "castle", "door",   "key",    "sword",  "gold",
                        "river", "north", "south",  "east",  "west",   "dark",   "light",  "stone",  "is",
                        "was",   "you",   "see",    "open",  "closed", "and",    "of",     "to",     "in",
                        "with",  "old",   "small",  "great", "hidden", "bridge", "forest", "tower",  "wizard",
                        "says",  "takes", "gives",  "finds", "nothing", "here",  "there",  "before", "after"};

std::string Identifier(std::mt19937& rng) {
  static const char* parts[] = {"player", "enemy", "tile", "map", "sound", "x", "y", "speed", "frame", "state",
                                "score",  "level", "timer", "anim", "shot",  "hp", "count", "dir", "target", "cam"};
  return std::string(parts[rng() % 20]) + (rng() % 2 ? "" : std::string("_") + parts[rng() % 20]);
}

// Lua source of a game-like module: tables of data, functions with loops,
// conditions, calls into the engine and string constants.
std::string LuaSource(std::mt19937& rng, int functions) {
  std::string s = "local M = {}\nlocal data = {";
  for (int i = 0; i < 20 + int(rng() % 60); ++i) s += std::to_string(rng() % 300) + ", ";
  s += "}\nlocal names = {";
  for (int i = 0; i < 10; ++i) s += "\"" + std::string(kWords[rng() % 45]) + "_" + std::to_string(i) + "\", ";
  s += "}\n";
  for (int f = 0; f < functions; ++f) {
    std::string a = Identifier(rng), b = Identifier(rng), c = Identifier(rng);
    s += "function M." + a + std::to_string(f) + "(" + b + ", " + c + ")\n";
    s += "  local t = " + std::to_string(rng() % 100) + "\n";
    s += "  for i = 1, " + std::to_string(1 + rng() % 32) + " do\n";
    s += "    if " + b + " > i * " + std::to_string(rng() % 16) + " then\n";
    s += "      t = t + data[i] * " + c + " - " + std::to_string(rng() % 1000) + "\n";
    s += "      Sprite(" + std::to_string(rng() % 8) + ", t % 320, i * 16, " + std::to_string(rng() % 64) + ")\n";
    s += "    elseif " + c + " == \"" + kWords[rng() % 45] + "\" then\n";
    s += "      PlaySound(" + std::to_string(rng() % 48) + ", " + std::to_string(rng() % 128) + ", 1.0, 0.0)\n";
    s += "    else\n      t = t - math.floor(" + b + " / 2)\n    end\n  end\n";
    s += "  return t, names[" + std::to_string(1 + rng() % 10) + "]\nend\n";
  }
  s += "return M\n";
  return s;
}

int DumpWriter(lua_State*, const void* p, size_t size, void* user) {
  Bytes* out = static_cast<Bytes*>(user);
  out->insert(out->end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + size);
  return 0;
}

Bytes CompileLua(const std::string& source, const std::string& name) {
  lua_State* state = luaL_newstate();
  Bytes chunk;
  if (luaL_loadbuffer(state, source.data(), source.size(), name.c_str()) == 0) lua_dump(state, DumpWriter, &chunk);
  else std::fprintf(stderr, "bench: %s\n", lua_tostring(state, -1));
  lua_close(state);
  return chunk;
}

// A tiled 8-bit picture: 16x16 tiles from a small set, each with detail.
Bytes TiledIndices(std::mt19937& rng, int width, int height) {
  std::vector<Bytes> tiles(12, Bytes(256));
  for (auto& tile : tiles) {
    int base = int(rng() % 200), kind = int(rng() % 3);
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 16; ++x) {
        int v = kind == 0 ? base : kind == 1 ? base + (x + y) / 4 : base + ((x / 4 + y / 4) % 2) * 8;
        if (rng() % 10 == 0) v += int(rng() % 5);
        tile[y * 16 + x] = uint8_t(v);
      }
    }
  }
  Bytes pixels(size_t(width) * height);
  for (int ty = 0; ty < height / 16; ++ty) {
    for (int tx = 0; tx < width / 16; ++tx) {
      const Bytes& tile = tiles[rng() % 3 ? (tx + ty) % 4 : rng() % 12];
      for (int y = 0; y < 16; ++y) std::memcpy(&pixels[(ty * 16 + y) * width + tx * 16], &tile[y * 16], 16);
    }
  }
  return pixels;
}

// PCX: 128-byte header, run-length encoded rows, 256-colour palette.
Bytes Pcx(std::mt19937& rng, int width, int height) {
  Bytes out(128, 0);
  out[0] = 10; out[1] = 5; out[2] = 1; out[3] = 8;
  out[8] = uint8_t(width - 1); out[9] = uint8_t((width - 1) >> 8);
  out[10] = uint8_t(height - 1); out[11] = uint8_t((height - 1) >> 8);
  out[65] = 1; out[66] = uint8_t(width); out[67] = uint8_t(width >> 8);
  Bytes pixels = TiledIndices(rng, width, height);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = &pixels[size_t(y) * width];
    for (int x = 0; x < width;) {
      int run = 1;
      while (x + run < width && run < 63 && row[x + run] == row[x]) ++run;
      if (run > 1 || row[x] >= 0xC0) out.push_back(uint8_t(0xC0 | run));
      out.push_back(row[x]);
      x += run;
    }
  }
  out.push_back(12);
  for (int i = 0; i < 256; ++i) {
    out.push_back(uint8_t(i * 3));
    out.push_back(uint8_t(255 - i));
    out.push_back(uint8_t((i * 7) & 255));
  }
  return out;
}

// TGA: 18-byte header, 32-bit BGRA sprites with transparent surroundings.
Bytes Tga(std::mt19937& rng, int width, int height) {
  Bytes out = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  Put16(&out, uint32_t(width));
  Put16(&out, uint32_t(height));
  out.push_back(32);
  out.push_back(8);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      int cx = x % 32 - 16, cy = y % 32 - 16;
      int r2 = cx * cx + cy * cy;
      int sprite = (x / 32 + (y / 32) * 3) % 5;
      if (r2 > 150 + sprite * 10) {
        Put32(&out, 0);
        continue;
      }
      int shade = 255 - r2;
      uint8_t b = uint8_t(shade * (sprite + 1) / 6), g = uint8_t(shade / (sprite + 1)), r = uint8_t(shade);
      if (rng() % 16 == 0) r = uint8_t(r ^ (rng() & 7));
      out.push_back(b);
      out.push_back(g);
      out.push_back(r);
      out.push_back(255);
    }
  }
  return out;
}

Bytes WavHeader(uint32_t dataBytes, int bits, int rate) {
  Bytes out = {'R', 'I', 'F', 'F'};
  Put32(&out, 36 + dataBytes);
  for (char c : std::string("WAVEfmt ")) out.push_back(uint8_t(c));
  Put32(&out, 16);
  Put16(&out, 1);
  Put16(&out, 1);
  Put32(&out, uint32_t(rate));
  Put32(&out, uint32_t(rate * bits / 8));
  Put16(&out, uint32_t(bits / 8));
  Put16(&out, uint32_t(bits));
  for (char c : std::string("data")) out.push_back(uint8_t(c));
  Put32(&out, dataBytes);
  return out;
}

// A decaying chord with a little noise, as sound effects are.
std::vector<double> Tone(std::mt19937& rng, int samples, int rate) {
  double f1 = 110.0 * (1 + rng() % 8), f2 = f1 * 1.5, noise = 0.002 + (rng() % 10) * 0.002;
  std::normal_distribution<double> gauss(0.0, 1.0);
  std::vector<double> wave(samples);
  for (int i = 0; i < samples; ++i) {
    double t = double(i) / rate, envelope = std::exp(-t * 1.5);
    wave[i] = envelope * (0.5 * std::sin(2 * M_PI * f1 * t) + 0.25 * std::sin(2 * M_PI * f2 * t)) + noise * gauss(rng);
  }
  return wave;
}

Bytes Pcm16(std::mt19937& rng, int samples) {
  std::vector<double> wave = Tone(rng, samples, 22050);
  Bytes out = WavHeader(uint32_t(samples * 2), 16, 22050);
  for (double v : wave) Put16(&out, uint32_t(int16_t(std::lround(std::clamp(v, -1.0, 1.0) * 32000))) & 0xffff);
  return out;
}

Bytes Pcm8(std::mt19937& rng, int samples) {
  std::vector<double> wave = Tone(rng, samples, 11025);
  Bytes out = WavHeader(uint32_t(samples), 8, 11025);
  for (double v : wave) out.push_back(uint8_t(128 + std::lround(std::clamp(v, -1.0, 1.0) * 120)));
  return out;
}

// A tile map: 16-bit width, height, then cells; regions of floor with walls
// and scattered objects.
Bytes Map(std::mt19937& rng, int width, int height) {
  Bytes out;
  Put16(&out, uint32_t(width));
  Put16(&out, uint32_t(height));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint32_t cell = (x % 24 == 0 || y % 16 == 0) ? 3 : 1 + ((x / 24 + y / 16) % 3) * 40;
      if (rng() % 30 == 0) cell = 100 + rng() % 60;
      Put16(&out, cell);
    }
  }
  return out;
}

// A large level: 1024 x 1024 cells (2 MB), rooms of one floor tile each
// walled by a grid, with objects strewn about (one cell in 40), so that rows
// rarely repeat and the floor between objects becomes runs of one 16-bit
// cell: matches with offset 2, as long as the run.
Bytes LevelMap(std::mt19937& rng) {
  const int side = 1024;
  Bytes out;
  Put16(&out, side);
  Put16(&out, side);
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      uint32_t cell = (x % 32 == 0 || y % 24 == 0) ? 7 : 1 + ((x / 32 * 5 + y / 24 * 3) % 4);
      if (rng() % 40 == 0) cell = 200 + rng() % 40;
      if (x % 32 == 16 && y % 24 == 0) cell = 0;  // doorways
      Put16(&out, cell);
    }
  }
  return out;
}

Bytes Text(std::mt19937& rng, size_t size, bool config) {
  std::string s;
  while (s.size() < size) {
    if (config) {
      s += std::string(kWords[rng() % 45]) + "_" + kWords[rng() % 45] + " = " + std::to_string(rng() % 1000) + "\n";
      continue;
    }
    int words = 4 + int(rng() % 12);
    for (int i = 0; i < words; ++i) {
      std::string w = kWords[rng() % 45];
      if (i == 0) w[0] = char(std::toupper(w[0]));
      s += w + (i + 1 < words ? " " : ". ");
    }
    if (rng() % 5 == 0) s += "\n\n";
  }
  s.resize(size);
  return Bytes(s.begin(), s.end());
}

std::vector<CorpusFile> MakeCorpus() {
  std::mt19937 rng(20240601);
  std::vector<CorpusFile> corpus;
  for (int i = 0; i < 40; ++i) {
    std::string name = "scripts/mod" + std::to_string(i) + ".prg";
    corpus.push_back({name, CompileLua(LuaSource(rng, 8 + int(rng() % 30)), name)});
  }
  for (int i = 0; i < 6; ++i) corpus.push_back({"gfx/tiles" + std::to_string(i) + ".pcx", Pcx(rng, 320, 240)});
  for (int i = 0; i < 6; ++i) corpus.push_back({"gfx/sprites" + std::to_string(i) + ".tga", Tga(rng, 192, 160)});
  for (int i = 0; i < 14; ++i) corpus.push_back({"sfx/effect" + std::to_string(i) + ".wav", Pcm16(rng, 11000 + int(rng() % 30000))});
  for (int i = 0; i < 8; ++i) corpus.push_back({"sfx/blip" + std::to_string(i) + ".wav", Pcm8(rng, 8000 + int(rng() % 20000))});
  for (int i = 0; i < 8; ++i) corpus.push_back({"maps/level" + std::to_string(i) + ".map", Map(rng, 160, 96)});
  for (int i = 0; i < 6; ++i) corpus.push_back({"text/story" + std::to_string(i) + ".txt", Text(rng, 30000, false)});
  for (int i = 0; i < 6; ++i) corpus.push_back({"text/conf" + std::to_string(i) + ".cfg", Text(rng, 9000, true)});
  return corpus;
}

// ---- measurements ---------------------------------------------------------

double Seconds(Clock::time_point from, Clock::time_point to) { return std::chrono::duration<double>(to - from).count(); }

struct KindTotals {
  size_t raw = 0, zlib = 0, zlibSmall = 0, zlibFixed = 0, pelto = 0;
};

// zlib -9 with a given window (bits) and strategy: with a 4 KB window and
// fixed codes it shows what pelto's format gives up against full deflate.
size_t DeflateSize(const Bytes& data, int windowBits, int strategy) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, windowBits, 9, strategy);
  Bytes out(deflateBound(&z, uLong(data.size())));
  z.next_in = const_cast<uint8_t*>(data.data());
  z.avail_in = uInt(data.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  deflate(&z, Z_FINISH);
  size_t size = z.total_out;
  deflateEnd(&z);
  return size;
}

std::string Kind(const std::string& name) { return name.substr(name.rfind('.') + 1); }

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

// An archive file of the given blocks with the given hashes.
std::string ArchiveFileBytes(const std::vector<std::pair<uint32_t, Bytes>>& entries) {
  Bytes file = {'[', 'V', 'X', ']', 1, 0};
  std::vector<uint32_t> offsets;
  for (const auto& entry : entries) {
    offsets.push_back(uint32_t(file.size()));
    file.insert(file.end(), entry.second.begin(), entry.second.end());
  }
  uint32_t directory = uint32_t(file.size());
  Put32(&file, uint32_t(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    Put32(&file, entries[i].first);
    Put32(&file, offsets[i]);
  }
  Put32(&file, directory);
  return std::string(file.begin(), file.end());
}

}  // namespace

int main() {
  std::vector<CorpusFile> corpus = MakeCorpus();
  const int kRuns = 9;

  // Sizes.
  std::vector<Bytes> zlibData, peltoData;
  size_t raw = 0, zlibSize = 0, peltoSize = 0;
  std::vector<std::pair<std::string, KindTotals>> kinds;
  auto packStart = Clock::now();
  for (const CorpusFile& file : corpus) peltoData.push_back(PackEntry(file.data.data(), file.data.size()));
  double packSeconds = Seconds(packStart, Clock::now());
  for (size_t i = 0; i < corpus.size(); ++i) {
    const Bytes& data = corpus[i].data;
    uLongf bound = compressBound(uLong(data.size()));
    Bytes z(bound);
    compress2(z.data(), &bound, data.data(), uLong(data.size()), 9);
    z.resize(bound);
    zlibData.push_back(z);
    raw += data.size();
    zlibSize += z.size();
    peltoSize += peltoData[i].size();
    std::string kind = Kind(corpus[i].name);
    auto it = std::find_if(kinds.begin(), kinds.end(), [&](const auto& k) { return k.first == kind; });
    if (it == kinds.end()) it = kinds.insert(kinds.end(), {kind, KindTotals{}});
    it->second.raw += data.size();
    it->second.zlib += z.size();
    it->second.zlibSmall += DeflateSize(data, 12, Z_DEFAULT_STRATEGY);
    it->second.zlibFixed += DeflateSize(data, 12, Z_FIXED);
    it->second.pelto += peltoData[i].size();
  }

  std::printf("corpus: %zu files, %zu bytes\n", corpus.size(), raw);
  std::printf("%-6s %9s %9s %9s %9s %9s %11s\n", "kind", "raw", "zlib -9", "zlib 4K", "4K fixed", "pelto",
              "pelto/zlib");
  KindTotals all;
  for (const auto& [kind, t] : kinds) {
    std::printf("%-6s %9zu %9zu %9zu %9zu %9zu %11.3f\n", kind.c_str(), t.raw, t.zlib, t.zlibSmall, t.zlibFixed,
                t.pelto, double(t.pelto) / double(t.zlib));
    all.zlibSmall += t.zlibSmall;
    all.zlibFixed += t.zlibFixed;
  }
  std::printf("%-6s %9zu %9zu %9zu %9zu %9zu %11.3f   (target <= 1.15)\n", "total", raw, zlibSize, all.zlibSmall,
              all.zlibFixed, peltoSize, double(peltoSize) / double(zlibSize));
  std::printf("(zlib 4K: -9 with a 4 KB window as pelto's; 4K fixed: also without adaptive Huffman codes)\n");
  std::printf("pack time: %.2f s for %.2f MB (optimal parse)\n", packSeconds, raw / 1e6);

  // Unpacking speed, best of several runs over all files.
  std::vector<Bytes> outputs;
  for (const CorpusFile& file : corpus) outputs.emplace_back(file.data.size());
  double bestPelto = 1e9, bestZlib = 1e9;
  bool allOk = true;
  for (int run = 0; run < kRuns; ++run) {
    auto start = Clock::now();
    for (size_t i = 0; i < corpus.size(); ++i) {
      allOk &= UnpackEntry(peltoData[i].data(), peltoData[i].size(), outputs[i].data(), outputs[i].size());
    }
    bestPelto = std::min(bestPelto, Seconds(start, Clock::now()));
    start = Clock::now();
    for (size_t i = 0; i < corpus.size(); ++i) {
      uLongf size = uLongf(outputs[i].size());
      allOk &= uncompress(outputs[i].data(), &size, zlibData[i].data(), uLong(zlibData[i].size())) == Z_OK;
    }
    bestZlib = std::min(bestZlib, Seconds(start, Clock::now()));
  }
  for (size_t i = 0; i < corpus.size(); ++i) {
    std::vector<uint8_t> check(corpus[i].data.size());
    allOk &= UnpackEntry(peltoData[i].data(), peltoData[i].size(), check.data(), check.size()) && check == corpus[i].data;
  }
  double peltoSpeed = raw / 1e6 / bestPelto, zlibSpeed = raw / 1e6 / bestZlib;
  std::printf("unpack: pelto %.0f MB/s, zlib inflate %.0f MB/s, ratio %.2f (target >= 1.5)%s\n", peltoSpeed, zlibSpeed,
              peltoSpeed / zlibSpeed, allOk ? "" : "   ROUND TRIP FAILED");

  // The large level map on its own: one entry of 2 MB.
  {
    std::mt19937 rng(7331);
    Bytes level = LevelMap(rng);
    Bytes packed = PackEntry(level.data(), level.size());
    uLongf bound = compressBound(uLong(level.size()));
    Bytes z(bound);
    compress2(z.data(), &bound, level.data(), uLong(level.size()), 9);
    z.resize(bound);
    Bytes out(level.size());
    double bestP = 1e9, bestZ = 1e9;
    bool ok = true;
    for (int run = 0; run < kRuns; ++run) {
      auto start = Clock::now();
      ok &= UnpackEntry(packed.data(), packed.size(), out.data(), out.size());
      bestP = std::min(bestP, Seconds(start, Clock::now()));
      start = Clock::now();
      uLongf size = uLongf(out.size());
      ok &= uncompress(out.data(), &size, z.data(), uLong(z.size())) == Z_OK;
      bestZ = std::min(bestZ, Seconds(start, Clock::now()));
    }
    ok &= UnpackEntry(packed.data(), packed.size(), out.data(), out.size()) && out == level;
    allOk &= ok;
    double p = level.size() / 1e6 / bestP, zs = level.size() / 1e6 / bestZ;
    std::printf("level map 1024x1024 (%zu bytes; zlib -9 %zu, pelto %zu): pelto %.0f MB/s, zlib inflate %.0f MB/s, "
                "ratio %.2f (target >= 1.5)%s\n",
                level.size(), z.size(), packed.size(), p, zs, p / zs, ok ? "" : "   ROUND TRIP FAILED");
  }

  // One load through the archive: the bytes it allocates against U + B.
  std::string folder = (std::filesystem::temp_directory_path() / ("pelto-bench-" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(folder);
  {
    std::vector<std::pair<uint32_t, Bytes>> entries;
    for (size_t i = 0; i < corpus.size(); ++i) {
      entries.push_back({NameHash(corpus[i].name.data(), corpus[i].name.size()), peltoData[i]});
    }
    WriteFile(folder + "/GAME.DAT", ArchiveFileBytes(entries));
    ArchiveSet set;
    set.archiveCount = 0;
    MountArchiveSet(folder.c_str(), &set);
    size_t largest = 0;
    for (size_t i = 1; i < corpus.size(); ++i) {
      if (corpus[i].data.size() > corpus[largest].data.size()) largest = i;
    }
    AssetBuffer buffer{0, nullptr};
    countedBytes = countedCalls = 0;
    counting = true;
    LoadStatus status = LoadArchiveEntry(set, corpus[largest].name.c_str(), &buffer);
    counting = false;
    size_t expected = corpus[largest].data.size() + peltoData[largest].size();
    if (kCountingAllocations) {
      std::printf("load of %s: status %d, allocated %zu bytes in %zu calls; U + B = %zu%s\n",
                  corpus[largest].name.c_str(), int(status), countedBytes, countedCalls, expected,
                  countedBytes == expected ? " (exact)" : "  MISMATCH");
    } else {
      std::printf("load of %s: status %d (allocations not counted in a sanitizer build)\n",
                  corpus[largest].name.c_str(), int(status));
    }
    std::free(buffer.data);
    UnmountArchiveSet(&set);
    std::filesystem::remove(folder + "/GAME.DAT");
  }

  // Mounting 8 archives of 8000 one-byte entries each.
  {
    std::mt19937 rng(99);
    for (int a = 0; a < 8; ++a) {
      std::vector<std::pair<uint32_t, Bytes>> entries;
      for (int e = 0; e < 8000; ++e) {
        std::string name = "a" + std::to_string(a) + "/entry" + std::to_string(e) + ".bin";
        uint8_t byte = uint8_t(rng());
        entries.push_back({NameHash(name.data(), name.size()), PackEntry(&byte, 1)});
      }
      WriteFile(folder + "/PART" + std::to_string(a) + ".DAT", ArchiveFileBytes(entries));
    }
    double best = 1e9;
    size_t count = 0;
    for (int run = 0; run < kRuns; ++run) {
      ArchiveSet set;
      set.archiveCount = 0;
      auto start = Clock::now();
      MountStatus status = MountArchiveSet(folder.c_str(), &set);
      best = std::min(best, Seconds(start, Clock::now()));
      count = status == MountStatus::Ok ? set.directory.size() : 0;
      UnmountArchiveSet(&set);
    }
    std::printf("mount: 8 archives x 8000 entries (%zu records) in %.2f ms (target well under 50 ms)\n", count,
                best * 1000);
  }
  std::filesystem::remove_all(folder);
  return allOk ? 0 : 1;
}
