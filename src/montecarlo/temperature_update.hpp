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

// After a warm start (first_check before kFirstCheckedPass) the iteration begins near
// its end, and what remains of each pass's change is mostly the Monte Carlo scatter of
// the TR estimate. There a shell counts as converged when its change is below
// converged_change(RQ(j,10)): the larger of 1.25 % and kNoiseSigmas times the standard
// deviation of a damped step's change that the estimate's scatter alone gives. RQ(j,10) = sqrt(sum w^2) / sum w
// over the shell's mid-point crossings of weight w.
inline constexpr double kPlanckFrequencySpread = 0.5292267;  // sigma_nu / <nu>, see the .cpp
inline constexpr double kNoiseSigmas = 3;
double converged_change(double weight_error);
// A packet ramp ends after a pass that changed TR by less than this in every shell.
inline constexpr double kRampChange = 4 * kConvergedChange;

}  // namespace mcspec
