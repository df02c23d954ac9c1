// Line opacity. Sobolev optical depths tau = B_lu (hc / 4 pi) t N_el f_ion (n_l - (g_l/g_u) n_u)
// against hand computations of the nebular populations: Boltzmann at W = 1, dilution of
// the normal levels only, inversions, underflowed populations and list positions. Escape
// probabilities on both sides of their series switch, branching ratios by hand (weights
// A beta nu, stored by transition number, summing to one per upper level), the
// consistency stop, and the progress lines of the stages.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "base/errors.hpp"
#include "support/models.hpp"

namespace mcspec::test {
namespace {

TEST(SobolevEscape, BothSidesOfTheSeriesSwitch) {
  EXPECT_EQ(sobolev_escape(0.0), 1.0);
  // Both branches agree with the exact -expm1(-tau)/tau, the series to its truncation
  // error |tau|^5/720 (1.4e-8 at the switch), so they join within that at |tau| = 0.1.
  for (double tau : {-0.0999999, -0.05, 1e-8, 0.03, 0.0999999, 0.1, -0.1, 0.5, 3.0, 50.0, -2.0}) {
    const double truncation = std::abs(tau) < 0.1 ? std::pow(std::abs(tau), 5) / 720.0 : 0.0;
    EXPECT_NEAR(sobolev_escape(tau), -std::expm1(-tau) / tau, 1.2 * truncation + 1e-14) << tau;
  }
  EXPECT_NEAR(sobolev_escape(std::nextafter(0.1, 0.0)), sobolev_escape(0.1), 1.5e-8);
  // Optically thick: beta -> 1/tau; an inversion escapes more than once per photon.
  EXPECT_NEAR(sobolev_escape(1000.0), 1e-3, 1e-15);
  EXPECT_GT(sobolev_escape(-1.0), 1.0);
}

// One ion: ground, two excited lower levels, and upper levels 4, 5, 6 with one, two
// (equal A and frequency) and three lines.
LineModel cascade_model(int js) {
  LineModel m;
  build_lines(m, js,
              {{26, 2,
                {{0.0, 0.5}, {1000.0, 0.5}, {2000.0, 0.5}, {30000.0, 1.5}, {40000.0, 0.5}, {50000.0, 1.5}},
                {{4, 1, 9.0e14, 2e8},
                 {5, 1, 1.2e15, 1e8},
                 {5, 2, 1.2e15, 1e8},
                 {6, 3, 1.4e15, 3e7},
                 {6, 2, 1.45e15, 5e7},
                 {6, 1, 1.5e15, 4e6}}}});
  return m;
}

void run_brats(LineModel& m) {
  OutFile out = OutFile::memory();
  branching_ratios(m.s, m.a, m.ll, m.op, out, 2);
}

TEST(BranchingRatios, RatiosByHand) {
  LineModel m = cascade_model(2);
  for (int k = 1; k <= 2; ++k) m.op.tau(m.ll.kpos(1), k) = 0.7 * k;
  m.op.tau(m.ll.kpos(2), 1) = 0.5;
  m.op.tau(m.ll.kpos(3), 1) = 2.0;
  run_brats(m);
  // A single way down has ratio 1 whatever its depth.
  EXPECT_EQ(m.op.br(1, 1), 1.0);
  EXPECT_EQ(m.op.br(1, 2), 1.0);
  // Equal A and nu: shared by the escape probabilities (1 - e^-tau)/tau.
  const double b1 = (1 - std::exp(-0.5)) / 0.5, b2 = (1 - std::exp(-2.0)) / 2.0;
  EXPECT_NEAR(m.op.br(2, 1), b1 / (b1 + b2), 1e-15);
  EXPECT_NEAR(m.op.br(3, 1), b2 / (b1 + b2), 1e-15);
  // Level 6, optically thin: A nu / sum A nu, stored by transition number although the
  // list order (by frequency) is the reverse.
  const double w4 = 3e7 * 1.4e15, w5 = 5e7 * 1.45e15, w6 = 4e6 * 1.5e15, sum = w4 + w5 + w6;
  for (int k = 1; k <= 2; ++k) {
    EXPECT_NEAR(m.op.br(4, k), w4 / sum, 1e-15);
    EXPECT_NEAR(m.op.br(5, k), w5 / sum, 1e-15);
    EXPECT_NEAR(m.op.br(6, k), w6 / sum, 1e-15);
  }
  // Depths of both signs in four shells: every upper level's ratios sum to one.
  LineModel v = cascade_model(4);
  for (int k = 1; k <= 4; ++k)
    for (int p = 1; p <= v.ll.nl; ++p) v.op.tau(p, k) = std::pow(-1.0, p) * 0.04 * p * k + 0.3 * (p % 3) * k;
  run_brats(v);
  for (int k = 1; k <= 4; ++k) {
    double level_sum[7] = {};
    for (int n = 1; n <= v.ll.nl; ++n) level_sum[v.ll.lup(n)] += v.op.br(n, k);
    for (int u = 4; u <= 6; ++u) EXPECT_NEAR(level_sum[u], 1.0, 1e-12) << "level " << u << " shell " << k;
  }
}

TEST(BranchingRatios, InconsistentRatiosStopWithIonLevelShellAndSum) {
  // A depth that is not a number makes the level's weights NaN, which must not pass.
  LineModel m = cascade_model(3);
  m.op.tau(m.ll.kpos(3), 2) = std::nan("");
  const std::string msg = message_of<RunError>([&] { run_brats(m); });
  for (const char* part : {"Fe II", "level 5", "shell 2", "sum to NaN"}) EXPECT_CONTAINS(msg, part);
}

TEST(BranchingRatios, DeeplyInvertedLineTakesItsLevelsRatiosWithoutOverflow) {
  // Regression: an inversion of depth -800 (dense ejecta) made exp(800) overflow and the
  // level's ratios NaN. Beyond -600 the escape is held at e^600/600; the inverted line
  // then takes all but e^-600 of its level's ratios, which still sum to one.
  LineModel m = cascade_model(2);
  m.op.tau(m.ll.kpos(3), 2) = -800.0;
  run_brats(m);
  EXPECT_EQ(sobolev_escape(-800.0), sobolev_escape(-600.0));
  EXPECT_NEAR(sobolev_escape(-600.0), std::exp(600.0) / 600.0, 1e-13 * std::exp(600.0) / 600.0);
  EXPECT_EQ(m.op.br(3, 2), 1.0);
  EXPECT_LT(m.op.br(2, 2), 1e-250);
}

// F = t N_el f_ion hc / (4 pi) for the fixture's N_el = 1e8 cm^-3, f_ion = 1.
double column_factor(const LineModel& m) { return m.p.tday * 1e8 * kH * kC / (4.0 * kPi); }

// Boltzmann weight g exp(-|E| hc / k TR) of a level at E [cm^-1].
double boltzmann(double g, double e, double tr) { return g * std::exp(-std::abs(e) * kH * kC / (kK * tr)); }

LineModel with_taus(int js, const std::vector<IonSpec>& ions, void (*set)(LineModel&) = nullptr,
                    std::string* progress = nullptr) {
  LineModel m;
  build_lines(m, js, ions);
  if (set) set(m);
  OutFile out = OutFile::memory();
  sobolev_depths(m.p, m.c, m.s, m.a, m.pl, m.ll, m.op, out, 2);
  if (progress) *progress = out.text();
  return m;
}

TEST(SobolevDepths, TwoLevelIonAtFullDilutionFollowsBoltzmann) {
  // g1 = 2 at 0, g2 = 4 at 10000 cm^-1; W = 1: n2/n1 = 2 exp(-E2 hc/kT).
  std::string progress;
  const LineModel m = with_taus(
      2, {{26, 2, {{0.0, 0.5}, {10000.0, 1.5}}, {{2, 1, 3.0e14, 1e8, 2.5e9}}}},
      [](LineModel& x) { x.s.tr(1) = 8000.0; x.s.tr(2) = 5000.0; }, &progress);
  for (int k = 1; k <= 2; ++k) {
    const double b1 = boltzmann(2, 0, m.s.tr(k)), b2 = boltzmann(4, 10000, m.s.tr(k));
    const double expected = 2.5e9 * column_factor(m) * (b1 - (2.0 / 4.0) * b2) / (b1 + b2);
    EXPECT_NEAR(m.op.tau(1, k), expected, 1e-12 * expected) << "shell " << k;
    EXPECT_NEAR(m.op.etau(1, k), std::exp(-expected), 1e-12 * std::exp(-expected));
  }
  EXPECT_NEAR(m.op.popl[2], boltzmann(4, 10000, 5000) / (boltzmann(2, 0, 5000) + boltzmann(4, 10000, 5000)), 1e-13);
  EXPECT_EQ(progress, "  taus 1 2\n");  // list-directed: a blank, then the items
}

TEST(SobolevDepths, DilutionAndColumnDensityScaleTheDepth) {
  // W dilutes only the excited (positive-energy) levels of the partition sum; the depth
  // of a line from the ground scales with N_el f_ion (3e8 x 0.25 in shell 2).
  const LineModel m = with_taus(2, {{26, 2, {{0.0, 0.0}, {8000.0, 0.0}, {20000.0, 1.0}}, {{3, 1, 6e14, 1e8, 1e9}}}},
                                [](LineModel& x) {
                                  x.s.tr.fill(7000.0);
                                  x.s.w.fill(0.5);
                                  x.pl.nelem(26, 2) = 3e8;
                                  x.pl.fion(2, 26, 2) = 0.25;
                                });
  const double b1 = boltzmann(1, 0, 7000), b2 = 0.5 * boltzmann(1, 8000, 7000), b3 = 0.5 * boltzmann(3, 20000, 7000);
  const double expected = 1e9 * column_factor(m) * (b1 - b3 / 3.0) / (b1 + b2 + b3);
  EXPECT_NEAR(m.op.tau(1, 1), expected, 1e-12 * expected);
  EXPECT_NEAR(m.op.tau(1, 2), expected * 0.75, 1e-12 * expected);
  // Levels 2 and 3 at the same energy, both diluted: n3/g3 = n2/g2 exactly.
  const LineModel z = with_taus(1, {{26, 2, {{0.0, 0.5}, {5000.0, 0.5}, {5000.0, 1.5}}, {{3, 2, 1e13}}}},
                                [](LineModel& x) { x.s.w(1) = 0.3; });
  EXPECT_EQ(z.op.tau(1, 1), 0.0);
  EXPECT_EQ(z.op.etau(1, 1), 1.0);
}

TEST(SobolevDepths, InversionGivesNegativeDepthUnclipped) {
  // A metastable upper level is not diluted, a normal lower level is: with W = 0.01 the
  // upper level is overpopulated per weight.
  const LineModel m = with_taus(1, {{26, 2, {{0.0, 0.5}, {5000.0, 0.5}, {-5100.0, 0.5}}, {{3, 2, 3e12, 1e8, 1e9}}}},
                                [](LineModel& x) { x.s.w(1) = 0.01; x.s.tr(1) = 6000.0; });
  const double b1 = boltzmann(2, 0, 6000), b2 = 0.01 * boltzmann(2, 5000, 6000), b3 = boltzmann(2, 5100, 6000);
  const double expected = 1e9 * column_factor(m) * (b2 - b3) / (b1 + b2 + b3);
  ASSERT_LT(expected, 0.0);
  EXPECT_NEAR(m.op.tau(1, 1), expected, 1e-10 * std::abs(expected));
  EXPECT_DOUBLE_EQ(m.op.etau(1, 1), std::exp(-m.op.tau(1, 1)));
}

TEST(SobolevDepths, MetastableLowerLevelIsStrongerByInverseDilution) {
  // Two lines into the same high upper level (its stimulated emission is ~1e-40 of the
  // absorption), one from a normal and one from a metastable level at the same |E|.
  const LineModel m = with_taus(
      1, {{26, 2, {{0.0, 0.5}, {8000.0, 0.5}, {-8000.0, 0.5}, {400000.0, 0.5}}, {{4, 2, 1.17e15}, {4, 3, 1.18e15}}}},
      [](LineModel& x) { x.s.w(1) = 0.2; x.s.tr(1) = 6000.0; });
  const double normal = m.op.tau(m.ll.kpos(1), 1);
  EXPECT_GT(normal, 0.0);
  EXPECT_NEAR(m.op.tau(m.ll.kpos(2), 1) / normal, 1.0 / 0.2, 1e-12);
}

TEST(SobolevDepths, UnderflowedPopulationsGiveDefinedDepths) {
  // At TR = 1000 K, E > ~520000 cm^-1 underflows exp to zero; shell 2 (W = 0) empties
  // every normal excited level, not the metastable level 4.
  const LineModel m = with_taus(2,
                                {{26, 2,
                                  {{0.0, 0.5}, {700000.0, 0.5}, {710000.0, 0.5}, {-9000.0, 0.5}, {12000.0, 0.5}},
                                  {{3, 2, 3e12}, {3, 1, 2e16, 1e8, 1e9}, {4, 5, 2e13}}}},
                                [](LineModel& x) { x.s.tr.fill(1000.0); x.s.w(2) = 0.0; });
  for (int k = 1; k <= 2; ++k) {
    EXPECT_EQ(m.op.tau(m.ll.kpos(1), k), 0.0);  // both levels empty: no absorbers
    EXPECT_EQ(m.op.etau(m.ll.kpos(1), k), 1.0);
    const double tg = m.op.tau(m.ll.kpos(2), k);  // only the upper level empty
    EXPECT_TRUE(std::isfinite(tg) && tg > 0.0) << tg;
  }
  EXPECT_EQ(m.op.tau(m.ll.kpos(3), 2), 0.0);  // empty lower level under a populated one
  EXPECT_EQ(m.op.etau(m.ll.kpos(3), 2), 1.0);
  EXPECT_LT(m.op.tau(m.ll.kpos(3), 1), 0.0);  // shell 1: an ordinary inversion
}

TEST(SobolevDepths, DepthsGoToListPositionsOfEveryIon) {
  // Two ions whose lines interleave in frequency; hot enough that every level has the
  // same population per weight, but W = 0 empties the excited ones: tau = B F, so the
  // depth of transition n lands at KPOS(n) in proportion to its B_lu = n.
  const LineModel m = with_taus(3,
                                {{26, 2, {{0.0, 0.5}, {1000.0, 0.5}}, {{2, 1, 1e14, 1e8, 1.0}, {2, 1, 5e14, 1e8, 2.0}}},
                                 {14, 1, {{0.0, 0.5}, {2000.0, 0.5}}, {{2, 1, 3e14, 1e8, 3.0}, {2, 1, 7e14, 1e8, 4.0}}}},
                                [](LineModel& x) { x.s.tr.fill(1e12); x.s.w.fill(0.0); });
  const double f = column_factor(m);
  for (int k = 1; k <= 3; ++k)
    for (int n = 1; n <= 4; ++n) EXPECT_NEAR(m.op.tau(m.ll.kpos(n), k), n * f, 1e-12 * n * f) << n << " " << k;
  EXPECT_EQ(m.ll.kpos(4), 1);  // 7e14 Hz is the highest frequency
}

TEST(SobolevDepths, LowerLevelBeyondTheRetainedLevelsGetsThePopulationLaw) {
  // A kept line whose lower level lies beyond the N retained levels (only upper levels
  // are bounded by the censoring): its population follows the same law, normalised by
  // the retained levels' sum, instead of reading another ion's storage.
  const LineModel m = with_taus(1, {{26, 2, {{0.0, 0.5}, {3000.0, 0.5}, {1000.0, 0.5}}, {{2, 3, 5e13, 1e8, 1e9}}}},
                                [](LineModel& x) { x.a.nlev(26, 2) = 2; x.s.tr(1) = 5000.0; });
  const double b1 = boltzmann(2, 0, 5000), b2 = boltzmann(2, 3000, 5000), b3 = boltzmann(2, 1000, 5000);
  const double expected = 1e9 * column_factor(m) * (b3 - b2) / (b1 + b2);
  EXPECT_NEAR(m.op.tau(1, 1), expected, 1e-12 * expected);
}

}  // namespace
}  // namespace mcspec::test
