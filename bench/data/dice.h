// The benchmark data's random numbers: splitmix64 with a fixed seed, and only integer
// arithmetic on its output, so every compiler and library gives the same sequence.
#pragma once

#include <cstdint>

namespace bv::bench {

class Dice {
 public:
  explicit Dice(uint64_t seed) : state_(seed) {}

  uint64_t next64() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 .. n-1 (n > 0); the slight bias of the modulo does not matter here.
  uint32_t below(uint32_t n) { return static_cast<uint32_t>(next64() % n); }
  // lo .. hi inclusive.
  int64_t between(int64_t lo, int64_t hi) {
    return lo + static_cast<int64_t>(next64() % static_cast<uint64_t>(hi - lo + 1));
  }
  // True in `per` cases out of `of`.
  bool chance(uint32_t per, uint32_t of) { return below(of) < per; }

 private:
  uint64_t state_;
};

}  // namespace bv::bench
