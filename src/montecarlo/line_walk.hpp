// The line walk, the hot loop of the transport. Along a straight flight the comoving
// frequency falls linearly, so line k of the frequency-ordered list comes into
// resonance at SL = (FRQ(k) - XPE) DNU, DNU = -1/(beta nu) [R per Hz]; between two
// resonances the optical depth still to go, TREM, is used up by electrons at RLE per
// unit length, so Thomson scattering would happen at SE = S + TREM/RLE.
#pragma once

#include <limits>

namespace mcspec {

// Factor k = 1 - 2^-49 of the quotient bound below. With FL(1/RLE) and FL(...k)
// each rounded once, TREM * RLE_INV_LO stays below the correctly rounded TREM/RLE for
// every TREM >= 0 (three roundings of at most 2^-53 each cannot undo 2^-49); results
// flushed to zero only lower it further. RLE = 0 gives an infinite factor, matching
// TREM/0 = inf; a negative or undefined RLE gives a factor that is not a number, so
// the bound never decides.
inline constexpr double kQuotientLowering = 1 - 0x1p-49;

inline double electron_depth_lower_factor(double rle) {
  if (!(rle >= 0)) return std::numeric_limits<double>::quiet_NaN();  // always the exact quotient
  return (1 / rle) * kQuotientLowering;
}

// The end of a walk: the event distance, the line reached or next reachable, whether
// the event is a line interaction, and the resonances passed (each added EP to EJ).
struct WalkEnd {
  double s;
  int kn;
  bool line;
  int passed;
};

// Walks from line kn (frq, tau and ej 0-based: frq[k-1] = FRQ(k)) until the drawn
// depth is used up by a line (line event at that line's SL), or the electron-scattering
// point SE or the grid point at d comes first (event at min(SE, d); a tie goes to that
// candidate, not to the line).
//
// The exact decision "min(SE, d) > SL" needs the division TREM/RLE; it is replaced in
// the common case by the certain test "d > SL and S + TREM * RLE_INV_LO > SL": since
// TREM * RLE_INV_LO is below the rounded quotient and rounding is monotonic, that sum
// never exceeds SE, so whenever the test holds the exact one holds too. Only when it
// fails (once per flight, at its end, or in a near tie) is SE formed exactly, by the
// same formula as always, so every decision and every returned distance is bit for bit
// the one of the exact walk.
//
// Precondition: no line of the walk lies behind the packet (SL >= 0 for every line
// examined); the caller checks it (first_line_ahead) and otherwise uses the exact walk,
// which also counts those lines for their message.
//
// kAddEj false: EJ is not touched (ej may be null); the caller books the lines
// kn .. kn + passed - 1 itself.
template <bool kAddEj = true>
inline WalkEnd walk_lines(const double* __restrict frq, const double* __restrict tau, double* __restrict ej, int kn,
                          double xpe, double dnu, double rle, double rle_inv_lo, double taur, double d, double ep) {
  const int kn0 = kn;
  double tsum = -taur;  // -tau_r plus the line depths passed
  double s = 0;         // position of the last line passed
  double trem = taur;   // optical depth still to go at s
  for (;;) {
    const double sl = (frq[kn - 1] - xpe) * dnu;
    const bool line_first = (d > sl) & (s + trem * rle_inv_lo > sl);
    if (!line_first) {
      const double se = s + trem / rle;
      const double cand = se < d ? se : d;
      if (!(cand > sl)) return {cand, kn, false, kn - kn0};
    }
    if constexpr (kAddEj) ej[kn - 1] += ep;
    tsum += tau[kn - 1];
    ++kn;
    trem = -tsum - sl * rle;
    s = sl;
    if (!(trem > 0)) return {sl, kn - 1, true, kn - kn0};
  }
}

// Whether walk_lines may start at kn: the first line is not behind the packet, and
// with a non-increasing FRQ and DNU < 0 the later ones are not either (SL only grows
// along the list, rounding being monotonic).
inline bool first_line_ahead(const double* frq, int kn, double xpe, double dnu) {
  return dnu < 0 && (frq[kn - 1] - xpe) * dnu >= 0;
}

}  // namespace mcspec
