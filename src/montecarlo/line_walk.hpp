// The line walk, the hot loop of the transport. Along a straight flight the comoving
// frequency falls linearly, so line k of the frequency-ordered list comes into
// resonance at SL = (FRQ(k) - XPE) DNU, DNU = -1/(beta nu) [R per Hz]; between two
// resonances the optical depth still to go, TREM, is used up by electrons at RLE per
// unit length, so Thomson scattering would happen at SE = S + TREM/RLE.
#pragma once

#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
    ej[kn - 1] += ep;
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

// The walk of the per-packet-stream runs, on running sums of the Sobolev depths of a
// shell: sums[0] = 0, sums[k] = TAU(1) + ... + TAU(k). With T = tau_r + sums[kn - 1],
// line k is passed when its resonance lies before the grid point, SL(k) < d, and the
// depth used just before and just after it, sums[k - 1] + RLE SL(k) and
// sums[k] + RLE SL(k), are both still below T. Each line is decided on its own, so
// lines are tested several at a time and the walk stops at the first that fails: a
// line event when the packet reaches it (min(SE, d) > SL, SE = (T - sums[k - 1]) / RLE
// where electrons use up the depth), else Thomson scattering or the grid point at
// min(SE, d). The same events as the exact search, up to the rounding of the sums.
//
// Depths enter the sums held within +-kDepthSumLimit. A line that deep stops every
// packet either way (tau_r never exceeds 16.7), unless a maser earlier in the same
// flight gave back nearly that much depth; and the sums stay below 4e11 (400000 lines),
// where their rounding is below 1e-4 of a unit of depth.
inline constexpr double kDepthSumLimit = 1e6;

// Where a walk on depth sums ended.
struct SumWalkEnd {
  double s;     // distance of the event [R]
  int kn;       // the interacting line (line event), else the first line not reached
  bool line;    // a line event
  int passed;   // resonances reached (a line event counts its own line)
  double left;  // at a grid point or Thomson scattering: the depth still to go there
};

// The end of a walk at line k, the first line not passed.
inline SumWalkEnd sum_walk_end(const double* frq, const double* sums, int k, int kn0, double xpe, double dnu,
                               double rle, double rle_inv, double t, double d) {
  const double sl = (frq[k - 1] - xpe) * dnu;
  const double before = sums[k - 1];
  const double se = (t - before) * rle_inv;
  const double cand = se < d ? se : d;
  if (!(cand > sl)) return {cand, k, false, k - kn0, t - before - rle * cand};
  return {sl, k, true, k - kn0 + 1, 0};
}

// Line by line from kn: the first line not passed (nl + 1 when all are).
inline int walk_sums_by_line(const double* frq, const double* sums, int kn, int nl, double xpe, double dnu, double rle,
                             double t, double d) {
  for (; kn <= nl; ++kn) {
    const double sl = (frq[kn - 1] - xpe) * dnu;
    const double most = sums[kn - 1] > sums[kn] ? sums[kn - 1] : sums[kn];  // as MAXPD
    if (!((d > sl) & (most + rle * sl < t))) break;
  }
  return kn;
}

// The walk from line kn (frq 0-based: frq[k-1] = FRQ(k); sums of the shell as above)
// over at most nl lines, two lines at a time. Precondition as for walk_lines: no line
// of the walk lies behind the packet.
inline SumWalkEnd walk_depth_sums(const double* __restrict frq, const double* __restrict sums, int kn, int nl,
                                  double xpe, double dnu, double rle, double rle_inv, double taur, double d) {
  const int kn0 = kn;
  const double t = taur + sums[kn - 1];
#if defined(__SSE2__)
  const __m128d vx = _mm_set1_pd(xpe), vdnu = _mm_set1_pd(dnu), vd = _mm_set1_pd(d), vrle = _mm_set1_pd(rle),
                vt = _mm_set1_pd(t);
  for (; kn + 1 <= nl; kn += 2) {
    const int i = kn - 1;
    const __m128d sl = _mm_mul_pd(_mm_sub_pd(_mm_loadu_pd(frq + i), vx), vdnu);
    const __m128d used = _mm_add_pd(_mm_max_pd(_mm_loadu_pd(sums + i), _mm_loadu_pd(sums + i + 1)), _mm_mul_pd(vrle, sl));
    const int pass = _mm_movemask_pd(_mm_and_pd(_mm_cmplt_pd(sl, vd), _mm_cmplt_pd(used, vt)));
    if (pass != 3) return sum_walk_end(frq, sums, kn + (pass & 1), kn0, xpe, dnu, rle, rle_inv, t, d);
  }
#endif
  kn = walk_sums_by_line(frq, sums, kn, nl, xpe, dnu, rle, t, d);
  return sum_walk_end(frq, sums, kn, kn0, xpe, dnu, rle, rle_inv, t, d);
}

// The same walk eight lines at a time on processors with AVX2 (line_walk.cpp), with the
// same results bit for bit; walk_avx2_available tells whether it may be called.
SumWalkEnd walk_depth_sums_avx2(const double* __restrict frq, const double* __restrict sums, int kn, int nl,
                                double xpe, double dnu, double rle, double rle_inv, double taur, double d);
bool walk_avx2_available();

}  // namespace mcspec
