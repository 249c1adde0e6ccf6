// A small seeded generator for the table generators. The standard library's
// distributions differ between implementations, and a generated table must
// come out the same on every machine, so the arithmetic is spelled out here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace norvale::gen {

class TRandom {
 public:
  explicit TRandom(uint64_t seed) : state_(seed) {}

  // splitmix64: one add and a few multiplies per number, good enough for
  // test data and fast enough for millions of records.
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  // Uniform in [0, n) by multiply-and-shift; the bias for the small n used
  // here is far below anything a table could show.
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(((Next() >> 32) * n) >> 32); }
  int Between(int low, int high) { return low + static_cast<int>(Below(static_cast<uint32_t>(high - low + 1))); }
  // True with probability percent / 100.
  bool Chance(uint32_t percent) { return Below(100) < percent; }
  template <typename T, std::size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(N)];
  }

 private:
  uint64_t state_;
};

inline int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace norvale::gen
