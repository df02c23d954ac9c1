// mcspec: the photospheric-phase spectrum of a supernova by Monte Carlo radiative
// transfer in homologously expanding ejecta. The main program is the run's schedule:
// set-up, at most 30 temperature passes, the final plasma state and Monte Carlo, the
// emergent spectrum (the stages: app/run.hpp).
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.hpp"
#include "app/progress.hpp"
#include "app/run.hpp"
#include "app/run_files.hpp"
#include "base/errors.hpp"
#include "base/fpenv.hpp"
#include "base/interrupt.hpp"
#include "base/parallel.hpp"

namespace mcspec {
namespace {

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

// The method, phase by phase, with the progress lines of each.
void run_schedule(Run& r) {
  r.f.out = OutFile::standard_output();
  r.f.out.list(" included");

  // Set-up
  open_run_files(r.f);
  r.set_up();

  // Temperature iteration: at most 30 passes, fewer once the temperatures converge
  stop_if_interrupted();
  r.computing = true;
  Progress progress;
  progress.set_first_checked_pass(r.first_check);
  int pass = 1;
  while (pass <= kLastTemperaturePass) {
    stop_if_interrupted();
    progress.start_pass(r.s.tr.data(), r.s.js);
    r.f.out.list("  TEMP ITER  ", pass);
    const int next = r.temperature_pass(pass);
    progress.end_pass(pass, next, r.p.iopt[3] == 1 ? r.p.itt : 1, r.s.tr.data(), r.s.js);
    pass = next;
  }
  r.save_radiation_field();

  // Final plasma state (pass 31: the diagnostic files are written)
  stop_if_interrupted();
  r.final_plasma_state(pass);

  // Final Monte Carlo: ITT passes with the black-body boundary, or the single top-hat pass
  if (r.p.iopt[3] == 1) {
    for (r.irf = 1; r.irf <= r.p.itt; ++r.irf) {
      stop_if_interrupted();
      r.f.out.list("  Rad. field ITER  ", r.irf);
      r.final_pass();
      progress.final_pass(r.irf, r.p.itt);
    }
  } else if (r.p.iopt[3] == 0) {
    r.single_pass();
    progress.final_pass(1, 1);
  }

  // Emergent spectrum
  r.emergent_spectrum();
  close_run_files(r.f);
  warn_non_finite_spectrum(r.spec, r.p.kg);
  r.f.out.list(" Finish Code");
  progress.finish();
}

}  // namespace
}  // namespace mcspec

namespace {

// After a failure or an interrupt: a run stopped during set-up leaves no output files
// behind (they would block the corrected run); a later one moves them, with the run log
// up to the stop, into a new subdirectory, where they block nothing and are kept for
// diagnosis; what cannot be moved is removed, and standard error says which is which.
int stop(mcspec::Run& run, const char* kind, const char* what, int status) {
  std::fflush(stdout);
  std::fprintf(stderr, "mcspec: %s: %s\n", kind, what);
  if (!run.computing) {
    mcspec::discard_outputs(run.f);
    return status;
  }
  for (const std::string& line : mcspec::set_aside_outputs(run.f).report())
    std::fprintf(stderr, "mcspec: %s\n", line.c_str());
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // A closed pipe on standard output is a failed write, said and handled as one, not a
  // silent death by signal.
  std::signal(SIGPIPE, SIG_IGN);
  if (const int status = mcspec::command_line(argc, argv); status >= 0) {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
    std::fprintf(stderr, "mcspec: cannot write to standard output: %s\n", std::strerror(errno));
    return 3;
  }
  mcspec::set_flush_to_zero();
  mcspec::catch_interrupts();
  auto run = std::make_unique<mcspec::Run>();
  try {
    // MCSPEC_THREADS, MCSPEC_STREAMS, MCSPEC_ION_SPECTRUM, MCSPEC_PACKET_RAMP: checked
    // before any file is made
    run->par = mcspec::read_parallel_config();
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
