// The table of physical constants, filled once at the start of the run.
#pragma once

#include <array>
#include <cstddef>

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
void fill_constants(Constants& c);

}  // namespace mcspec
