// Cost of one Monte Carlo run on a realistic plasma state: the sn-ia-max example with
// the shared atomic data, set up through the real stages to the first temperature
// pass (parameters, atoms and levels, ejecta, partition functions, ionisation, line
// list, sampling table, wavelength grid, Sobolev depths, branching ratios). Reports
// packets per second and nanoseconds per line passage (a packet reaching a Sobolev
// resonance, the step of the hot loop) for the whole run and for the line walk alone,
// and the cost of taus plus brats per pass.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "driver/files.hpp"
#include "driver/frqsmp.hpp"
#include "driver/initiate.hpp"
#include "driver/params.hpp"
#include "driver/rng.hpp"
#include "model/atoms.hpp"
#include "model/linelist.hpp"
#include "model/plasma.hpp"
#include "model/shells.hpp"
#include "montecarlo/montecarlo.hpp"
#include "montecarlo/transport.hpp"
#include "opacity/opacity.hpp"

namespace {

namespace fs = std::filesystem;
using namespace mcspec;

// The example's plasma state after the set-up of temperature pass 1.
struct Example {
  fs::path dir;
  Files f;
  Constants c;
  Params p;
  Atoms a;
  Shells s;
  Plasma pl;
  LineList ll;
  Opacity op;
  SamplingTable samp;
  WavelengthGrid grid;
  Estimators est;
  Scaling sc;
  // The benchmark runs write their reports to memory.
  OutFile out = OutFile::memory("out");
  OutFile stst = OutFile::memory("stst.dat");
  OutFile sbib = OutFile::memory("sbib.dat");
  OutFile sica = OutFile::memory("sica.dat");
  OutFile eica = OutFile::memory("eica.dat");
  McOutput mo{out, stst, sbib, sica, eica};
  McInputs in{p, c, s, a, pl, ll, op, samp, grid};
  ~Example() {
    closing(f);
    std::error_code ec;
    fs::current_path(fs::temp_directory_path(), ec);
    fs::remove_all(dir, ec);
  }
};

std::unique_ptr<Example> build_example(const fs::path& shared) {
  auto e = std::make_unique<Example>();
  e->dir = fs::temp_directory_path() / ("mcspec-bench-montec-" + std::to_string(::getpid()));
  fs::create_directories(e->dir);
  for (const char* name : {"dica.dat", "comp.ind"}) {
    fs::copy_file(shared / "examples" / "sn-ia-max" / name, e->dir / name);
  }
  fs::current_path(e->dir);
  Files& f = e->f;
  f.out = OutFile::memory("set-up");
  const std::string mcdata = (shared / "mcdata").string();
  opening(f, mcdata.c_str(), e->dir.c_str());
  params(f.dica, e->c, e->p, f.stst, f.sbib, f.out);
  input(f.nbba, f.comp, f.nbia, f.ihea, e->a, f.out, f.sbib, f.stst);
  atlvls(e->p, f.varn1, e->a, f.out, f.atmd);
  model(e->p, e->c, f.hydro, e->s, f.stst, f.out);
  e->pl.allocate(e->s.js);
  e->sc.tb = e->p.tb;
  partf(1, e->c, e->s, e->a, e->pl, f.nama, f.ptfn, f.out);
  ioneq(1, e->p, e->s, e->a, e->pl, f.yhea, f.out);
  lines(e->p, e->c, e->s, e->pl, e->a, e->ll, f.varn2, f.out, f.stst, f.sbib, f.lhea);
  e->op.allocate(e->ll.nl, e->s.js);
  e->est.allocate(e->ll.nl, e->s.js, e->p.kg);
  frqsmp(e->p.kb, e->samp);
  initiate(e->p, e->grid, f.spcp);
  taus(e->p, e->c, e->s, e->a, e->pl, e->ll, e->op, f.out);
  brats(e->s, e->a, e->ll, e->op, f.out);
  return e;
}

// One temperature-pass Monte Carlo run (mode 0, NPK packets) from the same seed and
// boundary temperature every time.
void BM_montec(benchmark::State& state, Example* e) {
  double packets = 0, passages = 0;
  for (auto _ : state) {
    e->sc.tb = e->p.tb;
    Rng rng(e->p.iseed);
    montec(0, 0, e->in, rng, e->est, e->sc, e->mo);
    packets += e->est.pw(1);
    passages += static_cast<double>(e->est.line_passages);
  }
  state.counters["lines"] = e->ll.nl;
  state.counters["shells"] = e->s.js;
  state.counters["packets/s"] = benchmark::Counter(packets, benchmark::Counter::kIsRate);
  state.counters["passages/packet"] = passages / packets;
  // Seconds of the whole run per line passage (an upper bound on the hot loop's share).
  state.counters["s/passage"] =
      benchmark::Counter(passages, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The hot loop alone: flights through the real TAU and EJ columns, each from a random
// line of a random shell with a random optical depth to go, as a packet's flight
// starts after an interaction, over d = range(0)/100 lower-boundary radii (0.05: about
// as many passages per flight as in a run). Nanoseconds per line passage, cache misses
// included.
void BM_line_walk(benchmark::State& state, Example* e) {
  const int nl = e->ll.nl, js = e->s.js;
  const double beta = e->p.vph * 1e5 / std::pow(10.0, e->c.log_c());
  const double d = static_cast<double>(state.range(0)) / 100;
  // The flights are drawn before the clock runs: shell, first line, depth to go.
  struct Flight {
    int j, kn;
    double rle, taur;
  };
  std::vector<Flight> flights(10000);
  Rng rng(12345);
  for (Flight& f : flights) {
    f.j = 1 + static_cast<int>(rng.uniform() * static_cast<float>(js));
    f.kn = 1 + static_cast<int>(rng.uniform() * static_cast<float>(nl));
    f.rle = e->pl.kapes(f.j) * std::pow(10.0, e->s.logrh(f.j) + e->p.logr);
    f.taur = -std::log(1.0 - static_cast<double>(rng.uniform()));
  }
  double passages = 0;
  for (auto _ : state) {
    for (const Flight& f : flights) {
      const double xpe = e->ll.frq(f.kn);
      const EventSearch ev = search_event(e->ll.frq.data(), e->op.tau.column(f.j), e->est.ej.column(f.j), f.kn, xpe,
                                          -(1 - beta) / (beta * xpe), f.rle, f.taur, d, 1.0);
      passages += ev.passed;
    }
  }
  state.counters["passages/flight"] =
      passages / (static_cast<double>(flights.size()) * static_cast<double>(state.iterations()));
  state.counters["s/passage"] =
      benchmark::Counter(passages, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The opacity stages of every pass: Sobolev depths and branching ratios of all lines.
void BM_taus_brats(benchmark::State& state, Example* e) {
  OutFile quiet = OutFile::memory("out");
  for (auto _ : state) {
    taus(e->p, e->c, e->s, e->a, e->pl, e->ll, e->op, quiet);
    brats(e->s, e->a, e->ll, e->op, quiet);
    benchmark::DoNotOptimize(e->op.br.data());
  }
  state.counters["lines"] = e->ll.nl;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const fs::path shared = MCSPEC_SHARED_DIR;
  std::error_code ec;
  if (!fs::is_directory(shared / "mcdata", ec) || !fs::is_directory(shared / "examples" / "sn-ia-max", ec)) {
    std::printf("bench_montec: the shared atomic data (%s/mcdata) or the sn-ia-max example is absent; nothing to measure\n",
                shared.string().c_str());
    return 0;
  }
  std::unique_ptr<Example> e;
  try {
    e = build_example(shared);
  } catch (const std::exception& ex) {
    std::printf("bench_montec: the example's plasma state could not be set up: %s\n", ex.what());
    return 0;
  }
  benchmark::RegisterBenchmark("montec/sn-ia-max", BM_montec, e.get())->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("line_walk/sn-ia-max", BM_line_walk, e.get())
      ->Arg(5)
      ->Arg(50)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("taus+brats/sn-ia-max", BM_taus_brats, e.get())->Unit(benchmark::kMillisecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
