// Fuzzing harness: the bytes are the file "filters.dat" of a run; every other input is good.
#include "pipeline.hpp"

MCSPEC_FUZZ_SLOT(filters)
