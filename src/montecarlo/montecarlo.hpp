// Monte Carlo packet transport and what it feeds: the estimators, the luminosity
// scaling and the binned escaping spectrum, the temperature iteration.
#pragma once

#include "common/array.hpp"
#include "common/io.hpp"
#include "driver/frqsmp.hpp"
#include "driver/initiate.hpp"
#include "driver/params.hpp"
#include "driver/rng.hpp"
#include "montecarlo/ion_spectrum.hpp"
#include "montecarlo/line_tally.hpp"
#include "model/atoms.hpp"
#include "model/linelist.hpp"
#include "model/plasma.hpp"
#include "model/shells.hpp"
#include "opacity/opacity.hpp"

namespace mcspec {

// Accumulators of a Monte Carlo run, cleared at its start.
struct Estimators {
  Array2<double> rq;     // RQ(86, 10): per-shell radiation moments (row 86: one scalar)
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
// 1: NPK/2; 3: 1000000; 4 prints progress), then strlin when irf = ITT, scale, emspec.
void montec(int mode, int irf, const McInputs& in, Rng& rng, Estimators& est, Scaling& sc, McOutput& o);

// The single-pass run with a top-hat lower boundary, then scale1 and emspec1.
void montec1(int mode, int irf, const McInputs& in, Rng& rng, Estimators& est, Scaling& sc, McOutput& o);

// Temperature iteration: new TR, W, TE of every shell and TB; may raise iter to 29
// once the temperatures have converged.
void tempit(int& iter, const Params& p, const Constants& c, Shells& s, Estimators& est, Scaling& sc,
            OutFile& stst);

}  // namespace mcspec
