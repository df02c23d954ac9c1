// The program end to end: the type Ia example on the shared atomic data (the schedule, a
// warm start; reruns are byte-identical: e2e Threads), the hydrogen-envelope example on
// the generated data directory (H-alpha and H-beta as P-Cygni profiles; every output
// against the stored digests of tests/reference) and with velocity zones ("zones.dat",
// H 0.7, He 0.3): one zone is the uniform composition, byte for byte; hydrogen only
// outside 8125 km/s changes the nuclei per gram in those shells alone and moves the Balmer
// absorptions out. Refused inputs: the malformed-input corpus (tests/corpus).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "support/run_dir.hpp"
#include "tools/hydrogenic.hpp"

namespace fs = std::filesystem;
namespace hy = mcspec::hydrogenic;
using namespace mcspec::test;

namespace {

// The numbers that follow a label on standard output, in order.
std::vector<int> numbers_after(const std::string& text, const std::string& label) {
  std::vector<int> n;
  const std::regex re(label + R"(\s+(\d+))");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it)
    n.push_back(std::stoi((*it)[1]));
  return n;
}

class SnIaMax : public ::testing::Test {
 protected:
  void SetUp() override {
    MCSPEC_REQUIRE_SHARED_EXAMPLE();
    ASSERT_EQ(run().status, 0) << run().err << tail(run().out);
  }
  static const RunDir& run() { return *sn_ia_max_run(); }
};

TEST_F(SnIaMax, FollowsTheScheduleOnStandardOutput) {
  // (The texts of the set-up stages: the stored digest of the hydrogen example.)
  const std::string& out = run().out;
  EXPECT_EQ(out.substr(out.size() - 13), " Finish Code\n");
  // Passes 1, 2, ..., n and then 30 (or 1..30), at least 10 in all; ITT = 3 final passes.
  const std::vector<int> passes = numbers_after(out, "TEMP ITER");
  ASSERT_GE(passes.size(), 10u);
  ASSERT_LE(passes.size(), 30u);
  EXPECT_EQ(passes.back(), 30);
  for (std::size_t i = 0; i + 1 < passes.size(); ++i) EXPECT_EQ(passes[i], static_cast<int>(i) + 1);
  EXPECT_EQ(numbers_after(out, R"(Rad\. field ITER)"), (std::vector<int>{1, 2, 3}));
  // Standard error: the same passes as progress lines, the convergence marked on the
  // pass before 30, the final passes and the total time.
  const std::string& err = run().err;
  EXPECT_EQ(numbers_after(err, "mcspec: temperature pass"), passes) << err;
  EXPECT_EQ(numbers_after(err, "mcspec: final Monte Carlo pass"), (std::vector<int>{1, 2, 3})) << err;
  EXPECT_CONTAINS(err, "% (converged)");
  EXPECT_TRUE(std::regex_search(err, std::regex("mcspec: finished in [0-9.]+ s\n$"))) << err;
}

// Started from its own radiation field ("radfield.dat" copied as "warmstart.dat") the run
// tests convergence from the first pass: near its field it needs pass 1 and then 30 at
// most a few more. (A bad field: the malformed-input corpus.)
TEST_F(SnIaMax, WarmStartFromItsOwnField) {
  RunDir warm("mcspec-warm");
  warm.example(shared_example()).files({{"warmstart.dat", run().read("radfield.dat")}});
  if (sanitized()) warm.packets(1);
  ASSERT_EQ(warm.run(mcdata(shared_mcdata())), 0) << warm.err;
  EXPECT_CONTAINS(warm.read("stst.dat"), "Warm start from warmstart.dat");
  const std::vector<int> passes = numbers_after(warm.out, "TEMP ITER");
  EXPECT_LT(passes.size(), numbers_after(run().out, "TEMP ITER").size());
  EXPECT_EQ(passes.back(), 30);
}

// ------------------------------------------------------------ the hydrogen envelope

class HydrogenEnvelope : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(hydrogen_envelope_run(), nullptr) << generated_data().err;
    ASSERT_EQ(run().status, 0) << run().err << tail(run().out);
  }
  static const RunDir& run() { return *hydrogen_envelope_run(); }
};

TEST_F(HydrogenEnvelope, BalmerLinesArePCygniProfiles) {
  const std::vector<std::pair<double, double>> rows = run().spectrum();  // wavelength, formal flux
  ASSERT_GT(rows.size(), 900u);
  const double c = 2.99792458e5, vph = 6500.0;  // [km/s]
  auto flux_at = [&](double x) { return std::lower_bound(rows.begin(), rows.end(), std::pair{x, 0.0})->second; };
  for (int upper : {3, 4}) {  // H-alpha, H-beta
    const double rest = hy::air_wavelength(hy::vacuum_wavelength(1, 2, upper, hy::rydberg_hydrogen()));
    // Emission peak within 1500 km/s of the rest wavelength, above the continuum redwards;
    // absorption trough bluewards at about the photosphere's velocity, well below the
    // continuum further to the blue.
    std::pair<double, double> peak{0, 0}, trough{0, 1e300};
    for (const auto& r : rows)
      if (std::abs(r.first / rest - 1) < 1500 / c && r.second > peak.second) peak = r;
    ASSERT_GT(peak.first, 0) << rest;
    EXPECT_GT(peak.second, 1.05 * flux_at(rest * (1 + 20000 / c))) << rest;
    for (const auto& r : rows)
      if (r.first > rest * (1 - 15000 / c) && r.first < peak.first && r.second < trough.second) trough = r;
    const double v = c * (1.0 - trough.first / rest);
    EXPECT_TRUE(v > 0.6 * vph && v < 1.5 * vph) << rest << ": trough at " << trough.first;
    EXPECT_LT(trough.second, 0.9 * flux_at(rest * (1 - 17000 / c))) << rest;
  }
}

// Every output of the hydrogen-envelope example at its fixed seed (single sequence)
// against the stored SHA-256 digests of tests/reference/hydrogen-envelope.sha256, so
// that an unintended change of any output fails here. After an intended change:
// tools/update_reference.sh BUILD_DIR (see README).
TEST(HydrogenEnvelopeReference, OutputsMatchTheStoredDigests) {
  for (const char* v : {"MCSPEC_STREAMS", "MCSPEC_ION_SPECTRUM"})
    if (const char* s = std::getenv(v); s != nullptr && std::string(s) == "1")
      GTEST_SKIP() << v << "=1 changes the outputs: the reference is the single-sequence run";
  ASSERT_NE(hydrogen_envelope_run(), nullptr) << generated_data().err;
  // Under the sanitizers the shared run sends fewer packets: the reference needs a run of
  // its own with the example's inputs as they are (the Debug build gives the same bytes).
  RunDir full;
  if (sanitized()) full.example(kSourceDir / "examples/hydrogen-envelope").run(mcdata(generated_mcdata()));
  const RunDir& run = sanitized() ? full : *hydrogen_envelope_run();
  ASSERT_EQ(run.status, 0) << run.err;
  // The run's outputs beside its standard output, in a directory of their own.
  RunDir digests("mcspec-digest");
  write_file(digests / "standard-output", run.out);
  for (const std::string& name : run.names())
    if (name != "dica.dat" && name != "comp.ind" && name != "hydro.dat") fs::copy_file(run / name, digests / name);
  ASSERT_EQ(digests.run("LC_ALL=C", "sha256sum $(ls)"), 0) << digests.err;
  EXPECT_EQ(digests.out, read_file(kSourceDir / "tests/reference/hydrogen-envelope.sha256"))
      << "an output of the hydrogen-envelope example changed; if that is intended, run "
         "tools/update_reference.sh BUILD_DIR and commit tests/reference/hydrogen-envelope.sha256";
}

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
