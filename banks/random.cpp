// xorshift128 stepping, seeding and scaling to reals.
#include "banks/random.h"

namespace {
RandomState gRandom = kRandomInitial;
}  // namespace

RandomState& Random() { return gRandom; }

uint32_t RandomNext(RandomState& s) {
  uint32_t t = s.x ^ (s.x << 11);
  s.x = s.y;
  s.y = s.z;
  s.z = s.w;
  s.w = s.w ^ (s.w >> 19) ^ t ^ (t >> 8);
  return s.w;
}

void RandomSeed(RandomState& s, uint32_t seed) {
  // Unsigned arithmetic wraps modulo 2^32, which is the rule the seeds rely on.
  s.x = (seed * 65537u) ^ 123456789u;
  s.y = seed * 257u + 362436069u;
  s.z = seed * 32769u + 521288629u;
  s.w = seed * 88675123u;
  // The first outputs after seeding still show the seed's pattern; drop them.
  for (int i = 0; i < 4; ++i) RandomNext(s);
}

double RandomReal(RandomState& s, double scale) {
  // The double nearest 1/4294967295, so that the largest output gives 1.0
  // exactly; the product is then scaled in a second, separate step.
  constexpr double kUnit = 1.0 / 4294967295.0;
  double unit = static_cast<double>(RandomNext(s)) * kUnit;
  return unit * scale;
}
