// A small hand-built ejecta for the Monte Carlo tests: a few shells of uniform
// density between x = 1 and XE1, a handful of lines with chosen optical depths and
// branching ratios, the black-body sampling table, a log wavelength grid, and output
// files captured in memory.
#pragma once

#include <cmath>
#include <vector>

#include "base/run_parameters.hpp"
#include "montecarlo/montecarlo.hpp"

namespace mcspec::test {

struct ToyLine {
  double frq;  // [Hz]; lines are given in order of decreasing frequency
  double tau;  // Sobolev optical depth in every shell
};

struct ToyModel : MonteCarloState {
  OutFile out = OutFile::memory("out"), stst = OutFile::memory("stst.dat"), sbib = OutFile::memory("sbib.dat"),
          sica = OutFile::memory("sica.dat"), eica = OutFile::memory("eica.dat");
  McOutput mo{out, stst, sbib, sica, eica};
  McInputs in = mc_inputs();

  // js shells; electron-scattering optical depth tau_es radially through the ejecta;
  // lines in decreasing frequency, each from its own upper level to the ground level.
  // The parameters are those of the type Ia example.
  ToyModel(int js, int kb, int npk, double tau_es, const std::vector<ToyLine>& lines = {}) {
    fill_constants(c);
    p.js = js, p.kb = kb, p.npk = npk, p.np4 = npk / 10000, p.itt = 3, p.iseed = 7654321;
    p.xe1 = 0.2, p.logls = 9.6, p.vph = 10000, p.tb = 12000, p.day = 19, p.tday = p.day * 86400;
    p.logr = std::log10(p.vph * 1e5 * p.tday);
    p.logrrs = p.logr - c(Constants::kLogRsun);
    p.logteff = 0.25 * p.logls + c(Constants::kLogTsun) - 0.5 * p.logrrs;
    p.wvm1 = 0.2, p.wvm2 = 1.0, p.wv1 = 3500, p.wv2 = 9000, p.wv1v = 3501, p.wv2v = 9002.5, p.loglwv = 9.4;
    p.wth1 = 3000, p.wth2 = 10000, p.fth1 = std::pow(10.0, c.log_c() + 8) / p.wth1;
    p.fth2 = std::pow(10.0, c.log_c() + 8) / p.wth2;
    p.iopt = {0, 1, 1, 1, 0, 0};
    set_shells(js, tau_es);
    set_lines(lines);
    if (kb >= 2) build_sampling_table(kb, samp);
    set_grid(0.01, 100.0, 2000);
    sc.tb = p.tb;
  }

  // Uniform density chosen so that the radial Thomson depth is tau_es: the packet path
  // from x = 1 to XE1 is 1/XE1 - 1 lower-boundary radii.
  void set_shells(int js, double tau_es) {
    s.js = js;
    s.nx = 2 * js + 1;
    s.dx = (1 - p.xe1) / (s.nx - 1);
    s.xs.assign(s.nx);
    for (int i = 1; i <= s.nx; ++i) s.xs(i) = 1 - (i - 1) * s.dx;
    const double kapes = 0.2, path = (1 / p.xe1 - 1) * std::pow(10.0, p.logr);  // [cm]
    s.logrh.assign(js, std::log10(tau_es > 0 ? tau_es / (kapes * path) : 1e-15));
    s.tr.assign(js, 10000);
    s.te.assign(js, 9000);
    s.w.assign(js, 0.5);
    s.vs.assign(js);
    s.dvol.assign(js, 1);
    pl.kapes.assign(js, tau_es > 0 ? kapes : 0.0);
  }

  void set_lines(const std::vector<ToyLine>& lines) {
    const int nl = ll.nl = static_cast<int>(lines.size()), nlev = nl + 1;
    ll.frq.assign(nl + 1, 0.0);
    for (auto* t : {&ll.frql, &ll.elow}) t->assign(nl);
    for (auto* t : {&ll.lorig, &ll.kpos, &ll.lup}) t->assign(nl);
    ll.lcasc.assign(nl, 1);
    ll.llo.assign(nl, 1);
    ll.zcode.assign(nl, 26.01);
    ll.loggf.assign(nl, 0.5);
    ll.idn1.assign(nlev, 0);
    ll.idn2.assign(nlev, 0);
    a.elev.assign(nlev);
    a.xj.assign(nlev, 0.5);
    a.elsym[26] = " Fe";
    a.stlab[2] = " II  ";
    op.tau.assign(nl, s.js);
    op.etau.assign(nl, s.js);
    op.br.assign(nl, s.js, 1.0);
    for (int n = 1; n <= nl; ++n) {
      const ToyLine& l = lines[static_cast<std::size_t>(n - 1)];
      ll.frq(n) = ll.frql(n) = l.frq;
      ll.kpos(n) = n;
      ll.lorig(nl + 1 - n) = n;
      ll.lup(n) = n + 1;
      ll.idn1(n + 1) = ll.idn2(n + 1) = n;
      a.elev(n + 1) = l.frq / c_cgs();
      for (int j = 1; j <= s.js; ++j) op.tau(n, j) = l.tau, op.etau(n, j) = std::exp(-l.tau);
    }
  }

  void set_grid(double wvm1, double wvm2, int kg) {
    p.kg = grid.kg = kg;
    grid.wlb.assign(kg + 1);
    grid.wbin.assign(kg);
    grid.dwl = (std::log10(wvm2) - std::log10(wvm1)) / kg;
    for (int e = 1; e <= kg + 1; ++e) grid.wlb(e) = (e - 1) * grid.dwl + std::log10(wvm1);
    for (int b = 1; b <= kg; ++b) grid.wbin(b) = std::pow(10.0, grid.wlb(b + 1)) - std::pow(10.0, grid.wlb(b));
    est.allocate(ll.nl, s.js, kg);
  }

  double c_cgs() const { return std::pow(10.0, c.log_c()); }
  // Frequency [Hz] at which h nu / k T = x.
  double nu_of_x(double x, double t) const { return x * t * std::pow(10.0, c.log_k() - c.log_h()); }
};

}  // namespace mcspec::test
