// The intensity steps of one ray across the resonances of one shell, as affine maps
// I -> a I + c with a = (1 - f) e^-tau and c = f e^-tau J + S, f = min(dtau, 1) the
// step toward J over the electron-scattering segment before the resonance. The
// maps of neighbouring lines are worked out side by side and composed,
// a1 (a0 I + c0) + c1 = (a0 a1) I + (a1 c0 + c1), before they touch the intensity, so
// the recurrence costs one multiply and one add per chunk instead of five operations
// in a row per line.
#include "spectrum/line_maps.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

// The vector helpers are inlined into each build of the loops; the note that a 32-byte
// vector is passed differently with and without AVX concerns calls across builds,
// which none of them makes.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define MCSPEC_AVX2_BUILD 1
#endif

namespace mcspec {

namespace {

// The share of the way to the local mean intensity after an electron-scattering
// depth x: the first-order step x, held at 1 so that a segment thicker than one optical
// depth ends at J instead of overshooting it (and turning the intensity negative in dense
// ejecta). The vector lanes take x itself and leave segments of x >= 1 to fraction().
constexpr double kThinSegment = 1.0;

template <class T>
inline T thin_fraction(const T& x) {
  return x;
}
inline double fraction(double x) { return std::min(x, 1.0); }

// The affine map of line l (0-based) from the fraction f of the way to J.
inline void line_map(const ShellColumns& col, int l, double f, double& a, double& c) {
  const double fe = f * col.etau[l];
  a = col.etau[l] - fe;
  c = fe * col.ej[l] + col.sline[l];
}
// The same with f from the electron-scattering depth since line l - 1.
inline void line_map(const double* gap, const ShellColumns& col, int l, double& a, double& c) {
  line_map(col, l, fraction(gap[l] * col.dtau_per_hz), a, c);
}

// Vector lanes: two doubles on every x86-64 (SSE2), four with AVX2. Each lane rounds
// exactly as one line at a time would.
struct TwoLanes {
  static constexpr int kWidth = 2;
  using Vec = double __attribute__((vector_size(16)));
  using Mask = std::int64_t __attribute__((vector_size(16)));
};
struct FourLanes {
  static constexpr int kWidth = 4;
  using Vec = double __attribute__((vector_size(32)));
  using Mask = std::int64_t __attribute__((vector_size(32)));
};
template <class V>
inline void load(V& v, const double* p) {
  std::memcpy(&v, p, sizeof v);
}
template <class V>
inline void store(double* p, const V& v) {
  std::memcpy(p, &v, sizeof v);
}

// Lines go kChunk at a time, a run's last lines padded with identity maps (a = 1,
// c = 0, which compose exactly), so the loops have fixed lengths and cost no branch
// mispredictions. A chunk is four quads of four lines.
constexpr int kChunk = 16;

// The maps of a chunk, kChunk / width vectors of a and of c.
template <class L>
struct ChunkMaps {
  typename L::Vec a[kChunk / L::kWidth], c[kChunk / L::kWidth];
  double a_at(int q) const { return a[q / L::kWidth][q % L::kWidth]; }
  double c_at(int q) const { return c[q / L::kWidth][q % L::kWidth]; }
};

// The maps of the kChunk lines from l0 (0-based), with f = x; in a Partial chunk lines
// from l0 + n on get the identity map. Returns whether one of the n lines has a segment
// of x >= 1, whose f is then 1.
template <class L, bool Partial>
inline bool chunk_maps(const double* gap, const ShellColumns& col, int l0, int n, ChunkMaps<L>& m) {
  using V = typename L::Vec;
  using M = typename L::Mask;
  V one, zero;
  M beyond, lane;
  for (int k = 0; k < L::kWidth; ++k) {
    one[k] = 1.0;
    zero[k] = 0.0;
    beyond[k] = 0;
    lane[k] = k;
  }
  const double reach = kThinSegment;
  for (int g = 0; g < kChunk / L::kWidth; ++g) {
    const int l = l0 + g * L::kWidth;
    V dfrq, etau, ej, sline;
    load(dfrq, gap + l);
    load(etau, col.etau + l);
    load(ej, col.ej + l);
    load(sline, col.sline + l);
    const V x = dfrq * col.dtau_per_hz;
    const V f = thin_fraction(x);
    const V fe = f * etau;
    V al = etau - fe, cl = fe * ej + sline;
    if constexpr (Partial) {
      const M keep = (lane + g * L::kWidth) < n;
      beyond |= (x >= reach) & keep;
      al = keep ? al : one;
      cl = keep ? cl : zero;
    } else {
      beyond |= x >= reach;
    }
    m.a[g] = al;
    m.c[g] = cl;
  }
  std::int64_t any = 0;
  for (int k = 0; k < L::kWidth; ++k) any |= beyond[k];
  return any != 0;
}

// The maps of a chunk whatever the thickness of its segments.
template <class L, bool Partial>
inline void chunk_maps_any(const double* gap, const ShellColumns& col, int l0, int n, ChunkMaps<L>& m) {
  if (!chunk_maps<L, Partial>(gap, col, l0, n, m)) return;
  for (int q = 0; q < n; ++q) {
    const int l = l0 + q;
    if (gap[l] * col.dtau_per_hz < kThinSegment) continue;
    double a, c;
    line_map(gap, col, l, a, c);
    m.a[q / L::kWidth][q % L::kWidth] = a;
    m.c[q / L::kWidth][q % L::kWidth] = c;
  }
}

// The map of two maps in turn, first (a0, c0), then (a1, c1).
inline void compose_pair(double a0, double c0, double a1, double c1, double& a, double& c) {
  a = a0 * a1;
  c = a1 * c0 + c1;
}

// I after the chunk's maps: each quad's four in turn, the quads as a binary tree.
inline double apply_quads(const double* qa, const double* qc, double xin) {
  double a01, c01, a23, c23, a03, c03;
  compose_pair(qa[0], qc[0], qa[1], qc[1], a01, c01);
  compose_pair(qa[2], qc[2], qa[3], qc[3], a23, c23);
  compose_pair(a01, c01, a23, c23, a03, c03);
  return a03 * xin + c03;
}
template <class L>
inline double apply_chunk(const ChunkMaps<L>& m, double xin) {
  double qa[4], qc[4];
  for (int k = 0; k < 4; ++k) {
    double am = m.a_at(4 * k), cm = m.c_at(4 * k);
    for (int s = 1; s < 4; ++s) {
      cm = m.a_at(4 * k + s) * cm + m.c_at(4 * k + s);
      am = m.a_at(4 * k + s) * am;
    }
    qa[k] = am;
    qc[k] = cm;
  }
  return apply_quads(qa, qc, xin);
}

// The same with the quads in the four lanes: a 4x4 transpose puts line 4k + s in lane
// k of row s, and the rows are composed in turn.
inline void transpose(FourLanes::Vec& r0, FourLanes::Vec& r1, FourLanes::Vec& r2, FourLanes::Vec& r3) {
  using V = FourLanes::Vec;
  const V t0 = __builtin_shufflevector(r0, r1, 0, 4, 2, 6), t1 = __builtin_shufflevector(r0, r1, 1, 5, 3, 7);
  const V t2 = __builtin_shufflevector(r2, r3, 0, 4, 2, 6), t3 = __builtin_shufflevector(r2, r3, 1, 5, 3, 7);
  r0 = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
  r1 = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
  r2 = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
  r3 = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}
inline double apply_chunk_in_lanes(ChunkMaps<FourLanes>& m, double xin) {
  using V = FourLanes::Vec;
  transpose(m.a[0], m.a[1], m.a[2], m.a[3]);
  transpose(m.c[0], m.c[1], m.c[2], m.c[3]);
  V am = m.a[0], cm = m.c[0];
  for (int s = 1; s < 4; ++s) {
    cm = m.a[s] * cm + m.c[s];
    am = m.a[s] * am;
  }
  double qa[4], qc[4];
  store(qa, am);
  store(qc, cm);
  return apply_quads(qa, qc, xin);
}

// Number of leading entries of frq[0..n) above nu (frq decreasing).
inline int lines_above(const double* frq, int n, double nu) {
  std::int64_t k = 0;
  for (int q = 0; q < n; ++q)
    if (frq[q] > nu) ++k;
  return static_cast<int>(k);
}

// The loop of across_shell with the lanes L, inlined whole into each build. A run ends
// inside a chunk at the first line with FRQ <= nu_end.
template <class L>
[[gnu::always_inline]] inline double across_shell_in(const double* frq, const double* gap, int nl,
                                                     const ShellColumns& col, int& i, int b, double nu_end,
                                                     double xin) {
  ChunkMaps<L> m;
  while (i < b) {
    const int l0 = i - 1;
    int n = std::min(kChunk, b - i);
    if (!(frq[l0 + n - 1] > nu_end)) n = lines_above(frq + l0, n, nu_end);
    if (n == 0) break;
    if (l0 + kChunk <= nl) {
      if (n == kChunk)
        chunk_maps_any<L, false>(gap, col, l0, n, m);
      else
        chunk_maps_any<L, true>(gap, col, l0, n, m);
      if constexpr (L::kWidth == 4)
        xin = apply_chunk_in_lanes(m, xin);
      else
        xin = apply_chunk(m, xin);
    } else {  // the chunk would reach past the end of the list: line by line
      for (int l = l0; l < l0 + n; ++l) {
        double al, cl;
        line_map(gap, col, l, al, cl);
        xin = al * xin + cl;
      }
    }
    i += n;
  }
  return xin;
}

double across_shell_baseline(const double* frq, const double* gap, int nl, const ShellColumns& col, int& i, int b,
                             double nu_end, double xin) {
  return across_shell_in<TwoLanes>(frq, gap, nl, col, i, b, nu_end, xin);
}

#ifdef MCSPEC_AVX2_BUILD
__attribute__((target("avx2"), flatten)) double across_shell_avx2(const double* frq, const double* gap, int nl,
                                                                  const ShellColumns& col, int& i, int b,
                                                                  double nu_end, double xin) {
  return across_shell_in<FourLanes>(frq, gap, nl, col, i, b, nu_end, xin);
}
bool processor_has_avx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
#endif

}  // namespace

double relaxed_fraction(double x) { return fraction(x); }

double across_shell(const double* frq, const double* gap, int nl, const ShellColumns& col, int& i, int b,
                    double nu_end, double xin, LaneBuild build) {
#ifdef MCSPEC_AVX2_BUILD
  if (build == LaneBuild::widest && processor_has_avx2())
    return across_shell_avx2(frq, gap, nl, col, i, b, nu_end, xin);
#endif
  return across_shell_baseline(frq, gap, nl, col, i, b, nu_end, xin);
}

}  // namespace mcspec
