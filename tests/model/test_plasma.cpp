// Partition functions and ionisation balance against the Boltzmann sum and the Saha
// equation computed here from the physical constants, and the final-pass tables.
#include <gtest/gtest.h>

#include <cmath>

#include "base/errors.hpp"
#include "model/plasma.hpp"
#include "model/zones.hpp"
#include "support/atomic_data.hpp"
#include "support/line_model.hpp"

namespace mcspec::test {
namespace {

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
