// The walk on depth sums with AVX2: eight lines per step, each decided by the same
// operations as in walk_depth_sums (no fused multiply-add), so both give the same bits.
#include "montecarlo/line_walk.hpp"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define MCSPEC_WALK_AVX2 1
#endif

namespace mcspec {

#ifdef MCSPEC_WALK_AVX2
__attribute__((target("avx2"))) SumWalkEnd walk_depth_sums_avx2(const double* __restrict frq,
                                                                const double* __restrict sums, int kn, int nl,
                                                                double xpe, double dnu, double rle, double rle_inv,
                                                                double taur, double d) {
  const int kn0 = kn;
  const double t = taur + sums[kn - 1];
  const __m256d vx = _mm256_set1_pd(xpe), vdnu = _mm256_set1_pd(dnu), vd = _mm256_set1_pd(d),
                vrle = _mm256_set1_pd(rle), vt = _mm256_set1_pd(t);
  for (; kn + 7 <= nl; kn += 8) {
    const int i = kn - 1;
    const __m256d sl0 = _mm256_mul_pd(_mm256_sub_pd(_mm256_loadu_pd(frq + i), vx), vdnu);
    const __m256d sl1 = _mm256_mul_pd(_mm256_sub_pd(_mm256_loadu_pd(frq + i + 4), vx), vdnu);
    const __m256d used0 = _mm256_add_pd(_mm256_max_pd(_mm256_loadu_pd(sums + i), _mm256_loadu_pd(sums + i + 1)),
                                        _mm256_mul_pd(vrle, sl0));
    const __m256d used1 = _mm256_add_pd(_mm256_max_pd(_mm256_loadu_pd(sums + i + 4), _mm256_loadu_pd(sums + i + 5)),
                                        _mm256_mul_pd(vrle, sl1));
    const int pass0 =
        _mm256_movemask_pd(_mm256_and_pd(_mm256_cmp_pd(sl0, vd, _CMP_LT_OQ), _mm256_cmp_pd(used0, vt, _CMP_LT_OQ)));
    const int pass1 =
        _mm256_movemask_pd(_mm256_and_pd(_mm256_cmp_pd(sl1, vd, _CMP_LT_OQ), _mm256_cmp_pd(used1, vt, _CMP_LT_OQ)));
    const unsigned pass = static_cast<unsigned>(pass0 | (pass1 << 4));
    if (pass != 0xffu) return sum_walk_end(frq, sums, kn + __builtin_ctz(~pass), kn0, xpe, dnu, rle, rle_inv, t, d);
  }
  kn = walk_sums_by_line(frq, sums, kn, nl, xpe, dnu, rle, t, d);
  return sum_walk_end(frq, sums, kn, kn0, xpe, dnu, rle, rle_inv, t, d);
}

bool walk_avx2_available() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
#else
SumWalkEnd walk_depth_sums_avx2(const double* __restrict frq, const double* __restrict sums, int kn, int nl,
                                double xpe, double dnu, double rle, double rle_inv, double taur, double d) {
  return walk_depth_sums(frq, sums, kn, nl, xpe, dnu, rle, rle_inv, taur, d);
}
bool walk_avx2_available() { return false; }
#endif

}  // namespace mcspec
