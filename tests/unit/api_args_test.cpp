// The engine API calling conventions, read from a real Lua stack.
#include <climits>
#include <cmath>
#include <string>

#include <gtest/gtest.h>
#include <lua.hpp>

#include "host/api_args.h"

namespace {

class ArgsTest : public ::testing::Test {
 protected:
  void SetUp() override { L = luaL_newstate(); }
  void TearDown() override { lua_close(L); }
  lua_State* L;
};

TEST(IntegerWord, RoundsHalfToEven) {
  EXPECT_EQ(IntegerFromNumber(65.5), 66);
  EXPECT_EQ(IntegerFromNumber(64.5), 64);
  EXPECT_EQ(IntegerFromNumber(2.5), 2);
  EXPECT_EQ(IntegerFromNumber(3.5), 4);
  EXPECT_EQ(IntegerFromNumber(-2.5), -2);
  EXPECT_EQ(IntegerFromNumber(-0.5), 0);
  EXPECT_EQ(IntegerFromNumber(255.9), 256);
  EXPECT_EQ(IntegerFromNumber(-1.4), -1);
  EXPECT_EQ(IntegerFromNumber(-1.6), -2);
}

TEST(IntegerWord, WrapsModulo2To32) {
  EXPECT_EQ(IntegerFromNumber(2147483647.0), INT32_MAX);
  EXPECT_EQ(IntegerFromNumber(2147483648.0), INT32_MIN);
  EXPECT_EQ(IntegerFromNumber(4294967295.0), -1);
  EXPECT_EQ(IntegerFromNumber(4294967296.0), 0);
  EXPECT_EQ(IntegerFromNumber(4294967297.0), 1);
  EXPECT_EQ(IntegerFromNumber(-4294967297.0), -1);
  EXPECT_EQ(IntegerFromNumber(-2147483649.0), INT32_MAX);
  // 2^53 + 2^32 + 5 is exactly representable and wraps to 5.
  EXPECT_EQ(IntegerFromNumber(9007199254740992.0 + 4294967296.0 + 6.0), 6);
  EXPECT_EQ(IntegerFromNumber(1e300), 0);  // a multiple of 2^32
}

TEST(IntegerWord, NotANumberReadsAsMinimum) {
  EXPECT_EQ(IntegerFromNumber(NAN), INT32_MIN);
  EXPECT_EQ(IntegerFromNumber(INFINITY), INT32_MIN);
  EXPECT_EQ(IntegerFromNumber(-INFINITY), INT32_MIN);
}

TEST(WholeNumberWord, CutsTowardZeroAndSaturatesToMinimum) {
  EXPECT_EQ(WholeFromNumber(2.9), 2);
  EXPECT_EQ(WholeFromNumber(-2.9), -2);
  EXPECT_EQ(WholeFromNumber(255.9), 255);
  EXPECT_EQ(WholeFromNumber(2147483647.9), INT32_MAX);
  EXPECT_EQ(WholeFromNumber(-2147483648.9), INT32_MIN);
  EXPECT_EQ(WholeFromNumber(2147483648.0), INT32_MIN);
  EXPECT_EQ(WholeFromNumber(-2147483649.0), INT32_MIN);
  EXPECT_EQ(WholeFromNumber(1e20), INT32_MIN);
  EXPECT_EQ(WholeFromNumber(NAN), INT32_MIN);
  EXPECT_EQ(WholeFromNumber(INFINITY), INT32_MIN);
}

TEST_F(ArgsTest, NumbersFromStringsAndDefaults) {
  lua_pushstring(L, "12");      // 1
  lua_pushstring(L, "abc");     // 2
  lua_pushnil(L);               // 3
  lua_pushstring(L, " 0x10 ");  // 4
  lua_pushboolean(L, 1);        // 5
  lua_newtable(L);              // 6
  EXPECT_EQ(ArgInteger(L, 1), 12);
  EXPECT_EQ(ArgInteger(L, 2), 0);
  EXPECT_EQ(ArgInteger(L, 3), 0);
  EXPECT_EQ(ArgInteger(L, 4), 16);
  EXPECT_EQ(ArgInteger(L, 5), 0);
  EXPECT_EQ(ArgInteger(L, 6), 0);
  EXPECT_EQ(ArgInteger(L, 7), 0);  // past the last argument
  EXPECT_EQ(ArgWhole(L, 1), 12);
  EXPECT_DOUBLE_EQ(ArgNumber(L, 1), 12.0);
  EXPECT_DOUBLE_EQ(ArgNumber(L, 2), 0.0);
}

TEST_F(ArgsTest, OptionalArgumentsTakeTheDefaultUnlessNumeric) {
  lua_pushnil(L);
  lua_pushstring(L, "7.5");
  lua_pushstring(L, "x");
  lua_pushboolean(L, 1);
  EXPECT_EQ(ArgOptInteger(L, 1, 99), 99);
  EXPECT_EQ(ArgOptInteger(L, 2, 99), 8);
  EXPECT_EQ(ArgOptWhole(L, 2, 99), 7);
  EXPECT_DOUBLE_EQ(ArgOptNumber(L, 2, 1.0), 7.5);
  EXPECT_EQ(ArgOptInteger(L, 3, 99), 99);
  EXPECT_EQ(ArgOptInteger(L, 4, 99), 99);
  EXPECT_EQ(ArgOptInteger(L, 9, -5), -5);
}

TEST_F(ArgsTest, FlagIsOnlyTheBooleanTrue) {
  lua_pushboolean(L, 1);
  lua_pushnumber(L, 1);
  lua_pushstring(L, "true");
  lua_pushboolean(L, 0);
  EXPECT_TRUE(ArgFlag(L, 1));
  EXPECT_FALSE(ArgFlag(L, 2));
  EXPECT_FALSE(ArgFlag(L, 3));
  EXPECT_FALSE(ArgFlag(L, 4));
  EXPECT_FALSE(ArgFlag(L, 5));
}

TEST_F(ArgsTest, TruthValueIsFalseOnlyForNilAndFalse) {
  lua_pushnumber(L, 0);
  lua_pushstring(L, "");
  lua_pushboolean(L, 0);
  lua_pushnil(L);
  EXPECT_TRUE(ArgTruth(L, 1));
  EXPECT_TRUE(ArgTruth(L, 2));
  EXPECT_FALSE(ArgTruth(L, 3));
  EXPECT_FALSE(ArgTruth(L, 4));
  EXPECT_FALSE(ArgTruth(L, 5));
}

TEST_F(ArgsTest, StringArgumentTurnsNumbersIntoStringsInPlace) {
  lua_pushnumber(L, 12);
  lua_pushstring(L, std::string("a\0b", 3).c_str());
  lua_pushlstring(L, "a\0b", 3);
  lua_pushboolean(L, 1);
  size_t length = 99;
  EXPECT_STREQ(ArgString(L, 1, &length), "12");
  EXPECT_EQ(length, 2u);
  EXPECT_EQ(lua_type(L, 1), LUA_TSTRING);  // the argument itself changed
  const char* bytes = ArgString(L, 3, &length);
  EXPECT_EQ(std::string(bytes, length), std::string("a\0b", 3));
  EXPECT_EQ(ArgString(L, 4, &length), nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(ArgString(L, 5), nullptr);
  lua_pushnumber(L, 0.1);
  EXPECT_STREQ(ArgString(L, -1), "0.1");  // the library's "%.14g"
}

TEST_F(ArgsTest, ResultsAreDoublesBooleansAndStrings) {
  PushNumber(L, 4294967295.0);
  PushBoolean(L, true);
  PushString(L, "x");
  PushBytes(L, "a\0b", 3);
  PushNil(L);
  EXPECT_EQ(lua_type(L, 1), LUA_TNUMBER);
  EXPECT_DOUBLE_EQ(lua_tonumber(L, 1), 4294967295.0);
  EXPECT_EQ(lua_type(L, 2), LUA_TBOOLEAN);
  EXPECT_EQ(lua_objlen(L, 4), 3u);
  EXPECT_TRUE(lua_isnil(L, 5));
}

}  // namespace
