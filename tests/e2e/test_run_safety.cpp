// What a run leaves behind when it does not finish, end to end: the command line never
// touches the working directory; SIGINT and SIGTERM stop a real run within a second and
// move its outputs into incomplete-*/; so does an error after the set-up, after which
// the corrected run starts; the boundary temperature at both ends of its range; and the
// W7 profile at 300 times its density, whose deeply inverted lines used to stop the run
// (its dilution factors beyond 1 are said).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <csignal>
#include <filesystem>
#include <sstream>
#include <tuple>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/example_runs.hpp"

namespace fs = std::filesystem;
using namespace mcspec::test;

namespace {

// The incomplete-* directory of dir, or an empty path.
fs::path incomplete_dir(const fs::path& dir) {
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string().rfind("incomplete-", 0) == 0) return e.path();
  return {};
}

// The shared type Ia example in dir with record r of dica.dat replaced.
void example_with(const fs::path& dir, int r, const std::string& text) {
  copy_example(shared_example(), dir);
  std::vector<std::string> recs = records(read_file(dir / "dica.dat"));
  recs[static_cast<std::size_t>(r - 1)] = text;
  write_file(dir / "dica.dat", join_records(recs));
}

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
  TempDir dir;
  const struct {
    const char* args;
    int status;
    bool usage_on_stdout;
  } cases[] = {{"--help", 0, true}, {"-h", 0, true}, {"--version", 0, false}, {"--hepl", 2, false}, {"x y", 2, false}};
  for (const auto& c : cases) {
    std::string out, err;
    EXPECT_EQ(run_in(dir.path(), "MCDATA=/nonexistent", std::string(MCSPEC_BINARY) + " " + c.args, &out, &err),
              c.status)
        << c.args;
    EXPECT_EQ(out.find("usage: mcspec") != std::string::npos, c.usage_on_stdout) << c.args;
    EXPECT_EQ(err.find("usage: mcspec") != std::string::npos, c.status == 2) << c.args;
    EXPECT_TRUE(listing(dir.path()).empty()) << c.args;
    for (const char* part : {"dica.dat", "comp.ind", "hydro.dat", "MCDATA", "spct.dat", "docs/", "incomplete-", "130",
                             "143", "MCSPEC_THREADS", "MCSPEC_STREAMS", "MCSPEC_QUIET"}) {
      if (c.usage_on_stdout) {
        EXPECT_CONTAINS(out, part);
      }
    }
    if (c.status == 2) {
      EXPECT_CONTAINS(err, "unexpected argument");
    }
    EXPECT_EQ(out.rfind("mcspec ", 0) == 0, std::string(c.args) == "--version") << out;
  }
}

// A run of the program in dir as a child process, its streams in files of their own.
class Child {
 public:
  Child(const fs::path& dir, const fs::path& mcdata) {
    pid_ = fork();
    if (pid_ == 0) {
      if (chdir(dir.c_str()) != 0) _exit(120);
      setenv("MCDATA", mcdata.c_str(), 1);
      const int o = open((io_.path() / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int e = open((io_.path() / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(o, 1);
      dup2(e, 2);
      execl(MCSPEC_BINARY, MCSPEC_BINARY, static_cast<char*>(nullptr));
      _exit(121);
    }
  }
  ~Child() {
    if (pid_ > 0 && !done_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  std::string out() const { return fs::exists(io_ / "stdout") ? read_file(io_ / "stdout") : ""; }
  std::string err() const { return fs::exists(io_ / "stderr") ? read_file(io_ / "stderr") : ""; }
  // Waits until standard output holds text twice (false after the timeout).
  bool wait_for_second(const std::string& text, double seconds) const {
    for (auto t0 = std::chrono::steady_clock::now(); std::chrono::steady_clock::now() - t0 < std::chrono::duration<double>(seconds);) {
      const std::string o = out();
      const std::size_t first = o.find(text);
      if (first != std::string::npos && o.find(text, first + 1) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  void signal(int s) const { kill(pid_, s); }
  // The exit status (128 + signal when killed), or -1 after the timeout.
  int wait(double seconds) {
    for (auto t0 = std::chrono::steady_clock::now(); std::chrono::steady_clock::now() - t0 < std::chrono::duration<double>(seconds);) {
      int st = 0;
      if (waitpid(pid_, &st, WNOHANG) == pid_) {
        done_ = true;
        return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
  }

 private:
  TempDir io_{"mcspec-child"};
  pid_t pid_ = -1;
  bool done_ = false;
};

TEST(InterruptedRun, StopsWithinASecondAndSetsItsFilesAside) {
  if (shared_example().empty()) GTEST_SKIP() << "the shared example (../shared/examples/sn-ia-max) is not present";
  for (const auto& [sig, status, name] : {std::tuple{SIGINT, 130, "SIGINT"}, std::tuple{SIGTERM, 143, "SIGTERM"}}) {
    TempDir dir;
    example_with(dir.path(), 2, "   20    3");  // 200000 packets: a run of about 20 s
    write_file(dir / "notes.txt", "mine\n");
    Child run(dir.path(), shared_mcdata());
    ASSERT_TRUE(run.wait_for_second("TEMP ITER", 120.0)) << run.out() << run.err();  // computing
    const auto t0 = std::chrono::steady_clock::now();
    run.signal(sig);
    EXPECT_EQ(run.wait(10.0), status);
    // Within a second; the sanitized debug build runs a stage twenty times slower.
    const double limit = std::getenv("MCSPEC_SANITIZED") != nullptr ? 10.0 : 1.0;
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), limit);
    EXPECT_CONTAINS(run.err(), std::string("interrupted by ") + name);
    const fs::path aside = incomplete_dir(dir.path());
    ASSERT_FALSE(aside.empty()) << run.err();
    EXPECT_CONTAINS(run.err(), "moved into " + aside.filename().string() + "/");
    EXPECT_EQ(listing(aside).size(), std::size(kOutputFiles));
    EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"comp.ind", "dica.dat", aside.filename().string(), "notes.txt"}));
    EXPECT_EQ(read_file(dir / "notes.txt"), "mine\n");
    EXPECT_EQ(run.out().find(" Finish Code"), std::string::npos);
  }
}

TEST(FailedRun, AnErrorAfterTheSetUpSetsTheFilesAsideAndTheCorrectedRunStarts) {
  if (shared_example().empty()) GTEST_SKIP() << "the shared example (../shared/examples/sn-ia-max) is not present";
  // A data directory like the shared one whose line list, read in the first pass, ends
  // in a record that cannot be read.
  TempDir data("mcspec-data"), dir;
  fs::create_directory(data / "lines");
  for (const char* f : {"nbba.ind", "nbia.ind", "ihea.ind", "nama.ind", "filters.dat", "rhw7.dat", "lines/varn1.new"})
    fs::create_symlink(shared_mcdata() / f, data / f);
  const std::vector<std::string> lines = records(read_file(shared_mcdata() / "lines/varn2"));
  std::string cut;
  for (std::size_t i = 0; i < lines.size() / 2; ++i) cut += lines[i] + "\n";
  write_file(data / "lines/varn2", cut + "garbage record\n");
  copy_example(shared_example(), dir.path());
  // With the optional per-ion spectrum on, so that ionspec.dat goes aside with the rest.
  const auto with_ions = [](const fs::path& mcdata) { return "MCSPEC_ION_SPECTRUM=1 MCDATA='" + mcdata.string() + "'"; };
  std::string out, err;
  EXPECT_EQ(run_in(dir.path(), with_ions(data.path()), MCSPEC_BINARY, &out, &err), 2);
  EXPECT_CONTAINS(out, "TEMP ITER");  // the set-up was done
  const fs::path aside = incomplete_dir(dir.path());
  ASSERT_FALSE(aside.empty()) << err;
  EXPECT_CONTAINS(err, "varn2");
  EXPECT_CONTAINS(err, "moved into " + aside.filename().string() + "/");
  EXPECT_EQ(listing(aside).size(), std::size(kOutputFiles) + 1);
  EXPECT_TRUE(fs::exists(aside / "ionspec.dat"));
  EXPECT_EQ(run_in(dir.path(), with_ions(shared_mcdata()), MCSPEC_BINARY, &out, &err), 0) << err;
}

TEST(BoundaryTemperature, BothEndsOfTheRangeRunAndBeyondThemNothingIsWritten) {
  if (shared_example().empty()) GTEST_SKIP() << "the shared example (../shared/examples/sn-ia-max) is not present";
  // log Teff = LOGLS / 4 + 1.5747 for the example's R: the lowest temperature for its
  // composition (Na, 5.139 eV) is 107.9 K, the highest (WVM2 = 1 micron) 1.439e18 K.
  // Below the lowest the refusal comes after the atomic data are read, and must still
  // leave nothing behind (beyond the highest: the malformed-input corpus).
  const struct {
    const char* record;
    int status;
  } cases[] = {{"   1.84  10000.0  12000.0", 0}, {"   66.30  10000.0  12000.0", 0}, {"   1.80  10000.0  12000.0", 2}};
  for (const auto& c : cases) {
    TempDir dir;
    example_with(dir.path(), 6, c.record);
    std::string out, err;
    EXPECT_EQ(run_program(dir.path(), shared_mcdata(), &out, &err), c.status) << c.record << "\n" << err;
    if (c.status == 0) {
      EXPECT_CONTAINS(out, " Finish Code");
      EXPECT_EQ(err.find("warning"), std::string::npos) << err;
      EXPECT_EQ(out.find("NaN"), std::string::npos) << c.record;
    } else {
      EXPECT_CONTAINS(err, "\"dica.dat\", record 6, field 1: the boundary temperature");
      EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"comp.ind", "dica.dat"}));
    }
  }
}

TEST(DenseEjecta, W7At300TimesItsDensityRunsToTheEnd) {
  if (shared_example().empty()) GTEST_SKIP() << "the shared example (../shared/examples/sn-ia-max) is not present";
  // Regression: "the branching ratios of level 14 of Ti III in shell 1 sum to NaN", the
  // escape probability of lines inverted below tau = -709 overflowing.
  if (std::getenv("MCSPEC_SANITIZED") != nullptr) GTEST_SKIP() << "three minutes under the sanitizers";
  TempDir dir;
  copy_example(shared_example(), dir.path());
  write_file(dir / "hydro.dat", denser(shared_mcdata() / "rhw7.dat", 300.0));
  std::string out, err;
  EXPECT_EQ(run_program(dir.path(), shared_mcdata(), &out, &err), 0) << err;
  EXPECT_CONTAINS(out, " Finish Code");
  EXPECT_EQ(err.find("branching ratios"), std::string::npos) << err;
  // Its Monte Carlo radiation field is not physical (W far above 1), and is said so.
  EXPECT_CONTAINS(err, "after the last temperature pass the Monte Carlo estimate of the dilution factor W lies outside 0 < W <= 1 in shell 1 W = ");
  // The packets' spectrum is a number everywhere; the formal integral's inverted-line
  // amplification, where it leaves the double range, is said on standard error.
  EXPECT_EQ(read_file(dir / "sica.dat").find("NaN"), std::string::npos);
  if (read_file(dir / "spcp.dat").find("NaN") != std::string::npos) {
    EXPECT_CONTAINS(err, "bins of the formal-integral spectrum are not finite");
  }
}

TEST(DenseHydrogen, EnvelopeAt30TimesItsDensityHasNoNegativeIntensity) {
  // Electron-scattering segments thicker than one optical depth: the first-order step
  // I + (J - I) dtau overshot J and turned 84 bins negative (log10 of a negative flux:
  // NaN); held at J it does not.
  const ToolRun& data = generated_data();
  if (data.status != 0 || !fs::exists(data.dir / "data/filters.dat"))
    GTEST_SKIP() << "the generated data directory has no filter curves";
  TempDir dir;
  const fs::path example = fs::path(MCSPEC_SOURCE_DIR) / "examples" / "hydrogen-envelope";
  copy_example(example, dir.path());
  write_file(dir / "hydro.dat", denser(example / "hydro.dat", 30.0));
  std::string out, err;
  ASSERT_EQ(run_program(dir.path(), data.dir / "data", &out, &err), 0) << err;
  EXPECT_EQ(read_file(dir / "spcp.dat").find("NaN"), std::string::npos);
  EXPECT_EQ(out.find("NaN"), std::string::npos);
}

}  // namespace
