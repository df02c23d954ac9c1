// The output wavelength grid and its table in "spcp.dat".
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "driver/initiate.hpp"

namespace mcspec {
namespace {

Params grid_params(double wvm1, double wvm2, int kg) {
  Params p;
  p.wvm1 = wvm1;
  p.wvm2 = wvm2;
  p.kg = kg;
  return p;
}

TEST(Initiate, OneBinFromPointThreeToOneMicron) {
  WavelengthGrid g;
  OutFile spcp = OutFile::memory("spcp.dat");
  initiate(grid_params(0.3, 1.0, 1), g, spcp);
  // Edge 1: log10 0.3 = -0.5228787; 3000 A in air: s = 1/0.09 = 11.111 micron^-2,
  // n = 1.000064328 + 0.0294981/134.889 + 0.0002554/29.889 = 1.000291546,
  // 0.3 / n = 0.2999126 micron, log10 = -0.5230053.
  // Edge 2: 1 micron, n = 1.000064328 + 0.0294981/145 + 0.0002554/40 = 1.000274148,
  // 1 / n = 0.9997259, log10 = -0.0001190.
  EXPECT_EQ(spcp.text(),
            "    1   -0.522879    0.522879    0.300000 3000.000000    0.299913   -0.523005\n"
            "    2    0.000000    0.522879    1.00000010000.000000    0.999726   -0.000119\n");
  EXPECT_EQ(g.kg, 1);
  EXPECT_EQ(g.wlb(1), std::log10(0.3));
  EXPECT_EQ(g.wlb(2), 0.0);
  EXPECT_NEAR(g.wbin(1), 0.7, 1e-15);
  EXPECT_LT(g.wbina(1), g.wbin(1));
  const double n1 = 1.000064328 + 0.0294981 / 145 + 0.0002554 / 40;
  const double n03 = 1.000064328 + 0.0294981 / (146 - 1 / 0.09) + 0.0002554 / (41 - 1 / 0.09);
  EXPECT_NEAR(g.wbina(1), 1.0 / n1 - 0.3 / n03, 1e-14);
}

TEST(Initiate, EdgesBelow2000AngstromStayInVacuum) {
  WavelengthGrid g;
  OutFile spcp = OutFile::memory("spcp.dat");
  initiate(grid_params(0.15, 0.25, 2), g, spcp);
  // Edges 0.15 and 0.1936 micron lie below 2000 A, 0.25 micron above.
  EXPECT_DOUBLE_EQ(g.wlba(1), g.wlb(1));
  EXPECT_DOUBLE_EQ(g.wlba(2), g.wlb(2));
  EXPECT_LT(g.wlba(3), g.wlb(3));
  EXPECT_DOUBLE_EQ(g.wbina(1), g.wbin(1));
  EXPECT_EQ(spcp.text().substr(0, 41), "    1   -0.823909    0.110924    0.150000");
}

TEST(Initiate, RebuildGivesTheSameGridAndRepeatsTheTable) {
  WavelengthGrid g;
  OutFile spcp = OutFile::memory("spcp.dat");
  const Params p = grid_params(0.2, 1.0, 1000);
  initiate(p, g, spcp);
  const std::string first = spcp.text();
  const WavelengthGrid keep = g;
  initiate(p, g, spcp);
  EXPECT_EQ(spcp.text(), first + first);
  for (int e = 1; e <= 1001; ++e) ASSERT_EQ(g.wlb(e), keep.wlb(e));
  // Uniform in log10: every edge one step above the previous; the last edge recomputed.
  EXPECT_NEAR(g.wlb(1001), 0.0, 1e-14);
  EXPECT_NEAR(g.dwl, std::log10(5.0) / 1000, 1e-16);
  double sum = 0;
  for (int b = 1; b <= 1000; ++b) sum += g.wbin(b);
  EXPECT_NEAR(sum, 0.8, 1e-12);
}

}  // namespace
}  // namespace mcspec
