// The chemical elements by atomic number: symbols of the periodic table, used to check
// the element named by each composition record.
#pragma once

#include <string>
#include <string_view>

namespace mcspec {

inline constexpr int kKnownElements = 118;

// The symbol of element Z ("Fe" for 26), or an empty view outside 1..118.
std::string_view element_symbol(int z);
// The atomic number whose symbol is name, compared without regard to case and
// surrounding blanks ("fe", " FE" give 26); 0 when name is no element symbol.
int element_of_symbol(std::string_view name);

}  // namespace mcspec
