// Fuzzing harness: the bytes are the file "nbba.ind" of a run; every other input is good.
#include "pipeline.hpp"

MCSPEC_FUZZ_SLOT(nbba)
