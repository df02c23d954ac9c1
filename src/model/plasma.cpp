// Storage of the plasma state of every shell: partition functions, element and
// electron densities, ionisation fractions and the electron-scattering opacity.
#include "model/plasma.hpp"

namespace mcspec {

void Plasma::allocate(int js) {
  igt.assign(kMaxIonisationData, 10, 0);
  pf.assign(js, kMaxElements, kMaxLevelStages, 0.0);
  nelem.assign(64, js, 0.0);
  ntot.assign(js, 0.0);
  fion.assign(kMaxLevelStages, kMaxElements, js, 0.0);
  ne.assign(js, 0.0);
  kapes.assign(js, 0.0);
}

}  // namespace mcspec
