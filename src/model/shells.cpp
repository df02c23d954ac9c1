// Ejecta model: a density profile rho(r) given at time t_m is carried to the epoch
// DAY by homologous expansion (r ~ t, rho ~ t^-3) and sampled at the centres of JS
// shells laid uniformly in x = R/r between the photosphere (x = 1) and x = XE1.
// Each shell also gets its velocity VPH/x, its geometric dilution factor
// W = (1 - sqrt(1 - x^2))/2 and the starting temperatures.
#include <cmath>
#include <string>
#include <vector>

#include "base/errors.hpp"
#include "model/shells.hpp"

namespace mcspec {
namespace {

// The input profile in log10 (radius [cm], density [g cm^-3]), at time dt1sec [s].
struct Profile {
  int lmax = 0;
  double dt1sec = 0;
  std::vector<double> zrd1, zrh1;  // 0-based storage of ZRD1(l), ZRH1(l)
  double zrd(int l) const { return zrd1[static_cast<std::size_t>(l - 1)]; }
  double zrh(int l) const { return zrh1[static_cast<std::size_t>(l - 1)]; }
};

// Record 1: LMAX, DT1SEC; then LMAX records: point number, velocity, radius, density.
// Radii and densities must be positive (they are used as logarithms) and the radii
// must increase (the cell boundaries and the interpolation assume it).
Profile read_profile(InFile& hydro) {
  Profile pr;
  hydro.list(pr.lmax, pr.dt1sec);
  const std::string& file = hydro.source_name();
  if (pr.lmax < 2 || pr.lmax > kMaxProfilePoints)
    throw InputError(file, hydro.record_number(), 1,
                     "the number of profile points must lie between 2 and " + std::to_string(kMaxProfilePoints) +
                         ", found " + std::to_string(pr.lmax));
  if (!(pr.dt1sec > 0.0))
    throw InputError(file, hydro.record_number(), 2, "the time of the profile must be a positive number of seconds");
  pr.zrd1.resize(static_cast<std::size_t>(pr.lmax));
  pr.zrh1.resize(static_cast<std::size_t>(pr.lmax));
  for (int l = 1; l <= pr.lmax; ++l) {
    int index = 0;
    double velocity = 0, rd = 0, rh = 0;
    hydro.list(index, velocity, rd, rh);
    const long rec = hydro.record_number();
    if (!(rd > 0.0) || !std::isfinite(rd))
      throw InputError(file, rec, 3, "the radius must be a positive number of cm");
    if (!(rh > 0.0) || !std::isfinite(rh))
      throw InputError(file, rec, 4, "the density must be a positive number of g/cm3");
    pr.zrd1[static_cast<std::size_t>(l - 1)] = std::log10(rd);
    pr.zrh1[static_cast<std::size_t>(l - 1)] = std::log10(rh);
    if (l > 1 && !(pr.zrd(l) > pr.zrd(l - 1)))
      throw InputError(file, rec, 3, "the radii of the profile must increase from point to point");
  }
  return pr;
}

// Mass and kinetic-energy table of the input profile. M_l is the mass of the
// spherical layer between points l-1 and l (trapezoid in r), N_l that of the cell
// between the log-midpoints ZROUT; E sums (1/2) N_l v_l^2 in Msun (cm/s)^2.
void write_profile_table(const Profile& pr, const Constants& c, OutFile& stst) {
  const int lmax = pr.lmax;
  std::vector<double> zrout(static_cast<std::size_t>(lmax + 1));
  for (int l = 1; l < lmax; ++l) zrout[static_cast<std::size_t>(l)] = (pr.zrd(l) + pr.zrd(l + 1)) / 2.0;
  zrout[static_cast<std::size_t>(lmax)] = pr.zrd(lmax);
  auto rout = [&](int l) { return std::pow(10.0, zrout[static_cast<std::size_t>(l)]); };

  stst.write("(/ 5X '  RADIUS  ' '  VELOCITY ' ' DENSITY  ' '  MASS  ' '  TOT. MASS' '   NEWMASS ' "
             "'NEWTOT. MASS' ' Kin. En.')");
  const double msun = std::pow(10.0, c(Constants::kLogMsun));
  const double pi = c.pi();
  const char* row = "(I4, D10.2, F10.2, D10.2, 5D11.3)";

  std::vector<double> rd1(static_cast<std::size_t>(lmax + 1)), rh1(rd1.size()), vk1(rd1.size());
  for (int l = 1; l <= lmax; ++l) {
    const auto i = static_cast<std::size_t>(l);
    rd1[i] = std::pow(10.0, pr.zrd(l));
    rh1[i] = std::pow(10.0, pr.zrh(l));
    vk1[i] = rd1[i] / pr.dt1sec / 1e5;
  }
  const double m1 = 4.0 / 3.0 * pi * rd1[1] * rd1[1] * rd1[1] * rh1[1] / msun;       // REFM
  const double n1 = 4.0 / 3.0 * pi * std::pow(rout(1), 3) * rh1[1] / msun;            // REFMNEW
  double tot = m1, ntot = n1;
  double ekin = 0.5 * n1 * (1e5 * vk1[1]) * (1e5 * vk1[1]);
  stst.write(row, 1, rd1[1], vk1[1], rh1[1], m1, tot, n1, ntot, ekin);
  for (int l = 2; l <= lmax; ++l) {
    const auto i = static_cast<std::size_t>(l);
    const double rm = (rd1[i - 1] + rd1[i]) / 2.0;
    const double ml = 4.0 * pi * rm * rm * rh1[i] * (rd1[i] - rd1[i - 1]) / msun;
    const double nl = 4.0 / 3.0 * pi * (std::pow(rout(l), 3) - std::pow(rout(l - 1), 3)) * rh1[i] / msun;
    tot += ml;
    ntot += nl;
    ekin += 0.5 * nl * (1e5 * vk1[i]) * (1e5 * vk1[i]);
    stst.write(row, l, rd1[i], vk1[i], rh1[i], ml, tot, nl, ntot, ekin);
  }
  // Kinetic energy [erg] as a logarithm: E is in Msun (cm/s)^2.
  stst.list("/, Kin. En. = ", std::log10(ekin) + c(Constants::kLogMsun));
}

// The interval l of the profile used for log r = y: the bracketing one inside the
// profile, the first or last one outside it (linear extrapolation in log-log).
int profile_interval(const Profile& pr, double y) {
  if (y >= pr.zrd(pr.lmax)) return pr.lmax - 1;
  if (y < pr.zrd(1)) return 1;
  int lo = 1, hi = pr.lmax;  // zrd(lo) <= y < zrd(hi)
  while (hi - lo > 1) {
    const int mid = (lo + hi) / 2;
    if (pr.zrd(mid) <= y) lo = mid; else hi = mid;
  }
  return lo;
}

// Densities at the shell centres. A shell centre at x has radius R/x at DAY, i.e.
// log r = LOGR - log x + s at t_m with s = log10(t_m / DAY); the density found there
// is scaled by (t_m / DAY)^3 to the epoch.
void fill_shells(const Params& p, const Profile& pr, Shells& s) {
  if (!(p.day > 0.0)) throw InputError("the epoch DAY must be a positive number of days");
  const double tm_days = pr.dt1sec / 86400.0;
  const double sc = std::log10(tm_days / p.day);
  const double teff = std::pow(10.0, p.logteff);
  for (int j = 1; j <= s.js; ++j) {
    s.tr(j) = teff;
    s.te(j) = 0.9 * teff;
  }
  for (int j = 1; j <= s.js; ++j) {
    const double x = s.xs(2 * j);
    const double y = p.logr - std::log10(x) + sc;
    const int l = profile_interval(pr, y);
    s.logrh(j) = pr.zrh(l) + (pr.zrh(l + 1) - pr.zrh(l)) / (pr.zrd(l + 1) - pr.zrd(l)) * (y - pr.zrd(l)) + 3.0 * sc;
    s.vs(j) = p.vph / x;
    s.w(j) = 0.5 * (1.0 - std::sqrt(1.0 - x * x));
  }
}

// Shell masses [Msun]: volume (4/3) pi R^3 (1/x_out^3 - 1/x_in^3) times the density.
void write_shell_masses(const Params& p, const Constants& c, const Shells& s, OutFile& stst) {
  stst.write("(/ 6X 'XS' 6X 'VS' 8X 'LOG RH' 6X 'TE' 7X 'TR' 7X 'W' 4X 'SH M    TOTM' /)");
  const double r3 = std::pow(10.0, 3.0 * p.logr);
  const double msun = std::pow(10.0, c(Constants::kLogMsun));
  double total = 0;
  for (int j = 1; j <= s.js; ++j) {
    const double xo = s.xs(2 * j + 1), xi = s.xs(2 * j - 1);
    const double mass =
        (1.0 / (xo * xo * xo) - 1.0 / (xi * xi * xi)) * r3 / msun * (4.0 / 3.0 * c.pi()) * std::pow(10.0, s.logrh(j));
    total += mass;
    stst.write("(5F10.2, 3F7.3)", s.xs(2 * j), s.vs(j), s.logrh(j), s.te(j), s.tr(j), s.w(j), mass, total);
  }
}

}  // namespace

void lay_x_grid(const Params& p, Shells& s) {
  if (p.js < 1 || p.js > kMaxShells)
    throw InputError("the number of shells JS = " + std::to_string(p.js) + " is outside 1.." +
                     std::to_string(kMaxShells));
  if (!(p.xe1 > 0.0 && p.xe1 < 1.0))
    throw InputError("XE1, x = R/r at the outer edge of the model, must lie between 0 and 1");
  s.js = p.js;
  s.nx = 2 * p.js + 1;
  s.dx = (1.0 - p.xe1) / (2.0 * p.js);
  s.xs.assign(s.nx);
  for (int i = 1; i <= s.nx; ++i) s.xs(i) = 1.0 - (i - 1) * s.dx;
  s.vs.assign(s.js);
  s.logrh.assign(s.js);
  s.dvol.assign(s.js);
  s.tr.assign(s.js);
  s.te.assign(s.js);
  s.w.assign(s.js);
}

void write_shell_table(const Shells& s, OutFile& stst) {
  stst.write("(/ 8X 'XS' 8X 'VS' 10X 'LOG RH' 7X 'TE' 10X 'TR' 9X 'W' /)");
  for (int j = 1; j <= s.js; ++j)
    stst.write("(5F12.2, F9.3)", s.xs(2 * j), s.vs(j), s.logrh(j), s.te(j), s.tr(j), s.w(j));
}

void build_shells(const Params& p, const Constants& c, InFile& hydro, Shells& s, OutFile& stst, OutFile& out) {
  lay_x_grid(p, s);
  const Profile pr = read_profile(hydro);
  write_profile_table(pr, c, stst);
  fill_shells(p, pr, s);
  write_shell_masses(p, c, s, stst);
  write_shell_table(s, stst);
  // Shell volumes in units of (4/3) pi R^3.
  for (int j = 1; j <= s.js; ++j) {
    const double xo = s.xs(2 * j + 1), xi = s.xs(2 * j - 1);
    s.dvol(j) = 1.0 / (xo * xo * xo) - 1.0 / (xi * xi * xi);
  }
  out.write("(/ 5X 'Structure ' 'calculated')");
}

}  // namespace mcspec
