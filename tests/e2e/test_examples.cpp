// The program end to end: the type Ia example on the shared atomic data (the schedule,
// every output file, a byte-identical rerun), the hydrogen-envelope example on the
// generated data directory (H-alpha and H-beta as P-Cygni profiles; every output against
// the stored digests of tests/reference). The refusals of
// bad inputs are in the malformed-input corpus (tests/corpus).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "base/io.hpp"
#include "support/example_runs.hpp"
#include "tools/hydrogenic.hpp"

namespace fs = std::filesystem;
namespace hy = mcspec::hydrogenic;
using namespace mcspec::test;

namespace {

std::string tail(const std::string& s) { return s.substr(s.size() > 2000 ? s.size() - 2000 : 0); }

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
    if (shared_example().empty()) GTEST_SKIP() << "the shared example (../shared/examples/sn-ia-max) is not present";
    ASSERT_EQ(run().status, 0) << run().err << tail(run().out);
  }
  static const ToolRun& run() { return *sn_ia_max_run(); }
};

TEST_F(SnIaMax, FollowsTheScheduleOnStandardOutput) {
  const std::string& out = run().out;
  EXPECT_EQ(out.rfind("  included\n", 0), 0u) << out.substr(0, 200);
  // Each set-up stage is called (their texts: the driver's unit tests).
  for (const char* text : {" opening", "start params", "Will use default W7 model.", "Scale MC sp to L(bol)"})
    EXPECT_CONTAINS(out, text);
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

TEST_F(SnIaMax, WritesEveryOutputFile) {
  for (const char* name : kOutputFiles) EXPECT_TRUE(fs::exists(run().dir / name)) << name;
  EXPECT_EQ(run().read("diagn.dat") + run().read("taul.dat"), "");  // created and left empty
  // One lhea.dat record per kept line: the Python readers' check_run, on this run too.
}

// The same inputs and seed give byte-identical files.
TEST_F(SnIaMax, RerunIsByteIdentical) {
  const auto again = run_example(shared_example(), shared_mcdata());
  ASSERT_EQ(again->status, 0) << again->err;
  EXPECT_EQ(again->out, run().out);
  for (const char* name : kOutputFiles) EXPECT_TRUE(again->read(name) == run().read(name)) << name << " differs";
}

// Started from its own radiation field ("radfield.dat" copied as "warmstart.dat") the run
// tests convergence from the first pass: near its field it needs pass 1 and then 30 at
// most a few more; a bad field stops the set-up naming record and field, leaving no file.
TEST_F(SnIaMax, WarmStartFromItsOwnFieldAndABadField) {
  ToolRun warm("mcspec-warm");
  copy_example(shared_example(), warm.dir.path());
  write_file(warm.dir / "warmstart.dat", run().read("radfield.dat"));
  warm.status = run_program(warm.dir.path(), shared_mcdata(), &warm.out, &warm.err);
  ASSERT_EQ(warm.status, 0) << warm.err;
  EXPECT_CONTAINS(warm.read("stst.dat"), "Warm start from warmstart.dat");
  const std::vector<int> passes = numbers_after(warm.out, "TEMP ITER");
  EXPECT_LT(passes.size(), numbers_after(run().out, "TEMP ITER").size());
  EXPECT_EQ(passes.back(), 30);

  ToolRun bad("mcspec-warm-bad");
  copy_example(shared_example(), bad.dir.path());
  write_file(bad.dir / "warmstart.dat", "# TB\n12000\n1 1e4 1e4 1.5 9e3\n");
  bad.status = run_program(bad.dir.path(), shared_mcdata(), &bad.out, &bad.err);
  EXPECT_EQ(bad.status, 2);
  EXPECT_CONTAINS(bad.err, "\"warmstart.dat\", record 3, field 4");
  for (const char* name : kOutputFiles) EXPECT_FALSE(fs::exists(bad.dir / name)) << name;
}

// ------------------------------------------------------------ the hydrogen envelope

class HydrogenEnvelope : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(hydrogen_envelope_run(), nullptr) << generated_data().err;
    ASSERT_EQ(run().status, 0) << run().err << tail(run().out);
  }
  static const ToolRun& run() { return *hydrogen_envelope_run(); }
};

TEST_F(HydrogenEnvelope, BalmerLinesArePCygniProfilesAndCanBePlotted) {
  struct Row {
    double w, formal;
  };
  std::vector<Row> rows;
  mcspec::InFile f;
  f.open((run().dir / "spct.dat").string(), "spct.dat");
  double w = 0, formal = 0, rest_of_record[4];
  while (true) {
    const mcspec::InItem items[] = {w, formal, rest_of_record[0], rest_of_record[1], rest_of_record[2], rest_of_record[3]};
    if (!f.read_list_or_end(items)) break;
    rows.push_back({w, formal});
  }
  ASSERT_GT(rows.size(), 900u);
  const double c = 2.99792458e5, vph = 6500.0;  // [km/s]
  auto flux_at = [&](double x) {
    return std::lower_bound(rows.begin(), rows.end(), x, [](const Row& r, double v) { return r.w < v; })->formal;
  };
  for (int upper : {3, 4}) {  // H-alpha, H-beta
    const double rest = hy::air_wavelength(hy::vacuum_wavelength(1, 2, upper, hy::rydberg_hydrogen()));
    // Emission peak within 1500 km/s of the rest wavelength, above the continuum redwards.
    Row peak{0, 0};
    for (const Row& r : rows)
      if (std::abs(r.w / rest - 1) < 1500 / c && r.formal > peak.formal) peak = r;
    ASSERT_GT(peak.w, 0) << rest;
    EXPECT_GT(peak.formal, 1.05 * flux_at(rest * (1 + 20000 / c))) << rest;
    // Absorption trough bluewards at about the photosphere's velocity, well below the
    // continuum further to the blue.
    Row trough{0, 1e300};
    for (const Row& r : rows)
      if (r.w > rest * (1 - 15000 / c) && r.w < peak.w && r.formal < trough.formal) trough = r;
    const double v = c * (1.0 - trough.w / rest);
    EXPECT_TRUE(v > 0.6 * vph && v < 1.5 * vph) << rest << ": trough at " << trough.w;
    EXPECT_LT(trough.formal, 0.9 * flux_at(rest * (1 - 17000 / c))) << rest;
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
  std::unique_ptr<ToolRun> full;
  if (std::getenv("MCSPEC_SANITIZED") != nullptr) {
    full = std::make_unique<ToolRun>("mcspec-run");
    for (const char* name : {"dica.dat", "comp.ind", "hydro.dat"})
      fs::copy_file(fs::path(MCSPEC_SOURCE_DIR) / "examples/hydrogen-envelope" / name, full->dir.path() / name);
    full->status = run_program(full->dir.path(), generated_data().dir / "data", &full->out, &full->err);
  }
  const ToolRun& run = full ? *full : *hydrogen_envelope_run();
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string want = read_file(fs::path(MCSPEC_SOURCE_DIR) / "tests/reference/hydrogen-envelope.sha256");
  // The run's outputs beside its standard output, in a directory of their own.
  TempDir outputs("mcspec-digest");
  write_file(outputs.path() / "standard-output", run.out);
  for (const auto& e : fs::directory_iterator(run.dir.path()))
    if (const std::string name = e.path().filename().string(); name != "dica.dat" && name != "comp.ind" && name != "hydro.dat")
      fs::copy_file(e.path(), outputs.path() / name);
  std::string got, err;
  ASSERT_EQ(run_in(outputs.path(), "LC_ALL=C", "sha256sum $(ls)", &got, &err), 0) << err;
  EXPECT_EQ(got, want) << "an output of the hydrogen-envelope example changed; if that is intended, run "
                          "tools/update_reference.sh BUILD_DIR and commit tests/reference/hydrogen-envelope.sha256";
}
