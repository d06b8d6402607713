// Engine API bindings of the keyboard, the mouse and the joysticks: read the
// arguments, ask the input state, push the answer. None of them can fail.
#include "input/input_api.h"

#include "host/api_args.h"
#include "input/joystick.h"
#include "input/keyboard.h"
#include "input/mouse.h"

// KeyDown(key) -> held
int LuaKeyDown(lua_State* L) {
  PushBoolean(L, KeyDown(ArgInteger(L, 1)));
  return 1;
}

// KeyPressed(key) -> pressed since last asked
int LuaKeyPressed(lua_State* L) {
  PushBoolean(L, KeyPressed(ArgInteger(L, 1)));
  return 1;
}

// Inkey() -> the character typed this frame, or nil
int LuaInkey(lua_State* L) {
  int c = Inkey();
  if (c == 0) {
    PushNil(L);
  } else {
    char text = static_cast<char>(c);
    PushBytes(L, &text, 1);
  }
  return 1;
}

int LuaKeyRepeatOn(lua_State* L) {
  KeyRepeatOn();
  return 0;
}

int LuaKeyRepeatOff(lua_State* L) {
  KeyRepeatOff();
  return 0;
}

// MouseX() -> virtual pixel column
int LuaMouseX(lua_State* L) {
  PushNumber(L, MouseX());
  return 1;
}

// MouseY() -> virtual pixel row
int LuaMouseY(lua_State* L) {
  PushNumber(L, MouseY());
  return 1;
}

int LuaMouseLMB(lua_State* L) {
  PushBoolean(L, MouseLMB());
  return 1;
}

int LuaMouseRMB(lua_State* L) {
  PushBoolean(L, MouseRMB());
  return 1;
}

int LuaMouseOn(lua_State* L) {
  MouseOn();
  return 0;
}

int LuaMouseOff(lua_State* L) {
  MouseOff();
  return 0;
}

// JoystickPosition(joystick, axis) -> -1..1, up and right positive
int LuaJoystickPosition(lua_State* L) {
  PushNumber(L, JoystickPosition(ArgInteger(L, 1), ArgInteger(L, 2)));
  return 1;
}

// JoystickButton(joystick, button) -> held
int LuaJoystickButton(lua_State* L) {
  PushBoolean(L, JoystickButton(ArgInteger(L, 1), ArgInteger(L, 2)));
  return 1;
}
