// The formal integral of the transfer equation along a ray of impact parameter p
// through homologous ejecta (v = z VPH along the ray, z and p in units of R). A photon
// of observer frequency nu is in resonance with line i at z = (1 - nu_i / nu) / beta;
// between resonances electron scattering pulls I toward the local J, and each
// resonance attenuates and adds: I -> I e^-tau + S (1 - e^-tau).
#include <algorithm>
#include <cmath>
#include <limits>

#include "spectrum/line_maps.hpp"
#include "spectrum/spectrum.hpp"

namespace mcspec {

namespace {

// First position in lo + 1..hi with FRQ < nu, given FRQ(lo) >= nu > FRQ(hi) (frq is
// 0-based here); the bracket is halved without branches, so a search costs no
// mispredictions.
inline int bisect_below(const double* frq, int lo, int hi, double nu) {
  while (hi - lo > 1) {
    const int mid = (lo + hi) / 2;
    const bool above = frq[mid - 1] >= nu;
    lo = above ? mid : lo;
    hi = above ? hi : mid;
  }
  return hi;
}

}  // namespace

int first_line_below(const LineList& ll, double nu) {
  const int nl = ll.nl;
  if (nl < 1 || nu > ll.frq(1)) return 1;
  if (!(nu > ll.frq(nl))) return nl + 1;
  return bisect_below(ll.frq.data(), 1, nl, nu);
}

// What one ray needs along its length. The resonance of line i lies at
// z = (nu - FRQ(i)) zscale, zscale = 1/(nu beta); neighbouring resonances are
// (FRQ(i-1) - FRQ(i)) zscale apart, which keeps the segment lengths exact even
// where z itself is large.
struct FormalIntegral::Ray {
  double pp, p2;    // impact parameter and its square
  double xnu;       // observer-frame frequency [Hz]
  double zscale;    // dz per Hz of line frequency
  double z0;        // start of the ray
  int i1;           // first line met
  const double* frq;  // FRQ, 0-based
  double z(int i) const { return (xnu - frq[i - 1]) * zscale; }
  double r2(int i) const {
    const double zi = z(i);
    return p2 + zi * zi;
  }
  // Path length from the previous resonance (or from the start of the ray) to line i.
  double dz(int i) const { return i == i1 ? z(i) - z0 : (frq[i - 2] - frq[i - 1]) * zscale; }
};

FormalIntegral::FormalIntegral(const Params& p, const Constants& c, const Shells& s, const Plasma& pl,
                               const LineList& ll, const Opacity& op, const Array2<double>& ej,
                               const Array2<double>& sline, const Scaling& sc, OutFile& out)
    : p_(p), c_(c), s_(s), ll_(ll), op_(op), ej_(ej), sline_(sline), out_(&out), tb_(sc.tb), ith_(sc.ith) {
  xout_ = 1.0 / s.xs(s.nx);
  beta_ = p.vph * 100000.0 / std::pow(10.0, c.log_c());
  // The frequency spacing of neighbouring lines, which with the ray's 1/(nu beta) gives
  // the length of the segment between their resonances.
  gap_.assign(std::max(ll.nl, 1), 0.0);
  for (int i = 2; i <= ll.nl; ++i) gap_(i) = ll.frq(i - 1) - ll.frq(i);
  esfac_.assign(s.js);
  for (int k = 1; k <= s.js; ++k) esfac_(k) = pl.kapes(k) * std::pow(10.0, p.logr + s.logrh(k));
  // The shell number trunc((1 - x) / (2 DX) + 1) reaches k exactly when
  // x <= 1 - 2 DX (k - 1), that is r^2 >= 1/(1 - 2 DX (k - 1))^2.
  r2_edge_.assign(s.js + 1);
  for (int k = 1; k <= s.js + 1; ++k) {
    const double xk = 1.0 - 2.0 * s.dx * (k - 1);
    r2_edge_(k) = xk > 0.0 ? 1.0 / (xk * xk) : std::numeric_limits<double>::infinity();
  }
  // A relative margin of 1e-9 in r^2 is far above the rounding of x = 1/sqrt(r^2) and
  // of the shell formula, so no resonance between the guards can be clamped.
  const double r2_out = std::min(r2_edge_(s.js + 1), 1.0 / (p.xe1 * p.xe1));
  r2_inner_guard_ = 1.0 + 1e-9;
  r2_outer_guard_ = r2_out * (1.0 - 1e-9);
}

int FormalIntegral::shell_at(double r2) const {
  int j = 1;
  while (j < s_.js && r2 >= r2_edge_(j + 1)) ++j;
  return j;
}

double FormalIntegral::boundary_intensity(double pp, double xnu) const {
  if (pp > 1.0) return 0.0;  // the ray misses the lower boundary
  if (p_.iopt[3] == 1) return planck(xnu, tb_, c_);
  if (p_.iopt[3] == 0 && p_.fth2 < xnu && xnu < p_.fth1) return ith_;
  return 0.0;
}

bool FormalIntegral::near_edge(const Ray& ray, int i) const {
  const double r2 = ray.r2(i);
  return !(r2 > r2_inner_guard_ && r2 < r2_outer_guard_);
}

// A resonance within rounding of the lower boundary or the outer edge: the shell comes
// from x = R/r as the shell formula has it. A point on or beyond the outer edge is moved
// just inside it, a shell number out of range is clamped, each with its message.
double FormalIntegral::edge_step(const Ray& ray, int i, double xin, OutFile& out) const {
  const double z = (1.0 - ll_.frq(i) / ray.xnu) / beta_;
  double x = 1.0 / std::sqrt(ray.p2 + z * z);
  const double xe1 = p_.xe1;
  if (x <= xe1) {
    out.list(" xkn=", x, " XE1=", xe1);
    x = xe1 + 0.0001;
  }
  int j = static_cast<int>((1.0 - x) * 0.5 / s_.dx + 1.0);
  if (j > s_.js) {
    out.list(" J = ", j, " xkn=", x, " XE1=", xe1);
    j = s_.js;
  }
  if (j <= 0) {
    out.list(" J = ", j, " xkn=", x, " XE1=", xe1);
    j = 1;
  }
  return single_step(ray, i, j, xin);
}

// Electron scattering on the segment since the last resonance: over its optical depth
// dtau the intensity steps toward the local mean intensity J,
// I -> I + (J - I) min(dtau, 1) (the first-order step, held at J where dtau > 1 so that
// it cannot overshoot J and turn the intensity negative in dense ejecta); then the line:
// I -> I e^-tau + S (1 - e^-tau).
double FormalIntegral::single_step(const Ray& ray, int i, int j, double xin) const {
  const double f = relaxed_fraction(ray.dz(i) * esfac_(j));
  xin = xin + (ej_(i, j) - xin) * f;
  return xin * op_.etau(i, j) + sline_(i, j);
}

// Lines i, i + 1, ... of shell j with FRQ > nu_end (and before b); i is advanced past
// them. Each step is the affine map I -> a I + c with a = (1 - f) e^-tau and
// c = J f e^-tau + S; the maps of neighbouring lines are worked out side by side and
// composed before they touch the intensity.
double FormalIntegral::run_in_shell(const Ray& ray, int& i, int b, int j, double nu_end, double xin) const {
  const double* frq = ray.frq;
  if (i == ray.i1 && i < b && frq[i - 1] > nu_end) {  // the first segment starts at z0
    xin = single_step(ray, i, j, xin);
    ++i;
  }
  const ShellColumns col{ej_.column(j), op_.etau.column(j), sline_.column(j), ray.zscale * esfac_(j)};
  return across_shell(frq, gap_.data(), ll_.nl, col, i, b, nu_end, xin);
}

// Lines a..b-1, none within rounding of the edges. The shell along the ray follows r^2:
// on the approaching side (z < 0) it falls shell by shell to the one holding r = p, then
// rises again to the outer shell; each shell's run of lines ends at the line frequency
// whose resonance lies on the shell's edge, z = -/+ sqrt(r_edge^2 - p^2).
double FormalIntegral::interior(const Ray& ray, int a, int b, double xin) const {
  const int js = s_.js;
  int j = shell_at(ray.r2(a));
  bool inward = ray.z(a) < 0.0;
  const double nu_beta = ray.xnu * beta_;
  int i = a;
  while (i < b) {
    double nu_end = -std::numeric_limits<double>::infinity();
    int next = j;
    if (inward && j > 1 && r2_edge_(j) > ray.p2) {
      nu_end = ray.xnu + nu_beta * std::sqrt(r2_edge_(j) - ray.p2);
      next = j - 1;
    } else {
      inward = false;
      if (j < js) {
        nu_end = ray.xnu - nu_beta * std::sqrt(std::max(0.0, r2_edge_(j + 1) - ray.p2));
        next = j + 1;
      }
    }
    xin = run_in_shell(ray, i, b, j, nu_end, xin);
    j = next;
  }
  return xin;
}

double FormalIntegral::intens(double pp, double xnu, OutFile& out) const {
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
  if (i1 >= i2) return xin;
  const Ray ray{pp, pp * pp, xnu, 1.0 / (xnu * beta_), z0, i1, ll_.frq.data()};
  // r^2 runs monotonically away from the edges at both ends of the ray, so the
  // resonances within rounding of an edge are a few at its start and its end.
  int a = i1, b = i2;
  while (a < b && near_edge(ray, a)) xin = edge_step(ray, a++, xin, out);
  while (b > a && near_edge(ray, b - 1)) --b;
  if (a < b) xin = interior(ray, a, b, xin);
  for (int i = b; i < i2; ++i) xin = edge_step(ray, i, xin, out);
  // The segment after the last resonance gets no electron-scattering term.
  return xin;
}

}  // namespace mcspec
