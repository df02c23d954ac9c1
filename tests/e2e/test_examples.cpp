// The program end to end: the type Ia example on the shared atomic data (the schedule, a
// warm start; reruns are byte-identical: e2e Threads), the hydrogen-envelope example on the
// generated data directory (H-alpha and H-beta as P-Cygni profiles; every output against
// the stored digests of tests/reference). Refused inputs: the corpus (tests/corpus).
#include <gtest/gtest.h>

#include <algorithm>
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
// most a few more; a bad field stops the set-up naming record and field, leaving no file.
TEST_F(SnIaMax, WarmStartFromItsOwnFieldAndABadField) {
  RunDir warm("mcspec-warm");
  warm.example(shared_example()).files({{"warmstart.dat", run().read("radfield.dat")}});
  if (sanitized()) warm.packets(1);
  ASSERT_EQ(warm.run(mcdata(shared_mcdata())), 0) << warm.err;
  EXPECT_CONTAINS(warm.read("stst.dat"), "Warm start from warmstart.dat");
  const std::vector<int> passes = numbers_after(warm.out, "TEMP ITER");
  EXPECT_LT(passes.size(), numbers_after(run().out, "TEMP ITER").size());
  EXPECT_EQ(passes.back(), 30);

  RunDir bad("mcspec-warm-bad");
  bad.example(shared_example()).files({{"warmstart.dat", "# TB\n12000\n1 1e4 1e4 1.5 9e3\n"}});
  EXPECT_EQ(bad.run(mcdata(shared_mcdata())), 2);
  EXPECT_CONTAINS(bad.err, "\"warmstart.dat\", record 3, field 4");
  for (const char* name : kOutputFiles) EXPECT_FALSE(bad.has(name)) << name;
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

}  // namespace

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
