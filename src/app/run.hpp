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
  // the generator start from the values read, and the per-ion spectrum is opened when
  // asked for.
  void build_ejecta();
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
  int temperature_pass(int pass);
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
