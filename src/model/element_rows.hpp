// The per-element rows of the element tables ("ihea.ind", "nama.ind"): the atomic number
// (I3), the symbol (A3), then N values, read with the row's format.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "base/errors.hpp"
#include "base/io.hpp"
#include "model/elements.hpp"

namespace mcspec {

// The N values of the next row of f, the row of element z: its number and symbol must
// be z's (a row missing or out of order would give every later element wrong data).
template <class T, std::size_t N>
std::array<T, N> read_element_row(InFile& f, const char* format, int z) {
  int iz = 0;
  std::string sym;
  std::array<T, N> v{};
  std::vector<InItem> items{iz, sym};
  for (T& x : v) items.emplace_back(x);
  f.read(format, items);
  if (iz != z || element_of_symbol(sym) != z)
    throw InputError(f.source_name(), f.record_number(), iz != z ? 1 : 2,
                     "expected the row of element Z = " + std::to_string(z) + " (" + std::string(element_symbol(z)) +
                         "), found Z = " + std::to_string(iz) + " and a symbol that is not " +
                         std::string(element_symbol(z)));
  return v;
}

}  // namespace mcspec
