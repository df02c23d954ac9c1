// Progress of a run on standard error (standard output keeps the run's own messages):
// one line per temperature pass with the largest relative change of the radiation
// temperature, the elapsed time and an estimate of what is left, one line per final
// Monte Carlo pass, and the total time. MCSPEC_QUIET=1 silences it.
#pragma once

#include <chrono>
#include <cstdio>
#include <vector>

#include "montecarlo/temperature_update.hpp"

namespace mcspec {

class Progress {
 public:
  // quiet: nothing is written (the environment's MCSPEC_QUIET=1 by default).
  explicit Progress(std::FILE* err = stderr);
  Progress(std::FILE* err, bool quiet);

  // tr: the radiation temperatures of the shells [K], before and after a pass.
  void start_pass(const double* tr, int n);
  // pass: the pass just done; next: the schedule's counter after it (31 ends the
  // temperature iteration; a jump to 30 means converged); itt: final passes to come.
  void end_pass(int pass, int next, int itt, const double* tr, int n);
  void final_pass(int irf, int itt);
  void finish();
  // The first pass whose convergence can end the iteration (1 after a warm start).
  void set_first_checked_pass(int pass) { first_check_ = pass; }

  // Largest |new - old| / old over the shells (NaN when any value is not finite).
  static double largest_change(const std::vector<double>& old, const double* now, int n);

 private:
  double seconds() const;
  std::FILE* err_;
  bool quiet_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point pass_start_;
  std::vector<double> tr_before_;
  double pass_seconds_ = 0;  // the latest temperature pass [s]
  int first_check_ = kFirstCheckedPass;
};

}  // namespace mcspec
