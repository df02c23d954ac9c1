// Packet transport: the emission laws (the order of the random draws: the stored digest of
// the hydrogen example, e2e), the first reachable line, the event search by hand,
// re-emission by branching ratios, energy conservation, and the faults that stop a run.
// The line walk without a division per line against the exact event search: the bound of
// TREM/RLE it decides with, and the same event, distance (bit for bit), next line and EJ
// increments on random flights, exact ties and the limiting cases of the electron opacity
// (none, tiny, huge) and of the grid-point distance; the stream runs' walk on running sums
// of the depths against the same exact search.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "base/array.hpp"
#include "base/errors.hpp"
#include "montecarlo/line_walk.hpp"
#include "montecarlo/transport.hpp"
#include "toy_model.hpp"

namespace mcspec {
namespace {

using test::ToyModel;

void run(ToyModel& m, McMode mode = McMode::kTemperaturePass, int seed = 0) {
  Rng rng(seed ? seed : m.p.iseed);
  run_monte_carlo(mode, 0, m.in, rng, m.est, m.sc, m.mo);
}

TEST(FirstReachableLine, FirstLineBelowThePacketFrequency) {
  Array1<double> frq(6);
  for (int k = 1; k <= 6; ++k) frq(k) = 6 - k;  // 5, 4, 3, 2, 1, end marker 0
  const struct { int nl; double x; int want; } cases[] = {
      {5, 6.0, 1}, {5, 0.5, 6}, {5, 3.5, 3}, {5, 3.0, 4},  // above, below, between lines, on a line
      {5, 1.0, 5}, {1, 5.0, 1}, {0, 2.0, 1}};              // on the reddest, a single line, no lines
  for (const auto& c : cases) EXPECT_EQ(first_reachable_line(frq, c.nl, c.x), c.want) << c.nl << " " << c.x;
  const int nl = 37;  // every position of a longer list against a linear search
  Array1<double> f(nl + 1);
  for (int k = 1; k <= nl; ++k) f(k) = 1000.0 - 10 * k;
  for (double x = 620; x < 1000; x += 3.7) {
    int expect = 1;
    while (expect <= nl && !(f(expect) < x)) ++expect;
    EXPECT_EQ(first_reachable_line(f, nl, x), expect) << "x = " << x;
  }
}

// Lines at 0.5, 1.5 and 2.5 along the flight (SL = (FRQ - XPE) DNU, DNU = -1).
TEST(EventSearch, LinesElectronsAndTheGridPoint) {
  const double frq[] = {10, 9, 8, 0}, tau[] = {0.3, 0.3, 0.5, 0}, clear[] = {0, 0, 0, 0};
  double ej[4] = {};
  // No electrons: the depths add up to tau_r = 1 at the third line, which is reached too.
  EventSearch ev = search_event(frq, tau, ej, 1, 10.5, -1, 0.0, 1.0, 5.0, 2.0);
  EXPECT_TRUE(ev.line);
  EXPECT_EQ(ev.kn * 10 + ev.passed, 33);
  EXPECT_EQ(ev.s, 2.5);
  EXPECT_EQ(ej[0] + ej[1] + ej[2], 6.0);
  // The grid point at 1.0 comes before the second line; exactly at it, it still wins.
  for (double d : {1.0, 1.5}) {
    ev = search_event(frq, tau, ej, 1, 10.5, -1, 0.0, 1.0, d, 1.0);
    EXPECT_FALSE(ev.line);
    EXPECT_EQ(ev.s, d);
    EXPECT_EQ(ev.kn * 10 + ev.passed, 21);
  }
  // Electrons alone (transparent lines): Thomson scattering where RLE s = tau_r.
  ev = search_event(frq, clear, ej, 1, 10.5, -1, 2.0, 1.6, std::numeric_limits<double>::infinity(), 1.0);
  EXPECT_FALSE(ev.line);
  EXPECT_NEAR(ev.s, 0.8, 1e-15);
  EXPECT_EQ(ev.kn, 2);
  // A line behind the packet (SL < 0) is counted for the message and passed.
  ev = search_event(frq, clear, ej, 1, 9.5, -1, 0.0, 1.0, 1.0, 1.0);
  EXPECT_EQ(ev.negative * 10 + ev.kn, 13);  // the second line, at 0.5, is passed as well
}

TEST(BlackBodyEmission, EnergyBalancesAndMeanFrequencyIsPlanckian) {
  // Thomson scattering only: the packets' lab energy changes only by the Doppler term
  // PW(5), so finished - Doppler - NP1 is the energy of the packets never emitted.
  ToyModel m(5, 101, 20000, 2.0);
  run(m);
  EXPECT_NEAR((m.est.pw(3) - m.est.pw(5) - m.est.pw(1)) / m.est.pw(1), 0.0, 1e-12);
  EXPECT_NE(m.est.pw(5), 0.0);
  // <h nu / k T> of a black body = 4 zeta(5)/zeta(4) = 3.83223, spread 2.028 per packet.
  EXPECT_NEAR(m.est.xm, 3.8322295, 3 * 2.028 / std::sqrt(20000.0));
  EXPECT_EQ(m.est.ncnt(1) + m.est.ncnt(2), 20000);
  EXPECT_GT(m.est.ncnt(1), 0);  // some packets are scattered back into the core
  ToyModel short_run(5, 101, 20050, 2.0);  // 100 does not divide 20050: 20000 emitted
  run(short_run);
  EXPECT_EQ(short_run.est.pw(1), 20050.0);
  EXPECT_EQ(short_run.est.ncnt(1) + short_run.est.ncnt(2), 20000);
  EXPECT_NEAR((short_run.est.pw(3) - short_run.est.pw(5) - short_run.est.pw(1)) / 20050, -50.0 / 20050, 1e-12);
}

TEST(BlackBodyEmission, PacketCountsOfTheModes) {
  ToyModel m(3, 11, 1001, 0.5);
  run(m, McMode::kHalf, 1);
  EXPECT_EQ(m.est.pw(1), 500.0);  // NPK/2 rounded down
  EXPECT_EQ(m.est.ncnt(1) + m.est.ncnt(2), 500);
  ToyModel one(3, 2, 500, 0.0);  // KB = 2: both end replacements of the sampling in one interval
  run(one);
  EXPECT_EQ(one.est.ncnt(2), 500);  // no electrons, no lines: every packet escapes
  EXPECT_TRUE(one.est.xm > 0 && std::isfinite(one.est.xm)) << one.est.xm;
  ToyModel none(3, 1, 1000, 0.5);  // KB < 2: mode 3 books a million packets, emits none
  Rng rng(1);
  run_monte_carlo(McMode::kMillion, 0, none.in, rng, none.est, none.sc, none.mo);
  EXPECT_EQ(none.est.pw(1), 1e6);
  EXPECT_EQ(none.est.ncnt(1) + none.est.ncnt(2), 0);
  EXPECT_EQ(rng.iseed(), 1);
}

// A generator whose draw number `ahead` (1: the next) is exactly u24 * 2^-24: step the
// state back through ISEED' = ISEED * 69069 + 1 (69069 is odd, so it is invertible).
Rng rng_with_draw(std::uint32_t u24, int ahead) {
  std::uint32_t inv = 69069u;  // Newton iteration for the inverse modulo 2^32
  for (int i = 0; i < 5; ++i) inv *= 2u - 69069u * inv;
  std::uint32_t state = u24 << 8;
  for (int i = 0; i < ahead; ++i) state = (state - 1u) * inv;
  return Rng(static_cast<std::int32_t>(state));
}

TEST(TopHatEmission, FrequenciesFillTheHalfOpenBand) {
  const double fth1 = 1e15, fth2 = 3e14, beta = 0.03;
  Rng zero_mu = rng_with_draw(0, 1), zero_nu = rng_with_draw(0, 2), top_nu = rng_with_draw((1u << 24) - 1, 2);
  EXPECT_EQ(emit_top_hat(zero_mu, fth1, fth2, beta).dc, 1.0);    // r1 = 0: mu = 1
  EXPECT_EQ(emit_top_hat(zero_nu, fth1, fth2, beta).frl, fth1);  // r2 = 0: FTH1 itself
  const double highest_draw = emit_top_hat(top_nu, fth1, fth2, beta).frl;
  EXPECT_GT(highest_draw, fth2);
  EXPECT_LT(highest_draw, fth2 + 1e-6 * (fth1 - fth2));
  Rng seq(12345);
  for (int n = 0; n < 20000; ++n) {
    const Packet pk = emit_top_hat(seq, fth1, fth2, beta);
    ASSERT_TRUE(pk.frl <= fth1 && pk.frl > fth2 && pk.dc > 0.0 && pk.dc <= 1.0) << pk.frl << " " << pk.dc;
    ASSERT_EQ(pk.xpe, (1 - beta * pk.dc) * pk.frl);
  }
}

// Three downward lines of one upper level (transitions = list positions 1..3), with the
// given branching ratios in every shell.
struct Branches {
  ToyModel m{3, 11, 1000, 0.0, {{3e15, 1.0}, {2e15, 1.0}, {1e15, 1.0}}};
  EmissionMaps maps;
  explicit Branches(const std::vector<double>& br) {
    m.ll.lup(1) = m.ll.lup(2) = m.ll.lup(3) = 4;
    m.ll.idn1.assign(4, 0), m.ll.idn2.assign(4, 0);
    m.ll.idn1(4) = 1, m.ll.idn2(4) = 3;
    for (int n = 1; n <= 3; ++n)
      for (int j = 1; j <= 3; ++j) m.op.br(n, j) = br[static_cast<std::size_t>(n - 1)];
  }
  // reemit_after_line_event after an absorption in line kn, shell 2; returns the emitting line.
  int emit(Rng& rng, int kn = 1, int iopt2 = 1) {
    maps.build(m.ll);
    double xpe = 0;
    reemit_after_line_event(kn, xpe, 2, maps, m.ll.frq, m.op.br, iopt2, rng, m.out);
    EXPECT_EQ(xpe, m.ll.frq(kn));
    return kn;
  }
};

TEST(Reemission, ChoosesByBranchingRatioWithFallbackToTheLastBranch) {
  // The first branch whose running sum exceeds r; the last one when none does, so with
  // the short sum the last branch takes its own 0.1 plus the missing 0.4.
  for (const auto& br : std::vector<std::vector<double>>{{0.2, 0.3, 0.5}, {0.2, 0.3, 0.1}}) {
    Branches b(br);
    Rng rng(99), ref(99);
    int last = 0;
    for (int n = 0; n < 4000; ++n) {
      const int kn = b.emit(rng);
      const double r = static_cast<double>(ref.uniform());
      ASSERT_EQ(kn, r < br[0] ? 1 : r < br[0] + br[1] ? 2 : 3) << "r = " << r;
      last += kn == 3;
    }
    EXPECT_NEAR(last / 4000.0, 0.5, 4 * std::sqrt(0.25 / 4000));
  }
  Branches other({0.5, 0.5, 0.5});  // a line of another upper level inside the range is no branch
  other.m.ll.lup(2) = 3;
  Rng rng(11), ref(11);
  for (int n = 0; n < 500; ++n) ASSERT_EQ(other.emit(rng), static_cast<double>(ref.uniform()) < 0.5 ? 1 : 3);
}

// The faults that stop the run: re-emission in another species, the level range
// IDN1/IDN2 never set, and a range past the end of the line list when no branch is
// chosen before its end.
TEST(Reemission, AnotherSpeciesOrABrokenLevelRangeStopsTheRun) {
  Branches species({0.0, 0.0, 1.0});
  species.m.ll.zcode(3) = 20.01;
  Rng rng(3);
  EXPECT_THROW(species.emit(rng), RunError);
  for (const int last : {0, 9}) {
    Branches b({0.0, 0.0, 0.0});
    b.m.ll.idn1(4) = last == 0 ? 0 : 2;
    b.m.ll.idn2(4) = last;
    EXPECT_THROW(b.emit(rng), RunError) << "IDN2 = " << last;
  }
}

TEST(Reemission, ChoiceWithoutChecksEqualsTheCheckedChoice) {
  Branches b({0.2, 0.3, 0.5});
  b.m.ll.lup(2) = -4;  // a negative field names the same level
  b.maps.build(b.m.ll);
  ASSERT_GT(b.maps.reemission(1).first, 0) << "the range should need no checks";
  std::uint32_t state = 7;
  for (int trial = 0; trial < 200; ++trial) {
    for (int n = 1; n <= 3; ++n) {
      state = state * 1664525u + 1013904223u;
      b.m.op.br(n, 2) = static_cast<double>(state >> 8) * 0x1p-25;  // sums below and above 1
    }
    Rng fast(trial), checked(trial);
    for (int draw = 0; draw < 20; ++draw)
      ASSERT_EQ(fluorescent_line(1, 2, b.maps, b.m.ll.frq, b.m.op.br.column(2), fast, b.m.out),
                checked_fluorescence(1, 2, b.maps, b.m.ll.frq, b.m.op.br.column(2), checked, b.m.out));
    ASSERT_EQ(fast.iseed(), checked.iseed());
  }
}

TEST(LineTransport, ResonanceScatteringMeetsALineOnlyOnceAndFluorescenceMovesEnergyRedward) {
  // One opaque line near the peak of the boundary's black body, pure resonance
  // scattering: comoving frequencies only fall along a path and scattering keeps them,
  // so every packet reaches the line at most once, however often it scatters.
  const ToyModel probe(4, 21, 1, 0.0);
  ToyModel m(4, 21, 4000, 1.0, {{probe.nu_of_x(3.0, probe.p.tb), 1e4}});
  m.p.iopt[2] = 0;
  run(m);
  EXPECT_GT(m.est.line_passages, 400);
  EXPECT_LE(m.est.line_passages, 4000);
  EXPECT_GT(m.est.eline(1), 0.0);
  EXPECT_GT(m.est.ncnt(3), 0);
  // A blue line whose upper level decays only through a red line (branching ratio 1):
  // every packet absorbed in the blue line leaves in the red one.
  ToyModel f(4, 21, 4000, 0.5, {{probe.nu_of_x(4.0, probe.p.tb), 1e4}, {probe.nu_of_x(1.5, probe.p.tb), 0.0}});
  f.ll.lup(2) = f.ll.lup(1);  // both lines from level 2
  f.ll.idn1(2) = 1;
  f.ll.idn2(2) = 2;
  for (int j = 1; j <= 4; ++j) f.op.br(1, j) = 0.0, f.op.br(2, j) = 1.0;
  run(f);
  EXPECT_EQ(f.est.eline(1), 0.0);
  EXPECT_GT(f.est.eline(2), 0.0);
}

TEST(RunChecks, OuterEdgeFasterThanLightIsRejected) {
  ToyModel m(3, 11, 1000, 0.5);
  m.p.vph = 70000;  // beta / XE1 = 1.17
  EXPECT_THROW(run(m), InputError);
}

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
