// The per-element rows of the element tables ("ihea.ind", "nama.ind"): the atomic number
// (I3), the symbol (A3), then N values, read with the row's format.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "base/io.hpp"

namespace mcspec {

// The N values of the next row of f (the number and symbol are read and not used).
template <class T, std::size_t N>
std::array<T, N> read_element_row(InFile& f, const char* format) {
  int iz = 0;
  std::string sym;
  std::array<T, N> v{};
  std::vector<InItem> items{iz, sym};
  for (T& x : v) items.emplace_back(x);
  f.read(format, items);
  return v;
}

}  // namespace mcspec
