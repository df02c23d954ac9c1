// Luminosity scaling of a Monte Carlo run and its binned escaping spectrum. One packet
// unit carries 10^EP0 erg/s: the escaped energy PW(2) (or the window energy PW(4)) is
// matched to the prescribed luminosity; the NP1 packets injected at the lower boundary
// then fix its temperature by Stefan-Boltzmann, or its top-hat intensity.
#include "montecarlo/scale.hpp"

#include <cmath>
#include <cstdlib>

#include "montecarlo/estimators.hpp"

namespace mcspec {

Luminosities packet_luminosities(int np1, const Params& p, const Constants& c, const Estimators& est) {
  Luminosities l;
  const double lpw2 = std::log10(est.pw(2));
  l.ep0 = p.logls + c(Constants::kLogLsun) - lpw2;
  if (p.iopt[1] == 0) l.ep0 = p.loglwv + c(Constants::kLogLsun) - std::log10(est.pw(4));
  l.lesc = lpw2 + l.ep0;
  l.lplus = l.ep0 + std::log10(static_cast<double>(np1));
  return l;
}

void scale_luminosity(int np1, const McInputs& in, const Estimators& est, Scaling& sc, McOutput& o) {
  const Constants& c = in.c;
  const Luminosities l = packet_luminosities(np1, in.p, c, est);
  sc.ep0 = l.ep0;
  // TB / Tsun = (R / Rsun)^(-1/2) (L+ / Lsun)^(1/4)
  sc.tb = std::pow(10.0, c(Constants::kLogTsun) - 0.5 * (in.p.logr - c(Constants::kLogRsun)) +
                             0.25 * (l.lplus - c(Constants::kLogLsun)));
  const char* fmt = "(/ 5X 'Scale:  L =' F7.3 5X 'L+ =' F7.3 / / 15X 'TB1 =' F8.1 10X 'Log EP0 =' F10.6)";
  o.out.write(fmt, l.lesc, l.lplus, sc.tb, sc.ep0);
  o.stst.write(fmt, l.lesc, l.lplus, sc.tb, sc.ep0);
}

void scale_luminosity_top_hat(int np1, const McInputs& in, const Estimators& est, Scaling& sc, McOutput& o) {
  const Luminosities l = packet_luminosities(np1, in.p, in.c, est);
  sc.ep0 = l.ep0;
  const char* fmt = "(/ 5X 'L =' D13.4 5X 'L+ =' D13.4 8X 'Log EP0 =' F7.3)";
  o.out.write(fmt, l.lesc, l.lplus, sc.ep0);
  o.stst.write(fmt, l.lesc, l.lplus, sc.ep0);
  // The injected flux at the boundary, F = L+ / (4 pi R^2), is pi I for an isotropic
  // outward intensity I, spread evenly over the band FTH2..FTH1.
  const double pi = in.c.pi();
  const double r = std::pow(10.0, in.p.logr);
  const double xlumb = std::pow(10.0, l.lplus) / (4 * pi * (r * r));
  sc.ith = (xlumb / pi) / (in.p.fth1 - in.p.fth2);
}

namespace {

void write_bins(int irf, const WavelengthGrid& g, const Estimators& est, Scaling& sc, OutFile& sica) {
  sica.write("(/ / 5X 'Spectrum' 8X 'Iteration =' I4 /)", irf);
  if (sc.spl.size() != g.kg) sc.spl.assign(g.kg);
  long long ncum = 0;
  for (int i = 1; i <= g.kg; ++i) {
    ncum += est.nspec(i);
    // erg/s per cm of wavelength: WBIN is in micron
    sc.spl(i) = est.espec(i) == 0 ? -99.0 : std::log10(est.espec(i) / (g.wbin(i) * 1e-4)) + sc.ep0;
    const double centre = std::pow(10.0, 0.5 * (g.wlb(i) + g.wlb(i + 1)));
    sica.write("(F16.6 I15 F18.3 I12 F15.4)", centre, est.nspec(i), est.espec(i), ncum, sc.spl(i));
  }
}

void write_emitting_lines(const McInputs& in, const Estimators& est, OutFile& eica) {
  const LineList& ll = in.ll;
  const Atoms& a = in.a;
  const double c_micron = std::pow(10.0, in.c.log_c() + 4);
  for (int k = 1; k <= ll.nl; ++k) {
    if (est.eline(k) == 0) continue;
    const int m = ll.transition_at(k);
    const Species sp = species_of(ll.zcode(m));
    const double lambda = c_micron / ll.frq(k);
    const int lo = std::abs(ll.llo(m));
    const int up = std::abs(ll.lup(m));
    eica.list(m, lo, up);
    eica.write("(F10.5 4X A3 A5 2(F12.3 F5.1) F10.2)", lambda, a.elsym.at(static_cast<std::size_t>(sp.z)),
               a.stlab.at(static_cast<std::size_t>(sp.stage)), a.elev(up), a.xj(up), a.elev(lo), a.xj(lo),
               est.eline(k));
  }
}

}  // namespace

void write_escaping_spectrum(int irf, const McInputs& in, const Estimators& est, Scaling& sc, McOutput& o) {
  write_bins(irf, in.grid, est, sc, o.sica);
  write_emitting_lines(in, est, o.eica);
  o.out.list(" Finish Emspec ");
}

}  // namespace mcspec
