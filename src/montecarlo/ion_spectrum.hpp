// The escaping Monte Carlo spectrum by the ion that last emitted each packet: for
// every wavelength bin of the packet spectrum, the share of its escaping energy whose
// last emission was in a line of each ion (species 0: a packet no line re-emitted).
// Opt-in (MCSPEC_ION_SPECTRUM=1); the last Monte Carlo run of the program is written
// to "ionspec.dat".
#pragma once

#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "base/io.hpp"
#include "base/wavelength_grid.hpp"

namespace mcspec {

// An escaped packet in bin `bin` (1..KG) with energy ep, last emitted by species
// `code` = 100 Z + stage (0: none).
struct IonEscape {
  int bin;
  int code;
  double ep;
};

struct IonSpectrum {
  bool enabled = false;
  OutFile* file = nullptr;  // owned by the run's files, which set it aside with the rest on a stop
  std::map<std::pair<int, int>, double> energy;  // (bin, code) -> escaped energy of the last run

  // Creates "ionspec.dat" in the working directory (InputError when it exists).
  void open(OutFile& f, const std::string& path);
  // Replaces the tables by the escapes of a run, in the order given.
  void set_run(const std::vector<IonEscape>& escapes);
  // Writes the comment header and the records bin, vacuum wavelength of the bin centre
  // [Angstrom], species Z + 0.01 (stage - 1), share of the bin's escaped energy. The
  // run's closing closes the file (a stop before then sets it aside with the rest).
  void write(const WavelengthGrid& g);
};

}  // namespace mcspec
