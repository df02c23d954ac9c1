// The helper programs: the generated data directory read back by the program's own
// readers and by the record layouts of the line list (hydrogenic levels, oscillator
// strengths, NIST potentials, ground weights, the density power law), the Bessell
// filter curves, the tools' refusals, and the spectrum plot of a known P-Cygni line.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "common/io.hpp"
#include "driver/params.hpp"
#include "model/atoms.hpp"
#include "support/example_runs.hpp"
#include "tools/hydrogenic.hpp"

namespace fs = std::filesystem;
namespace hy = mcspec::hydrogenic;
using mcspec::InFile;
using namespace mcspec::test;

namespace {

constexpr double kC = 2.99792458e5;  // [km/s]

class GeneratedData : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(generated_data().status, 0) << generated_data().err; }
  static InFile open(const std::string& name) {
    InFile f;
    f.open((generated_data().dir / "data" / name).string(), name);
    return f;
  }
};

TEST_F(GeneratedData, ProgramReadersTakeTheElementTablesAndTheLevels) {
  InFile nbba = open("nbba.ind"), nbia = open("nbia.ind"), ihea = open("ihea.ind"), varn1 = open("lines/varn1.new"), comp;
  comp.open_text("comp.ind", "  1 H  0.70\n  2 He 0.30\n");
  mcspec::OutFile sink = mcspec::OutFile::memory();
  mcspec::Atoms a;
  mcspec::input(nbba, comp, nbia, ihea, a, sink, sink, sink);
  mcspec::Params p;
  p.chl = 60.0;
  p.chlcm = p.chl * 8065.46;
  mcspec::atlvls(p, varn1, a, sink, sink);  // stops at the closing Ba II block
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
        if (block == 0 && u == 3 && l == 2) {
          EXPECT_EQ(g[k], 0.710);  // H-alpha: log10(8 x 0.6407)
        }
        if (++l == u) {
          l = 1;
          ++u;
        }
      }
    }
  }
  EXPECT_TRUE(f.at_end());
}

TEST_F(GeneratedData, GroundWeightsAndThePowerLawProfile) {
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
  EXPECT_FALSE(fs::exists(generated_data().dir / "data" / "rhw7.dat"));
  // The profile written by --profile: homologous (r = v t0, t0 = 1 day), at most the
  // reader's 300 points, rho ~ v^-11 above the 3500 km/s core and flat inside it,
  // 4e-11 g cm^-3 at 7000 km/s.
  TempDir dir;
  std::string out, err;
  ASSERT_EQ(run_in(dir.path(), "", build_tool("mkdata", "--profile hydro.dat"), &out, &err), 0) << err;
  InFile f;
  f.open((dir / "hydro.dat").string(), "hydro.dat");
  int lmax = 0, number = 0;
  double t0 = 0, v = 0, r = 0, d = 0, last_r = 0;
  f.list(lmax, t0);
  ASSERT_TRUE(lmax >= 2 && lmax <= 300) << lmax;
  EXPECT_EQ(t0, 86400.0);
  std::map<double, double> rho;
  for (int i = 1; i <= lmax; ++i) {
    f.list(number, v, r, d);
    EXPECT_EQ(number, i);
    EXPECT_NEAR(r, v * 1e5 * t0, 1e-6 * r);
    EXPECT_GT(r, last_r);
    last_r = r;
    rho[std::round(v)] = d;
  }
  EXPECT_TRUE(f.at_end());
  EXPECT_NEAR(std::log10(rho.at(14000.0) / rho.at(7000.0)), -11.0 * std::log10(2.0), 1e-5);
  EXPECT_NEAR(rho.at(7000.0), 4.0e-11, 1e-16);
  EXPECT_EQ(rho.at(1000.0), rho.at(3500.0));
  EXPECT_GT(rho.at(3500.0), rho.at(3750.0));
}

TEST(Mkdata, NeverWritesOverAnExistingDirectoryNorLeavesAPartialOne) {
  TempDir dir;
  fs::create_directory(dir / "data");
  write_file(dir / "data" / "mine.txt", "keep\n");
  std::string out, err;
  EXPECT_NE(run_in(dir.path(), "", build_tool("mkdata", "--without-filters data"), &out, &err), 0);
  EXPECT_CONTAINS(err, "already exists");
  EXPECT_EQ(read_file(dir / "data" / "mine.txt"), "keep\n");
  EXPECT_FALSE(fs::exists(dir / "data" / "nbba.ind"));
  // Filter curves missing: nothing is left behind.
  fs::create_directory(dir / "empty");
  EXPECT_NE(run_in(dir.path(), "", build_tool("mkdata", "--bessell empty new"), &out, &err), 0);
  EXPECT_CONTAINS(err, "bessell-U.ecsv");
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

// ------------------------------------------------------------ the spectrum plot

double halpha_air() { return hy::air_wavelength(hy::vacuum_wavelength(1, 2, 3, hy::rydberg_hydrogen())); }

// spct.dat records in the program's layout: a continuum of 1e-15 erg s^-1 cm^-2 A^-1
// falling to the red with an H-alpha P-Cygni profile (emission at rest, absorption
// 7000 km/s to the blue).
void write_spectrum(const fs::path& p, double w0, double w1, double step) {
  mcspec::OutFile f;
  f.create_new(p.string());
  const double rest = halpha_air(), trough = rest * (1.0 - 7000.0 / kC);
  for (double w = w0; w <= w1; w += step) {
    const double bb = 1.0e-15 * std::pow(w / 5000.0, -2.0);
    const double fl = bb * (1.0 + 0.8 * std::exp(-0.5 * std::pow((w - rest) / 40.0, 2)) -
                            0.5 * std::exp(-0.5 * std::pow((w - trough) / 40.0, 2)));
    f.write("(F9.2, 4E15.5, E15.5)", w, fl, fl, 0.97 * fl, 0.97 * fl, bb);
  }
  f.close();
}

// The points of the polylines drawn with this stroke colour.
std::vector<std::pair<double, double>> series(const std::string& svg, const std::string& colour) {
  std::vector<std::pair<double, double>> pts;
  const std::regex line("<polyline fill=\"none\" stroke=\"" + colour + "\"[^>]* points=\"([^\"]*)\"/>");
  const std::regex point(R"(([0-9.]+),([0-9.]+))");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), line); it != std::sregex_iterator(); ++it) {
    const std::string p = (*it)[1];
    for (auto q = std::sregex_iterator(p.begin(), p.end(), point); q != std::sregex_iterator(); ++q)
      pts.emplace_back(std::stod((*q)[1]), std::stod((*q)[2]));
  }
  return pts;
}

TEST(Plotspec, DrawsBothSpectraTheBlackBodyAndTheBalmerLines) {
  TempDir dir;
  write_spectrum(dir / "spct.dat", 3500.0, 9000.0, 5.0);
  std::string out, err;
  ASSERT_EQ(run_in(dir.path(), "", build_tool("plot_spectrum", "spct.dat --title 'Test & check'"), &out, &err), 0) << err;
  EXPECT_CONTAINS(out, "spectrum.svg");
  const std::string t = read_file(dir / "spectrum.svg");
  EXPECT_EQ(t.rfind("<?xml", 0), 0u);
  EXPECT_CONTAINS(t, "</svg>\n");
  for (const char* text : {"Test &amp; check", "H\xce\xb1 6563", "H\xce\xb2 4861", "H\xce\xb3 4341", "H\xce\xb4 4102",
                           "Wavelength (\xc3\x85, air)", "erg s", "formal integral", "Monte Carlo packets", "black body",
                           "10<tspan baseline-shift=\"super\" font-size=\"11\">\xe2\x88\x92" "15</tspan>"})
    EXPECT_CONTAINS(t, text);
  // x pixel -> wavelength from the x-axis tick labels.
  const std::regex tick(R"re(<text x="([0-9.]+)" y="[0-9.]+" font-size="13" text-anchor="middle">([0-9]+)</text>)re");
  std::vector<std::pair<double, double>> ticks;
  for (auto it = std::sregex_iterator(t.begin(), t.end(), tick); it != std::sregex_iterator(); ++it)
    ticks.emplace_back(std::stod((*it)[1]), std::stod((*it)[2]));
  ASSERT_GE(ticks.size(), 2u);
  const double b = (ticks.back().second - ticks.front().second) / (ticks.back().first - ticks.front().first);
  auto wavelength = [&](double x) { return ticks.front().second + b * (x - ticks.front().first); };

  const auto formal = series(t, "#1b3f8b");
  ASSERT_EQ(formal.size(), 1101u);  // every record drawn, for each of the three curves
  EXPECT_EQ(series(t, "#e08a1e").size(), formal.size());
  EXPECT_EQ(series(t, "#7f7f7f").size(), formal.size());
  std::pair<double, double> peak{0, 1e9}, trough{0, 0};  // smallest / largest pixel y
  for (const auto& [x, y] : formal) {
    EXPECT_TRUE(x >= 100.0 && x <= 950.0 && y >= 70.0 && y <= 545.0) << x << "," << y;  // inside the frame
    const double w = wavelength(x);
    if (w > 6000 && w < 7000 && y < peak.second) peak = {x, y};
    if (w > 6200 && w < 6500 && y > trough.second) trough = {x, y};
  }
  EXPECT_NEAR(wavelength(formal.front().first), 3500.0, 1.0);
  EXPECT_NEAR(wavelength(formal.back().first), 9000.0, 1.0);
  EXPECT_NEAR(wavelength(peak.first), halpha_air(), 6.0);
  EXPECT_NEAR(wavelength(trough.first), halpha_air() * (1.0 - 7000.0 / kC), 6.0);
  EXPECT_TRUE(std::regex_search(t, std::regex("text-anchor=\"end\">0(\\.0+)?</text>")));  // y axis from zero
}

TEST(Plotspec, MarksOnlyTheBalmerLinesInsideTheRangeAndWritesWhereAsked) {
  TempDir dir;
  write_spectrum(dir / "spct.dat", 5000.0, 9000.0, 10.0);
  std::string out, err;
  ASSERT_EQ(run_in(dir.path(), "", build_tool("plot_spectrum", "spct.dat red.svg"), &out, &err), 0) << err;
  const std::string t = read_file(dir / "red.svg");
  EXPECT_FALSE(fs::exists(dir / "spectrum.svg"));
  EXPECT_CONTAINS(t, "H\xce\xb1 6563");
  EXPECT_EQ(t.find("H\xce\xb2"), std::string::npos);
  EXPECT_EQ(t.find("H\xce\xb4"), std::string::npos);
}

TEST(Plotspec, RefusesUnusableInputWithTheFileNamed) {
  TempDir dir;
  const struct {
    const char* text;  // nullptr: no file
    const char* message;
  } bad[] = {{nullptr, "spct.dat"},
             {"  5000.00    0.10000E-14    0.10000E-14    0.10000E-14    0.10000E-14    0.10000E-14\n", "fewer than two"},
             {"  5000.00 1e-15 1e-15 1e-15 1e-15 1e-15\n  4000.00 1e-15 1e-15 1e-15 1e-15 1e-15\n", "record 2"}};
  for (const auto& c : bad) {
    if (c.text) write_file(dir / "spct.dat", c.text);
    std::string out, err;
    EXPECT_NE(run_in(dir.path(), "", build_tool("plot_spectrum", "spct.dat"), &out, &err), 0);
    EXPECT_CONTAINS(err, c.message);
    EXPECT_FALSE(fs::exists(dir / "spectrum.svg"));
  }
}

}  // namespace
