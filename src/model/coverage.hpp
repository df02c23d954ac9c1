// What the run goes on with but the user should know: a composition whose mass
// fractions do not add up to one, and elements that take no part in the line physics.
#pragma once

#include <string>
#include <vector>

#include "base/run_parameters.hpp"
#include "model/atoms.hpp"

namespace mcspec {

// A mass fraction from which an element counts as noticeable (0.1 %).
inline constexpr double kNoticeableFraction = 1e-3;
// How far the raw mass fractions may add up away from one before it is worth a word.
inline constexpr double kFractionSumTolerance = 0.01;

// The warnings after the composition and the ion list are known (after read_levels), one
// line each, without a prefix: the raw sum of "comp.ind" when it differs from 1 by more
// than 1 %; every element with a mass fraction of at least 0.1 % of which no ion takes
// part, and why (no ion of it in the level file, its ions there need more than CHL, or
// they have a single level below the cut-off); and a run in which no ion takes part.
std::vector<std::string> composition_warnings(const Atoms& a, const Params& p, const std::string& comp_file,
                                              const std::string& level_file);

}  // namespace mcspec
