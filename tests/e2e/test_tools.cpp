// The helper programs. The hydrogenic physics of the data-directory generator against
// independent truth: reduced-mass Rydberg constants, published line wavelengths and
// oscillator strengths, the Thomas-Reiche-Kuhn share of the Lyman series, hypergeometric
// polynomials by hand, Gordon's radial integrals against a direct quadrature of the wave
// functions. The generated data directory read back by the program's own readers and by
// the record layouts (hydrogenic levels, oscillator strengths, NIST potentials, ground
// weights, the example's profile), the Bessell filter curves and the tools' refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "base/io.hpp"
#include "base/run_parameters.hpp"
#include "model/atoms.hpp"
#include "support/run_dir.hpp"
#include "support/test_support.hpp"
#include "tools/hydrogenic.hpp"

namespace hy = mcspec::hydrogenic;
using mcspec::InFile;
using namespace mcspec::test;
using mcspec::test::simpson;

namespace {

class GeneratedData : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(generated_data().status, 0) << generated_data().err; }
  static InFile open(const std::string& name) {
    InFile f;
    f.open((generated_data() / "data" / name).string(), name);
    return f;
  }
};

TEST_F(GeneratedData, ProgramReadersTakeTheElementTablesAndTheLevels) {
  InFile nbba = open("nbba.ind"), nbia = open("nbia.ind"), ihea = open("ihea.ind"), varn1 = open("lines/varn1.new"), comp;
  comp.open_text("comp.ind", "  1 H  0.70\n  2 He 0.30\n");
  mcspec::OutFile sink = mcspec::OutFile::memory();
  mcspec::Atoms a;
  mcspec::read_elements_and_composition(nbba, comp, nbia, ihea, a, sink, sink, sink);
  mcspec::Params p;
  p.chl = 60.0;
  p.chlcm = p.chl * 8065.46;
  mcspec::read_levels(p, varn1, a, sink, sink);  // stops at the closing Ba II block
  std::string symbols;                      // kept blank-padded to 8 characters
  for (int z : {1, 2, 26, 56, 60}) symbols += a.elsym[static_cast<std::size_t>(z)].substr(0, 3);
  EXPECT_EQ(symbols + a.stlab[2].substr(0, 5) + a.stlab[9].substr(0, 5), " H  He Fe Ba Nd II   IX  ");
  EXPECT_EQ((std::vector<double>{a.awt(1), a.awt(2)}), (std::vector<double>{1.008, 4.0026}));
  // NIST ionisation energies of H, He and Ca (the reference of the ionisation balance),
  // the marker 999.999 elsewhere, log zeta 0.
  EXPECT_EQ((std::vector<double>{a.chi(1, 1), a.chi(1, 2), a.chi(2, 2), a.chi(1, 20), a.chi(2, 20), a.chi(2, 1),
                                 a.chi(3, 2), a.chi(1, 26), a.zeta(1, 1), a.zeta(8, 56)}),
            (std::vector<double>{13.598, 24.587, 54.418, 6.113, 11.872, 999.999, 999.999, 999.999, 0.0, 0.0}));
  // H I n = 1..15 and He II n = 1..13: E_n = R Z^2 (1 - 1/n^2), the ground level at
  // exactly 0, weight g = 2 n^2; H I n = 2 is Lyman-alpha at 1215.67 A.
  ASSERT_EQ(a.nion, 2);
  EXPECT_EQ((std::vector<int>{a.ionz(1), a.ionj(1), a.ionz(2), a.ionj(2)}), (std::vector<int>{1, 1, 2, 2}));
  for (const auto& [z, j, nmax, rydberg] :
       {std::tuple{1, 1, 15, hy::rydberg_hydrogen()}, std::tuple{2, 2, 13, hy::rydberg_helium4()}}) {
    ASSERT_EQ(a.nlev(z, j), nmax);
    for (int n = 1; n <= nmax; ++n) {
      const int i = a.lev1(z, j) + n - 1;
      EXPECT_NEAR(a.elev(i), rydberg * z * z * (1.0 - 1.0 / (n * n)), n == 1 ? 0.0 : 0.0005) << z << " " << n;
      EXPECT_EQ(2 * a.xj(i) + 1, 2 * n * n);
    }
  }
  EXPECT_NEAR(1e8 / a.elev(a.lev1(1, 1) + 1), 1215.67, 0.02);
}

TEST_F(GeneratedData, LineListHoldsEveryHydrogenicLineWithItsOscillatorStrength) {
  InFile f = open("lines/varn2");
  const int nmax[2] = {15, 13};
  for (int block = 0; block < 3; ++block) {
    int z = 0, stage = 0, count = 0;
    f.skip(2);
    f.read("(I8, I4, I10)", {z, stage, count});
    f.skip(1);
    if (block == 2) {  // the closing Ba II block, without lines
      EXPECT_EQ(z * 10 + stage + count, 562);
      break;
    }
    EXPECT_EQ(z * 10 + stage, block == 0 ? 11 : 22);
    ASSERT_EQ(count, nmax[block] * (nmax[block] - 1) / 2);
    // Ordered by upper level, then lower level: the downward lines of a level are
    // contiguous; only 2 -> 1, the single way down from its level, is flagged (negative
    // lower level) as an effective resonance line. log gf = log10(2 l^2 f(l -> u)).
    int u = 2, l = 1;
    for (int i = 0; i < count; i += 4) {
      int up[4] = {}, lo[4] = {};
      double g[4] = {};
      f.read("(4(2I6, F8.3))", {up[0], lo[0], g[0], up[1], lo[1], g[1], up[2], lo[2], g[2], up[3], lo[3], g[3]});
      for (int k = 0; k < 4 && i + k < count; ++k) {
        EXPECT_EQ(up[k], u);
        EXPECT_EQ(lo[k], u == 2 ? -1 : l);
        EXPECT_NEAR(g[k], std::log10(2.0 * l * l * hy::oscillator_strength(l, u)), 0.0005 + 1e-12);
        EXPECT_TRUE(block != 0 || u != 3 || l != 2 || g[k] == 0.710) << "H-alpha: log10(8 x 0.6407)";
        if (++l == u) l = 1, ++u;
      }
    }
  }
  EXPECT_TRUE(f.at_end());
}

TEST_F(GeneratedData, GroundWeightsAndTheExampleProfile) {
  // Ground weights 2J+1: H I 2, He II 2, every other stage 1.
  InFile nama = open("nama.ind");
  for (int z = 1; z <= 56; ++z) {
    int zz = 0, g[10] = {};
    std::string s;
    nama.read("(I3, A3, 10I4)", {zz, s, g[0], g[1], g[2], g[3], g[4], g[5], g[6], g[7], g[8], g[9]});
    EXPECT_EQ(zz, z);
    for (int j = 1; j <= 10; ++j) EXPECT_EQ(g[j - 1], (z == 1 && j == 1) || (z == 2 && j == 2) ? 2 : 1) << z << " " << j;
  }
  EXPECT_TRUE(nama.at_end());
  // No rhw7.dat: the default profile of the program is W7, not a hydrogen envelope.
  EXPECT_FALSE(fs::exists(generated_data() / "data/rhw7.dat"));
  // The profile written by --profile with its defaults is the example's hydro.dat, the
  // profile under the stored digests of the hydrogen example (test_examples.cpp).
  RunDir dir;
  ASSERT_EQ(dir.run("", tool("mkdata", "--profile hydro.dat")), 0) << dir.err;
  EXPECT_EQ(dir.read("hydro.dat"), read_file(kSourceDir / "examples/hydrogen-envelope/hydro.dat"));
}

TEST(Mkdata, NeverWritesOverAnExistingDirectoryNorLeavesAPartialOne) {
  RunDir dir;
  fs::create_directory(dir / "data");
  write_file(dir / "data/mine.txt", "keep\n");
  EXPECT_NE(dir.run("", tool("mkdata", "--without-filters data")), 0);
  EXPECT_CONTAINS(dir.err, "already exists");
  EXPECT_EQ(read_file(dir / "data" / "mine.txt"), "keep\n");
  EXPECT_FALSE(fs::exists(dir / "data" / "nbba.ind"));
  // Filter curves missing: nothing is left behind.
  fs::create_directory(dir / "empty");
  EXPECT_NE(dir.run("", tool("mkdata", "--bessell empty new")), 0);
  EXPECT_CONTAINS(dir.err, "bessell-U.ecsv");
  EXPECT_FALSE(fs::exists(dir / "new"));
}

TEST_F(GeneratedData, FilterCurvesAreTheBessellCurvesOnTheProgramsGrid) {
  InFile f = open("filters.dat");
  double w[109], t[4][109];
  for (int i = 0; i < 109; ++i) {
    f.read("(F9.1, 4F8.3)", {w[i], t[0][i], t[1][i], t[2][i], t[3][i]});
    EXPECT_EQ(w[i], 3000.0 + 50.0 * i);
  }
  EXPECT_TRUE(f.at_end());
  // Peak-normalised, at the tabulated peaks of U, B, V and R.
  const double peak_at[4] = {3700.0, 4200.0, 5300.0, 6000.0};
  for (int k = 0; k < 4; ++k) {
    int at = 0;
    for (int i = 0; i < 109; ++i) {
      EXPECT_GE(t[k][i], 0.0);
      if (t[k][i] > t[k][at]) at = i;
    }
    EXPECT_EQ(t[k][at], 1.0) << "filter " << k;
    EXPECT_EQ(w[at], peak_at[k]) << "filter " << k;
  }
  // Tabulated points kept (V at 5500 A: 0.898), the points between interpolated (B at
  // 4150 A halfway between 0.978 and 1.000), zero outside a curve (U at 4500 A, R at
  // 3000 A), and R cut by the grid's end at 8400 A (0.14 at 8000 A, 0.03 at 8500 A).
  EXPECT_EQ((std::vector<double>{t[2][50], t[1][23], t[0][30], t[3][0], t[3][108]}),
            (std::vector<double>{0.898, 0.989, 0.0, 0.0, 0.052}));
}

TEST(Hydrogenic, RydbergConstantsAndLevels) {
  // R_H = 109677.583 cm^-1 and R(4He+) = 109722.274 cm^-1 (reduced-mass values of R_inf).
  // The levels (E = 0 at the ground, weights 2 n^2): GeneratedData in test_tools.cpp.
  EXPECT_NEAR(hy::rydberg_hydrogen(), 109677.583, 0.001);
  EXPECT_NEAR(hy::rydberg_helium4(), 109722.274, 0.002);
}

TEST(Hydrogenic, WellKnownLineWavelengths) {
  // The Rydberg formula leaves out fine structure and the Lamb shift, a relative 1e-5;
  // the published wavelengths are compared to within 2e-5 (He II, (Z alpha)^2 four
  // times larger: 8e-5). Below 2000 A the vacuum wavelength is kept.
  const double rh = hy::rydberg_hydrogen();
  const struct {
    int z, n, np;
    bool air;
    double published, tolerance;
  } lines[] = {{1, 1, 2, false, 1215.67, 2e-5}, {1, 2, 3, false, 6564.6, 2e-5}, {1, 2, 3, true, 6562.8, 2e-5},
               {1, 2, 4, true, 4861.3, 2e-5},   {1, 2, 5, true, 4340.5, 2e-5},   {1, 3, 4, true, 18751.0, 2e-5},
               {2, 3, 4, true, 4685.7, 8e-5}};
  for (const auto& l : lines) {
    const double vac = hy::vacuum_wavelength(l.z, l.n, l.np, l.z == 1 ? rh : hy::rydberg_helium4());
    EXPECT_NEAR(l.air ? hy::air_wavelength(vac) : vac, l.published, l.tolerance * l.published) << l.published;
  }
  EXPECT_EQ(hy::air_wavelength(1215.0), 1215.0);
}

TEST(Hydrogenic, OscillatorStrengthsMatchThePublishedValues) {
  // Wiese & Fuhr (2009), J. Phys. Chem. Ref. Data 38, 565: n-resolved absorption f, to
  // half a unit of the last digit given.
  const struct {
    int n, np;
    double f, last_digit;
  } cases[] = {{1, 2, 0.4162, 1e-4}, {1, 3, 0.07910, 1e-5}, {1, 4, 0.02899, 1e-5}, {2, 3, 0.6407, 1e-4}, {2, 4, 0.1193, 1e-4},
               {2, 5, 0.04467, 1e-5}, {3, 4, 0.8421, 1e-4},  {3, 5, 0.1506, 1e-4},  {4, 5, 1.038, 1e-3}};
  for (const auto& c : cases)
    EXPECT_NEAR(hy::oscillator_strength(c.n, c.np), c.f, 0.5 * c.last_digit) << c.n << " -> " << c.np;
  EXPECT_THROW(hy::oscillator_strength(3, 3), std::invalid_argument);
  EXPECT_THROW(hy::oscillator_strength(3, 2), std::invalid_argument);
}

TEST(Hydrogenic, LymanSeriesSumsToTheKnownDiscreteShare) {
  // The Thomas-Reiche-Kuhn sum of 1s is 1; the bound states take 0.5650 of it and the
  // continuum 0.4350 (Bethe & Salpeter, table 13). f(1 -> n) falls as C/n^3, so the
  // tail beyond N adds C/(2 N^2).
  const int nmax = 400;
  double sum = 0.0;
  for (int n = 2; n <= nmax; ++n) sum += hy::oscillator_strength(1, n);
  sum += hy::oscillator_strength(1, nmax) * nmax / 2.0;
  EXPECT_NEAR(sum, 0.5650, 1e-4);
}

TEST(Hydrogenic, HypergeometricPolynomialsWorkedByHand) {
  EXPECT_DOUBLE_EQ(hy::hypergeometric_polynomial(-1, 3, 2, 0.5), 1.0 - 1.5 * 0.5);
  EXPECT_DOUBLE_EQ(hy::hypergeometric_polynomial(-2, -2, 1, 3.0), 1.0 + 12.0 + 9.0);  // 1 + 4x + x^2
  EXPECT_DOUBLE_EQ(hy::hypergeometric_polynomial(0, 7, 3, 123.0), 1.0);
  EXPECT_THROW(hy::hypergeometric_polynomial(1, 2, 3, 0.5), std::invalid_argument);
}

// R_nl(r) from the associated Laguerre polynomial L_{n-l-1}^{2l+1}(2r/n) by its
// three-term recurrence, normalised to int R^2 r^2 dr = 1 (r in a0, Z = 1).
double radial_function(int n, int l, double r) {
  const int k = n - l - 1, a = 2 * l + 1;
  const double x = 2.0 * r / n;
  double lm1 = 1.0, lk = k == 0 ? 1.0 : 1.0 + a - x;  // L_0, L_1
  for (int i = 1; i < k; ++i) {
    const double next = ((2 * i + 1 + a - x) * lk - (i + a) * lm1) / (i + 1);
    lm1 = lk;
    lk = next;
  }
  const double lognorm = 1.5 * std::log(2.0 / n) + 0.5 * (std::lgamma(k + 1.0) - std::log(2.0 * n) - std::lgamma(n + l + 1.0));
  return std::exp(lognorm - r / n) * std::pow(x, l) * lk;
}

TEST(Hydrogenic, GordonRadialIntegralsAgreeWithDirectQuadrature) {
  EXPECT_NEAR(hy::radial_integral(1, 0, 2, 1), 128.0 * std::sqrt(6.0) / 243.0, 1e-14);  // exact: 2^7 sqrt(6) / 3^5
  const int cases[][4] = {{2, 1, 3, 2}, {3, 0, 2, 1}, {5, 3, 9, 2}, {12, 5, 13, 6}, {15, 0, 14, 1}, {15, 14, 14, 13}, {6, 2, 15, 3}};
  for (const auto& c : cases) {
    // int R_nl R_n'l' r^3 dr by Simpson's rule, far past the outer turning points.
    const double rmax = 4.0 * std::max(c[0], c[2]) * std::max(c[0], c[2]) + 60.0;
    const auto f = [&](double r) { return radial_function(c[0], c[1], r) * radial_function(c[2], c[3], r) * r * r * r; };
    const double exact = hy::radial_integral(c[0], c[1], c[2], c[3]);
    EXPECT_NEAR(exact, std::fabs(simpson(f, 0.0, rmax, 40000)), 1e-7 * exact) << c[0] << "," << c[1] << " -> " << c[2] << "," << c[3];
  }
  EXPECT_THROW(hy::radial_integral(3, 1, 4, 3), std::invalid_argument);
}

}  // namespace
