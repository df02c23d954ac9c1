// Runs on several threads: the type Ia example (10000 packets) gives the same bytes in
// every output file and on standard output for MCSPEC_THREADS = 1, 2, 3 and 8 (2 cores
// here), with the single sequence of draws and with per-packet streams, for the
// black-body and the top-hat boundary. (Bad values of the variables: the corpus.)
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/run_dir.hpp"

using namespace mcspec::test;

namespace {

// The example with 10000 packets (and the top-hat boundary when asked), run with env;
// each run once per test program.
const RunDir& run_with(const std::string& env, bool top_hat) {
  static std::map<std::pair<std::string, bool>, std::unique_ptr<RunDir>> runs;
  std::unique_ptr<RunDir>& r = runs[{env, top_hat}];
  if (!r) {
    r = std::make_unique<RunDir>("mcspec-threads");
    r->example(shared_example()).packets(1);
    if (top_hat) r->record("dica.dat", 22, "    1    1    0    0    0");
    r->run(env + " " + mcdata(shared_mcdata()));
  }
  return *r;
}

void expect_same(const RunDir& a, const RunDir& b, const std::string& what) {
  ASSERT_EQ(a.status, 0) << a.err;
  ASSERT_EQ(b.status, 0) << what << ": " << b.err;
  EXPECT_EQ(a.differences(b), "") << what;
}

}  // namespace

TEST(Threads, EveryThreadCountGivesTheSameBytes) {
  MCSPEC_REQUIRE_SHARED_EXAMPLE();
  const std::vector<int> counts = sanitized() ? std::vector<int>{2, 3} : std::vector<int>{2, 3, 8};
  for (const bool top_hat : {false, true}) {
    for (const char* streams : {"", "MCSPEC_STREAMS=1 "}) {
      const std::string label = std::string(top_hat ? "top hat, " : "black body, ") + (*streams ? "streams" : "single sequence");
      const RunDir& one = run_with(std::string(streams) + "MCSPEC_THREADS=1", top_hat);
      for (const int n : counts) {
        if (top_hat && n != 3) continue;  // the top-hat run: one comparison each
        expect_same(one, run_with(std::string(streams) + "MCSPEC_THREADS=" + std::to_string(n), top_hat),
                    label + ", " + std::to_string(n) + " threads");
      }
      if (*streams) {
        // Another realisation of the same physics, not a copy of the single sequence.
        EXPECT_NE(one.read("stst.dat"), run_with("MCSPEC_THREADS=1", top_hat).read("stst.dat")) << label;
      }
    }
  }
}

// A packet ramp changes only how many packets the early passes send: with per-packet
// streams the outputs stay the same for every thread count.
TEST(Threads, PacketRampGivesTheSameBytesOnEveryThreadCount) {
  MCSPEC_REQUIRE_SHARED_EXAMPLE();
  const std::string ramp = "MCSPEC_STREAMS=1 MCSPEC_PACKET_RAMP=0.25 MCSPEC_THREADS=";
  const RunDir& one = run_with(ramp + "1", false);
  expect_same(one, run_with(ramp + "3", false), "packet ramp, 3 threads");
  EXPECT_NE(one.read("stst.dat"), run_with("MCSPEC_STREAMS=1 MCSPEC_THREADS=1", false).read("stst.dat")) << "no effect";
}

// MCSPEC_ION_SPECTRUM=1 adds "ionspec.dat" and changes no other byte (top hat, streams,
// 3 threads; every other configuration is covered by EveryThreadCountGivesTheSameBytes).
// Its shares against the run's own spectrum: tests/python/test_plots.py.
TEST(Threads, PerIonSpectrumChangesNothingElse) {
  MCSPEC_REQUIRE_SHARED_EXAMPLE();
  const RunDir& ions = run_with("MCSPEC_STREAMS=1 MCSPEC_THREADS=3 MCSPEC_ION_SPECTRUM=1", true);
  expect_same(run_with("MCSPEC_STREAMS=1 MCSPEC_THREADS=1", true), ions, "with the per-ion spectrum");
  EXPECT_TRUE(ions.has("ionspec.dat"));
}
