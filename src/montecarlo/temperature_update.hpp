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
// 1.25 %; from pass 9 on (from pass first_check: 1 after a warm start) this leaves one
// last pass, number 30. The pass after `pass`, whose largest relative change of TR was
// dmax: pass + 1, or the last one once converged.
inline constexpr double kConvergedChange = 0.0125;
inline constexpr int kFirstCheckedPass = 9;
int next_temperature_pass(int pass, double dmax, int first_check = kFirstCheckedPass);
// A packet ramp ends after a pass that changed TR by less than this in every shell.
inline constexpr double kRampChange = 4 * kConvergedChange;

}  // namespace mcspec
