// The engine API: the native functions that become the script's globals.
#pragma once

extern "C" {
#include <lua.h>
}

struct ApiFunction {
  lua_CFunction function;
  const char* name;
};

// In registration order, ending with {nullptr, nullptr}.
extern const ApiFunction kEngineApi[];
