// Line opacities of every kept line in every shell: Sobolev optical depths, their
// attenuation factors and the branching ratios of the upper levels. The tables are
// lines x shells, line index fastest (one contiguous column per shell).
#pragma once

#include <vector>

#include "base/array.hpp"
#include "base/io.hpp"
#include "base/run_parameters.hpp"
#include "model/atoms.hpp"
#include "model/line_list.hpp"
#include "model/plasma.hpp"
#include "model/shells.hpp"

namespace mcspec {

struct Opacity {
  Array2<double> tau;   // TAU(p, k): Sobolev optical depth, by list position
  Array2<double> etau;  // ETAU(p, k) = exp(-TAU(p, k))
  Array2<double> br;    // BR(n, k): branching ratio, by transition number
  // Sizes the tables for nl lines and js shells; called once when the sizes are known.
  void allocate(int nl, int js);

  // Work storage of sobolev_depths, sized on first use; it keeps the populations of the last ion
  // in the last shell. (branching_ratios keeps its work storage per thread.)
  std::vector<double> glev;   // statistical weights 2J + 1 of the current ion's levels
  std::vector<double> popl;   // fractional populations of the current ion's levels
};

// Sobolev escape probability beta = (1 - e^-tau) / tau. Below |tau| = 0.1 the closed
// form loses digits to cancellation, so its Taylor series to tau^4 is used instead.
double sobolev_escape(double tau);

// Sobolev optical depths in the nebular approximation at the shells' TR and W.
void sobolev_depths(const Params& p, const Constants& c, const Shells& s, const Atoms& a, const Plasma& pl,
                    const LineList& ll, Opacity& op, OutFile& out, int threads);

// Branching ratios: A beta nu of each downward line over the sum for its upper level.
// Throws RunError when the ratios of a level do not sum to 1.
void branching_ratios(const Shells& s, const Atoms& a, const LineList& ll, Opacity& op, OutFile& out, int threads);

// The radiative-excitation stage: progress lines only.
void report_excitation_rates(const Atoms& a, const Shells& s, OutFile& out);

}  // namespace mcspec
