// Sobolev optical depths of every kept line in every shell. In homologous flow the
// Sobolev depth is tau = (hc / 4 pi) B_lu n_l t (1 - g_l n_u / (g_u n_l)) [B_lu in the
// energy-density convention, t the time since explosion]; the level populations are
// nebular: a Boltzmann law at TR, diluted by W except for metastable levels.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/errors.hpp"
#include "base/parallel.hpp"
#include "opacity/opacity.hpp"

namespace mcspec {
namespace {

// The levels of one ion of the ion list that its lines need: the retained levels
// 1..nlev (those that make up the partition sum), and, when a kept line has a lower
// level beyond nlev (the line list bounds only the upper levels), up to that level.
struct IonLevels {
  int z = 0, j = 0;
  int i0 = 0;       // global index of the ion's first level, minus 1
  int nlev = 0;     // retained levels N
  int nwork = 0;    // levels whose populations the lines read, >= N
  int n1 = 0, n2 = 0;  // transitions n1 .. n2 - 1
};

IonLevels ion_levels(const Atoms& a, const LineList& ll, int m) {
  IonLevels ion;
  ion.z = a.ionz(m);
  ion.j = a.ionj(m);
  ion.i0 = a.lev1(ion.z, ion.j) - 1;
  ion.nlev = a.nlev(ion.z, ion.j);
  ion.nwork = ion.nlev;
  ion.n1 = ll.iln1(m);
  ion.n2 = ll.iln1(m + 1);
  for (int n = ion.n1; n < ion.n2; ++n) {
    const int u = std::abs(ll.lup(n)) - ion.i0;
    const int l = std::abs(ll.llo(n)) - ion.i0;
    if (u < 1 || u > ion.nlev || l < 1)
      throw RunError("transition " + std::to_string(n) + " of " + a.ion_label(ion.z, ion.j) + " joins levels " +
                     std::to_string(l) + " and " + std::to_string(u) + ", outside the ion's " +
                     std::to_string(ion.nlev) + " retained levels");
    ion.nwork = std::max(ion.nwork, l);
  }
  if (ion.i0 + ion.nwork > a.elev.size())
    throw RunError("the levels of " + a.ion_label(ion.z, ion.j) + " reach index " +
                   std::to_string(ion.i0 + ion.nwork) + " beyond the " + std::to_string(a.elev.size()) +
                   " stored levels");
  return ion;
}

// Fractional populations of the ion's levels in one shell: g exp(-|E| hc / (k TR)),
// times W for a level stored with positive energy (the ground level has E = 0 and a
// metastable level is stored with negative energy: neither is diluted), normalised
// so that the retained levels 1..N sum to one. c2 = hc/k [cm K], E [cm^-1].
void level_populations(const Atoms& a, const IonLevels& ion, double c2, double tr, double w,
                       std::vector<double>& glev, std::vector<double>& popl) {
  const auto need = static_cast<std::size_t>(ion.nwork) + 1;
  if (popl.size() < need) {
    popl.resize(need);
    glev.resize(need);
  }
  double sum = 0.0;
  for (int i = 1; i <= ion.nwork; ++i) {
    const double e = a.elev(ion.i0 + i);
    const double g = 2.0 * a.xj(ion.i0 + i) + 1.0;
    double pop = g * std::exp(-std::abs(e) * c2 / tr);
    if (e > 0.0) pop *= w;
    glev[static_cast<std::size_t>(i)] = g;
    popl[static_cast<std::size_t>(i)] = pop;
    if (i <= ion.nlev) sum += pop;
  }
  for (int i = 1; i <= ion.nwork; ++i) popl[static_cast<std::size_t>(i)] /= sum;
}

// tau = B_lu F n_l (1 - (g_l / g_u) n_u / n_l), the absorption corrected for
// stimulated emission; negative for an inversion (not clipped). A lower population
// that underflowed to zero leaves no absorbers: tau = 0, not 0 * infinity.
double sobolev_depth(double blu, double f, double pl, double pu, double gl, double gu) {
  if (pl == 0.0) return 0.0;
  return blu * f * pl * (1.0 - (gl / gu) * pu / pl);
}

}  // namespace

void sobolev_depths(const Params& p, const Constants& c, const Shells& s, const Atoms& a, const Plasma& pl,
                    const LineList& ll, Opacity& op, OutFile& out, int threads) {
  if (ll.nl >= 1)
    out.list(" taus", ll.llo(1), ll.lup(1));
  else
    out.list(" taus", 0, 0);
  const double c2 = std::pow(10.0, c.log_h() + c.log_c() - c.log_k());  // hc/k [cm K]
  const double hc4pi = std::pow(10.0, c.log_h() + c.log_c()) / (4.0 * c.pi());  // hc/(4 pi) [erg cm]

  // The ions' level ranges are checked first; then the shells are independent, each
  // column written by one thread in the same order as on one thread.
  std::vector<IonLevels> ions;
  ions.reserve(static_cast<std::size_t>(std::max(a.nion, 0)));
  for (int m = 1; m <= a.nion; ++m) ions.push_back(ion_levels(a, ll, m));
  struct Work {
    std::vector<double> glev, popl;
  };
  std::vector<Work> work(static_cast<std::size_t>(std::max(1, std::min(threads, s.js))));
  parallel_for(s.js, threads, [&](int task, int worker) {
    const int k = task + 1;
    Work& wk = work[static_cast<std::size_t>(worker)];
    double* tau = op.tau.column(k);
    double* etau = op.etau.column(k);
    for (const IonLevels& ion : ions) {
      level_populations(a, ion, c2, s.tr(k), s.w(k), wk.glev, wk.popl);
      // Column factor F = t N_el f_ion hc/(4 pi) [erg cm^-2 s]: absorbers of the ion per
      // unit volume times the Sobolev length per unit velocity gradient (t in homologous flow).
      const double f = p.tday * pl.nelem(ion.z, k) * pl.fion(ion.j, ion.z, k) * hc4pi;
      for (int n = ion.n1; n < ion.n2; ++n) {
        const auto u = static_cast<std::size_t>(std::abs(ll.lup(n)) - ion.i0);
        const auto l = static_cast<std::size_t>(std::abs(ll.llo(n)) - ion.i0);
        const double t = sobolev_depth(ll.blu(n), f, wk.popl[l], wk.popl[u], wk.glev[l], wk.glev[u]);
        const auto q = static_cast<std::size_t>(ll.kpos(n) - 1);
        tau[q] = t;
        etau[q] = std::exp(-t);
      }
    }
  });
  // The work storage keeps the populations of the last ion in the last shell.
  if (!ions.empty() && s.js >= 1) level_populations(a, ions.back(), c2, s.tr(s.js), s.w(s.js), op.glev, op.popl);
}

}  // namespace mcspec
