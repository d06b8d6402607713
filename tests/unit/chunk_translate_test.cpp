// Translation between the library's standard chunks and the engine's form.
#include <string>

#include <gtest/gtest.h>

#include "tests/unit/chunk_test_support.h"

namespace {

using namespace chunktest;

const char* const kScripts[] = {
    // nested functions, upvalues, closures
    "local function counter(start)\n"
    "  local n = start\n"
    "  return function(step) n = n + (step or 1) return n end\n"
    "end\n"
    "local c = counter(10)\n"
    "c() c(5)\n"
    "return c(0)\n",
    // every kind of constant: nil, booleans, numbers, strings (one with a zero byte)
    "local a, b = ...\n"
    "local t = {}\n"
    "if a == nil then t[1] = true end\n"
    "if b == false then t[2] = 'str\\0with zero' end\n"
    "t[3] = 3.25 t.x = -1e300\n"
    "return t[1], #t[2], t[3], t.x\n",
    // varargs
    "local function sum(...)\n"
    "  local s = 0\n"
    "  for i = 1, select('#', ...) do s = s + select(i, ...) end\n"
    "  return s, ...\n"
    "end\n"
    "return sum(1, 2, 3)\n",
    // functions nested several levels, loops, method calls
    "local o = {v = 2}\n"
    "function o:twice() return function() return function() return self.v * 2 end end end\n"
    "local r = 0\n"
    "for k, v in pairs({1, 2, 3}) do r = r + v end\n"
    "while r < 100 do r = r * 2 end\n"
    "return o:twice()()() + r\n",
    "",
};

Bytes RoundTrip(const Bytes& standard) {
  Bytes engine, back;
  EXPECT_EQ(TranslateStandardChunk(standard.data(), standard.size(), &engine), ChunkError::None);
  EXPECT_EQ(TranslateEngineChunk(engine.data(), engine.size(), &back), ChunkError::None);
  return back;
}

TEST(ChunkTranslation, RoundTripGivesTheLibrarysDumpByteForByte) {
  for (const char* script : kScripts) {
    Bytes standard = DumpStandard(script);
    EXPECT_EQ(RoundTrip(standard), standard) << script;
  }
}

TEST(ChunkTranslation, EngineFormHasItsHeaderShortLengthsScrambledStringsAndOwnOperations) {
  std::string source = "return 'hello'";
  Bytes standard = DumpStandard(source, "=src");
  std::string engine = CompileEngine(source, "=src");
  std::string std(standard.begin(), standard.end());
  EXPECT_EQ(engine.compare(0, kChunkHeaderSize, std::string(reinterpret_cast<const char*>(kEngineChunkHeader), kChunkHeaderSize)), 0);

  RecordMap e = MapEngineChunk(engine);
  RecordMap s = MapRecord(std, kChunkHeaderSize, sizeof(size_t));
  // The source "=src": length 5 in four bytes, each byte but the last XORed.
  EXPECT_EQ(Word(engine, e.source, 4), 5u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(uint8_t(engine[e.source + 4 + i]), uint8_t("=src"[i] ^ 0xD6));
  EXPECT_EQ(engine[e.source + 8], '\0');
  // Same code, each operation renumbered, the other bits untouched.
  ASSERT_EQ(e.codeSize, s.codeSize);
  for (int i = 0; i < e.codeSize; ++i) {
    uint32_t ew = uint32_t(Word(engine, e.code + 4 * i, 4)), sw = uint32_t(Word(std, s.code + 4 * i, 4));
    EXPECT_EQ(ew & ~0x3Fu, sw & ~0x3Fu);
    EXPECT_EQ(ew & 0x3F, EngineOpFromStandard(sw & 0x3F));
  }
  // Only the eight length fields shrank (source, one string constant).
  EXPECT_EQ(standard.size() - engine.size(), 2 * (sizeof(size_t) - 4));
}

TEST(ChunkTranslation, BatchNumberAfterALongTableConstructorIsNotAnOperation) {
  // More than 511 batches of 50 items: SETLIST stores its batch number in
  // the next code word, which is data and keeps its value.
  std::string source = "return {";
  for (int i = 0; i < 26000; ++i) source += "1,";
  source += "2}";
  Bytes standard = DumpStandard(source);
  EXPECT_EQ(RoundTrip(standard), standard);

  std::string engine = CompileEngine(source);
  std::string std(standard.begin(), standard.end());
  RecordMap e = MapEngineChunk(engine);
  RecordMap s = MapRecord(std, kChunkHeaderSize, sizeof(size_t));
  int rawWords = 0;
  for (int i = 0; i + 1 < s.codeSize; ++i) {
    uint32_t word = uint32_t(Word(std, s.code + 4 * i, 4));
    if ((word & 0x3F) == 34 && ((word >> 14) & 0x1FF) == 0) {
      EXPECT_EQ(Word(engine, e.code + 4 * (i + 1), 4), Word(std, s.code + 4 * (i + 1), 4));
      ++rawWords;
      ++i;
    }
  }
  EXPECT_GT(rawWords, 0);

  ScriptState state;
  std::string message;
  ASSERT_EQ(state.Load(engine, "=big", &message), 0) << message;
  lua_setglobal(state.L, "big");
  EXPECT_EQ(state.Run("local t = big() return #t, t[26000], t[26001]"), "26001 1 2");
}

TEST(ChunkTranslation, InputWithoutTheSignatureByteIsNotPrecompiled) {
  Bytes standard = DumpStandard("return 1");
  Bytes out = {1, 2, 3};
  EXPECT_EQ(TranslateEngineChunk(standard.data(), standard.size(), &out), ChunkError::NotPrecompiled);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(TranslateEngineChunk(nullptr, 0, &out), ChunkError::NotPrecompiled);
  std::string engine = CompileEngine("return 1");
  EXPECT_EQ(TranslateStandardChunk(reinterpret_cast<const uint8_t*>(engine.data()), engine.size(), &out),
            ChunkError::NotPrecompiled);
  const char text[] = "return 1";
  EXPECT_EQ(TranslateStandardChunk(reinterpret_cast<const uint8_t*>(text), sizeof text - 1, &out),
            ChunkError::NotPrecompiled);
}

TEST(ChunkTranslation, ToolRefusesAnythingButThisMachinesStandardForm) {
  Bytes standard = DumpStandard("return 1");
  Bytes out;
  Bytes other = standard;
  other[8] = 4;  // a 32-bit machine's size_t
  EXPECT_EQ(TranslateStandardChunk(other.data(), other.size(), &out), ChunkError::BadHeader);
  other = standard;
  other[4] = 0x52;
  EXPECT_EQ(TranslateStandardChunk(other.data(), other.size(), &out), ChunkError::BadHeader);
  other.assign(standard.begin(), standard.end() - 1);
  EXPECT_EQ(TranslateStandardChunk(other.data(), other.size(), &out), ChunkError::UnexpectedEnd);
  EXPECT_TRUE(out.empty());  // the tool gets whole chunks or nothing
}

TEST(ChunkTranslation, HeaderFaultsLeaveNothingForTheLibrary) {
  std::string engine = CompileEngine("return 1");
  Bytes out = {9};
  std::string damaged = engine;
  damaged[4] = 0x51;
  EXPECT_EQ(TranslateEngineChunk(reinterpret_cast<const uint8_t*>(damaged.data()), damaged.size(), &out),
            ChunkError::BadHeader);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(TranslateEngineChunk(reinterpret_cast<const uint8_t*>(engine.data()), 7, &out), ChunkError::UnexpectedEnd);
  EXPECT_TRUE(out.empty());
}

TEST(ChunkTranslation, PrefixCountsAreTrimmedToTheItemsBegun) {
  // The code count claims two billion instructions; two are present.
  std::string engine = CompileEngine("local a = 1 return a");
  RecordMap m = MapEngineChunk(engine);
  std::string damaged = engine.substr(0, m.code + 8);
  PutInt(&damaged, m.codeCount, 0x7FFFFFFF);
  Bytes prefix;
  EXPECT_EQ(TranslateEngineChunk(reinterpret_cast<const uint8_t*>(damaged.data()), damaged.size(), &prefix),
            ChunkError::UnexpectedEnd);
  // Header, source "@script.lua" (8 + 12), two lines, four bytes, the count
  // (now 3: two whole and the one cut short), two instructions.
  ASSERT_EQ(prefix.size(), kChunkHeaderSize + 20 + 8 + 4 + 4 + 8);
  EXPECT_EQ(Word(std::string(prefix.begin(), prefix.end()), kChunkHeaderSize + 20 + 8 + 4, 4), 3u);
}

TEST(ChunkTranslation, TranslatorGivesUpOnDeepNestingWithoutExhaustingItsStack) {
  Bytes out;
  std::string deep = NestedChunk(kChunkMaxNesting);
  EXPECT_EQ(TranslateEngineChunk(reinterpret_cast<const uint8_t*>(deep.data()), deep.size(), &out), ChunkError::None);
  deep = NestedChunk(kChunkMaxNesting + 1);
  EXPECT_EQ(TranslateEngineChunk(reinterpret_cast<const uint8_t*>(deep.data()), deep.size(), &out),
            ChunkError::CodeTooDeep);
  deep = NestedChunk(200000);
  EXPECT_EQ(TranslateEngineChunk(reinterpret_cast<const uint8_t*>(deep.data()), deep.size(), &out),
            ChunkError::CodeTooDeep);
}

}  // namespace
