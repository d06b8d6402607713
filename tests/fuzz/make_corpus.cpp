// Writes the fuzz seed corpora into tests/fuzz/corpus/NAME/ with the tests'
// own file writers: small valid files of every kind each target reads, so
// the fuzzer starts from inputs that reach deep into each parser. Run by
// hand after a format changes: pelto_fuzz_corpus SOURCE_DIR
#include <lua.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <tuple>
#include <sstream>
#include <string>
#include <vector>

#include "archive/pack.h"
#include "host/chunk_translate.h"
#include "tests/support/image_files.h"
#include "tests/support/png_files.h"
#include "tests/support/tracker_files.h"
#include "tests/support/trk_writer.h"
#include "tests/support/wave_files.h"
#include "tests/unit/archive_test_support.h"
#include "video/png.h"

namespace {

std::string root;

void Write(const std::string& target, const std::string& name, const std::string& bytes) {
  std::string folder = root + "/tests/fuzz/corpus/" + target;
  mkdir((root + "/tests/fuzz/corpus").c_str(), 0755);
  mkdir(folder.c_str(), 0755);
  std::ofstream(folder + "/" + name, std::ios::binary) << bytes;
}
void Write(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes) {
  Write(target, name, std::string(bytes.begin(), bytes.end()));
}

int Collect(lua_State*, const void* p, size_t n, void* out) {
  static_cast<std::string*>(out)->append(static_cast<const char*>(p), n);
  return 0;
}

// Lua source in the engine's chunk form, as pelto-tool compile makes it.
std::string Compile(const std::string& source) {
  lua_State* L = luaL_newstate();
  std::string standard;
  if (luaL_loadbuffer(L, source.data(), source.size(), "@seed.lua") != 0 || lua_dump(L, Collect, &standard) != 0) {
    std::fprintf(stderr, "cannot compile a seed\n");
    std::exit(1);
  }
  lua_close(L);
  std::vector<uint8_t> engine;
  TranslateStandardChunk(reinterpret_cast<const uint8_t*>(standard.data()), standard.size(), &engine);
  return std::string(engine.begin(), engine.end());
}

std::string Sox(const std::string& arguments, const std::string& effects) {
  std::string path = "/tmp/pelto-seed-" + std::to_string(getpid()) + ".ogg";
  std::string command = "sox -q -n " + arguments + " " + path + " " + effects + " 2>/dev/null";
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "sox failed: %s\n", command.c_str());
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  std::remove(path.c_str());
  return s.str();
}

std::string Str(const image_files::Bytes& b) { return std::string(b.begin(), b.end()); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: pelto_fuzz_corpus SOURCE_DIR\n");
    return 2;
  }
  root = argv[1];

  // Scripts.
  const std::string boot = Compile("local t = {1, 2, x = 'y'}\nfor i = 1, #t do print(t[i] * 2.5) end\nreturn t.x");
  const std::string nested = Compile(
      "local function f(a, ...)\n  local n = select('#', ...)\n  return function() return a + n end\nend\n"
      "local s = 'text' .. tostring(f(1, 2, 3)())\nwhile #s < 10 do s = s .. '!' end\nreturn s, nil, true, -0.5");
  Write("chunk", "boot.prg", boot);
  Write("chunk", "closures.prg", nested);

  // Packed blocks and archives.
  using archive_test::Archive;
  using archive_test::Packed;
  Write("unpack", "text.bin", Packed("hello, hello, hello! a packed entry repeats itself, repeats itself."));
  std::string ramp;
  for (int i = 0; i < 600; ++i) ramp.push_back(static_cast<char>(i * 7 % 251));
  Write("unpack", "ramp.bin", Packed(ramp));
  Write("unpack", "one.bin", Packed("x"));
  std::string one = Archive(0, {{"boot.prg", boot}, {"notes.txt", "some notes, some notes"}});
  Write("archive", "one.dat", one);
  Write("archive", "two.dat", Archive(3, {{"boot.prg", nested}}) + Archive(1, {{"boot.prg", boot}, {"x", ramp}}));

  // Images.
  image_files::Pcx pcx(4, 3);
  pcx.stream = {1, 2, 3, 0xC2, 4, 5, 0xC4, 6, 7, 8, 9, 10};
  pcx.SetColour(6, 255, 0, 255);  // the colour key
  Write("pcx", "small.pcx", Str(pcx.File()));
  image_files::Tga mapped(1, 3, 2);
  mapped.map = {0, 0, 255, 0, 255, 0, 255, 0, 255};
  mapped.pixels = {0, 1, 2, 2, 1, 0};
  mapped.AddKey(2, 0, 0, 0);
  Write("tga", "mapped.tga", Str(mapped.File()));
  image_files::Tga truecolour(2, 2, 2);
  truecolour.pixels = {10, 20, 30, 255, 40, 50, 60, 128, 70, 80, 90, 0, 1, 2, 3, 4};
  Write("tga", "truecolour.tga", Str(truecolour.File()));
  RgbaImage rgba;
  rgba.width = 5;
  rgba.height = 3;
  for (uint32_t i = 0; i < 15; ++i) rgba.pixels.insert(rgba.pixels.end(), {uint8_t(i * 16), uint8_t(255 - i), 7, uint8_t(i * 17)});
  std::vector<uint8_t> png;
  EncodePngRgba(rgba, &png);
  Write("png", "small.png", png);

  // Sounds.
  Write("wav", "pcm16.wav", MakeWave({}, Pcm16({0, 1000, -1000, 32767, -32768})));
  WaveLayout eight;
  eight.bits = 8;
  eight.rate = 11025;
  Write("wav", "pcm8.wav", MakeWave(eight, Pcm8({0x80, 0, 0xff, 0x40})));
  WaveLayout wide;
  wide.bits = 32;
  wide.fmtSize = 18;
  Write("wav", "pcm32.wav", MakeWave(wide, Pcm32({1, -2, 1 << 30})));
  Write("ogg", "mono.ogg", Sox("-r 8000 -c 1 -C 0 -t ogg", "synth 0.15 sine 440"));
  Write("ogg", "noise.ogg", Sox("-r 11025 -c 1 -t ogg", "synth 0.05 pinknoise"));
  Write("ogg", "stereo.ogg", Sox("-r 8000 -c 2 -C 0 -t ogg", "synth 0.05 sine 300"));

  // Maps: width, height, cells.
  std::vector<uint8_t> map;
  trk::Put16(map, 3);
  trk::Put16(map, 2);
  for (uint32_t cell : {0u, 1u, 0x8002u, 0x4003u, 0xc004u, 0x3fffu}) trk::Put16(map, cell);
  Write("map", "small.map", map);

  // Music: a module that uses instruments, envelopes, effects and both sample widths.
  trk::Module m;
  m.channels = 4;
  m.bpm = 140;
  m.speed = 3;
  m.orders = {0, 1, 0};
  m.patterns = {trk::Pattern(4), trk::Pattern(2)};
  m.patterns[0].Put(0, 0, {49, 1, 0x30, 0x0A, 0x21}).Put(1, 1, {trk::kKeyOff, 2, 0xC4, 0x0F, 0x21});
  m.patterns[0].Put(2, 2, {37, 2, 0x68, 0x03, 0x10}).Put(3, 3, {60, 1, 0, 0x01, 0x04});
  m.patterns[1].Put(0, 1, {96, 1, 0, 0x08, 0x80}).Put(1, 0, {25, 2, 0x75, 0x0C, 0x20});
  trk::Sample narrow = trk::Sample::Square(16);
  trk::Sample wideSample;
  wideSample.type = trk::kSixteenBit | trk::kLoopPingPong;
  wideSample.values = {1000, -1000, 32767, -32768};
  wideSample.loopStart = 2;
  wideSample.loopLength = 4;
  trk::Instrument first = trk::Instrument::Of({narrow, wideSample});
  for (int i = 0; i < 96; ++i) first.keymap[i] = static_cast<uint8_t>(i % 2);
  first.volumeEnvelope = trk::Envelope::On({{0, 64}, {4, 32}, {20, 0}}, 1);
  first.panningEnvelope = trk::Envelope::On({{0, 0}, {8, 64}});
  first.fadeout = 2000;
  m.instruments = {first, trk::Instrument::Of(trk::Sample::Square(8, 50))};
  Write("trk", "rich.trk", m.Bytes());
  Write("trk", "empty.trk", trk::Module().Bytes());

  // More PNG kinds, written by libpng: a palette with transparency, 16-bit
  // grey, and Adam7 interlacing.
  for (const auto& [name, colourType, depth, interlaced] :
       std::vector<std::tuple<const char*, int, int, bool>>{{"palette.png", 3, 4, false}, {"grey16.png", 0, 16, false},
                                                           {"interlaced.png", 6, 8, true}}) {
    PngPicture picture;
    picture.width = 5;
    picture.height = 4;
    picture.colourType = colourType;
    picture.depth = depth;
    picture.interlaced = interlaced;
    const int channels = colourType == 6 ? 4 : 1;
    for (uint32_t i = 0; i < picture.width * picture.height * channels; ++i) {
      picture.samples.push_back(static_cast<uint16_t>((i * 2654435761u >> 7) % (1u << depth)));
    }
    if (colourType == 3) {
      for (int i = 0; i < 16; ++i) picture.palette.push_back({uint8_t(i * 16), uint8_t(255 - i * 16), uint8_t(i)});
      picture.paletteAlphas = {0, 128, 255};
    }
    Write("png", name, WritePng(picture));
  }

  // Tracker modules as the trackers save them.
  xmfile::Module xm;
  xm.channels = 4;
  xm.orders = {0, 1};
  xm.patterns = {xmfile::Pattern(8), xmfile::Pattern(4)};
  xm.patterns[0].Put(0, 0, {49, 1, 0x40, 0x0A, 0x21}).Put(2, 1, {61, 2, 0, 0x01, 0x10}).Put(4, 0, {97});
  xm.patterns[1].Put(0, 2, {37, 1, 0x20, 0x0F, 0x08}).Put(1, 3, {50, 2, 0, 0x04, 0x44});
  xmfile::Instrument enveloped = xmfile::Instrument::Of(xmfile::Sample::Square());
  enveloped.volumeEnvelope.flags = 1 | 2;
  enveloped.volumeEnvelope.points = {{0, 64}, {10, 32}, {20, 16}};
  enveloped.volumeEnvelope.sustain = 1;
  enveloped.fadeout = 0x400;
  xmfile::Sample wideXm = xmfile::Sample::Square(16, 20000);
  wideXm.sixteenBit = true;
  wideXm.loopType = 2;
  xm.instruments = {enveloped, xmfile::Instrument::Of(wideXm)};
  Write("xm", "song.xm", xm.Bytes());
  Write("xm", "empty.xm", xmfile::Module().Bytes());
  modfile::Module mod;
  modfile::Sample triangle;
  for (int i = 0; i < 64; ++i) triangle.values.push_back((i < 32 ? i : 64 - i) * 6 - 96);
  triangle.loopLengthWords = 32;
  modfile::Sample square;
  for (int i = 0; i < 32; ++i) square.values.push_back(i < 16 ? 90 : -90);
  square.volume = 32;
  mod.samples = {triangle, square};
  mod.Put(0, 0, 0, {428, 1}).Put(0, 0, 1, {428, 2, 0x0, 0x37}).Put(0, 4, 2, {214, 1, 0xC, 0x20}).Put(0, 8, 3, {856, 2, 0xA, 0x02});
  Write("mod", "song.mod", mod.Bytes());
  modfile::Module eightChannels;
  eightChannels.tag = "8CHN";
  eightChannels.channels = 8;
  eightChannels.samples = {square};
  eightChannels.Put(0, 0, 7, {320, 1, 0xF, 0x03});
  Write("mod", "eight.mod", eightChannels.Bytes());

  // Tiled maps: the example game's, and small ones of every encoding, with
  // an external tileset after a NUL byte where one is named.
  {
    std::ifstream in(root + "/examples/hello/maps/ground.tmx", std::ios::binary);
    std::stringstream ground;
    ground << in.rdbuf();
    Write("tmx", "ground.tmx", ground.str());
  }
  const std::string tmxHead =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<map version=\"1.10\" orientation=\"orthogonal\" "
      "renderorder=\"right-down\" width=\"4\" height=\"2\" tilewidth=\"8\" tileheight=\"8\" infinite=\"0\">\n";
  const std::string tmxTileset =
      " <tileset firstgid=\"1\" name=\"t\" tilewidth=\"8\" tileheight=\"8\" tilecount=\"64\" columns=\"8\">\n"
      "  <image source=\"t.png\" width=\"64\" height=\"64\"/>\n </tileset>\n";
  Write("tmx", "csv.tmx", tmxHead + tmxTileset +
      " <layer id=\"1\" name=\"a\" width=\"4\" height=\"2\">\n  <data encoding=\"csv\">\n1,2,0,2147483651,\n"
      "1073741829,3221225474,536870913,7</data>\n </layer>\n"
      " <objectgroup id=\"2\" name=\"things\">\n  <object id=\"1\" name=\"start\" type=\"spawn\" x=\"8\" y=\"4\">\n"
      "   <properties><property name=\"speed\" type=\"float\" value=\"1.5\"/></properties>\n  </object>\n"
      "  <object id=\"2\" x=\"1\" y=\"2\" width=\"10\" height=\"6\"/>\n </objectgroup>\n</map>\n");
  Write("tmx", "base64.tmx", tmxHead + tmxTileset +
      " <layer id=\"1\" name=\"b\" width=\"4\" height=\"2\">\n  <data encoding=\"base64\">"
      "AQAAAAIAAAAAAAAAAwAAgAUAAEACAADAAQAAIAcAAAA=</data>\n </layer>\n</map>\n");
  Write("tmx", "external.tmx", tmxHead + " <tileset firstgid=\"1\" source=\"t.tsx\"/>\n"
      " <layer id=\"1\" name=\"c\" width=\"4\" height=\"2\">\n  <data encoding=\"csv\">1,2,3,4,5,6,7,8</data>\n"
      " </layer>\n</map>\n" + std::string(1, '\0') +
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tileset version=\"1.10\" name=\"t\" tilewidth=\"8\" "
      "tileheight=\"8\" spacing=\"0\" margin=\"0\" tilecount=\"64\" columns=\"8\">\n <image source=\"t.png\" "
      "width=\"64\" height=\"64\"/>\n</tileset>\n");
  const std::string tmjHead =
      "{\"type\": \"map\", \"orientation\": \"orthogonal\", \"width\": 4, \"height\": 2, \"tilewidth\": 8, "
      "\"tileheight\": 8, \"infinite\": false, \"tilesets\": [{\"firstgid\": 1, \"name\": \"t\", "
      "\"tilewidth\": 8, \"tileheight\": 8, \"tilecount\": 64, \"columns\": 8, \"image\": \"t.png\", "
      "\"imagewidth\": 64, \"imageheight\": 64}], \"layers\": [";
  Write("tmj", "array.tmj", tmjHead +
      "{\"type\": \"tilelayer\", \"name\": \"a\", \"width\": 4, \"height\": 2, \"data\": "
      "[1, 2, 0, 2147483651, 1073741829, 3221225474, 536870913, 7]}, {\"type\": \"objectgroup\", \"name\": "
      "\"things\", \"objects\": [{\"id\": 1, \"name\": \"start\", \"type\": \"spawn\", \"x\": 8, \"y\": 4, "
      "\"properties\": [{\"name\": \"speed\", \"type\": \"float\", \"value\": 1.5}]}]}]}");
  Write("tmj", "base64.tmj", tmjHead +
      "{\"type\": \"tilelayer\", \"name\": \"b\", \"width\": 4, \"height\": 2, \"encoding\": \"base64\", "
      "\"data\": \"AQAAAAIAAAAAAAAAAwAAgAUAAEACAADAAQAAIAcAAAA=\"}]}");

  // Modules for the bundler: boot, m1, m2, ... separated by NUL bytes.
  const std::string nul(1, '\0');
  Write("bundle", "three.lua",
        "local a = require(\"m1\")\nlocal b = require(\"m2\")\nprint(a.name, b(3))\nreturn a" + nul +
        "local m = {name = \"one\"}\nfunction m.twice(x) return 2 * x end\nreturn m" + nul +
        "local one = require(\"m1\")\nreturn function(x) return one.twice(x) + 1 end");
  Write("bundle", "cycle.lua",
        "require(\"m1\")\nlocal ok, err = pcall(require, \"missing\")\nreturn ok" + nul +
        "local boot = require(\"m2\")\nfor i = 1, 3 do boot = boot .. i end\n" + nul +
        "local t = setmetatable({}, {__index = function(_, k) return k end})\nreturn t.x");
  return 0;
}
