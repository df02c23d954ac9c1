// Why 240 decades: the stage ratio n_II/n_I = (W/n_e) [zeta CF + W (1 - zeta)] 10^(G - chi
// theta) is formed on the common scale 1e-10 of the neutral stage, with G about 19 at
// these temperatures. The shells' radiation temperatures fall to about 0.8 of the
// boundary's in the outer shells, which stretches 240 decades at the boundary to 300
// there; with W / n_e down to 1e-17 (W 0.01, n_e 1e15 cm^-3) the ionised stage then
// still stays above the smallest normal double, 2.2e-308 (flush to zero below). A
// single element that keeps a few electrons is enough: the bound follows the most
// easily ionised element present.
#include "model/boundary_temperature.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "base/errors.hpp"
#include "base/text.hpp"

namespace mcspec {
namespace {

constexpr double kThetaTemperature = 5040.0;  // theta = 5040 / T, chi in eV

std::string shown(double v, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

}  // namespace

double lowest_boundary_temperature(const Atoms& a) {
  double chi1 = 0.0;
  for (int z = 1; z <= std::min(a.nel, kMaxIonisationData); ++z) {
    if (!(a.xpeak(z) > 0.0)) continue;  // present in some shell
    if (chi1 == 0.0 || a.chi(1, z) < chi1) chi1 = a.chi(1, z);
  }
  return kThetaTemperature * chi1 / kSahaDecades;
}

void check_boundary_temperature(const Params& p, const Atoms& a, const std::string& dica_name) {
  const double tlo = lowest_boundary_temperature(a);
  const double teff = std::pow(10.0, p.logteff);
  if (teff >= tlo) return;
  throw InputError(dica_name, p.record_boundary, 1,
                   "the boundary temperature of LOG L = " + text_of(p.logls) + " at R = VPH * DAY is " +
                       shown(teff, 1) + " K, below " + shown(tlo, 1) +
                       " K, the lowest at which the ionisation balance of this composition can be evaluated "
                       "(21 K per eV of the lowest first ionisation potential present; below it the electron "
                       "density underflows to zero)");
}

}  // namespace mcspec
