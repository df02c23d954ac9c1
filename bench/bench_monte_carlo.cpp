// Cost of one Monte Carlo run on a realistic plasma state: the sn-ia-max example with
// the shared atomic data, set up through the real stages to the first temperature
// pass. Reports, in one run of the program:
//   run_monte_carlo       packets per second, line passages (a packet reaching a Sobolev
//                resonance, the step of the hot loop) per run and per packet, and
//                nanoseconds per line passage for the whole run (20000 packets, mode 0);
//   line_walk    the walk alone on the real TAU and EJ columns, nanoseconds per passage;
//   sobolev_depths+branching_ratios   the opacity stages of every pass;
// and, before the table, the memory of the line-by-shell tables against
// lines x shells x 8 bytes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <vector>

#include "bench_support.hpp"
#include "montecarlo/line_walk.hpp"
#include "montecarlo/transport.hpp"

namespace {

using namespace mcspec;
using mcspec::bench::Example;

// The example's plasma state after the set-up of temperature pass 1.
std::unique_ptr<Example> build_example() {
  auto e = std::make_unique<Example>("monte_carlo");
  e->plasma_state(1);
  e->line_list();
  e->pass_tables();
  return e;
}

// The line-by-shell tables this run holds, in bytes, against lines x shells x 8.
void report_table_memory(const Example& e) {
  const double budget = static_cast<double>(e.ll.nl) * e.s.js * 8;
  std::printf("line-by-shell tables (%d lines x %d shells; lines x shells x 8 = %.2f MB each):\n", e.ll.nl, e.s.js,
              budget / 1e6);
  const struct {
    const char* name;
    std::size_t bytes;
  } tables[] = {{"TAU", e.op.tau.bytes()}, {"ETAU", e.op.etau.bytes()}, {"BR", e.op.br.bytes()}, {"EJ", e.est.ej.bytes()}};
  for (const auto& t : tables) {
    std::printf("  %-4s %8.2f MB  %.3f of the budget\n", t.name, static_cast<double>(t.bytes) / 1e6,
                static_cast<double>(t.bytes) / budget);
  }
}

// One temperature-pass Monte Carlo run (mode 0, NPK packets) from the same seed and
// boundary temperature every time.
void BM_run_monte_carlo(benchmark::State& state, Example* e) {
  double packets = 0, passages = 0;
  for (auto _ : state) {
    e->sc.tb = e->p.tb;
    Rng rng(e->p.iseed);
    run_monte_carlo(McMode::kTemperaturePass, 0, e->in, rng, e->est, e->sc, e->mo);
    packets += e->est.pw(1);
    passages += static_cast<double>(e->est.line_passages);
    state.PauseTiming();
    e->clear_outputs();
    state.ResumeTiming();
  }
  state.counters["packets/s"] = benchmark::Counter(packets, benchmark::Counter::kIsRate);
  state.counters["passages/run"] = passages / static_cast<double>(state.iterations());
  state.counters["passages/packet"] = passages / packets;
  // Time of the whole run per line passage (printed with its unit, e.g. "9.8ns").
  state.counters["s/passage"] = benchmark::Counter(passages, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The hot loop alone: flights through the real TAU and EJ columns, each from a random
// line of a random shell with a random optical depth to go, as a packet's flight
// starts after an interaction, over d = range(0)/1000 lower-boundary radii (0.015 gives
// about the 6 to 7 passages of a flight of the run; 0.05 and 0.5 longer flights).
// Nanoseconds per line passage, cache misses at the start of every flight included.
void BM_line_walk(benchmark::State& state, Example* e) {
  const int nl = e->ll.nl, js = e->s.js;
  const double beta = e->p.vph * 1e5 / std::pow(10.0, e->c.log_c());
  const double d = static_cast<double>(state.range(0)) / 1000;
  // The flights are drawn before the clock runs: shell, first line, depth to go.
  struct Flight {
    int j, kn;
    double rle, rle_inv_lo, taur;
  };
  std::vector<Flight> flights(10000);
  Rng rng(12345);
  for (Flight& f : flights) {
    f.j = 1 + static_cast<int>(rng.uniform() * static_cast<float>(js));
    f.kn = 1 + static_cast<int>(rng.uniform() * static_cast<float>(nl));
    f.rle = e->pl.kapes(f.j) * std::pow(10.0, e->s.logrh(f.j) + e->p.logr);
    f.rle_inv_lo = electron_depth_lower_factor(f.rle);
    f.taur = -std::log(1.0 - static_cast<double>(rng.uniform()));
  }
  const double* frq = e->ll.frq.data();
  double passages = 0;
  for (auto _ : state) {
    for (const Flight& f : flights) {
      const double xpe = frq[f.kn - 1];
      const double dnu = -(1 - beta) / (beta * xpe);
      const WalkEnd w = walk_lines(frq, e->op.tau.column(f.j), e->est.ej.column(f.j), f.kn, xpe, dnu, f.rle,
                                   f.rle_inv_lo, f.taur, d, 1.0);
      passages += w.passed;
    }
  }
  state.counters["passages/flight"] =
      passages / (static_cast<double>(flights.size()) * static_cast<double>(state.iterations()));
  state.counters["s/passage"] = benchmark::Counter(passages, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The opacity stages of every pass: Sobolev depths and branching ratios of all lines.
void BM_line_opacities(benchmark::State& state, Example* e) {
  OutFile quiet = OutFile::memory("out");
  for (auto _ : state) {
    sobolev_depths(e->p, e->c, e->s, e->a, e->pl, e->ll, e->op, quiet, e->par.threads);
    branching_ratios(e->s, e->a, e->ll, e->op, quiet, e->par.threads);
    benchmark::DoNotOptimize(e->op.br.data());
  }
  state.counters["lines"] = e->ll.nl;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const std::unique_ptr<Example> e = mcspec::bench::build_or_say("bench_monte_carlo", build_example);
  if (!e) return 0;
  report_table_memory(*e);
  benchmark::RegisterBenchmark("run_monte_carlo/sn-ia-max", BM_run_monte_carlo, e.get())->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("line_walk/sn-ia-max", BM_line_walk, e.get())
      ->Arg(15)
      ->Arg(50)
      ->Arg(500)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("line_opacities/sn-ia-max", BM_line_opacities, e.get())->Unit(benchmark::kMillisecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
