// Line source functions from the Monte Carlo line estimators. The energy S (packet
// units) that reached a line's resonance in a shell of volume V gives the mean
// intensity J = c t 10^EP0 S / (4 pi V nu) at the line's blue edge; the energy each line
// absorbs, J (1 - e^-tau) 4 pi nu / (c t), is pooled in its upper level and re-emitted
// through the level's lines by their branching ratios: SLINE = S_line (1 - e^-tau).
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/errors.hpp"
#include "base/parallel.hpp"
#include "spectrum/spectrum.hpp"

namespace mcspec {

void line_source_functions(const Params& p, const Constants& c, const Shells& s, const LineList& ll,
                           const Opacity& op, double ep0, Array2<double>& ej, Array2<double>& sline,
                           int threads) {
  const int nl = ll.nl;
  const int js = s.js;
  if (ej.rows() < nl || ej.cols() < js)
    throw RunError("the Monte Carlo line estimators hold " + std::to_string(ej.rows()) + " lines x " +
                   std::to_string(ej.cols()) + " shells, fewer than the " + std::to_string(nl) + " x " +
                   std::to_string(js) + " of the line list");
  sline.assign(nl, js, 0.0);

  const double pi = c.pi();
  const double clight = std::pow(10.0, c.log_c());
  // J = A lambda S / DVOL with A = t 10^(EP0 - LOGVOL) / (4 pi): the shell volume is
  // V = DVOL 10^LOGVOL and c / nu = lambda.
  const double a = (p.tday * 0.25 * std::pow(10.0, ep0 - p.logvol)) / pi;
  const double bt = (pi * 4.0) / p.tday;  // 4 pi / t: absorbed energy per unit volume is bt J (1 - e^-tau) / lambda

  // Per list position: wavelength [cm], transition number, upper level.
  std::vector<double> lam(static_cast<std::size_t>(nl));
  std::vector<int> trans(static_cast<std::size_t>(nl));
  std::vector<int> upper(static_cast<std::size_t>(nl));
  int top = 0;
  for (int i = 1; i <= nl; ++i) {
    const auto q = static_cast<std::size_t>(i - 1);
    lam[q] = clight / ll.frq(i);
    trans[q] = ll.transition_at(i);
    upper[q] = std::abs(ll.lup(trans[q]));
    top = std::max(top, upper[q]);
  }
  // Shell by shell, each shell by one thread with its own EUP(u) [erg cm^-3 s^-1].
  std::vector<std::vector<double>> eups(static_cast<std::size_t>(std::max(1, std::min(threads, js))),
                                        std::vector<double>(static_cast<std::size_t>(top) + 1));
  parallel_for(js, threads, [&](int task, int worker) {
    const int k = task + 1;
    std::vector<double>& eup = eups[static_cast<std::size_t>(worker)];
    std::fill(eup.begin(), eup.end(), 0.0);
    double* jmean = ej.column(k);
    const double* etau = op.etau.column(k);
    const double dvol = s.dvol(k);
    for (std::size_t q = 0; q < static_cast<std::size_t>(nl); ++q) {
      jmean[q] = ((a * lam[q]) / dvol) * jmean[q];
      eup[static_cast<std::size_t>(upper[q])] += (bt / lam[q]) * jmean[q] * (1.0 - etau[q]);
    }
    double* sl = sline.column(k);
    const double* br = op.br.column(k);
    for (std::size_t q = 0; q < static_cast<std::size_t>(nl); ++q)
      sl[q] = (lam[q] / bt) * (br[trans[q] - 1] * eup[static_cast<std::size_t>(upper[q])]);
  });
}

}  // namespace mcspec
