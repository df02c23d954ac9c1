// Fuzzing harness: the bytes are the file "zones.dat" of a run (in place of "comp.ind");
// every other input is good.
#include "pipeline.hpp"

MCSPEC_FUZZ_SLOT(zones)
