// Escape probabilities on both sides of their series switch, branching ratios by hand
// (weights A beta nu, stored by transition number, summing to one per upper level),
// the consistency stop, and the progress lines of the stages.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "base/errors.hpp"
#include "support/line_model.hpp"

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

}  // namespace
}  // namespace mcspec::test
