// The run state of the sn-ia-max example for the benchmarks: the shared atomic data
// taken through the program's own stages (app/run.hpp) in the order of the run's
// schedule, so that every benchmark measures a realistic plasma state (24390 lines x 20
// shells). Files are opened in a scratch working directory; the reports go to memory.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "app/run.hpp"
#include "app/run_files.hpp"

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

// The program's run (app/run.hpp) in a scratch directory, its report files in memory.
struct Example : Run {
  std::filesystem::path dir;
  SpectrumTables& t = spec;
  McInputs in = mc_inputs();
  McOutput mo = mc_outputs();
  SpectrumOutput so = spectrum_outputs();

  // Set-up of the run: opens the files in a new scratch directory (name: the benchmark
  // and the process id) and runs the program's set-up; the reports go to memory.
  explicit Example(const std::string& name, const ParallelConfig& settings = read_parallel_config()) : Run(settings) {
    dir = std::filesystem::temp_directory_path() / ("mcspec-bench-" + name + "-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    for (const char* input : {"dica.dat", "comp.ind"})
      std::filesystem::copy_file(shared_dir() / "examples" / "sn-ia-max" / input, dir / input);
    std::filesystem::current_path(dir);
    f.out = OutFile::memory("out");
    const std::string mcdata = (shared_dir() / "mcdata").string();
    open_run_files(f, mcdata.c_str(), dir.c_str());
    clear_outputs();
    set_up();
  }
  ~Example() {
    close_run_files(f);
    std::error_code ec;
    std::filesystem::current_path(std::filesystem::temp_directory_path(), ec);
    std::filesystem::remove_all(dir, ec);
  }
  Example(const Example&) = delete;
  Example& operator=(const Example&) = delete;

  // Sampling table, wavelength grid, Sobolev depths and branching ratios of a pass.
  void pass_tables() {
    sampling_and_grid();
    line_opacities();
  }
  // Empties the in-memory reports.
  void clear_outputs() {
    for (OutFile* o : {&f.out, &f.stst, &f.sbib, &f.sica, &f.eica, &f.spcp, &f.spct, &f.atmd, &f.ptfn, &f.yhea, &f.lhea})
      *o = OutFile::memory(o->name());
  }
};

// The example state made by build(), or nullptr when the shared data are absent or the
// state cannot be set up (said on standard output: the benchmark then measures nothing).
template <class Build>
auto build_or_say(const char* program, Build build) -> decltype(build()) {
  if (!example_present(program)) return nullptr;
  try {
    return build();
  } catch (const std::exception& ex) {
    std::printf("%s: the example's state could not be set up: %s\n", program, ex.what());
    return nullptr;
  }
}

}  // namespace mcspec::bench
