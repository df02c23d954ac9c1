#include "base/fpenv.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace mcspec {

void set_flush_to_zero() {
#if defined(__x86_64__) || defined(__i386__)
  constexpr unsigned kFlushToZero = 0x8000;     // FTZ
  constexpr unsigned kDenormalsAreZero = 0x0040; // DAZ
  _mm_setcsr(_mm_getcsr() | kFlushToZero | kDenormalsAreZero);
#endif
}

}  // namespace mcspec
