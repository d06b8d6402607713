// Engine API bindings of the random generator.
#include "banks/random_api.h"

#include "banks/random.h"
#include "host/api_args.h"

// Randomize(seed): a missing or non-numeric seed is 0.
int LuaRandomize(lua_State* L) {
  RandomSeed(Random(), static_cast<uint32_t>(ArgInteger(L, 1)));
  return 0;
}

// Rnd([n]) -> 0.0-1.0, or 0.0-n when n is a number or a numeric string.
// Without n the scale is 1.0, which leaves the value bit for bit unchanged.
int LuaRnd(lua_State* L) {
  PushNumber(L, RandomReal(Random(), ArgOptNumber(L, 1, 1.0)));
  return 1;
}
