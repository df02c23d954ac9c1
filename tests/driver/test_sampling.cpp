// The uniform generator and the black-body frequency sampling table.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "driver/frqsmp.hpp"
#include "driver/rng.hpp"

namespace mcspec {
namespace {

TEST(Rng, FirstDraws) {
  Rng one(1);
  EXPECT_EQ(one.uniform(), 269.0f * 0x1p-24f);  // 69070 >> 8 = 269
  EXPECT_EQ(one.iseed(), 69070);
  Rng zero(0);
  EXPECT_EQ(zero.uniform(), 0.0f);
  EXPECT_EQ(zero.iseed(), 1);
}

TEST(Rng, SequenceFollowsTheCongruenceModulo2To32) {
  // Independent reference in 64-bit arithmetic with an explicit reduction.
  std::uint64_t s = static_cast<std::uint32_t>(-123456789);
  Rng r(-123456789);
  for (int n = 0; n < 1000; ++n) {
    s = (s * 69069u + 1u) % 4294967296u;
    const float u = r.uniform();
    ASSERT_EQ(u, static_cast<float>(static_cast<double>(s >> 8) / 16777216.0)) << n;
    ASSERT_EQ(static_cast<std::uint32_t>(r.iseed()), s);
  }
}

TEST(Rng, NeverReturnsOne) {
  // The seed whose successor is 2^32 - 1 (the largest state): s = (2^32 - 2) / 69069 mod 2^32.
  std::uint32_t inv = 69069u;  // Newton iteration for the inverse of an odd number mod 2^32
  for (int i = 0; i < 5; ++i) inv *= 2u - 69069u * inv;
  ASSERT_EQ(69069u * inv, 1u);
  Rng r(static_cast<std::int32_t>(0xFFFFFFFEu * inv));
  const float u = r.uniform();
  EXPECT_EQ(static_cast<std::uint32_t>(r.iseed()), 0xFFFFFFFFu);
  EXPECT_LT(u, 1.0f);
  EXPECT_EQ(u, 16777215.0f * 0x1p-24f);
}

// Quantile of the Planck distribution x^3/(e^x - 1) in x = h nu / kT, by Simpson's rule
// on a fine grid in x (independent of the z-variable table).
double planck_quantile_x(double q) {
  const int n = 200000;
  const double xmax = 60.0, dx = xmax / n;
  auto f = [](double x) { return x > 0 ? x * x * x / std::expm1(x) : 0.0; };
  auto simpson_step = [&](int i) { return (f(i * dx) + 4 * f((i + 1) * dx) + f((i + 2) * dx)) * dx / 3; };
  double total = 0;
  for (int i = 0; i < n; i += 2) total += simpson_step(i);
  EXPECT_NEAR(total, std::pow(M_PI, 4) / 15, 1e-9);  // the Planck integral
  double cum = 0;
  for (int i = 0; i < n; i += 2) {
    const double step = simpson_step(i);
    // Inside one double step the density is nearly linear: interpolate.
    if (cum + step >= q * total) return i * dx + (q * total - cum) / step * 2 * dx;
    cum += step;
  }
  return xmax;
}

double z_of_x(double x) { return x * x / (x * x + 12.25); }

TEST(Frqsmp, ThreeEntriesGiveTheBlackBodyMedian) {
  SamplingTable t;
  frqsmp(3, t);
  ASSERT_EQ(t.fsamp.size(), 3);
  EXPECT_EQ(t.xscl, 3.5);
  EXPECT_EQ(t.fsamp(1), 0.0);
  EXPECT_EQ(t.fsamp(3), 1.0);
  const double x = planck_quantile_x(0.5);
  EXPECT_NEAR(x, 3.503, 2e-3);  // the known median of the black body in h nu / kT
  EXPECT_NEAR(t.fsamp(2), z_of_x(x), 1e-4);
}

TEST(Frqsmp, FullTableIncreasesFromZeroToOne) {
  SamplingTable t;
  frqsmp(502, t);
  ASSERT_EQ(t.fsamp.size(), 502);
  EXPECT_EQ(t.fsamp(1), 0.0);
  EXPECT_EQ(t.fsamp(502), 1.0);
  for (int k = 2; k <= 502; ++k) ASSERT_GT(t.fsamp(k), t.fsamp(k - 1)) << k;
  // Beyond x = 30 the density is zero, so the last inner entry lies below z(30).
  EXPECT_LT(t.fsamp(501), 900.0 / 912.25);
  // Entry k is the quantile (k-1)/(KB-1) = (k-1)/501.
  for (int k : {2, 51, 126, 251, 451, 500}) {
    EXPECT_NEAR(t.fsamp(k), z_of_x(planck_quantile_x((k - 1) / 501.0)), 1e-4) << k;
  }
}

TEST(Frqsmp, RebuildIsBitIdentical) {
  SamplingTable a, b;
  frqsmp(100, a);
  frqsmp(100, b);
  frqsmp(100, b);
  for (int k = 1; k <= 100; ++k) ASSERT_EQ(a.fsamp(k), b.fsamp(k));
  frqsmp(7, b);  // a smaller table after a larger one
  ASSERT_EQ(b.fsamp.size(), 7);
  EXPECT_EQ(b.fsamp(7), 1.0);
}

TEST(Frqsmp, TwoEntriesEndWhereTheTruncatedDensityEnds) {
  SamplingTable t;
  frqsmp(2, t);
  EXPECT_EQ(t.fsamp(1), 0.0);
  // z at x = 30 is 900/912.25 = 0.98657; the table ends within one grid cell of it.
  EXPECT_NEAR(t.fsamp(2), 900.0 / 912.25, 1.0 / 3999);
  EXPECT_LT(t.fsamp(2), 1.0);
}

}  // namespace
}  // namespace mcspec
