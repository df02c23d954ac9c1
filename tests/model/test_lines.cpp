// Line selection on hand-made line lists with a plasma state set by hand, so that
// every optical depth is known: the censoring rules, the rebuilt ion list, the
// Einstein coefficients, the bounded count overrides and the faults refused.
#include <gtest/gtest.h>

#include <cmath>

#include "common/errors.hpp"
#include "model/model_fixture.hpp"
#include "support/test_support.hpp"

namespace mcspec::test {
namespace {

constexpr double kH = 6.6262e-27, kC = 2.997925e10, kK = 1.38062e-16;

// He I, C II (with a metastable level), N I (absent from the composition) and O I
// (its only line reaches a level above the cut-off).
DataSet line_data() {
  DataSet d;
  d.comp = {0.0, 0.1, 0.0, 0.0, 0.0, 0.5, 0.0, 0.4};
  d.ions = {{2, 1, {{0, 0}, {159856, 1}, {166277, 0}}, {{2, 1, -5}, {3, 2, -6}, {3, 1, -7}}},
            {6, 2, {{0, 0.5}, {-43000, 1.5}, {74930, 0.5}, {96000, 1.5}},
             {{3, 1, -2.0}, {3, 2, -0.5}, {4, 1, -3.5}, {4, 2, -3.0}, {4, 3, -4.0}, {2, -1, -1.0}, {4, 2, -3.0}}},
            {7, 1, {{0, 0}, {1000, 1}}, {{2, 1, 0.0}}},
            {8, 1, {{0, 0}, {1000, 1}, {5e5, 1}}, {{3, 1, 0.0}}}};
  return d;
}

struct LineRun {
  TempDir dir;
  Params p = example_params();
  Atoms a;
  Shells s = uniform_shells(2, 10000.0, 0.4);
  Plasma pl;
  LineList ll;
  Outputs o;
  // Every ion: density n per shell, fraction 0.5 in each stage, partition function 2.
  LineRun(const DataSet& d, double n) {
    d.write(dir.path());
    load_atoms(dir.path(), p, a, o);
    pl.allocate(2);
    pl.nelem.fill(n);
    pl.fion.fill(0.5);
    pl.pf.fill(2.0);
    for (int k = 1; k <= 2; ++k) s.tr(k) = 9000.0 + 2000.0 * k;
  }
  void run() {
    InFile varn2 = open_input(dir / "lines" / "varn2");
    lines(p, test_constants(), s, pl, a, ll, varn2, o.out, o.stst, o.sbib, o.lhea);
  }
  // The optical-depth estimate as the physics states it, shell by shell.
  double tau_max(int n) const {
    const double nu = ll.frql(n), el = ll.elowt(n);
    const double s_line = 0.02654 * std::pow(10.0, ll.loggf(n)) * kC / nu;
    double tmax = 0;
    for (int k = 1; k <= 2; ++k) {
      double t = s_line * p.tday * pl.nelem(6, k) * 0.5 / 2.0 * std::exp(-std::fabs(el) * kH * kC / (kK * s.tr(k)));
      if (el > 0) t *= s.w(k);
      tmax = std::max(tmax, t);
    }
    return tmax;
  }
};

std::string ion_message(const char* sym, const char* lab, int nlines, int kept) {
  return render_record("( 8X A3 A5 5X 'No. of lines =' I6 3X 'Included =' I6 )",
                       std::vector<FmtArg>{sym, lab, nlines, kept});
}

// Weak lines: helium keeps all, C II only the strongest of an upper or lower level
// (the earlier one on a tie); O I keeps nothing and leaves the ion list.
TEST(Lines, WeakLinesKeptOnlyAsStrongestOrHelium) {
  LineRun r(line_data(), 1e-30);
  r.run();
  ASSERT_EQ(r.ll.nl, 7);
  const double kept_gf[] = {-5, -6, -7, -0.5, -3.0, -4.0, -1.0};
  for (int n = 1; n <= 7; ++n) EXPECT_DOUBLE_EQ(r.ll.loggf(n), kept_gf[n - 1]) << "transition " << n;
  ASSERT_EQ(r.a.nion, 2);
  EXPECT_EQ(r.a.ionz(1), 2);
  EXPECT_EQ(r.a.ionz(2), 6);
  ASSERT_EQ(r.ll.iln1.size(), 3);
  EXPECT_EQ(r.ll.iln1(2), 4);
  EXPECT_EQ(r.ll.iln1(3), 8);
  EXPECT_DOUBLE_EQ(r.ll.zcode(4), 6.01);
  EXPECT_EQ(r.ll.llo(7), -(r.a.lev1(6, 2)));  // flagged lower field keeps its sign
  const std::string& out = r.o.out.text();
  EXPECT_NE(out.find(ion_message(" He", " I   ", 3, 3)), std::string::npos) << out;
  EXPECT_NE(out.find(ion_message(" C ", " II  ", 7, 4)), std::string::npos);
  EXPECT_NE(out.find(ion_message(" O ", " I   ", 1, 0)), std::string::npos);
  EXPECT_EQ(out.find(" N  I"), std::string::npos);
  const std::string summary = "\n     No. of ions =   2            Total No. Included =     7\n\n";
  EXPECT_NE(out.find(summary), std::string::npos);
  const std::string& sbib = r.o.sbib.text();
  EXPECT_EQ(sbib.substr(sbib.size() - summary.size()), summary);
}

// Strong lines are all kept; tau_max, A and B agree with the physics.
TEST(Lines, OpticalDepthAndEinsteinCoefficients) {
  LineRun r(line_data(), 1e8);
  r.run();
  ASSERT_EQ(r.ll.nl, 10);
  for (int n = 4; n <= 10; ++n) {
    EXPECT_NEAR(r.ll.taumax(n), r.tau_max(n), 1e-12 * r.tau_max(n)) << "transition " << n;
    const int u = std::abs(r.ll.lup(n)), l = std::abs(r.ll.llo(n));
    const double gu = 2 * r.a.xj(u) + 1, gl = 2 * r.a.xj(l) + 1, nu = r.ll.frql(n);
    EXPECT_NEAR(nu, kC * (std::fabs(r.a.elev(u)) - std::fabs(r.a.elev(l))), 1e-12 * nu);
    const double lambda_um = kC / nu * 1e4;
    const double aul = 6.67e7 * std::pow(10.0, r.ll.loggf(n)) / (gu * lambda_um * lambda_um);
    EXPECT_NEAR(r.ll.aul(n), aul, 1e-12 * aul);
    const double blu = aul * gu / gl * kC * kC / (2 * kH * nu * nu * nu);
    EXPECT_NEAR(r.ll.blu(n), blu, 1e-11 * blu);
  }
  EXPECT_GT(r.ll.taumax(5), 1e-3);
}

// The fixed counts of He I, He II and Si I never reach past the stored levels, nor
// the Si I line count past the block.
TEST(Lines, CountOverridesBoundedByTheData) {
  DataSet d;
  d.comp = {0.0, 0.5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0.5};
  d.ions = {{2, 1, {{0, 0}, {159856, 1}, {166277, 0}, {169087, 1}, {500000, 1}}, {{2, 1, -1}, {5, 1, -1}}},
            {2, 2, {{0, 0.5}, {329179, 0.5}, {390000, 1.5}}, {{2, 1, -1}}},
            {14, 1, {{0, 0}, {77, 1}, {6299, 2}, {450000, 1}}, {{2, 1, -1}, {3, 1, -1}, {4, 3, -1}}}};
  LineRun r(d, 1e-30);
  EXPECT_EQ(r.a.nlev(2, 1), 4);
  EXPECT_EQ(r.a.nlev(14, 1), 3);
  r.run();
  EXPECT_EQ(r.a.nlev(2, 1), 5);
  EXPECT_EQ(r.a.nlev(2, 2), 3);
  EXPECT_EQ(r.a.nlev(14, 1), 4);
  EXPECT_NE(r.o.out.text().find(ion_message(" Si", " I   ", 3, 3)), std::string::npos) << r.o.out.text();
  EXPECT_EQ(r.ll.nl, 2 + 1 + 3);
}

TEST(Lines, RefusesBadGroundLevelsAndLevelNumbers) {
  DataSet d = line_data();
  d.ions[1].levels[0].first = 5.0;
  LineRun shifted(d, 1.0);
  try {
    shifted.run();
    ADD_FAILURE() << "a ground level at 5 cm^-1 was accepted";
  } catch (const RunError& e) {
    EXPECT_NE(std::string(e.what()).find("C II"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(" 5 "), std::string::npos) << e.what();
  }
  DataSet far = line_data();
  far.ions = {far.ions[1]};
  far.ions[0].lines[5] = {9, 1, -1.0};
  LineRun beyond(far, 1.0);
  try {
    beyond.run();
    ADD_FAILURE() << "level 9 of a 4-level ion was accepted";
  } catch (const InputError& e) {
    EXPECT_EQ(e.record(), 6) << e.what();
    EXPECT_EQ(e.field(), 4) << e.what();
  }
}

// 400001 helium lines qualify: the summary is written, then the run stops.
TEST(Lines, TooManyLinesStopsTheRun) {
  DataSet d;
  d.comp = {0.0, 1.0};
  d.ions = {{2, 1, {{0, 0}, {159856, 1}}, std::vector<std::array<double, 3>>(400000, {2, 1, -1})},
            {2, 2, {{0, 0.5}, {329179, 0.5}}, {{2, 1, -1}}}};
  LineRun r(d, 1.0);
  EXPECT_THROW(r.run(), RunError);
  const std::string& out = r.o.out.text();
  const auto summary = out.find("Total No. Included =400001");
  ASSERT_NE(summary, std::string::npos) << out.substr(out.size() > 400 ? out.size() - 400 : 0);
  EXPECT_NE(out.find("Too many lines - check TAU limit!", summary), std::string::npos);
  EXPECT_EQ(r.o.lhea.text(), "");
}

}  // namespace
}  // namespace mcspec::test
