// Small hand-made atomic-data directories and the run state of the model stages.
#pragma once

#include <array>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/io.hpp"
#include "driver/params.hpp"
#include "model/atoms.hpp"
#include "model/linelist.hpp"
#include "model/plasma.hpp"
#include "model/shells.hpp"

namespace mcspec::test {

struct IonData {
  int z = 0, j = 0;
  std::vector<std::pair<double, double>> levels;  // energy [cm^-1], J
  std::vector<std::array<double, 3>> lines;       // upper field, lower field, log gf
};

// A data directory: nbba.ind, nbia.ind, ihea.ind, nama.ind, lines/varn1.new,
// lines/varn2 and comp.ind. The level and line files end with the Ba II block
// unless close_files is false.
struct DataSet {
  std::vector<double> comp;                 // mass fractions of Z = 1, 2, ...
  std::map<std::pair<int, int>, double> chi;  // CHI(j, Z) by (Z, j); default 10 j eV (j <= Z)
  std::vector<IonData> ions;
  bool close_files = true;
  void write(const std::filesystem::path& dir) const;
};

// Every output file of the model stages, in memory.
struct Outputs {
  OutFile out = OutFile::memory("stdout"), stst = OutFile::memory("stst.dat"), sbib = OutFile::memory("sbib.dat"),
          atmd = OutFile::memory("atmd.oud"), ptfn = OutFile::memory("ptfn.dat"),
          yhea = OutFile::memory("yhea.dat"), lhea = OutFile::memory("lhea.dat");
};

// The constants table as listed for consts.
Constants test_constants();
// Parameters of the sn-ia-max example (dica.dat), derived quantities included.
Params example_params();
InFile open_input(const std::filesystem::path& p);
// input then atlvls on a data directory (comp.ind in the same directory).
void load_atoms(const std::filesystem::path& dir, const Params& p, Atoms& a, Outputs& o);
// js shells with the given TR, TE = TR and W, centres spread over x in (0.2, 1).
Shells uniform_shells(int js, double tr, double w);

}  // namespace mcspec::test
