// The composition by velocity zones ("zones.dat") end to end, on the hydrogen-envelope
// example (H 0.7, He 0.3) and the generated data directory: one zone is the uniform
// composition, byte for byte; hydrogen only outside 8125 km/s changes the nuclei per
// gram in those shells alone and moves the Balmer absorptions out. (Both composition
// files at once, or a leftover composition.dat: the malformed-input corpus.)
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "support/run_dir.hpp"

using namespace mcspec::test;

namespace {

// The hydrogen-envelope inputs with 20000 packets and the given composition files.
std::unique_ptr<RunDir> envelope_run(const std::string& comp, const std::string& zones) {
  auto r = std::make_unique<RunDir>("mcspec-layered");
  const fs::path ex = kSourceDir / "examples/hydrogen-envelope";
  r->files({{"hydro.dat", read_file(ex / "hydro.dat")}, {"dica.dat", read_file(ex / "dica.dat")}}).packets(2);
  if (!comp.empty()) r->files({{"comp.ind", comp}});
  if (!zones.empty()) r->files({{"zones.dat", zones}});
  r->run(mcdata(generated_mcdata()));
  return r;
}

class Layered : public ::testing::Test {
 protected:
  void SetUp() override { MCSPEC_REQUIRE_GENERATED_DATA(); }
};

TEST_F(Layered, OneZoneIsTheUniformComposition) {
  const auto uniform = envelope_run("  1 H  0.70\n  2 He 0.30\n", "");
  const auto zoned = envelope_run("", "# one zone\nv_outer H He\n50000 0.70 0.30\n");
  ASSERT_EQ(uniform->status, 0) << uniform->err;
  ASSERT_EQ(zoned->status, 0) << zoned->err;
  EXPECT_EQ(zoned->differences(*uniform), "");
  EXPECT_FALSE(uniform->has("composition.dat"));
  const std::vector<std::string> comp = records(zoned->read("composition.dat"));
  ASSERT_EQ(comp.size(), 3u + 20u);
  EXPECT_EQ(comp[0], "# mass fractions by shell after radioactive decay to DAY =    25.00 d (zones.dat)");
  EXPECT_EQ(comp[2], "shell    v_inner    v_outer           H          He        Ni56        Co56        Fe52"
                     "        Mn52        Cr48         V48");
  EXPECT_EQ(comp[3].substr(0, 51), "    1     6500.0     6770.8  7.0000E-01  3.0000E-01");
}

TEST_F(Layered, HydrogenOnlyOutsideTakesPartOnlyThere) {
  const auto r = envelope_run("", "v_outer He H\n8125 1 0\n50000 0.3 0.7\n");
  ASSERT_EQ(r->status, 0) << r->err;
  // Nuclei per gram, Ntot / rho, from yhea.dat: sum X/A, 1/4.0026 in the helium shells
  // (1 to 5, below 8125 km/s), 0.7/1.008 + 0.3/4.0026 in the others (7 to 20).
  const std::string yhea = r->read("yhea.dat");
  std::vector<double> ntot, logrh;
  const std::regex n_re(R"(Ntot =\s+(\S+)D(\S+))"), rho_re(R"(\n\s+\S+\s+\S+\s+(-?\d+\.\d{4})\s+\S+D)");
  for (auto it = std::sregex_iterator(yhea.begin(), yhea.end(), n_re); it != std::sregex_iterator(); ++it)
    ntot.push_back(std::stod((*it)[1]) * std::pow(10.0, std::stod((*it)[2])));
  for (auto it = std::sregex_iterator(yhea.begin(), yhea.end(), rho_re); it != std::sregex_iterator(); ++it)
    logrh.push_back(std::stod((*it)[1]));
  ASSERT_EQ(ntot.size(), 20u);
  ASSERT_GE(logrh.size(), 20u);  // the first element's rows
  const double helium = 1.0 / 4.0026, mixed = 0.7 / 1.008 + 0.3 / 4.0026;
  const auto per_gram = [&](int k) { return ntot[k - 1] / std::pow(10.0, logrh[k - 1]); };
  for (int k : {1, 5}) EXPECT_NEAR(per_gram(k) / per_gram(20), helium / mixed, 0.01 * helium / mixed) << k;
  for (int k : {7, 13}) EXPECT_NEAR(per_gram(k) / per_gram(20), 1.0, 0.01) << k;
  // H-alpha and H-beta absorb only in front of the photosphere in shells above 8125
  // km/s: their troughs lie beyond 7000 km/s (the uniform example's: 6000 km/s).
  const double c = 2.99792458e5;
  for (double rest : {6562.8, 4861.3}) {
    std::pair<double, double> trough{0, 1e300};
    for (const auto& [w, f] : r->spectrum())
      if (w > rest * (1 - 15000 / c) && w < rest && f < trough.second) trough = {w, f};
    EXPECT_GT(c * (1 - trough.first / rest), 7000.0) << rest;
  }
}

}  // namespace
