// Black-body frequency sampling table. With x = h nu / kT = 3.5 sqrt(z / (1 - z)),
// i.e. z = x^2 / (x^2 + 12.25) and dx = (x^2 + 12.25)^2 / (24.5 x) dz, the Planck density
// x^3 / (e^x - 1) dx becomes x^2 (x^2 + 12.25)^2 / (e^x - 1) dz / 24.5, smooth on [0, 1];
// its trapezoidal running integral is inverted at KB equally spaced probabilities.
#include "montecarlo/sampling_table.hpp"

#include <cmath>

namespace mcspec {
namespace {

constexpr double kScale = 3.5;            // XSCL
constexpr double kScale2 = 12.25;         // XSCL^2
constexpr double kLargestX = 30.0;        // beyond, e^-x is negligible: density set to 0

// Planck density in z (unnormalised): x^2 (x^2 + 12.25)^2 / (e^x - 1).
double planck_density_in_z(double z) {
  const double x = kScale * std::sqrt(z / (1.0 - z));
  if (x > kLargestX) return 0.0;
  const double x2 = x * x;
  const double a = x2 + kScale2;
  return x2 * (a * a) / (std::exp(x) - 1.0);
}

void size_to(Array1<double>& a, int n) {
  if (a.size() != n) a.assign(n);
}

// z grid, the density at its inner points (0 at both ends) and its running integral
// by the trapezoidal rule.
void integrate_density(SamplingTable& t, double h) {
  const int n = kSamplingGridPoints;
  for (int i = 1; i <= n; ++i) t.zl(i) = (i - 1) * h;
  t.gn(1) = 0.0;
  t.gn(n) = 0.0;
  for (int i = 2; i <= n - 1; ++i) t.gn(i) = planck_density_in_z(t.zl(i));
  t.fn(1) = 0.0;
  for (int i = 2; i <= n; ++i) t.fn(i) = t.fn(i - 1) + (t.gn(i - 1) + t.gn(i)) * h / 2.0;
}

}  // namespace

void build_sampling_table(int kb, SamplingTable& t) {
  const int n = kSamplingGridPoints;
  const double h = 1.0 / (n - 1);
  t.xscl = kScale;
  size_to(t.zl, n);
  size_to(t.gn, n);
  size_to(t.fn, n);
  size_to(t.fsamp, kb);
  integrate_density(t, h);

  const double total = t.fn(n);
  t.fsamp(1) = 0.0;
  t.fsamp(kb) = 1.0;
  // Inner entries: the z where the running integral reaches (k-1)/(KB-1) of the total,
  // linear inside the grid cell. The search only moves forward. With KB = 2 the single
  // pass for k = 2 replaces FSAMP(2) = 1 by the z where the truncated density ends.
  const int last = kb - 1 > 2 ? kb - 1 : 2;
  int i = 2;
  for (int k = 2; k <= last; ++k) {
    const double y = static_cast<double>(k - 1) / static_cast<double>(kb - 1) * total;
    while (t.fn(i) < y && i < n) ++i;
    t.fsamp(k) = t.zl(i - 1) + (y - t.fn(i - 1)) / (t.fn(i) - t.fn(i - 1)) * h;
  }
}

}  // namespace mcspec
