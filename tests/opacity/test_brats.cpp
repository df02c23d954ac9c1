// Escape probabilities, branching ratios and their consistency stop; the progress
// lines of the three stages.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "common/errors.hpp"
#include "opacity/line_model.hpp"
#include "opacity/opacity.hpp"

namespace mcspec::test {
namespace {

TEST(SobolevEscape, BothSidesOfTheSeriesSwitch) {
  EXPECT_EQ(sobolev_escape(0.0), 1.0);
  EXPECT_DOUBLE_EQ(sobolev_escape(0.1), (1.0 - std::exp(-0.1)) / 0.1);
  const double t = -0.05;
  EXPECT_DOUBLE_EQ(sobolev_escape(t), 1.0 - t / 2 + t * t / 6 - t * t * t / 24 + t * t * t * t / 120);
  // Both branches agree with the exact -expm1(-tau)/tau, the series to its truncation
  // error |tau|^5/720 (1.4e-8 at the switch), so they join within that at |tau| = 0.1.
  for (double tau : {-0.0999999, -0.05, 1e-8, 0.03, 0.0999999, 0.1, -0.1, 0.5, 3.0, 50.0, -2.0}) {
    const double exact = -std::expm1(-tau) / tau;
    const double truncation = std::abs(tau) < 0.1 ? std::pow(std::abs(tau), 5) / 720.0 : 0.0;
    EXPECT_NEAR(sobolev_escape(tau), exact, 1.2 * truncation + 1e-14) << tau;
  }
  EXPECT_NEAR(sobolev_escape(std::nextafter(0.1, 0.0)), sobolev_escape(0.1), 1.5e-8);
  // Optically thick: beta -> 1/tau; an inversion escapes more than once per photon.
  EXPECT_NEAR(sobolev_escape(1000.0), 1e-3, 1e-15);
  EXPECT_GT(sobolev_escape(-1.0), 1.0);
}

// One ion: ground, two excited lower levels and upper levels with one and two lines.
LineModel cascade_model(int js) {
  LineModel m;
  build_lines(m, js,
              {{26, 2,
                {{0.0, 0.5}, {1000.0, 0.5}, {2000.0, 0.5}, {30000.0, 1.5}, {40000.0, 0.5}, {50000.0, 1.5}},
                {{4, 1, 9.0e14, 2e8},            // level 4: one line
                 {5, 1, 1.2e15, 1e8},            // level 5: two lines, equal A
                 {5, 2, 1.2e15, 1e8},            //   and equal frequency
                 {6, 3, 1.4e15, 3e7},            // level 6: three lines
                 {6, 2, 1.45e15, 5e7},
                 {6, 1, 1.5e15, 4e6}}}});
  return m;
}

TEST(Brats, SingleDownwardLineHasRatioOne) {
  LineModel m = cascade_model(3);
  for (int k = 1; k <= 3; ++k) m.op.tau(m.ll.kpos(1), k) = 0.7 * k;
  OutFile out = OutFile::memory();
  brats(m.s, m.a, m.ll, m.op, out);
  for (int k = 1; k <= 3; ++k) EXPECT_EQ(m.op.br(1, k), 1.0) << k;
}

TEST(Brats, EqualLinesShareByEscapeProbability) {
  LineModel m = cascade_model(1);
  m.op.tau(m.ll.kpos(2), 1) = 0.5;
  m.op.tau(m.ll.kpos(3), 1) = 2.0;
  OutFile out = OutFile::memory();
  brats(m.s, m.a, m.ll, m.op, out);
  const double b1 = (1 - std::exp(-0.5)) / 0.5, b2 = (1 - std::exp(-2.0)) / 2.0;
  EXPECT_NEAR(m.op.br(2, 1), b1 / (b1 + b2), 1e-15);
  EXPECT_NEAR(m.op.br(3, 1), b2 / (b1 + b2), 1e-15);
  EXPECT_GT(m.op.br(2, 1), m.op.br(3, 1));
}

TEST(Brats, RatiosAreByTransitionAndWeightedByAnu) {
  // Level 6, optically thin: BR_n = A_n nu_n / sum A nu, stored by transition number
  // although the list order (by frequency) is reversed.
  LineModel m = cascade_model(2);
  OutFile out = OutFile::memory();
  brats(m.s, m.a, m.ll, m.op, out);
  const double w4 = 3e7 * 1.4e15, w5 = 5e7 * 1.45e15, w6 = 4e6 * 1.5e15;
  for (int k = 1; k <= 2; ++k) {
    EXPECT_NEAR(m.op.br(4, k), w4 / (w4 + w5 + w6), 1e-15);
    EXPECT_NEAR(m.op.br(5, k), w5 / (w4 + w5 + w6), 1e-15);
    EXPECT_NEAR(m.op.br(6, k), w6 / (w4 + w5 + w6), 1e-15);
  }
}

TEST(Brats, EveryUpperLevelSumsToOneInEveryShell) {
  LineModel m = cascade_model(4);
  for (int k = 1; k <= 4; ++k)
    for (int p = 1; p <= m.ll.nl; ++p) m.op.tau(p, k) = std::pow(-1.0, p) * 0.04 * p * k + 0.3 * (p % 3) * k;
  OutFile out = OutFile::memory();
  brats(m.s, m.a, m.ll, m.op, out);
  for (int k = 1; k <= 4; ++k) {
    double sum[7] = {};
    for (int n = 1; n <= m.ll.nl; ++n) {
      EXPECT_GT(m.op.br(n, k), 0.0);
      sum[m.ll.lup(n)] += m.op.br(n, k);
    }
    for (int v = 4; v <= 6; ++v) EXPECT_NEAR(sum[v], 1.0, 1e-12) << "level " << v << " shell " << k;
  }
}

TEST(Brats, InconsistentRatiosStopWithIonLevelShellAndSum) {
  // An inversion of depth -800 in shell 2 makes exp(800) overflow: beta and the level's
  // sum become infinite and its ratios NaN, which must not pass silently.
  LineModel m = cascade_model(3);
  m.op.tau(m.ll.kpos(3), 2) = -800.0;
  OutFile out = OutFile::memory();
  try {
    brats(m.s, m.a, m.ll, m.op, out);
    FAIL() << "expected RunError";
  } catch (const RunError& e) {
    const std::string msg = e.what();
    EXPECT_NE(msg.find("Fe II"), std::string::npos) << msg;
    EXPECT_NE(msg.find("level 5"), std::string::npos) << msg;
    EXPECT_NE(msg.find("shell 2"), std::string::npos) << msg;
    EXPECT_NE(msg.find("sum to NaN"), std::string::npos) << msg;
  }
}

TEST(Brats, ProgressLines) {
  LineModel m = cascade_model(1);
  OutFile out = OutFile::memory();
  brats(m.s, m.a, m.ll, m.op, out);
  EXPECT_EQ(out.text(), "\n     Start  branch ratios" + std::string(50, ' ') + "FIYQ\n" +
                            "\n     Finish branch ratios\n");
}

TEST(Radx, ThreeProgressLines) {
  Atoms a;
  a.nlvtot = 1234;
  Shells s;
  s.js = 20;
  OutFile out = OutFile::memory();
  radx(a, s, out);
  EXPECT_EQ(out.text(), "\n     Start  rad ex rates" + std::string(51, ' ') + "FICR\n" + " 1234 20\n" +
                            "\n     Finish rad ex rates\n");
}

}  // namespace
}  // namespace mcspec::test
