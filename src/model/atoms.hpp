// Composition, element tables, ion flags, energy levels and the ion list.
#pragma once

#include <array>
#include <string>

#include "base/array.hpp"
#include "base/io.hpp"
#include "base/run_parameters.hpp"

namespace mcspec {

// Species of a line from its code Z + 0.01 (stage - 1): atomic number and stage
// (1 = neutral); the small offsets absorb the code's decimal rounding.
struct Species {
  int z;
  int stage;
  bool operator==(const Species&) const = default;
};
inline Species species_of(double zcode) {
  const int z = static_cast<int>(zcode + 0.001);
  return {z, static_cast<int>((zcode - z) * 100 + 1.001)};
}

inline constexpr int kMaxElements = 60;
inline constexpr int kMaxIonisationData = 56;  // elements with ionisation potentials (ihea.ind)
inline constexpr int kMaxLevels = 25000;
inline constexpr int kMaxIons = 200;
inline constexpr int kMaxLevelStages = 5;        // stages whose levels can be stored (LEV1)
inline constexpr int kMaxLevelsPerIon = 850;     // levels below the cut-off of one included ion

struct Atoms {
  int nel = 0;                       // elements read from the composition, Z = 1..nel
  Array1<double> xmass{kMaxElements};// mass fraction of element Z, normalised to sum 1
  double xsum = 0;                   // sum of the mass fractions as read
  // By shell: the uniform composition is the same in every shell; a layered one
  // ("zones.dat") differs, and XMASS is then the mean over the shells, by mass.
  bool layered = false;
  Array1<double> xpeak{kMaxElements};  // largest mass fraction of element Z in any shell
  Array2<double> xshell;               // xshell(Z, k): mass fraction of element Z in shell k
  Array1<double> awt{kMaxElements};  // atomic weight [amu]
  // Texts are kept blank-padded to 8 characters: an A3 (symbol) or A5/A6 (label) edit
  // descriptor takes their first characters, e.g. " Fe     " and " II     ".
  std::array<std::string, kMaxElements + 1> elsym;  // element symbol (read as 3 characters), [1..60]
  std::array<std::string, 10> stlab;                // stage label (read as 5 characters), [1..9]
  Array2<double> chi{9, kMaxElements};   // CHI(j, Z): ionisation potential stage j -> j+1 [eV]
  Array2<double> zeta{8, kMaxElements};  // ZETA(j, Z): log10 of the weight zeta
  Array2<int> ionflag{64, 9};  // IONFLAG(Z, j) = 1 if the ion takes part
  Array2<int> nlev{64, 9};     // NLEV(Z, j): levels below the energy cut-off
  Array2<int> lev1{60, 5};     // LEV1(Z, j): level-table index of the ion's first level
  Array1<double> elev;         // ELEV(i): level energy [cm^-1]; negative = metastable
  Array1<double> xj;           // XJ(i): level J (weight 2J + 1)
  Array1<int> nstored{60 * 9}; // levels stored for ion (Z, j), index (j-1)*60 + Z: the
                               // block's own level count, bound for count overrides
  int nlvtot = 0;              // levels stored
  int nion = 0;                // ions in the ion list
  Array1<int> ionz{kMaxIons};  // atomic number of the m-th ion
  Array1<int> ionj{kMaxIons};  // stage of the m-th ion
  int stored_levels(int z, int j) const { return nstored((j - 1) * 60 + z); }
  void set_stored_levels(int z, int j, int n) { nstored((j - 1) * 60 + z) = n; }
  // "Fe II": symbol and stage label without their blanks, for messages.
  std::string ion_label(int z, int j) const;
};

// Reads the element symbols and stage labels (nbba), the composition (comp), the
// atomic weights (nbia) and the ionisation potentials and zeta table (ihea).
void read_elements_and_composition(InFile& nbba, InFile& comp, InFile& nbia, InFile& ihea, Atoms& a, OutFile& out, OutFile& sbib,
           OutFile& stst);

// The element tables of a layered composition, a.xshell(Z, k) set for Z = 1..60: the
// element symbols, the atomic weights and the ionisation tables as for the uniform one,
// NEL the highest element present in any shell and XPEAK. Elements beyond the
// ionisation data must be absent (an input error naming zones_file).
void read_elements_for_shells(InFile& nbba, InFile& nbia, InFile& ihea, Atoms& a, const std::string& zones_file,
                              OutFile& out, OutFile& stst);

// XMASS, the mean of the shells' fractions weighted by the shell masses, and its echo
// in sbib as for the uniform composition (the fractions "as read" are the mean too).
void echo_mean_composition(Atoms& a, const Array1<double>& shell_mass, OutFile& sbib);

// Sets the ion flags from the composition and CHL, reads the levels (varn1) and
// builds the ion list; writes atmd.
void read_levels(const Params& p, InFile& varn1, Atoms& a, OutFile& out, OutFile& atmd);

}  // namespace mcspec
