// Radiative excitation rates. Nothing downstream reads rates from this stage: the
// line source functions come from the Monte Carlo estimators instead, so the stage
// reports its progress (levels and shells it would cover) and computes nothing.
#include "opacity/opacity.hpp"

namespace mcspec {

void report_excitation_rates(const Atoms& a, const Shells& s, OutFile& out) {
  out.write("(/ 5X 'Start  ' 'rad ex rates' 51X 'FICR')");
  out.list(a.nlvtot, s.js);
  out.write("(/ 5X 'Finish ' 'rad ex rates')");
}

}  // namespace mcspec
