// The tallies of a Monte Carlo run that the later stages read: the estimators
// (radiation moments, line-resonance energies, escaping spectrum) and the energy scale
// of a packet.
#pragma once

#include "base/array.hpp"
#include "montecarlo/ion_spectrum.hpp"
#include "montecarlo/line_tally.hpp"

namespace mcspec {

inline constexpr int kEstimatorRows = 86;  // RQ rows: shells 1..85, row 86 one scalar
inline constexpr int kEstimatorCols = 10;

// Accumulators of a Monte Carlo run, cleared at its start.
struct Estimators {
  Array2<double> rq;     // RQ(86, 10): per-shell radiation moments (row 86: one scalar), see midpoint_crossing
  Array1<double> pw;     // PW(1..5): NP1, escaped, finished, escaped in the window, Doppler change
  Array1<int> ncnt;      // NCNT(1..10): core, escaped, escaped after a line, without, out of range, no line event
  Array2<double> ej;     // EJ(p, k): energy of packets reaching the resonance of line p in shell k
  Array1<double> eline;  // ELINE(p): escaped energy last emitted in line p
  Array1<double> espec;  // ESPEC(b): escaped energy per wavelength bin
  Array1<int> nspec;     // NSPEC(b): escaped packets per wavelength bin
  double flxout = 0;     // RQ(JS, 5) / NP1 before normalisation: the escaped fraction
  double xm = 0;         // mean x = h nu / k TB of the packets emitted by the last black-body run
  long long line_passages = 0;  // resonances reached in the last run (the EJ increments)
  int runs = 0;          // Monte Carlo runs so far: with the mode, names a run's packet streams
  LineTally tally;       // fixed-point EJ and ELINE of the per-packet-stream runs
  Array2<double> depth_sums;  // the per-packet-stream runs' line walk: running sums of TAU per shell
                              // (NL + 1 x JS, see walk_depth_sums), formed at each such run's start
  IonSpectrum ions;      // escaped energy by bin and last-emitting ion (when enabled)
  // Sizes the tables once: EJ nl x js (line index fastest), ELINE nl, ESPEC/NSPEC kg.
  // Throws InputError when js or kg exceed the program's capacities.
  void allocate(int nl, int js, int kg);
};

// The energy unit of a packet and what follows from it.
struct Scaling {
  double ep0 = 0;        // log10 energy of one packet unit [erg/s]
  double tb = 0;         // lower-boundary temperature [K]; starts at the value read
  double ith = 0;        // top-hat boundary intensity [erg cm^-2 s^-1 Hz^-1 sr^-1]
  Array1<double> spl;    // SPL(b): log10 escaping luminosity per unit wavelength [erg s^-1 cm^-1]
};

}  // namespace mcspec
