// The formal integral of the transfer equation along a ray of impact parameter p
// through homologous ejecta (v = z VPH along the ray, z and p in units of R). A photon
// of observer frequency nu is in resonance with line i at z = (1 - nu_i / nu) / beta;
// between resonances electron scattering pulls I toward the local J, and each
// resonance attenuates and adds: I -> I e^-tau + S (1 - e^-tau).
#include <cmath>

#include "spectrum/spectrum.hpp"

namespace mcspec {

namespace {

// 1 - e^-x, the share of the way to equilibrium after an optical depth x; the series
// serves the many tiny segments between neighbouring resonances (error below 1e-13).
inline double relaxed_fraction(double x) {
  if (x < 1e-3) return x * (1.0 - 0.5 * x * (1.0 - x / 3.0));
  return -std::expm1(-x);
}

}  // namespace

int first_line_below(const LineList& ll, double nu) {
  const int nl = ll.nl;
  if (nl < 1 || nu > ll.frq(1)) return 1;
  if (!(nu > ll.frq(nl))) return nl + 1;
  // FRQ(lo) >= nu > FRQ(hi) throughout.
  int lo = 1, hi = nl;
  while (hi - lo > 1) {
    const int mid = (lo + hi) / 2;
    if (ll.frq(mid) >= nu)
      lo = mid;
    else
      hi = mid;
  }
  return hi;
}

FormalIntegral::FormalIntegral(const Params& p, const Constants& c, const Shells& s, const Plasma& pl,
                               const LineList& ll, const Opacity& op, const Array2<double>& ej,
                               const Array2<double>& sline, const Scaling& sc, OutFile& out)
    : p_(p), c_(c), s_(s), ll_(ll), op_(op), ej_(ej), sline_(sline), out_(&out), tb_(sc.tb), ith_(sc.ith) {
  xout_ = 1.0 / s.xs(s.nx);
  beta_ = p.vph * 100000.0 / std::pow(10.0, c.log_c());
  esfac_.assign(s.js);
  for (int k = 1; k <= s.js; ++k) esfac_(k) = pl.kapes(k) * std::pow(10.0, p.logr + s.logrh(k));
}

double FormalIntegral::boundary_intensity(double pp, double xnu) const {
  if (pp > 1.0) return 0.0;  // the ray misses the lower boundary
  if (p_.iopt[3] == 1) return bnu1(xnu, tb_, c_);
  if (p_.iopt[3] == 0 && p_.fth2 < xnu && xnu < p_.fth1) return ith_;
  return 0.0;
}

double FormalIntegral::intens(double pp, double xnu) const {
  // The ray runs from the visible face of the lower boundary (p <= 1) or from the back
  // of the outer sphere, to the front of the outer sphere at ZMAX.
  const double zmax = std::sqrt(xout_ * xout_ - pp * pp);
  const double z0 = pp <= 1.0 ? std::sqrt(1.0 - pp * pp) : -zmax;
  // Comoving frequencies at the two ends; the lines met are those with nu1 <= FRQ < nu0.
  const double nu0 = (1.0 - z0 * beta_) * xnu;
  const double nu1 = (1.0 - zmax * beta_) * xnu;
  const int i1 = first_line_below(ll_, nu0);
  const int i2 = first_line_below(ll_, nu1);

  double xin = boundary_intensity(pp, xnu);
  double zprev = z0;
  const double xe1 = p_.xe1;
  const double dx = s_.dx;
  const int js = s_.js;
  int shell = 0;
  const double* ej = nullptr;
  const double* etau = nullptr;
  const double* sline = nullptr;
  for (int i = i1; i < i2; ++i) {
    const double z = (1.0 - ll_.frq(i) / xnu) / beta_;
    double x = 1.0 / std::sqrt(pp * pp + z * z);  // R/r at the resonance point
    if (x <= xe1) {  // rounding put the point on or beyond the outer edge
      out_->list(" xkn=", x, " XE1=", xe1);
      x = xe1 + 0.0001;
    }
    int j = static_cast<int>((1.0 - x) * 0.5 / dx + 1.0);
    if (j > js) {
      out_->list(" J = ", j, " xkn=", x, " XE1=", xe1);
      j = js;
    }
    if (j <= 0) {
      out_->list(" J = ", j, " xkn=", x, " XE1=", xe1);
      j = 1;
    }
    if (j != shell) {
      shell = j;
      ej = ej_.column(j);
      etau = op_.etau.column(j);
      sline = sline_.column(j);
    }
    // Electron scattering on the segment since the last resonance: over its optical
    // depth dtau the intensity relaxes toward the local mean intensity J,
    // I -> I + (J - I)(1 - e^-dtau). The first-order step I + (J - I) dtau overshoots J
    // once dtau > 1 and turns the intensity negative in dense ejecta.
    const double dtau = (z - zprev) * esfac_(j);
    xin = xin + (ej[i - 1] - xin) * relaxed_fraction(dtau);
    xin = xin * etau[i - 1] + sline[i - 1];
    zprev = z;
  }
  // The segment after the last resonance gets no electron-scattering term.
  return xin;
}

}  // namespace mcspec
