// Reading engine API arguments and pushing results. Every engine API function
// reads its arguments only through these: they never raise a Lua error, and a
// missing argument or one of another type reads as the default.
#pragma once

#include <cstddef>
#include <cstdint>

struct lua_State;

// Conversions behind the readers, kept apart so they can be tested plainly.
// Integer word: round to nearest, half to even, then wrap modulo 2^32.
// NaN and the infinities have no such value and read as INT32_MIN.
int32_t IntegerFromNumber(double value);
// Whole-number word: cut toward zero; outside the 32-bit range or NaN: INT32_MIN.
int32_t WholeFromNumber(double value);

int32_t ArgInteger(lua_State* L, int index);  // integer; 0 when missing
double ArgNumber(lua_State* L, int index);    // number; 0 when missing
int32_t ArgWhole(lua_State* L, int index);    // whole number; 0 when missing
int32_t ArgOptInteger(lua_State* L, int index, int32_t fallback);
double ArgOptNumber(lua_State* L, int index, double fallback);
int32_t ArgOptWhole(lua_State* L, int index, int32_t fallback);
bool ArgFlag(lua_State* L, int index);   // only the boolean true is true
bool ArgTruth(lua_State* L, int index);  // false only for nil and false
// A string unchanged, a number turned into its string in place; anything
// else gives nullptr. length (optional) receives the byte count.
const char* ArgString(lua_State* L, int index, size_t* length = nullptr);

// Results: every number goes out as a double.
void PushNumber(lua_State* L, double value);
void PushBoolean(lua_State* L, bool value);
void PushString(lua_State* L, const char* text);
void PushBytes(lua_State* L, const char* bytes, size_t length);
void PushNil(lua_State* L);
