// Helpers for the chunk tests: compiling with the real library, a map of
// where each field of a chunk sits (so a test can damage it in the right
// place), hand-built records and a Lua state set up like the engine's.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <lua.hpp>

#include "host/chunk_format.h"
#include "host/chunk_loaders.h"
#include "host/chunk_translate.h"

namespace chunktest {

using Bytes = std::vector<uint8_t>;

inline int CollectBytes(lua_State*, const void* p, size_t n, void* out) {
  auto* bytes = static_cast<Bytes*>(out);
  bytes->insert(bytes->end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
  return 0;
}

// lua_dump's output for the source (the library's standard form).
inline Bytes DumpStandard(const std::string& source, const std::string& chunkName = "@script.lua") {
  lua_State* L = luaL_newstate();
  Bytes bytes;
  EXPECT_EQ(luaL_loadbuffer(L, source.data(), source.size(), chunkName.c_str()), 0) << lua_tostring(L, -1);
  EXPECT_EQ(lua_dump(L, CollectBytes, &bytes), 0);
  lua_close(L);
  return bytes;
}

// The source compiled into the engine's form, as a Lua-ready string.
inline std::string CompileEngine(const std::string& source, const std::string& chunkName = "@script.lua") {
  Bytes standard = DumpStandard(source, chunkName);
  Bytes engine;
  EXPECT_EQ(TranslateStandardChunk(standard.data(), standard.size(), &engine), ChunkError::None);
  return std::string(engine.begin(), engine.end());
}

// Where the fields of one function record sit in a chunk.
struct RecordMap {
  size_t source = 0, lineDefined = 0, upvalueCountByte = 0;
  size_t codeCount = 0, code = 0;
  int32_t codeSize = 0;
  size_t constantCount = 0;
  std::vector<size_t> constants;  // each constant's type byte
  size_t nestedCount = 0;
  std::vector<RecordMap> nested;
  size_t lineCount = 0, localCount = 0;
  std::vector<size_t> locals;  // each local's name
  size_t upvalueNameCount = 0;
  std::vector<size_t> upvalueNames;
  size_t end = 0;
};

inline uint64_t Word(const std::string& c, size_t at, int size) {
  uint64_t v = 0;
  for (int i = 0; i < size; ++i) v |= uint64_t(uint8_t(c[at + i])) << (8 * i);
  return v;
}

// Maps a well-formed record starting at `at` (lengthSize 4 for the engine's
// form, 8 for the standard form).
inline RecordMap MapRecord(const std::string& c, size_t at, int lengthSize) {
  RecordMap m;
  auto skipString = [&](size_t& p) { p += lengthSize + Word(c, p, lengthSize); };
  size_t p = at;
  m.source = p;
  skipString(p);
  m.lineDefined = p;
  p += 8;
  m.upvalueCountByte = p;
  p += 4;
  m.codeCount = p;
  m.codeSize = int32_t(Word(c, p, 4));
  m.code = p + 4;
  p = m.code + 4 * m.codeSize;
  m.constantCount = p;
  uint32_t n = uint32_t(Word(c, p, 4));
  p += 4;
  for (uint32_t i = 0; i < n; ++i) {
    m.constants.push_back(p);
    uint8_t type = uint8_t(c[p++]);
    if (type == 1) p += 1;
    if (type == 3) p += 8;
    if (type == 4) skipString(p);
  }
  m.nestedCount = p;
  n = uint32_t(Word(c, p, 4));
  p += 4;
  for (uint32_t i = 0; i < n; ++i) {
    m.nested.push_back(MapRecord(c, p, lengthSize));
    p = m.nested.back().end;
  }
  m.lineCount = p;
  p += 4 + 4 * Word(c, p, 4);
  m.localCount = p;
  n = uint32_t(Word(c, p, 4));
  p += 4;
  for (uint32_t i = 0; i < n; ++i) {
    m.locals.push_back(p);
    skipString(p);
    p += 8;
  }
  m.upvalueNameCount = p;
  n = uint32_t(Word(c, p, 4));
  p += 4;
  for (uint32_t i = 0; i < n; ++i) {
    m.upvalueNames.push_back(p);
    skipString(p);
  }
  m.end = p;
  return m;
}

inline RecordMap MapEngineChunk(const std::string& c) { return MapRecord(c, kChunkHeaderSize, 4); }

inline void PutInt(std::string* c, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*c)[at + i] = char(value >> (8 * i));
}

// Hand-built records in the engine's form: a function that returns nothing,
// holding `nested` copies of the next level inside it.
class RecordBuilder {
 public:
  std::string bytes;

  void Int(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(char(v >> (8 * i)));
  }
  void Header() { bytes.assign(reinterpret_cast<const char*>(kEngineChunkHeader), kChunkHeaderSize); }
  // A record with `depth` levels of records nested one in the other (depth
  // 1: no nested function). Built in a loop: the depths tried go far beyond
  // what a recursion in the test itself could take.
  void Nest(int depth) {
    for (int level = depth; level >= 1; --level) {
      Int(0);                               // source: the enclosing one's
      Int(0);                               // line defined
      Int(0);                               // last line defined
      bytes += std::string("\0\0\2\2", 4);  // upvalues, parameters, vararg, stack
      Int(1);                               // one instruction: RETURN 0 1
      Int(EngineOpFromStandard(30) | (1u << 23));
      Int(0);                               // constants
      Int(level > 1 ? 1 : 0);               // the next level, if any
    }
    for (int level = 0; level < depth; ++level) {
      Int(0);  // line information
      Int(0);  // locals
      Int(0);  // upvalue names
    }
  }
};

inline std::string NestedChunk(int depth) {
  RecordBuilder b;
  b.Header();
  b.Nest(depth);
  return b.bytes;
}

// A Lua state opened like the engine's: base, table, string, math, then the
// engine's loaders.
class ScriptState {
 public:
  ScriptState() {
    L = luaL_newstate();
    const luaL_Reg libraries[] = {{"", luaopen_base},
                                  {LUA_TABLIBNAME, luaopen_table},
                                  {LUA_STRLIBNAME, luaopen_string},
                                  {LUA_MATHLIBNAME, luaopen_math}};
    for (const luaL_Reg& library : libraries) {
      lua_pushcfunction(L, library.func);
      lua_pushstring(L, library.name);
      lua_call(L, 1, 0);
    }
    InstallChunkLoaders(L);
  }
  ~ScriptState() { lua_close(L); }
  ScriptState(const ScriptState&) = delete;
  ScriptState& operator=(const ScriptState&) = delete;

  void SetString(const char* name, const std::string& value) {
    lua_pushlstring(L, value.data(), value.size());
    lua_setglobal(L, name);
  }

  // Loads with LoadEngineChunk; returns the status and leaves the message
  // (or "") in `message`; a loaded function is left on the stack.
  int Load(const std::string& chunk, const char* name, std::string* message) {
    int status = LoadEngineChunk(L, chunk.data(), chunk.size(), name);
    if (status != 0) {
      *message = lua_tostring(L, -1) ? lua_tostring(L, -1) : "";
      lua_pop(L, 1);
    } else {
      message->clear();
    }
    return status;
  }

  // The load error message of a chunk (empty when it loads).
  std::string LoadError(const std::string& chunk, const char* name = "=chunk") {
    std::string message;
    if (Load(chunk, name, &message) == 0) lua_pop(L, 1);
    return message;
  }

  // Runs Lua source (the test's own, through the library's text loader) and
  // returns what it returns, joined by " "; errors come back as "error: ...".
  std::string Run(const std::string& source) {
    int top = lua_gettop(L);
    if (luaL_loadbuffer(L, source.data(), source.size(), "=test") != 0 || lua_pcall(L, 0, LUA_MULTRET, 0) != 0) {
      std::string message = std::string("error: ") + (lua_tostring(L, -1) ? lua_tostring(L, -1) : "?");
      lua_settop(L, top);
      return message;
    }
    std::string joined;
    for (int i = top + 1; i <= lua_gettop(L); ++i) {
      if (i > top + 1) joined += " ";
      lua_getglobal(L, "tostring");
      lua_pushvalue(L, i);
      lua_call(L, 1, 1);
      joined += lua_tostring(L, -1);
      lua_pop(L, 1);
    }
    lua_settop(L, top);
    return joined;
  }

  lua_State* L;
};

}  // namespace chunktest
