// Progress lines on standard error. The time left is estimated from the latest
// temperature pass: the schedule cannot end before pass 9 (the convergence test needs
// a pass number above 8; after a warm start, before pass 1) and ends at pass 30 at the
// latest; after convergence one more
// temperature pass follows, then the final Monte Carlo passes.
#include "app/progress.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace mcspec {
namespace {

constexpr int kLastPass = 30;

bool quiet_from_environment() {
  const char* q = std::getenv("MCSPEC_QUIET");
  return q != nullptr && std::strcmp(q, "0") != 0 && q[0] != '\0';
}

}  // namespace

Progress::Progress(std::FILE* err) : Progress(err, quiet_from_environment()) {}

Progress::Progress(std::FILE* err, bool quiet)
    : err_(err), quiet_(quiet), start_(std::chrono::steady_clock::now()), pass_start_(start_) {}

double Progress::seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

double Progress::largest_change(const std::vector<double>& old, const double* now, int n) {
  double m = 0;
  for (int j = 0; j < n && j < static_cast<int>(old.size()); ++j) {
    const double c = std::fabs(now[j] - old[static_cast<std::size_t>(j)]) / old[static_cast<std::size_t>(j)];
    if (!std::isfinite(c)) return std::nan("");
    if (c > m) m = c;
  }
  return m;
}

void Progress::start_pass(const double* tr, int n) {
  tr_before_.assign(tr, tr + n);
  pass_start_ = std::chrono::steady_clock::now();
}

void Progress::end_pass(int pass, int next, int itt, const double* tr, int n) {
  pass_seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - pass_start_).count();
  if (quiet_) return;
  const double change = largest_change(tr_before_, tr, n);
  const int finals = itt > 0 ? itt : 1;  // the single-pass variant runs once
  if (next > kLastPass) {
    std::fprintf(err_, "mcspec: temperature pass %d: largest change of TR %.2f %%, %.1f s, left: %d final pass%s\n",
                 pass, 100 * change, seconds(), finals, finals == 1 ? "" : "es");
  } else {
    // Passes still to come: at least up to the earliest convergence, then pass 30.
    const int most = kLastPass - next + 1;
    const int least = next >= kLastPass ? 1 : std::max(2, first_check_ - next + 2);
    const bool converged = next == kLastPass && pass < kLastPass - 1;
    if (converged || least == most) {
      std::fprintf(err_,
                   "mcspec: temperature pass %d: largest change of TR %.2f %%%s, %.1f s, left: %d + %d final "
                   "passes, about %.1f s\n",
                   pass, 100 * change, converged ? " (converged)" : "", seconds(), most, finals,
                   pass_seconds_ * (most + finals));
    } else {
      std::fprintf(err_,
                   "mcspec: temperature pass %d: largest change of TR %.2f %%, %.1f s, left: %d to %d + %d final "
                   "passes, about %.1f to %.1f s\n",
                   pass, 100 * change, seconds(), least, most, finals, pass_seconds_ * (least + finals),
                   pass_seconds_ * (most + finals));
    }
  }
  std::fflush(err_);
}

void Progress::final_pass(int irf, int itt) {
  if (quiet_) return;
  std::fprintf(err_, "mcspec: final Monte Carlo pass %d of %d done, %.1f s\n", irf, itt, seconds());
  std::fflush(err_);
}

void Progress::finish() {
  if (quiet_) return;
  std::fprintf(err_, "mcspec: finished in %.1f s\n", seconds());
  std::fflush(err_);
}

}  // namespace mcspec
