// The hydrogenic physics of the data-directory generator against independent truth:
// reduced-mass Rydberg constants, published line wavelengths and oscillator strengths,
// the Thomas-Reiche-Kuhn share of the Lyman series, hypergeometric polynomials by hand,
// and Gordon's radial integrals against a direct quadrature of the wave functions.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "support/test_support.hpp"
#include "tools/hydrogenic.hpp"

namespace hy = mcspec::hydrogenic;
using mcspec::test::simpson;

namespace {

TEST(Hydrogenic, RydbergConstantsAndLevels) {
  // R_H = 109677.583 cm^-1 and R(4He+) = 109722.274 cm^-1 (reduced-mass values of R_inf).
  // The levels (E = 0 at the ground, weights 2 n^2): GeneratedData in test_tools.cpp.
  EXPECT_NEAR(hy::rydberg_hydrogen(), 109677.583, 0.001);
  EXPECT_NEAR(hy::rydberg_helium4(), 109722.274, 0.002);
}

TEST(Hydrogenic, WellKnownLineWavelengths) {
  // The Rydberg formula leaves out fine structure and the Lamb shift, a relative 1e-5;
  // the published wavelengths are compared to within 2e-5 (He II, (Z alpha)^2 four
  // times larger: 8e-5). Below 2000 A the vacuum wavelength is kept.
  const double rh = hy::rydberg_hydrogen();
  const struct {
    int z, n, np;
    bool air;
    double published, tolerance;
  } lines[] = {{1, 1, 2, false, 1215.67, 2e-5}, {1, 2, 3, false, 6564.6, 2e-5}, {1, 2, 3, true, 6562.8, 2e-5},
               {1, 2, 4, true, 4861.3, 2e-5},   {1, 2, 5, true, 4340.5, 2e-5},   {1, 3, 4, true, 18751.0, 2e-5},
               {2, 3, 4, true, 4685.7, 8e-5}};
  for (const auto& l : lines) {
    const double vac = hy::vacuum_wavelength(l.z, l.n, l.np, l.z == 1 ? rh : hy::rydberg_helium4());
    EXPECT_NEAR(l.air ? hy::air_wavelength(vac) : vac, l.published, l.tolerance * l.published) << l.published;
  }
  EXPECT_EQ(hy::air_wavelength(1215.0), 1215.0);
}

TEST(Hydrogenic, OscillatorStrengthsMatchThePublishedValues) {
  // Wiese & Fuhr (2009), J. Phys. Chem. Ref. Data 38, 565: n-resolved absorption f, to
  // half a unit of the last digit given.
  const struct {
    int n, np;
    double f, last_digit;
  } cases[] = {{1, 2, 0.4162, 1e-4}, {1, 3, 0.07910, 1e-5}, {1, 4, 0.02899, 1e-5}, {2, 3, 0.6407, 1e-4}, {2, 4, 0.1193, 1e-4},
               {2, 5, 0.04467, 1e-5}, {3, 4, 0.8421, 1e-4},  {3, 5, 0.1506, 1e-4},  {4, 5, 1.038, 1e-3}};
  for (const auto& c : cases)
    EXPECT_NEAR(hy::oscillator_strength(c.n, c.np), c.f, 0.5 * c.last_digit) << c.n << " -> " << c.np;
  EXPECT_THROW(hy::oscillator_strength(3, 3), std::invalid_argument);
  EXPECT_THROW(hy::oscillator_strength(3, 2), std::invalid_argument);
}

TEST(Hydrogenic, LymanSeriesSumsToTheKnownDiscreteShare) {
  // The Thomas-Reiche-Kuhn sum of 1s is 1; the bound states take 0.5650 of it and the
  // continuum 0.4350 (Bethe & Salpeter, table 13). f(1 -> n) falls as C/n^3, so the
  // tail beyond N adds C/(2 N^2).
  const int nmax = 400;
  double sum = 0.0;
  for (int n = 2; n <= nmax; ++n) sum += hy::oscillator_strength(1, n);
  sum += hy::oscillator_strength(1, nmax) * nmax / 2.0;
  EXPECT_NEAR(sum, 0.5650, 1e-4);
}

TEST(Hydrogenic, HypergeometricPolynomialsWorkedByHand) {
  EXPECT_DOUBLE_EQ(hy::hypergeometric_polynomial(-1, 3, 2, 0.5), 1.0 - 1.5 * 0.5);
  EXPECT_DOUBLE_EQ(hy::hypergeometric_polynomial(-2, -2, 1, 3.0), 1.0 + 12.0 + 9.0);  // 1 + 4x + x^2
  EXPECT_DOUBLE_EQ(hy::hypergeometric_polynomial(0, 7, 3, 123.0), 1.0);
  EXPECT_THROW(hy::hypergeometric_polynomial(1, 2, 3, 0.5), std::invalid_argument);
}

// R_nl(r) from the associated Laguerre polynomial L_{n-l-1}^{2l+1}(2r/n) by its
// three-term recurrence, normalised to int R^2 r^2 dr = 1 (r in a0, Z = 1).
double radial_function(int n, int l, double r) {
  const int k = n - l - 1, a = 2 * l + 1;
  const double x = 2.0 * r / n;
  double lm1 = 1.0, lk = k == 0 ? 1.0 : 1.0 + a - x;  // L_0, L_1
  for (int i = 1; i < k; ++i) {
    const double next = ((2 * i + 1 + a - x) * lk - (i + a) * lm1) / (i + 1);
    lm1 = lk;
    lk = next;
  }
  const double lognorm = 1.5 * std::log(2.0 / n) + 0.5 * (std::lgamma(k + 1.0) - std::log(2.0 * n) - std::lgamma(n + l + 1.0));
  return std::exp(lognorm - r / n) * std::pow(x, l) * lk;
}

TEST(Hydrogenic, GordonRadialIntegralsAgreeWithDirectQuadrature) {
  EXPECT_NEAR(hy::radial_integral(1, 0, 2, 1), 128.0 * std::sqrt(6.0) / 243.0, 1e-14);  // exact: 2^7 sqrt(6) / 3^5
  const int cases[][4] = {{2, 1, 3, 2}, {3, 0, 2, 1}, {5, 3, 9, 2}, {12, 5, 13, 6}, {15, 0, 14, 1}, {15, 14, 14, 13}, {6, 2, 15, 3}};
  for (const auto& c : cases) {
    // int R_nl R_n'l' r^3 dr by Simpson's rule, far past the outer turning points.
    const double rmax = 4.0 * std::max(c[0], c[2]) * std::max(c[0], c[2]) + 60.0;
    const auto f = [&](double r) { return radial_function(c[0], c[1], r) * radial_function(c[2], c[3], r) * r * r * r; };
    const double exact = hy::radial_integral(c[0], c[1], c[2], c[3]);
    EXPECT_NEAR(exact, std::fabs(simpson(f, 0.0, rmax, 40000)), 1e-7 * exact) << c[0] << "," << c[1] << " -> " << c[2] << "," << c[3];
  }
  EXPECT_THROW(hy::radial_integral(3, 1, 4, 3), std::invalid_argument);
}

}  // namespace
