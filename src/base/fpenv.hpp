// Floating-point environment of the process.
#pragma once

namespace mcspec {

// Flush subnormal results to zero and treat subnormal operands as zero (x86 MXCSR
// FTZ and DAZ). Set once at start, before any computation.
void set_flush_to_zero();

}  // namespace mcspec
