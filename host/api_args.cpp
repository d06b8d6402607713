// Engine API calling conventions, implemented once for every binding.
#include "host/api_args.h"

#include <cfenv>
#include <climits>
#include <cmath>

#include <lua.hpp>

int32_t IntegerFromNumber(double value) {
  // Scripts pass whole numbers almost always: those in range need no
  // rounding and no wrapping (the same result, without the library calls).
  if (value >= -2147483648.0 && value <= 2147483647.0) {
    int32_t whole = static_cast<int32_t>(value);
    if (static_cast<double>(whole) == value) return whole;
  }
  if (!std::isfinite(value)) return INT32_MIN;
  // nearbyint follows the current rounding mode, which the engine never
  // changes from round-to-nearest-even; that gives 2.5 -> 2 and 3.5 -> 4.
  double rounded = std::nearbyint(value);
  double wrapped = std::fmod(rounded, 4294967296.0);  // exact for every double
  if (wrapped < 0) wrapped += 4294967296.0;
  return static_cast<int32_t>(static_cast<uint32_t>(wrapped));
}

int32_t WholeFromNumber(double value) {
  // Inside the range the conversion itself cuts toward zero (NaN fails both tests).
  if (value > -2147483649.0 && value < 2147483648.0) return static_cast<int32_t>(value);
  if (std::isnan(value)) return INT32_MIN;
  double cut = std::trunc(value);
  if (cut < -2147483648.0 || cut > 2147483647.0) return INT32_MIN;
  return static_cast<int32_t>(cut);
}

int32_t ArgInteger(lua_State* L, int index) {
  // lua_tonumber gives 0 for anything that is neither a number nor a
  // numeric string, which is exactly the default.
  return IntegerFromNumber(lua_tonumber(L, index));
}

double ArgNumber(lua_State* L, int index) { return lua_tonumber(L, index); }

int32_t ArgWhole(lua_State* L, int index) { return WholeFromNumber(lua_tonumber(L, index)); }

int32_t ArgOptInteger(lua_State* L, int index, int32_t fallback) {
  return lua_isnumber(L, index) ? ArgInteger(L, index) : fallback;
}

double ArgOptNumber(lua_State* L, int index, double fallback) {
  return lua_isnumber(L, index) ? lua_tonumber(L, index) : fallback;
}

int32_t ArgOptWhole(lua_State* L, int index, int32_t fallback) {
  return lua_isnumber(L, index) ? ArgWhole(L, index) : fallback;
}

bool ArgFlag(lua_State* L, int index) {
  return lua_type(L, index) == LUA_TBOOLEAN && lua_toboolean(L, index) != 0;
}

bool ArgTruth(lua_State* L, int index) { return lua_toboolean(L, index) != 0; }

const char* ArgString(lua_State* L, int index, size_t* length) {
  size_t size = 0;
  const char* text = lua_tolstring(L, index, &size);
  if (length) *length = text ? size : 0;
  return text;
}

void PushNumber(lua_State* L, double value) { lua_pushnumber(L, value); }
void PushBoolean(lua_State* L, bool value) { lua_pushboolean(L, value ? 1 : 0); }
void PushString(lua_State* L, const char* text) { lua_pushstring(L, text); }
void PushBytes(lua_State* L, const char* bytes, size_t length) { lua_pushlstring(L, bytes, length); }
void PushNil(lua_State* L) { lua_pushnil(L); }
