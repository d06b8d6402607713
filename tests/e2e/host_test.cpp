// Start-up, the script host and the ways a run ends, seen from outside.
#include <string>

#include <gtest/gtest.h>

#include "tests/e2e/engine_runner.h"

namespace {


TEST(BootScript, ReturningEndsTheRunWithExitCodeZero) {
  RunResult r = RunBootSource("print('hello from boot') return 1, 2, 3");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "hello from boot\n");
  EXPECT_EQ(r.err, "");
}

TEST(BootScript, SeesOnlyTheFourLibrariesAndThePeltoTable) {
  RunResult r = RunBootSource(R"(
    print(type(coroutine), type(table), type(string), type(math))
    print(io, os, package, debug, require, module)
    print(pelto.KEY_A, pelto.KEY_ESC, pelto.KEY_KP_ENTER, KEY_A, pelto.platform)
    local n = 0
    for k, v in pairs(pelto) do if k:sub(1, 4) == "KEY_" then n = n + 1 end end
    print(n, pelto.desktopWidth, pelto.desktopHeight)
  )");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "table\ttable\ttable\ttable\n"
            "nil\tnil\tnil\tnil\tnil\tnil\n"
            "65\t257\t318\tnil\t" + std::string(WindowsEngine() ? "Win32" : "Linux") + "\n"
            "117\t1280\t1024\n");  // the test server's screen is 1280x1024
}

TEST(BootScript, ArgsHoldEveryProcessArgumentOptionsIncluded) {
  ScratchDir dir;
  BuildGame(dir, {{"boot.lua", "for i = 1, #pelto.args do print(i, pelto.args[i]) end"}});
  RunResult r = RunGame(dir, {"--nocrt", "level 2", "--NOCRT"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "1\t" + EngineArgv0() + "\n2\t--datapath\n3\t" + (dir / "data") +
                       "\n4\t--nocrt\n5\tlevel 2\n6\t--NOCRT\n");
}

TEST(BootScript, RuntimeErrorShowsTwoBoxesAndExitsWithOne) {
  RunResult r = RunBootSource("local x = 1\nerror('boom')");
  EXPECT_EQ(r.exitCode, 1);
  auto lines = ErrorLines(r.err);
  ASSERT_EQ(lines.size(), 2u) << r.err;
  EXPECT_EQ(lines[0].rfind("Error: Lua runtime error [", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find("boot.lua:2: boom]"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[1], "Error: A fatal error occurred.");
}

TEST(BootScript, ErrorValuesWithoutTextAreNamedByType) {
  RunResult r = RunBootSource("error({})");
  EXPECT_EQ(r.exitCode, 1);
  auto lines = ErrorLines(r.err);
  ASSERT_EQ(lines.size(), 2u) << r.err;
  EXPECT_EQ(lines[0], "Error: Lua runtime error [(error object is a table value)]");
  RunResult n = RunBootSource("error(42, 0)");
  EXPECT_EQ(ErrorLines(n.err).at(0), "Error: Lua runtime error [42]");
}

TEST(BootScript, LongErrorTextIsCutToTheBoxBuffer) {
  RunResult r = RunBootSource("error(string.rep('x', 2000), 0)");
  EXPECT_EQ(r.exitCode, 1);
  auto lines = ErrorLines(r.err);
  ASSERT_EQ(lines.size(), 2u);
  // "Error: " + 511 characters of the 512-byte buffer.
  EXPECT_EQ(lines[0], "Error: Lua runtime error [" + std::string(511 - 19, 'x'));
}

TEST(BootScript, MissingBootScriptIsMissingData) {
  ScratchDir dir;
  BuildGame(dir, {{"Boot.prg", CompileLua("print('wrong name')")}});
  RunResult r = RunGame(dir);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(ErrorLines(r.err), std::vector<std::string>{"Error: Data file missing or corrupt."});
}

TEST(BootScript, DumpingFunctionsFails) {
  RunResult r = RunBootSource(R"(
    print(pcall(string.dump, print))
    print(pcall(string.dump, function() end))
    print(pcall(string.dump))
  )");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "false\tunable to dump given function\n"
            "false\tunable to dump given function\n"
            "false\tbad argument #1 to '?' (function expected, got no value)\n");
}

TEST(Startup, DataFolderWithoutArchivesMountsButHasNoBootScript) {
  ScratchDir dir;
  dir.Write("data/readme.txt", "not an archive");
  dir.Write("data/.DAT", "too short a name");
  RunResult r = RunGame(dir);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(ErrorLines(r.err), std::vector<std::string>{"Error: Data file missing or corrupt."});
}

TEST(Startup, MissingDataFolderCannotBeFound) {
  ScratchDir dir;
  RunResult r = RunProcess({EnginePath(), "--datapath", dir / "nowhere"}, dir.path(), {{"PELTO_NO_DIALOG", "1"}});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(ErrorLines(r.err), std::vector<std::string>{"Error: Cannot find game data."});
}

TEST(Startup, DataPathDefaultsToTheCurrentFolder) {
  ScratchDir dir;
  BuildGame(dir, {{"boot.lua", "print('found')"}});
  RunResult r = RunProcess({EnginePath()}, dir / "data", {{"PELTO_NO_DIALOG", "1"}});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "found\n");
}

TEST(Startup, DatapathAsLastArgumentLeavesTheCurrentFolder) {
  ScratchDir dir;
  BuildGame(dir, {{"boot.lua", "print(#pelto.args)"}});
  RunResult r = RunProcess({EnginePath(), "--datapath"}, dir / "data", {{"PELTO_NO_DIALOG", "1"}});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "2\n");
}

TEST(Startup, WithoutADisplayTheWindowLibraryCannotStart) {
  ScratchDir dir;
  BuildGame(dir, {{"boot.lua", "print('never')"}});
  RunResult r = RunGame(dir, {}, {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ErrorLines(r.err), std::vector<std::string>{"Error: Unable to initialise GLFW."});
}

#if !defined(PELTO_SANITIZE_BUILD)
// Address-space limits and the sanitizers' shadow memory do not mix.
TEST(BootScript, ExhaustedMemoryEndsWithOutOfMemoryAndNoLuaMessage) {
  ScratchDir dir;
  BuildGame(dir, {{"boot.lua", "local t = {} for i = 1, 1e9 do t[i] = {i} end"}});
  RunResult r = RunProcess({"/usr/bin/prlimit", "--as=400000000", EnginePath(), "--datapath", dir / "data"},
                           dir.path(), {{"PELTO_NO_DIALOG", "1"}});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(ErrorLines(r.err), std::vector<std::string>{"Error: Out of memory."});
}
#endif

}  // namespace
