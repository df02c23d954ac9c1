// The line list: censoring on hand-made line files with a plasma state set by hand
// (so every optical depth is known), the Einstein relations, the bounded count
// overrides and the faults refused; then the frequency ordering, its maps and lhea.dat.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <random>

#include "base/errors.hpp"
#include "model/line_list.hpp"
#include "model/plasma.hpp"
#include "support/atomic_data.hpp"
#include "support/line_model.hpp"

namespace mcspec::test {
namespace {

// He I, C II (with a metastable level), N I (absent from the composition) and O I
// (its only line reaches a level above the cut-off).
DataSet line_data() {
  DataSet d({0.0, 0.1, 0.0, 0.0, 0.0, 0.5, 0.0, 0.4});
  d.ions = {{2, 1, {{0, 0}, {159856, 1}, {166277, 0}}, {{2, 1, -5}, {3, 2, -6}, {3, 1, -7}}},
            {6, 2, {{0, 0.5}, {-43000, 1.5}, {74930, 0.5}, {96000, 1.5}},
             {{3, 1, -2.0}, {3, 2, -0.5}, {4, 1, -3.5}, {4, 2, -3.0}, {4, 3, -4.0}, {2, -1, -1.0}, {4, 2, -3.0}}},
            {7, 1, {{0, 0}, {1000, 1}}, {{2, 1, 0.0}}},
            {8, 1, {{0, 0}, {1000, 1}, {5e5, 1}}, {{3, 1, 0.0}}}};
  return d;
}

// Two shells at TR = 11000 and 13000 K, W = 0.4; every ion with density n, half of it
// in each stage, partition function 2.
struct LineRun : LoadedData {
  Params p = example_params();
  Shells s = lay_shells(2);
  Plasma pl;
  LineList ll;
  explicit LineRun(const DataSet& d, double n) : LoadedData(d) {
    pl.allocate(2);
    pl.nelem.fill(n), pl.fion.fill(0.5), pl.pf.fill(2.0), s.w.fill(0.4);
    s.tr(1) = 11000.0, s.tr(2) = 13000.0;
  }
  void run() {
    InFile varn2 = open_input(dir / "lines" / "varn2");
    read_line_list(p, program_constants(), s, pl, a, ll, varn2, o.out, o.stst, o.sbib, o.lhea);
  }
};

// Weak lines: helium keeps all, C II only the strongest of an upper or lower level
// (the earlier one on a tie); O I keeps nothing and leaves the ion list.
TEST(ReadLineList, WeakLinesKeptOnlyAsStrongestOrHelium) {
  LineRun r(line_data(), 1e-30);
  r.run();
  ASSERT_EQ(r.ll.nl, 7);
  EXPECT_EQ(r.ll.loggf.vec(), (std::vector<double>{-5, -6, -7, -0.5, -3.0, -4.0, -1.0}));
  ASSERT_EQ(r.a.nion, 2);
  EXPECT_EQ(r.a.ionz(1) * 100 + r.a.ionz(2), 206);
  EXPECT_EQ(r.ll.iln1.vec(), (std::vector<int>{1, 4, 8}));
  EXPECT_DOUBLE_EQ(r.ll.zcode(4), 6.01);
  EXPECT_EQ(r.ll.llo(7), -(r.a.lev1(6, 2)));  // a flagged lower field keeps its sign
}

// Strong lines are all kept. The estimate is the Sobolev depth
// tau = (pi e^2 / m_e c) f lambda t n_l (0.02654 cm^2 s^-1), largest over the shells,
// with n_l from the Boltzmann law (diluted by W for a normal lower level); A and B obey
// A = 6.67e7 gf / (g_u lambda[um]^2) and the Einstein relation B = A g_u c^2 / (2 h nu^3 g_l).
TEST(ReadLineList, OpticalDepthAndEinsteinCoefficients) {
  LineRun r(line_data(), 1e8);
  r.run();
  ASSERT_EQ(r.ll.nl, 10);
  for (int n = 4; n <= 10; ++n) {  // the C II lines
    const int u = std::abs(r.ll.lup(n)), l = std::abs(r.ll.llo(n));
    const double gu = 2 * r.a.xj(u) + 1, gl = 2 * r.a.xj(l) + 1, nu = r.ll.frql(n), el = r.ll.elowt(n);
    EXPECT_NEAR(nu, kC * (std::fabs(r.a.elev(u)) - std::fabs(r.a.elev(l))), 1e-12 * nu);
    double tmax = 0;
    for (int k = 1; k <= 2; ++k)
      tmax = std::max(tmax, 0.02654 * std::pow(10.0, r.ll.loggf(n)) * kC / nu * r.p.tday * 1e8 * 0.5 / 2.0 *
                                std::exp(-std::fabs(el) * kH * kC / (kK * r.s.tr(k))) * (el > 0 ? 0.4 : 1.0));
    EXPECT_NEAR(r.ll.taumax(n), tmax, 1e-12 * tmax) << "transition " << n;
    const double lambda_um = kC / nu * 1e4, aul = 6.67e7 * std::pow(10.0, r.ll.loggf(n)) / (gu * lambda_um * lambda_um);
    EXPECT_NEAR(r.ll.aul(n), aul, 1e-12 * aul);
    EXPECT_NEAR(r.ll.blu(n), aul * gu / gl * kC * kC / (2 * kH * nu * nu * nu), 1e-11 * r.ll.blu(n));
  }
}

// The fixed counts of He I, He II and Si I never reach past the stored levels, nor the
// Si I line count past its block.
TEST(ReadLineList, CountOverridesBoundedByTheData) {
  DataSet d({0.0, 0.5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0.5});
  d.ions = {{2, 1, {{0, 0}, {159856, 1}, {166277, 0}, {169087, 1}, {500000, 1}}, {{2, 1, -1}, {5, 1, -1}}},
            {2, 2, {{0, 0.5}, {329179, 0.5}, {390000, 1.5}}, {{2, 1, -1}}},
            {14, 1, {{0, 0}, {77, 1}, {6299, 2}, {450000, 1}}, {{2, 1, -1}, {3, 1, -1}, {4, 3, -1}}}};
  LineRun r(d, 1e-30);
  EXPECT_EQ(r.a.nlev(2, 1) * 10 + r.a.nlev(14, 1), 43);
  r.run();
  EXPECT_EQ((std::vector<int>{r.a.nlev(2, 1), r.a.nlev(2, 2), r.a.nlev(14, 1)}), (std::vector<int>{5, 3, 4}));
  EXPECT_EQ(r.ll.nl, 2 + 1 + 3);
}

TEST(ReadLineList, RefusesBadGroundLevelsAndLevelNumbers) {
  DataSet d = line_data();
  d.ions[1].levels[0].first = 5.0;
  LineRun shifted(d, 1.0);
  const std::string msg = message_of<RunError>([&] { shifted.run(); });
  EXPECT_CONTAINS(msg, "C II");
  EXPECT_CONTAINS(msg, " 5 ");
  // The sixth C II line (record 6, field 6): a log gf whose A overflows (found by
  // fuzzing: it gave a kept line a NaN Einstein B and stopped the run later with NaN
  // branching ratios). Levels outside the ion or upper below lower are in the corpus.
  DataSet far = line_data();
  far.ions = {far.ions[1]};
  far.ions[0].lines[5] = {3, 1, 400.0};
  LineRun beyond(far, 1.0);
  const InputError e = thrown<InputError>([&] { beyond.run(); });
  EXPECT_EQ(e.record() * 10 + e.field(), 66) << e.what();
}

// 400001 helium lines qualify: the summary is written, then the run stops.
TEST(ReadLineList, TooManyLinesStopsTheRun) {
  DataSet d({0.0, 1.0});
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

// ------------------------------------------------------------ frequency ordering

// Bucket sort against std::stable_sort: ascending, the later index first among equals,
// on small cases, frequencies over three decades, many exact ties and a far outlier.
TEST(AscendingOrder, AgreesWithAStableReferenceSort) {
  std::mt19937 gen(12345);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<std::vector<double>> inputs = {{4.2}, {3.0, 3.0, 3.0, 3.0}, {2.0, 1.0, 2.0}};
  for (int trial = 0; trial < 3; ++trial) {
    std::vector<double>& x = inputs.emplace_back(3000);
    for (double& v : x) v = trial == 1 ? std::round(std::pow(10.0, 3.0 * u(gen))) * 1e13 : std::pow(10.0, 13.0 + 3.0 * u(gen));
    if (trial == 2) x[7] = 1e20;
  }
  for (const auto& x : inputs) {
    std::vector<int> index(x.size(), -1), ref(x.size());
    ascending_order(x, index);
    std::iota(ref.begin(), ref.end(), 1);
    std::stable_sort(ref.begin(), ref.end(),
                     [&](int a, int b) { return x[a - 1] < x[b - 1] || (x[a - 1] == x[b - 1] && a > b); });
    EXPECT_EQ(index, ref) << x.size();
  }
}

// Four lines: 1500 A (the only line from level 3, flagged lower level), 4000 A, and two
// at H-alpha (6564.61 A in vacuum) from level 5, one with a flagged lower level.
LineList hand_made_lines(int n = 4) {
  LineList ll;
  ll.nl = n;
  ll.nlevels = 6;
  ll.frql.vec() = {kC * 1e8 / 1500.0, kC * 1e8 / 6564.61, kC * 1e8 / 6564.61, kC * 1e8 / 4000.0};
  ll.lup.vec() = {3, 5, 5, 4};
  ll.llo.vec() = {-1, 2, -1, 1};
  ll.loggf.vec() = {-1.5, 0.7, -0.2, -2.0};
  ll.zcode.vec() = {6.01, 1.0, 1.0, 6.01};
  ll.taumax.vec() = {0.025, 3.0, 1.0, 1e-4};
  ll.elowt.vec() = {0.0, 82259.0, 0.0, 0.0};
  for (auto* t : {&ll.frql, &ll.loggf, &ll.zcode, &ll.taumax, &ll.elowt}) t->vec().resize(static_cast<std::size_t>(n));
  for (auto* t : {&ll.lup, &ll.llo}) t->vec().resize(static_cast<std::size_t>(n));
  return ll;
}

TEST(OrderLinesByFrequency, MapsRangesAndResonanceFlags) {
  LineList ll = hand_made_lines();
  Outputs o;
  order_lines_by_frequency(program_constants(), ll, o.out, o.stst, o.lhea);
  EXPECT_EQ(ll.kpos.vec(), (std::vector<int>{1, 3, 4, 2}));  // equal frequencies keep transition order
  for (int p = 1; p <= 4; ++p) EXPECT_EQ(ll.kpos(ll.transition_at(p)), p);
  EXPECT_EQ(ll.frq(5), 0.0);
  EXPECT_EQ(ll.elow(3), 82259.0);
  // Downward ranges by upper level: 5 -> transitions 2..3, 3 -> 1, 6 -> none.
  EXPECT_EQ((std::vector<int>{ll.idn1(5), ll.idn2(5), ll.idn1(3), ll.idn2(3), ll.idn1(6), ll.idn2(6)}),
            (std::vector<int>{2, 3, 1, 1, 0, 0}));
  EXPECT_EQ(ll.lcasc.vec(), (std::vector<int>{0, 1, 1, 1}));
  EXPECT_EQ(o.stst.text(), "");
  // lhea.dat by transition: vacuum wavelengths up to 2000 A, air above (H-alpha
  // 6562.80 A, 4000 A -> 3998.87 A).
  const auto lhea = records(o.lhea.text());
  ASSERT_EQ(lhea.size(), 4u);
  EXPECT_EQ(lhea[0], "      1      1 0.199862E+16   1500.000    6.01   -1.500     -1      3 0.250E-01");
  EXPECT_NEAR(std::stod(lhea[1].substr(27, 11)), 6562.80, 0.01) << lhea[1];
  EXPECT_NEAR(std::stod(lhea[3].substr(27, 11)), 3998.87, 0.01) << lhea[3];
  LineList bad = hand_made_lines(1);  // a negative frequency is reported in the run log
  bad.frql(1) = -1e15;
  Outputs ob;
  order_lines_by_frequency(program_constants(), bad, ob.out, ob.stst, ob.lhea);
  EXPECT_EQ(ob.stst.text().substr(0, 7), "  wair ");
}

}  // namespace
}  // namespace mcspec::test
