// The uniform random generator of the Monte Carlo: a 32-bit linear congruential
// generator whose whole state is the seed ISEED. All draws of a run come from one
// state, in call order, so a seed reproduces a run exactly.
#pragma once

#include <cstdint>

namespace mcspec {

class Rng {
 public:
  explicit Rng(std::int32_t iseed = 0) : state_(static_cast<std::uint32_t>(iseed)) {}
  // ISEED = ISEED * 69069 + 1 (mod 2^32); u = (ISEED >> 8) * 2^-24, a single-precision
  // value in [0, 1). Exact: 24 bits fit a float's mantissa.
  float uniform() {
    state_ = state_ * 69069u + 1u;
    return static_cast<float>(state_ >> 8) * 0x1p-24f;
  }
  std::int32_t iseed() const { return static_cast<std::int32_t>(state_); }

 private:
  std::uint32_t state_;
};

}  // namespace mcspec
