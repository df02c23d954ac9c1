// Temperature iteration: the radiation temperature of every shell from the mean
// comoving frequency of its radiation field (a black body has <h nu> = 3.832 kT), the
// dilution factor from its mean intensity, damped and smoothed, and the boundary
// temperature that gives the required emergent flux.
#pragma once

#include <span>

#include "montecarlo/montecarlo.hpp"

namespace mcspec {

// 1-2-1 smoothing of a(1..n), n >= 3, with the end values extrapolated linearly from
// the smoothed interior, so constant and linear profiles pass unchanged.
void smooth(std::span<double> a);

// The temperatures have converged when the largest relative change of TR is below
// 1.25 %; from pass 9 on this leaves one last pass, number 30. The pass after `pass`,
// whose largest relative change of TR was dmax: pass + 1, or the last one once converged.
inline constexpr double kConvergedChange = 0.0125;
int next_temperature_pass(int pass, double dmax);

}  // namespace mcspec
