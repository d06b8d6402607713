// Engine API bindings of the frame loop: read the arguments, call the
// frame services, push the result.
#include "host/frame_api.h"

#include "host/api_args.h"
#include "host/frame.h"

// OsUpdate(): delivers the window's queued events
int LuaOsUpdate(lua_State* L) {
  OsUpdate();
  return 0;
}

// OsQuit() -> true once the user has asked to close the window
int LuaOsQuit(lua_State* L) {
  PushBoolean(L, OsQuit());
  return 1;
}

// OsTicks() -> milliseconds since start-up, 0 to 4294967295
int LuaOsTicks(lua_State* L) {
  PushNumber(L, OsTicks());
  return 1;
}

// OsVSync(on): on is a truth value, so OsVSync(0) turns vsync on
int LuaOsVSync(lua_State* L) {
  OsVSync(ArgTruth(L, 1));
  return 0;
}
