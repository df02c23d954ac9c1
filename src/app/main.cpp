// mcspec: the photospheric-phase spectrum of a supernova by Monte Carlo radiative
// transfer in homologously expanding ejecta. The main program is the run's schedule:
// set-up, at most 30 temperature passes, the final plasma state and Monte Carlo, the
// emergent spectrum.
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "base/errors.hpp"
#include "base/fpenv.hpp"
#include "base/parallel.hpp"
#include "base/interrupt.hpp"
#include "app/command_line.hpp"
#include "app/run_files.hpp"
#include "montecarlo/sampling_table.hpp"
#include "base/wavelength_grid.hpp"
#include "base/run_parameters.hpp"
#include "app/progress.hpp"
#include "montecarlo/random.hpp"
#include "model/atoms.hpp"
#include "model/boundary_temperature.hpp"
#include "model/coverage.hpp"
#include "model/line_list.hpp"
#include "model/plasma.hpp"
#include "model/shells.hpp"
#include "montecarlo/montecarlo.hpp"
#include "opacity/opacity.hpp"
#include "spectrum/spectrum.hpp"

namespace mcspec {
namespace {

constexpr int kLastTemperaturePass = 30;

void warn(const std::vector<std::string>& warnings) {
  std::fflush(stdout);
  for (const std::string& w : warnings) std::fprintf(stderr, "mcspec: warning: %s\n", w.c_str());
}

// Bins of the formal-integral spectrum that are not numbers (a ray amplified beyond the
// double range by strongly inverted lines) are said, not passed off as a result.
void warn_non_finite_spectrum(const SpectrumTables& t, int kg) {
  int bad = 0;
  for (int b = 1; b <= kg; ++b)
    if (!std::isfinite(t.zld(b))) ++bad;
  if (bad == 0) return;
  warn({std::to_string(bad) + " of the " + std::to_string(kg) +
        " bins of the formal-integral spectrum are not finite (\"spcp.dat\", \"spct.dat\", \"Log L\"); "
        "strongly inverted lines amplify the rays beyond the range of the computation. The Monte Carlo "
        "spectrum (\"sica.dat\") is not affected"});
}

// Everything a run owns, filled stage by stage.
struct Run {
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
  SpectrumTables spec;
  int irf = 0;             // radiation-field pass counter
  bool computing = false;  // set-up done: the temperature iteration has begun
};

void run_schedule(Run& r) {
  Files& f = r.f;
  f.out = OutFile::standard_output();
  f.out.list(" included");

  // Set-up
  open_run_files(f);
  read_run_parameters(f.dica, r.c, r.p, f.stst, f.sbib, f.out);
  report_options(r.p, f.out);
  read_elements_and_composition(f.nbba, f.comp, f.nbia, f.ihea, r.a, f.out, f.sbib, f.stst);
  check_boundary_temperature(r.p, r.a, f.dica.source_name());
  read_levels(r.p, f.varn1, r.a, f.out, f.atmd);
  warn(composition_warnings(r.a, r.p, f.comp.source_name(), f.varn1.source_name()));
  build_shells(r.p, r.c, f.hydro, r.s, f.stst, f.out);
  r.pl.allocate(r.s.js);
  r.sc.tb = r.p.tb;

  Rng rng(r.p.iseed);
  const McInputs in{r.p, r.c, r.s, r.a, r.pl, r.ll, r.op, r.samp, r.grid};
  McOutput mo{f.out, f.stst, f.sbib, f.sica, f.eica};

  if (parallel_config().ion_spectrum) r.est.ions.open(f.ionspec, "ionspec.dat");

  // Temperature iteration
  stop_if_interrupted();
  r.computing = true;
  Progress progress;
  int iter = 1;
  while (iter <= kLastTemperaturePass) {
    stop_if_interrupted();
    progress.start_pass(r.s.tr.data(), r.s.js);
    f.out.list("  TEMP ITER  ", iter);
    partition_functions(iter, r.c, r.s, r.a, r.pl, f.nama, f.ptfn, f.out);
    ionisation_balance(iter, r.p, r.s, r.a, r.pl, f.yhea, f.out);
    if (iter == 1) {
      read_line_list(r.p, r.c, r.s, r.pl, r.a, r.ll, f.varn2, f.out, f.stst, f.sbib, f.lhea);
      // The line list is fixed from here on: size the line-by-shell tables once.
      r.op.allocate(r.ll.nl, r.s.js);
      r.est.allocate(r.ll.nl, r.s.js, r.p.kg);
      stop_if_interrupted();
    }
    build_sampling_table(r.p.kb, r.samp);
    build_wavelength_grid(r.p, r.grid, f.spcp);
    sobolev_depths(r.p, r.c, r.s, r.a, r.pl, r.ll, r.op, f.out);
    branching_ratios(r.s, r.a, r.ll, r.op, f.out);
    stop_if_interrupted();
    report_excitation_rates(r.a, r.s, f.out);
    run_monte_carlo(0, r.irf, in, rng, r.est, r.sc, mo);
    const int pass = iter;
    update_temperatures(iter, r.p, r.c, r.s, r.est, r.sc, f.stst);
    ++iter;
    progress.end_pass(pass, iter, r.p.iopt[3] == 1 ? r.p.itt : 1, r.s.tr.data(), r.s.js);
  }

  // Final plasma state (iter = 31: the diagnostic files are written)
  stop_if_interrupted();
  partition_functions(iter, r.c, r.s, r.a, r.pl, f.nama, f.ptfn, f.out);
  ionisation_balance(iter, r.p, r.s, r.a, r.pl, f.yhea, f.out);
  sobolev_depths(r.p, r.c, r.s, r.a, r.pl, r.ll, r.op, f.out);
  branching_ratios(r.s, r.a, r.ll, r.op, f.out);

  // Final Monte Carlo
  if (r.p.iopt[3] == 1) {
    r.irf = 1;
    const int itt = r.p.itt;
    while (r.irf <= itt) {
      stop_if_interrupted();
      f.out.list("  Rad. field ITER  ", r.irf);
      report_excitation_rates(r.a, r.s, f.out);
      run_monte_carlo(r.irf < itt ? 2 : 4, r.irf, in, rng, r.est, r.sc, mo);
      progress.final_pass(r.irf, itt);
      ++r.irf;
    }
  } else if (r.p.iopt[3] == 0) {
    run_single_pass(2, r.irf, in, rng, r.est, r.sc, mo);
    progress.final_pass(1, 1);
  }

  if (r.est.ions.enabled) r.est.ions.write(r.grid);

  // Emergent spectrum
  stop_if_interrupted();
  SpectrumOutput so{f.out, f.spcp, f.spct, f.sbib, f.stst};
  emergent_spectrum(r.irf, r.p, r.c, r.s, r.pl, r.ll, r.op, r.est, r.sc, r.grid, r.spec, f.filters, so);
  close_run_files(f);
  warn_non_finite_spectrum(r.spec, r.p.kg);
  f.out.list(" Finish Code");
  progress.finish();
}

}  // namespace
}  // namespace mcspec

namespace {

// After a failure or an interrupt: a run stopped during set-up leaves no output files
// behind (they would block the corrected run); a later one moves them, with the run log
// up to the stop, into a new subdirectory, where they block nothing and are kept for
// diagnosis.
int stop(mcspec::Run& run, const char* kind, const char* what, int status) {
  std::fflush(stdout);
  std::fprintf(stderr, "mcspec: %s: %s\n", kind, what);
  if (!run.computing) {
    mcspec::discard_outputs(run.f);
    return status;
  }
  std::string problem;
  const std::string dir = mcspec::set_aside_outputs(run.f, &problem);
  if (dir.empty())
    std::fprintf(stderr, "mcspec: the output files of this run stay in place (%s); remove them before the next run\n",
                 problem.c_str());
  else
    std::fprintf(stderr, "mcspec: the output files of this run were moved into %s/%s%s\n", dir.c_str(),
                 problem.empty() ? "" : "; ", problem.c_str());
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (const int status = mcspec::command_line(argc, argv); status >= 0) return status;
  mcspec::set_flush_to_zero();
  mcspec::catch_interrupts();
  auto run = std::make_unique<mcspec::Run>();
  try {
    mcspec::configure_parallel();  // MCSPEC_THREADS, MCSPEC_STREAMS: checked before any file is made
    mcspec::run_schedule(*run);
    return 0;
  } catch (const mcspec::Interrupted& e) {
    return stop(*run, "stopped", e.what(), e.exit_status());
  } catch (const mcspec::InputError& e) {
    return stop(*run, "input error", e.what(), 2);
  } catch (const mcspec::RunError& e) {
    return stop(*run, "run stopped", e.what(), 3);
  } catch (const std::exception& e) {
    return stop(*run, "internal error", e.what(), 4);
  }
}
