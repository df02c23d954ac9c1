// The emergent spectrum: source functions from the last Monte Carlo run, then per
// wavelength bin the flux integral F = 2 sum I(p) p dp over impact parameters (dp = R/4)
// and L_lambda = 4 pi^2 R^2 F c / lambda^2, written per unit air wavelength beside the
// Monte Carlo spectrum; the total luminosity over the grid closes the run's report.
#include <cmath>
#include <string>
#include <vector>

#include "base/parallel.hpp"
#include "base/interrupt.hpp"
#include "spectrum/spectrum.hpp"

namespace mcspec {
namespace {

// F = 2 * integral of I p dp over the rays that cross the ejecta (p <= XOUT), by the
// midpoint rule on p_m = (m - 0.5) / 4.
double flux_integral(const FormalIntegral& fi, double xnu, OutFile& out) {
  double fn = 0.0;
  const int np = fi.impact_parameter_count();
  for (int m = 1; m <= np; ++m) {
    const double pp = FormalIntegral::impact_parameter(m);
    if (pp > fi.xout()) continue;
    const double xin = fi.intens(pp, xnu, out);
    fn = fn + xin * 0.5 * pp;
  }
  return fn;
}

// SPL(b) of the Monte Carlo spectrum; a table the Monte Carlo did not fill reads as
// empty bins.
double mc_spectrum(const Scaling& sc, int b) { return b <= sc.spl.size() ? sc.spl(b) : -99.0; }

}  // namespace

void emergent_spectrum(int irf, const Params& p, const Constants& c, const Shells& s, const Plasma& pl,
                       const LineList& ll, const Opacity& op, Estimators& est, const Scaling& sc,
                       const WavelengthGrid& g, SpectrumTables& t, InFile& filters, SpectrumOutput& o, int threads) {
  line_source_functions(p, c, s, ll, op, sc.ep0, est.ej, t.sline, threads);

  o.out.list(" Start Spectrum ");
  o.spcp.write("(/ 5X 'Iteration' I4)", irf);

  const FormalIntegral fi(p, c, s, pl, ll, op, est.ej, t.sline, sc, o.out);
  const int kg = g.kg;
  t.fn.assign(kg);
  t.zld.assign(kg);
  t.xls.assign(kg);
  t.zls.assign(kg);
  t.zms.assign(kg);
  const double logc = c.log_c();
  const double loge = c(Constants::kLogE);
  const double pi = c.pi();

  // The bins are independent: their flux integrals are formed side by side, each by
  // one thread, and the messages of each bin are kept and written in bin order.
  std::vector<std::string> messages(static_cast<std::size_t>(kg) + 1);
  parallel_for(kg, threads, [&](int task, int) {
    const int b = task + 1;
    stop_if_interrupted();
    const double wlm = 0.5 * (g.wlb(b) + g.wlb(b + 1)) - 4.0;  // log10 vacuum bin centre [cm]
    OutFile notes = OutFile::memory("formal integral");
    t.fn(b) = flux_integral(fi, std::pow(10.0, logc - wlm), notes);
    messages[static_cast<std::size_t>(b)] = notes.text();
  });
  for (const std::string& m : messages) {
    if (!m.empty()) o.out.write_text(m);
  }

  double t40 = 0.0;  // sum of L_lambda dlambda / 10^40 [erg/s]
  for (int b = 1; b <= kg; ++b) {
    const double wlm = 0.5 * (g.wlb(b) + g.wlb(b + 1)) - 4.0;  // log10 vacuum bin centre [cm]
    t.zld(b) = -99.0;
    if (t.fn(b) != 0.0) t.zld(b) = (logc - 2.0 * wlm) + std::log10(t.fn(b) * 4.0 * pi * pi) + 2.0 * p.logr;

    // Per unit air wavelength: L_lambda,air = L_lambda,vac dlambda_vac / dlambda_air.
    t.xls(b) = 0.5 * (g.wlba(b) + g.wlba(b + 1));
    const double rb = g.wbin(b) / g.wbina(b);
    t.zls(b) = t.zld(b) + std::log10(rb);
    t.zms(b) = mc_spectrum(sc, b) + std::log10(rb);
    o.spcp.write("(I9, F16.6, F16.8, 2F16.5)", b, t.xls(b), rb, t.zls(b), t.zms(b));

    // dlambda = lambda ln10 DWL on the logarithmic grid.
    t40 = t40 + std::pow(10.0, (wlm - 40.0) + t.zld(b)) * g.dwl / loge;
  }
  t.zltot = std::log10(t40) + 40.0;

  observed_spectrum_and_photometry(p, c, g, t, est, sc, filters, o);
  o.out.list(" Finish formal ");
  o.out.write("(/ 5X 'Log L =' F8.4 5X 'WVM1 =' F7.4 4X 'WVM2 =' F7.4)", t.zltot, p.wvm1, p.wvm2);
}

}  // namespace mcspec
