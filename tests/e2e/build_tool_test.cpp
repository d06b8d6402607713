// pelto-tool build, run and new end to end: game folders built by the real
// tool and run by the real engine. Modules and their errors, assets of each
// kind, hidden files, build errors that keep the old archive, incremental
// rebuilds that redo exactly the work whose inputs changed, pelto.text's
// pixels, and a game made by `new`.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "archive/name_hash.h"
#include "tests/e2e/engine_runner.h"
#include "tests/e2e/window_probe.h"
#include "tests/support/tracker_files.h"
#include "video/font8x8.h"
#include "video/png.h"

namespace fs = std::filesystem;

namespace {

using Files = std::map<std::string, std::string>;

// A PNG of w x h pixels of one opaque colour, with a darker first column.
std::string Png(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
  RgbaImage image;
  image.width = uint32_t(w);
  image.height = uint32_t(h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) image.pixels.insert(image.pixels.end(), {uint8_t(x ? r : r / 2), g, b, 255});
  }
  std::vector<uint8_t> png;
  EXPECT_TRUE(EncodePngRgba(image, &png));
  return std::string(png.begin(), png.end());
}

const char kLevelTmx[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<map version="1.10" orientation="orthogonal" renderorder="right-down" width="4" height="3" tilewidth="8" tileheight="8" infinite="0" nextlayerid="2" nextobjectid="1">
 <tileset firstgid="1" name="tiles" tilewidth="8" tileheight="8" tilecount="4" columns="2">
  <image source="tiles.png" width="16" height="16"/>
 </tileset>
 <layer id="1" name="ground" width="4" height="3">
  <data encoding="csv">
1,2,3,4,
0,1,0,2,
4,3,2,1
</data>
 </layer>
</map>
)";

std::string Xm(bool missingPattern) {
  xmfile::Module m;
  m.instruments.push_back(xmfile::Instrument::Of(xmfile::Sample::Square()));
  m.patterns[0].Put(0, 0, {49, 1});
  if (missingPattern) m.orders.push_back(5);  // a warning: plays as empty rows
  std::vector<uint8_t> bytes = m.Bytes();
  return std::string(bytes.begin(), bytes.end());
}

std::string Mod() {
  modfile::Module m;
  m.samples.push_back({std::vector<int>(64, 40)});
  m.Put(0, 0, 0, {modfile::kPeriods[12], 1});
  std::vector<uint8_t> bytes = m.Bytes();
  return std::string(bytes.begin(), bytes.end());
}

// A game with nested modules, a circular pair, a repeated require, a map,
// music of both kinds, a plain asset, the text module and hidden files. "--error" fails inside
// a module, "--missing" requires a name no file provides.
Files SampleGame() {
  return {
      {"boot.lua",
       "local vec = require(\"lib.util.vec\")\n"
       "local a = require(\"lib.a\")\n"
       "local again = require(\"lib.util.vec\")\n"
       "print(\"vec\", vec.add(2, 3), again == vec, loads)\n"
       "print(\"circular\", a.b.seen, require(\"lib.flag\"))\n"
       "local level = require(\"maps.level\")\n"
       "local tiles = LoadTileset(level.tileset, level.tileWidth, level.tileHeight)\n"
       "local map = LoadMap(level.layers[1].entry)\n"
       "print(\"map\", tiles >= 0, map >= 0, MapWidth(map), MapHeight(map))\n"
       "print(\"asset\", LoadTileset(\"gfx/plain.png\", 8, 8) >= 0)\n"
       "print(\"music\", LoadMusic(\"music/song.trk\"), LoadMusic(\"music/jingle.trk\"))\n"
       "print(\"text\", require(\"pelto.text\").measure(\"abc\", 2))\n"
       "local flag = pelto.args[#pelto.args]\n"
       "local name = \"lib.\" .. \"gone\"\n"
       "if flag == \"--missing\" then\n"
       "  local gone = require(name)\n"
       "end\n"
       "if flag == \"--error\" then vec.fail() end\n"},
      {"lib/util/vec.lua",
       "loads = (loads or 0) + 1\n"
       "local M = {}\n"
       "function M.add(x, y) return x + y end\n"
       "function M.fail()\n"
       "  local t = nil\n"
       "  return t.x\n"
       "end\n"
       "return M\n"},
      {"lib/a.lua", "local M = {name = \"a\"}\npackage.loaded[...] = M\nM.b = require(\"lib.b\")\nreturn M\n"},
      {"lib/b.lua", "local a = require(\"lib.a\")\nreturn {seen = \"b saw \" .. a.name}\n"},
      {"lib/flag.lua", "-- returns nothing\n"},
      {"maps/level.tmx", kLevelTmx},
      {"maps/tiles.png", Png(16, 16, 200, 100, 50)},
      {"gfx/plain.png", Png(8, 8, 10, 200, 30)},
      {"music/song.xm", Xm(true)},
      {"music/jingle.mod", Mod()},
      {".hidden.txt", "not packed"},
      {".git/config", "not packed"},
      {"notes/.draft", "not packed"},
  };
}

// The name hashes in an archive's directory.
std::set<uint32_t> ArchiveHashes(const std::string& archive) {
  std::set<uint32_t> hashes;
  auto u32 = [&](size_t at) {
    return uint32_t(uint8_t(archive[at])) | uint32_t(uint8_t(archive[at + 1])) << 8 |
           uint32_t(uint8_t(archive[at + 2])) << 16 | uint32_t(uint8_t(archive[at + 3])) << 24;
  };
  if (archive.size() < 14) return hashes;
  size_t directory = u32(archive.size() - 4);
  uint32_t count = u32(directory);
  for (uint32_t i = 0; i < count; ++i) hashes.insert(u32(directory + 4 + 8 * size_t(i)));
  return hashes;
}

std::set<uint32_t> HashesOf(const std::vector<std::string>& names) {
  std::set<uint32_t> hashes;
  for (const std::string& name : names) hashes.insert(NameHash(name.data(), name.size()));
  return hashes;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The work lines of a build that are not "reused", the summary left out.
std::set<std::string> WorkDone(const RunResult& build) {
  std::set<std::string> work;
  for (const std::string& line : Lines(build.out)) {
    if (line.rfind("reused", 0) == 0 || line.find(" entries, ") != std::string::npos) continue;
    work.insert(line.substr(0, line.find(" (")));  // sizes left out
  }
  return work;
}

TEST(BuildTool, GameFolderRunsWithModulesAssetsAndTheTextModule) {
  ScratchDir dir;
  RunResult build = BuildGameFolder(dir, SampleGame());
  ASSERT_EQ(build.exitCode, 0) << build.err;
  EXPECT_EQ(build.err, "warning: music/song.xm: order 1: pattern 5 does not exist; it plays as 64 empty rows\n");

  // Exactly these entries: no source, no map description, no hidden file.
  EXPECT_EQ(ArchiveHashes(ReadFileBytes(dir / "data/GAME.DAT")),
            HashesOf({"boot.prg", "music/song.trk", "music/jingle.trk", "maps/level.png", "maps/level.ground.map", "maps/tiles.png", "gfx/plain.png",
                      "pelto/font8x8-1.png", "pelto/font8x8-2.png", "pelto/font8x8-3.png", "pelto/font8x8-4.png"}));

  RunResult run = RunGame(dir);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "vec\t5\ttrue\t1\n"
            "circular\tb saw a\ttrue\n"
            "map\ttrue\ttrue\t4\t3\n"
            "asset\ttrue\n"
            "music\ttrue\ttrue\n"
            "text\t48\t16\n");

  // Errors name the module's own file and line.
  run = RunGame(dir, {"--error"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(ErrorLines(run.err).at(0),
            "Error: Lua runtime error [lib/util/vec.lua:6: attempt to index local 't' (a nil value)]");
  run = RunGame(dir, {"--missing"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(ErrorLines(run.err).at(0), "Error: Lua runtime error [boot.lua:16: module 'lib.gone' not found]");

  // run: builds, then the engine with the arguments after "--"; its exit code.
  RunResult viaRun = RunProcess({ToolPath(), "run", dir / "game", "-o", dir / "data", "--", "--error"}, dir.path(),
                                {{"PELTO_NO_DIALOG", "1"}});
  EXPECT_EQ(viaRun.exitCode, 1);
  EXPECT_NE(viaRun.err.find("[lib/util/vec.lua:6: attempt to index local 't'"), std::string::npos) << viaRun.err;
  EXPECT_NE(viaRun.out.find("11 entries"), std::string::npos) << viaRun.out;
}

TEST(BuildTool, BuildErrorsNameFileAndLineAndKeepTheOldArchive) {
  ScratchDir dir;
  Files game = {{"boot.lua", "local util = require('util')\nprint(util)\n"}, {"util.lua", "return 1\n"}};
  ASSERT_EQ(BuildGameFolder(dir, game).exitCode, 0);
  const std::string archive = ReadFileBytes(dir / "data/GAME.DAT");

  game["boot.lua"] = "local util = require('util')\n\nlocal x = require(\"lib.nothere\")\n";
  RunResult build = BuildGameFolder(dir, game);
  EXPECT_EQ(build.exitCode, 1);
  EXPECT_EQ(build.err, "error: boot.lua:3: module 'lib.nothere' not found\n");

  game["boot.lua"] = "print('fine')\n";
  game["util.lua"] = "local t = {}\nt.x end\n";
  build = BuildGameFolder(dir, game);
  EXPECT_EQ(build.exitCode, 1);
  EXPECT_EQ(build.err, "error: util.lua:2: '=' expected near 'end'\n");
  EXPECT_EQ(ReadFileBytes(dir / "data/GAME.DAT"), archive);

  ScratchDir empty;
  build = RunProcess({ToolPath(), "build", empty.path()});
  EXPECT_EQ(build.exitCode, 1);
  EXPECT_NE(build.err.find("error: no boot.lua in "), std::string::npos) << build.err;
  EXPECT_EQ(RunProcess({ToolPath(), "build", "a", "b"}).exitCode, 2);
  EXPECT_EQ(RunProcess({ToolPath(), "build", "--help"}).exitCode, 0);
}

TEST(BuildTool, RebuildsRedoExactlyTheWorkWhoseInputsChanged) {
  ScratchDir dir;
  Files game = SampleGame();
  RunResult build = BuildGameFolder(dir, game);
  ASSERT_EQ(build.exitCode, 0) << build.err;
  EXPECT_EQ(WorkDone(build),
            (std::set<std::string>{
                "compiled  boot.lua", "compiled  lib/a.lua", "compiled  lib/b.lua", "compiled  lib/flag.lua",
                "compiled  lib/util/vec.lua", "compiled  maps/level.lua", "compiled  pelto/text.lua",
                "converted maps/level.tmx -> maps/level.png, maps/level.ground.map, maps/level.lua",
                "converted music/jingle.mod -> music/jingle.trk", "converted music/song.xm -> music/song.trk",
                "packed    music/jingle.trk", "packed    music/song.trk", "packed    boot.prg", "packed    maps/level.png", "packed    maps/level.ground.map",
                "packed    maps/tiles.png", "packed    gfx/plain.png", "packed    pelto/font8x8-1.png",
                "packed    pelto/font8x8-2.png", "packed    pelto/font8x8-3.png", "packed    pelto/font8x8-4.png"}));

  build = BuildGameFolder(dir, {});
  EXPECT_EQ(WorkDone(build), std::set<std::string>{});
  EXPECT_EQ(Lines(build.out).size(), 22u);  // 21 reused and the summary
  EXPECT_NE(build.err.find("warning: music/song.xm: order 1"), std::string::npos);  // kept with the conversion

  build = BuildGameFolder(dir, {{"music/song.xm", Xm(false)}});
  EXPECT_EQ(WorkDone(build),
            (std::set<std::string>{"converted music/song.xm -> music/song.trk", "packed    music/song.trk"}));
  EXPECT_EQ(build.err, "");

  // (A new comment alone would compile to the same chunk and redo nothing.)
  build = BuildGameFolder(dir, {{"lib/a.lua", "M = {name = 'a'}\npackage.loaded[...] = M\nM.b = require('lib.b')\nreturn M\n"}});
  EXPECT_EQ(build.exitCode, 0) << build.err;
  EXPECT_EQ(WorkDone(build), (std::set<std::string>{"compiled  lib/a.lua", "packed    boot.prg"}));

  build = BuildGameFolder(dir, {{"gfx/plain.png", Png(8, 8, 11, 200, 30)}});
  EXPECT_EQ(build.exitCode, 0) << build.err;
  EXPECT_EQ(WorkDone(build), std::set<std::string>{"packed    gfx/plain.png"});

  // The map's tileset image is read by the map's conversion too.
  build = BuildGameFolder(dir, {{"maps/tiles.png", Png(16, 16, 201, 100, 50)}});
  EXPECT_EQ(WorkDone(build),
            (std::set<std::string>{"converted maps/level.tmx -> maps/level.png, maps/level.ground.map, maps/level.lua",
                                   "packed    maps/level.png", "packed    maps/tiles.png"}));
  RunResult run = RunGame(dir);
  EXPECT_EQ(run.exitCode, 0) << run.err;

  // A damaged cache is a cache miss: every item cut short or flipped is
  // made again, and the game still runs.
  int damaged = 0;
  for (const auto& entry : fs::directory_iterator(dir / "data/.cache")) {
    std::string bytes = ReadFileBytes(entry.path().string());
    if (damaged % 2) bytes.resize(bytes.size() / 2);
    else bytes[bytes.size() / 3] ^= 0x40;
    std::ofstream(entry.path(), std::ios::binary | std::ios::trunc) << bytes;
    ++damaged;
  }
  EXPECT_GT(damaged, 20);
  build = BuildGameFolder(dir, {});
  EXPECT_EQ(build.exitCode, 0) << build.err;
  EXPECT_EQ(build.out.find("reused"), std::string::npos) << build.out;
  run = RunGame(dir);
  EXPECT_EQ(run.exitCode, 0) << run.err;
}

// pelto.text's glyphs on screen, tinted and scaled, pixel for pixel.
TEST(BuildTool, TextModuleDrawsTheFontInColourAndAtScale) {
  const int w = 48, h = 24, scale = 2;
  std::string title = UniqueTitle("text");
  BackgroundGame game(BackgroundGame::Built{},
                      {{"boot.lua", std::string(kShowPrologue) +
                                        "local text = require('pelto.text')\n"
                                        "OpenDisplay('" + title + "', 48, 24, false, 96, 48)\n"
                                        "Show(function()\n"
                                        "  Cls(0, 0, 0)\n"
                                        "  text.draw('Hi!', 1, 2, 255, 0, 0)\n"
                                        "  text.draw('g', 30, 4, 0, 255, 0, 255, 2)\n"
                                        "end)\n"}},
                      {"--nocrt"});
  RunResult result;
  WindowImage got = GrabAndClose(game, title, &result);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  std::vector<uint32_t> scene(size_t(w * h), 0);
  auto glyph = [&](char c, int x, int y, int s, uint32_t colour) {
    for (int row = 0; row < 8 * s; ++row)
      for (int column = 0; column < 8 * s; ++column)
        if (kFont8x8[c - 32][row / s] & (0x80 >> (column / s))) scene[size_t((y + row) * w + x + column)] = colour;
  };
  glyph('H', 1, 2, 1, 0xFF0000);
  glyph('i', 9, 2, 1, 0xFF0000);
  glyph('!', 17, 2, 1, 0xFF0000);
  glyph('g', 30, 4, 2, 0x00FF00);
  std::string report;
  EXPECT_EQ(CountMismatches(got, MagnifiedScene(scene, w, h, scale, w * scale, h * scale, 0), 0, &report), 0)
      << report;
}

TEST(BuildTool, NewMakesAGameThatRunShows) {
  ScratchDir dir;
  const std::string name = UniqueTitle("newgame");
  RunResult made = RunProcess({ToolPath(), "new", name}, dir.path());
  ASSERT_EQ(made.exitCode, 0) << made.err;
  EXPECT_EQ(RunProcess({ToolPath(), "new", name}, dir.path()).exitCode, 1);  // never over existing work

  auto run = std::async(std::launch::async, [&] {
    return RunProcess({ToolPath(), "run", name, "--", "--nocrt"}, dir.path(),
                      {{"PELTO_NO_DIALOG", "1"}, {"HOME", dir.path()}});
  });
  WindowProbe probe;
  ASSERT_TRUE(probe.Connected());
  unsigned long window = 0;
  for (int i = 0; i < 300 && !window; ++i) {
    window = probe.Find(name);
    if (!window) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_NE(window, 0u) << "no window titled " << name;
  // The bouncing ball (yellow) and the greeting (light orange) are there.
  int ball = 0, greeting = 0;
  for (int attempt = 0; attempt < 40 && !(ball && greeting); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    WindowImage image;
    if (!probe.Grab(window, &image)) continue;
    ball = greeting = 0;
    for (uint32_t pixel : image.pixels) {
      Rgb c = Channels(pixel);
      if (c.r > 240 && c.g > 190 && c.g < 210 && c.b < 60) ++ball;
      if (c.r > 240 && c.g > 210 && c.g < 230 && c.b > 110 && c.b < 130) ++greeting;
    }
  }
  EXPECT_GT(ball, 100);
  EXPECT_GT(greeting, 100);
  EXPECT_TRUE(probe.RequestClose(window));
  RunResult result = run.get();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find("compiled  pelto/text.lua"), std::string::npos) << result.out;
}

}  // namespace
