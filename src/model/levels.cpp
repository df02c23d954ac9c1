// Ion selection and energy levels. An ion takes part when its element is present and
// the ionisation energy that produces it from the stage below is at most CHL. Its
// levels E [cm^-1] and J are stored contiguously; those with |E| below CHL (helium:
// E below 425000 cm^-1, above its second ionisation limit) are the retained levels
// NLEV that the partition functions and populations use. A negative E marks a
// metastable level whose Boltzmann factor is not diluted.
#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "base/errors.hpp"
#include "model/atoms.hpp"
#include "model/ion_blocks.hpp"

namespace mcspec {
namespace {

constexpr int kMaxLevelBlocks = 200;
constexpr double kHeliumLevelLimit = 425000.0;  // [cm^-1]

void set_ion_flags(const Params& p, Atoms& a) {
  a.ionflag.fill(0);
  for (int z = 1; z <= a.nel; ++z) {
    const int present = a.xpeak(z) != 0.0 ? 1 : 0;  // in any shell
    a.ionflag(z, 1) = present;
    for (int j = 2; j <= 8; ++j) a.ionflag(z, j) = a.chi(j - 1, z) <= p.chl ? present : 0;
  }
}

// A level is retained when its excitation energy lies below the cut-off CHLCM; for
// helium also when E < 425000 cm^-1, whatever CHL.
bool level_retained(int na, double energy, double chlcm) {
  return std::fabs(energy) < chlcm || (na == 2 && energy < kHeliumLevelLimit);
}

void write_levels(const Atoms& a, OutFile& atmd) {
  for (int m = 1; m <= a.nion; ++m) {
    const int z = a.ionz(m), j = a.ionj(m);
    atmd.write("(/ / 5X A3 A5 5X 'NLV =' I4 /)", a.elsym[static_cast<std::size_t>(z)],
               a.stlab[static_cast<std::size_t>(j)], a.nlev(z, j));
    const int i0 = a.lev1(z, j) - 1;
    for (int i = 1; i <= a.nlev(z, j); ++i) atmd.write("(I9, F16.3, F8.1)", i, a.elev(i0 + i), a.xj(i0 + i));
  }
}

}  // namespace

void read_levels(const Params& p, InFile& varn1, Atoms& a, OutFile& out, OutFile& atmd) {
  set_ion_flags(p, a);
  a.nlev.fill(0);
  a.lev1.fill(0);
  a.nstored.fill(0);
  a.nion = 0;
  std::vector<double> elev, xj;
  const std::string& file = varn1.source_name();

  for (int block = 1; block <= kMaxLevelBlocks; ++block) {
    const IonBlockHeader h =
        read_ion_block_header(varn1, 3, block - 1, "level", INT_MAX, "expected a number of levels of 0 or more");
    a.set_stored_levels(h.z, h.stage, h.count);
    const bool included = a.ionflag(h.z, h.stage) == 1;
    if (included) {
      if (h.stage > kMaxLevelStages)
        throw InputError(file, h.record, 2,
                         "levels of " + a.ion_label(h.z, h.stage) + " cannot be stored: only stages 1.." +
                             std::to_string(kMaxLevelStages) + " have level tables");
      a.lev1(h.z, h.stage) = static_cast<int>(elev.size()) + 1;
      ++a.nion;
      a.ionz(a.nion) = h.z;
      a.ionj(a.nion) = h.stage;
    }
    int count = 0;
    for (int i = 1; i <= h.count; ++i) {
      int number = 0;
      double energy = 0, jval = 0;
      varn1.read("(I9, F18.3, F12.1)", {number, energy, jval});
      if (!included) continue;
      if (static_cast<int>(elev.size()) >= kMaxLevels)
        throw InputError(file, varn1.record_number(), 0,
                         "the included ions have more than " + std::to_string(kMaxLevels) +
                             " levels, the capacity of the level table");
      elev.push_back(energy);
      xj.push_back(jval);
      if (level_retained(h.z, energy, p.chlcm)) ++count;
    }
    a.nlev(h.z, h.stage) = count;
    if (included && count > kMaxLevelsPerIon)
      throw InputError(file, h.record, 3,
                       a.ion_label(h.z, h.stage) + " has " + std::to_string(count) + " levels below the cut-off; at most " +
                           std::to_string(kMaxLevelsPerIon) + " levels per ion can be populated");
    // An ion with a single retained level has no line to offer: it leaves the list
    // (its levels stay in the table). An ion with none stays, with NLEV = 0.
    if (count == 1) {
      --a.nion;
      a.ionflag(h.z, h.stage) = 0;
    }
    if (h.z == kLastBlockZ && h.stage == kLastBlockStage) break;
  }

  a.nlvtot = static_cast<int>(elev.size());
  a.elev.vec() = std::move(elev);
  a.xj.vec() = std::move(xj);
  out.write("(/ 5X 'Total no.' ' enrg lvls =' I7)", a.nlvtot);
  out.write("(/ 5X 'Total no.' ' ions =' I4)", a.nion);
  write_levels(a, atmd);
  out.write("(/ 5X 'Energy lvls' ' read')");
}

}  // namespace mcspec
