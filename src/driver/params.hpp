// Run parameters ("dica.dat"), option switches and the table of physical constants.
// Both are filled once at the start of the run and read-only afterwards.
#pragma once

#include <array>

#include "common/io.hpp"

namespace mcspec {

// Physical constants, cgs. 50 entries numbered from 1, most of them log10 of the value.
class Constants {
 public:
  enum Entry {
    kPi = 9,         // pi, the ten-digit value 3.141592654
    kLogPi = 10,     // log10 pi
    kLogE = 11,      // log10 e
    kLn10 = 12,      // ln 10
    kLogAmu = 13,    // atomic mass unit [g]
    kLogH = 14,      // Planck constant [erg s]
    kLogG = 15,      // gravitational constant
    kLogC = 16,      // speed of light [cm/s]
    kLogK = 17,      // Boltzmann constant [erg/K]
    kLogA = 18,      // radiation constant [erg cm^-3 K^-4]
    kLogMH = 19,     // hydrogen atom mass [g]
    kLogMHe = 20,    // about 4 atomic mass units [g]
    kLogEv = 21,     // electron volt [erg]
    kLogMe = 22,     // electron mass [g]
    kLogEcharge = 23,// elementary charge [esu]
    kLogSigma = 24,  // Stefan-Boltzmann constant
    kLogMsun = 25,   // solar mass [g]
    kLogLsun = 26,   // solar luminosity [erg/s]
    kLogRsun = 27,   // solar radius [cm]
    kLogTsun = 28,   // solar effective temperature [K]
    kMbolSun = 29,   // solar absolute bolometric magnitude (not a logarithm)
    kLogYear = 30,   // year [s]
    kLogParsec = 31, // parsec [cm]
    kLogSigmaT = 40, // Thomson cross-section [cm^2]
  };
  double operator()(int entry) const { return e_[static_cast<std::size_t>(entry)]; }
  double& operator()(int entry) { return e_[static_cast<std::size_t>(entry)]; }

  double pi() const { return e_[kPi]; }
  double log_h() const { return e_[kLogH]; }
  double log_c() const { return e_[kLogC]; }
  double log_k() const { return e_[kLogK]; }

 private:
  std::array<double, 51> e_{};  // e_[0] unused
};

// Fills the constants table.
void consts(Constants& c);

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
  long record_boundary = 0, record_epoch = 0;
};

// Capacities of the program's tables, checked as input limits.
inline constexpr int kMaxShells = 85;
inline constexpr int kMinShells = 3;      // the temperature smoothing needs three shells
inline constexpr int kMaxSampling = 502;
inline constexpr int kMinSampling = 2;
inline constexpr int kMaxBins = 5000;

// Refractive index of standard air (Edlen 1953) for the wavenumber squared s2 in
// micron^-2: n = 1.000064328 + 0.0294981 / (146 - s2) + 0.0002554 / (41 - s2).
// Callers compute s2 from their wavelength as their formula states.
inline double edlen_index(double s2) {
  return 1.000064328 + 0.0294981 / (146.0 - s2) + 0.0002554 / (41.0 - s2);
}
// Air-to-vacuum conversion of a wavelength in Angstrom, s2 = (1e4 / lambda)^2; from
// 2000 A on, below 2000 A the value is returned unchanged.
double air_to_vacuum(double lambda_air);

// The boundary temperature T of a black body at the grid's longest wavelength WVM2
// [micron] above which 1 - e^(-h nu / k T) in the Planck function loses its precision
// bits and then rounds to 0 (B_nu infinite): h nu / k T must stay above 1e-14, where
// 1 - e^-x is still good to 1 % (1.4e18 K at 1 micron).
double highest_boundary_temperature(const Constants& c, double wvm2);

// Calls consts, reads "dica.dat", derives the quantities that follow from it and
// echoes the parameters to stst, sbib and out (standard output).
void params(InFile& dica, Constants& c, Params& p, OutFile& stst, OutFile& sbib, OutFile& out);

// Reports the option switches on standard output.
void options(const Params& p, OutFile& out);

}  // namespace mcspec
