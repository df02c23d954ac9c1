// Composition coverage. An element takes part in the line physics through the ions in
// the ion list; one whose ions are missing from the level file, or all need more than
// CHL eV to be made, or keep a single level below the cut-off, contributes electrons
// but no lines, and a run without any ion gives a bare scattered continuum.
#include "model/coverage.hpp"

#include <cmath>
#include <cstdio>

#include "base/text.hpp"

namespace mcspec {
namespace {

std::string fixed(double v, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

bool takes_part(const Atoms& a, int z) {
  for (int m = 1; m <= a.nion; ++m)
    if (a.ionz(m) == z) return true;
  return false;
}

// Why no ion of element z takes part, from the blocks of the level file.
std::string reason_left_out(const Atoms& a, const Params& p, int z, const std::string& level_file) {
  std::string beyond_chl, single_level;
  for (int j = 1; j <= 9; ++j) {
    if (a.stored_levels(z, j) <= 0) continue;
    const std::string ion = a.ion_label(z, j);
    if (j >= 2 && !(a.chi(j - 1, z) <= p.chl))
      beyond_chl += (beyond_chl.empty() ? "" : ", ") + ion + " " + fixed(a.chi(j - 1, z), 2) + " eV";
    else if (j <= 8)
      single_level += (single_level.empty() ? "" : ", ") + ion;
  }
  if (beyond_chl.empty() && single_level.empty()) return "the level file \"" + level_file + "\" has no ion of it";
  std::string why;
  if (!beyond_chl.empty())
    why = "its ions in the level file need more than CHL = " + fixed(p.chl, 2) + " eV to be made (" + beyond_chl + ")";
  if (!single_level.empty())
    why += (why.empty() ? "" : "; ") + single_level + " keep" + (single_level.find(',') == std::string::npos ? "s" : "") +
           " a single level below the cut-off";
  return why;
}

}  // namespace

std::vector<std::string> composition_warnings(const Atoms& a, const Params& p, const std::string& comp_file,
                                              const std::string& level_file) {
  std::vector<std::string> w;
  if (std::fabs(a.xsum - 1.0) > kFractionSumTolerance)
    w.push_back("the mass fractions of \"" + comp_file + "\" add up to " + fixed(a.xsum, 4) +
                ", not 1; they are normalised to 1");
  for (int z = 1; z <= a.nel; ++z) {
    if (!(a.xpeak(z) >= kNoticeableFraction) || takes_part(a, z)) continue;
    w.push_back(trimmed(a.elsym[static_cast<std::size_t>(z)]) + " (Z = " + std::to_string(z) +
                (a.layered ? ", mass fraction up to " : ", mass fraction ") + fixed(a.xpeak(z), 4) + ") is left out of the line physics: " + reason_left_out(a, p, z, level_file));
  }
  if (a.nion == 0)
    w.push_back("no ion takes part: the spectrum will be the boundary's continuum scattered by electrons, without "
                "lines");
  return w;
}

}  // namespace mcspec
