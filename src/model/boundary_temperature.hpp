// The lowest boundary temperature at which the ionisation balance of the composition
// can be evaluated: below it the neutral stages' Saha factors underflow, the electron
// density becomes exactly zero and the next stage ratio W / n_e is infinite.
#pragma once

#include <string>

#include "base/run_parameters.hpp"
#include "model/atoms.hpp"

namespace mcspec {

// Decades of the Saha factor 10^(-chi 5040 / T) allowed at the boundary temperature.
inline constexpr double kSahaDecades = 240.0;

// 5040 chi1 / 240 [K] for the lowest first ionisation potential chi1 [eV] among the
// elements present with ionisation data (21 K per eV; 0 when there is none).
double lowest_boundary_temperature(const Atoms& a);

// Refuses a boundary temperature 10^LOGTEFF (from LOGLS, VPH and DAY of record
// p.record_boundary of "dica.dat") below lowest_boundary_temperature. Called once the
// composition and the ionisation potentials are read.
void check_boundary_temperature(const Params& p, const Atoms& a, const std::string& dica_name);

}  // namespace mcspec
