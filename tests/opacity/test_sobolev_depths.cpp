// Sobolev optical depths tau = B_lu (hc / 4 pi) t N_el f_ion (n_l - (g_l/g_u) n_u)
// against hand computations of the nebular populations: Boltzmann at W = 1, dilution
// of the normal levels only, inversions, underflowed populations and list positions.
#include <gtest/gtest.h>

#include <cmath>

#include "support/line_model.hpp"

namespace mcspec::test {
namespace {

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
