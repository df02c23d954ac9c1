// The line list: lines read and censored once, their Einstein coefficients, and the
// frequency-ordered list with its maps. Every kept line has a transition number n
// (reading order) and a list position p (decreasing frequency).
#pragma once

#include <span>

#include "base/array.hpp"
#include "base/io.hpp"
#include "base/run_parameters.hpp"
#include "model/atoms.hpp"
#include "model/plasma.hpp"
#include "model/shells.hpp"

namespace mcspec {

inline constexpr int kMaxLines = 400000;
inline constexpr int kMaxBlockLines = 400000;       // lines of one ion block of the line file
inline constexpr int kMaxIonsWithLines = kMaxIons - 1;  // ILN1 needs one entry more
inline constexpr int kMaxBookkeepingLevels = 1200;  // retained levels of one ion in the line selection

struct LineList {
  int nl = 0;              // kept lines
  // By transition number n = 1..nl
  Array1<double> frql;     // frequency [Hz]
  Array1<double> loggf;    // log10 gf
  Array1<double> zcode;    // species code Z + 0.01 (stage - 1)
  Array1<int> lup;         // global upper level, negative when the file's field was
  Array1<int> llo;         // global lower level, negative when the file's field was
  Array1<double> aul;      // Einstein A [s^-1]
  Array1<double> blu;      // Einstein B for absorption
  Array1<double> taumax;   // estimated largest Sobolev optical depth
  Array1<double> elowt;    // signed lower-level energy [cm^-1]
  Array1<int> kpos;        // list position of transition n
  Array1<int> iln1;        // ILN1(m), m = 1..nion+1: first transition of ion m
  // By list position p = 1..nl (frq has nl + 1 entries, FRQ(nl + 1) = 0 ends the list)
  Array1<double> frq;      // frequency [Hz], decreasing
  Array1<double> elow;     // lower-level energy [cm^-1], sign kept
  Array1<int> lcasc;       // 0 for an effective resonance line, else 1
  Array1<int> lorig;       // LORIG(k), k = 1..nl: transition of the k-th smallest frequency
  // By global level v = 1..nlevels
  int nlevels = 0;         // levels of the level table (NLVTOT); idn1/idn2 cover at least these
  Array1<int> idn1, idn2;  // smallest and largest transition from that upper level (0: none)
  // Transition number of the line at list position p.
  int transition_at(int p) const { return lorig(nl + 1 - p); }
};

// Reads and censors the line list (varn2), rebuilds the ion list in a, changes the
// three overridden level counts, and orders the lines (writes lhea).
void read_line_list(const Params& p, const Constants& c, const Shells& s, const Plasma& pl, Atoms& a, LineList& ll,
           InFile& varn2, OutFile& out, OutFile& stst, OutFile& sbib, OutFile& lhea);

// Sorts the kept lines by frequency, builds the maps, downward ranges and resonance
// flags and writes lhea; called at the end of lines.
void order_lines_by_frequency(const Constants& c, LineList& ll, OutFile& out, OutFile& stst, OutFile& lhea);

// index receives the 1-based permutation ordering x ascending (equal
// values: larger index first, so that after the reversal into decreasing frequency
// equal frequencies keep their transition order). x is not changed. All values equal
// (a zero range) follow the same rule: n, n-1, ..., 1.
void ascending_order(std::span<const double> x, std::span<int> index);

}  // namespace mcspec
