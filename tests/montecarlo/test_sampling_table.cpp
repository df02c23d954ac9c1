// The uniform generator against its congruence done in 64-bit arithmetic, and the
// black-body frequency sampling table against quantiles of the Planck distribution
// found by an independent quadrature.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "montecarlo/sampling_table.hpp"
#include "montecarlo/random.hpp"

namespace mcspec {
namespace {

TEST(RandomNumbers, FollowsTheCongruenceModulo2To32AndNeverReturnsOne) {
  Rng zero(0);
  EXPECT_EQ(zero.uniform(), 0.0f);
  EXPECT_EQ(zero.iseed(), 1);
  std::uint64_t s = static_cast<std::uint32_t>(-123456789);
  Rng r(-123456789);
  for (int n = 0; n < 1000; ++n) {
    s = (s * 69069u + 1u) % 4294967296u;
    ASSERT_EQ(r.uniform(), static_cast<float>(static_cast<double>(s >> 8) / 16777216.0)) << n;
    ASSERT_EQ(static_cast<std::uint32_t>(r.iseed()), s);
  }
  // The seed whose successor is 2^32 - 1 (the largest state): s = (2^32 - 2) / 69069 mod 2^32.
  std::uint32_t inv = 69069u;  // Newton iteration for the inverse of an odd number mod 2^32
  for (int i = 0; i < 5; ++i) inv *= 2u - 69069u * inv;
  Rng top(static_cast<std::int32_t>(0xFFFFFFFEu * inv));
  EXPECT_EQ(top.uniform(), 16777215.0f * 0x1p-24f);
  EXPECT_EQ(static_cast<std::uint32_t>(top.iseed()), 0xFFFFFFFFu);
}

// Quantile of the Planck distribution x^3/(e^x - 1) in x = h nu / kT, by Simpson's rule
// on a fine grid in x, interpolating inside the double step that crosses q.
double planck_quantile_x(double q) {
  const int n = 200000;
  const double dx = 60.0 / n;
  auto f = [](double x) { return x > 0 ? x * x * x / std::expm1(x) : 0.0; };
  auto step = [&](int i) { return (f(i * dx) + 4 * f((i + 1) * dx) + f((i + 2) * dx)) * dx / 3; };
  double total = 0;
  for (int i = 0; i < n; i += 2) total += step(i);
  EXPECT_NEAR(total, std::pow(M_PI, 4) / 15, 1e-9);  // the Planck integral
  double cum = 0;
  for (int i = 0; i < n; i += 2) {
    if (cum + step(i) >= q * total) return i * dx + (q * total - cum) / step(i) * 2 * dx;
    cum += step(i);
  }
  return 60.0;
}

// The table's variable: z = x^2 / (x^2 + XSCL^2), XSCL = 3.5.
double z_of_x(double x) { return x * x / (x * x + 12.25); }

TEST(SamplingTable, TablesHoldThePlanckQuantiles) {
  EXPECT_NEAR(planck_quantile_x(0.5), 3.503, 2e-3);  // the known median of the black body in h nu / kT
  SamplingTable t3, t2, t;
  build_sampling_table(3, t3);
  EXPECT_NEAR(t3.fsamp(2), z_of_x(planck_quantile_x(0.5)), 1e-4);
  EXPECT_EQ(t3.fsamp(1) + t3.fsamp(3), 1.0);
  build_sampling_table(2, t2);  // ends where the density truncated at x = 30 ends, within one grid cell
  EXPECT_NEAR(t2.fsamp(2), z_of_x(30.0), 1.0 / 3999);
  EXPECT_LT(t2.fsamp(2), 1.0);
  build_sampling_table(502, t);
  EXPECT_EQ(t.fsamp(1), 0.0);
  EXPECT_EQ(t.fsamp(502), 1.0);
  for (int k = 2; k <= 502; ++k) ASSERT_GT(t.fsamp(k), t.fsamp(k - 1)) << k;
  EXPECT_LT(t.fsamp(501), z_of_x(30.0));  // beyond x = 30 the density is zero
  for (int k : {2, 51, 126, 251, 451, 500})  // entry k: quantile (k-1)/(KB-1)
    EXPECT_NEAR(t.fsamp(k), z_of_x(planck_quantile_x((k - 1) / 501.0)), 1e-4) << k;
}

TEST(SamplingTable, RebuildsBitIdenticallyAfterOtherSizes) {
  SamplingTable t, again;
  build_sampling_table(502, t);
  build_sampling_table(7, again);  // a larger table after a smaller one, then the same again
  build_sampling_table(502, again);
  build_sampling_table(502, again);
  for (int k = 1; k <= 502; ++k) ASSERT_EQ(again.fsamp(k), t.fsamp(k));
  build_sampling_table(7, again);  // and a smaller one after a larger one
  ASSERT_EQ(again.fsamp.size(), 7);
  EXPECT_EQ(again.fsamp(7), 1.0);
}

}  // namespace
}  // namespace mcspec
