// The line list: censoring on hand-made line files with a plasma state set by hand (so
// every optical depth is known), the Einstein relations, the bounded count overrides and
// the faults refused; the frequency ordering, its maps and lhea.dat. Partition functions
// and ionisation balance against the Boltzmann sum and the Saha equation computed here
// from the physical constants, and the final-pass tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <random>

#include "base/errors.hpp"
#include "model/line_list.hpp"
#include "model/plasma.hpp"
#include "model/zones.hpp"
#include "support/models.hpp"

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

constexpr double kMe = 9.10956e-28, kEv = 1.602192e-12;

// Two shells at TR with dilution W and TE = te_over_tr TR.
struct PlasmaRun : LoadedData {
  Shells s = lay_shells(2);
  Plasma pl;
  PlasmaRun(const DataSet& d, double tr, double w, double te_over_tr = 1.0) : LoadedData(d) {
    s.tr.fill(tr);
    s.te.fill(te_over_tr * tr);
    s.w.fill(w);
    pl.allocate(2);
    a.xshell = shell_composition(decay_to_epoch(one_zone(a.xmass), 19.0), shell_velocity_edges(1e4, s.xs)).x;
  }
  void solve(int iter) {
    InFile nama = open_input(dir / "nama.ind");
    partition_functions(iter, program_constants(), s, a, pl, nama, o.ptfn, o.out);
    ionisation_balance(iter, example_params(), s, a, pl, o.yhea, o.out);
  }
};

TEST(PartitionFunctions, BoltzmannSumAndMetastableLevels) {
  DataSet d({0.5, 0.0, 0.0, 0.0, 0.0, 0.5});
  d.ions = {{6, 1, {{0, 0}, {16.4, 1}, {43.4, 2}, {10192.6, 2}}, {}},
            {6, 2, {{0, 0.5}, {-30000, 1.5}, {50000, 0.5}}, {}}};
  const double t = 8000.0, c2 = kH * kC / kK;
  for (double w : {1.0, 0.25}) {
    PlasmaRun r(d, t, w);
    r.solve(1);
    if (w == 1.0) {
      const double boltz = 1 + 3 * std::exp(-16.4 * c2 / t) + 5 * std::exp(-43.4 * c2 / t) + 5 * std::exp(-10192.6 * c2 / t);
      EXPECT_NEAR(r.pl.pf(2, 6, 1), boltz, 1e-12 * boltz);
    }
    // The metastable level (stored negative) is not diluted, the normal one is.
    const double expect = 2 + 4 * std::exp(-30000 * c2 / t) + 2 * w * std::exp(-50000 * c2 / t);
    EXPECT_NEAR(r.pl.pf(1, 6, 2), expect, 1e-12 * expect);
    EXPECT_EQ(r.pl.pf(1, 1, 1), 2.0);  // ions without levels: the ground weight of nama.ind
    EXPECT_EQ(r.pl.pf(1, 6, 3), 2.0);
  }
}

// With W = 1 and TE = TR the correction factors are 1 and every stage ratio is the
// Saha equation at TR: n_{j+1} n_e / n_j = 2 (U_{j+1}/U_j) (2 pi m_e k T/h^2)^{3/2} e^{-chi/kT};
// the electron-scattering opacity is n_e sigma_T / rho.
TEST(IonisationBalance, ReducesToSahaInAnUndilutedField) {
  const double t = 12000.0;
  PlasmaRun r(DataSet({0.3, 0.7}), t, 1.0);
  r.solve(1);
  const double phi = std::pow(2.0 * kPi * kMe * kK * t / (kH * kH), 1.5);
  for (int k = 1; k <= 2; ++k) {
    const double ne = r.pl.ne(k);
    for (int j = 1; j <= 2; ++j) {  // the data set's potentials: 10 j eV
      const double saha = 2.0 * r.pl.pf(k, 2, j + 1) / r.pl.pf(k, 2, j) * phi * std::exp(-10.0 * j * kEv / (kK * t));
      EXPECT_NEAR(r.pl.fion(j + 1, 2, k) / r.pl.fion(j, 2, k) * ne / saha, 1.0, 2e-3) << "He " << j << ", shell " << k;
    }
    EXPECT_NEAR(r.pl.kapes(k), ne * 6.6524e-25 / std::pow(10.0, r.s.logrh(k)), 1e-12 * r.pl.kapes(k));
  }
}

TEST(IonisationBalance, PureHydrogenAndTheFinalTables) {
  PlasmaRun r(DataSet({1.0, 0.0}), 9000.0, 0.3, 0.9);
  r.solve(1);  // the element densities are set on the first pass
  r.solve(31);
  for (int k = 1; k <= 2; ++k) {
    EXPECT_NEAR(r.pl.ntot(k), std::pow(10.0, r.s.logrh(k)) / (1.008 * 1.660531e-24), 1e-12 * r.pl.ntot(k));
    EXPECT_EQ(r.pl.ne(k), r.pl.ntot(k) * r.pl.fion(2, 1, k));  // one electron per ion
    EXPECT_GT(r.pl.fion(2, 1, k), 0.0);
    EXPECT_EQ(r.pl.fion(3, 1, k), 0.0);
  }
  EXPECT_EQ(r.o.yhea.text().find("  2   He"), std::string::npos);  // no mass, no block in the final table
}

// Found by fuzzing: data that the readers took left the ionisation balance with NaN
// electron densities and fractions in every shell, and the run went on. An ejecta with
// nothing to ionise (hydrogen whose potential is the 999.999 marker; also a profile
// extrapolated below the double range) stops with the shell named. (A weight of 0 in
// nama.ind, the other such case, is refused with its place in the malformed-input corpus.)
TEST(IonisationBalance, DataThatLeaveNoFreeElectronsAreRefused) {
  DataSet d({1.0, 0.0});
  d.chi[{1, 1}] = 999.999;
  PlasmaRun r(d, 9000.0, 0.3);
  EXPECT_CONTAINS(message_of<RunError>([&] { r.solve(1); }), "ionisation balance of shell 1 gives the electron density");
  // Regression: a negative Monte Carlo dilution factor (W7 at 300 times its density)
  // was reported as a composition without free electrons.
  PlasmaRun negative(DataSet({1.0, 0.0}), 24000.0, -1.78);
  EXPECT_CONTAINS(message_of<RunError>([&] { negative.solve(2); }), "shell 1 has the dilution factor W = -1.78");
}

}  // namespace
}  // namespace mcspec::test
