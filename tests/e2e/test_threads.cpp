// Runs on several threads: the type Ia example (10000 packets) gives the same bytes in
// every output file and on standard output for MCSPEC_THREADS = 1, 2, 3 and 8 (2 cores
// here), with the single sequence of draws and with per-packet streams, for the
// black-body and the top-hat boundary; bad values of the variables stop the run
// before any file is made.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <utility>
#include <string>
#include <vector>

#include "support/example_runs.hpp"

namespace fs = std::filesystem;
using namespace mcspec::test;

namespace {

struct Outputs {
  int status = -1;
  std::string out, err;
  std::vector<std::string> files;
  std::string ionspec;  // "ionspec.dat", when written
};

// The example with 10000 packets (and the top-hat boundary when asked), run with env;
// each run once per test program.
Outputs run_once(const std::string& env, bool top_hat) {
  TempDir dir("mcspec-threads");
  copy_example(shared_example(), dir.path());
  std::string dica = read_file(dir.path() / "dica.dat");
  const std::size_t second = dica.find('\n') + 1;
  dica.replace(second, dica.find('\n', second) - second, "    1    3");
  if (top_hat) {
    const std::size_t options = dica.rfind("    1    1    1    0    0");
    dica.replace(options, 25, "    1    1    0    0    0");
  }
  write_file(dir.path() / "dica.dat", dica);
  Outputs o;
  o.status = run_in(dir.path(), env + " MCDATA='" + shared_mcdata().string() + "'", MCSPEC_BINARY, &o.out, &o.err);
  for (const char* name : kOutputFiles) o.files.push_back(read_file(dir.path() / name));
  if (fs::exists(dir.path() / "ionspec.dat")) o.ionspec = read_file(dir.path() / "ionspec.dat");
  return o;
}

const Outputs& run_with(const std::string& env, bool top_hat) {
  static std::map<std::pair<std::string, bool>, Outputs> runs;
  const auto key = std::make_pair(env, top_hat);
  auto it = runs.find(key);
  if (it == runs.end()) it = runs.emplace(key, run_once(env, top_hat)).first;
  return it->second;
}

void expect_same(const Outputs& a, const Outputs& b, const std::string& what) {
  ASSERT_EQ(a.status, 0) << a.err;
  ASSERT_EQ(b.status, 0) << what << ": " << b.err;
  EXPECT_TRUE(a.out == b.out) << what << ": standard output differs";
  for (std::size_t i = 0; i < a.files.size(); ++i) EXPECT_TRUE(a.files[i] == b.files[i]) << what << ": " << kOutputFiles[i];
}

}  // namespace

TEST(Threads, EveryThreadCountGivesTheSameBytes) {
  if (shared_example().empty()) GTEST_SKIP() << "the shared example (../shared/examples/sn-ia-max) is not present";
  const bool sanitized = std::getenv("MCSPEC_SANITIZED") != nullptr;
  const std::vector<int> counts = sanitized ? std::vector<int>{2, 3} : std::vector<int>{2, 3, 8};
  for (const bool top_hat : {false, true}) {
    for (const char* streams : {"", "MCSPEC_STREAMS=1 "}) {
      const std::string label = std::string(top_hat ? "top hat, " : "black body, ") + (*streams ? "streams" : "single sequence");
      const Outputs& one = run_with(std::string(streams) + "MCSPEC_THREADS=1", top_hat);
      for (const int n : counts) {
        if (top_hat && n != 3) continue;  // the top-hat run: one comparison each
        expect_same(one, run_with(std::string(streams) + "MCSPEC_THREADS=" + std::to_string(n), top_hat),
                    label + ", " + std::to_string(n) + " threads");
      }
      if (*streams) {
        // Another realisation of the same physics, not a copy of the single sequence.
        const Outputs& single = run_with("MCSPEC_THREADS=1", top_hat);
        EXPECT_NE(one.files[0], single.files[0]) << label;
      }
    }
  }
}

// A packet ramp changes only how many packets the early passes send: with per-packet
// streams the outputs stay the same for every thread count.
TEST(Threads, PacketRampGivesTheSameBytesOnEveryThreadCount) {
  if (shared_example().empty()) GTEST_SKIP() << "the shared example (../shared/examples/sn-ia-max) is not present";
  const std::string ramp = "MCSPEC_STREAMS=1 MCSPEC_PACKET_RAMP=0.25 MCSPEC_THREADS=";
  const Outputs& one = run_with(ramp + "1", false);
  expect_same(one, run_with(ramp + "3", false), "packet ramp, 3 threads");
  EXPECT_NE(one.files[0], run_with("MCSPEC_STREAMS=1 MCSPEC_THREADS=1", false).files[0]) << "the ramp had no effect";
}

TEST(Threads, BadSettingsStopBeforeAnyFileIsMade) {
  const struct {
    const char* env;
    const char* names;
  } cases[] = {{"MCSPEC_THREADS=0", "MCSPEC_THREADS"},     {"MCSPEC_THREADS=two", "MCSPEC_THREADS"},
               {"MCSPEC_THREADS=-1", "MCSPEC_THREADS"},    {"MCSPEC_THREADS=99999", "MCSPEC_THREADS"},
               {"MCSPEC_STREAMS=yes", "MCSPEC_STREAMS"},   {"MCSPEC_STREAMS=2", "MCSPEC_STREAMS"},
               {"MCSPEC_ION_SPECTRUM=on", "MCSPEC_ION_SPECTRUM"}, {"MCSPEC_PACKET_RAMP=0", "MCSPEC_PACKET_RAMP"}};
  for (const auto& c : cases) {
    TempDir dir("mcspec-threads-bad");
    std::string out, err;
    const int status = run_in(dir.path(), std::string(c.env) + " MCDATA=/nonexistent", MCSPEC_BINARY, &out, &err);
    EXPECT_EQ(status, 2) << c.env;
    EXPECT_NE(err.find(c.names), std::string::npos) << c.env << ": " << err;
    EXPECT_TRUE(fs::is_empty(dir.path())) << c.env << ": files were made";
  }
}

// MCSPEC_ION_SPECTRUM=1 adds "ionspec.dat" and changes no other byte: per bin the
// shares of the ions sum to 1, and the bins listed are those of sica.dat's last
// spectrum that received packets.
TEST(Threads, PerIonSpectrumChangesNothingElse) {
  if (shared_example().empty()) GTEST_SKIP() << "the shared example (../shared/examples/sn-ia-max) is not present";
  for (const bool top_hat : {false, true}) {
    for (const char* streams : {"", "MCSPEC_STREAMS=1 "}) {
      const std::string label = std::string(top_hat ? "top hat, " : "black body, ") + streams;
      const Outputs& plain = run_with(std::string(streams) + "MCSPEC_THREADS=1", top_hat);
      const Outputs& ions = run_with(std::string(streams) + "MCSPEC_THREADS=3 MCSPEC_ION_SPECTRUM=1", top_hat);
      expect_same(plain, ions, label + "with the per-ion spectrum");
      ASSERT_FALSE(ions.ionspec.empty()) << label;
      std::map<int, double> share;
      std::istringstream in(ions.ionspec);
      std::string line;
      while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream rec(line);
        int bin = 0;
        double lambda = 0, species = -1, sh = 0;
        ASSERT_TRUE(rec >> bin >> lambda >> species >> sh) << line;
        EXPECT_TRUE(species == 0 || (species >= 1 && species < 61)) << line;
        EXPECT_GT(sh, 0) << line;
        share[bin] += sh;
      }
      // Bins of the last sica.dat spectrum with packets (second column).
      const std::string& sica = plain.files[5];
      std::istringstream last(sica.substr(sica.rfind("Spectrum")));
      std::getline(last, line);
      std::map<int, double> filled;
      int bin = 0;
      while (std::getline(last, line)) {
        std::istringstream rec(line);
        double centre = 0;
        long n = 0;
        if (!(rec >> centre >> n)) continue;
        ++bin;
        if (n > 0) filled[bin] = 1;
      }
      ASSERT_EQ(share.size(), filled.size()) << label;
      for (const auto& [b, total] : share) {
        EXPECT_EQ(filled.count(b), 1u) << label << " bin " << b;
        EXPECT_NEAR(total, 1.0, 1e-4) << label << " bin " << b;
      }
    }
  }
}
