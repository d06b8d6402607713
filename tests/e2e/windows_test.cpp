// What a Windows build must do as a Linux build does, or as Windows
// programs do: binary chunk files, the profile folder, wildcard arguments,
// and `pelto-tool export --windows` with its zip run back under Wine. Run
// against build/pelto these check the Linux side of the same behaviour.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tests/e2e/engine_runner.h"

namespace fs = std::filesystem;

namespace {

// A chunk holding 1A 0D 0A (end of file and a CR LF pair to a C runtime in
// text mode) loads through loadfile and dofile whole. String bytes are
// stored XORed with D6, so 204 219 220 are stored as 1A 0D 0A.
TEST(WindowsParity, ChunkFilesAreReadInBinaryMode) {
  ScratchDir dir;
  std::string chunk = CompileLua("return '\\204\\219\\220\\26\\r\\n', 'after'");
  ASSERT_NE(chunk.find("\x1a\r\n"), std::string::npos);
  dir.Write("c.prg", chunk);
  BuildGame(dir, {{"boot.lua", R"(
    local f = assert(loadfile('c.prg'))
    local s, t = f()
    print(#s, s == '\204\219\220\26\r\n', t)
    print(dofile('c.prg') == s)
  )"}});
  RunResult r = RunGame(dir);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "6\ttrue\tafter\ntrue\n");
}

TEST(WindowsParity, ProfileFolderFollowsTheSystemsRule) {
  ScratchDir dir;
  BuildGame(dir, {{"boot.lua", "local p = OsProfilePath() print(p) print(OsScanPath(p) ~= nil)"}});
  fs::create_directories(dir / "home/.local/share");
  RunResult r = RunGame(dir, {}, {{"APPDATA", "C:\\\\ignored"}});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  if (WindowsEngine()) {
    // The shell's local application-data folder wins over APPDATA.
    std::string path = r.out.substr(0, r.out.find('\n'));
    EXPECT_EQ(path.rfind("C:\\users\\"), 0u) << path;
    EXPECT_EQ(path.substr(path.size() - 14), "\\AppData\\Local") << path;
  } else {
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), dir / "home/.local/share");
  }
  EXPECT_EQ(r.out.substr(r.out.find('\n') + 1), "true\n");
  r = RunGame(dir, {"--portable"});
  EXPECT_EQ(r.out, ".\ntrue\n");
}

TEST(WindowsParity, WildcardArgumentsAreExpandedOnWindowsOnly) {
  ScratchDir dir;
  dir.Write("level1.map", "1");
  dir.Write("level2.map", "2");
  BuildGame(dir, {{"boot.lua", "for i = 4, #pelto.args do print(pelto.args[i]) end"}});
  RunResult r = RunGame(dir, {"level?.map", "none*.zz", "--nocrt"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  if (WindowsEngine()) {
    EXPECT_EQ(r.out, "level1.map\nlevel2.map\nnone*.zz\n--nocrt\n");  // no match: left as it is
  } else {
    EXPECT_EQ(r.out, "level?.map\nnone*.zz\n--nocrt\n");  // the shell's business on Linux
  }
}

// pelto-tool.exe makes the same chunk and archive, byte for byte, as the
// Linux tool, and replaces an existing output (which a plain rename does not
// do on Windows).
TEST(WindowsTool, CompilesAndPacksTheSameBytesAsOnLinux) {
  if (!WindowsEngine()) GTEST_SKIP() << "needs the Windows build (make test-windows)";
  std::string windowsTool = fs::path(EnginePath()).parent_path() / "pelto-tool.exe";
  ScratchDir dir;
  dir.Write("boot.lua", "local s = '\\204\\219\\220\\26\\r\\n' print(#s)\n");
  dir.Write("win/boot.prg", "stale output to be replaced");
  for (int run = 0; run < 2; ++run) {
    RunResult r = RunProcess({Launcher(), windowsTool, "compile", "boot.lua", "-o", "win/boot.prg"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  fs::create_directories(dir / "linux");
  ASSERT_EQ(RunProcess({ToolPath(), "compile", "boot.lua", "-o", "linux/boot.prg"}, dir.path()).exitCode, 0);
  EXPECT_EQ(dir.Read("win/boot.prg"), dir.Read("linux/boot.prg"));
  RunResult r = RunProcess({Launcher(), windowsTool, "pack", "-o", "win.DAT", "-C", "win", "boot.prg"}, dir.path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(RunProcess({ToolPath(), "pack", "-o", "linux.DAT", "-C", "linux", "boot.prg"}, dir.path()).exitCode, 0);
  EXPECT_EQ(dir.Read("win.DAT"), dir.Read("linux.DAT"));
}

// pelto-tool.exe builds a game folder into the same archive as the Linux
// tool, and `run` starts pelto.exe from beside it and ends with its exit
// code; `run --watch` says it is not there yet.
TEST(WindowsTool, BuildsAndRunsAGameFolder) {
  if (!WindowsEngine()) GTEST_SKIP() << "needs the Windows build (make test-windows)";
  std::string windowsTool = fs::path(EnginePath()).parent_path() / "pelto-tool.exe";
  ScratchDir dir;
  dir.Write("game/boot.lua", "local m = require('lib.m')\nprint(m.name, pelto.platform)\n");
  dir.Write("game/lib/m.lua", "return { name = 'module' }\n");
  dir.Write("home/.asoundrc", "pcm.!default { type null }\n");
  RunResult r = RunProcess({Launcher(), windowsTool, "build", "game", "-o", "win"}, dir.path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(RunProcess({ToolPath(), "build", "game", "-o", "linux"}, dir.path()).exitCode, 0);
  EXPECT_EQ(dir.Read("win/GAME.DAT"), dir.Read("linux/GAME.DAT"));

  std::map<std::string, std::string> env = {{"PELTO_NO_DIALOG", "1"}, {"HOME", dir / "home"}};
  r = RunProcess({Launcher(), windowsTool, "run", "game"}, dir.path(), env);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("module\tWin32\n"), std::string::npos) << r.out;
  dir.Write("game/boot.lua", "error('boom')\n");
  r = RunProcess({Launcher(), windowsTool, "run", "game"}, dir.path(), env);
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find("boom"), std::string::npos) << r.err;
  r = RunProcess({Launcher(), windowsTool, "run", "--watch", "game"}, dir.path(), env);
  EXPECT_EQ(r.exitCode, 1);
  // The tool's stderr is in text mode, as Windows programs' is: CR LF.
  EXPECT_EQ(r.err, "error: run --watch is not available on Windows yet\r\n");
}

TEST(ExportWindows, RefusesBadUseWithUsageOrError) {
  ScratchDir dir;
  fs::create_directories(dir / "empty");
  RunResult r = RunProcess({ToolPath(), "export", "--data", dir / "empty", "-o", dir / "g.zip"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("usage: pelto-tool export"), std::string::npos) << r.err;
  r = RunProcess({ToolPath(), "export", "--windows", "--data", dir / "empty"});
  EXPECT_EQ(r.exitCode, 2) << r.err;
  r = RunProcess({ToolPath(), "export", "--help"});
  EXPECT_EQ(r.exitCode, 0);
  // A copy of the tool far from any build finds no pelto.exe.
  fs::copy_file(ToolPath(), dir / "pelto-tool");
  fs::permissions(dir / "pelto-tool", fs::perms::owner_all);
  r = RunProcess({dir / "pelto-tool", "export", "--windows", "--data", dir / "empty", "-o", dir / "g.zip"}, dir.path());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "error: pelto.exe not found beside pelto-tool or in build-windows/; build it with `make windows`\n");
  EXPECT_FALSE(fs::exists(dir / "g.zip"));
}

// Given a game folder, export builds it as `pelto-tool build` does (into
// GAME_DIR/build) and zips that archive; a build error stops it with no zip.
TEST(ExportWindows, GameFolderIsBuiltIntoTheZip) {
  ScratchDir dir;
  fs::create_directories(dir / "tool");
  fs::copy_file(ToolPath(), dir / "tool/pelto-tool");
  fs::permissions(dir / "tool/pelto-tool", fs::perms::owner_all);
  dir.Write("tool/pelto.exe", "MZ stand-in engine");
  dir.Write("Moon Base/boot.lua", "local m = require('lib.m')\nprint(m)\n");
  dir.Write("Moon Base/lib/m.lua", "return 42\n");
  RunResult r = RunProcess({dir / "tool/pelto-tool", "export", "--windows", dir / "Moon Base", "-o", dir / "moon.zip"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  RunResult list = RunProcess({"/usr/bin/unzip", "-Z1", dir / "moon.zip"});
  EXPECT_EQ(list.out, "Moon Base.exe\nGAME.DAT\nREADME.txt\n");
  RunResult unzip = RunProcess({"/usr/bin/unzip", "-q", dir / "moon.zip", "-d", dir / "player"});
  ASSERT_EQ(unzip.exitCode, 0) << unzip.err;
  EXPECT_EQ(ReadFileBytes(dir / "player/GAME.DAT"), ReadFileBytes(dir / "Moon Base/build/GAME.DAT"));
  EXPECT_EQ(ReadFileBytes(dir / "player/Moon Base.exe"), "MZ stand-in engine");

  dir.Write("Moon Base/boot.lua", "local m = require('lib.missing')\n");
  r = RunProcess({dir / "tool/pelto-tool", "export", "--windows", dir / "Moon Base", "-o", dir / "broken.zip"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("error: "), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir / "broken.zip"));
}

// The whole way to a player: export, unzip, start the renamed exe from its
// own folder with no options, as a double-click does.
TEST(ExportWindows, ZipUnpacksToAGameThatRunsUnderWine) {
  if (!WindowsEngine()) GTEST_SKIP() << "needs the Windows build (make test-windows)";
  ScratchDir dir;
  BuildGame(dir, {{"boot.lua", "print('running', pelto.platform, #OsScanPath('.'))"}});
  fs::create_directories(dir / "Space Duel");
  RunResult r = RunProcess({ToolPath(), "export", "--windows", dir / "Space Duel", "--data", dir / "data", "-o",
                            dir / "duel.zip"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  RunResult list = RunProcess({"/usr/bin/unzip", "-Z1", dir / "duel.zip"});
  EXPECT_EQ(list.out, "Space Duel.exe\nGAME.DAT\nREADME.txt\n");
  RunResult unzip = RunProcess({"/usr/bin/unzip", "-q", dir / "duel.zip", "-d", dir / "player"});
  ASSERT_EQ(unzip.exitCode, 0) << unzip.err;
  EXPECT_EQ(ReadFileBytes(dir / "player/GAME.DAT"), ReadFileBytes(dir / "data/GAME.DAT"));
  EXPECT_EQ(ReadFileBytes(dir / "player/Space Duel.exe"), ReadFileBytes(EnginePath()));
  std::string readme = ReadFileBytes(dir / "player/README.txt");
  EXPECT_NE(readme.find("double-click Space Duel.exe.\r\n"), std::string::npos) << readme;
  dir.Write("home/.asoundrc", "pcm.!default { type null }\n");
  RunResult game = RunProcess({Launcher(), dir / "player/Space Duel.exe"}, dir / "player",
                              {{"PELTO_NO_DIALOG", "1"}, {"HOME", dir / "home"}});
  EXPECT_EQ(game.exitCode, 0) << game.err;
  EXPECT_EQ(game.out, "running\tWin32\t3\n");
}

}  // namespace
