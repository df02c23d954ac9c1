// Monte Carlo packet transport and what it feeds: the estimators, the luminosity
// scaling and the binned escaping spectrum, the temperature iteration.
#pragma once

#include "base/array.hpp"
#include "base/io.hpp"
#include "base/parallel.hpp"
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
  ParallelConfig par{};  // threads and per-packet streams
};

// A model ready for the Monte Carlo and the tallies of its runs: what the program's run
// (app/run.hpp) and the tests' hand-built models hold.
struct MonteCarloState {
  ParallelConfig par;  // threads and per-packet streams
  Constants c;
  Params p;
  Atoms a;
  Shells s;
  Plasma pl;
  LineList ll;
  Opacity op;
  SamplingTable samp;
  WavelengthGrid grid;
  Estimators est;
  Scaling sc;
  McInputs mc_inputs() const { return {p, c, s, a, pl, ll, op, samp, grid, par}; }
};

// The kind of a Monte Carlo run: how many packets it sends and whether it prints its
// progress. The values name the run's packet streams (with the run's ordinal number).
enum class McMode : int {
  kTemperaturePass = 0,  // NPK packets (a single-pass top-hat run: 20000)
  kHalf = 1,             // NPK/2 packets
  kFinalPass = 2,        // NPK packets
  kMillion = 3,          // 1000000 packets (a top-hat run: NPK)
  kLastFinalPass = 4,    // NPK packets, the progress printed
};

// The temperature passes of a run: at most 30, fewer once the temperatures converge.
inline constexpr int kLastTemperaturePass = 30;

// One Monte Carlo run with a black-body lower boundary, then write_strong_lines when
// irf = ITT, scale_luminosity, write_escaping_spectrum.
void run_monte_carlo(McMode mode, int irf, const McInputs& in, Rng& rng, Estimators& est, Scaling& sc, McOutput& o);

// The single-pass run with a top-hat lower boundary, then scale_luminosity_top_hat and
// write_escaping_spectrum.
void run_single_pass(McMode mode, int irf, const McInputs& in, Rng& rng, Estimators& est, Scaling& sc, McOutput& o);

// Temperature update after the Monte Carlo run of temperature pass `pass`: new TR, W, TE
// of every shell and TB. Returns the number of the next pass (see next_temperature_pass;
// convergence is tested from pass first_check on) and sets *largest_change, when given,
// to the largest relative change of TR (not a number when a shell had no estimate).
int update_temperatures(int pass, const Params& p, const Constants& c, Shells& s, Estimators& est, Scaling& sc,
                        OutFile& stst, int first_check = 9, double* largest_change = nullptr);

}  // namespace mcspec
