// The run state of the sn-ia-max example for the benchmarks: the shared atomic data
// taken through the program's own stages in the order of the run's schedule, so that
// every benchmark measures a realistic plasma state (24390 lines x 20 shells). Files
// are opened in a scratch working directory; the reports of the stages go to memory.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "app/run_files.hpp"
#include "montecarlo/sampling_table.hpp"
#include "base/wavelength_grid.hpp"
#include "base/run_parameters.hpp"
#include "montecarlo/random.hpp"
#include "model/atoms.hpp"
#include "model/line_list.hpp"
#include "model/plasma.hpp"
#include "model/shells.hpp"
#include "montecarlo/montecarlo.hpp"
#include "opacity/opacity.hpp"
#include "spectrum/spectrum.hpp"

namespace mcspec::bench {

// The directory that holds "mcdata" and "examples/sn-ia-max".
inline std::filesystem::path shared_dir() { return MCSPEC_SHARED_DIR; }

// True when the shared atomic data and the example are present; otherwise says so on
// standard output (the benchmark then exits cleanly with nothing to measure).
inline bool example_present(const char* program) {
  std::error_code ec;
  if (std::filesystem::is_directory(shared_dir() / "mcdata", ec) &&
      std::filesystem::is_directory(shared_dir() / "examples" / "sn-ia-max", ec))
    return true;
  std::printf("%s: the shared atomic data (%s/mcdata) or the sn-ia-max example is absent; nothing to measure\n",
              program, shared_dir().string().c_str());
  return false;
}

// Everything a run owns, as src/app/main.cpp has it, plus in-memory report files for
// the Monte Carlo and spectrum stages.
struct Example {
  std::filesystem::path dir;
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
  Rng rng;
  OutFile out = OutFile::memory("out"), stst = OutFile::memory("stst.dat"), sbib = OutFile::memory("sbib.dat"),
          sica = OutFile::memory("sica.dat"), eica = OutFile::memory("eica.dat"), spcp = OutFile::memory("spcp.dat"),
          spct = OutFile::memory("spct.dat");
  McOutput mo{out, stst, sbib, sica, eica};
  McInputs in{p, c, s, a, pl, ll, op, samp, grid};
  SpectrumOutput so{out, spcp, spct, sbib, stst};

  // Set-up of the run: opens the files in a new scratch directory (name: the benchmark
  // and the process id), reads the parameters, composition, element tables and levels,
  // and builds the ejecta model; the generator starts from ISEED.
  explicit Example(const std::string& name) {
    dir = std::filesystem::temp_directory_path() / ("mcspec-bench-" + name + "-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    for (const char* input : {"dica.dat", "comp.ind"})
      std::filesystem::copy_file(shared_dir() / "examples" / "sn-ia-max" / input, dir / input);
    std::filesystem::current_path(dir);
    f.out = OutFile::memory("set-up");
    const std::string mcdata = (shared_dir() / "mcdata").string();
    open_run_files(f, mcdata.c_str(), dir.c_str());
    read_run_parameters(f.dica, c, p, f.stst, f.sbib, f.out);
    read_elements_and_composition(f.nbba, f.comp, f.nbia, f.ihea, a, f.out, f.sbib, f.stst);
    read_levels(p, f.varn1, a, f.out, f.atmd);
    build_shells(p, c, f.hydro, s, f.stst, f.out);
    pl.allocate(s.js);
    sc.tb = p.tb;
    rng = Rng(p.iseed);
  }
  ~Example() {
    close_run_files(f);
    std::error_code ec;
    std::filesystem::current_path(std::filesystem::temp_directory_path(), ec);
    std::filesystem::remove_all(dir, ec);
  }
  Example(const Example&) = delete;
  Example& operator=(const Example&) = delete;

  // Partition functions and ionisation balance of a temperature pass.
  void plasma_state(int iter) {
    partition_functions(iter, c, s, a, pl, f.nama, f.ptfn, f.out);
    ionisation_balance(iter, p, s, a, pl, f.yhea, f.out);
  }
  // The line list, read and ordered on the first pass, and the line-by-shell tables.
  void line_list() {
    read_line_list(p, c, s, pl, a, ll, f.varn2, f.out, f.stst, f.sbib, f.lhea);
    op.allocate(ll.nl, s.js);
    est.allocate(ll.nl, s.js, p.kg);
  }
  // Sampling table, wavelength grid, Sobolev depths and branching ratios of a pass.
  void pass_tables() {
    build_sampling_table(p.kb, samp);
    build_wavelength_grid(p, grid, f.spcp);
    sobolev_depths(p, c, s, a, pl, ll, op, f.out);
    branching_ratios(s, a, ll, op, f.out);
  }
  // One whole temperature pass: plasma state, tables, the Monte Carlo run (mode 0) and
  // the temperature update; the pass number is not shortened.
  void temperature_pass(int iter) {
    plasma_state(iter);
    if (iter == 1) line_list();
    pass_tables();
    run_monte_carlo(0, 0, in, rng, est, sc, mo);
    int it = iter;
    update_temperatures(it, p, c, s, est, sc, f.stst);
  }
  // Empties the in-memory reports.
  void clear_outputs() {
    for (OutFile* o : {&out, &stst, &sbib, &sica, &eica, &spcp, &spct}) *o = OutFile::memory(o->name());
  }
};

}  // namespace mcspec::bench
