// Precompiled chunks end to end: pelto-tool compile, boot.prg in the engine's
// form or not, and scripts loading chunk files themselves.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/engine_runner.h"

namespace {

const std::string kEngineHeader("\x04PRG\x10\x01\x01\x04\x04\x04\x08\x00", 12);


// Runs a game whose boot.prg is exactly these bytes.
RunResult RunBootBytes(const std::string& bytes) {
  ScratchDir dir;
  BuildGame(dir, {{"boot.prg", bytes}});
  return RunGame(dir);
}

TEST(CompileCommand, WritesTheEnginesFormThatTheEngineRuns) {
  ScratchDir dir;
  std::string src = dir.Write("game.lua", "#!/usr/bin/env pelto\nlocal function sq(x) return x * x end\nprint(sq(7), 'seven')\n");
  RunResult r = RunProcess({ToolPath(), "compile", src, "-o", dir / "game.prg"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
  std::string chunk = dir.Read("game.prg");
  EXPECT_EQ(chunk.substr(0, 12), kEngineHeader);
  EXPECT_EQ(chunk.find("seven"), std::string::npos);  // strings are stored scrambled

  RunResult run = RunBootBytes(chunk);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "49\tseven\n");
}

TEST(CompileCommand, KeepsLineNumbersForRuntimeErrors) {
  RunResult r = RunBootSource("local x = 1\n\nerror('third line')\n");
  EXPECT_EQ(r.exitCode, 1);
  auto lines = ErrorLines(r.err);
  ASSERT_EQ(lines.size(), 2u) << r.err;
  EXPECT_NE(lines[0].find("boot.lua:3: third line]"), std::string::npos) << lines[0];
}

TEST(CompileCommand, SyntaxErrorWritesNothingAndExitsWithOne) {
  ScratchDir dir;
  std::string src = dir.Write("bad.lua", "local x = 1\nlocal = 2\n");
  RunResult r = RunProcess({ToolPath(), "compile", src, "-o", dir / "bad.prg"}, dir.path());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("bad.lua:2:"), std::string::npos) << r.err;
  EXPECT_EQ(dir.Read("bad.prg"), "");
  // An existing output stays as it was.
  dir.Write("bad.prg", "old");
  EXPECT_EQ(RunProcess({ToolPath(), "compile", src, "-o", dir / "bad.prg"}).exitCode, 1);
  EXPECT_EQ(dir.Read("bad.prg"), "old");
}

TEST(CompileCommand, UnreadableSourceOrUnwritableOutputFailsAndMissingFoldersAreMade) {
  ScratchDir dir;
  RunResult r = RunProcess({ToolPath(), "compile", dir / "none.lua", "-o", dir / "out.prg"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("cannot read"), std::string::npos) << r.err;
  std::string src = dir.Write("ok.lua", "return 1");
  // A missing output folder is made; a file in its way is an error.
  r = RunProcess({ToolPath(), "compile", src, "-o", dir / "missing/folder/out.prg"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(dir.Read("missing/folder/out.prg").substr(0, 4), "\x04PRG");
  r = RunProcess({ToolPath(), "compile", src, "-o", dir / "ok.lua/out.prg"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("error: cannot write " + dir / "ok.lua/out.prg"), std::string::npos) << r.err;
}

TEST(CompileCommand, ArgumentsAreCheckedAndHelpIsOffered) {
  ScratchDir dir;
  std::string src = dir.Write("ok.lua", "return 1");
  const std::vector<std::vector<std::string>> bad = {
      {"compile"}, {"compile", src}, {"compile", src, "-o"}, {"compile", src, src, "-o", dir / "x.prg"},
      {"compile", src, "-o", dir / "x.prg", "--fast"}, {"compile", src, "-o", dir / "a", "-o", dir / "b"}};
  for (auto args : bad) {
    args.insert(args.begin(), ToolPath());
    RunResult r = RunProcess(args);
    EXPECT_EQ(r.exitCode, 2) << args.size();
    EXPECT_NE(r.err.find("usage: pelto-tool compile"), std::string::npos) << r.err;
  }
  RunResult help = RunProcess({ToolPath(), "compile", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("usage: pelto-tool compile SRC.lua -o OUT.prg"), std::string::npos);
}

TEST(BootChunk, DamagedHeaderIsASyntaxErrorAndCorruptData) {
  std::string chunk = CompileLua("print('never')");
  chunk[4] = 0x51;
  RunResult r = RunBootBytes(chunk);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  auto lines = ErrorLines(r.err);
  ASSERT_EQ(lines.size(), 2u) << r.err;
  EXPECT_EQ(lines[0], "Error: Syntax error in lua script [boot.prg: bad header in precompiled chunk]");
  EXPECT_EQ(lines[1], "Error: Data file missing or corrupt.");
}

TEST(BootChunk, TruncatedChunkIsAnUnexpectedEnd) {
  std::string chunk = CompileLua("print('never')");
  RunResult r = RunBootBytes(chunk.substr(0, chunk.size() - 3));
  EXPECT_EQ(r.exitCode, 1);
  auto lines = ErrorLines(r.err);
  ASSERT_EQ(lines.size(), 2u) << r.err;
  EXPECT_EQ(lines[0], "Error: Syntax error in lua script [boot.prg: unexpected end in precompiled chunk]");
}

TEST(BootChunk, SourceTextIsNotLoaded) {
  RunResult r = RunBootBytes("print('source text')\n");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  auto lines = ErrorLines(r.err);
  ASSERT_EQ(lines.size(), 2u) << r.err;
  EXPECT_EQ(lines[0], "Error: Syntax error in lua script [boot.prg: not a precompiled chunk]");
  EXPECT_EQ(lines[1], "Error: Data file missing or corrupt.");
}

TEST(ScriptLoading, ScriptsLoadCompiledChunkFilesButNoSourceText) {
  ScratchDir dir;
  BuildGame(dir, {{"boot.lua",
                   "local f = assert(loadfile('data/lib.prg'))\n"
                   "print(f(2))\n"
                   "print(dofile('data/lib.prg'))\n"
                   "print(loadstring('return 1'))\n"
                   "print(loadfile('data/none.prg'))\n"
                   "print(loadfile('data/bad.prg'))\n"
                   "print(pcall(string.dump, print))\n"}});
  dir.Write("data/lib.prg", CompileLua("local n = ... return 'lib', (n or 0) * 21"));
  std::string bad = CompileLua("return 1");
  bad[4] = 0x51;
  dir.Write("data/bad.prg", bad);
  RunResult r = RunGame(dir);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "lib\t42\n"
            "lib\t0\n"
            "nil\treturn 1: not a precompiled chunk\n"
            "nil\tcannot open data/none.prg: No such file or directory\n"
            "nil\tdata/bad.prg: bad header in precompiled chunk\n"
            "false\tunable to dump given function\n");
}

TEST(ScriptLoading, DofileOfADamagedChunkIsARuntimeError) {
  ScratchDir dir;
  BuildGame(dir, {{"boot.lua", "dofile('data/bad.prg')"}});
  std::string bad = CompileLua("return 1");
  dir.Write("data/bad.prg", bad.substr(0, 20));
  RunResult r = RunGame(dir);
  EXPECT_EQ(r.exitCode, 1);
  auto lines = ErrorLines(r.err);
  ASSERT_EQ(lines.size(), 2u) << r.err;
  EXPECT_EQ(lines[0], "Error: Lua runtime error [data/bad.prg: unexpected end in precompiled chunk]");
  EXPECT_EQ(lines[1], "Error: A fatal error occurred.");
}

}  // namespace
