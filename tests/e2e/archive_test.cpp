// Archives seen from outside: pelto-tool pack writes them, the engine
// mounts them, picks entries by priority and refuses damaged ones.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/archive_set.h"
#include "tests/e2e/engine_runner.h"

namespace {

namespace fs = std::filesystem;

RunResult Pack(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {ToolPath(), "pack"};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv);
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& item : fs::directory_iterator(folder)) names.push_back(item.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Writes a compiled boot script that prints `text` into dir/src/<sub>/boot.prg
// and packs it alone into dir/data/<archive> with the given priority.
void PackBoot(const ScratchDir& dir, const std::string& sub, const std::string& archive, int priority,
              const std::string& text) {
  dir.Write("src/" + sub + "/boot.prg", CompileLua("print('" + text + "')"));
  fs::create_directories(dir / "data");
  RunResult r = Pack({"-o", dir / ("data/" + archive), "--priority", std::to_string(priority), "-C",
                      dir / ("src/" + sub), "boot.prg"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
}

// ---- pelto-tool pack -------------------------------------------------------

TEST(PackTool, ArchiveHoldsEveryFileUnderItsRelativeName) {
  ScratchDir dir;
  std::map<std::string, std::string> files;
  std::mt19937 rng(3);
  std::string noise(200000, '\0');
  for (auto& c : noise) c = char(rng());
  files["boot.prg"] = "not really a chunk";
  files["gfx/tiles.pcx"] = noise;
  files["gfx/zeros.bin"] = std::string(100000, '\0');
  files["one"] = "1";
  files["maps/deep/level1.map"] = std::string(5000, 'a') + "end";
  for (const auto& [name, bytes] : files) dir.Write("src/" + name, bytes);

  RunResult r = Pack({"-o", dir / "GAME.DAT", "-C", dir / "src", "."});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // One line per entry, folders walked in sorted order, then the total.
  std::vector<std::string> order = {"boot.prg", "gfx/tiles.pcx", "gfx/zeros.bin", "maps/deep/level1.map", "one"};
  size_t at = 0;
  for (const std::string& name : order) {
    size_t found = r.out.find("  " + name + "\n", at);
    ASSERT_NE(found, std::string::npos) << name << " in\n" << r.out;
    at = found;
  }
  EXPECT_TRUE(Contains(r.out, "5 entries")) << r.out;
  EXPECT_TRUE(Contains(r.out, "%")) << r.out;

  ArchiveSet set;
  set.archiveCount = 0;
  ASSERT_EQ(MountArchiveSet(dir.path().c_str(), &set), MountStatus::Ok);
  for (const auto& [name, bytes] : files) {
    AssetBuffer buffer{0, nullptr};
    ASSERT_EQ(LoadArchiveEntry(set, name.c_str(), &buffer), LoadStatus::Ok) << name;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.data), size_t(buffer.size)), bytes) << name;
    std::free(buffer.data);
  }
  UnmountArchiveSet(&set);
  EXPECT_EQ(dir.Read("GAME.DAT").substr(0, 6), std::string("[VX]\x01\x00", 6));
}

TEST(PackTool, StoresThePriorityByte) {
  ScratchDir dir;
  dir.Write("a.txt", "a");
  RunResult r = Pack({"-o", dir / "P.DAT", "--priority", "200", "-C", dir.path(), "a.txt"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(uint8_t(dir.Read("P.DAT")[5]), 200);
}

TEST(PackTool, RefusesWithoutWritingAnything) {
  ScratchDir dir;
  dir.Write("src/good.txt", "good");
  dir.Write("src/empty.txt", "");
  dir.Write("src/f7081.txt", "one");  // these two names share a hash
  dir.Write("src/f85367.txt", "two");
  dir.Write("outside.txt", "x");
  dir.Write("out/GAME.DAT", "old archive");
  const std::string out = dir / "out/GAME.DAT";
  const std::string src = dir / "src";

  RunResult r = Pack({"-o", out, "-C", src, "good.txt", "empty.txt"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "empty")) << r.err;

  r = Pack({"-o", out, "-C", src, "f7081.txt", "good.txt", "f85367.txt"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "\"f7081.txt\"") && Contains(r.err, "\"f85367.txt\"")) << r.err;

  r = Pack({"-o", out, "-C", src, "../outside.txt"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "outside")) << r.err;
  r = Pack({"-o", out, "-C", src, dir / "outside.txt"});
  EXPECT_EQ(r.exitCode, 1);

  r = Pack({"-o", out, "-C", src, "missing.txt"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "missing.txt")) << r.err;

  // The old archive is untouched and no temporary file is left behind.
  EXPECT_EQ(dir.Read("out/GAME.DAT"), "old archive");
  EXPECT_EQ(Listing(dir / "out"), std::vector<std::string>{"GAME.DAT"});
}

TEST(PackTool, BadArgumentsPrintUsageAndExitTwo) {
  ScratchDir dir;
  dir.Write("a.txt", "a");
  const std::vector<std::vector<std::string>> cases = {
      {"a.txt"},                                                   // no -o
      {"-o", dir / "X.DAT"},                                      // no PATH
      {"-o", dir / "X.DAT", "--priority", "256", "a.txt"},       // priority out of range
      {"-o", dir / "X.DAT", "--priority", "-1", "a.txt"},
      {"-o", dir / "X.DAT", "--priority", "two", "a.txt"},
      {"-o", dir / "X.DAT", "--level", "9", "a.txt"},            // unknown option
      {"-o"},                                                      // option without its value
  };
  for (const auto& args : cases) {
    RunResult r = Pack(args);
    EXPECT_EQ(r.exitCode, 2) << args.back();
    EXPECT_TRUE(Contains(r.err, "usage: pelto-tool pack")) << r.err;
  }
  EXPECT_FALSE(fs::exists(dir / "X.DAT"));

  RunResult help = Pack({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_TRUE(Contains(help.out, "usage: pelto-tool pack -o OUT.DAT")) << help.out;
}

// ---- the engine mounting archives -----------------------------------------

TEST(EngineArchives, HigherPriorityBootWinsWhateverTheListingOrder) {
  for (bool highFirst : {true, false}) {
    ScratchDir dir;
    PackBoot(dir, "low", highFirst ? "B.DAT" : "A.DAT", 3, "low");
    PackBoot(dir, "high", highFirst ? "A.DAT" : "B.DAT", 7, "high");
    RunResult r = RunGame(dir);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "high\n");
  }
}

TEST(EngineArchives, LowerCaseExtensionIsMounted) {
  ScratchDir dir;
  PackBoot(dir, "game", "game.dat", 0, "lower case");
  RunResult r = RunGame(dir);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "lower case\n");
}

TEST(EngineArchives, BadVersionOrMagicIsDataFileCorrupted) {
  for (int damage = 0; damage < 3; ++damage) {
    ScratchDir dir;
    PackBoot(dir, "game", "GAME.DAT", 0, "never");
    PackBoot(dir, "other", "OTHER.DAT", 0, "never");
    std::string bytes = dir.Read("data/OTHER.DAT");
    if (damage == 0) bytes[4] = 2;          // version
    if (damage == 1) bytes[0] = '(';        // magic
    if (damage == 2) bytes.resize(bytes.size() - 3);  // truncated directory
    dir.Write("data/OTHER.DAT", bytes);
    RunResult r = RunGame(dir);
    EXPECT_EQ(r.exitCode, 1) << damage;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(Contains(r.err, "Error: Data file corrupted.\n")) << r.err;
  }
}

TEST(EngineArchives, MissingBootIsDataFileMissingOrCorrupt) {
  ScratchDir dir;
  dir.Write("src/Boot.prg", CompileLua("print('wrong case')"));
  fs::create_directories(dir / "data");
  ASSERT_EQ(Pack({"-o", dir / "data/GAME.DAT", "-C", dir / "src", "Boot.prg"}).exitCode, 0);
  RunResult r = RunGame(dir);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(Contains(r.err, "Error: Data file missing or corrupt.\n")) << r.err;

  // No archive at all mounts fine; the lookup of boot.prg then fails.
  ScratchDir empty;
  fs::create_directories(empty / "data");
  r = RunGame(empty);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "Error: Data file missing or corrupt.\n")) << r.err;
}

TEST(EngineArchives, MissingDataFolderCannotFindGameData) {
  ScratchDir dir;
  RunResult r = RunGame(dir);  // dir/data does not exist
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "Error: Cannot find game data.\n")) << r.err;
}

TEST(EngineArchives, CorruptEntryIsDataFileMissingOrCorrupt) {
  ScratchDir dir;
  PackBoot(dir, "game", "GAME.DAT", 0, "never printed");
  std::string bytes = dir.Read("data/GAME.DAT");
  bytes[6 + 8] ^= 0x01;  // the check word of the first (only) block
  dir.Write("data/GAME.DAT", bytes);
  RunResult r = RunGame(dir);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(Contains(r.err, "Error: Data file missing or corrupt.\n")) << r.err;
}

}  // namespace
