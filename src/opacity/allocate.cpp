// Storage of the line opacities: optical depths, attenuation factors and branching
// ratios of every kept line in every shell, one contiguous column of lines per shell,
// sized once when the line list is fixed (it never changes after the first pass).
#include "opacity/opacity.hpp"

namespace mcspec {

void Opacity::allocate(int nl, int js) {
  tau.assign(nl, js, 0.0);
  etau.assign(nl, js, 1.0);  // exp(-0): a line not yet computed is transparent
  br.assign(nl, js, 0.0);
}

}  // namespace mcspec
