// Runs on several threads: the type Ia example (10000 packets) gives the same bytes in
// every output file and on standard output for MCSPEC_THREADS = 1, 2, 3 and 8 (2 cores
// here), with the single sequence of draws and with per-packet streams, for the
// black-body and the top-hat boundary; bad values of the variables stop the run
// before any file is made.
#include <gtest/gtest.h>

#include <filesystem>
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
};

// The example with 10000 packets (and the top-hat boundary when asked), run with env.
Outputs run_with(const std::string& env, bool top_hat) {
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
  return o;
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
      const Outputs one = run_with(std::string(streams) + "MCSPEC_THREADS=1", top_hat);
      for (const int n : counts) {
        if (top_hat && n != 3) continue;  // the top-hat run: one comparison each
        expect_same(one, run_with(std::string(streams) + "MCSPEC_THREADS=" + std::to_string(n), top_hat),
                    label + ", " + std::to_string(n) + " threads");
      }
      if (*streams) {
        // Another realisation of the same physics, not a copy of the single sequence.
        const Outputs single = run_with("MCSPEC_THREADS=1", top_hat);
        EXPECT_NE(one.files[0], single.files[0]) << label;
      }
    }
  }
}

TEST(Threads, BadSettingsStopBeforeAnyFileIsMade) {
  const struct {
    const char* env;
    const char* names;
  } cases[] = {{"MCSPEC_THREADS=0", "MCSPEC_THREADS"},     {"MCSPEC_THREADS=two", "MCSPEC_THREADS"},
               {"MCSPEC_THREADS=-1", "MCSPEC_THREADS"},    {"MCSPEC_THREADS=99999", "MCSPEC_THREADS"},
               {"MCSPEC_STREAMS=yes", "MCSPEC_STREAMS"},   {"MCSPEC_STREAMS=2", "MCSPEC_STREAMS"},
               {"MCSPEC_ION_SPECTRUM=on", "MCSPEC_ION_SPECTRUM"}};
  for (const auto& c : cases) {
    TempDir dir("mcspec-threads-bad");
    std::string out, err;
    const int status = run_in(dir.path(), std::string(c.env) + " MCDATA=/nonexistent", MCSPEC_BINARY, &out, &err);
    EXPECT_EQ(status, 2) << c.env;
    EXPECT_NE(err.find(c.names), std::string::npos) << c.env << ": " << err;
    EXPECT_TRUE(fs::is_empty(dir.path())) << c.env << ": files were made";
  }
}
