// Hydrogen-like ions from first principles: level energies from the Rydberg formula
// with the reduced-mass correction, statistical weights 2n^2, and absorption oscillator
// strengths n -> n' summed over the l-sublevels from the exact dipole radial integrals
// of Gordon (1929), the integrals behind the Menzel & Pekeris (1935) tables.
#pragma once

#include <cmath>
#include <stdexcept>
#include <string>

#include "base/air_vacuum.hpp"

namespace mcspec::hydrogenic {

// CODATA 2018.
inline constexpr double kRydbergInfinity = 109737.31568160;     // R_inf [cm^-1]
inline constexpr double kProtonElectronMassRatio = 1836.15267343;  // m_p / m_e
inline constexpr double kAlphaElectronMassRatio = 7294.29954142;   // m(4He nucleus) / m_e

// Rydberg constant of a nucleus of mass M: R_M = R_inf / (1 + m_e/M) [cm^-1]. The
// electron moves about the common centre of mass, so every level scales with the
// reduced mass m_e M / (m_e + M).
inline double rydberg_constant(double nuclear_mass_in_electron_masses) {
  return kRydbergInfinity / (1.0 + 1.0 / nuclear_mass_in_electron_masses);
}
inline double rydberg_hydrogen() { return rydberg_constant(kProtonElectronMassRatio); }
inline double rydberg_helium4() { return rydberg_constant(kAlphaElectronMassRatio); }

// Excitation energy of level n above the ground level of an ion of nuclear charge z:
// E_n = R_M z^2 (1 - 1/n^2) [cm^-1]. Fine structure and the Lamb shift are left out;
// they move the levels by about (z alpha)^2 / n^2, a relative 1e-5 for hydrogen.
inline double level_energy(int z, int n, double rydberg) {
  return rydberg * z * z * (1.0 - 1.0 / (static_cast<double>(n) * n));
}
// Energy from the ground level to the continuum, R_M z^2 [cm^-1].
inline double ionisation_energy(int z, double rydberg) { return rydberg * z * z; }

// An n-resolved level holds 2n^2 states (l = 0..n-1, two spins); the data files carry
// it as J = (g - 1)/2 = n^2 - 1/2.
inline int statistical_weight(int n) { return 2 * n * n; }
inline double level_j(int n) { return static_cast<double>(n) * n - 0.5; }

// Vacuum wavelength of the transition between levels n < np [Angstrom].
inline double vacuum_wavelength(int z, int n, int np, double rydberg) {
  return 1.0e8 / (level_energy(z, np, rydberg) - level_energy(z, n, rydberg));
}

// Air wavelength [Angstrom] from a vacuum wavelength, through the refractive index of
// standard air (Edlen 1953) evaluated at the vacuum wavenumber, as the program converts
// its line wavelengths; below 2000 A the vacuum value is kept.
inline double air_wavelength(double vacuum) {
  if (vacuum <= 2000.0) return vacuum;
  const double s2 = 1.0 / ((vacuum / 1.0e4) * (vacuum / 1.0e4));
  return vacuum / edlen_index(s2);
}

// Gauss hypergeometric series 2F1(a, b; c; x) that terminates because a or b is a
// non-positive integer: sum_k (a)_k (b)_k / ((c)_k k!) x^k, each term built from the
// one before. c must be positive.
inline double hypergeometric_polynomial(int a, int b, int c, double x) {
  if (a > 0 && b > 0) throw std::invalid_argument("hypergeometric_polynomial: the series does not terminate");
  if (c <= 0) throw std::invalid_argument("hypergeometric_polynomial: c must be positive");
  double sum = 1.0, term = 1.0;
  for (int k = 0; a + k != 0 && b + k != 0; ++k) {
    term *= static_cast<double>(a + k) * static_cast<double>(b + k) / (static_cast<double>(c + k) * (k + 1)) * x;
    sum += term;
  }
  return sum;
}

// ln m!, summed exactly for the small integers met here.
inline double log_factorial(int m) {
  double s = 0.0;
  for (int k = 2; k <= m; ++k) s += std::log(static_cast<double>(k));
  return s;
}

// Dipole radial integral |<n l| r |np, l-1>| = |int R_nl R_np,l-1 r^3 dr| in units of
// a0/z (l >= 1, n != np), Gordon (1929), Bethe & Salpeter eq. (63.2):
//   (4 (2l-1)!)^-1 sqrt((n+l)! (np+l-1)! / ((n-l-1)! (np-l)!)) (4 n np)^(l+1)
//   |n-np|^(n+np-2l-2) / (n+np)^(n+np)
//   x [F(l+1-n, l-np; 2l; u) - ((n-np)/(n+np))^2 F(l-1-n, l-np; 2l; u)],
//   u = -4 n np / (n-np)^2.
// The prefactor is taken in logarithms (it spans hundreds of decades for large n); the
// two polynomials alternate in sign but lose fewer than three digits up to n = 30.
inline double radial_integral_down(int n, int l, int np) {
  if (l < 1 || l >= n || l > np || n == np)
    throw std::invalid_argument("radial_integral_down: no dipole integral for n=" + std::to_string(n) +
                                " l=" + std::to_string(l) + " n'=" + std::to_string(np));
  const double dn = static_cast<double>(n - np), sn = static_cast<double>(n + np);
  const double u = -4.0 * n * np / (dn * dn);
  const double f1 = hypergeometric_polynomial(l + 1 - n, l - np, 2 * l, u);
  const double f2 = hypergeometric_polynomial(l - 1 - n, l - np, 2 * l, u);
  const double bracket = f1 - (dn / sn) * (dn / sn) * f2;
  const double log_prefactor =
      -std::log(4.0) - log_factorial(2 * l - 1) +
      0.5 * (log_factorial(n + l) + log_factorial(np + l - 1) - log_factorial(n - l - 1) - log_factorial(np - l)) +
      (l + 1) * std::log(4.0 * n * np) + (n + np - 2 * l - 2) * std::log(std::fabs(dn)) - (n + np) * std::log(sn);
  return std::exp(log_prefactor) * std::fabs(bracket);
}

// |<n l| r |np lp>| for lp = l +- 1 [a0/z]; the integral is symmetric in its two states.
inline double radial_integral(int n, int l, int np, int lp) {
  if (lp == l - 1) return radial_integral_down(n, l, np);
  if (lp == l + 1) return radial_integral_down(np, lp, n);
  throw std::invalid_argument("radial_integral: a dipole transition changes l by one");
}

// Absorption oscillator strength of the n-resolved transition n -> np > n, averaged
// over the 2n^2 lower states and summed over the upper ones:
//   f(n, np) = (1/n^2 - 1/np^2) / (3 n^2) sum_l sum_{l'=l+-1} max(l, l') R(nl, np l')^2,
// from f(nl -> np l') = (dE / 3 Ry) max(l, l') / (2l + 1) R^2 with R in a0. Both dE
// (~ z^2) and R^2 (~ z^-2) scale with the nuclear charge, so f does not depend on z
// nor on the reduced mass. Lyman-alpha: 0.4162; H-alpha: 0.6407.
inline double oscillator_strength(int n, int np) {
  if (n < 1 || np <= n) throw std::invalid_argument("oscillator_strength: needs 1 <= n < n'");
  double sum = 0.0;
  for (int l = 0; l < n; ++l) {
    for (int lp : {l - 1, l + 1}) {
      if (lp < 0 || lp >= np) continue;
      const double r = radial_integral(n, l, np, lp);
      sum += (l > lp ? l : lp) * r * r;
    }
  }
  const double n2 = static_cast<double>(n) * n, np2 = static_cast<double>(np) * np;
  return (1.0 / n2 - 1.0 / np2) * sum / (3.0 * n2);
}

// log10 (g_n f(n, np)), the line strength as the line list carries it.
inline double log_gf(int n, int np) { return std::log10(statistical_weight(n) * oscillator_strength(n, np)); }

}  // namespace mcspec::hydrogenic
