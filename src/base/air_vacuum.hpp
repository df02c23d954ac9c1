// Air and vacuum wavelengths: Edlen's (1953) refractive index of standard air.
#pragma once

namespace mcspec {

// Refractive index of standard air (Edlen 1953) for the wavenumber squared s2 in
// micron^-2: n = 1.000064328 + 0.0294981 / (146 - s2) + 0.0002554 / (41 - s2).
// Callers compute s2 from their wavelength as their formula states.
inline double edlen_index(double s2) {
  return 1.000064328 + 0.0294981 / (146.0 - s2) + 0.0002554 / (41.0 - s2);
}
// Air-to-vacuum conversion of a wavelength in Angstrom, s2 = (1e4 / lambda)^2; from
// 2000 A on, below 2000 A the value is returned unchanged.
double air_to_vacuum(double lambda_air);
// Vacuum-to-air conversion of a wavelength in Angstrom, lambda_vac / n(s) with
// s = (1e4 / lambda)^2; from 2000 A on, below 2000 A the value is returned unchanged.
double vacuum_to_air(double lambda_vac);

}  // namespace mcspec
