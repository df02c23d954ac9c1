// Strong lines of the observed window. In a homologous flow a line absorbs, in every
// shell, the band of wavelengths Doppler-shifted across the shell's velocity range,
// (1 - e^-tau) lambda (v_out - v_in)/c: summed over the shells this is the line's
// Sobolev equivalent width (Angstrom), and its weighted mean of (1 - v/c) lambda the
// blue-shifted wavelength of the absorption trough.
#include <algorithm>
#include <array>
#include <cmath>

#include "base/air_vacuum.hpp"
#include "montecarlo/estimators.hpp"
#include "montecarlo/transport.hpp"

namespace mcspec {

namespace {

// Vacuum wavelength [Angstrom] to air above 2000 Angstrom (Edlen 1953).
double air_wavelength(double lambda) {
  if (lambda <= 2000) return lambda;
  const double s2 = (1e4 / lambda) * (1e4 / lambda);
  return lambda / edlen_index(s2);
}

}  // namespace

void write_strong_lines(const McInputs& in, OutFile& sbib) {
  const Shells& s = in.s;
  const LineList& ll = in.ll;
  const Constants& c = in.c;
  const double beta_lb = in.p.vph * 1e5 / std::pow(10.0, c.log_c());
  std::array<double, kMaxGridPoints + 1> us{};
  for (int i = 1; i <= s.nx; ++i) us[static_cast<std::size_t>(i)] = beta_lb / s.xs(i);
  const double c_ang = std::pow(10.0, c.log_c() + 8);
  const double hc_over_ev = std::pow(10.0, c.log_h() - c(Constants::kLogEv) + c.log_c());  // eV cm

  double xlob = 0;
  for (int k = 1; k <= ll.nl; ++k) {
    const int m = ll.transition_at(k);
    const double lambda = air_wavelength(c_ang / ll.frq(k));
    if (!(in.p.wvm1 * 1e4 < lambda && lambda < in.p.wvm2 * 1e4)) continue;
    double s1 = 0, s2 = 0;
    for (int j = 1; j <= s.js; ++j) {
      const double t = std::min(in.op.tau(k, j), 20.0);
      if (t < 0) continue;  // an inverted line absorbs nothing
      const double dv = us[static_cast<std::size_t>(2 * j + 1)] - us[static_cast<std::size_t>(2 * j - 1)];
      const double absorbed = 1 - std::exp(-t);
      s1 += absorbed * dv * lambda;
      s2 += (1 - us[static_cast<std::size_t>(2 * j)]) * lambda * absorbed * dv * lambda;
    }
    if (s1 > 0) xlob = s2 / s1;
    if (s1 > 1.0 && in.p.wv1 <= lambda && lambda <= in.p.wv2) {
      const Species sp = species_of(ll.zcode(m));
      sbib.write("(F9.3 F8.1 F12.2 3X A3 A5 F10.2 F12.2 F9.3)", s1, xlob, lambda,
                 in.a.elsym.at(static_cast<std::size_t>(sp.z)), in.a.stlab.at(static_cast<std::size_t>(sp.stage)),
                 ll.elow(k) * hc_over_ev, ll.elow(k), ll.loggf(m));
    }
  }
}

}  // namespace mcspec
