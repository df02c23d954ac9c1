// Output wavelength grid: KG bins uniform in log10 wavelength between WVM1 and WVM2
// [micron]. Each edge is also converted to air with Edlen's (1953) refractive index of
// standard air, lambda_air = lambda_vac / n(s), s = 1/lambda^2 [micron^-2], from 2000 A on
// (shorter wavelengths are quoted in vacuum); bin widths follow in vacuum and in air.
#include "base/wavelength_grid.hpp"

#include <cmath>

#include "base/air_vacuum.hpp"

namespace mcspec {
namespace {

constexpr double kAngstromPerMicron = 10000.0;
constexpr double kMicronPerAngstrom = 0.0001;

void size_to(Array1<double>& a, int n) {
  if (a.size() != n) a.assign(n);
}

}  // namespace

void build_wavelength_grid(const Params& p, WavelengthGrid& g, OutFile& spcp) {
  const int kg = p.kg;
  g.kg = kg;
  size_to(g.wlb, kg + 1);
  size_to(g.wlba, kg + 1);
  size_to(g.wbin, kg);
  size_to(g.wbina, kg);

  g.wlb(1) = std::log10(p.wvm1);
  g.wlb(kg + 1) = std::log10(p.wvm2);
  g.dwl = (g.wlb(kg + 1) - g.wlb(1)) / kg;
  const double wlb1 = g.wlb(1);
  for (int e = 1; e <= kg + 1; ++e) {
    g.wlb(e) = (e - 1) * g.dwl + wlb1;  // also recomputes the last edge from the step
    const double wv = std::pow(10.0, g.wlb(e));
    const double wa = wv * kAngstromPerMicron;
    const double wum = vacuum_to_air(wa) * kMicronPerAngstrom;
    g.wlba(e) = std::log10(wum);
    spcp.write("(I5, 6F12.6)", e, g.wlb(e), g.dwl, wv, wa, wum, g.wlba(e));
  }
  for (int b = 1; b <= kg; ++b) {
    g.wbin(b) = std::pow(10.0, g.wlb(b + 1)) - std::pow(10.0, g.wlb(b));
    g.wbina(b) = std::pow(10.0, g.wlba(b + 1)) - std::pow(10.0, g.wlba(b));
  }
}

}  // namespace mcspec
