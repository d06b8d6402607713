// Loading the engine's chunks into a Lua state: results, every load error
// and its message, and the base library functions that load.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/unit/chunk_test_support.h"

namespace {

using namespace chunktest;

const char kScript[] =
    "local prefix = ...\n"
    "local function greet(name) return (prefix or 'hello') .. ', ' .. name end\n"
    "local t = {n = 0, flag = true, none = nil, pi = 3.5}\n"
    "for i = 1, 3 do t.n = t.n + i end\n"
    "return greet('world'), t.n, t.flag, t.pi\n";

std::string Msg(const char* name, const char* reason) {
  return std::string(name) + ": " + reason + " in precompiled chunk";
}

class ChunkLoad : public ::testing::Test {
 protected:
  ScriptState state;
  std::string chunk = CompileEngine(kScript);
  RecordMap map = MapEngineChunk(chunk);
};

TEST_F(ChunkLoad, LoadedChunkRunsWithArgumentsAndResults) {
  std::string message;
  ASSERT_EQ(state.Load(chunk, "=x", &message), 0) << message;
  lua_setglobal(state.L, "f");
  EXPECT_EQ(state.Run("return f()"), "hello, world 6 true 3.5");
  EXPECT_EQ(state.Run("return f('bye')"), "bye, world 6 true 3.5");
}

TEST_F(ChunkLoad, RuntimeErrorsNameTheSourceFileAndLine) {
  std::string engine = CompileEngine("local x = 1\nerror('boom')\n", "@game/boot.lua");
  std::string message;
  ASSERT_EQ(state.Load(engine, "boot.prg", &message), 0);
  ASSERT_NE(lua_pcall(state.L, 0, 0, 0), 0);
  EXPECT_STREQ(lua_tostring(state.L, -1), "game/boot.lua:2: boom");
  lua_pop(state.L, 1);
}

TEST_F(ChunkLoad, NameRuleFollowsTheLibrarysLoader) {
  std::string damaged = chunk;
  damaged[4] = 0x51;
  EXPECT_EQ(state.LoadError(damaged, "=x"), Msg("x", "bad header"));
  EXPECT_EQ(state.LoadError(damaged, "@dir/x.prg"), Msg("dir/x.prg", "bad header"));
  EXPECT_EQ(state.LoadError(damaged, damaged.c_str()), Msg("binary string", "bad header"));
  EXPECT_EQ(state.LoadError(damaged, "boot.prg"), Msg("boot.prg", "bad header"));
  EXPECT_EQ(state.LoadError(damaged, "="), Msg("", "bad header"));
}

TEST_F(ChunkLoad, VersionByteOfTheStandardFormIsABadHeader) {
  // Every header byte but the first (which tells a chunk from text) counts.
  for (size_t i = 1; i < kChunkHeaderSize; ++i) {
    std::string damaged = chunk;
    damaged[i] = char(damaged[i] ^ 0x40);
    EXPECT_EQ(state.LoadError(damaged, "boot.prg"), Msg("boot.prg", "bad header")) << i;
  }
  std::string versioned = chunk;
  versioned[4] = 0x51;
  EXPECT_EQ(state.LoadError(versioned, "boot.prg"), "boot.prg: bad header in precompiled chunk");
}

TEST_F(ChunkLoad, EveryTruncationIsAnUnexpectedEnd) {
  for (size_t n = 1; n < chunk.size(); ++n) {
    std::string cut = chunk.substr(0, n);
    ASSERT_EQ(state.LoadError(cut), Msg("chunk", "unexpected end")) << "cut at " << n;
  }
  EXPECT_EQ(lua_gettop(state.L), 0);
}

TEST_F(ChunkLoad, HugeCountsWithoutTheirItemsAreAnUnexpectedEndNotAnAllocation) {
  // The library allocates a count's items before reading them; it must
  // never be asked for gigabytes because a count says so.
  const size_t counts[] = {map.codeCount, map.constantCount, map.nestedCount, map.lineCount, map.localCount};
  for (size_t at : counts) {
    std::string damaged = chunk.substr(0, at + 6);  // the count and two bytes more
    PutInt(&damaged, at, 0x7FFFFFFF);
    std::string message;
    EXPECT_EQ(state.Load(damaged, "=chunk", &message), LUA_ERRSYNTAX) << at;
    EXPECT_EQ(message, at == map.lineCount ? Msg("chunk", "bad code") : Msg("chunk", "unexpected end")) << at;
  }
}

TEST_F(ChunkLoad, NegativeIntegersAreRefused) {
  const size_t fields[] = {map.lineDefined, map.codeCount, map.constantCount, map.nestedCount,
                           map.lineCount,   map.localCount, map.upvalueNameCount,
                           map.locals.at(0) + 4 + Word(chunk, map.locals[0], 4)};  // a local's first pc
  for (size_t at : fields) {
    std::string damaged = chunk;
    PutInt(&damaged, at, 0x80000000u);
    EXPECT_EQ(state.LoadError(damaged), Msg("chunk", "bad integer")) << at;
  }
}

TEST_F(ChunkLoad, UnknownConstantTypeIsABadConstant) {
  for (uint8_t type : {2, 5, 8, 0xFF}) {
    std::string damaged = chunk;
    damaged[map.constants.at(0)] = char(type);
    EXPECT_EQ(state.LoadError(damaged), Msg("chunk", "bad constant")) << int(type);
  }
}

TEST_F(ChunkLoad, MissingStringsWhereTheVmNeedsOneAreBadConstants) {
  // A string constant stored with the length 0 (no string at all).
  size_t stringConstant = 0;
  for (size_t at : map.constants)
    if (chunk[at] == 4) stringConstant = at;
  ASSERT_NE(stringConstant, 0u);
  std::string damaged = chunk;
  size_t length = Word(chunk, stringConstant + 1, 4);
  PutInt(&damaged, stringConstant + 1, 0);
  damaged.erase(stringConstant + 5, length);
  EXPECT_EQ(state.LoadError(damaged), Msg("chunk", "bad constant"));

  // A local variable without a name.
  damaged = chunk;
  length = Word(chunk, map.locals.at(0), 4);
  PutInt(&damaged, map.locals[0], 0);
  damaged.erase(map.locals[0] + 4, length);
  EXPECT_EQ(state.LoadError(damaged), Msg("chunk", "bad constant"));

  // An upvalue without a name: greet's upvalue "prefix".
  const RecordMap& greet = map.nested.at(0);
  ASSERT_EQ(greet.upvalueNames.size(), 1u);
  damaged = chunk;
  length = Word(chunk, greet.upvalueNames[0], 4);
  PutInt(&damaged, greet.upvalueNames[0], 0);
  damaged.erase(greet.upvalueNames[0] + 4, length);
  EXPECT_EQ(state.LoadError(damaged), Msg("chunk", "bad constant"));
}

TEST_F(ChunkLoad, InvalidOperationIsBadCode) {
  for (uint32_t op : {38u, 50u, 63u}) {
    std::string damaged = chunk;
    uint32_t word = uint32_t(Word(chunk, map.code, 4));
    PutInt(&damaged, map.code, (word & ~0x3Fu) | op);
    EXPECT_EQ(state.LoadError(damaged), Msg("chunk", "bad code")) << op;
  }
  // The standard number of an operation means another one to the engine; a
  // chunk whose code was not renumbered does not pass the code check.
  std::string unnumbered = chunk;
  for (int i = 0; i < map.codeSize; ++i) {
    uint32_t word = uint32_t(Word(chunk, map.code + 4 * i, 4));
    PutInt(&unnumbered, map.code + 4 * i, (word & ~0x3Fu) | StandardOpFromEngine(word & 0x3F));
  }
  EXPECT_EQ(state.LoadError(unnumbered), Msg("chunk", "bad code"));
}

TEST_F(ChunkLoad, DebugCountsThatDoNotMatchTheCodeAreBadCode) {
  // Line information for fewer instructions than there are.
  std::string damaged = chunk;
  size_t lines = Word(chunk, map.lineCount, 4);
  ASSERT_GT(lines, 1u);
  PutInt(&damaged, map.lineCount, uint32_t(lines - 1));
  damaged.erase(map.lineCount + 4, 4);
  EXPECT_EQ(state.LoadError(damaged), Msg("chunk", "bad code"));

  // Upvalue names that are not one per upvalue: greet has one upvalue.
  const RecordMap& greet = map.nested.at(0);
  damaged = chunk;
  damaged[greet.upvalueCountByte] = 2;
  EXPECT_EQ(state.LoadError(damaged), Msg("chunk", "bad code"));

  // No line information and no upvalue names at all is fine (stripped).
  damaged = chunk;
  PutInt(&damaged, greet.upvalueNameCount, 0);
  damaged.erase(greet.upvalueNameCount + 4, greet.end - greet.upvalueNameCount - 4);
  EXPECT_EQ(state.LoadError(damaged), "");
}

TEST_F(ChunkLoad, AFaultEarlierInTheChunkIsReportedFirst) {
  // Bad code in the nested function, then the chunk ends early.
  std::string damaged = chunk;
  const RecordMap& greet = map.nested.at(0);
  uint32_t word = uint32_t(Word(chunk, greet.code, 4));
  PutInt(&damaged, greet.code, (word & ~0x3Fu) | 40);
  EXPECT_EQ(state.LoadError(damaged.substr(0, map.lineCount + 2)), Msg("chunk", "bad code"));
  EXPECT_EQ(state.LoadError(damaged.substr(0, greet.end - 1)), Msg("chunk", "unexpected end"));
}

TEST_F(ChunkLoad, NestingBeyondTheCallDepthLimitIsCodeTooDeep) {
  EXPECT_EQ(state.LoadError(NestedChunk(200)), "");
  EXPECT_EQ(state.LoadError(NestedChunk(201)), Msg("chunk", "code too deep"));
  EXPECT_EQ(state.LoadError(NestedChunk(300)), Msg("chunk", "code too deep"));
  std::string deep = NestedChunk(100000);
  EXPECT_EQ(state.LoadError(deep), Msg("chunk", "code too deep"));
  EXPECT_EQ(state.LoadError(deep.substr(0, deep.size() / 2)), Msg("chunk", "code too deep"));
}

TEST_F(ChunkLoad, StandardChunksAndSourceTextDoNotLoad) {
  Bytes standard = DumpStandard(kScript);
  EXPECT_EQ(state.LoadError(std::string(standard.begin(), standard.end()), "=x"), "x: not a precompiled chunk");
  EXPECT_EQ(state.LoadError("return 1", "=x"), "x: not a precompiled chunk");
  EXPECT_EQ(state.LoadError("", "=x"), "x: not a precompiled chunk");
  std::string message;
  EXPECT_EQ(state.Load("return 1", "=x", &message), LUA_ERRSYNTAX);
  EXPECT_EQ(state.Load("\x04", "=x", &message), LUA_ERRSYNTAX);
  EXPECT_EQ(message, Msg("x", "unexpected end"));
}

TEST_F(ChunkLoad, StringsStoredWithoutTheKeyComeOutWrongButLoad) {
  std::string engine = CompileEngine("return 'Hello', 'a\\0b'");
  RecordMap m = MapEngineChunk(engine);
  std::string plain = engine;
  for (size_t at : m.constants) {
    size_t length = Word(engine, at + 1, 4);
    for (size_t i = 0; i + 1 < length; ++i) plain[at + 5 + i] = char(plain[at + 5 + i] ^ 0xD6);
  }
  std::string message;
  ASSERT_EQ(state.Load(plain, "=x", &message), 0) << message;
  ASSERT_EQ(lua_pcall(state.L, 0, 2, 0), 0);
  size_t n = 0;
  const char* first = lua_tolstring(state.L, -2, &n);
  EXPECT_EQ(std::string(first, n), std::string("\x9e\xb3\xba\xba\xb9"));  // "Hello" ^ 0xD6
  const char* second = lua_tolstring(state.L, -1, &n);
  EXPECT_EQ(std::string(second, n), std::string("\xb7\xd6\xb4", 3));
  lua_pop(state.L, 2);
}

TEST_F(ChunkLoad, DamageAnywhereNeverCrashes) {
  // Every byte flipped in turn, and a few fixed values: each load either
  // succeeds or fails with one of the loader's messages.
  for (size_t i = 0; i < chunk.size(); ++i) {
    for (uint8_t value : {uint8_t(chunk[i] ^ 0xFF), uint8_t(0x00), uint8_t(0x80)}) {
      std::string damaged = chunk;
      damaged[i] = char(value);
      std::string message = state.LoadError(damaged);
      if (!message.empty()) {
        EXPECT_NE(message.find("chunk"), std::string::npos) << message;
      }
    }
  }
  EXPECT_EQ(lua_gettop(state.L), 0);
}

// The base library's loading functions, replaced.
class ChunkLoaders : public ::testing::Test {
 protected:
  void SetUp() override {
    state.SetString("chunk", CompileEngine("return 'loaded', ...", "=inner"));
    std::string damaged = CompileEngine("return 1");
    damaged[4] = 0x51;
    state.SetString("damaged", damaged);
    dir = std::filesystem::temp_directory_path() / ("pelto_chunk_test_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    state.SetString("dir", dir.string());
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string WriteFile(const std::string& name, const std::string& bytes) {
    std::string path = (dir / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  ScriptState state;
  std::filesystem::path dir;
};

TEST_F(ChunkLoaders, LoadstringLoadsTheEnginesFormOnly) {
  EXPECT_EQ(state.Run("return loadstring(chunk)(1, 2)"), "loaded 1 2");
  EXPECT_EQ(state.Run("return loadstring('return 1')"), "nil return 1: not a precompiled chunk");
  EXPECT_EQ(state.Run("return loadstring(damaged)"), "nil binary string: bad header in precompiled chunk");
  EXPECT_EQ(state.Run("return loadstring(damaged, '=mine')"), "nil mine: bad header in precompiled chunk");
  EXPECT_EQ(state.Run("return loadstring(damaged, 'plain')"), "nil plain: bad header in precompiled chunk");
  EXPECT_EQ(state.Run("return loadstring(nil)"),
            "error: test:1: bad argument #1 to 'loadstring' (string expected, got nil)");
}

TEST_F(ChunkLoaders, LoadfileAndDofileReadFilesByPath) {
  std::string path = WriteFile("a.prg", CompileEngine("return 'from file', ...", "@a.lua"));
  WriteFile("bad.prg", CompileEngine("return 1").replace(4, 1, "\x51"));
  WriteFile("text.lua", "return 1");
  WriteFile("hashbang.prg", "#!/usr/bin/pelto\n" + CompileEngine("return 'skipped first line'"));
  EXPECT_EQ(state.Run("return loadfile(dir .. '/a.prg')(7)"), "from file 7");
  EXPECT_EQ(state.Run("return dofile(dir .. '/a.prg')"), "from file");
  EXPECT_EQ(state.Run("return dofile(dir .. '/hashbang.prg')"), "skipped first line");
  EXPECT_EQ(state.Run("return loadfile(dir .. '/bad.prg')"),
            "nil " + (dir / "bad.prg").string() + ": bad header in precompiled chunk");
  EXPECT_EQ(state.Run("return loadfile(dir .. '/text.lua')"),
            "nil " + (dir / "text.lua").string() + ": not a precompiled chunk");
  EXPECT_EQ(state.Run("return dofile(dir .. '/bad.prg')"),
            "error: " + (dir / "bad.prg").string() + ": bad header in precompiled chunk");
  EXPECT_EQ(state.Run("return loadfile(dir .. '/none.prg')"),
            "nil cannot open " + (dir / "none.prg").string() + ": No such file or directory");
  EXPECT_EQ(state.Run("return dofile(dir .. '/none.prg')"),
            "error: cannot open " + (dir / "none.prg").string() + ": No such file or directory");
  EXPECT_EQ(state.Run("return loadfile(dir)"), "nil cannot read " + dir.string() + ": Is a directory");
}

TEST_F(ChunkLoaders, WithoutAPathTheyReadStandardInput) {
  std::string path = WriteFile("stdin.prg", CompileEngine("return 'from stdin'"));
  int saved = dup(0);
  int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  dup2(fd, 0);
  close(fd);
  std::clearerr(stdin);
  std::string loaded = state.Run("return loadfile()()");
  std::clearerr(stdin);
  lseek(0, 0, SEEK_SET);
  std::string done = state.Run("return dofile()");
  std::clearerr(stdin);
  std::string named = state.Run("return loadfile(nil)");
  dup2(saved, 0);
  close(saved);
  std::clearerr(stdin);
  EXPECT_EQ(loaded, "from stdin");
  EXPECT_EQ(done, "from stdin");
  EXPECT_EQ(named, "nil stdin: not a precompiled chunk");  // stdin is at its end by now
}

TEST_F(ChunkLoaders, LoadCollectsThePiecesOfAReader) {
  state.Run(
      "function pieces(s, size)\n"
      "  local at = 1\n"
      "  return function()\n"
      "    local piece = s:sub(at, at + size - 1)\n"
      "    at = at + size\n"
      "    if piece ~= '' then return piece end\n"
      "  end\n"
      "end");
  EXPECT_EQ(state.Run("return load(pieces(chunk, 3))('x')"), "loaded x");
  EXPECT_EQ(state.Run("return load(pieces(chunk, 1000))()"), "loaded");
  EXPECT_EQ(state.Run("return load(pieces(damaged, 5))"), "nil (load): bad header in precompiled chunk");
  EXPECT_EQ(state.Run("return load(pieces(damaged, 5), '=named')"), "nil named: bad header in precompiled chunk");
  // An empty piece ends the input: the reader is not called again.
  EXPECT_EQ(state.Run("local n = 0 return load(function() n = n + 1 if n == 1 then return chunk end "
                      "if n == 2 then return '' end error('called again') end)()"),
            "loaded");
  EXPECT_EQ(state.Run("return load(function() return nil end)"), "nil (load): not a precompiled chunk");
  EXPECT_EQ(state.Run("return load(function() return {} end)"), "nil test:1: reader function must return a string");
  EXPECT_EQ(state.Run("return load(function() error('broken reader') end)"), "nil test:1: broken reader");
  EXPECT_EQ(state.Run("return load('not a function')"),
            "error: test:1: bad argument #1 to 'load' (function expected, got string)");
}

TEST_F(ChunkLoaders, StringDumpFailsLikeTheStringLibraryWithoutAWriter) {
  EXPECT_EQ(state.Run("return pcall(string.dump, print)"), "false unable to dump given function");
  EXPECT_EQ(state.Run("return pcall(string.dump, function() end)"), "false unable to dump given function");
  EXPECT_EQ(state.Run("return string.dump(1)"),
            "error: test:1: bad argument #1 to 'dump' (function expected, got number)");
}

}  // namespace
