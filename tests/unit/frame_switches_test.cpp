// The frame loop's clock arithmetic and the two switches as scripts call
// them, without a window: they only change the display record.
#include <lua.hpp>

#include <gtest/gtest.h>

#include "host/frame.h"
#include "host/frame_api.h"
#include "video/display_state.h"
#include "video/video_api.h"

namespace {

TEST(FrameTicks, MillisecondsAreCutTowardZeroAndWrapAfter32Bits) {
  EXPECT_EQ(TicksFromSeconds(0.0), 0u);
  EXPECT_EQ(TicksFromSeconds(1.2349), 1234u);
  EXPECT_EQ(TicksFromSeconds(4294967.295), 4294967295u);
  EXPECT_EQ(TicksFromSeconds(4294967.2965), 0u);  // 2^32 ms wraps to 0
  EXPECT_EQ(TicksFromSeconds(4294967.3015), 5u);
  EXPECT_EQ(TicksFromSeconds(-1.0), 0u);
}

// Calls a binding with one argument pushed by `push`.
void CallWith(lua_CFunction function, void (*push)(lua_State*)) {
  lua_State* L = luaL_newstate();
  push(L);
  function(L);
  lua_close(L);
}

TEST(FrameSwitches, VSyncTakesATruthValueSoZeroIsOn) {
  DisplayState& d = Display();
  CallWith(LuaOsVSync, [](lua_State* L) { lua_pushboolean(L, 0); });
  EXPECT_EQ(d.vsyncEnabled, 0);
  CallWith(LuaOsVSync, [](lua_State* L) { lua_pushnumber(L, 0); });
  EXPECT_EQ(d.vsyncEnabled, 1);
  CallWith(LuaOsVSync, [](lua_State*) {});
  EXPECT_EQ(d.vsyncEnabled, 0);
  CallWith(LuaOsVSync, [](lua_State* L) { lua_pushstring(L, ""); });
  EXPECT_EQ(d.vsyncEnabled, 1);
}

TEST(FrameSwitches, CrtFilterTakesATruthValueSoZeroIsOn) {
  DisplayState& d = Display();
  CallWith(LuaOsCRTFilter, [](lua_State* L) { lua_pushnil(L); });
  EXPECT_EQ(d.crtEnabled, 0);
  CallWith(LuaOsCRTFilter, [](lua_State* L) { lua_pushnumber(L, 0); });
  EXPECT_EQ(d.crtEnabled, 1);
  CallWith(LuaOsCRTFilter, [](lua_State* L) { lua_pushboolean(L, 0); });
  EXPECT_EQ(d.crtEnabled, 0);
  CallWith(LuaOsCRTFilter, [](lua_State* L) { lua_pushboolean(L, 1); });
  EXPECT_EQ(d.crtEnabled, 1);
}

}  // namespace
