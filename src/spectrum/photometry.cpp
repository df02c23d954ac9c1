// Building blocks of the observed spectrum: the UBVR filter table and its
// interpolation, the extinction law, seven-point smoothing, and the black body that
// carries the run's bolometric flux for comparison.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "base/errors.hpp"
#include "spectrum/spectrum.hpp"

namespace mcspec {

void read_filters(InFile& filters, FilterTable& ft) {
  for (int i = 1; i <= kFilterRows; ++i) {
    double w = 0, u = 0, b = 0, v = 0, r = 0;
    filters.read("(F9.1, 4F8.3)", {w, u, b, v, r});
    // The interpolation finds a wavelength's row as (lambda - 3000) / 50 + 1: the table
    // must be on that grid.
    const double expected = 3000.0 + 50.0 * (i - 1);
    if (!(std::abs(w - expected) <= 0.05)) {
      char msg[200];
      std::snprintf(msg, sizeof msg,
                    "filter row %d is at %.1f A; expected %.1f A (rows every 50 A from 3000 to 8400 A)", i, w,
                    expected);
      throw InputError(filters.source_name(), filters.record_number(), 1, msg);
    }
    ft.wvr(i) = w;
    ft.rs(i, 1) = u;
    ft.rs(i, 2) = b;
    ft.rs(i, 3) = v;
    ft.rs(i, 4) = r;
  }
}

double filter_transmission(const FilterTable& ft, double lambda, int f) {
  // Row k holds the tabulated point just below lambda; d is the offset into the row.
  // 3050 < lambda < 8350 keeps rows k - 1 and k + 2 inside the table.
  const int k = static_cast<int>((lambda - 3000.0) / 50.0 + 1.0);
  const double d = lambda - ft.wvr(k);
  const auto& rs = ft.rs;
  return rs(k, f) + (rs(k + 1, f) - rs(k, f)) / 50.0 * d +
         (rs(k + 2, f) - rs(k + 1, f) - rs(k, f) + rs(k - 1, f)) * 0.25 / 2500.0 * d * (d - 50.0);
}

double reddening_curve(double lambda) {
  // A_lambda / E(B-V) = 3.1 + 2.002 (1/lambda - 1/0.55), lambda in micron.
  return (10000.0 / lambda - 1.8181818181818181) * 2.002 + 3.1;
}

double savitzky_golay7(const Array1<double>& f, int c) {
  const double s = 7.0 * f(c) + 6.0 * (f(c - 1) + f(c + 1)) + 3.0 * (f(c - 2) + f(c + 2)) -
                   2.0 * (f(c - 3) + f(c + 3));
  return std::max(0.0, s) / 21.0;
}

double blackbody_flux(const Constants& c, double lambda, double dl, double tb, double fbol) {
  const double h = std::pow(10.0, c.log_h());
  const double cl = std::pow(10.0, c.log_c());
  const double k = std::pow(10.0, c.log_k());
  const double sigma = std::pow(10.0, c(Constants::kLogSigma));
  const double pi = c.pi();
  const double lam = lambda * 1e-08;  // [cm]
  const double x = h * cl / (lam * k * tb);
  // B_lambda [erg s^-1 cm^-2 cm^-1 sr^-1]; beyond x = 88 it is negligible and exp(x)
  // would head for overflow.
  const double blam = x <= 88.0 ? 2.0 * h * cl * cl / std::pow(lam, 5) / (std::exp(x) - 1.0) : 0.0;
  // pi B_lambda / (sigma T^4) is the fraction of the bolometric flux per cm: times the
  // bin width gives the bin's share of FBOL, per A.
  return ((1e-08 * dl) * blam) / (sigma * std::pow(tb, 4) / pi) * fbol / dl;
}

}  // namespace mcspec
