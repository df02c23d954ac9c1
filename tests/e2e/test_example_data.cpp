// The generated data directory of the example: hydrogenic level energies and
// oscillator strengths against published values and an independent quadrature, every
// generated file read back with the record layouts the program reads, the program's
// own readers on it, and the Bessell filter curves.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/io.hpp"
#include "driver/params.hpp"
#include "model/atoms.hpp"
#include "support/test_support.hpp"
#include "tools/hydrogenic.hpp"

namespace fs = std::filesystem;
namespace hy = mcspec::hydrogenic;
using mcspec::InFile;
using mcspec::test::read_file;
using mcspec::test::run_in;
using mcspec::test::TempDir;
using mcspec::test::write_file;

namespace {

const std::string kBuild = MCSPEC_BUILD_DIR;
const std::string kSource = MCSPEC_SOURCE_DIR;

// ------------------------------------------------------------ hydrogenic physics

TEST(Hydrogenic, RydbergConstantsCarryTheReducedMass) {
  // R_H = 109677.583 cm^-1 and R(4He+) = 109722.267 cm^-1 (reduced-mass values of R_inf).
  EXPECT_NEAR(hy::rydberg_hydrogen(), 109677.583, 0.001);
  EXPECT_NEAR(hy::rydberg_helium4(), 109722.274, 0.002);
  // Levels: E_n = R Z^2 (1 - 1/n^2), so He II level n lies Z^2 R_He/R_H above H I level n.
  for (int n : {2, 5, 13}) {
    EXPECT_DOUBLE_EQ(hy::level_energy(1, n, hy::rydberg_hydrogen()), hy::rydberg_hydrogen() * (1.0 - 1.0 / (n * n)));
    EXPECT_NEAR(hy::level_energy(2, n, hy::rydberg_helium4()) / hy::level_energy(1, n, hy::rydberg_hydrogen()),
                4.0 * hy::rydberg_helium4() / hy::rydberg_hydrogen(), 1e-14);
  }
  EXPECT_EQ(hy::level_energy(1, 1, hy::rydberg_hydrogen()), 0.0);
  EXPECT_EQ(hy::statistical_weight(3), 18);
  EXPECT_EQ(hy::level_j(3), 8.5);
}

TEST(Hydrogenic, WellKnownLineWavelengths) {
  // The Rydberg formula leaves out fine structure and the Lamb shift, a relative 1e-5;
  // the published wavelengths are compared to within 2e-5.
  const double rh = hy::rydberg_hydrogen();
  auto near = [](double got, double want) { EXPECT_NEAR(got, want, 2e-5 * want) << "published " << want; };
  near(hy::vacuum_wavelength(1, 1, 2, rh), 1215.67);                       // Lyman-alpha, vacuum
  near(hy::vacuum_wavelength(1, 2, 3, rh), 6564.6);                        // H-alpha, vacuum
  near(hy::air_wavelength(hy::vacuum_wavelength(1, 2, 3, rh)), 6562.8);    // H-alpha, air
  near(hy::air_wavelength(hy::vacuum_wavelength(1, 2, 4, rh)), 4861.3);    // H-beta, air
  near(hy::air_wavelength(hy::vacuum_wavelength(1, 2, 5, rh)), 4340.5);    // H-gamma, air
  near(hy::air_wavelength(hy::vacuum_wavelength(1, 3, 4, rh)), 18751.0);   // Paschen-alpha, air
  // He II 4686 (air): its fine structure, (Z alpha)^2, is four times larger.
  EXPECT_NEAR(hy::air_wavelength(hy::vacuum_wavelength(2, 3, 4, hy::rydberg_helium4())), 4685.7, 8e-5 * 4685.7);
  // Below 2000 A the vacuum wavelength is kept.
  EXPECT_EQ(hy::air_wavelength(1215.0), 1215.0);
}

TEST(Hydrogenic, OscillatorStrengthsMatchThePublishedValues) {
  // Wiese & Fuhr (2009), J. Phys. Chem. Ref. Data 38, 565: n-resolved absorption f.
  struct Case {
    int n, np;
    double f;
    double last_digit;
  };
  const Case cases[] = {{1, 2, 0.4162, 1e-4},  {1, 3, 0.07910, 1e-5}, {1, 4, 0.02899, 1e-5}, {2, 3, 0.6407, 1e-4},
                        {2, 4, 0.1193, 1e-4},  {2, 5, 0.04467, 1e-5}, {3, 4, 0.8421, 1e-4},  {3, 5, 0.1506, 1e-4},
                        {4, 5, 1.038, 1e-3}};
  for (const Case& c : cases)
    EXPECT_NEAR(hy::oscillator_strength(c.n, c.np), c.f, 0.5 * c.last_digit) << c.n << " -> " << c.np;
  EXPECT_NEAR(hy::log_gf(2, 3), std::log10(8 * 0.6407), 1e-4);
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
  const double c = hy::oscillator_strength(1, nmax) * nmax * nmax * nmax;
  sum += c / (2.0 * nmax * nmax);
  EXPECT_NEAR(sum, 0.5650, 1e-4);
}

TEST(Hydrogenic, HypergeometricPolynomialsWorkedByHand) {
  EXPECT_DOUBLE_EQ(hy::hypergeometric_polynomial(-1, 3, 2, 0.5), 1.0 - 1.5 * 0.5);
  // F(-2, -2; 1; x) = 1 + 4x + x^2
  EXPECT_DOUBLE_EQ(hy::hypergeometric_polynomial(-2, -2, 1, 3.0), 1.0 + 12.0 + 9.0);
  EXPECT_DOUBLE_EQ(hy::hypergeometric_polynomial(0, 7, 3, 123.0), 1.0);
  EXPECT_THROW(hy::hypergeometric_polynomial(1, 2, 3, 0.5), std::invalid_argument);
}

// R_nl(r) from the associated Laguerre polynomial L_{n-l-1}^{2l+1}(2r/n) by its
// three-term recurrence, normalised to int R^2 r^2 dr = 1 (r in a0, Z = 1).
double radial_function(int n, int l, double r) {
  const int k = n - l - 1, a = 2 * l + 1;
  const double x = 2.0 * r / n;
  double lm1 = 1.0, lk = 1.0 + a - x;  // L_0, L_1
  if (k == 0) lk = 1.0;
  for (int i = 1; i < k; ++i) {
    const double next = ((2 * i + 1 + a - x) * lk - (i + a) * lm1) / (i + 1);
    lm1 = lk;
    lk = next;
  }
  const double lognorm = 1.5 * std::log(2.0 / n) + 0.5 * (std::lgamma(k + 1.0) - std::log(2.0 * n) - std::lgamma(n + l + 1.0));
  return std::exp(lognorm - r / n) * std::pow(x, l) * lk;
}

// int R_nl R_n'l' r^3 dr by Simpson's rule, far past the outer turning points.
double radial_integral_by_quadrature(int n, int l, int np, int lp) {
  const double rmax = 4.0 * std::max(n, np) * std::max(n, np) + 60.0;
  const int steps = 40000;
  const double h = rmax / steps;
  double s = 0.0;
  for (int i = 0; i <= steps; ++i) {
    const double r = i * h;
    const double w = (i == 0 || i == steps) ? 1.0 : (i % 2 ? 4.0 : 2.0);
    s += w * radial_function(n, l, r) * radial_function(np, lp, r) * r * r * r;
  }
  return std::fabs(s * h / 3.0);
}

TEST(Hydrogenic, GordonRadialIntegralsAgreeWithDirectQuadrature) {
  // Exact values: R(1s, 2p) = 2^7 sqrt(6) / 3^5.
  EXPECT_NEAR(hy::radial_integral(1, 0, 2, 1), 128.0 * std::sqrt(6.0) / 243.0, 1e-14);
  struct Case {
    int n, l, np, lp;
  };
  const Case cases[] = {{2, 1, 3, 2}, {3, 0, 2, 1}, {5, 3, 9, 2}, {12, 5, 13, 6}, {15, 0, 14, 1}, {15, 14, 14, 13}, {6, 2, 15, 3}};
  for (const Case& c : cases) {
    const double exact = hy::radial_integral(c.n, c.l, c.np, c.lp);
    EXPECT_NEAR(exact, radial_integral_by_quadrature(c.n, c.l, c.np, c.lp), 1e-7 * exact)
        << c.n << "," << c.l << " -> " << c.np << "," << c.lp;
  }
  EXPECT_THROW(hy::radial_integral(3, 1, 4, 3), std::invalid_argument);
}

// ------------------------------------------------------------ the generated files

std::string mkdata_command(const std::string& args) { return "'" + kBuild + "/mkdata' " + args; }

// One data directory without filters, generated for the tests of this suite.
class GeneratedData : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir("mcspec-mkdata");
    status_ = run_in(dir_->path(), "", mkdata_command("--without-filters data"), &out_, &err_);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override { ASSERT_EQ(status_, 0) << err_ << out_; }
  static fs::path data() { return dir_->path() / "data"; }
  static InFile open(const std::string& name) {
    InFile f;
    f.open((data() / name).string(), name);
    return f;
  }
  static TempDir* dir_;
  static int status_;
  static std::string out_, err_;
};
TempDir* GeneratedData::dir_ = nullptr;
int GeneratedData::status_ = -1;
std::string GeneratedData::out_, GeneratedData::err_;

struct LevelBlock {
  int z = 0, stage = 0;
  std::vector<double> energy, j;
};

std::vector<LevelBlock> read_level_blocks(InFile& f) {
  std::vector<LevelBlock> blocks;
  while (!f.at_end()) {
    LevelBlock b;
    int n = 0;
    f.skip(3);
    f.read("(I8, I4, I10)", {b.z, b.stage, n});
    f.skip(1);
    for (int i = 1; i <= n; ++i) {
      int number = 0;
      double e = 0, j = 0;
      f.read("(I9, F18.3, F12.1)", {number, e, j});
      EXPECT_EQ(number, i);
      b.energy.push_back(e);
      b.j.push_back(j);
    }
    blocks.push_back(b);
  }
  return blocks;
}

TEST_F(GeneratedData, LevelsFollowTheRydbergFormulaAndEndWithTheBariumBlock) {
  InFile f = open("lines/varn1.new");
  const std::vector<LevelBlock> blocks = read_level_blocks(f);
  ASSERT_EQ(blocks.size(), 3u);
  struct Expect {
    int z, stage, nmax;
    double rydberg;
  };
  const Expect ions[] = {{1, 1, 15, hy::rydberg_hydrogen()}, {2, 2, 13, hy::rydberg_helium4()}};
  for (int k = 0; k < 2; ++k) {
    const LevelBlock& b = blocks[static_cast<std::size_t>(k)];
    EXPECT_EQ(b.z, ions[k].z);
    EXPECT_EQ(b.stage, ions[k].stage);
    ASSERT_EQ(b.energy.size(), static_cast<std::size_t>(ions[k].nmax));
    for (int n = 1; n <= ions[k].nmax; ++n) {
      const double z2 = ions[k].z * ions[k].z;
      EXPECT_NEAR(b.energy[static_cast<std::size_t>(n - 1)], ions[k].rydberg * z2 * (1.0 - 1.0 / (n * n)), 0.0005);
      EXPECT_EQ(2 * b.j[static_cast<std::size_t>(n - 1)] + 1, 2 * n * n);  // g = 2n^2
    }
    EXPECT_EQ(b.energy[0], 0.0);  // the line reader requires a ground level at exactly 0
  }
  // H I n = 2 at 82258.19 cm^-1: Lyman-alpha 1215.68 A.
  EXPECT_NEAR(1e8 / blocks[0].energy[1], 1215.67, 0.02);
  EXPECT_EQ(blocks[2].z, 56);
  EXPECT_EQ(blocks[2].stage, 2);
  ASSERT_EQ(blocks[2].energy.size(), 1u);
  EXPECT_EQ(blocks[2].energy[0], 0.0);
}

struct LineBlock {
  int z = 0, stage = 0;
  std::vector<int> upper, lower;
  std::vector<double> loggf;
};

std::vector<LineBlock> read_line_blocks(InFile& f) {
  std::vector<LineBlock> blocks;
  while (!f.at_end()) {
    LineBlock b;
    int count = 0;
    f.skip(2);
    f.read("(I8, I4, I10)", {b.z, b.stage, count});
    f.skip(1);
    for (int i = 0; i < count; i += 4) {
      int u[4] = {}, l[4] = {};
      double g[4] = {};
      f.read("(4(2I6, F8.3))", {u[0], l[0], g[0], u[1], l[1], g[1], u[2], l[2], g[2], u[3], l[3], g[3]});
      for (int k = 0; k < 4 && i + k < count; ++k) {
        b.upper.push_back(u[k]);
        b.lower.push_back(l[k]);
        b.loggf.push_back(g[k]);
      }
    }
    blocks.push_back(b);
  }
  return blocks;
}

TEST_F(GeneratedData, LineListHoldsEveryHydrogenicLineWithItsOscillatorStrength) {
  InFile f = open("lines/varn2");
  const std::vector<LineBlock> blocks = read_line_blocks(f);
  ASSERT_EQ(blocks.size(), 3u);
  const int nmax[2] = {15, 13};
  for (int k = 0; k < 2; ++k) {
    const LineBlock& b = blocks[static_cast<std::size_t>(k)];
    ASSERT_EQ(b.upper.size(), static_cast<std::size_t>(nmax[k] * (nmax[k] - 1) / 2));
    std::size_t i = 0;
    // Ordered by upper level, then lower level: the downward lines of a level are contiguous.
    for (int u = 2; u <= nmax[k]; ++u) {
      for (int l = 1; l < u; ++l, ++i) {
        EXPECT_EQ(b.upper[i], u);
        // Only 2 -> 1 is the single way down from its upper level: an effective resonance line.
        EXPECT_EQ(b.lower[i], (u == 2 && l == 1) ? -1 : l);
        EXPECT_NEAR(b.loggf[i], std::log10(2.0 * l * l * hy::oscillator_strength(l, u)), 0.0005 + 1e-12);
      }
    }
  }
  EXPECT_EQ(blocks[0].z, 1);
  EXPECT_EQ(blocks[1].z, 2);
  EXPECT_EQ(blocks[1].stage, 2);
  // H-alpha (upper 3, lower 2, the third entry): log gf = log10(8 x 0.6407).
  EXPECT_EQ(blocks[0].loggf[2], 0.710);
  EXPECT_EQ(blocks[2].z, 56);
  EXPECT_EQ(blocks[2].stage, 2);
  EXPECT_TRUE(blocks[2].upper.empty());
}

TEST_F(GeneratedData, ElementTablesReadWithTheirRecordLayouts) {
  InFile nbba = open("nbba.ind");
  std::vector<std::string> sym(61), lab(10);
  for (int row = 0; row < 4; ++row) {
    std::vector<mcspec::InItem> items;
    for (int k = 1; k <= 15; ++k) items.emplace_back(sym[static_cast<std::size_t>(row * 15 + k)]);
    nbba.read("(15A3)", items);
  }
  std::vector<mcspec::InItem> labels;
  for (int j = 1; j <= 9; ++j) labels.emplace_back(lab[static_cast<std::size_t>(j)]);
  nbba.read("(9A5)", labels);
  EXPECT_EQ(sym[1], " H ");
  EXPECT_EQ(sym[2], " He");
  EXPECT_EQ(sym[26], " Fe");
  EXPECT_EQ(sym[56], " Ba");
  EXPECT_EQ(sym[60], " Nd");
  EXPECT_EQ(lab[2], " II  ");
  EXPECT_EQ(lab[9], " IX  ");

  InFile nbia = open("nbia.ind");
  std::map<int, double> weight;
  for (int z = 1; z <= 60; ++z) {
    int zz = 0;
    std::string s;
    double w = 0;
    nbia.read("(I3, A3, F9.4)", {zz, s, w});
    EXPECT_EQ(zz, z);
    weight[z] = w;
  }
  EXPECT_EQ(weight[1], 1.008);
  EXPECT_EQ(weight[2], 4.0026);
  EXPECT_EQ(weight[26], 55.845);
  EXPECT_TRUE(nbia.at_end());

  InFile ihea = open("ihea.ind");
  for (int z = 1; z <= 56; ++z) {
    int zz = 0;
    std::string s;
    double chi[9] = {};
    ihea.read("(I3, A3, 9F8.3)", {zz, s, chi[0], chi[1], chi[2], chi[3], chi[4], chi[5], chi[6], chi[7], chi[8]});
    EXPECT_EQ(zz, z);
    const double first = z == 1 ? 13.598 : z == 2 ? 24.587 : z == 20 ? 6.113 : 999.999;
    EXPECT_EQ(chi[0], first) << "Z = " << z;
    EXPECT_EQ(chi[1], z == 2 ? 54.418 : z == 20 ? 11.872 : 999.999) << "Z = " << z;
    for (int j = 2; j < 9; ++j) EXPECT_EQ(chi[j], 999.999);
  }
  for (int z = 1; z <= 56; ++z) {
    int zz = 0;
    std::string s;
    double zeta[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    ihea.read("(I3, A3, 8F7.2)", {zz, s, zeta[0], zeta[1], zeta[2], zeta[3], zeta[4], zeta[5], zeta[6], zeta[7]});
    EXPECT_EQ(zz, z);
    for (double v : zeta) EXPECT_EQ(v, 0.0);
  }
  EXPECT_TRUE(ihea.at_end());

  InFile nama = open("nama.ind");
  for (int z = 1; z <= 56; ++z) {
    int zz = 0, g[10] = {};
    std::string s;
    nama.read("(I3, A3, 10I4)", {zz, s, g[0], g[1], g[2], g[3], g[4], g[5], g[6], g[7], g[8], g[9]});
    EXPECT_EQ(zz, z);
    for (int j = 1; j <= 10; ++j) {
      const int want = (z == 1 && j == 1) || (z == 2 && j == 2) ? 2 : 1;
      EXPECT_EQ(g[j - 1], want) << "Z = " << z << " stage " << j;
    }
  }
  EXPECT_TRUE(nama.at_end());
}

TEST_F(GeneratedData, DefaultProfileIsTheDocumentedPowerLaw) {
  InFile f = open("rhw7.dat");
  int lmax = 0;
  double t0 = 0;
  f.list(lmax, t0);
  ASSERT_GE(lmax, 2);
  ASSERT_LE(lmax, 300);  // the profile reader's capacity
  EXPECT_EQ(t0, 86400.0);
  std::vector<double> v, r, rho;
  for (int i = 1; i <= lmax; ++i) {
    int number = 0;
    double vi = 0, ri = 0, rhoi = 0;
    f.list(number, vi, ri, rhoi);
    EXPECT_EQ(number, i);
    EXPECT_NEAR(ri, vi * 1e5 * t0, 1e-6 * ri);  // homologous: r = v t
    if (!r.empty()) {
      EXPECT_GT(ri, r.back());
    }
    v.push_back(vi);
    r.push_back(ri);
    rho.push_back(rhoi);
  }
  EXPECT_TRUE(f.at_end());
  // rho ~ v^-11 above the 3500 km/s core, flat inside it.
  auto at = [&](double vel) {
    for (std::size_t i = 0; i < v.size(); ++i)
      if (std::fabs(v[i] - vel) < 1e-6) return rho[i];
    ADD_FAILURE() << "no point at " << vel;
    return 1.0;
  };
  EXPECT_NEAR(std::log10(at(14000.0) / at(7000.0)), -11.0 * std::log10(2.0), 1e-5);
  EXPECT_NEAR(at(7000.0), 4.0e-11, 1e-16);
  EXPECT_EQ(at(1000.0), at(3500.0));
  EXPECT_GT(at(3500.0), at(3750.0));
}

TEST_F(GeneratedData, TheProgramsReadersTakeTheLevelsOfHydrogenAndHeliumII) {
  TempDir run;
  write_file(run / "comp.ind", "  1 H  0.70\n  2 He 0.30\n");
  InFile nbba = open("nbba.ind"), nbia = open("nbia.ind"), ihea = open("ihea.ind"), varn1 = open("lines/varn1.new");
  InFile comp;
  comp.open((run / "comp.ind").string(), "comp.ind");
  mcspec::OutFile out = mcspec::OutFile::memory("out"), sbib = mcspec::OutFile::memory("sbib"),
                  stst = mcspec::OutFile::memory("stst"), atmd = mcspec::OutFile::memory("atmd");
  mcspec::Atoms a;
  mcspec::input(nbba, comp, nbia, ihea, a, out, sbib, stst);
  mcspec::Params p;
  p.chl = 60.0;
  p.chlcm = p.chl * 8065.46;
  mcspec::atlvls(p, varn1, a, out, atmd);
  EXPECT_EQ(a.nel, 2);
  ASSERT_EQ(a.nion, 2) << out.text();
  EXPECT_EQ(a.ionz(1), 1);
  EXPECT_EQ(a.ionj(1), 1);
  EXPECT_EQ(a.ionz(2), 2);
  EXPECT_EQ(a.ionj(2), 2);
  EXPECT_EQ(a.nlev(1, 1), 15);
  EXPECT_EQ(a.nlev(2, 2), 13);
  EXPECT_NEAR(a.elev(a.lev1(1, 1) + 2), hy::level_energy(1, 3, hy::rydberg_hydrogen()), 0.0005);
  EXPECT_NEAR(a.chi(2, 20), 11.872, 1e-12);  // the reference energy of the ionisation balance
}

TEST(GeneratedDataDirectory, IsNeverWrittenOverAnExistingDirectory) {
  TempDir dir;
  fs::create_directory(dir / "data");
  write_file(dir / "data" / "mine.txt", "keep\n");
  std::string out, err;
  EXPECT_NE(run_in(dir.path(), "", mkdata_command("--without-filters data"), &out, &err), 0);
  EXPECT_NE(err.find("already exists"), std::string::npos) << err;
  EXPECT_EQ(read_file(dir / "data" / "mine.txt"), "keep\n");
  EXPECT_FALSE(fs::exists(dir / "data" / "nbba.ind"));
}

TEST(GeneratedDataDirectory, MissingFilterCurvesLeaveNoDirectoryBehind) {
  TempDir dir;
  fs::create_directory(dir / "empty");
  std::string out, err;
  EXPECT_NE(run_in(dir.path(), "", mkdata_command("--bessell empty data"), &out, &err), 0);
  EXPECT_NE(err.find("bessell_ux.dat"), std::string::npos) << err;
  for (const auto& e : fs::directory_iterator(dir.path())) EXPECT_EQ(e.path().filename(), "empty");
}

// ------------------------------------------------------------ filter curves

// The sncosmo Bessell files, fetched once into the build directory; empty with the
// reason in *why when they cannot be had.
fs::path bessell_directory(std::string* why) {
  TempDir here;
  std::string out, err;
  const int status = run_in(here.path(), "",
                            "bash '" + kSource + "/tools/fetch_bessell.sh' '" + kBuild + "/sncosmo-cache'", &out, &err);
  if (status != 0) {
    *why = err;
    return {};
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

TEST(FilterCurves, AreTheBessellCurvesOnTheProgramsGrid) {
  std::string why;
  const fs::path bessell = bessell_directory(&why);
  if (bessell.empty()) GTEST_SKIP() << "the sncosmo Bessell curves cannot be obtained: " << why;
  TempDir dir;
  std::string out, err;
  ASSERT_EQ(run_in(dir.path(), "", mkdata_command("--bessell '" + bessell.string() + "' data"), &out, &err), 0) << err;
  InFile f;
  f.open((dir / "data" / "filters.dat").string(), "filters.dat");
  double w[109], t[4][109];
  for (int i = 0; i < 109; ++i) {
    f.read("(F9.1, 4F8.3)", {w[i], t[0][i], t[1][i], t[2][i], t[3][i]});
    EXPECT_EQ(w[i], 3000.0 + 50.0 * i);
  }
  EXPECT_TRUE(f.at_end());
  // Peak-normalised, at the tabulated peaks of UX, B, V and R.
  const double peak_at[4] = {3700.0, 4200.0, 5300.0, 6000.0};
  for (int k = 0; k < 4; ++k) {
    double peak = 0;
    int at = 0;
    for (int i = 0; i < 109; ++i) {
      EXPECT_GE(t[k][i], 0.0);
      if (t[k][i] > peak) {
        peak = t[k][i];
        at = i;
      }
    }
    EXPECT_EQ(peak, 1.0) << "filter " << k;
    EXPECT_EQ(w[at], peak_at[k]) << "filter " << k;
  }
  // Tabulated points are kept (V at 5500 A: 0.898), the points between interpolated
  // (B at 4150 A halfway between 0.978 and 1.000), zero outside a curve, and R cut by the
  // grid's end at 8400 A (0.14 at 8000 A, 0.03 at 8500 A).
  EXPECT_EQ(t[2][50], 0.898);
  EXPECT_EQ(t[1][23], 0.989);
  EXPECT_EQ(t[0][30], 0.0);   // U at 4500 A
  EXPECT_EQ(t[3][0], 0.0);    // R at 3000 A
  EXPECT_EQ(t[3][108], 0.052);
}

TEST(FilterCurves, AFailedDownloadIsReportedAndNothingElseIsWritten) {
  // An apt-get that cannot reach any package source.
  TempDir dir;
  fs::create_directory(dir / "bin");
  write_file(dir / "bin" / "apt-get", "#!/bin/sh\necho 'E: network unreachable' >&2\nexit 100\n");
  fs::permissions(dir / "bin" / "apt-get", fs::perms::owner_all);
  const char* path = std::getenv("PATH");
  std::string out, err;
  const int status =
      run_in(dir.path(), "PATH='" + (dir / "bin").string() + ":" + (path ? path : "/usr/bin:/bin") + "'",
             "bash '" + kSource + "/tools/fetch_bessell.sh' cache", &out, &err);
  EXPECT_EQ(status, 3);
  EXPECT_TRUE(out.empty()) << out;
  EXPECT_NE(err.find("cannot obtain the Bessell filter curves"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(dir / "cache" / "extract"));
}

}  // namespace
