// The output wavelength grid: edges uniform in log10 wavelength, air edges by the Edlen
// index from 2000 A on, and its table in "spcp.dat" worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "base/wavelength_grid.hpp"

namespace mcspec {
namespace {

WavelengthGrid grid(double wvm1, double wvm2, int kg, OutFile& spcp, WavelengthGrid g = {}) {
  Params p;
  p.wvm1 = wvm1;
  p.wvm2 = wvm2;
  p.kg = kg;
  build_wavelength_grid(p, g, spcp);
  return g;
}

TEST(WavelengthGrid, EdgesInAirByHand) {
  // Edge 1: log10 0.3 = -0.5228787; 3000 A in air: s = 1/0.09 = 11.111 micron^-2,
  // n = 1.000064328 + 0.0294981/134.889 + 0.0002554/29.889 = 1.000291546,
  // 0.3 / n = 0.2999126 micron, log10 = -0.5230053.
  // Edge 2: 1 micron, n = 1.000064328 + 0.0294981/145 + 0.0002554/40 = 1.000274148,
  // 1 / n = 0.9997259, log10 = -0.0001190.
  OutFile spcp = OutFile::memory("spcp.dat");
  const WavelengthGrid g = grid(0.3, 1.0, 1, spcp);
  EXPECT_EQ(spcp.text(),
            "    1   -0.522879    0.522879    0.300000 3000.000000    0.299913   -0.523005\n"
            "    2    0.000000    0.522879    1.00000010000.000000    0.999726   -0.000119\n");
  EXPECT_NEAR(g.wbina(1), 0.9997259 - 0.2999126, 2e-7);
  // Edges 0.15 and 0.1936 micron lie below 2000 A and stay in vacuum, 0.25 micron above.
  OutFile uv = OutFile::memory("spcp.dat");
  const WavelengthGrid h = grid(0.15, 0.25, 2, uv);
  EXPECT_EQ(h.wlba(1), h.wlb(1));
  EXPECT_EQ(h.wlba(2), h.wlb(2));
  EXPECT_LT(h.wlba(3), h.wlb(3));
}

TEST(WavelengthGrid, RebuildGivesTheSameGridAndRepeatsTheTable) {
  OutFile spcp = OutFile::memory("spcp.dat");
  const WavelengthGrid first = grid(0.2, 1.0, 1000, spcp);
  const std::string table = spcp.text();
  const WavelengthGrid again = grid(0.2, 1.0, 1000, spcp, first);  // rebuilt in place
  EXPECT_EQ(spcp.text(), table + table);
  for (int e = 1; e <= 1001; ++e) ASSERT_EQ(again.wlb(e), first.wlb(e));
  // Uniform in log10 up to the last edge; the widths add up to 0.8 micron.
  EXPECT_NEAR(first.wlb(1001), 0.0, 1e-14);
  double sum = 0;
  for (int b = 1; b <= 1000; ++b) sum += first.wbin(b);
  EXPECT_NEAR(sum, 0.8, 1e-12);
}

}  // namespace
}  // namespace mcspec
