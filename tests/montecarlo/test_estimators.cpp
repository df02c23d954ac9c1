// Estimators and the run report: the escape spectrum bins and the open observed window,
// the counters, the mid-point moments by hand, the flux normalisation, the single-pass
// run (byte-identical reruns: the end-to-end rerun of the type Ia example; strong lines
// reported after the last final pass only: the stored digest of the hydrogen example).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "montecarlo/estimators.hpp"
#include "montecarlo/transport.hpp"
#include "toy_model.hpp"

namespace mcspec {
namespace {

using test::ToyModel;

// 7 bins from 0.3 to 1.0 micron.
struct Bins {
  ToyModel m{3, 11, 1000, 0.0, {{2e15, 1.0}, {1e15, 1.0}}};
  EscapeBinning bins;
  Bins() {
    m.set_grid(0.3, 1.0, 7);
    bins = EscapeBinning(m.grid, m.p, m.c);
  }
  double nu(double micron) const { return m.c_cgs() / (micron * 1e-4); }
};

TEST(EscapeSpectrum, BinOfAWavelengthOnTheLogGrid) {
  Bins b;
  // log10(0.5/0.3) / (log10(1/0.3)/7) + 1 = 3.97: bin 3; (0, 1) truncates to 0: outside
  const struct { double nu; int bin; } cases[] = {{b.nu(0.5), 3}, {b.nu(0.31), 1}, {b.nu(0.99), 7}, {b.nu(0.29), 0},
                                                   {b.nu(0.1), 0},  {b.nu(1.2), 0},  {0.0, 0},        {std::nan(""), 0}};
  for (const auto& c : cases) EXPECT_EQ(b.bins.bin(c.nu), c.bin) << c.nu;  // 0 and NaN: no integer overflow
}

TEST(EscapeSpectrum, ObservedWindowIsOpen) {
  Bins b;
  const double nu = b.nu(0.5);
  b.bins.wv1v = b.bins.c_ang / nu;  // the packet's wavelength exactly on the blue edge
  packet_end(b.m.est, b.bins, true, nu, 1.0, 0, 0);
  b.bins.wv1v = 3501;
  b.bins.wv2v = b.bins.c_ang / nu;  // on the red edge
  packet_end(b.m.est, b.bins, true, nu, 1.0, 0, 0);
  EXPECT_EQ(b.m.est.pw(4), 0.0);
  b.bins.wv2v = std::nextafter(b.bins.c_ang / nu, 1e9);
  packet_end(b.m.est, b.bins, true, nu, 1.0, 0, 0);
  EXPECT_EQ(b.m.est.pw(4), 1.0);
}

TEST(MidpointCrossing, MomentsOfOneCrossingByHand) {
  ToyModel m(3, 11, 1000, 0.0);
  Estimators& e = m.est;
  // mu = 0.5, beta = 0.1: mu_c = 0.4/0.95; nu'/nu = 0.9; weight 0.81 * 2 / 0.5
  midpoint_crossing(e, 2, 0.9e15, 1e15, 0.5, 2.0, 0.1, 1e15);
  const double muc = 0.4 / 0.95;
  EXPECT_DOUBLE_EQ(e.rq(2, 1), 3.24);
  EXPECT_DOUBLE_EQ(e.rq(2, 2), 3.24 * muc);
  EXPECT_DOUBLE_EQ(e.rq(2, 3), 3.24 * muc * muc);
  EXPECT_DOUBLE_EQ(e.rq(2, 5), 2.0);
  EXPECT_DOUBLE_EQ(e.rq(2, 8), 0.9e15 * 3.24);
  EXPECT_EQ(e.rq(2, 4), 0.0);  // nu' below the threshold
  EXPECT_EQ(e.rq(2, 9), 1.0);
  midpoint_crossing(e, 2, 0.9e15, 1e15, 0.0, 1.0, 0.1, 0.0);  // grazing: 1/|mu| capped at 1e6
  EXPECT_DOUBLE_EQ(e.rq(2, 1), 3.24 + 0.81e6);
  EXPECT_DOUBLE_EQ(e.rq(2, 4), 0.81e6);
  EXPECT_EQ(e.rq(2, 9), 2.0);
  EXPECT_EQ(e.rq(1, 1) + e.rq(3, 1), 0.0);
}

TEST(RunEnd, CountersAddUpAndOuterFluxIsTheUnit) {
  const ToyModel probe(4, 21, 1, 0.0);
  ToyModel m(4, 21, 6000, 1.5, {{probe.nu_of_x(2.5, probe.p.tb), 3.0}});
  m.set_grid(0.2, 1.0, 50);  // many packets escape outside the bins
  Rng rng(m.p.iseed);
  run_monte_carlo(McMode::kTemperaturePass, 0, m.in, rng, m.est, m.sc, m.mo);
  const Estimators& e = m.est;
  EXPECT_EQ(e.ncnt(1) + e.ncnt(2), 6000);
  EXPECT_EQ(e.ncnt(3) + e.ncnt(4), e.ncnt(2));
  EXPECT_EQ(e.ncnt(6), e.ncnt(4));
  int binned = 0;
  for (int b = 1; b <= 50; ++b) binned += e.nspec(b);
  EXPECT_EQ(e.ncnt(5), e.ncnt(2) - binned);
  EXPECT_GT(e.ncnt(5) * e.ncnt(3), 0);
  // Outer lab-frame flux is the unit; J moments are positive, column 4 a fraction.
  EXPECT_NEAR(e.rq(4, 5), 1.0, 1e-15);
  EXPECT_TRUE(e.flxout > 0.0 && e.flxout < 1.0) << e.flxout;
  for (int j = 1; j <= 4; ++j)
    EXPECT_TRUE(e.rq(j, 1) > 0 && e.rq(j, 4) >= 0 && e.rq(j, 4) <= 1 && e.rq(j, 9) > 0) << j;
  EXPECT_DOUBLE_EQ(e.rq(86, 5), e.flxout * std::pow(m.p.tb / std::pow(10.0, m.p.logteff), 4));
}

TEST(SinglePass, ModeZeroRunsTwentyThousandPackets) {
  ToyModel m(3, 11, 50000, 0.5);
  m.p.iopt[3] = 0;
  Rng rng(m.p.iseed);
  run_single_pass(McMode::kTemperaturePass, 0, m.in, rng, m.est, m.sc, m.mo);
  EXPECT_EQ(m.est.pw(1), 20000.0);
  EXPECT_EQ(m.est.ncnt(1) + m.est.ncnt(2), 20000);
  EXPECT_EQ(m.sc.tb, m.p.tb);  // the top-hat scaling keeps TB
  EXPECT_GT(m.sc.ith, 0.0);
  for (int j = 1; j <= 3; ++j) {
    EXPECT_DOUBLE_EQ(m.est.rq(j, 4), 1.0);  // every crossing counts in column 4 (threshold 0)
    char tail[32];                           // the shell record ends with the crossing count as an integer
    std::snprintf(tail, sizeof tail, "%4d%8lld\n", j, static_cast<long long>(m.est.rq(j, 9)));
    EXPECT_NE(m.stst.text().find(tail), std::string::npos) << tail;
  }
}

}  // namespace
}  // namespace mcspec
