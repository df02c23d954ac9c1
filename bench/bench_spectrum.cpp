// Cost of the line-opacity stages and of the formal integral on a realistic state: the
// sn-ia-max example with the shared atomic data, run through the real stages (set-up,
// three temperature passes, a full Monte Carlo run for the line estimators). Reports
// taus and brats per pass, the source functions, and the formal integral over KG x NP
// rays with its rays per second and nanoseconds per line met on a ray.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>

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
#include "opacity/opacity.hpp"
#include "spectrum/spectrum.hpp"

namespace {

namespace fs = std::filesystem;
using namespace mcspec;

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
  SpectrumTables t;
  Array2<double> ej_raw;  // the Monte Carlo sums, restored before every spectrum call
  OutFile out = OutFile::memory("out");
  OutFile stst = OutFile::memory("stst.dat");
  OutFile sbib = OutFile::memory("sbib.dat");
  OutFile sica = OutFile::memory("sica.dat");
  OutFile eica = OutFile::memory("eica.dat");
  OutFile spcp = OutFile::memory("spcp.dat");
  OutFile spct = OutFile::memory("spct.dat");
  McOutput mo{out, stst, sbib, sica, eica};
  McInputs in{p, c, s, a, pl, ll, op, samp, grid};
  SpectrumOutput so{out, spcp, spct, sbib, stst};
  ~Example() {
    closing(f);
    std::error_code ec;
    fs::current_path(fs::temp_directory_path(), ec);
    fs::remove_all(dir, ec);
  }
  void clear_outputs() {
    for (OutFile* o : {&out, &stst, &sbib, &sica, &eica, &spcp, &spct}) *o = OutFile::memory(o->name());
  }
};

std::unique_ptr<Example> build_example(const fs::path& shared) {
  auto e = std::make_unique<Example>();
  e->dir = fs::temp_directory_path() / ("mcspec-bench-spectrum-" + std::to_string(::getpid()));
  fs::create_directories(e->dir);
  for (const char* name : {"dica.dat", "comp.ind"}) fs::copy_file(shared / "examples" / "sn-ia-max" / name, e->dir / name);
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
  Rng rng(e->p.iseed);
  for (int iter = 1; iter <= 3; ++iter) {
    int it = iter;
    partf(it, e->c, e->s, e->a, e->pl, f.nama, f.ptfn, f.out);
    ioneq(it, e->p, e->s, e->a, e->pl, f.yhea, f.out);
    if (iter == 1) {
      lines(e->p, e->c, e->s, e->pl, e->a, e->ll, f.varn2, f.out, f.stst, f.sbib, f.lhea);
      e->op.allocate(e->ll.nl, e->s.js);
      e->est.allocate(e->ll.nl, e->s.js, e->p.kg);
    }
    frqsmp(e->p.kb, e->samp);
    initiate(e->p, e->grid, f.spcp);
    taus(e->p, e->c, e->s, e->a, e->pl, e->ll, e->op, f.out);
    brats(e->s, e->a, e->ll, e->op, f.out);
    montec(0, 0, e->in, rng, e->est, e->sc, e->mo);
    tempit(it, e->p, e->c, e->s, e->est, e->sc, f.stst);
    e->clear_outputs();
  }
  taus(e->p, e->c, e->s, e->a, e->pl, e->ll, e->op, f.out);
  brats(e->s, e->a, e->ll, e->op, f.out);
  montec(4, 1, e->in, rng, e->est, e->sc, e->mo);  // the last radiation-field pass: EJ for the spectrum
  e->ej_raw = e->est.ej;
  e->clear_outputs();
  return e;
}

void BM_taus(benchmark::State& state, Example* e) {
  OutFile quiet = OutFile::memory("out");
  for (auto _ : state) {
    taus(e->p, e->c, e->s, e->a, e->pl, e->ll, e->op, quiet);
    benchmark::DoNotOptimize(e->op.etau.data());
  }
  state.counters["lines"] = e->ll.nl;
  state.counters["shells"] = e->s.js;
  state.counters["time/(line*shell)"] = benchmark::Counter(
      static_cast<double>(e->ll.nl) * e->s.js, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_brats(benchmark::State& state, Example* e) {
  OutFile quiet = OutFile::memory("out");
  for (auto _ : state) {
    brats(e->s, e->a, e->ll, e->op, quiet);
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
    line_source_functions(e->p, e->c, e->s, e->ll, e->op, e->sc.ep0, e->est.ej, e->t.sline);
    benchmark::DoNotOptimize(e->t.sline.data());
  }
}

// The rays of the spectrum: KG bins x the impact parameters inside the ejecta.
void BM_formal_integral(benchmark::State& state, Example* e) {
  e->est.ej = e->ej_raw;
  line_source_functions(e->p, e->c, e->s, e->ll, e->op, e->sc.ep0, e->est.ej, e->t.sline);
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
}

// The whole spectrum stage, source functions, integral and the spectr output.
void BM_spectrum(benchmark::State& state, Example* e) {
  for (auto _ : state) {
    state.PauseTiming();
    e->est.ej = e->ej_raw;
    e->clear_outputs();
    InFile f;
    f.open(e->f.datapath + "/filters.dat", "filter curves");
    state.ResumeTiming();
    spectrum(4, e->p, e->c, e->s, e->pl, e->ll, e->op, e->est, e->sc, e->grid, e->t, f, e->so);
  }
  state.counters["log L"] = e->t.zltot;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const fs::path shared = MCSPEC_SHARED_DIR;
  std::error_code ec;
  if (!fs::is_directory(shared / "mcdata", ec) || !fs::is_directory(shared / "examples" / "sn-ia-max", ec)) {
    std::printf("bench_spectrum: the shared atomic data (%s/mcdata) or the sn-ia-max example is absent; "
                "nothing to measure\n", shared.string().c_str());
    return 0;
  }
  std::unique_ptr<Example> e;
  try {
    e = build_example(shared);
  } catch (const std::exception& ex) {
    std::printf("bench_spectrum: the example's state could not be set up: %s\n", ex.what());
    return 0;
  }
  benchmark::RegisterBenchmark("taus/sn-ia-max", BM_taus, e.get())->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("brats/sn-ia-max", BM_brats, e.get())->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("source_functions/sn-ia-max", BM_source_functions, e.get())
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("formal_integral/sn-ia-max", BM_formal_integral, e.get())
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("spectrum/sn-ia-max", BM_spectrum, e.get())->Unit(benchmark::kMillisecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
