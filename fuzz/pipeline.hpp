// The set-up stages of a run driven on in-memory files, for the fuzzing harnesses: one
// input file is replaced by the fuzzer's bytes, the others are the good files of a small
// model (the hydrogen example on the generated data directory; for "zones.dat", a
// layered version of its composition in place of "comp.ind"). The run goes from the
// parameters through the first pass's line list, the stages that read and use the files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace mcspec::fuzz {

enum class Slot { dica, comp, hydro, nbba, nbia, ihea, nama, varn1, varn2, filters, zones };

// Runs the stages with `bytes` in place of the file in `slot`. An InputError (the file
// is refused with a message naming it) or a RunError (the run stops with a message of
// its own) is a normal outcome; anything else aborts, and so does a result that breaks
// an invariant the readers promise (checked after each stage).
void run_pipeline(Slot slot, std::string_view bytes);

}  // namespace mcspec::fuzz

// Each harness is one line: MCSPEC_FUZZ_SLOT(comp)
#define MCSPEC_FUZZ_SLOT(name)                                                                  \
  extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {           \
    mcspec::fuzz::run_pipeline(mcspec::fuzz::Slot::name,                                        \
                               std::string_view(reinterpret_cast<const char*>(data), size));    \
    return 0;                                                                                   \
  }
