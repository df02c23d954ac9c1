// Run parameters and physical constants. The lower boundary (photosphere) of a
// homologous flow has radius R = VPH t; its black-body temperature follows from
// L = 4 pi R^2 sigma T^4, written in solar units as log Teff = log Tsun + (log L - 2 log R/Rsun) / 4.
// Observed-band limits given in air are converted to vacuum with Edlen's refractive index.
#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <string>

#include "base/air_vacuum.hpp"
#include "base/errors.hpp"
#include "base/run_parameters.hpp"

namespace mcspec {
namespace {

constexpr double kKmToCm = 1e5;
constexpr double kInvCmPerEv = 8065.46;    // 1 eV in cm^-1
constexpr int kPacketsPerUnit = 10000;         // NPK = NP4 * 10000
constexpr double kShortestGridWavelength = 1e-100;  // WVM1 [micron]

// Value limits reported against the record just read: the record number and the item.
[[noreturn]] void reject(const InFile& dica, int field, const std::string& message) {
  throw InputError(dica.source_name(), dica.record_number(), field, message);
}

void check_int_range(const InFile& dica, int field, const char* name, int v, int lo, int hi, const char* why) {
  if (v >= lo && v <= hi) return;
  reject(dica, field,
         std::string(name) + " = " + std::to_string(v) + " is outside " + std::to_string(lo) + ".." +
             std::to_string(hi) + " (" + why + ")");
}

// A real as read, in its shortest exact form, for messages.
std::string shown(double v) {
  std::array<char, 32> buf{};
  const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), v);
  return std::string(buf.data(), r.ptr);
}

// A value with four significant digits, for messages about derived quantities.
std::string rounded(double v) {
  std::array<char, 32> buf{};
  std::snprintf(buf.data(), buf.size(), "%.4g", v);
  return buf.data();
}

void check_positive(const InFile& dica, int field, const char* name, double v, const char* why) {
  if (v > 0) return;
  reject(dica, field, std::string(name) + " = " + shown(v) + " must be positive (" + why + ")");
}

// Records 1-4: packets, final passes, shells, sampling-table size, outer edge.
void read_grid_sizes(InFile& dica, Params& p) {
  dica.skip();
  dica.list(p.np4, p.itt);
  check_int_range(dica, 1, "NP4", p.np4, 1, INT_MAX / kPacketsPerUnit,
                  "packets in units of 10000; NP4 * 10000 must be a 32-bit integer");
  dica.skip();
  dica.list(p.js, p.js_unused, p.kb, p.xe1);
  check_int_range(dica, 1, "JS", p.js, kMinShells, kMaxShells, "number of shells");
  check_int_range(dica, 3, "KB", p.kb, kMinSampling, kMaxSampling, "entries of the frequency sampling table");
  if (p.xe1 == 0.0) p.xe1 = 0.2;
  // x = R/r at the outer edge lies strictly between 0 (infinitely far) and 1 (the photosphere).
  if (!(p.xe1 > 0.0 && p.xe1 < 1.0)) {
    reject(dica, 4, "XE1 = " + shown(p.xe1) + " must lie between 0 and 1 (x = R/r at the outer edge; 0 means 0.2)");
  }
}

// Records 5-12: luminosity, boundary, epoch, distance, reddening, seed, line threshold.
void read_model(InFile& dica, Params& p) {
  dica.skip();
  dica.list(p.logls, p.vph, p.tb);
  p.record_boundary = dica.record_number();
  check_positive(dica, 2, "VPH", p.vph, "velocity of the photosphere in km/s");
  check_positive(dica, 3, "TB", p.tb, "starting temperature of the lower boundary in K");
  dica.skip();
  dica.list(p.day, p.dmod, p.zred);
  p.record_epoch = dica.record_number();
  check_positive(dica, 1, "DAY", p.day, "epoch in days since explosion");
  dica.skip();
  dica.list(p.ebvg, p.ebvh);
  p.record_reddening = dica.record_number();
  dica.skip();
  dica.list(p.iseed, p.logtaug);
}

// Records 15-16: the output wavelength grid.
void read_spectrum_grid(InFile& dica, Params& p) {
  dica.skip();
  dica.list(p.wvm1, p.wvm2, p.kg);
  check_positive(dica, 1, "WVM1", p.wvm1, "shortest wavelength of the spectrum grid in micron");
  if (!(p.wvm2 > p.wvm1)) {
    reject(dica, 2, "WVM2 = " + shown(p.wvm2) + " must be larger than WVM1 = " + shown(p.wvm1));
  }
  check_int_range(dica, 3, "KG", p.kg, 1, kMaxBins, "wavelength bins of the spectrum grid");
  // Far below any wavelength of a spectrum (1e-96 A), and the frequencies of the grid
  // still within the range of the computation.
  if (p.wvm1 < kShortestGridWavelength)
    reject(dica, 1, "WVM1 = " + shown(p.wvm1) + " micron is below 1e-100 micron: the frequencies of the grid would "
                    "leave the range of the computation");
}

// Records 17-20: observed band and top-hat band; nu = c / lambda with c in A/s,
// 10^(log c + 8). Returns the record that held WTH1, WTH2; *band_record is the one
// that held WV1, WV2.
long read_bands(InFile& dica, const Constants& c, Params& p, long* band_record) {
  dica.skip();
  dica.list(p.wv1, p.wv2, p.loglwv);
  *band_record = dica.record_number();
  dica.skip();
  dica.list(p.wth1, p.wth2);
  const double c_angstrom = std::pow(10.0, c(Constants::kLogC) + 8.0);
  p.fth1 = c_angstrom / p.wth1;
  p.fth2 = c_angstrom / p.wth2;
  return dica.record_number();
}

// Records 21-22: the option switches. A top-hat boundary emits between c/WTH1 and
// c/WTH2, which must be finite frequencies.
void read_options(InFile& dica, long wth_record, Params& p) {
  dica.skip();
  dica.list(p.iopt[1], p.iopt[2], p.iopt[3], p.iopt[4], p.iopt[5]);
  if (p.iopt[3] == 0 && !(p.wth1 > 0.0 && p.wth2 > 0.0)) {
    throw InputError(dica.source_name(), wth_record, p.wth1 > 0.0 ? 2 : 1,
                     "the top-hat boundary (IOPT(3) = 0) needs positive band limits WTH1, WTH2 in Angstrom; read " +
                         shown(p.wth1) + ", " + shown(p.wth2));
  }
  if (p.iopt[3] == 0 && !(std::isfinite(p.fth1) && std::isfinite(p.fth2))) {
    const bool first = !std::isfinite(p.fth1);
    throw InputError(dica.source_name(), wth_record, first ? 1 : 2,
                     std::string(first ? "WTH1 = " : "WTH2 = ") + shown(first ? p.wth1 : p.wth2) +
                         " A is too short: its frequency c / WTH is beyond the range of the computation");
  }
}

// Scaled to the observed band (IOPT(1) = 0), the band's luminosity can hold at most the
// whole: LOG L(WV1,WV2) up to LOG L + 2 is taken (an inconsistent pair still runs), and
// down to LOG L - 100; beyond, the scaled packets leave the range of the computation.
void check_band_luminosity(const InFile& dica, long band_record, const Params& p) {
  if (p.iopt[1] != 0) return;
  const double excess = p.loglwv - p.logls;
  if (excess >= -100.0 && excess <= 2.0) return;
  throw InputError(dica.source_name(), band_record, 3,
                   "LOG L(WV1,WV2) = " + shown(p.loglwv) + " must lie between LOG L - 100 and LOG L + 2 (LOG L = " +
                       shown(p.logls) + "): the luminosity of a band is at most the whole luminosity");
}

// The spectrum scaled to the observed band (IOPT(1) = 0) needs packets in it: the band
// WV1..WV2 (air, converted to vacuum) must overlap the vacuum wavelength grid
// WVM1..WVM2, or the luminosity scale divides by zero.
void check_observed_band(const InFile& dica, long band_record, const Params& p) {
  if (p.iopt[1] != 0) return;
  const double lo = std::max(p.wv1v, p.wvm1 * 1e4), hi = std::min(p.wv2v, p.wvm2 * 1e4);
  if (lo < hi) return;
  throw InputError(dica.source_name(), band_record, p.wv1 < p.wv2 ? 2 : 1,
                   "the observed band WV1..WV2 = " + shown(p.wv1) + ".." + shown(p.wv2) +
                       " A (air), to which the spectrum is scaled (IOPT(1) = 0), holds no wavelength of the grid " +
                       shown(p.wvm1 * 1e4) + ".." + shown(p.wvm2 * 1e4) +
                       " A (vacuum): it must satisfy WV1 < WV2 and overlap the grid");
}

// The quantities that follow from the boundary must be numbers: radius R = VPH t,
// volume 4/3 pi R^3 and the black-body temperature of luminosity L at R, which must
// also stay within reach of the Planck function.
void check_boundary(const InFile& dica, const Constants& c, const Params& p) {
  const auto refuse = [&](long record, int field, const std::string& what) {
    throw InputError(dica.source_name(), record, field, what);
  };
  const double r = std::pow(10.0, p.logr), vol = std::pow(10.0, p.logvol);
  if (!std::isfinite(r) || !std::isfinite(vol) || !(r > 0.0))
    refuse(p.record_epoch, 1,
           "the lower-boundary radius R = VPH * DAY = 10^" + rounded(p.logr) + " cm (VPH = " + shown(p.vph) +
               " km/s, DAY = " + shown(p.day) + ") or its volume 4/3 pi R^3 is not a finite positive number");
  const double thi = highest_boundary_temperature(c, p.wvm2);
  const std::string why = " K, the highest at which the Planck function of the boundary can be evaluated at "
                          "WVM2 = " + shown(p.wvm2) + " micron (1 - exp(-h nu / k T) must not round away)";
  const double teff = std::pow(10.0, p.logteff);
  if (!(teff > 0.0 && teff <= thi))
    refuse(p.record_boundary, 1,
           "the boundary temperature of LOG L = " + shown(p.logls) + " at R = " + rounded(r) + " cm is 10^" +
               rounded(p.logteff) + " K, above " + rounded(thi) + why);
  if (!(p.tb <= thi)) refuse(p.record_boundary, 3, "TB = " + shown(p.tb) + " K is above " + rounded(thi) + why);
}

// Epoch, lower-boundary radius (R = VPH t), volume and black-body temperature.
void derive_boundary(const Constants& c, Params& p) {
  p.tday = p.day * 24.0 * 3600.0;
  p.logr = std::log10(p.vph * kKmToCm * p.tday);
  p.chlcm = p.chl * kInvCmPerEv;
  p.logrrs = p.logr - c(Constants::kLogRsun);
  p.logteff = 0.25 * p.logls + c(Constants::kLogTsun) - 0.5 * p.logrrs;
  p.logvol = 3.0 * p.logr + std::log10(4.0 / 3.0 * c(Constants::kPi));
}

void write_boundary_header(OutFile& file) {
  file.write("(/ 18X 'LOG R/RS' 5X 'LOG L/LS' 9X 'VEL LB' 10X 'TB' /)");
}

void write_boundary_values(const Params& p, OutFile& file) {
  file.write("(F24.3, F12.3, F18.1, F14.1 /)", p.logrrs, p.logls, p.vph, p.tb);
}

}  // namespace

double highest_boundary_temperature(const Constants& c, double wvm2) {
  constexpr double kSmallestExponent = 1e-14;  // h nu / k T: 1 - e^-x still good to 1 %
  const double c2 = std::pow(10.0, c.log_h() + c.log_c() - c.log_k());  // hc/k [cm K]
  return c2 / (wvm2 * 1e-4) / kSmallestExponent;
}

void read_run_parameters(InFile& dica, Constants& c, Params& p, OutFile& stst, OutFile& sbib, OutFile& out) {
  fill_constants(c);
  out.list("start params");

  read_grid_sizes(dica, p);
  stst.write("(/ 5X 'NP4 =' I6 5X 'ITT =' I3 5X 'JS =' I3 5X ' KB =' I4 ' XE1=' F6.3)", p.np4, p.itt, p.js, p.kb,
             p.xe1);
  p.npk = p.np4 * kPacketsPerUnit;

  read_model(dica, p);
  stst.write("(/ 5X 'Day =' F6.2 5X 'Log Taug =' F7.3)", p.day, p.logtaug);

  dica.skip();
  dica.list(p.chl, p.nc);
  stst.write("(/ 5X 'CHL(eV) =' F5.1 5X 'NC =' I3)", p.chl, p.nc);

  read_spectrum_grid(dica, p);
  stst.write("(/ 5X 'WVM1 =' F7.4 4X 'WVM2 =' F7.4 7X 'KG =' I6)", p.wvm1, p.wvm2, p.kg);

  long band_record = 0;
  const long wth_record = read_bands(dica, c, p, &band_record);
  read_options(dica, wth_record, p);
  out.write("(/ 5I4)", p.iopt[1], p.iopt[2], p.iopt[3], p.iopt[4], p.iopt[5]);

  if (p.iopt[1] == 0) {
    stst.write("(/ 5X 'Obs sp ' '   wv1,wv2' F11.2 F9.2 5X 'Log L(wv1,wv2) =' F6.3)", p.wv1, p.wv2, p.loglwv);
  }
  p.wv1v = air_to_vacuum(p.wv1);
  p.wv2v = air_to_vacuum(p.wv2);
  check_observed_band(dica, band_record, p);
  check_band_luminosity(dica, band_record, p);

  derive_boundary(c, p);
  check_boundary(dica, c, p);
  write_boundary_header(stst);
  write_boundary_header(sbib);
  write_boundary_values(p, stst);
  write_boundary_values(p, sbib);
}

void report_options(const Params& p, OutFile& out) {
  if (p.iopt[1] == 1) out.write("(/ 5X 'Scale MC sp' ' to L(bol)')");
  if (p.iopt[1] == 0) out.write("(/ 5X 'Scale MC sp' ' to L(wv1,wv2)')");
  if (p.iopt[2] == 1) out.write("(/ 5X 'Cascades')");
  if (p.iopt[2] == 0) out.write("(/ 5X 'Resonance ' 'scattering')");
  if (p.iopt[3] == 1) out.write("(/ 5X 'Black body' ' em at ' 'lwr bdry')");
  if (p.iopt[3] == 0) out.write("(/ 5X 'Top hat em' ' at lwr bdry' F12.2 F10.2)", p.wth1, p.wth2);
}

}  // namespace mcspec
