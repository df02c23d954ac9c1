// Small hand-made models for the line-opacity and spectrum tests: a few shells, one
// or two ions with a handful of levels and lines, the constants as the program keeps
// them. Everything is set directly, so the tests do not depend on the readers.
#pragma once

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>
#include <vector>

#include "driver/params.hpp"
#include "model/atoms.hpp"
#include "model/linelist.hpp"
#include "model/plasma.hpp"
#include "model/shells.hpp"
#include "opacity/opacity.hpp"

namespace mcspec::test {

// The program's constants table (cgs, mostly log10 of the value).
inline Constants program_constants() {
  Constants c;
  c(Constants::kPi) = 3.141592654;
  c(Constants::kLogPi) = std::log10(3.141592654);
  c(Constants::kLogE) = 0.4342944819032518;
  c(Constants::kLn10) = 2.302585092994046;
  c(Constants::kLogH) = std::log10(6.6262e-27);
  c(Constants::kLogC) = std::log10(2.997925e10);
  c(Constants::kLogK) = std::log10(1.38062e-16);
  c(Constants::kLogSigma) = std::log10(5.6696e-5);
  c(Constants::kLogLsun) = std::log10(3.826e33);
  c(Constants::kLogRsun) = std::log10(6.9599e10);
  c(Constants::kLogTsun) = std::log10(5770.0);
  c(Constants::kMbolSun) = 4.75;
  c(Constants::kLogParsec) = std::log10(3.085678e18);
  return c;
}

// The same constants as plain numbers, for hand computations.
inline constexpr double kH = 6.6262e-27, kC = 2.997925e10, kK = 1.38062e-16, kPiProg = 3.141592654;

struct LevelSpec {
  double e;  // energy [cm^-1], negative for a metastable level
  double j;  // J, weight 2J + 1
};
struct LineSpec {
  int u, l;          // levels within the ion, 1-based
  double frq;        // [Hz]
  double aul = 1e8;  // [s^-1]
  double blu = 1e10;
};
struct IonSpec {
  int z = 26, j = 2;
  std::vector<LevelSpec> levels;
  std::vector<LineSpec> lines;
};

struct LineModel {
  Params p;
  Constants c = program_constants();
  Shells s;
  Atoms a;
  Plasma pl;
  LineList ll;
  Opacity op;
};

// Shell grid of js shells from x = 1 down to xe1, uniform in x as the model lays it.
inline void lay_shells(Shells& s, int js, double xe1) {
  s.js = js;
  s.nx = 2 * js + 1;
  s.dx = (1.0 - xe1) / (2 * js);
  s.xs.assign(s.nx);
  for (int i = 1; i <= s.nx; ++i) s.xs(i) = 1.0 - (i - 1) * s.dx;
  s.xs(s.nx) = xe1;
  s.vs.assign(js);
  s.logrh.assign(js, -14.0);
  s.dvol.assign(js);
  s.tr.assign(js, 10000.0);
  s.te.assign(js, 9000.0);
  s.w.assign(js, 1.0);
  for (int k = 1; k <= js; ++k) {
    const double xi = s.xs(2 * k - 1), xo = s.xs(2 * k + 1);
    s.dvol(k) = 1.0 / (xo * xo * xo) - 1.0 / (xi * xi * xi);
  }
}

// Lays the ions' levels one after another in the level table, the lines in transition
// order ion by ion, and orders them by decreasing frequency (equal frequencies keep
// their transition order).
inline void build_lines(LineModel& m, int js, const std::vector<IonSpec>& ions, double xe1 = 0.2) {
  lay_shells(m.s, js, xe1);
  m.p.js = js;
  m.p.xe1 = xe1;
  m.p.tday = 19.0 * 86400.0;
  m.pl.nelem.assign(64, js, 0.0);
  m.pl.fion.assign(5, 60, js, 0.0);
  m.pl.kapes.assign(js, 0.0);
  m.pl.ne.assign(js, 0.0);
  int nlev = 0, nl = 0;
  for (const auto& ion : ions) {
    nlev += static_cast<int>(ion.levels.size());
    nl += static_cast<int>(ion.lines.size());
  }
  Atoms& a = m.a;
  a.elev.assign(nlev);
  a.xj.assign(nlev);
  a.nlvtot = nlev;
  a.nion = static_cast<int>(ions.size());
  a.elsym[26] = " Fe";
  a.elsym[14] = " Si";
  a.stlab[1] = " I   ";
  a.stlab[2] = " II  ";
  LineList& ll = m.ll;
  ll.nl = nl;
  ll.frql.assign(nl);
  ll.lup.assign(nl);
  ll.llo.assign(nl);
  ll.aul.assign(nl);
  ll.blu.assign(nl);
  ll.zcode.assign(nl);
  ll.kpos.assign(nl);
  ll.lorig.assign(nl);
  ll.frq.assign(nl + 1, 0.0);
  ll.iln1.assign(static_cast<int>(ions.size()) + 1);
  int i0 = 0, n = 0;
  for (std::size_t mi = 0; mi < ions.size(); ++mi) {
    const IonSpec& ion = ions[mi];
    const int m1 = static_cast<int>(mi) + 1;
    a.ionz(m1) = ion.z;
    a.ionj(m1) = ion.j;
    a.lev1(ion.z, ion.j) = i0 + 1;
    a.nlev(ion.z, ion.j) = static_cast<int>(ion.levels.size());
    for (std::size_t i = 0; i < ion.levels.size(); ++i) {
      a.elev(i0 + static_cast<int>(i) + 1) = ion.levels[i].e;
      a.xj(i0 + static_cast<int>(i) + 1) = ion.levels[i].j;
    }
    ll.iln1(m1) = n + 1;
    for (const auto& line : ion.lines) {
      ++n;
      ll.frql(n) = line.frq;
      ll.lup(n) = line.u + i0;
      ll.llo(n) = line.l + i0;
      ll.aul(n) = line.aul;
      ll.blu(n) = line.blu;
      ll.zcode(n) = ion.z + 0.01 * (ion.j - 1);
    }
    for (int k = 1; k <= js; ++k) {
      m.pl.nelem(ion.z, k) = 1e8;
      m.pl.fion(ion.j, ion.z, k) = 1.0;
    }
    i0 += static_cast<int>(ion.levels.size());
  }
  ll.iln1(static_cast<int>(ions.size()) + 1) = nl + 1;
  // Decreasing frequency, ties in transition order.
  std::vector<int> order(static_cast<std::size_t>(nl));
  std::iota(order.begin(), order.end(), 1);
  std::stable_sort(order.begin(), order.end(), [&](int x, int y) { return ll.frql(x) > ll.frql(y); });
  for (int p = 1; p <= nl; ++p) {
    const int t = order[static_cast<std::size_t>(p - 1)];
    ll.kpos(t) = p;
    ll.frq(p) = ll.frql(t);
    ll.lorig(nl + 1 - p) = t;
  }
  m.op.allocate(nl, js);
}

}  // namespace mcspec::test
