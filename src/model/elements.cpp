// Element symbols of the periodic table, Z = 1..118 (IUPAC). The table is the program's
// own rather than the data directory's "nbba.ind": whether a composition record names
// the right element is a fact of chemistry, which a damaged or unusual data directory
// must not be able to change.
#include "model/elements.hpp"

#include <array>
#include <cctype>

namespace mcspec {
namespace {

constexpr std::array<std::string_view, kKnownElements> kSymbols{
    "H",  "He", "Li", "Be", "B",  "C",  "N",  "O",  "F",  "Ne", "Na", "Mg", "Al", "Si", "P",  "S",  "Cl",
    "Ar", "K",  "Ca", "Sc", "Ti", "V",  "Cr", "Mn", "Fe", "Co", "Ni", "Cu", "Zn", "Ga", "Ge", "As", "Se",
    "Br", "Kr", "Rb", "Sr", "Y",  "Zr", "Nb", "Mo", "Tc", "Ru", "Rh", "Pd", "Ag", "Cd", "In", "Sn", "Sb",
    "Te", "I",  "Xe", "Cs", "Ba", "La", "Ce", "Pr", "Nd", "Pm", "Sm", "Eu", "Gd", "Tb", "Dy", "Ho", "Er",
    "Tm", "Yb", "Lu", "Hf", "Ta", "W",  "Re", "Os", "Ir", "Pt", "Au", "Hg", "Tl", "Pb", "Bi", "Po", "At",
    "Rn", "Fr", "Ra", "Ac", "Th", "Pa", "U",  "Np", "Pu", "Am", "Cm", "Bk", "Cf", "Es", "Fm", "Md", "No",
    "Lr", "Rf", "Db", "Sg", "Bh", "Hs", "Mt", "Ds", "Rg", "Cn", "Nh", "Fl", "Mc", "Lv", "Ts", "Og"};

bool same_letters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

}  // namespace

std::string_view element_symbol(int z) {
  if (z < 1 || z > kKnownElements) return {};
  return kSymbols[static_cast<std::size_t>(z - 1)];
}

int element_of_symbol(std::string_view name) {
  const std::size_t first = name.find_first_not_of(' ');
  if (first == std::string_view::npos) return 0;
  name = name.substr(first, name.find_last_not_of(' ') - first + 1);
  for (int z = 1; z <= kKnownElements; ++z)
    if (same_letters(name, kSymbols[static_cast<std::size_t>(z - 1)])) return z;
  return 0;
}

}  // namespace mcspec
