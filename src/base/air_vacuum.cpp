// Air and vacuum wavelengths [A] with Edlen's refractive index of standard air.
#include "base/air_vacuum.hpp"

namespace mcspec {
namespace {

constexpr double kAirConversionFrom = 2000.0;  // [A]; shorter wavelengths are quoted in vacuum
constexpr double kAngstromPerMicron = 10000.0;

}  // namespace

double air_to_vacuum(double lambda_air) {
  if (lambda_air < kAirConversionFrom) return lambda_air;
  const double sigma = 1e4 / lambda_air;  // wavenumber [micron^-1]
  return lambda_air * edlen_index(sigma * sigma);
}

double vacuum_to_air(double wa) {
  if (wa < kAirConversionFrom) return wa;
  const double s = 1.0 / ((wa / kAngstromPerMicron) * (wa / kAngstromPerMicron));
  return wa / edlen_index(s);
}

}  // namespace mcspec
