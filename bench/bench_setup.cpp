// Cost of the per-pass set-up stages: the black-body frequency sampling table (about
// 4000 exponentials) and the output wavelength grid with its table, both rebuilt on
// every temperature pass. Needs no atomic data.
#include <benchmark/benchmark.h>

#include "montecarlo/sampling_table.hpp"
#include "base/wavelength_grid.hpp"

namespace {

void BM_frqsmp(benchmark::State& state) {
  mcspec::SamplingTable t;
  const int kb = static_cast<int>(state.range(0));
  for (auto _ : state) {
    mcspec::build_sampling_table(kb, t);
    benchmark::DoNotOptimize(t.fsamp.data());
  }
}
BENCHMARK(BM_frqsmp)->Arg(3)->Arg(502);

void BM_initiate(benchmark::State& state) {
  mcspec::Params p;
  p.wvm1 = 0.2;
  p.wvm2 = 1.0;
  p.kg = static_cast<int>(state.range(0));
  mcspec::WavelengthGrid g;
  for (auto _ : state) {
    mcspec::OutFile spcp = mcspec::OutFile::memory("spcp.dat");
    mcspec::build_wavelength_grid(p, g, spcp);
    benchmark::DoNotOptimize(g.wbin.data());
  }
  state.SetItemsProcessed(state.iterations() * (p.kg + 1));
}
BENCHMARK(BM_initiate)->Arg(1000)->Arg(5000);

}  // namespace

BENCHMARK_MAIN();
