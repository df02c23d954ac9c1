// Branching ratios of line fluorescence: an atom excited to level u leaves it through
// downward line n with probability A_n beta_n nu_n / sum over u's lines of A beta nu,
// beta the Sobolev escape probability (radiative de-excitation weighted by the
// energy it carries). The ratios of each upper level must sum to one.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "base/errors.hpp"
#include "base/parallel.hpp"
#include "opacity/opacity.hpp"

namespace mcspec {

// A line inverted beyond tau = -600 (dense ejecta) escapes as if tau were -600:
// beta = e^600 / 600 ~ 6e257 leaves fifty decades below overflow for A nu and the sum
// over a level's lines, where the exact beta (infinite below about -709) would turn the
// level's ratios into NaN. No line of an ordinary model comes near.
double sobolev_escape(double tau) {
  if (std::abs(tau) >= 0.1) return (1.0 - std::exp(-std::max(tau, -600.0))) / std::max(tau, -600.0);
  const double t2 = tau * tau;
  return 1.0 - tau / 2.0 + t2 / 6.0 - t2 * tau / 24.0 + t2 * t2 / 120.0;
}

namespace {

// Per-thread work storage of one shell: the A beta nu sums by global level, the
// escape probabilities by list position and the ratio sums of the current ion.
struct ShellWork {
  std::vector<double> suma, smm, beta;
};

// Sizes the per-level work storage for every global level that an upper level or a
// consistency check can touch, and for the largest ion.
void size_level_work(const Atoms& a, const LineList& ll, ShellWork& op) {
  int top = a.nlvtot;
  int nmax = 0;
  for (int n = 1; n <= ll.nl; ++n) top = std::max(top, std::abs(ll.lup(n)));
  for (int m = 1; m <= a.nion; ++m) {
    const int z = a.ionz(m), j = a.ionj(m);
    const int nlev = a.nlev(z, j);
    top = std::max(top, a.lev1(z, j) - 1 + nlev);
    nmax = std::max(nmax, nlev);
  }
  if (op.suma.size() < static_cast<std::size_t>(top) + 1) op.suma.resize(static_cast<std::size_t>(top) + 1);
  if (op.smm.size() < static_cast<std::size_t>(nmax) + 1) op.smm.resize(static_cast<std::size_t>(nmax) + 1);
  if (op.beta.size() < static_cast<std::size_t>(ll.nl) + 1) op.beta.assign(static_cast<std::size_t>(ll.nl) + 1, 0.0);
}

[[noreturn]] void ratios_do_not_sum_to_one(const Atoms& a, int z, int j, int level, int k, double sum) {
  std::ostringstream msg;
  msg.precision(10);
  msg << "the branching ratios of level " << level << " of " << a.ion_label(z, j) << " in shell " << k
      << " sum to ";
  if (std::isnan(sum))
    msg << "NaN";
  else
    msg << sum;
  msg << " instead of 1 (the lines leaving the level have non-finite or inconsistent"
      << " weights A beta nu)";
  throw RunError(msg.str());
}

// One ion in shell k: escape probabilities and the A beta nu sums of its upper levels,
// the ratios, and the check that every upper level's ratios sum to one.
void ion_branching_ratios(const Atoms& a, const LineList& ll, int m, int k, Opacity& tables, ShellWork& op) {
  const int z = a.ionz(m), j = a.ionj(m);
  const int i0 = a.lev1(z, j) - 1;
  const int nlev = a.nlev(z, j);
  const int n1 = ll.iln1(m), n2 = ll.iln1(m + 1);
  const double* tau = tables.tau.column(k);
  double* br = tables.br.column(k);

  for (int n = n1; n < n2; ++n) {
    const int v = std::abs(ll.lup(n));
    if (v - i0 < 1 || v - i0 > nlev)
      throw RunError("transition " + std::to_string(n) + " of " + a.ion_label(z, j) + " leaves level " +
                     std::to_string(v - i0) + ", outside the ion's " + std::to_string(nlev) + " retained levels");
    const int p = ll.kpos(n);
    const double beta = sobolev_escape(tau[p - 1]);
    op.beta[static_cast<std::size_t>(p)] = beta;
    op.suma[static_cast<std::size_t>(v)] += ll.aul(n) * beta * ll.frq(p);
  }

  std::fill(op.smm.begin(), op.smm.begin() + nlev + 1, 0.0);
  for (int n = n1; n < n2; ++n) {
    const int p = ll.kpos(n);
    const int v = std::abs(ll.lup(n));
    const double sum = op.suma[static_cast<std::size_t>(v)];
    if (sum != 0.0) {  // a level whose lines all carry zero weight keeps its old ratios
      br[n - 1] = ll.aul(n) * op.beta[static_cast<std::size_t>(p)] * ll.frq(p) / sum;
      op.smm[static_cast<std::size_t>(v - i0)] += br[n - 1];
    }
  }

  // Written so that a NaN sum fails the test too.
  for (int i = 2; i <= nlev; ++i) {
    if (op.suma[static_cast<std::size_t>(i0 + i)] == 0.0) continue;
    const double sum = op.smm[static_cast<std::size_t>(i)];
    if (!(std::abs(sum - 1.0) <= 1e-5)) ratios_do_not_sum_to_one(a, z, j, i, k, sum);
  }
}

}  // namespace

void branching_ratios(const Shells& s, const Atoms& a, const LineList& ll, Opacity& op, OutFile& out, int threads) {
  out.write("(/ 5X 'Start' '  branch' ' ratios' 50X 'FIYQ')");
  // Shell by shell: the sums of one shell never meet those of another, and each
  // shell's columns of TAU and BR are then read and written contiguously. Each shell
  // is worked by one thread, in the order of one thread; a failed check reports the
  // first shell (then ion) in that order.
  std::vector<ShellWork> work(static_cast<std::size_t>(std::max(1, std::min(threads, s.js))));
  for (ShellWork& w : work) size_level_work(a, ll, w);
  parallel_for(s.js, threads, [&](int task, int worker) {
    const int k = task + 1;
    ShellWork& w = work[static_cast<std::size_t>(worker)];
    std::fill(w.suma.begin(), w.suma.end(), 0.0);
    for (int m = 1; m <= a.nion; ++m) ion_branching_ratios(a, ll, m, k, op, w);
  });
  out.write("(/ 5X 'Finish ' 'branch' ' ratios')");
}

}  // namespace mcspec
