// pelto-tool list and extract on archives made by pelto-tool pack: names
// found from a folder, round trips, damaged entries and damaged archives.
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/archive_set.h"
#include "archive/name_hash.h"
#include "tests/e2e/engine_runner.h"

namespace {

namespace fs = std::filesystem;

RunResult Tool(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {ToolPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv);
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string HashText(const std::string& name) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", NameHash(name.data(), name.size()));
  return text;
}

// The listing's entry lines, keyed by hash: {packed, unpacked, check, name}.
std::map<std::string, std::vector<std::string>> EntryLines(const std::string& out) {
  std::map<std::string, std::vector<std::string>> lines;
  std::istringstream in(out);
  std::string line;
  std::getline(in, line);  // the column titles
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string hash, field;
    fields >> hash;
    if (hash.size() != 8) continue;  // the summary line
    std::vector<std::string> rest;
    while (fields >> field) rest.push_back(field);
    lines[hash] = rest;
  }
  return lines;
}

// A game folder with a script, nested media of several sizes, packed into
// dir/data/GAME.DAT the way a game maker does it by hand.
std::map<std::string, std::string> PackSampleGame(const ScratchDir& dir) {
  std::map<std::string, std::string> stored;
  std::mt19937 rng(12);
  std::string noise(70000, '\0');
  for (char& c : noise) c = char(rng());
  stored["gfx/tiles.bin"] = noise;
  stored["maps/deep/level1.map"] = std::string(9000, 'm') + "end";
  stored["x"] = "1";
  for (const auto& [name, bytes] : stored) {
    dir.Write("game/" + name, bytes);
    dir.Write("staging/" + name, bytes);
  }
  dir.Write("game/boot.lua", "print('hi')\n");
  EXPECT_EQ(Tool({"compile", dir / "game/boot.lua", "-o", dir / "staging/boot.prg"}).exitCode, 0);
  stored["boot.prg"] = dir.Read("staging/boot.prg");
  RunResult r = Tool({"pack", "-o", dir / "data/GAME.DAT", "-C", dir / "staging", "."});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return stored;
}

TEST(ListTool, ShowsEveryEntryWithSizesCheckAndNamesFromAFolder) {
  ScratchDir dir;
  auto stored = PackSampleGame(dir);
  // --names on the source folder: boot.prg is named after boot.lua.
  RunResult r = Tool({"list", dir / "data/GAME.DAT", "--names", dir / "game"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  auto lines = EntryLines(r.out);
  ASSERT_EQ(lines.size(), stored.size()) << r.out;
  ArchiveContents contents;
  ASSERT_EQ(ReadArchiveContents((dir / "data/GAME.DAT").c_str(), &contents, nullptr), MountStatus::Ok);
  std::string archive = dir.Read("data/GAME.DAT");
  for (const auto& [name, bytes] : stored) {
    auto line = lines.find(HashText(name));
    ASSERT_NE(line, lines.end()) << name << "\n" << r.out;
    ASSERT_EQ(line->second.size(), 4u) << name << "\n" << r.out;
    EXPECT_EQ(line->second[1], std::to_string(bytes.size())) << name;
    EXPECT_EQ(line->second[2], "OK") << name;
    EXPECT_EQ(line->second[3], name);
    // The packed size is the block size stored in the archive.
    for (const ArchiveEntryRecord& entry : contents.entries) {
      if (HashText(name) != line->first || entry.nameHash != NameHash(name.data(), name.size())) continue;
      uint32_t block = 0;
      for (int i = 0; i < 4; ++i) block |= uint32_t(uint8_t(archive[entry.entryOffset + 4 + i])) << (8 * i);
      EXPECT_EQ(line->second[0], std::to_string(block)) << name;
    }
  }
  EXPECT_TRUE(Contains(r.out, "4 entries")) << r.out;

  // Without --names only hashes: three fields and no name.
  r = Tool({"list", dir / "data/GAME.DAT"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const auto& [hash, fields] : EntryLines(r.out)) EXPECT_EQ(fields.size(), 3u) << hash;
}

// A game folder built by pelto-tool build: every entry of its archive gets a
// name from the folder, also the compiled script, the converted music and
// map and the font of the text module.
TEST(ListTool, NamesEverythingABuildMakesFromTheGameFolder) {
  ScratchDir dir;
  const std::string assets = std::string(PELTO_SOURCE_DIR) + "/docs/tutorial/";
  dir.Write("game/boot.lua", "local text = require('pelto.text')\nlocal map = require('maps.level1')\n");
  dir.Write("game/lib/util.lua", "return {}\n");
  for (const char* asset : {"tiles.png", "song.xm", "maps/level1.tmx"}) {
    dir.Write(std::string("game/") + asset, ReadFileBytes(assets + asset));
  }
  RunResult r = Tool({"build", dir / "game"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  r = Tool({"list", dir / "game/build/GAME.DAT", "--names", dir / "game"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto lines = EntryLines(r.out);
  EXPECT_GE(lines.size(), 6u) << r.out;
  for (const auto& [hash, fields] : lines) {
    ASSERT_EQ(fields.size(), 4u) << "entry " << hash << " has no name:\n" << r.out;
    EXPECT_EQ(hash, HashText(fields[3]));
  }
  for (const char* name : {"boot.prg", "song.trk", "tiles.png"}) {
    EXPECT_NE(lines.find(HashText(name)), lines.end()) << name << "\n" << r.out;
  }
}

TEST(ExtractTool, WritesNamedEntriesIntoNewFoldersByteForByte) {
  ScratchDir dir;
  auto stored = PackSampleGame(dir);
  std::vector<std::string> args = {"extract", dir / "data/GAME.DAT"};
  for (const auto& [name, bytes] : stored) args.push_back(name);
  args.push_back("-C");
  args.push_back(dir / "out/new folder");
  RunResult r = Tool(args);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const auto& [name, bytes] : stored) EXPECT_EQ(dir.Read("out/new folder/" + name), bytes) << name;
  // Re-extracting replaces the files; the extracted chunk still runs.
  r = Tool({"extract", dir / "data/GAME.DAT", "boot.prg", "-C", dir / "again"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(dir.Read("again/boot.prg"), stored["boot.prg"]);
}

TEST(ExtractTool, DamagedEntriesAndUnknownNamesFailButTheRestIsWritten) {
  ScratchDir dir;
  auto stored = PackSampleGame(dir);
  // Damage one stream word of gfx/tiles.bin: its check word no longer holds.
  ArchiveContents contents;
  ASSERT_EQ(ReadArchiveContents((dir / "data/GAME.DAT").c_str(), &contents, nullptr), MountStatus::Ok);
  std::string archive = dir.Read("data/GAME.DAT");
  const std::string damaged = "gfx/tiles.bin";
  for (const ArchiveEntryRecord& entry : contents.entries) {
    if (entry.nameHash == NameHash(damaged.data(), damaged.size())) archive[entry.entryOffset + 100] ^= 0x10;
  }
  dir.Write("data/GAME.DAT", archive);

  RunResult r = Tool({"list", dir / "data/GAME.DAT", "--names", dir / "staging"});
  EXPECT_EQ(r.exitCode, 1);
  auto lines = EntryLines(r.out);
  EXPECT_EQ(lines[HashText(damaged)][2], "BAD") << r.out;
  EXPECT_EQ(lines[HashText("x")][2], "OK") << r.out;
  EXPECT_TRUE(Contains(r.err, "error: ")) << r.err;

  r = Tool({"extract", dir / "data/GAME.DAT", damaged, "x", "no/such.entry", "../escape", "-C", dir / "out"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "error: gfx/tiles.bin: the entry is damaged (BAD)")) << r.err;
  EXPECT_TRUE(Contains(r.err, "error: no/such.entry: no entry of that name")) << r.err;
  EXPECT_TRUE(Contains(r.err, "error: ../escape: not an entry name")) << r.err;
  EXPECT_FALSE(fs::exists(dir / "out/gfx/tiles.bin"));
  EXPECT_FALSE(fs::exists(dir / "escape"));
  EXPECT_EQ(dir.Read("out/x"), "1");
}

TEST(ArchiveTools, DamagedArchivesAreRefusedWithTheReason) {
  ScratchDir dir;
  PackSampleGame(dir);
  const std::string good = dir.Read("data/GAME.DAT");
  struct Damage {
    std::string bytes;
    std::string reason;
  };
  std::string badMagic = good, badVersion = good, badOffset = good;
  badMagic[1] = 'W';
  badVersion[4] = 2;
  badOffset[badOffset.size() - 1] = char(0x7f);
  const std::vector<Damage> damages = {
      {badMagic, "does not begin with \"[VX]\""},
      {badVersion, "format version is not 1"},
      {badOffset, "directory offset"},
      {good.substr(0, good.size() - 5), ""},
      {std::string("[VX]\x01\x00\x00\x00", 8), "too short"},
  };
  for (const Damage& damage : damages) {
    dir.Write("bad/GAME.DAT", damage.bytes);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"list", dir / "bad/GAME.DAT"},
          std::vector<std::string>{"extract", dir / "bad/GAME.DAT", "x", "-C", dir / "bad/out"}}) {
      RunResult r = Tool(args);
      EXPECT_EQ(r.exitCode, 1) << damage.reason;
      EXPECT_EQ(r.out, "");
      EXPECT_TRUE(Contains(r.err, "error: " + dir / "bad/GAME.DAT" + ": not a usable archive: ")) << r.err;
      EXPECT_TRUE(Contains(r.err, damage.reason)) << r.err;
    }
  }
  EXPECT_FALSE(fs::exists(dir / "bad/out"));
  RunResult r = Tool({"list", dir / "none.DAT"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "error: cannot read " + dir / "none.DAT")) << r.err;
}

// Damage anywhere in an archive is reported, never a crash: the header, the
// directory and the blocks each get random bytes.
TEST(ArchiveTools, RandomDamageIsReportedCleanly) {
  ScratchDir dir;
  PackSampleGame(dir);
  const std::string good = dir.Read("data/GAME.DAT");
  std::mt19937 rng(99);
  for (int round = 0; round < 40; ++round) {
    std::string bytes = good;
    size_t at = round < 10 ? rng() % 6 : round < 20 ? bytes.size() - 1 - rng() % 48 : rng() % bytes.size();
    for (int n = 1 + int(rng() % 3); n > 0; --n, at = (at + 1) % bytes.size()) bytes[at] = char(rng());
    dir.Write("bad/GAME.DAT", bytes);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"list", dir / "bad/GAME.DAT"},
          std::vector<std::string>{"extract", dir / "bad/GAME.DAT", "boot.prg", "gfx/tiles.bin", "-C", dir / "out"}}) {
      RunResult r = Tool(args);
      EXPECT_EQ(r.signal, 0) << round;
      EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 1) << round << " " << r.err;
      if (r.exitCode == 1) {
        EXPECT_TRUE(Contains(r.err, "error: ")) << r.err;
      }
    }
  }
}

TEST(ArchiveTools, BadArgumentsPrintUsageAndHelpExitsZero) {
  ScratchDir dir;
  PackSampleGame(dir);
  const std::string archive = dir / "data/GAME.DAT";
  const std::vector<std::vector<std::string>> bad = {
      {"list"}, {"list", archive, archive}, {"list", archive, "--names"}, {"list", archive, "--all"},
      {"extract"}, {"extract", archive}, {"extract", archive, "x", "-C"}, {"extract", archive, "x", "-q"}};
  for (const auto& args : bad) {
    RunResult r = Tool(args);
    EXPECT_EQ(r.exitCode, 2) << args.size();
    EXPECT_TRUE(Contains(r.err, "usage: pelto-tool " + args[0])) << r.err;
  }
  for (const char* command : {"list", "extract"}) {
    RunResult help = Tool({command, "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(Contains(help.out, std::string("usage: pelto-tool ") + command)) << help.out;
  }
  RunResult r = Tool({"list", archive, "--names", dir / "no-such-folder"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "error: --names")) << r.err;
}

// A new user's output paths name folders that do not exist yet: pack,
// convert and build make them (compile's own test does the same).
TEST(PackTool, ItAndConvertAndBuildMakeTheFoldersOfTheirOutput) {
  ScratchDir dir;
  dir.Write("src/a.txt", "a");
  RunResult r = Tool({"pack", "-o", dir / "new/deeper/GAME.DAT", "-C", dir / "src", "a.txt"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(dir.Read("new/deeper/GAME.DAT").substr(0, 4), "[VX]");

  const std::string assets = std::string(PELTO_SOURCE_DIR) + "/docs/tutorial/";
  r = Tool({"convert", assets + "song.xm", "-o", dir / "music/out/song.trk"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(dir.Read("music/out/song.trk").substr(0, 5), "[TRK]");
  dir.Write("tiled/tiles.png", ReadFileBytes(assets + "tiles.png"));
  dir.Write("tiled/maps/level1.tmx", ReadFileBytes(assets + "maps/level1.tmx"));
  r = Tool({"convert", dir / "tiled/maps/level1.tmx", "-o", dir / "maps/out"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir / "maps/out/level1.lua"));
  dir.Write("game/boot.lua", "print('x')\n");
  r = Tool({"build", dir / "game", "-o", dir / "data/new/folder"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir / "data/new/folder/GAME.DAT"));
  dir.Write("file", "in the way");
  r = Tool({"pack", "-o", dir / "file/GAME.DAT", "-C", dir / "src", "a.txt"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "error: cannot write " + dir / "file/GAME.DAT")) << r.err;
}

}  // namespace
