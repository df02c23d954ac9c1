// Monte Carlo estimators: the radiation moments of every shell counted at the shell
// mid-points, the line-resonance energies, the escaping spectrum and the energy
// totals, their normalisation at the end of a run, the run report and the list of
// strong lines.
#pragma once

#include <cmath>

#include "montecarlo/montecarlo.hpp"
#include "montecarlo/tallies.hpp"

namespace mcspec {

// Zeroes every accumulator at the start of a run (EJ and ELINE for the nl lines).
void clear_estimators(Estimators& est, int nl, int js);

// A packet crossing the mid-point of shell j with comoving frequency xpe, lab frequency
// frl and lab direction cosine mu, where the flow moves at beta (units of c). Every
// crossing is weighted by 1/|mu| (a crossing count estimates the intensity integrated
// over the sphere). Columns: 1 sum (nu'/nu)^2 EP/|mu| (the mean intensity), 2 and 3 its
// first and second comoving moments, 5 the lab-frame flux, 8 nu' times column 1, 4 the
// part of column 1 above vhi, 9 the crossings, 10 the sum of the squared column-1 weights
// (for the standard error of the mean frequency). Inline: the packet loop calls it at
// every mid-point it crosses.
inline void midpoint_crossing(Estimators& est, int j, double xpe, double frl, double mu, double ep, double beta,
                              double vhi) {
  double a = std::abs(mu);
  if (a == 0) a = 1e-6;  // a grazing crossing: cap the 1/|mu| weight
  const double muc = (mu - beta) / (1 - beta * mu);  // comoving direction cosine
  const double d2 = (xpe / frl) * (xpe / frl);         // (nu'/nu)^2
  const double w = d2 * ep / a;
  est.rq(j, 1) += w;
  est.rq(j, 2) += d2 * ep * muc / a;
  est.rq(j, 5) += mu * ep / a;
  est.rq(j, 3) += d2 * ep * (muc * muc) / a;
  est.rq(j, 8) += xpe * w;
  if (xpe > vhi) est.rq(j, 4) += w;
  est.rq(j, 9) += 1;
  est.rq(j, 10) += w * w;
}

// The same crossing for the per-packet-stream runs, with the weight EP/|mu| formed once.
inline void midpoint_crossing_stream(Estimators& est, int j, double xpe, double frl, double mu, double ep,
                                     double beta, double vhi) {
  double a = std::abs(mu);
  if (a == 0) a = 1e-6;
  const double e = ep / a;
  const double muc = (mu - beta) / (1 - beta * mu);
  const double ratio = xpe / frl;
  const double w = (ratio * ratio) * e;
  est.rq(j, 1) += w;
  est.rq(j, 2) += w * muc;
  est.rq(j, 5) += mu * e;
  est.rq(j, 3) += w * (muc * muc);
  est.rq(j, 8) += xpe * w;
  if (xpe > vhi) est.rq(j, 4) += w;
  est.rq(j, 9) += 1;
  est.rq(j, 10) += w * w;
}

// The wavelength bins of the escaping spectrum and the observed window.
struct EscapeBinning {
  int kg = 0;
  double wlb1 = 0;     // log10 of the blue edge of bin 1 [micron]
  double dwl = 0;      // bin step in log10 wavelength
  double log_c = 0;    // log10 c [cm/s]
  double c_ang = 0;    // c [Angstrom/s]: lambda = c_ang / nu
  double wv1v = 0;     // observed window, vacuum [Angstrom], open interval
  double wv2v = 0;
  EscapeBinning() = default;
  EscapeBinning(const WavelengthGrid& g, const Params& p, const Constants& c);
  // The bin of lab frequency frl, truncation of (4 - WLB(1) - log10 nu + log10 c)/DWL + 1
  // (4 + log10 c - log10 nu is log10 of the wavelength in micron); 0 outside 1..KG.
  int bin(double frl) const;
};

// A packet's end. Every packet adds its energy to PW(3). One in the core counts as
// absorbed (NCNT(1)). An escaped one counts in NCNT(2), in NCNT(3) or NCNT(4) by whether
// it had a line event (also NCNT(6) when it had none), adds to PW(2) and to ELINE of
// the line that last emitted it, and to its wavelength bin and, strictly inside the
// observed window, to PW(4); outside the bins it counts in NCNT(5) only.
void packet_end(Estimators& est, const EscapeBinning& bins, bool escaped, double frl, double ep, int knlast,
                int lineflag);

// What the end-of-run report needs from the run.
struct RunSummary {
  bool top_hat = false;    // the single-pass top-hat run
  McMode mode = McMode::kTemperaturePass;
  int irf = 0;
  int np1 = 0;             // packets of the run (all normalisations use it)
  double xm = 0;           // mean emitted h nu / k TB (black body only)
  const double* us = nullptr;  // US(i), 1-based: us[i]
};

// Run end: energy check and counters, write_strong_lines in the last pass, the flux normalisation
// of the moments (RQ(JS,5) becomes 1), FLXOUT, the per-shell table and the closing
// line; then scale (scale_luminosity_top_hat) and write_escaping_spectrum.
void finish_run(const RunSummary& run, const McInputs& in, Estimators& est, Scaling& sc, McOutput& o);

// Lines of the observed window whose Sobolev equivalent width exceeds 1 Angstrom, with
// the mean blue-shifted wavelength of their absorption, to sbib.
void write_strong_lines(const McInputs& in, OutFile& sbib);

}  // namespace mcspec
