// Partition functions in a diluted black-body radiation field:
//   U = g_1 + sum_{i>1} g_i W^d_i exp(-|E_i| hc / (k TR)),   g_i = 2 J_i + 1,
// E_i [cm^-1]; d_i = 1 for a normal level (populated by the diluted field), 0 for a
// metastable level (stored with negative energy, undiluted). An ion without level
// data keeps the statistical weight of its ground state (IGT, "nama.ind").
#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "base/errors.hpp"
#include "model/element_rows.hpp"
#include "model/plasma.hpp"

namespace mcspec {
namespace {

constexpr int kFinalPass = 31;  // the call after the last temperature pass writes ptfn.dat

void read_ground_weights(InFile& nama, Plasma& pl) {
  for (int z = 1; z <= kMaxIonisationData; ++z) {
    const auto g = read_element_row<int, 10>(nama, "(I3, A3, 10I4)", z);
    for (int j = 1; j <= 10; ++j) pl.igt(z, j) = g[static_cast<std::size_t>(j - 1)];
    // The weights of the stages that take part (up to the bare nucleus, at most stage
    // 5) divide the Saha factor: a statistical weight is at least 1.
    for (int j = 1; j <= std::min(z + 1, kMaxLevelStages); ++j)
      if (pl.igt(z, j) < 1)
        throw InputError(nama.source_name(), nama.record_number(), j + 2,
                         "expected a ground-state statistical weight of 1 or more for stage " + std::to_string(j) +
                             " of Z = " + std::to_string(z) + ", found " + std::to_string(pl.igt(z, j)));
  }
}

// Every ion up to the bare nucleus (at most stage 5) starts from its ground weight.
void set_ground_weights(const Shells& s, Plasma& pl) {
  for (int z = 1; z <= kMaxIonisationData; ++z)
    for (int j = 1; j <= std::min(z + 1, kMaxLevelStages); ++j)
      for (int k = 1; k <= s.js; ++k) pl.pf(k, z, j) = static_cast<double>(pl.igt(z, j));
}

double level_sum(const Atoms& a, int i0, int n, double c2, double tr, double w) {
  double u = 2.0 * a.xj(i0) + 1.0;  // ground level: full weight, no Boltzmann factor
  for (int i = i0 + 1; i <= i0 + n - 1; ++i) {
    const double e = a.elev(i);
    double b = std::exp(-std::fabs(e) * c2 / tr);
    if (e > 0.0) b *= w;
    u += (2.0 * a.xj(i) + 1.0) * b;
  }
  return u;
}

void write_partition_functions(int iter, const Shells& s, const Atoms& a, const Plasma& pl, OutFile& ptfn) {
  for (int k = 1; k <= s.js; ++k) {
    ptfn.write("(I3, I3)", iter, k);
    for (int m = 1; m <= a.nion; ++m) {
      const int z = a.ionz(m), j = a.ionj(m);
      ptfn.write("(I8, I14, I4, F20.3, I10)", m, z, j, pl.pf(k, z, j), pl.igt(z, j));
    }
  }
}

}  // namespace

void partition_functions(int iter, const Constants& c, const Shells& s, const Atoms& a, Plasma& pl, InFile& nama, OutFile& ptfn,
           OutFile& out) {
  if (iter == 1) read_ground_weights(nama, pl);
  set_ground_weights(s, pl);
  const double c2 = std::pow(10.0, c.log_h() + c.log_c() - c.log_k());  // hc/k [cm K]
  for (int z = 1; z <= kMaxIonisationData; ++z) {
    for (int j = 1; j <= std::min(z, kMaxLevelStages); ++j) {
      const int n = a.nlev(z, j);
      if (a.ionflag(z, j) == 0 || n == 0) continue;
      const int i0 = a.lev1(z, j);
      for (int k = 1; k <= s.js; ++k) pl.pf(k, z, j) = level_sum(a, i0, n, c2, s.tr(k), s.w(k));
    }
  }
  if (iter == kFinalPass) write_partition_functions(iter, s, a, pl, ptfn);
  out.write("(/ 5X 'Partition fns' ' calculated')");
}

}  // namespace mcspec
