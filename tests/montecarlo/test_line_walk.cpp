// The line walk without a division per line against the exact event search: the bound
// of TREM/RLE it decides with, and the same event, distance (bit for bit), next line
// and EJ increments on random flights, exact ties and the limiting cases of the
// electron opacity (none, tiny, huge) and of the grid-point distance; the stream runs'
// walk on running sums of the depths against the same exact search.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "base/array.hpp"

#include "montecarlo/line_walk.hpp"
#include "montecarlo/transport.hpp"

namespace mcspec {
namespace {

const double kInf = std::numeric_limits<double>::infinity();

// Uniform doubles in [0, 1) from a fixed sequence.
struct Sequence {
  std::uint64_t state = 88172645463325252ull;
  double next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<double>(state >> 11) * 0x1p-53;
  }
};

TEST(QuotientBound, StaysBelowTheRoundedQuotient) {
  Sequence q;
  for (int i = 0; i < 200000; ++i) {
    const double rle = std::ldexp(0.5 + q.next(), static_cast<int>(q.next() * 200) - 100);
    const double trem = std::ldexp(0.5 + q.next(), static_cast<int>(q.next() * 200) - 100);
    ASSERT_LE(trem * electron_depth_lower_factor(rle), trem / rle) << "trem " << trem << " rle " << rle;
  }
  EXPECT_EQ(electron_depth_lower_factor(0.0), kInf);  // TREM/0 = inf for TREM > 0
  EXPECT_EQ(electron_depth_lower_factor(kInf), 0.0);
  EXPECT_TRUE(std::isnan(electron_depth_lower_factor(-1.0)) && std::isnan(electron_depth_lower_factor(std::nan(""))));
}

// A shell column of n lines with decreasing frequencies (some equal) and depths from
// transparent to opaque, and the end marker FRQ(n+1) = 0.
struct Column {
  std::vector<double> frq, tau;
  Column(Sequence& q, int n) {
    double f = 1e15;
    for (int k = 0; k < n; ++k) {
      if (q.next() > 0.1) f *= 1 - 1e-3 * q.next();  // one in ten equals the line before
      frq.push_back(f);
      const double u = q.next();
      tau.push_back(u < 0.3 ? 0.0 : u < 0.9 ? 0.3 * q.next() : 20 * q.next());
    }
    frq.push_back(0.0);
  }
};

// Runs both walks from the same start on separate EJ columns and compares everything.
void expect_same_walk(const Column& c, int kn, double xpe, double dnu, double rle, double taur, double d,
                      double ep) {
  const auto n = c.tau.size();
  std::vector<double> ej_fast(n, 0.5), ej_exact(n, 0.5);
  ASSERT_TRUE(first_line_ahead(c.frq.data(), kn, xpe, dnu));
  const WalkEnd w = walk_lines(c.frq.data(), c.tau.data(), ej_fast.data(), kn, xpe, dnu, rle,
                               electron_depth_lower_factor(rle), taur, d, ep);
  const EventSearch ev = search_event(c.frq.data(), c.tau.data(), ej_exact.data(), kn, xpe, dnu, rle, taur, d, ep);
  ASSERT_EQ(ev.negative, 0);  // no line behind the packet when the fast walk applies
  ASSERT_EQ(std::bit_cast<std::uint64_t>(w.s), std::bit_cast<std::uint64_t>(ev.s))
      << "s " << w.s << " vs " << ev.s << " (rle " << rle << ", taur " << taur << ", d " << d << ")";
  ASSERT_EQ((std::vector<int>{w.kn, w.line, w.passed}), (std::vector<int>{ev.kn, ev.line, ev.passed}));
  ASSERT_EQ(ej_fast, ej_exact);
}

TEST(LineWalk, RandomFlightsMatchTheExactSearch) {
  Sequence q;
  const Column c(q, 4000);
  const double rles[] = {0.0, 1e-300, 1e-6, 0.125, 1.0, 3.0, 7.7e5, 1e300};
  for (int i = 0; i < 20000; ++i) {
    const int kn = 1 + static_cast<int>(q.next() * 3000);
    // The packet between line kn-1 and line kn (or exactly on line kn).
    const double xpe = q.next() < 0.1 ? c.frq[static_cast<std::size_t>(kn - 1)]
                                      : c.frq[static_cast<std::size_t>(kn - 1)] * (1 + 1e-4 * q.next());
    const double dnu = -1.0 / (0.03 * xpe * (0.5 + q.next()));
    const double rle = q.next() < 0.6 ? rles[static_cast<int>(q.next() * 8)] : 10 * q.next();
    const double taur = q.next() < 0.05 ? 0.0 : -std::log(1 - q.next());
    const double d = q.next() < 0.05 ? kInf : 3 * q.next();
    expect_same_walk(c, kn, xpe, dnu, rle, taur, d, 0.25 + q.next());
  }
}

TEST(LineWalk, ExactTiesGoToTheCandidateAsInTheExactSearch) {
  Sequence q;
  const Column c(q, 200);
  const double xpe = c.frq[10] * 1.00001, dnu = -1.0 / (0.03 * xpe);
  const auto sl = [&](int k) { return (c.frq[static_cast<std::size_t>(k - 1)] - xpe) * dnu; };
  // A grid point that is not a number ends the walk at the first line.
  expect_same_walk(c, 11, xpe, dnu, 1.0, 0.5, std::nan(""), 1.0);
  // The grid point exactly at a resonance, for every line of the first stretch.
  for (int k = 11; k < 60; ++k) expect_same_walk(c, 11, xpe, dnu, 0.0, 1e9, sl(k), 1.0);
  // Electron scattering exactly at the first resonance (RLE = 1: SE = TAU_R).
  expect_same_walk(c, 11, xpe, dnu, 1.0, sl(11), kInf, 1.0);
  // Electron scattering at the resonances of later lines: TAU_R chosen so that the
  // depth left after the lines before meets the line within a rounding or two.
  for (int k = 12; k < 40; ++k) {
    double tsum = 0;
    for (int i = 11; i < k; ++i) tsum += c.tau[static_cast<std::size_t>(i - 1)];
    for (double f : {1.0, 1 - 0x1p-52, 1 + 0x1p-52}) expect_same_walk(c, 11, xpe, dnu, 2.0, (tsum + 2 * sl(k)) * f, kInf, 1.0);
  }
}

TEST(LineWalk, FirstLineBehindThePacketNeedsTheExactSearch) {
  const double frq[] = {5, 4, 3, 2, 1, 0};
  const double tau[] = {0, 0, 0, 0, 0};
  EXPECT_FALSE(first_line_ahead(frq, 2, 3.0, -1.0));  // line 2 is bluer than the packet
  EXPECT_TRUE(first_line_ahead(frq, 3, 3.0, -1.0));   // line 3 at the packet's frequency
  EXPECT_FALSE(first_line_ahead(frq, 3, 3.0, 0.0));   // no flow: DNU undefined
  EXPECT_FALSE(first_line_ahead(frq, 3, std::nan(""), -1.0));
  // The exact search counts such a line for its message and passes it; the line at the
  // packet's own frequency lies at -0, not behind.
  double ej[5] = {};
  const EventSearch ev = search_event(frq, tau, ej, 2, 3.0, -1.0, 0.0, 1e9, 0.5, 1.0);
  EXPECT_EQ((std::vector<int>{ev.negative, ev.passed, ev.kn, ev.line}), (std::vector<int>{1, 2, 4, 0}));
  EXPECT_EQ(ev.s, 0.5);
}

// The walk of the stream runs on depth sums against the exact search: the same event,
// line and passages, distances up to the rounding of the sums, the depth left at a
// candidate event, and the AVX2 walk equal to the portable one bit for bit. Columns with
// masers (negative depths), whose depth before a line can exceed the depth after it.
TEST(DepthSumWalk, RandomFlightsMatchTheExactSearch) {
  Sequence q;
  Column c(q, 4000);
  for (double& t : c.tau) {
    if (q.next() < 0.05) t = -3 * q.next();
  }
  Array2<double> tau(4000, 1), sums;
  std::copy(c.tau.begin(), c.tau.end(), tau.column(1));
  form_depth_sums(tau, 4000, 1, sums, 1);
  const double* sum = sums.column(1);
  const bool avx2 = walk_avx2_available();
  const double rles[] = {0.0, 1e-6, 0.125, 1.0, 3.0, 7.7e5};
  for (int i = 0; i < 20000; ++i) {
    const int kn = 1 + static_cast<int>(q.next() * 3990);
    const double xpe = c.frq[static_cast<std::size_t>(kn - 1)] * (1 + 1e-4 * q.next());
    const double dnu = -1.0 / (0.03 * xpe * (0.5 + q.next()));
    const double rle = q.next() < 0.5 ? rles[static_cast<int>(q.next() * 6)] : 10 * q.next();
    const double taur = 1e-3 - std::log(1 - q.next());
    const double d = q.next() < 0.05 ? kInf : 3 * q.next();
    const SumWalkEnd w = walk_depth_sums(c.frq.data(), sum, kn, 4000, xpe, dnu, rle, 1 / rle, taur, d);
    const EventSearch ev = search_event(c.frq.data(), c.tau.data(), nullptr, kn, xpe, dnu, rle, taur, d, 1.0);
    ASSERT_EQ((std::vector<int>{w.kn, w.line, w.passed}), (std::vector<int>{ev.kn, ev.line, ev.passed}))
        << "flight " << i << " from line " << kn << " (rle " << rle << ", taur " << taur << ", d " << d << ")";
    ASSERT_NEAR(w.s, ev.s, 1e-9 * ev.s) << "flight " << i;
    if (!w.line && std::isfinite(w.s)) {
      double used = rle * w.s;
      for (int k = kn; k < w.kn; ++k) used += c.tau[static_cast<std::size_t>(k - 1)];
      ASSERT_NEAR(w.left, taur - used, 1e-9 * (1 + std::abs(used))) << "flight " << i;
    }
    if (avx2) {
      const SumWalkEnd v = walk_depth_sums_avx2(c.frq.data(), sum, kn, 4000, xpe, dnu, rle, 1 / rle, taur, d);
      ASSERT_EQ(std::bit_cast<std::uint64_t>(v.s), std::bit_cast<std::uint64_t>(w.s)) << "flight " << i;
      ASSERT_EQ(std::bit_cast<std::uint64_t>(v.left), std::bit_cast<std::uint64_t>(w.left)) << "flight " << i;
      ASSERT_EQ((std::vector<int>{v.kn, v.line, v.passed}), (std::vector<int>{w.kn, w.line, w.passed}));
    }
  }
}

TEST(DepthSumWalk, SumsHoldDepthsWithinTheLimit) {
  Array2<double> tau(4, 2), sums;
  const double nan = std::nan("");
  const double col1[] = {1.0, 2e6, nan, -kInf}, col2[] = {0.5, -0.25, 0.0, 1.0};
  std::copy(col1, col1 + 4, tau.column(1));
  std::copy(col2, col2 + 4, tau.column(2));
  form_depth_sums(tau, 4, 2, sums, 2);
  EXPECT_EQ(std::vector<double>(sums.column(1), sums.column(1) + 5),
            (std::vector<double>{0.0, 1.0, 1.0 + kDepthSumLimit, 1.0 + 2 * kDepthSumLimit, 1.0 + kDepthSumLimit}));
  EXPECT_EQ(std::vector<double>(sums.column(2), sums.column(2) + 5), (std::vector<double>{0.0, 0.5, 0.25, 0.25, 1.25}));
}

}  // namespace
}  // namespace mcspec
