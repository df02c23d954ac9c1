// The emergent spectrum: line source functions from the last Monte Carlo run, the
// formal integral along rays of constant impact parameter, and the observed-flux
// spectrum with photometry.
#pragma once

#include "common/array.hpp"
#include "common/io.hpp"
#include "driver/initiate.hpp"
#include "driver/params.hpp"
#include "model/linelist.hpp"
#include "model/plasma.hpp"
#include "model/shells.hpp"
#include "montecarlo/montecarlo.hpp"
#include "opacity/opacity.hpp"

namespace mcspec {

struct SpectrumTables {
  Array2<double> sline;  // SLINE(p, k): line source term S (1 - e^-tau)
  Array1<double> fn;     // FN(b): flux integral
  Array1<double> zld;    // ZLD(b): log10 L per unit vacuum wavelength [erg s^-1 cm^-1]
  Array1<double> xls;    // XLS(b): log10 air bin-centre wavelength [micron]
  Array1<double> zls;    // ZLS(b): log10 L per unit air wavelength, formal integral
  Array1<double> zms;    // ZMS(b): the same, Monte Carlo
  double zltot = 0;      // log10 total luminosity on the grid [erg/s]
};

struct SpectrumOutput {
  OutFile& out;   // standard output
  OutFile& spcp;  // spectrum table
  OutFile& spct;  // observed-flux spectrum
  OutFile& sbib;  // summary
  OutFile& stst;  // run log
};

// Turns EJ into mean intensities (in place), computes the source terms and the formal
// integral on the wavelength grid, then calls spectr.
void spectrum(int irf, const Params& p, const Constants& c, const Shells& s, const Plasma& pl, const LineList& ll,
              const Opacity& op, Estimators& est, const Scaling& sc, const WavelengthGrid& g, SpectrumTables& t,
              InFile& filters, SpectrumOutput& o);

// Planck function B_nu(T) [erg cm^-2 s^-1 Hz^-1 sr^-1].
double bnu1(double nu, double t, const Constants& c);

}  // namespace mcspec
