// Fuzzing harness: the bytes are the file "lines/varn2" of a run; every other input is good.
#include "pipeline.hpp"

MCSPEC_FUZZ_SLOT(varn2)
