// The Planck function B_nu(T) = (2 h nu^3 / c^2) / (exp(h nu / k T) - 1), evaluated
// with the program's logarithmic constants, written with e = exp(-h nu / k T) as
// A e / (1 - e) so that it goes smoothly to zero where h nu >> k T.
#include <cmath>

#include "spectrum/spectrum.hpp"

namespace mcspec {

double planck(double nu, double t, const Constants& c) {
  const double x = std::log10(nu);
  const double a = 2.0 * std::pow(10.0, (c.log_h() - 2.0 * c.log_c()) + 3.0 * x);
  const double e = std::exp(-std::pow(10.0, (c.log_h() - c.log_k()) + x) / t);
  return a * e / (1.0 - e);
}

}  // namespace mcspec
