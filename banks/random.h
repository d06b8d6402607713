// The scripts' pseudo-random generator: Marsaglia's xorshift128 with the
// engine's own seeding rule. One process-wide state, main thread only;
// nothing but Rnd and Randomize draws from it, so sequences are reproducible.
#pragma once

#include <cstdint>

struct RandomState {
  uint32_t x, y, z, w;  // the four words of xorshift128
};

// The state at program start: x 123456789, y 362436069, z 521288629, w 88675123.
constexpr RandomState kRandomInitial = {123456789u, 362436069u, 521288629u, 88675123u};

// The process-wide state; starts as kRandomInitial.
RandomState& Random();

// Advances the state one step and returns the new w.
uint32_t RandomNext(RandomState& state);

// Reseeds from a 32-bit seed (products modulo 2^32) and discards four outputs.
void RandomSeed(RandomState& state, uint32_t seed);

// The next output scaled to 0.0-1.0, both ends included, times `scale`.
// A scale of 1.0 leaves the value bit for bit as it is.
double RandomReal(RandomState& state, double scale);
