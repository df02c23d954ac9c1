// Ejecta model: the x grid and dilution factors by hand, homologous rescaling of the
// profile, log-log extrapolation beyond it, and the mass and kinetic-energy sums.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "base/errors.hpp"
#include "model/shells.hpp"
#include "support/atomic_data.hpp"
#include "support/line_model.hpp"

namespace mcspec::test {
namespace {

// The shells of a profile in free format: time, then (radius, density) points.
Shells build(double dt1sec, const std::vector<std::pair<double, double>>& pts, Outputs& o,
             const Params& p = example_params()) {
  std::ostringstream text;
  text.precision(17);
  text << pts.size() << " " << dt1sec << "\n";
  for (std::size_t i = 0; i < pts.size(); ++i) text << i + 1 << " 0.0 " << pts[i].first << " " << pts[i].second << "\n";
  InFile f;
  f.open_text("hydro.dat", text.str());
  Shells s;
  build_shells(p, program_constants(), f, s, o.stst, o.out);
  return s;
}

TEST(BuildShells, GridDilutionAndStartingTemperatures) {
  const Params p = example_params();
  Outputs o;
  const Shells s = build(86400.0, {{1e13, 1e-10}, {1e16, 1e-16}}, o);
  ASSERT_EQ(s.nx, 41);
  EXPECT_DOUBLE_EQ(s.xs(1), 1.0);
  EXPECT_NEAR(s.xs(2), 0.98, 1e-15);
  EXPECT_NEAR(s.xs(41), 0.2, 1e-15);
  // W = (1 - sqrt(1 - x^2)) / 2 at the centre x = 0.98; v = VPH / x.
  EXPECT_NEAR(s.w(1), 0.5 * (1.0 - std::sqrt(1.0 - 0.9604)), 1e-15);
  EXPECT_NEAR(s.vs(1), p.vph / 0.98, 1e-9);
  EXPECT_NEAR(s.dvol(20), 1.0 / std::pow(0.2, 3) - 1.0 / std::pow(0.24, 3), 1e-9);
  EXPECT_NEAR(s.tr(7), std::pow(10.0, p.logteff), 1e-9);
  EXPECT_NEAR(s.te(7), 0.9 * s.tr(7), 1e-9);
}

// The same homologous ejecta given at DAY and at DAY/2 (radii halved, densities x 8)
// gives the same shells; a flat profile given at DAY/2 is 8 times thinner at DAY.
TEST(BuildShells, HomologousRescaling) {
  const double t = example_params().day * 86400.0;
  std::vector<std::pair<double, double>> now, half;
  for (int i = 0; i < 30; ++i) {
    const double r = 1e14 * std::pow(1.15, i), rho = 1e-12 * std::pow(r / 1e14, -7.0) * (1.0 + 0.1 * (i % 3));
    now.push_back({r, rho});
    half.push_back({r / 2, rho * 8});
  }
  Outputs o;
  const Shells a = build(t, now, o), b = build(t / 2, half, o), flat = build(t / 2, {{1e13, 1e-12}, {1e16, 1e-12}}, o);
  for (int j = 1; j <= a.js; ++j) {
    EXPECT_NEAR(a.logrh(j), b.logrh(j), 1e-10) << "shell " << j;
    EXPECT_NEAR(flat.logrh(j), -12.0 - std::log10(8.0), 1e-10);
  }
}

// Outside the profile the first and last intervals are extrapolated in log-log: points
// at 1.05, 1.1 and 1.2 R put shell 1 (x = 0.98) below the first interval and the outer
// shells far beyond the last point, where a clamp would leave -15.
TEST(BuildShells, ExtrapolatesBeyondTheProfile) {
  const Params p = example_params();
  const double r0 = std::pow(10.0, p.logr);
  const double lr[3] = {std::log10(1.05 * r0), std::log10(1.1 * r0), std::log10(1.2 * r0)}, lrho[3] = {-12, -13, -15};
  Outputs o;
  const Shells s = build(p.day * 86400.0, {{1.05 * r0, 1e-12}, {1.1 * r0, 1e-13}, {1.2 * r0, 1e-15}}, o);
  for (int j = 1; j <= p.js; ++j) {
    const double y = p.logr - std::log10(s.xs(2 * j));
    const int l = y >= lr[1] ? 1 : 0;
    EXPECT_NEAR(s.logrh(j), lrho[l] + (lrho[l + 1] - lrho[l]) / (lr[l + 1] - lr[l]) * (y - lr[l]), 1e-9) << j;
  }
  EXPECT_LT(s.logrh(p.js), -25.0);
}

// Two points: cell masses split at the log-midpoint sqrt(r1 r2), kinetic energy
// (1/2) sum m v^2 with v = r / t, written in erg as a logarithm.
TEST(BuildShells, ProfileTableAndKineticEnergy) {
  Outputs o;
  const double r1 = 1e14, r2 = 4e14, d1 = 1e-12, d2 = 1e-13, t = 1e5, rm3 = std::pow(std::sqrt(r1 * r2), 3);
  build(t, {{r1, d1}, {r2, d2}}, o);
  const double ekin = 0.5 * 4.0 / 3.0 * kPi * (rm3 * d1 * std::pow(r1 / t, 2) + (r2 * r2 * r2 - rm3) * d2 * std::pow(r2 / t, 2));
  const auto rec = records(o.stst.text());
  ASSERT_GE(rec.size(), 5u);
  EXPECT_EQ(rec[2].substr(0, 34), "   1  0.10D+15  10000.00  0.10D-11");  // v = r / t = 1e9 cm/s
  const std::string label = " /, Kin. En. = ";
  ASSERT_EQ(rec[4].substr(0, label.size()), label);
  EXPECT_NEAR(std::stod(rec[4].substr(label.size())), std::log10(ekin), 1e-12);
}

}  // namespace
}  // namespace mcspec::test
