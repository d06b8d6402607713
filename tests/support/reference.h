// Small references that unit and end-to-end tests share: written from the
// documented formulas, independently of the engine's own code.
#pragma once

#include <cstdint>
#include <ctime>

// The xorshift128 generator and its seeding rule, in 64-bit words masked to 32.
struct XorshiftReference {
  uint64_t x = 123456789, y = 362436069, z = 521288629, w = 88675123;
  static constexpr uint64_t kMask = 0xFFFFFFFFull;

  uint64_t Next() {
    uint64_t t = (x ^ ((x << 11) & kMask)) & kMask;
    x = y;
    y = z;
    z = w;
    w = (w ^ (w >> 19) ^ t ^ (t >> 8)) & kMask;
    return w;
  }
  void Seed(uint64_t s) {
    s &= kMask;
    x = ((s * 65537) & kMask) ^ 123456789;
    y = (s * 257 + 362436069) & kMask;
    z = (s * 32769 + 521288629) & kMask;
    w = (s * 88675123) & kMask;
    for (int i = 0; i < 4; ++i) Next();
  }
  double Real() { return static_cast<double>(Next()) * (1.0 / 4294967295.0); }
};

// Seconds since 1970 of a UTC calendar time.
inline time_t UtcTime(int year, int month, int day, int hour, int minute) {
  struct tm t = {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  return timegm(&t);
}
