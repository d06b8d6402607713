// Engine API bindings of the display and the drawing primitives: read the
// arguments, call the video functions. None returns a value.
#include "video/video_api.h"

#include "host/api_args.h"
#include "video/display.h"
#include "video/primitives.h"

namespace {

// Colour channels are whole numbers; the alpha is optional, 255 unless a
// number (or a numeric string) is given.
Rgba ArgColour(lua_State* L, int first) {
  return {ArgWhole(L, first), ArgWhole(L, first + 1), ArgWhole(L, first + 2), ArgOptWhole(L, first + 3, 255)};
}

}  // namespace

// OsCRTFilter(on): on is a truth value, so OsCRTFilter(0) turns the filter on
int LuaOsCRTFilter(lua_State* L) {
  SetCrtFilter(ArgTruth(L, 1));
  return 0;
}

// OpenDisplay(title, width, height, [fullscreen], [windowWidth], [windowHeight])
int LuaOpenDisplay(lua_State* L) {
  const char* title = ArgString(L, 1);
  int32_t width = ArgInteger(L, 2);
  int32_t height = ArgInteger(L, 3);
  OpenDisplay(title, width, height, ArgFlag(L, 4), ArgOptInteger(L, 5, width), ArgOptInteger(L, 6, height));
  return 0;
}

// CloseDisplay()
int LuaCloseDisplay(lua_State* L) {
  CloseDisplay();
  return 0;
}

// Flip(): presents the frame
int LuaFlip(lua_State* L) {
  Flip();
  return 0;
}

// Line(x1, y1, x2, y2, r, g, b, [a])
int LuaLine(lua_State* L) {
  Line(ArgWhole(L, 1), ArgWhole(L, 2), ArgWhole(L, 3), ArgWhole(L, 4), ArgColour(L, 5));
  return 0;
}

// FillRect(x1, y1, x2, y2, r, g, b, [a]): both corners inclusive
int LuaFillRect(lua_State* L) {
  FillRect(ArgWhole(L, 1), ArgWhole(L, 2), ArgWhole(L, 3), ArgWhole(L, 4), ArgColour(L, 5));
  return 0;
}

// Plot(x, y, r, g, b, [a])
int LuaPlot(lua_State* L) {
  Plot(ArgWhole(L, 1), ArgWhole(L, 2), ArgColour(L, 3));
  return 0;
}

// Box(x1, y1, x2, y2, r, g, b, [a]): both corners inclusive
int LuaBox(lua_State* L) {
  Box(ArgWhole(L, 1), ArgWhole(L, 2), ArgWhole(L, 3), ArgWhole(L, 4), ArgColour(L, 5));
  return 0;
}

// Cls(r, g, b, [a])
int LuaCls(lua_State* L) {
  Cls(ArgColour(L, 1));
  return 0;
}
