// The xorshift128 generator, its seeding rule and the scaling to reals,
// checked against the known first outputs and a second, plain-arithmetic
// rendering of the same formulas written for this test.
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/reference.h"

#include "banks/random.h"

namespace {

// The formulas once more, on 64-bit numbers masked to 32 bits after every
// operation, so that a slip in the engine's unsigned arithmetic shows up.

TEST(RandomGenerator, StartsWithTheKnownSequence) {
  RandomState state = kRandomInitial;
  EXPECT_EQ(RandomNext(state), 3701687786u);
  EXPECT_EQ(RandomNext(state), 458299110u);
  EXPECT_EQ(RandomNext(state), 2500872618u);
  state = kRandomInitial;
  EXPECT_NEAR(RandomReal(state, 1.0), 0.8618663500207165, 1e-15);
}

TEST(RandomGenerator, SeedOneGivesTheKnownSequence) {
  RandomState state = kRandomInitial;
  RandomSeed(state, 1);
  EXPECT_EQ(RandomNext(state), 1389564063u);
  EXPECT_EQ(RandomNext(state), 1097799838u);
  EXPECT_EQ(RandomNext(state), 4127461203u);
  RandomSeed(state, 1);
  EXPECT_NEAR(RandomReal(state, 1.0), 0.32353309526190466, 1e-15);
}

TEST(RandomGenerator, SeedZeroIsNotTheInitialState) {
  RandomState state = kRandomInitial;
  RandomSeed(state, 0);
  // Four draws from x, y, z as at start but w = 0.
  RandomState expected = {123456789u, 362436069u, 521288629u, 0u};
  for (int i = 0; i < 4; ++i) RandomNext(expected);
  EXPECT_EQ(state.x, expected.x);
  EXPECT_EQ(state.w, expected.w);
  RandomState initial = kRandomInitial;
  EXPECT_NE(RandomNext(state), RandomNext(initial));
}

TEST(RandomGenerator, MatchesThePlainRenderingForManySeeds) {
  for (uint32_t seed : {0u, 1u, 2u, 42u, 12345u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    RandomState state = kRandomInitial;
    RandomSeed(state, seed);
    XorshiftReference reference;
    reference.Seed(seed);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(RandomNext(state), reference.Next()) << seed << " #" << i;
  }
}

TEST(RandomGenerator, SameSeedSameSequence) {
  RandomState a = kRandomInitial, b = kRandomInitial;
  RandomSeed(a, 77);
  RandomNext(b);  // a different history before the seed does not matter
  RandomSeed(b, 77);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(RandomNext(a), RandomNext(b));
}

TEST(RandomScaling, IsTheOutputTimesTheUnitThenTimesTheScale) {
  RandomState state = kRandomInitial, copy = kRandomInitial;
  for (double scale : {1.0, 10.0, -5.0, 0.5, 1e9}) {
    double expected = static_cast<double>(RandomNext(copy)) * 2.3283064370807974e-10 * scale;
    EXPECT_EQ(RandomReal(state, scale), expected) << scale;  // bit for bit
  }
}

TEST(RandomScaling, ReachesBothEndsExactly) {
  // With x = 0 the step is w ^ (w >> 19); w = 0xFFFFE000 gives 0xFFFFFFFF.
  RandomState top = {0u, 0u, 0u, 0xFFFFE000u};
  RandomState copy = top;
  EXPECT_EQ(RandomNext(copy), 0xFFFFFFFFu);
  copy = top;
  EXPECT_EQ(RandomReal(copy, 1.0), 1.0);
  copy = top;
  EXPECT_EQ(RandomReal(copy, 10.0), 10.0);
  copy = top;
  EXPECT_EQ(RandomReal(copy, -5.0), -5.0);
  RandomState bottom = {0u, 0u, 0u, 0u};
  EXPECT_EQ(RandomReal(bottom, 10.0), 0.0);
}

TEST(RandomScaling, StaysInsideTheScaledRange) {
  RandomState state = kRandomInitial;
  for (int i = 0; i < 10000; ++i) {
    double value = RandomReal(state, -5.0);
    ASSERT_GE(value, -5.0);
    ASSERT_LE(value, 0.0);
  }
}

}  // namespace
