// Runs end to end. On several threads: the type Ia example (10000 packets) gives the
// same bytes in every output file and on standard output for MCSPEC_THREADS = 1, 2, 3
// and 8 (2 cores here), with the single sequence of draws and with per-packet streams,
// for the black-body and the top-hat boundary (bad values of the variables: the corpus).
// What a run leaves behind when it does not finish: the command line never touches the
// working directory; SIGINT and SIGTERM stop a real run within a second and move its
// outputs into incomplete-*/; so does an error after the set-up, after which the
// corrected run starts. Runs at both ends of the boundary temperature's range, and the
// W7 profile at 300 times its density, whose deeply inverted lines used to stop the run
// (its dilution factors beyond 1 are said).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/run_dir.hpp"

using namespace mcspec::test;

namespace {

// A density profile (LMAX, DT1SEC; then n, v, r, rho) with every density times factor.
std::string denser(const fs::path& profile, double factor) {
  const std::vector<std::string> recs = records(read_file(profile));
  std::ostringstream out;
  out.precision(7);
  out << recs[0] << '\n';
  for (std::size_t i = 1; i < recs.size(); ++i) {
    std::istringstream in(recs[i]);
    std::string n, v;
    double r, rho;
    in >> n >> v >> r >> rho;
    out << n << ' ' << v << ' ' << r << ' ' << rho * factor << '\n';
  }
  return out.str();
}

TEST(CommandLineRun, AnswersWithoutTouchingTheWorkingDirectory) {
  const struct {
    const char* args;
    int status;
    const char* says;  // on standard output when the status is 0, else on standard error
  } cases[] = {{"--help", 0, "usage: mcspec"}, {"-h", 0, "usage: mcspec"}, {"--version", 0, "mcspec "},
               {"--hepl", 2, "unexpected argument"}, {"x y", 2, "unexpected argument"}};
  for (const auto& c : cases) {
    RunDir dir;
    EXPECT_EQ(dir.run("MCDATA=/nonexistent", std::string(MCSPEC_BINARY) + " " + c.args), c.status) << c.args;
    EXPECT_EQ(dir.out.rfind("mcspec ", 0) == 0, std::string(c.args) == "--version") << dir.out;
    EXPECT_CONTAINS(c.status == 0 ? dir.out : dir.err, c.says);
    EXPECT_EQ(dir.err.find("usage: mcspec") != std::string::npos, c.status == 2) << c.args;
    EXPECT_TRUE(dir.names().empty()) << c.args;
  }
  // The usage names the inputs, the data, the outputs, the stops and the variables.
  RunDir help;
  help.run("", std::string(MCSPEC_BINARY) + " --help");
  for (const char* part : {"dica.dat", "comp.ind", "hydro.dat", "MCDATA", "spct.dat", "docs/", "incomplete-", "130", "143",
                           "MCSPEC_THREADS", "MCSPEC_STREAMS", "MCSPEC_QUIET"})
    EXPECT_CONTAINS(help.out, part);
}

// The program started in the background in the run directory (its streams beside it)
// and sent signal $1 once standard output shows a second temperature pass, a watchdog
// killing it 30 s later; prints the exit status and the milliseconds from the signal on.
const char* const kInterrupt =
    "'" MCSPEC_BINARY "' >../out 2>../err & p=$!\n"
    "for i in $(seq 12000); do [ \"$(grep -c 'TEMP ITER' ../out)\" -ge 2 ] && break; kill -0 $p || break; sleep 0.01; done\n"
    "t0=$(date +%s%N); kill -$1 $p; (sleep 30; kill -KILL $p) 2>/dev/null &\n"
    "wait $p; echo $? $(( ($(date +%s%N) - t0) / 1000000 ))\n";

TEST(InterruptedRun, StopsWithinASecondAndSetsItsFilesAside) {
  MCSPEC_REQUIRE_SHARED_EXAMPLE();
  for (const auto& [sig, status] : {std::pair{"INT", 130}, std::pair{"TERM", 143}}) {
    RunDir dir;
    dir.example(shared_example()).packets(20).files({{"notes.txt", "mine\n"}});  // a run of about 20 s
    write_file(dir.beside("interrupt.sh"), kInterrupt);
    dir.run(mcdata(shared_mcdata()), std::string("sh ../interrupt.sh ") + sig);
    const std::string out = read_file(dir.beside("out")), err = read_file(dir.beside("err"));
    int got = -1;
    long ms = -1;
    ASSERT_EQ(std::sscanf(dir.out.c_str(), "%d %ld", &got, &ms), 2) << dir.out << dir.err;
    ASSERT_NE(out.find("TEMP ITER"), std::string::npos) << out << err;  // computing
    EXPECT_EQ(got, status) << err;
    // Within a second; the sanitized debug build runs a stage twenty times slower.
    EXPECT_LT(ms, sanitized() ? 10000 : 1000);
    EXPECT_CONTAINS(err, std::string("interrupted by SIG") + sig);
    const fs::path aside = dir.incomplete();
    ASSERT_FALSE(aside.empty()) << err;
    EXPECT_CONTAINS(err, "moved into " + aside.filename().string() + "/");
    EXPECT_EQ(listing(aside).size(), std::size(kOutputFiles));
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"comp.ind", "dica.dat", aside.filename().string(), "notes.txt"}));
    EXPECT_EQ(dir.read("notes.txt"), "mine\n");
    EXPECT_EQ(out.find(" Finish Code"), std::string::npos);
  }
}

TEST(FailedRun, AnErrorAfterTheSetUpSetsTheFilesAsideAndTheCorrectedRunStarts) {
  MCSPEC_REQUIRE_SHARED_EXAMPLE();
  // A data directory like the shared one whose line list, read in the first pass, ends
  // in a record that cannot be read.
  RunDir dir;
  const fs::path data = dir.beside("mcdata");
  fs::create_directories(data / "lines");
  for (const char* f : {"nbba.ind", "nbia.ind", "ihea.ind", "nama.ind", "filters.dat", "rhw7.dat", "lines/varn1.new"})
    fs::create_symlink(shared_mcdata() / f, data / f);
  const std::vector<std::string> lines = records(read_file(shared_mcdata() / "lines/varn2"));
  std::string cut;
  for (std::size_t i = 0; i < lines.size() / 2; ++i) cut += lines[i] + "\n";
  write_file(data / "lines/varn2", cut + "garbage record\n");
  // With the optional per-ion spectrum on, so that ionspec.dat goes aside with the rest.
  EXPECT_EQ(dir.example(shared_example()).run("MCSPEC_ION_SPECTRUM=1 " + mcdata(data)), 2);
  EXPECT_CONTAINS(dir.out, "TEMP ITER");  // the set-up was done
  const fs::path aside = dir.incomplete();
  ASSERT_FALSE(aside.empty()) << dir.err;
  EXPECT_CONTAINS(dir.err, "varn2");
  EXPECT_CONTAINS(dir.err, "moved into " + aside.filename().string() + "/");
  EXPECT_EQ(listing(aside).size(), std::size(kOutputFiles) + 1);
  EXPECT_TRUE(fs::exists(aside / "ionspec.dat"));
  EXPECT_EQ(dir.run("MCSPEC_ION_SPECTRUM=1 " + mcdata(shared_mcdata())), 0) << dir.err;
}

TEST(BoundaryTemperature, BothEndsOfTheRangeRun) {
  MCSPEC_REQUIRE_SHARED_EXAMPLE();
  // log Teff = LOGLS / 4 + 1.5747 for the example's R: the lowest temperature for its
  // composition (Na, 5.139 eV) is 107.9 K, the highest (WVM2 = 1 micron) 1.439e18 K.
  // (Beyond them: the malformed-input corpus.)
  for (const char* record : {"   1.84  10000.0  12000.0", "   66.30  10000.0  12000.0"}) {
    RunDir dir;
    EXPECT_EQ(dir.example(shared_example()).record("dica.dat", 6, record).run(mcdata(shared_mcdata())), 0)
        << record << "\n" << dir.err;
    EXPECT_CONTAINS(dir.out, " Finish Code");
    EXPECT_EQ(dir.err.find("warning"), std::string::npos) << dir.err;
    EXPECT_EQ(dir.out.find("NaN"), std::string::npos) << record;
  }
}

TEST(DenseEjecta, W7At300TimesItsDensityRunsToTheEnd) {
  MCSPEC_REQUIRE_SHARED_EXAMPLE();
  // Regression: "the branching ratios of level 14 of Ti III in shell 1 sum to NaN", the
  // escape probability of lines inverted below tau = -709 overflowing.
  if (sanitized()) GTEST_SKIP() << "three minutes under the sanitizers";
  RunDir dir;
  dir.example(shared_example()).files({{"hydro.dat", denser(shared_mcdata() / "rhw7.dat", 300.0)}});
  EXPECT_EQ(dir.run(mcdata(shared_mcdata())), 0) << dir.err;
  EXPECT_CONTAINS(dir.out, " Finish Code");
  EXPECT_EQ(dir.err.find("branching ratios"), std::string::npos) << dir.err;
  // Its Monte Carlo radiation field is not physical (W far above 1), and is said so.
  EXPECT_CONTAINS(dir.err, "after the last temperature pass the Monte Carlo estimate of the dilution factor W lies "
                           "outside 0 < W <= 1 in shell 1 W = ");
  // The packets' spectrum is a number everywhere; the formal integral's inverted-line
  // amplification, where it leaves the double range, is said on standard error.
  EXPECT_EQ(dir.read("sica.dat").find("NaN"), std::string::npos);
  if (dir.read("spcp.dat").find("NaN") != std::string::npos) {
    EXPECT_CONTAINS(dir.err, "bins of the formal-integral spectrum are not finite");
  }
}

TEST(DenseHydrogen, EnvelopeAt30TimesItsDensityHasNoNegativeIntensity) {
  // Electron-scattering segments thicker than one optical depth: the first-order step
  // I + (J - I) dtau overshot J and turned 84 bins negative (log10 of a negative flux:
  // NaN); held at J it does not.
  MCSPEC_REQUIRE_GENERATED_DATA();
  const fs::path example = kSourceDir / "examples/hydrogen-envelope";
  RunDir dir;
  dir.example(example).files({{"hydro.dat", denser(example / "hydro.dat", 30.0)}});
  if (sanitized()) dir.packets(1);
  ASSERT_EQ(dir.run(mcdata(generated_mcdata())), 0) << dir.err;
  EXPECT_EQ(dir.read("spcp.dat").find("NaN"), std::string::npos);
  EXPECT_EQ(dir.out.find("NaN"), std::string::npos);
}

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

}  // namespace
