// Cost of the line-opacity stages and of the formal integral on a realistic state: the
// sn-ia-max example with the shared atomic data, run through the real stages (set-up,
// three temperature passes, a full Monte Carlo run for the line estimators). Reports
// sobolev_depths and branching_ratios per pass, the source functions, and the formal integral over KG x NP
// rays with its rays per second, nanoseconds per line met on a ray and its cost against
// one Monte Carlo run on the same state.
#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <cstdio>
#include <exception>
#include <memory>

#include "bench_support.hpp"

namespace {

using namespace mcspec;
struct Example : bench::Example {
  using bench::Example::Example;
  // The Monte Carlo sums of the last radiation-field pass, restored before every
  // spectrum call (the spectrum turns them into mean intensities in place).
  Array2<double> ej_raw;
};

// Three temperature passes, then the final plasma state's depths and ratios and the
// last radiation-field Monte Carlo run (mode 4), whose line estimators feed the spectrum.
std::unique_ptr<Example> build_example() {
  auto e = std::make_unique<Example>("spectrum");
  for (int iter = 1; iter <= 3; ++iter) {
    e->temperature_pass(iter);
    e->clear_outputs();
  }
  sobolev_depths(e->p, e->c, e->s, e->a, e->pl, e->ll, e->op, e->f.out, e->par.threads);
  branching_ratios(e->s, e->a, e->ll, e->op, e->f.out, e->par.threads);
  run_monte_carlo(McMode::kLastFinalPass, 1, e->in, e->rng, e->est, e->sc, e->mo);
  e->ej_raw = e->est.ej;
  e->clear_outputs();
  return e;
}

void BM_sobolev_depths(benchmark::State& state, Example* e) {
  OutFile quiet = OutFile::memory("out");
  for (auto _ : state) {
    sobolev_depths(e->p, e->c, e->s, e->a, e->pl, e->ll, e->op, quiet, e->par.threads);
    benchmark::DoNotOptimize(e->op.etau.data());
  }
  state.counters["lines"] = e->ll.nl;
  state.counters["shells"] = e->s.js;
  state.counters["time/(line*shell)"] = benchmark::Counter(
      static_cast<double>(e->ll.nl) * e->s.js, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_branching_ratios(benchmark::State& state, Example* e) {
  OutFile quiet = OutFile::memory("out");
  for (auto _ : state) {
    branching_ratios(e->s, e->a, e->ll, e->op, quiet, e->par.threads);
    benchmark::DoNotOptimize(e->op.br.data());
  }
  state.counters["lines"] = e->ll.nl;
  state.counters["time/(line*shell)"] = benchmark::Counter(
      static_cast<double>(e->ll.nl) * e->s.js, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_source_functions(benchmark::State& state, Example* e) {
  for (auto _ : state) {
    state.PauseTiming();
    e->est.ej = e->ej_raw;
    state.ResumeTiming();
    line_source_functions(e->p, e->c, e->s, e->ll, e->op, e->sc.ep0, e->est.ej, e->t.sline, e->par.threads);
    benchmark::DoNotOptimize(e->t.sline.data());
  }
}

// Process CPU time [s]: the machine may be shared, so the comparison with the Monte
// Carlo run is made in CPU time on both sides.
double cpu_seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// CPU time of one temperature-pass Monte Carlo run (mode 0) on the example's final
// state, the yardstick of the formal integral; the estimators, the scaling and the
// generator are left as they were.
double monte_carlo_seconds(Example* e) {
  const Estimators est = e->est;
  const Scaling sc = e->sc;
  Rng rng(e->p.iseed);
  const double t0 = cpu_seconds();
  run_monte_carlo(McMode::kTemperaturePass, 0, e->in, rng, e->est, e->sc, e->mo);
  const double t = cpu_seconds() - t0;
  e->est = est;
  e->sc = sc;
  e->clear_outputs();
  return t;
}

// The rays of the spectrum: KG bins x the impact parameters inside the ejecta. Reports
// the rays, the lines met per ray, rays per second, the time per line step, and the
// ratio of one integral to one Monte Carlo run (both in CPU time).
void BM_formal_integral(benchmark::State& state, Example* e, double monte_carlo_s) {
  e->est.ej = e->ej_raw;
  line_source_functions(e->p, e->c, e->s, e->ll, e->op, e->sc.ep0, e->est.ej, e->t.sline, e->par.threads);
  OutFile quiet = OutFile::memory("out");
  const FormalIntegral fi(e->p, e->c, e->s, e->pl, e->ll, e->op, e->est.ej, e->t.sline, e->sc, quiet);
  const double logc = e->c.log_c();
  const double beta = e->p.vph * 1e5 / std::pow(10.0, logc);
  // Lines met per pass over all rays, counted outside the timing.
  double rays = 0, met = 0;
  for (int b = 1; b <= e->grid.kg; ++b) {
    const double nu = std::pow(10.0, logc - (0.5 * (e->grid.wlb(b) + e->grid.wlb(b + 1)) - 4.0));
    for (int m = 1; m <= fi.impact_parameter_count(); ++m) {
      const double pp = FormalIntegral::impact_parameter(m);
      if (pp > fi.xout()) continue;
      const double zmax = std::sqrt(fi.xout() * fi.xout() - pp * pp);
      const double z0 = pp <= 1.0 ? std::sqrt(1.0 - pp * pp) : -zmax;
      rays += 1;
      met += first_line_below(e->ll, (1.0 - zmax * beta) * nu) - first_line_below(e->ll, (1.0 - z0 * beta) * nu);
    }
  }
  const double t0 = cpu_seconds();
  for (auto _ : state) {
    double total = 0;
    for (int b = 1; b <= e->grid.kg; ++b) {
      const double nu = std::pow(10.0, logc - (0.5 * (e->grid.wlb(b) + e->grid.wlb(b + 1)) - 4.0));
      for (int m = 1; m <= fi.impact_parameter_count(); ++m) {
        const double pp = FormalIntegral::impact_parameter(m);
        if (pp > fi.xout()) continue;
        total += fi.intens(pp, nu) * 0.5 * pp;
      }
    }
    benchmark::DoNotOptimize(total);
  }
  state.counters["rays"] = rays;
  state.counters["lines/ray"] = met / rays;
  state.counters["rays/s"] = benchmark::Counter(rays, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["time/line"] =
      benchmark::Counter(met, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  const double integral_s = (cpu_seconds() - t0) / static_cast<double>(state.iterations());
  state.counters["run_monte_carlo ms"] = monte_carlo_s * 1e3;
  state.counters["integral/monte_carlo"] = integral_s / monte_carlo_s;
}

// The whole spectrum stage, source functions, integral and the observed_spectrum_and_photometry output.
void BM_spectrum(benchmark::State& state, Example* e) {
  for (auto _ : state) {
    state.PauseTiming();
    e->est.ej = e->ej_raw;
    e->clear_outputs();
    InFile f;
    f.open(e->f.datapath + "/filters.dat", "filter curves");
    state.ResumeTiming();
    emergent_spectrum(4, e->p, e->c, e->s, e->pl, e->ll, e->op, e->est, e->sc, e->grid, e->t, f, e->so, e->par.threads);
  }
  state.counters["log L"] = e->t.zltot;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const std::unique_ptr<Example> e = bench::build_or_say("bench_spectrum", build_example);
  if (!e) return 0;
  benchmark::RegisterBenchmark("sobolev_depths/sn-ia-max", BM_sobolev_depths, e.get())->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("branching_ratios/sn-ia-max", BM_branching_ratios, e.get())->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("source_functions/sn-ia-max", BM_source_functions, e.get())
      ->Unit(benchmark::kMillisecond);
  const double monte_carlo_s = monte_carlo_seconds(e.get());
  benchmark::RegisterBenchmark("formal_integral/sn-ia-max", BM_formal_integral, e.get(), monte_carlo_s)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("spectrum/sn-ia-max", BM_spectrum, e.get())->Unit(benchmark::kMillisecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
