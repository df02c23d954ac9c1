// The spectrum plot and the example run: plotspec on a synthetic "spct.dat" with a
// known P-Cygni line, and the example model run end to end on the generated data
// directory, whose H-alpha and H-beta must come out as P-Cygni profiles.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "common/io.hpp"
#include "support/test_support.hpp"
#include "tools/hydrogenic.hpp"

namespace fs = std::filesystem;
namespace hy = mcspec::hydrogenic;
using mcspec::test::read_file;
using mcspec::test::run_in;
using mcspec::test::TempDir;
using mcspec::test::write_file;

namespace {

const std::string kBuild = MCSPEC_BUILD_DIR;
const std::string kSource = MCSPEC_SOURCE_DIR;
constexpr double kC = 2.99792458e5;  // [km/s]

double halpha_air() { return hy::air_wavelength(hy::vacuum_wavelength(1, 2, 3, hy::rydberg_hydrogen())); }

// A continuum of 1e-15 erg s^-1 cm^-2 A^-1 falling to the red, with an H-alpha P-Cygni
// profile: emission peak at the rest wavelength, absorption 7000 km/s to the blue.
double synthetic_flux(double w) {
  const double rest = halpha_air(), trough = rest * (1.0 - 7000.0 / kC);
  const double continuum = 1.0e-15 * std::pow(w / 5000.0, -2.0);
  return continuum * (1.0 + 0.8 * std::exp(-0.5 * std::pow((w - rest) / 40.0, 2)) -
                      0.5 * std::exp(-0.5 * std::pow((w - trough) / 40.0, 2)));
}

// Writes spct.dat records in the program's own layout.
void write_spectrum(const fs::path& p, double w0, double w1, double step) {
  mcspec::OutFile f;
  f.create_new(p.string());
  for (double w = w0; w <= w1; w += step) {
    const double fl = synthetic_flux(w), bb = 1.0e-15 * std::pow(w / 5000.0, -2.0);
    f.write("(F9.2, 4E15.5, E15.5)", w, fl, fl, 0.97 * fl, 0.97 * fl, bb);
  }
  f.close();
}

struct Svg {
  std::string text;
  // x pixel -> wavelength from the x-axis tick labels (centred numbers).
  double a = 0, b = 0;
  double wavelength_at(double x) const { return a + b * x; }
};

Svg parse_svg(const std::string& text) {
  Svg s{text};
  std::regex tick(R"re(<text x="([0-9.]+)" y="[0-9.]+" font-size="13" text-anchor="middle">([0-9]+)</text>)re");
  std::vector<std::pair<double, double>> ticks;  // (pixel, wavelength)
  for (auto it = std::sregex_iterator(text.begin(), text.end(), tick); it != std::sregex_iterator(); ++it)
    ticks.emplace_back(std::stod((*it)[1]), std::stod((*it)[2]));
  if (ticks.size() >= 2) {
    s.b = (ticks.back().second - ticks.front().second) / (ticks.back().first - ticks.front().first);
    s.a = ticks.front().second - s.b * ticks.front().first;
  }
  return s;
}

// The points of the polyline(s) drawn with this stroke colour.
std::vector<std::pair<double, double>> series(const std::string& svg, const std::string& colour) {
  std::vector<std::pair<double, double>> pts;
  std::regex line("<polyline fill=\"none\" stroke=\"" + colour + "\"[^>]* points=\"([^\"]*)\"/>");
  std::regex point(R"(([0-9.]+),([0-9.]+))");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), line); it != std::sregex_iterator(); ++it) {
    const std::string p = (*it)[1];
    for (auto q = std::sregex_iterator(p.begin(), p.end(), point); q != std::sregex_iterator(); ++q)
      pts.emplace_back(std::stod((*q)[1]), std::stod((*q)[2]));
  }
  return pts;
}

std::string plotspec(const std::string& args) { return "'" + kBuild + "/plotspec' " + args; }

TEST(Plotspec, DrawsBothSpectraTheBlackBodyAndTheBalmerLines) {
  TempDir dir;
  write_spectrum(dir / "spct.dat", 3500.0, 9000.0, 5.0);
  std::string out, err;
  ASSERT_EQ(run_in(dir.path(), "", plotspec("spct.dat --title 'Test & check'"), &out, &err), 0) << err;
  EXPECT_NE(out.find("spectrum.svg"), std::string::npos) << out;
  const Svg svg = parse_svg(read_file(dir / "spectrum.svg"));
  const std::string& t = svg.text;
  EXPECT_EQ(t.rfind("<?xml", 0), 0u);
  EXPECT_NE(t.find("</svg>\n"), std::string::npos);
  EXPECT_NE(t.find("Test &amp; check"), std::string::npos);  // the title, escaped for XML
  for (const char* label : {"H\xce\xb1 6563", "H\xce\xb2 4861", "H\xce\xb3 4341", "H\xce\xb4 4102"})
    EXPECT_NE(t.find(label), std::string::npos) << label;
  for (const char* text : {"Wavelength (\xc3\x85, air)", "erg s", "formal integral", "Monte Carlo packets",
                           "black body", "10<tspan baseline-shift=\"super\" font-size=\"11\">\xe2\x88\x92" "15</tspan>"})
    EXPECT_NE(t.find(text), std::string::npos) << text;

  const auto formal = series(t, "#1b3f8b"), mc = series(t, "#e08a1e"), bb = series(t, "#7f7f7f");
  ASSERT_EQ(formal.size(), 1101u);  // every record drawn
  EXPECT_EQ(mc.size(), formal.size());
  EXPECT_EQ(bb.size(), formal.size());
  // Inside the frame, and the wavelength axis is the one the ticks state.
  for (const auto& [x, y] : formal) {
    EXPECT_GE(x, 100.0);
    EXPECT_LE(x, 950.0);
    EXPECT_GE(y, 70.0);
    EXPECT_LE(y, 545.0);
  }
  EXPECT_NEAR(svg.wavelength_at(formal.front().first), 3500.0, 1.0);
  EXPECT_NEAR(svg.wavelength_at(formal.back().first), 9000.0, 1.0);
  // The emission peak (smallest pixel y) lies at H-alpha, the trough 7000 km/s bluewards.
  std::pair<double, double> peak{0, 1e9};
  for (const auto& p : formal) {
    const double w = svg.wavelength_at(p.first);
    if (w > 6000 && w < 7000 && p.second < peak.second) peak = p;
  }
  EXPECT_NEAR(svg.wavelength_at(peak.first), halpha_air(), 6.0);
  std::pair<double, double> trough{0, 0};
  for (const auto& p : formal) {
    const double w = svg.wavelength_at(p.first);
    if (w > 6200 && w < 6500 && p.second > trough.second) trough = p;
  }
  EXPECT_NEAR(svg.wavelength_at(trough.first), halpha_air() * (1.0 - 7000.0 / kC), 6.0);
  // The y axis starts at zero and the highest flux stays below its top.
  EXPECT_TRUE(std::regex_search(t, std::regex("text-anchor=\"end\">0(\\.0+)?</text>")));
}

TEST(Plotspec, MarksOnlyTheBalmerLinesInsideTheRangeAndWritesWhereAsked) {
  TempDir dir;
  write_spectrum(dir / "spct.dat", 5000.0, 9000.0, 10.0);
  std::string out, err;
  ASSERT_EQ(run_in(dir.path(), "", plotspec("spct.dat red.svg"), &out, &err), 0) << err;
  const std::string t = read_file(dir / "red.svg");
  EXPECT_FALSE(fs::exists(dir / "spectrum.svg"));
  EXPECT_NE(t.find("H\xce\xb1 6563"), std::string::npos);
  EXPECT_EQ(t.find("H\xce\xb2"), std::string::npos);
  EXPECT_EQ(t.find("H\xce\xb4"), std::string::npos);
}

TEST(Plotspec, RefusesUnusableInputWithTheFileNamed) {
  TempDir dir;
  std::string out, err;
  EXPECT_NE(run_in(dir.path(), "", plotspec("spct.dat"), &out, &err), 0);
  EXPECT_NE(err.find("spct.dat"), std::string::npos) << err;

  write_file(dir / "spct.dat", "  5000.00    0.10000E-14    0.10000E-14    0.10000E-14    0.10000E-14    0.10000E-14\n");
  EXPECT_NE(run_in(dir.path(), "", plotspec("spct.dat"), &out, &err), 0);
  EXPECT_NE(err.find("fewer than two"), std::string::npos) << err;

  write_file(dir / "spct.dat", "  5000.00 1e-15 1e-15 1e-15 1e-15 1e-15\n  4000.00 1e-15 1e-15 1e-15 1e-15 1e-15\n");
  EXPECT_NE(run_in(dir.path(), "", plotspec("spct.dat"), &out, &err), 0);
  EXPECT_NE(err.find("record 2"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(dir / "spectrum.svg"));
}

// ------------------------------------------------------------ the example, end to end

struct Row {
  double w, formal, mc, bb;
};

std::vector<Row> read_spct(const fs::path& p) {
  mcspec::InFile f;
  f.open(p.string(), "spct.dat");
  std::vector<Row> rows;
  Row r{};
  double formal_red = 0, mc_red = 0;
  while (true) {
    const mcspec::InItem items[] = {r.w, r.formal, formal_red, r.mc, mc_red, r.bb};
    if (!f.read_list_or_end(items)) break;
    rows.push_back(r);
  }
  return rows;
}

class ExampleModel : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    TempDir here;
    std::string bessell, err;
    if (run_in(here.path(), "", "bash '" + kSource + "/tools/fetch_bessell.sh' '" + kBuild + "/sncosmo-cache'",
               &bessell, &err) != 0) {
      why_ = err;
      return;
    }
    bessell.erase(bessell.find_last_not_of("\r\n") + 1);
    dir_ = new TempDir("mcspec-example");
    status_ = run_in(dir_->path(), "", "'" + kBuild + "/mkdata' --bessell '" + bessell + "' data", &out_, &err_);
    if (status_ != 0) return;
    fs::create_directory(dir_->path() / "run");
    const fs::path example = fs::path(kSource) / "examples" / "hydrogen-envelope";
    for (const char* name : {"comp.ind", "hydro.dat"}) fs::copy_file(example / name, dir_->path() / "run" / name);
    std::string dica = read_file(example / "dica.dat");
    if (std::getenv("MCSPEC_SANITIZED") != nullptr) {  // 10000 packets under the sanitizers
      const std::size_t second = dica.find('\n') + 1;
      dica.replace(second, dica.find('\n', second) - second, "    1    3");
    }
    write_file(dir_->path() / "run" / "dica.dat", dica);
    status_ = run_in(dir_->path() / "run", "MCDATA='" + (dir_->path() / "data").string() + "'", MCSPEC_BINARY, &out_,
                     &err_);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (dir_ == nullptr) GTEST_SKIP() << "the sncosmo Bessell curves cannot be obtained: " << why_;
    ASSERT_EQ(status_, 0) << err_ << out_.substr(out_.size() > 2000 ? out_.size() - 2000 : 0);
  }
  static fs::path run_dir() { return dir_->path() / "run"; }
  static TempDir* dir_;
  static int status_;
  static std::string out_, err_, why_;
};
TempDir* ExampleModel::dir_ = nullptr;
int ExampleModel::status_ = -1;
std::string ExampleModel::out_, ExampleModel::err_, ExampleModel::why_;

TEST_F(ExampleModel, TakesTheHydrogenLevelsIntoTheRun) {
  EXPECT_NE(out_.find(" Finish Code"), std::string::npos);
  EXPECT_TRUE(err_.empty()) << err_;
  const std::string atmd = read_file(run_dir() / "atmd.oud");
  EXPECT_NE(atmd.find("NLV =  15"), std::string::npos) << atmd.substr(0, 300);
  // CHL = 20 eV keeps He II (24.6 eV from He I) and its lines out of the run.
  EXPECT_EQ(atmd.find("NLV =  13"), std::string::npos);
}

TEST_F(ExampleModel, BalmerLinesArePCygniProfiles) {
  const std::vector<Row> rows = read_spct(run_dir() / "spct.dat");
  ASSERT_GT(rows.size(), 900u);
  auto flux_at = [&](double w) {
    const auto it = std::lower_bound(rows.begin(), rows.end(), w, [](const Row& r, double x) { return r.w < x; });
    return it->formal;
  };
  const double vph = 6500.0;
  for (int upper : {3, 4}) {  // H-alpha, H-beta
    const double rest = hy::air_wavelength(hy::vacuum_wavelength(1, 2, upper, hy::rydberg_hydrogen()));
    // Emission peak within 1500 km/s of the rest wavelength, above the continuum redwards.
    Row peak{0, 0, 0, 0};
    for (const Row& r : rows)
      if (r.w > rest * (1 - 1500 / kC) && r.w < rest * (1 + 1500 / kC) && r.formal > peak.formal) peak = r;
    ASSERT_GT(peak.w, 0) << rest;
    EXPECT_GT(peak.formal, 1.05 * flux_at(rest * (1 + 20000 / kC))) << rest;
    // Absorption trough bluewards, at about the photosphere's velocity, well below the
    // continuum further to the blue.
    Row trough{0, 1e300, 0, 0};
    for (const Row& r : rows)
      if (r.w > rest * (1 - 15000 / kC) && r.w < peak.w && r.formal < trough.formal) trough = r;
    const double v = kC * (1.0 - trough.w / rest);
    EXPECT_GT(v, 0.6 * vph) << rest << ": trough at " << trough.w;
    EXPECT_LT(v, 1.5 * vph) << rest << ": trough at " << trough.w;
    EXPECT_LT(trough.formal, 0.9 * flux_at(rest * (1 - 17000 / kC))) << rest;
  }
}

TEST_F(ExampleModel, ItsSpectrumCanBePlotted) {
  std::string out, err;
  ASSERT_EQ(run_in(run_dir(), "", plotspec("spct.dat"), &out, &err), 0) << err;
  EXPECT_GT(fs::file_size(run_dir() / "spectrum.svg"), 10000u);
}

}  // namespace
