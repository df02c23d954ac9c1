// The energy unit of a packet and the escaping spectrum: EP0 makes the escaped energy
// the prescribed luminosity, the injected luminosity gives the boundary temperature
// (or, for a top-hat boundary, its intensity), and the binned spectrum is written.
#pragma once

#include "montecarlo/montecarlo.hpp"

namespace mcspec {

// The logarithmic luminosities of a run in erg/s.
struct Luminosities {
  double ep0 = 0;    // log10 energy of one packet unit
  double lesc = 0;   // log10 escaping luminosity
  double lplus = 0;  // log10 luminosity injected at the lower boundary (np1 packets)
};

// EP0 from the escaped energy PW(2) (IOPT(1) = 1: total luminosity 10^LOGLS Lsun) or
// from the escaped energy in the observed window PW(4) (IOPT(1) = 0: 10^LOGLWV Lsun).
Luminosities packet_luminosities(int np1, const Params& p, const Constants& c, const Estimators& est);

// Black-body boundary: sets EP0 and the TB whose black body at radius R carries the
// injected luminosity, L+ = 4 pi R^2 sigma TB^4, in solar units.
void scale_luminosity(int np1, const McInputs& in, const Estimators& est, Scaling& sc, McOutput& o);

// Top-hat boundary: sets EP0 and the boundary intensity ITH that carries the injected
// luminosity over the band, ITH = (L+ / (4 pi R^2) / pi) / (FTH1 - FTH2); TB is kept.
void scale_luminosity_top_hat(int np1, const McInputs& in, const Estimators& est, Scaling& sc, McOutput& o);

// Writes the binned escaping spectrum (sica) with SPL, log10 of the luminosity per unit
// wavelength, and the lines of last emission (eica). Serves both boundaries.
void write_escaping_spectrum(int irf, const McInputs& in, const Estimators& est, Scaling& sc, McOutput& o);

}  // namespace mcspec
