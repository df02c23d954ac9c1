// Temperature iteration. A black body's intensity-weighted mean frequency is
// 3.8322295 kT/h, so the mean comoving frequency counted at a shell's mid-point gives
// its radiation temperature TR; the mean intensity relative to a black body at T*
// gives the dilution factor W = (T*/TR)^4 J. Both are damped (70 % of the step) and
// smoothed across the shells; TE = 0.9 TR. The boundary temperature moves towards
// the T* / FLXOUT^(1/4) whose escaping flux equals that of T*.
#include "montecarlo/temperature_update.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "base/errors.hpp"

namespace mcspec {

namespace {

constexpr double kBlackBodyMeanX = 3.8322295;  // <h nu / k T>, intensity-weighted
// Damping: each pass keeps 0.3 of the old value and takes 0.7 of the new estimate.
constexpr double kKeep = 0.3;
constexpr double kStep = 0.7;

void write_pass_report(int iter, double dmean, double tstar, const Params& p, const Constants& c, Shells& s,
                       const Estimators& est, const Scaling& sc, OutFile& stst) {
  stst.list(" TEMP IT no:", iter);
  stst.write("(/ F8.1 2F12.4 '   T* = ' F7.1 '   TB = ' F7.1)", dmean, c(Constants::kLogSigmaT), est.flxout,
             tstar, sc.tb);
  if (s.vs.size() < s.js) s.vs.assign(s.js);
  for (int j = 1; j <= s.js; ++j) s.vs(j) = p.vph / s.xs(2 * j);  // mid-point velocity [km/s]
  write_shell_table(s, stst);
}

}  // namespace

void smooth(std::span<double> a) {
  const std::size_t n = a.size();
  if (n < 3) return;
  double previous = a[0];  // A(j-1) before smoothing
  for (std::size_t j = 1; j + 1 < n; ++j) {
    const double current = a[j];
    a[j] = 0.25 * (previous + 2 * current + a[j + 1]);
    previous = current;
  }
  a[0] = 2 * a[1] - a[2];
  a[n - 1] = 2 * a[n - 2] - a[n - 3];
}

int next_temperature_pass(int pass, double dmax, int first_check) {
  if (dmax < kConvergedChange && pass >= first_check) return std::max(pass + 1, kLastTemperaturePass);
  return pass + 1;
}

int update_temperatures(int pass, const Params& p, const Constants& c, Shells& s, Estimators& est, Scaling& sc,
                        OutFile& stst, int first_check, double* largest_change) {
  const int js = s.js;
  if (js < kMinShells || js > kMaxShells) {
    throw InputError("dica.dat", 4, 1,
                     "JS = " + std::to_string(js) + ": the temperature smoothing needs 3 to 85 shells");
  }
  const double h_over_k = std::pow(10.0, c.log_h() - c.log_k());
  const double tstar = std::pow(10.0, p.logteff);

  std::array<double, kMaxShells + 1> tro{};
  for (int j = 1; j <= js; ++j) tro[static_cast<std::size_t>(j)] = s.tr(j);
  for (int j = 1; j <= js; ++j) {
    const double estimate = h_over_k * est.rq(j, 8) / kBlackBodyMeanX;
    const double tr = kKeep * tro[static_cast<std::size_t>(j)] + kStep * estimate;
    s.tr(j) = tr;
    s.w(j) = std::pow(tstar / tr, 4) * est.rq(j, 1);  // from the damped, unsmoothed TR
  }
  smooth(std::span<double>(s.tr.data(), static_cast<std::size_t>(js)));
  smooth(std::span<double>(s.w.data(), static_cast<std::size_t>(js)));

  double dsum = 0, dmax = 0;
  for (int j = 1; j <= js; ++j) {
    s.te(j) = 0.9 * s.tr(j);
    const double change = std::abs(s.tr(j) - tro[static_cast<std::size_t>(j)]) / tro[static_cast<std::size_t>(j)];
    dsum += change;
    // A shell without mid-point crossings has no temperature estimate (not a number):
    // it keeps the largest change undefined, so the schedule is not shortened.
    if (std::isnan(change) || change > dmax) dmax = change;
  }
  const double dmean = 100 * dsum / js;

  sc.tb = kKeep * sc.tb + kStep * tstar / std::pow(est.flxout, 0.25);
  write_pass_report(pass, dmean, tstar, p, c, s, est, sc, stst);
  if (largest_change != nullptr) *largest_change = dmax;
  return next_temperature_pass(pass, dmax, first_check);
}

}  // namespace mcspec
