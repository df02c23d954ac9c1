// The physical constants, cgs.
#include "base/constants.hpp"

#include <cmath>

namespace mcspec {

void fill_constants(Constants& c) {
  c(Constants::kPi) = 3.141592654;
  c(Constants::kLogPi) = std::log10(c(Constants::kPi));
  c(Constants::kLogE) = 0.4342944819032518;
  c(Constants::kLn10) = 2.302585092994046;
  c(Constants::kLogAmu) = std::log10(1.660531e-24);
  c(Constants::kLogH) = std::log10(6.6262e-27);
  c(Constants::kLogG) = std::log10(6.67e-8);
  c(Constants::kLogC) = std::log10(2.997925e10);
  c(Constants::kLogK) = std::log10(1.38062e-16);
  c(Constants::kLogA) = std::log10(7.56464e-15);
  c(Constants::kLogMH) = std::log10(1.67352e-24);
  // One unit in the last place below the correctly rounded log10(6.645269e-24): the
  // value the program has always used.
  c(Constants::kLogMHe) = -23.177487434156752;
  c(Constants::kLogEv) = std::log10(1.602192e-12);
  c(Constants::kLogMe) = std::log10(9.10956e-28);
  c(Constants::kLogEcharge) = std::log10(4.80325e-10);
  c(Constants::kLogSigma) = std::log10(5.6696e-5);
  c(Constants::kLogMsun) = std::log10(1.989e33);
  c(Constants::kLogLsun) = std::log10(3.826e33);
  c(Constants::kLogRsun) = std::log10(6.9599e10);
  c(Constants::kLogTsun) = std::log10(5770.0);
  c(Constants::kMbolSun) = 4.75;
  c(Constants::kLogYear) = std::log10(3.15581495e7);
  c(Constants::kLogParsec) = std::log10(3.085678e18);
  c(Constants::kLogSigmaT) = std::log10(6.6524e-25);
}

}  // namespace mcspec
