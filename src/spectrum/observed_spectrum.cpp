// The spectrum as an observer sees it: luminosities per unit air wavelength become
// fluxes F_lambda = L_lambda / (4 pi D^2) at the distance of the distance modulus,
// smoothed and reddened (E(B-V) at the emitted and at the redshifted wavelength), and
// UBVR magnitudes, colours and the bolometric magnitude of the Monte Carlo spectrum.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "base/errors.hpp"
#include "base/text.hpp"

#include "spectrum/spectrum.hpp"

namespace mcspec {
namespace {

constexpr double kParsec = 3.0857e+18;  // [cm]
// Zero points of U, B, V, R (index 1..4): magnitudes of a flux of 1 erg s^-1 cm^-2 A^-1.
constexpr std::array<double, 5> kZeroPoint = {0.0, 20.88446, 20.50141, 21.07875, 21.6027};

// Dimming 10^(-0.4 A_lambda) by a colour excess ebv at wavelength lambda [A].
double extinction_factor(double lambda, double ebv) { return std::pow(10.0, reddening_curve(lambda) * ebv * -0.4); }

// Air bin-centre wavelength [A].
// A value with four significant digits, for messages.
std::string rounded(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4g", v);
  return buf;
}

double bin_wavelength(const SpectrumTables& t, int b) { return std::pow(10.0, t.xls(b) + 4.0); }

struct FluxTables {
  Array1<double> dl;  // bin width [A]
  Array1<double> fm;  // Monte Carlo flux [erg s^-1 cm^-2 A^-1]
  Array1<double> ff;  // formal-integral flux
  Array1<double> bb;  // black-body comparison flux
  Array1<double> rm;  // reddened, smoothed Monte Carlo flux, for the photometry
};

// Unsmoothed fluxes at the observer. rm starts as the reddened, unsmoothed Monte Carlo
// flux so that bins the smoothing does not reach (the three at each end) still have a
// defined value for the photometry.
double observed_fluxes(const Params& p, const Constants& c, const WavelengthGrid& g, const SpectrumTables& t,
                       double logd, double tb, double fbol, FluxTables& fx) {
  const double pi = c.pi();
  const int kg = g.kg;
  fx.dl.assign(kg);
  fx.fm.assign(kg);
  fx.ff.assign(kg);
  fx.bb.assign(kg);
  fx.rm.assign(kg);
  double intf = 0.0;
  for (int b = 1; b <= kg; ++b) {
    fx.dl(b) = g.wbina(b) * 10000.0;
    fx.fm(b) = std::pow(10.0, t.zms(b) - 8.0 - 2.0 * logd) * 0.25 / pi;  // per cm -> per A: 1e-8
    fx.ff(b) = std::pow(10.0, t.zls(b) - 8.0 - 2.0 * logd) * 0.25 / pi;
    intf += fx.fm(b) * fx.dl(b);
    const double lambda = bin_wavelength(t, b);
    fx.bb(b) = blackbody_flux(c, lambda, fx.dl(b), tb, fbol);
    fx.rm(b) = fx.fm(b) * extinction_factor(lambda, p.ebvh) * extinction_factor(lambda * (p.zred + 1.0), p.ebvg);
  }
  return intf;
}

// Seven-point smoothing and reddening of bins 4..KG-3; the bins inside (WVM1, WVM2)
// get their smoothed reddened Monte Carlo flux and a spct record.
void smooth_and_redden(const Params& p, const SpectrumTables& t, int kg, FluxTables& fx, OutFile& spct) {
  if (kg < 7) return;
  for (int b = 4; b <= kg - 3; ++b) {
    const double lambda = bin_wavelength(t, b);
    const double sf = savitzky_golay7(fx.ff, b);
    const double sm = savitzky_golay7(fx.fm, b);
    const double a1 = extinction_factor(lambda, p.ebvh);
    const double a2 = extinction_factor(lambda * (p.zred + 1.0), p.ebvg);
    const double rf = sf * a1 * a2;
    const double rm = sm * a1 * a2;
    const double rb = fx.bb(b) * a1 * a2;
    if (p.wvm1 < lambda / 10000.0 && lambda / 10000.0 < p.wvm2) {
      fx.rm(b) = rm;
      spct.write("(F9.2, 4E15.5, E15.5)", lambda, sf, rf, sm, rm, rb);
    }
  }
}

struct FilterSums {
  std::array<double, 5> xmg{};   // sum T F dlambda, unreddened
  std::array<double, 5> xmgr{};  // the same, reddened
  std::array<double, 5> xmgf{};  // sum T dlambda
  int bins = 0;
};

FilterSums filter_sums(const FilterTable& ft, const SpectrumTables& t, int kg, const FluxTables& fx) {
  FilterSums s;
  for (int b = 1; b <= kg; ++b) {
    const double lambda = bin_wavelength(t, b);
    if (!inside_filter_range(lambda)) continue;
    ++s.bins;
    for (std::size_t f = 1; f <= 4; ++f) {
      const double tr = filter_transmission(ft, lambda, static_cast<int>(f));
      s.xmgr[f] += tr * (fx.rm(b) * fx.dl(b));
      s.xmg[f] += tr * (fx.dl(b) * fx.fm(b));
      s.xmgf[f] += tr * fx.dl(b);
    }
  }
  return s;
}

void warn_empty_filters(const FilterSums& s, OutFile& out) {
  if (s.bins == 0) {
    out.list(" Warning: no wavelength bin lies strictly between 3050 and 8350 A;"
             " the U, B, V, R magnitudes are undefined");
    return;
  }
  static const char* const names[] = {"", "U", "B", "V", "R"};
  std::string zero;
  for (std::size_t f = 1; f <= 4; ++f)
    if (s.xmgf[f] == 0.0) zero += std::string(zero.empty() ? "" : ", ") + names[f];
  if (!zero.empty())
    out.list(" Warning: the filter transmission is zero over every bin for " + zero +
             "; those magnitudes are undefined");
}

// Writes one report record to sbib, stst and standard output, in that order.
template <class... T>
void report(SpectrumOutput& o, const char* fmt, const T&... v) {
  o.sbib.write(fmt, v...);
  o.stst.write(fmt, v...);
  o.out.write(fmt, v...);
}

}  // namespace

void check_observer(const Params& p, const Constants& c, const std::string& dica) {
  if (!(p.zred > -1.0 && std::isfinite(p.zred)))
    throw InputError(dica, p.record_epoch, 3,
                     "ZRED = " + text_of(p.zred) +
                         " must be a number above -1 (the redshift: 1 + ZRED is the ratio of observed to emitted "
                         "wavelength)");
  constexpr double kLargestLogFlux = 150.0;  // |log10| of the bolometric flux [erg s^-1 cm^-2]
  const double logd = 0.2 * p.dmod + 1.0 + std::log10(kParsec);
  const double logf = p.logls + c(Constants::kLogLsun) - 2.0 * logd - std::log10(4.0 * c.pi());
  if (!(std::fabs(logf) <= kLargestLogFlux))
    throw InputError(dica, p.record_epoch, 2,
                     "DMOD = " + text_of(p.dmod) + " puts the supernova at 10^" + rounded(logd) +
                         " cm, where its bolometric flux is 10^" + rounded(logf) +
                         " erg/s/cm2, beyond the range of the observed spectrum and magnitudes (10^-150 to 10^150)");
  constexpr double kLargestLogDimming = 50.0;  // |log10| of 10^(-0.4 A_lambda)
  const struct {
    double ebv, stretch;  // E(B-V), and the factor from emitted to the wavelength it applies at
    int field;
    const char* where;
  } excesses[] = {{p.ebvg, 1.0 + p.zred, 1, "observed"}, {p.ebvh, 1.0, 2, "emitted"}};
  for (const auto& e : excesses) {
    const double lo = p.wvm1 * 1e4 * e.stretch, hi = p.wvm2 * 1e4 * e.stretch;  // [A]
    const double a = 0.4 * std::fabs(e.ebv) * std::max(std::fabs(reddening_curve(lo)), std::fabs(reddening_curve(hi)));
    if (!(a <= kLargestLogDimming))
      throw InputError(dica, p.record_reddening, e.field,
                       "E(B-V) = " + text_of(e.ebv) + " at the " + e.where + " wavelength changes the flux by up to 10^" +
                           rounded(e.ebv < 0 ? a : -a) + " over the grid WVM1..WVM2, beyond the range of the observed "
                           "spectrum and magnitudes (10^-50 to 10^50)");
  }
}

Photometry observed_spectrum_and_photometry(const Params& p, const Constants& c, const WavelengthGrid& g, const SpectrumTables& t,
                  const Estimators& est, const Scaling& sc, InFile& filters, SpectrumOutput& o) {
  Photometry ph;
  o.out.list(" start Spectr ");
  o.sbib.write("(/ '   DT =' F6.2 '   LOG R/RS =' F7.3 '   LOG L/LS =' F7.3)", p.day, p.logrrs, p.logls);
  o.sbib.write("('      TAUB =' F5.1 '       NPR =' I8)", p.logtaug, p.npk);

  FilterTable ft;
  read_filters(filters, ft);

  // Distance from the modulus, m - M = 5 log10(D / 10 pc); FBOL = L / (4 pi D^2).
  const double pi = c.pi();
  const double logl = p.logls + c(Constants::kLogLsun);
  ph.distance = std::pow(10.0, 0.2 * p.dmod + 1.0);
  o.sbib.write("('  DISTANCE ' F8.3 F14.1)", p.dmod, ph.distance);
  o.sbib.write("('  E(B-V)= ' 2F8.2)", p.ebvg, p.ebvh);
  const double logd = std::log10(ph.distance * kParsec);
  ph.fbol = std::pow(10.0, logl - logd - logd) * 0.25 / pi;

  const int kg = g.kg;
  FluxTables fx;
  ph.intf = observed_fluxes(p, c, g, t, logd, sc.tb, ph.fbol, fx);
  smooth_and_redden(p, t, kg, fx, o.spct);

  const FilterSums s = filter_sums(ft, t, kg, fx);
  ph.bins = s.bins;
  warn_empty_filters(s, o.out);
  for (std::size_t f = 1; f <= 4; ++f) {
    ph.mag[f] = -2.5 * std::log10(s.xmg[f] / s.xmgf[f]) - kZeroPoint[f];
    ph.mag_red[f] = -2.5 * std::log10(s.xmgr[f] / s.xmgf[f]) - kZeroPoint[f];
  }
  const auto& m = ph.mag;
  const auto& r = ph.mag_red;
  ph.mbol = (c(Constants::kMbolSun) - 5.0 - 2.5 * p.logls) + 5.0 * std::log10(ph.distance);
  ph.bc = ph.mbol - m[3];

  const double pw2 = est.pw.size() >= 2 ? est.pw(2) : 0.0;
  o.stst.write("(5X 'POWER: ' E12.4 4X 'INPUT FLUX: ' E12.4 4X 'INT. FLUX:' E12.4)", pw2, ph.fbol, ph.intf);
  report(o, "(/ 'UNREDD. MAGS: U=   ' F7.3 ' B=   ' F7.3 ' V=   ' F7.3 ' R=   ' F7.3)", m[1], m[2], m[3], m[4]);
  report(o, "('UNREDD. COL.: U-B =' F7.3 ' B-V =' F7.3 ' V-R =' F7.3 /)", m[1] - m[2], m[2] - m[3], m[3] - m[4]);
  report(o, "('REDD. MAGS:   U=   ' F7.3 ' B=   ' F7.3 ' V=   ' F7.3 ' R=   ' F7.3)", r[1], r[2], r[3], r[4]);
  report(o, "('REDD. COL.:   U-B =' F7.3 ' B-V =' F7.3 ' V-R =' F7.3 /)", r[1] - r[2], r[2] - r[3], r[3] - r[4]);
  report(o, "('ABS. MAG:     U =  ' F7.3 ' B =  ' F7.3 ' V =  ' F7.3)", m[1] - p.dmod, m[2] - p.dmod,
         m[3] - p.dmod);
  report(o, "('MBol = ' F7.3 '  Bol. Corr. = ' F7.3 '  (MBol)o= ' F7.3)", ph.mbol, ph.bc, ph.mbol - p.dmod);
  return ph;
}

}  // namespace mcspec
