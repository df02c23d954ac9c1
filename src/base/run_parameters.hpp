// Run parameters ("dica.dat"), option switches and the capacities of the program's
// tables. Filled once at the start of the run and read-only afterwards.
#pragma once

#include <array>

#include "base/constants.hpp"
#include "base/io.hpp"

namespace mcspec {

struct Params {
  // Monte Carlo
  int np4 = 0;        // packets in units of 10000
  int npk = 0;        // packets of a full run, np4 * 10000
  int itt = 0;        // number of final radiation-field passes
  int js = 0;         // number of shells
  int js_unused = 0;  // second value of the JS record, read and not used
  int kb = 0;         // entries of the frequency sampling table
  int iseed = 0;      // initial state of the uniform generator
  double xe1 = 0.2;   // x = R/r at the outer edge
  // Model
  double logls = 0;   // log10 L/Lsun
  double vph = 0;     // lower-boundary velocity [km/s]
  double tb = 0;      // lower-boundary temperature as read [K]
  double day = 0;     // epoch [days since explosion]
  double dmod = 0;    // distance modulus [mag]
  double zred = 0;    // redshift
  double ebvg = 0;    // E(B-V) at the observed (redshifted) wavelength
  double ebvh = 0;    // E(B-V) at the emitted wavelength
  double logtaug = 0; // log10 of the line-selection optical depth threshold
  double chl = 0;     // highest ionisation energy of an included ion [eV]
  double chlcm = 0;   // chl [cm^-1]
  int nc = 0;         // echoed only
  // Spectrum grid and observed band
  double wvm1 = 0, wvm2 = 0;   // wavelength limits of the grid [micron]
  int kg = 0;                  // number of wavelength bins
  double wv1 = 0, wv2 = 0;     // observed band, air [Angstrom]
  double wv1v = 0, wv2v = 0;   // the same in vacuum [Angstrom]
  double loglwv = 0;           // log10 L(wv1, wv2)/Lsun
  double wth1 = 0, wth2 = 0;   // top-hat band [Angstrom]
  double fth1 = 0, fth2 = 0;   // top-hat band [Hz], c/wth1 and c/wth2
  std::array<int, 6> iopt{};   // option switches, iopt[1..5]
  // Derived
  double tday = 0;     // epoch [s]
  double logr = 0;     // log10 lower-boundary radius [cm]
  double logrrs = 0;   // log10 R/Rsun
  double logteff = 0;  // log10 of the temperature of a black body of luminosity L and radius R
  double logvol = 0;   // log10 (4/3 pi R^3) [cm^3]
  // Records of "dica.dat" that held LOGLS/VPH/TB and DAY, for later messages.
  long record_boundary = 0, record_epoch = 0, record_reddening = 0;
};

// Capacities of the program's tables, checked as input limits.
inline constexpr int kMaxShells = 85;
inline constexpr int kMinShells = 3;      // the temperature smoothing needs three shells
inline constexpr int kMaxSampling = 502;
inline constexpr int kMinSampling = 2;
inline constexpr int kMaxBins = 5000;

// The boundary temperature T of a black body at the grid's longest wavelength WVM2
// [micron] above which 1 - e^(-h nu / k T) in the Planck function loses its precision
// bits and then rounds to 0 (B_nu infinite): h nu / k T must stay above 1e-14, where
// 1 - e^-x is still good to 1 % (1.4e18 K at 1 micron).
double highest_boundary_temperature(const Constants& c, double wvm2);

// Calls fill_constants, reads "dica.dat", derives the quantities that follow from it and
// echoes the parameters to stst, sbib and out (standard output).
void read_run_parameters(InFile& dica, Constants& c, Params& p, OutFile& stst, OutFile& sbib, OutFile& out);

// Reports the option switches on standard output.
void report_options(const Params& p, OutFile& out);

}  // namespace mcspec
