// Placeholder stages, replaced as the Monte Carlo transport is built.
#include "montecarlo/montecarlo.hpp"

namespace mcspec {
void Estimators::allocate(int, int, int) {}
void montec(int, int, const McInputs&, Rng&, Estimators&, Scaling&, McOutput&) {}
void montec1(int, int, const McInputs&, Rng&, Estimators&, Scaling&, McOutput&) {}
void tempit(int&, const Params&, const Constants&, Shells&, Estimators&, Scaling&, OutFile&) {}
}  // namespace mcspec
