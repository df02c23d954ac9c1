// Frequency order of the kept lines: list position p counts lines by decreasing
// frequency (increasing wavelength), the order in which a packet redshifting through
// the homologous flow meets its resonances. Also the downward-transition ranges of
// every upper level (fluorescence), the effective resonance lines (a line that is the
// only way down from its upper level to the ground state scatters like a resonance
// line) and the line report lhea.dat with wavelengths in air above 2000 A.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "base/air_vacuum.hpp"
#include "model/line_list.hpp"

namespace mcspec {
namespace {

// IDN1(v)..IDN2(v): smallest and largest transition number whose upper level is v.
void set_downward_ranges(LineList& ll) {
  int nlevels = ll.nlevels;
  for (int n = 1; n <= ll.nl; ++n) nlevels = std::max(nlevels, std::abs(ll.lup(n)));
  ll.idn1.assign(nlevels, 0);
  ll.idn2.assign(nlevels, 0);
  for (int n = 1; n <= ll.nl; ++n) {
    const int v = std::abs(ll.lup(n));
    if (ll.idn1(v) == 0) ll.idn1(v) = n;
    ll.idn2(v) = std::max(ll.idn2(v), n);
  }
}

void sort_by_frequency(LineList& ll) {
  const int nl = ll.nl;
  ll.lorig.assign(nl, 0);
  ascending_order(std::span<const double>(ll.frql.data(), static_cast<std::size_t>(nl)),
        std::span<int>(ll.lorig.data(), static_cast<std::size_t>(nl)));
  ll.kpos.assign(nl, 0);
  ll.frq.assign(nl + 1, 0.0);  // FRQ(nl + 1) = 0 ends the list
  ll.elow.assign(nl, 0.0);
  for (int k = 1; k <= nl; ++k) {
    const int p = nl + 1 - k, n = ll.lorig(k);
    ll.kpos(n) = p;
    ll.frq(p) = ll.frql(n);
    ll.elow(p) = ll.elowt(n);
  }
}

// Vacuum wavelength [A] of frequency nu, converted to standard air above 2000 A.
double report_wavelength(double c_angstrom, double nu) {
  double lambda = c_angstrom / nu;
  if (lambda > 2000.0) {
    const double q = lambda / 10000.0;
    lambda = lambda / edlen_index(1.0 / (q * q));
  }
  return lambda;
}

void write_line_report(const Constants& c, const LineList& ll, OutFile& stst, OutFile& lhea) {
  const double c_angstrom = std::pow(10.0, c.log_c() + 8.0);
  for (int n = 1; n <= ll.nl; ++n) {
    const double lambda = report_wavelength(c_angstrom, ll.frql(n));
    if (lambda <= 0.0) stst.list(" wair ", ll.zcode(n), ll.frql(n), lambda);
    lhea.write("( 2I7 E13.6 F11.3 F8.2 F9.3 2I7 E10.3 )", n, ll.kpos(n), ll.frql(n), lambda, ll.zcode(n),
               ll.loggf(n), ll.llo(n), ll.lup(n), ll.taumax(n));
  }
}

// A line that is the only kept line from its upper level and whose lower level was
// flagged in the line file (negative field) is an effective resonance line.
int flag_resonance_lines(LineList& ll) {
  ll.lcasc.assign(ll.nl, 1);
  int count = 0;
  for (int p = 1; p <= ll.nl; ++p) {
    const int n = ll.transition_at(p);
    const int v = std::abs(ll.lup(n));
    if (ll.idn1(v) == ll.idn2(v) && ll.llo(n) < 0) {
      ll.lcasc(p) = 0;
      ++count;
    }
  }
  return count;
}

}  // namespace

void order_lines_by_frequency(const Constants& c, LineList& ll, OutFile& out, OutFile& stst, OutFile& lhea) {
  set_downward_ranges(ll);
  sort_by_frequency(ll);
  write_line_report(c, ll, stst, lhea);
  const int nres = flag_resonance_lines(ll);
  out.write("( / 25X 'No. eff res' ' lines =' I6 / )", nres);
  out.write("(/ 5X 'Line list' ' read')");
  if (ll.nl > 0)
    out.list(" lines", ll.llo(1), ll.lup(1));
  else
    out.list(" lines", 0, 0);
}

}  // namespace mcspec
