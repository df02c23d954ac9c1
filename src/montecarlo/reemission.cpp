// Re-emission after a line absorption (reemit_after_line_event). In the Sobolev picture the absorbed
// packet excites the line's upper level, which decays through one of its downward
// lines with the probability of its branching ratio (fluorescence); the packet leaves
// at that line's rest frequency in the comoving frame, with its comoving energy kept.
#include <cstdlib>
#include <string>

#include "base/errors.hpp"
#include "montecarlo/transport.hpp"

namespace mcspec {

namespace {

int species_code(double zcode) {
  const Species sp = species_of(zcode);
  return 100 * sp.z + sp.stage;
}

// |LUP(m)| when the level table's downward ranges cover it, else 0 (no range).
int upper_level(const LineList& ll, int m) {
  const int u = std::abs(ll.lup(m));
  return (u >= 1 && u <= ll.idn1.size() && u <= ll.idn2.size()) ? u : 0;
}

}  // namespace

void EmissionMaps::build(const LineList& ll) {
  const int nl = ll.nl;
  const auto n_lines = static_cast<std::size_t>(nl);
  branches_.resize(n_lines);
  kpos_.resize(n_lines);
  for (int n = 1; n <= nl; ++n) {
    branches_[static_cast<std::size_t>(n - 1)] = {ll.kpos(n), std::abs(ll.lup(n)), species_code(ll.zcode(n))};
    kpos_[static_cast<std::size_t>(n - 1)] = ll.kpos(n);
  }
  // run_end[n]: the last transition of the run n, n+1, ... that shares the upper level
  // and species of n, so a range first..last is one level's lines of one ion exactly
  // when run_end[first] >= last.
  std::vector<int> run_end(n_lines + 1, 0);
  for (int n = nl; n >= 1; --n) {
    const Branch& b = branch(n);
    const bool joins = n < nl && branch(n + 1).upper == b.upper && branch(n + 1).species == b.species;
    run_end[static_cast<std::size_t>(n)] = joins ? run_end[static_cast<std::size_t>(n + 1)] : n;
  }
  absorbers_.resize(n_lines);
  reemissions_.resize(n_lines);
  for (int p = 1; p <= nl; ++p) {
    const int m = ll.transition_at(p);
    const int u = upper_level(ll, m);
    const int first = u > 0 ? ll.idn1(u) : 0;
    const int last = u > 0 ? ll.idn2(u) : 0;
    const int species = species_code(ll.zcode(m));
    const auto ip = static_cast<std::size_t>(p - 1);
    absorbers_[ip] = {m, std::abs(ll.lup(m)), first, last, ll.lcasc(p), species};
    const bool clean = first >= 1 && first <= last && last <= nl && branch(first).upper == u &&
                       branch(first).species == species && run_end[static_cast<std::size_t>(first)] >= last;
    if (ll.lcasc(p) == 0) {
      reemissions_[ip] = {0, 0};
    } else if (clean) {
      reemissions_[ip] = {first, last};
    } else {
      reemissions_[ip] = {-1, -1};
    }
  }
}

int checked_fluorescence(int kn, int j, const EmissionMaps& maps, const Array1<double>& frq, const double* brj,
                         Rng& rng, OutFile& out) {
  const EmissionMaps::Absorber& a = maps.absorber(kn);
  // The downward lines of the upper level occupy the transition range IDN1..IDN2; a
  // line of another upper level inside the range (a list not grouped by upper level)
  // is not a branch of this level and is passed over.
  const double r = static_cast<double>(rng.uniform());
  const int nl = maps.lines();
  int chosen = a.last;
  double sumb = 0;
  for (int n = a.first; n >= 1 && n <= a.last && n <= nl; ++n) {
    if (maps.branch(n).upper != a.upper) continue;
    sumb += brj[n - 1];
    if (r < sumb) {
      chosen = n;
      break;
    }
  }
  if (chosen < 1 || chosen > nl) {
    throw RunError("NEWFRQ: the upper level " + std::to_string(a.upper) + " of transition " + std::to_string(a.m) +
                   " has no downward transitions in the line table (IDN1 = " + std::to_string(a.first) +
                   ", IDN2 = " + std::to_string(a.last) + " for " + std::to_string(nl) + " transitions)");
  }
  const EmissionMaps::Branch& b = maps.branch(chosen);
  const int kpos = b.kpos;
  if (b.species != a.species) {
    const double xpe = frq(kpos);
    out.list(" NA1=", b.species / 100, "  NJ1=", b.species % 100, " NA=", a.species / 100, "  NJ=", a.species % 100);
    out.list(" MI=", a.m, "  M=", chosen, "KN = ", kpos, "XPE= ", xpe, "J= ", j);
    out.write("(/ '    ERROR 3 NEWFRQ')");
    throw RunError("ERROR 3 NEWFRQ: transition " + std::to_string(chosen) +
                   " chosen to re-emit a packet absorbed in transition " + std::to_string(a.m) + " (shell " +
                   std::to_string(j) + ") belongs to another ion; the line table (upper levels, IDN1/IDN2) is inconsistent");
  }
  return kpos;
}

void reemit_after_line_event(int& kn, double& xpe, int j, const EmissionMaps& maps, const Array1<double>& frq,
            const Array2<double>& br, int iopt2, Rng& rng, OutFile& out) {
  if (iopt2 == 0) {
    xpe = frq(kn);
    return;
  }
  kn = fluorescent_line(kn, j, maps, frq, br.column(j), rng, out);
  xpe = frq(kn);
}

}  // namespace mcspec
