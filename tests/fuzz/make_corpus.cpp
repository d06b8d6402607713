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
#include <sstream>
#include <string>
#include <vector>

#include "archive/pack.h"
#include "host/chunk_translate.h"
#include "tests/support/image_files.h"
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
  return 0;
}
