// Random numbers: the uniform generator against its congruence done in 64-bit arithmetic;
// the black-body frequency sampling table against quantiles of the Planck distribution
// found by an independent quadrature; per-packet streams against the published
// known-answer vectors of Philox4x32-10 (Random123); the fixed-point line estimators'
// tally against direct sums of the same flights.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "base/errors.hpp"
#include "montecarlo/montecarlo.hpp"
#include "montecarlo/random.hpp"
#include "montecarlo/sampling_table.hpp"

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

TEST(Streams, PhiloxKnownAnswers) {
  // Random123's kat_vectors: counter, key, result.
  const struct {
    std::array<std::uint32_t, 4> ctr;
    std::array<std::uint32_t, 2> key;
    std::array<std::uint32_t, 4> out;
  } kat[] = {{{0, 0, 0, 0}, {0, 0}, {0x6627e8d5, 0xe169c58d, 0xbc57ac4c, 0x9b00dbd8}},
             {{0xffffffff, 0xffffffff, 0xffffffff, 0xffffffff},
              {0xffffffff, 0xffffffff},
              {0x408f276d, 0x41c83b0e, 0xa20bc7c6, 0x6d5451fd}},
             {{0x243f6a88, 0x85a308d3, 0x13198a2e, 0x03707344},
              {0xa4093822, 0x299f31d0},
              {0xd16cfe09, 0x94fdcceb, 0x5001e420, 0x24126ea1}}};
  for (const auto& k : kat) {
    const r123::Philox4x32::ctr_type c = {{k.ctr[0], k.ctr[1], k.ctr[2], k.ctr[3]}};
    const r123::Philox4x32::key_type key = {{k.key[0], k.key[1]}};
    const auto r = r123::Philox4x32()(c, key);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(r.v[i], k.out[static_cast<std::size_t>(i)]) << i;
  }
}

TEST(Streams, APacketStreamIsPhiloxOfItsOwnCounter) {
  // Packet 2^32 + 5 of run 7 for seed 99: words 0..3 from draw group 0, 4..7 from group 1.
  Rng s = Rng::packet_stream(99, 7, (std::uint64_t{1} << 32) + 5);
  for (std::uint32_t group = 0; group < 2; ++group) {
    const auto r = r123::Philox4x32()({{group, 5u, 1u, Rng::kStreamTag}}, {{99u, 7u}});
    for (int i = 0; i < 4; ++i) EXPECT_EQ(s.next_word(), r.v[i]);
  }
  // Draws: the top 24 bits of each word, in [0, 1).
  Rng a = Rng::packet_stream(1, 1, 0), b = Rng::packet_stream(1, 1, 0);
  for (int i = 0; i < 9; ++i) {
    const float u = a.uniform();
    EXPECT_EQ(u, static_cast<float>(b.next_word() >> 8) * 0x1p-24f);
    EXPECT_TRUE(u >= 0.0f && u < 1.0f);
  }
}

TEST(Streams, TallySumsEqualDirectSums) {
  const int nl = 50, js = 3;
  Estimators est;
  est.allocate(nl, js, 10);
  LineTally t;
  t.reset(est, nl, js);
  std::vector<double> direct(static_cast<std::size_t>(nl * js), 0.0), eline(static_cast<std::size_t>(nl), 0.0);
  Rng r(12345);
  int terms = 0;
  for (int f = 0; f < 5000; ++f) {
    const int j = 1 + static_cast<int>(r.uniform() * js);
    const int k0 = 1 + static_cast<int>(r.uniform() * nl);
    const int k1 = k0 + static_cast<int>(r.uniform() * static_cast<float>(nl + 1 - k0) + 0.5f);  // <= NL + 1
    const double ep = 0.8 + 0.4 * r.uniform();
    const std::uint64_t q = LineTally::units(ep);
    LineTally::Book book;
    t.book_flight(book, j, k0, k1 - k0, q);
    for (int k = k0; k < k1; ++k) direct[static_cast<std::size_t>((j - 1) * nl + k - 1)] += ep;
    terms += k1 - k0;
    if (f % 7 == 0) {
      LineTally::book_escape(book, k0, q);
      eline[static_cast<std::size_t>(k0 - 1)] += ep;
    }
    t.add(book);
  }
  t.to_estimators(est, 2);
  // Each term is rounded to the nearest 2^-30.
  for (int j = 1; j <= js; ++j)
    for (int k = 1; k <= nl; ++k)
      EXPECT_NEAR(est.ej(k, j), direct[static_cast<std::size_t>((j - 1) * nl + k - 1)], terms * 0x1p-31) << k << " " << j;
  for (int k = 1; k <= nl; ++k) EXPECT_NEAR(est.eline(k), eline[static_cast<std::size_t>(k - 1)], 5000 * 0x1p-31);
  // Past the range: 2^34 packet energies of passages in one run.
  LineTally::Book big;
  for (int i = 0; i < 4; ++i) t.book_flight(big, 1, 1, 1 << 30, LineTally::units(4.0));
  EXPECT_TRUE(big.overflow);
  EXPECT_THROW(LineTally::units(std::nan("")), RunError);
  EXPECT_THROW(LineTally::units(0x1p40), RunError);
}

}  // namespace
}  // namespace mcspec
