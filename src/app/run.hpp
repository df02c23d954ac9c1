// A run of the program: everything it owns and its stages in the order of the method.
// The program's main calls the stages as its schedule; the benchmarks, the fuzzing
// harnesses and the tests drive the same stages on their own files.
#pragma once

#include <string>
#include <vector>

#include "app/run_files.hpp"
#include "base/constants.hpp"
#include "base/parallel.hpp"
#include "base/run_parameters.hpp"
#include "base/wavelength_grid.hpp"
#include "model/atoms.hpp"
#include "model/line_list.hpp"
#include "model/plasma.hpp"
#include "model/shells.hpp"
#include "model/zones.hpp"
#include "montecarlo/montecarlo.hpp"
#include "montecarlo/random.hpp"
#include "montecarlo/sampling_table.hpp"
#include "montecarlo/tallies.hpp"
#include "montecarlo/temperature_update.hpp"
#include "opacity/opacity.hpp"
#include "spectrum/spectrum.hpp"

namespace mcspec {

// Writes each warning to standard error (after what standard output holds so far).
void warn(const std::vector<std::string>& warnings);

// The model and tallies (MonteCarloState, with the thread settings that main reads once),
// the files, the spectrum and the generator.
struct Run : MonteCarloState {
  explicit Run(const ParallelConfig& settings = {}) { par = settings; }

  Files f;
  SpectrumTables spec;
  Rng rng;
  int irf = 0;             // radiation-field pass counter
  bool computing = false;  // set-up done: the temperature iteration has begun
  ZoneComposition zones;   // the composition at the epoch by velocity zones (one when uniform)
  int first_check = kFirstCheckedPass;  // first pass that can end the iteration (1 after a warm start)
  bool full_count = true;  // the next temperature pass sends NPK packets (false while a packet ramp runs)

  McOutput mc_outputs() { return {f.out, f.stst, f.sbib, f.sica, f.eica}; }
  SpectrumOutput spectrum_outputs() { return {f.out, f.spcp, f.spct, f.sbib, f.stst}; }

  // Set-up on the open files: read_parameters, read_atomic_data, build_ejecta.
  void set_up();
  // The run parameters ("dica.dat") and the option switches.
  void read_parameters();
  // Composition ("comp.ind", or by velocity zones "zones.dat" decayed to the epoch) and
  // element tables, the boundary temperature's check against them, the energy levels,
  // and the warnings on the composition.
  void read_atomic_data();
  // The shells, the composition of each and the plasma tables (with "zones.dat": the
  // echo of the mean composition and "composition.dat"); the boundary temperature and
  // the generator start from the values read (the radiation field from "warmstart.dat"
  // when there is one), and the per-ion spectrum is opened when asked for.
  void build_ejecta();
  // The warm start: TB and the shells' TR, W, TE from "warmstart.dat" (noted in the run
  // log with the shell table); convergence is then tested from the first pass on.
  void warm_start();
  // Partition functions and ionisation balance of temperature pass `pass` (pass 31: the
  // final plasma state, whose diagnostic files are written).
  void plasma_state(int pass);
  // The line list, read and ordered on the first pass, and the line-by-shell tables
  // sized once for it.
  void line_list();
  // The frequency sampling table and the wavelength grid of a pass.
  void sampling_and_grid();
  // Sobolev optical depths and branching ratios of every line in every shell.
  void line_opacities();
  // One temperature pass: plasma state, line list (first pass), tables, the Monte Carlo
  // run and the temperature update. Returns the number of the next pass.
  // With a packet ramp (par.packet_ramp = f < 1) the passes send f NPK packets (at least
  // KB - 1, one per sampling interval) until a pass changes TR by less than
  // kRampChange in every shell, and at the latest up to pass 8: the full count starts
  // with the pass after it and stays. A pass at the reduced count never ends the
  // iteration, so convergence is always judged, and the final passes run, at NPK.
  int temperature_pass(int pass);
  // "radfield.dat": TB and the shells' TR, W, TE after the temperature iteration.
  void save_radiation_field();
  // The final plasma state after the last temperature pass and its line opacities.
  void final_plasma_state(int pass);
  // Final radiation-field pass irf of ITT (black-body boundary).
  void final_pass();
  // The single pass with a top-hat boundary (IOPT(3) = 0).
  void single_pass();
  // The per-ion spectrum (when asked for), then line source functions, the formal
  // integral and the observed spectrum with photometry.
  void emergent_spectrum();
};

}  // namespace mcspec
