// Threads and per-packet streams, measured in one run of the program on the sn-ia-max
// example (its plasma state after the set-up of temperature pass 1), configurations
// interleaved and repeated, medians and their ratios:
//   run_monte_carlo      one temperature-pass Monte Carlo run (mode 0, 20000 packets): packets/s
//               and ns per line passage, the single sequence of draws against
//               per-packet streams on 1 thread, and streams on 2 threads against 1;
//   sobolev_depths+branching_ratios  on 1 and 2 threads.
// The processor time of each configuration (all threads) shows the cost of the
// threading itself when the machine has no free core to give the second thread.
// With --memory LINES SHELLS it instead reports the peak resident memory of stream
// runs on a synthetic model (1 and 2 threads, each in a child process).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../tests/montecarlo/toy_model.hpp"
#include "bench_support.hpp"
#include "base/parallel.hpp"

namespace {

using namespace mcspec;
using mcspec::bench::Example;
using Clock = std::chrono::steady_clock;

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

struct Config {
  const char* name;
  int threads;
  bool streams;
  std::vector<double> seconds, cpu;  // wall-clock and processor time of each run
  double passages = 0, packets = 0;
};

// Processor time of the process so far (all threads) [s].
double cpu_seconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         1e-6 * static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec);
}

void time_monte_carlo(Example& e, Config& cfg) {
  e.in.par = {cfg.threads, cfg.streams, false};
  e.sc.tb = e.p.tb;
  Rng rng(e.p.iseed);
  e.est.runs = 0;
  const auto t0 = Clock::now();
  const double c0 = cpu_seconds();
  run_monte_carlo(McMode::kTemperaturePass, 0, e.in, rng, e.est, e.sc, e.mo);
  cfg.cpu.push_back(cpu_seconds() - c0);
  cfg.seconds.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
  cfg.passages = static_cast<double>(e.est.line_passages);
  cfg.packets = e.est.pw(1);
  e.clear_outputs();
}

double load_average() {
  double l[1] = {0};
  return getloadavg(l, 1) == 1 ? l[0] : -1;
}

int monte_carlo_ratios(int reps) {
  if (!mcspec::bench::example_present("bench_parallel")) return 0;
  auto e = std::make_unique<Example>("parallel");
  e->plasma_state(1);
  e->line_list();
  e->pass_tables();
  std::printf("load average before: %.2f (2 cores; other work on the machine slows every figure)\n", load_average());
  std::vector<Config> cfgs = {{"single sequence", 1, false, {}, {}},
                              {"streams, 1 thread", 1, true, {}, {}},
                              {"streams, 2 threads", 2, true, {}, {}}};
  for (int r = 0; r < reps; ++r)
    for (Config& c : cfgs) time_monte_carlo(*e, c);
  std::printf("run_monte_carlo, %d lines x %d shells, median of %d runs:\n", e->ll.nl, e->s.js, reps);
  for (const Config& c : cfgs) {
    const double t = median(c.seconds);
    std::printf("  %-22s %8.1f ms  %9.0f packets/s  %6.2f ns per line passage (%.0f passages/packet); "
                "processor time %.1f ms\n",
                c.name, t * 1e3, c.packets / t, t / c.passages * 1e9, c.passages / c.packets, median(c.cpu) * 1e3);
  }
  const double spec = median(cfgs[0].seconds), s1 = median(cfgs[1].seconds), s2 = median(cfgs[2].seconds);
  std::printf("  ratio streams 1 thread / single sequence (packets/s): %.2f (target >= 1.5)\n", spec / s1);
  std::printf("  ratio streams 2 threads / 1 thread (packets/s): %.2f (target >= 1.8)\n", s1 / s2);

  std::vector<double> tb1, tb2;
  OutFile quiet = OutFile::memory("out");
  for (int r = 0; r < reps; ++r) {
    for (int n : {1, 2}) {
      const auto t0 = Clock::now();
      sobolev_depths(e->p, e->c, e->s, e->a, e->pl, e->ll, e->op, quiet, n);
      branching_ratios(e->s, e->a, e->ll, e->op, quiet, n);
      (n == 1 ? tb1 : tb2).push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    }
  }
  std::printf("sobolev_depths+branching_ratios: 1 thread %.2f ms, 2 threads %.2f ms, ratio %.2f\n", median(tb1) * 1e3, median(tb2) * 1e3,
              median(tb1) / median(tb2));
  std::printf("load average after: %.2f\n", load_average());
  return 0;
}

// Peak resident memory [MB] of a child that builds a synthetic model of `lines` lines
// and `shells` shells and runs one stream Monte Carlo run on `threads` threads.
double child_peak_mb(int lines, int shells, int threads, bool streams, int packets) {
  const pid_t pid = fork();
  if (pid == 0) {
    try {
      std::vector<test::ToyLine> ls(static_cast<std::size_t>(lines));
      for (int i = 0; i < lines; ++i) {
        // 300 nm .. 1 micron, decreasing frequency; weak lines (tau 0.05) everywhere.
        const double lam = 3.0e-5 + 7.0e-5 * (i + 0.5) / lines;
        ls[static_cast<std::size_t>(i)] = {2.997925e10 / lam, 0.05};
      }
      test::ToyModel m(shells, 101, packets, 1.0, ls);
      m.est.allocate(m.ll.nl, m.s.js, m.grid.kg);
      m.in.par = {threads, streams, false};
      Rng rng(1);
      run_monte_carlo(McMode::kTemperaturePass, 0, m.in, rng, m.est, m.sc, m.mo);
    } catch (const std::exception& ex) {
      std::fprintf(stderr, "bench_parallel: %s\n", ex.what());
      _exit(1);
    }
    _exit(0);
  }
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

int memory_report(int lines, int shells) {
  const int packets = 20000;
  std::printf("peak resident memory, synthetic model %d lines x %d shells (one table: %.0f MB), %d packets:\n", lines,
              shells, lines * 8.0 * shells / 1e6, packets);
  std::printf("  single sequence, 1 thread: %.0f MB\n", child_peak_mb(lines, shells, 1, false, packets));
  for (int threads : {1, 2}) {
    std::printf("  streams, %d thread%s: %.0f MB\n", threads, threads > 1 ? "s" : "",
                child_peak_mb(lines, shells, threads, true, packets));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "--memory") return memory_report(std::atoi(argv[2]), std::atoi(argv[3]));
  const int reps = argc >= 2 ? std::max(1, std::atoi(argv[1])) : 5;
  try {
    return monte_carlo_ratios(reps);
  } catch (const std::exception& ex) {
    std::printf("bench_parallel: %s\n", ex.what());
    return 1;
  }
}
