// The build tool's logic without the engine: the require scan, the module
// bundle run in a plain Lua state (require's semantics and error positions),
// and pelto.text with its font images.
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <lua.hpp>

#include "host/chunk_translate.h"
#include "tools/lua_bundle.h"
#include "tools/stdlib.h"
#include "video/font8x8.h"
#include "video/png.h"

namespace {

std::vector<uint8_t> Compile(const std::string& fileName, const std::string& source) {
  std::vector<uint8_t> dump;
  std::string message;
  EXPECT_TRUE(CompileLuaModule(source, "@" + fileName, &dump, &message)) << message;
  return dump;
}

// A state with the libraries the engine opens.
lua_State* EngineLikeState() {
  lua_State* L = luaL_newstate();
  const lua_CFunction opens[] = {luaopen_base, luaopen_table, luaopen_string, luaopen_math};
  for (lua_CFunction open : opens) {
    lua_pushcfunction(L, open);
    lua_call(L, 0, 0);
  }
  return L;
}

std::string GlobalString(lua_State* L, const char* name) {
  lua_getglobal(L, name);
  const char* text = lua_tostring(L, -1);
  std::string value = text ? text : "(nil)";
  lua_pop(L, 1);
  return value;
}

TEST(RequireScan, FindsLiteralRequiresWithTheirLinesAnywhereInTheChunk) {
  std::vector<uint8_t> dump = Compile("boot.lua",
                                      "local a = require(\"lib.a\")\n"
                                      "-- require(\"in.a.comment\")\n"
                                      "local s = 'require(\"in.a.string\")'\n"
                                      "local function f()\n"
                                      "  return require 'lib.b'\n"
                                      "end\n"
                                      "local name = 'lib.c'\n"
                                      "require(name)\n"
                                      "local t = {x = require(\"lib.d\").x}\n");
  std::vector<RequireSite> sites;
  ASSERT_TRUE(FindRequires(dump, &sites));
  std::map<std::string, int> found;
  for (const RequireSite& site : sites) found[site.name] = site.line;
  EXPECT_EQ(found, (std::map<std::string, int>{{"lib.a", 1}, {"lib.b", 5}, {"lib.d", 9}}));
}

// The whole of require's behaviour, and positions in messages naming each
// module's own file and line.
TEST(ModuleBundle, RequireRunsOnceCachesHandlesLoopsAndNamesModuleLines) {
  std::vector<BundleModule> modules = {
      {"boot", Compile("boot.lua",
                       "runs = 0\n"
                       "local a = require('lib.a')\n"
                       "local c1, c2 = require('lib.c'), require('lib.c')\n"
                       "same = tostring(c1 == c2) .. ' ' .. runs\n"
                       "circular = a.b.seen\n"
                       "empty = tostring(require('lib.empty'))\n"
                       "arg = require('lib.arg')\n"
                       "builtin = tostring(require('string') == string)\n"
                       "local ok, e = pcall(function() return require('lib.loop1') end)\n"
                       "loop = e\n"
                       "ok, e = pcall(function()\n"
                       "  local m = require('nope')\n"
                       "end)\n"
                       "missing = e\n"
                       "ok, e = pcall(require, 'lib.bad')\n"
                       "bad = e\n"
                       "ok, e = pcall(require, 'lib.bad')\n"
                       "badAgain = e\n"
                       "package.preload['virtual'] = function(name) return 'preloaded ' .. name end\n"
                       "preload = require('virtual')\n"
                       "args = select('#', ...)\n")},
      {"lib.a", Compile("lib/a.lua",
                        "local M = {name = 'a'}\n"
                        "package.loaded[...] = M\n"
                        "M.b = require('lib.b')\n"
                        "return M\n")},
      {"lib.b", Compile("lib/b.lua", "local a = require('lib.a')\nreturn {seen = 'b saw ' .. a.name}\n")},
      {"lib.c", Compile("lib/c.lua", "runs = runs + 1\nreturn {}\n")},
      {"lib.empty", Compile("lib/empty.lua", "-- returns nothing\n")},
      {"lib.arg", Compile("lib/arg.lua", "return ...\n")},
      {"lib.loop1", Compile("lib/loop1.lua", "return require('lib.loop2')\n")},
      {"lib.loop2", Compile("lib/loop2.lua", "\nlocal x = require('lib.loop1')\n")},
      {"lib.bad", Compile("lib/bad.lua", "local t = {}\n\nerror('boom ' .. #t)\n")},
  };
  std::vector<uint8_t> bundle, engine;
  std::string message;
  ASSERT_TRUE(BundleModules(modules, "boot", &bundle, &message)) << message;
  // The engine's form is what the game gets; it must carry everything over.
  ASSERT_EQ(TranslateStandardChunk(bundle.data(), bundle.size(), &engine), ChunkError::None);

  lua_State* L = EngineLikeState();
  ASSERT_EQ(luaL_loadbuffer(L, reinterpret_cast<const char*>(bundle.data()), bundle.size(), "boot.prg"), 0)
      << lua_tostring(L, -1);
  ASSERT_EQ(lua_pcall(L, 0, 0, 0), 0) << lua_tostring(L, -1);
  EXPECT_EQ(GlobalString(L, "same"), "true 1");
  EXPECT_EQ(GlobalString(L, "circular"), "b saw a");
  EXPECT_EQ(GlobalString(L, "empty"), "true");
  EXPECT_EQ(GlobalString(L, "arg"), "lib.arg");
  EXPECT_EQ(GlobalString(L, "builtin"), "true");
  EXPECT_EQ(GlobalString(L, "loop"), "lib/loop2.lua:2: loop or previous error loading module 'lib.loop1'");
  EXPECT_EQ(GlobalString(L, "missing"), "boot.lua:12: module 'nope' not found");
  EXPECT_EQ(GlobalString(L, "bad"), "lib/bad.lua:3: boom 0");
  EXPECT_EQ(GlobalString(L, "badAgain"), "loop or previous error loading module 'lib.bad'");
  EXPECT_EQ(GlobalString(L, "preload"), "preloaded virtual");
  EXPECT_EQ(GlobalString(L, "args"), "0");
  lua_close(L);
}

// Stand-ins for the engine functions pelto.text calls, logging each call.
std::vector<std::string>* g_calls = nullptr;
int LogCall(lua_State* L) {
  std::string call = lua_tostring(L, lua_upvalueindex(1));
  for (int i = 1; i <= lua_gettop(L); ++i) {
    call += " ";
    call += lua_isnil(L, i) ? "nil" : lua_isboolean(L, i) ? (lua_toboolean(L, i) ? "true" : "false") : lua_tostring(L, i);
  }
  g_calls->push_back(call);
  lua_pushnumber(L, 7);  // LoadTileset's slot
  return 1;
}

TEST(PeltoText, DrawsGlyphTilesOrPixelBlocksAndMeasures) {
  std::string source;
  std::vector<StdlibFile> files;
  ASSERT_TRUE(FindStdlibModule("pelto.text", &source, &files));
  ASSERT_EQ(files.size(), 4u);
  std::vector<uint8_t> dump = Compile("pelto/text.lua", source);

  std::vector<std::string> calls;
  g_calls = &calls;
  lua_State* L = EngineLikeState();
  for (const char* name : {"LoadTileset", "Sprite", "FillRect"}) {
    lua_pushstring(L, name);
    lua_pushcclosure(L, LogCall, 1);
    lua_setglobal(L, name);
  }
  ASSERT_EQ(luaL_loadbuffer(L, reinterpret_cast<const char*>(dump.data()), dump.size(), "text"), 0);
  ASSERT_EQ(lua_pcall(L, 0, 1, 0), 0) << lua_tostring(L, -1);
  lua_setglobal(L, "text");
  const char* script =
      "endX = text.draw('A b\\n~', 10, 20, 255, 0, 0, 128)\n"
      "text.draw('!', 0, 0, nil, nil, nil, nil, 2)\n"
      "text.draw('A', 0, 0)\n"
      "local w, h = text.measure('ab\\nlonger', 3)\n"
      "size = w .. 'x' .. h .. ' ' .. text.width('') .. ' ' .. text.height('x', 0.5)\n"
      "text.draw('.', 100, 50, 1, 2, 3, 4, 5)\n";
  ASSERT_EQ(luaL_dostring(L, script), 0) << lua_tostring(L, -1);
  EXPECT_EQ(GlobalString(L, "endX"), "18");  // the last line holds one character
  EXPECT_EQ(GlobalString(L, "size"), "144x48 0 8");
  // The tileset of each scale is loaded once; spaces draw nothing.
  std::vector<std::string> expected = {
      "LoadTileset pelto/font8x8-1.png 8 8",
      "Sprite 7 10 20 33 false 255 0 0 128",
      "Sprite 7 26 20 66 false 255 0 0 128",
      "Sprite 7 10 28 94 false 255 0 0 128",
      "LoadTileset pelto/font8x8-2.png 16 16",
      "Sprite 7 0 0 1 false 255 255 255 255",
      "Sprite 7 0 0 33 false 255 255 255 255",
  };
  // Scale 5 has no image: each lit pixel of '.' is a 5x5 rectangle.
  for (int row = 0; row < 8; ++row) {
    for (int column = 0; column < 8; ++column) {
      if (kFont8x8['.' - 32][row] & (0x80 >> column)) {
        int x = 100 + column * 5, y = 50 + row * 5;
        expected.push_back("FillRect " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(x + 4) +
                           " " + std::to_string(y + 4) + " 1 2 3 4");
      }
    }
  }
  EXPECT_EQ(calls, expected);
  lua_close(L);
  g_calls = nullptr;

  // Each image holds the glyphs at its scale, 16 to a row, white on clear.
  for (int scale : {1, 3}) {
    std::vector<uint8_t> png = MakeFontPng(scale);
    EXPECT_EQ(png, files[size_t(scale - 1)].bytes);
    RgbaImage image;
    ASSERT_TRUE(DecodePngRgba(&image, png.data(), png.size()));
    ASSERT_EQ(image.width, 128u * scale);
    ASSERT_EQ(image.height, 48u * scale);
    int wrong = 0;
    for (uint32_t y = 0; y < image.height; ++y) {
      for (uint32_t x = 0; x < image.width; ++x) {
        int glyph = int(y / (8 * scale)) * 16 + int(x / (8 * scale));
        bool on = kFont8x8[glyph][(y / scale) % 8] & (0x80 >> ((x / scale) % 8));
        const uint8_t* p = &image.pixels[(size_t(y) * image.width + x) * 4];
        if (p[0] != (on ? 255 : 0) || p[3] != (on ? 255 : 0)) ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0) << "scale " << scale;
  }
}

}  // namespace
