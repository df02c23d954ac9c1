// Monte Carlo packet transport and what it feeds: the estimators, the luminosity
// scaling and the binned escaping spectrum, the temperature iteration.
#pragma once

#include "base/array.hpp"
#include "base/io.hpp"
#include "base/run_parameters.hpp"
#include "base/wavelength_grid.hpp"
#include "model/atoms.hpp"
#include "model/line_list.hpp"
#include "model/plasma.hpp"
#include "model/shells.hpp"
#include "montecarlo/random.hpp"
#include "montecarlo/sampling_table.hpp"
#include "montecarlo/tallies.hpp"
#include "opacity/opacity.hpp"

namespace mcspec {

// The files a Monte Carlo run writes.
struct McOutput {
  OutFile& out;   // standard output
  OutFile& stst;  // run log
  OutFile& sbib;  // summary (strong-line list)
  OutFile& sica;  // binned escaping spectrum
  OutFile& eica;  // lines of last emission
};

// Read-only inputs of a Monte Carlo run.
struct McInputs {
  const Params& p;
  const Constants& c;
  const Shells& s;
  const Atoms& a;
  const Plasma& pl;
  const LineList& ll;
  const Opacity& op;
  const SamplingTable& samp;
  const WavelengthGrid& grid;
};

// One Monte Carlo run with a black-body lower boundary (mode 0, 2, 4: NPK packets;
// 1: NPK/2; 3: 1000000; 4 prints progress), then write_strong_lines when irf = ITT, scale, write_escaping_spectrum.
void run_monte_carlo(int mode, int irf, const McInputs& in, Rng& rng, Estimators& est, Scaling& sc, McOutput& o);

// The single-pass run with a top-hat lower boundary, then scale_luminosity_top_hat and write_escaping_spectrum.
void run_single_pass(int mode, int irf, const McInputs& in, Rng& rng, Estimators& est, Scaling& sc, McOutput& o);

// Temperature iteration: new TR, W, TE of every shell and TB; may raise iter to 29
// once the temperatures have converged.
void update_temperatures(int& iter, const Params& p, const Constants& c, Shells& s, Estimators& est, Scaling& sc,
            OutFile& stst);

}  // namespace mcspec
