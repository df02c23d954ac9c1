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

// The scatter of TR. TR is proportional to the weighted mean sum w nu / sum w of the
// comoving frequencies of the crossings; for weights independent of the frequency its
// relative standard error is (sigma_nu / <nu>) sqrt(sum w^2) / sum w (= 1/sqrt(N) for N
// equal weights; the 1/|mu| weights make the effective N smaller). Packets of equal
// energy sample the intensity B_nu, so <x^n> = int x^(3+n)/(e^x - 1) dx / int x^3/(e^x - 1) dx
// = (3+n)! zeta(4+n) / (3! zeta(4)): <x> = 4 zeta(5)/zeta(4) = 3.8322295, <x^2> =
// 20 zeta(6)/zeta(4) = 18.799246, sigma_x/<x> = sqrt(18.799246 - 3.8322295^2)/3.8322295
// = 0.5292267 (a midpoint sum over 0 < x < 60 gives the same). The damped step changes TR
// by 0.7 (estimate - old TR), and the old TR carries the scatter of the earlier estimates
// too: at a fixed point TR = 0.3 TR' + 0.7 estimate has variance 0.49 / (1 - 0.09) sigma^2,
// so the change has standard deviation 0.7 sqrt(1 + 0.49/0.91) sigma = 0.868 sigma.
// The 1-2-1 smoothing lowers the scatter of the change; the repeated crossings of one
// packet raise it (measured at NP4 = 1 on the SN 2011fe example: about 1.3 x in all);
// kNoiseSigmas = 3, for the largest of up to 85 shells, covers both.
double converged_change(double weight_error) {
  const double change_per_sigma = kStep * std::sqrt(1 + kStep * kStep / (1 - kKeep * kKeep));
  return std::max(kConvergedChange, kNoiseSigmas * change_per_sigma * kPlanckFrequencySpread * weight_error);
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

  // After a warm start each shell's change is measured in units of its allowance
  // (converged_change), scaled so that kConvergedChange remains the bound.
  const bool noise_aware = first_check < kFirstCheckedPass;
  double dsum = 0, dmax = 0, dtest = 0;
  for (int j = 1; j <= js; ++j) {
    s.te(j) = 0.9 * s.tr(j);
    const double change = std::abs(s.tr(j) - tro[static_cast<std::size_t>(j)]) / tro[static_cast<std::size_t>(j)];
    dsum += change;
    // A shell without mid-point crossings has no temperature estimate (not a number):
    // it keeps the largest change undefined, so the schedule is not shortened.
    if (std::isnan(change) || change > dmax) dmax = change;
    const double scaled = noise_aware ? change * kConvergedChange / converged_change(est.rq(j, 10)) : change;
    if (std::isnan(scaled) || scaled > dtest) dtest = scaled;
  }
  const double dmean = 100 * dsum / js;

  sc.tb = kKeep * sc.tb + kStep * tstar / std::pow(est.flxout, 0.25);
  write_pass_report(pass, dmean, tstar, p, c, s, est, sc, stst);
  if (largest_change != nullptr) *largest_change = dmax;
  return next_temperature_pass(pass, dtest, first_check);
}

}  // namespace mcspec
