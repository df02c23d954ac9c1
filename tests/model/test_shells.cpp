// Ejecta model: x grid, dilution factors, homologous rescaling of the profile,
// extrapolation beyond it, the mass and kinetic-energy sums, and bad profiles.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "common/errors.hpp"
#include "model/model_fixture.hpp"

namespace mcspec::test {
namespace {

// A profile in free format: time, then (radius, density) points.
InFile profile(double dt1sec, const std::vector<std::pair<double, double>>& pts) {
  std::ostringstream s;
  s.precision(17);
  s << pts.size() << " " << dt1sec << "\n";
  for (std::size_t i = 0; i < pts.size(); ++i) s << i + 1 << " 0.0 " << pts[i].first << " " << pts[i].second << "\n";
  InFile f;
  f.open_text("hydro.dat", s.str());
  return f;
}

Shells build(const Params& p, InFile f, Outputs& o) {
  Shells s;
  model(p, test_constants(), f, s, o.stst, o.out);
  return s;
}

TEST(Model, GridDilutionAndStartingTemperatures) {
  const Params p = example_params();
  Outputs o;
  const Shells s = build(p, profile(86400.0, {{1e13, 1e-10}, {1e16, 1e-16}}), o);
  ASSERT_EQ(s.nx, 41);
  EXPECT_DOUBLE_EQ(s.dx, 0.02);
  EXPECT_DOUBLE_EQ(s.xs(1), 1.0);
  EXPECT_NEAR(s.xs(41), 0.2, 1e-15);
  EXPECT_NEAR(s.xs(2), 0.98, 1e-15);
  EXPECT_NEAR(s.w(1), 0.5 * (1.0 - std::sqrt(1.0 - 0.9604)), 1e-15);
  EXPECT_NEAR(s.vs(1), p.vph / 0.98, 1e-9);
  EXPECT_NEAR(s.dvol(20), 1.0 / std::pow(0.2, 3) - 1.0 / std::pow(0.24, 3), 1e-9);
  EXPECT_NEAR(s.tr(7), std::pow(10.0, p.logteff), 1e-9);
  EXPECT_NEAR(s.te(7), 0.9 * s.tr(7), 1e-9);
  EXPECT_EQ(o.out.text(), "\n     Structure calculated\n");
}

// The same homologous ejecta given at DAY and at DAY/2 (radii halved, densities x 8)
// gives the same shells; a flat profile given at DAY/2 is 8 times thinner at DAY.
TEST(Model, HomologousRescaling) {
  const Params p = example_params();
  const double t = p.day * 86400.0;
  std::vector<std::pair<double, double>> now, half;
  for (int i = 0; i < 30; ++i) {
    const double r = 1e14 * std::pow(1.15, i), rho = 1e-12 * std::pow(r / 1e14, -7.0) * (1.0 + 0.1 * (i % 3));
    now.push_back({r, rho});
    half.push_back({r / 2, rho * 8});
  }
  Outputs o1, o2, o3;
  const Shells a = build(p, profile(t, now), o1), b = build(p, profile(t / 2, half), o2);
  const Shells flat = build(p, profile(t / 2, {{1e13, 1e-12}, {1e16, 1e-12}}), o3);
  for (int j = 1; j <= p.js; ++j) {
    EXPECT_NEAR(a.logrh(j), b.logrh(j), 1e-10) << "shell " << j;
    EXPECT_NEAR(flat.logrh(j), -12.0 - std::log10(8.0), 1e-10);
  }
}

// Outside the profile the first and last intervals are extrapolated in log-log.
TEST(Model, ExtrapolatesBeyondTheProfile) {
  Params p = example_params();
  const double t = p.day * 86400.0;
  const double r0 = std::pow(10.0, p.logr);
  // Points at 1.05 R .. 1.2 R: shell 1 (x = 0.98) lies inside the first interval's
  // extension below, the outer shells far beyond the last point.
  const double lr[3] = {std::log10(1.05 * r0), std::log10(1.1 * r0), std::log10(1.2 * r0)};
  const double lrho[3] = {-12.0, -13.0, -15.0};
  Outputs o;
  const Shells s = build(p, profile(t, {{std::pow(10.0, lr[0]), 1e-12}, {std::pow(10.0, lr[1]), 1e-13},
                                        {std::pow(10.0, lr[2]), 1e-15}}),
                         o);
  for (int j = 1; j <= p.js; ++j) {
    const double y = p.logr - std::log10(s.xs(2 * j));
    const int l = y >= lr[1] ? 1 : 0;
    const double expect = lrho[l] + (lrho[l + 1] - lrho[l]) / (lr[l + 1] - lr[l]) * (y - lr[l]);
    EXPECT_NEAR(s.logrh(j), expect, 1e-9) << "shell " << j;
  }
  EXPECT_LT(s.logrh(p.js), -15.0 - 10.0);  // a clamp would leave -15
}

// Two points: cell masses from the log-midpoint sqrt(r1 r2), kinetic energy
// (1/2) sum N_l v_l^2 with v = r / t, written in erg as a logarithm.
TEST(Model, ProfileTableAndKineticEnergy) {
  const Params p = example_params();
  Outputs o;
  const double r1 = 1e14, r2 = 4e14, d1 = 1e-12, d2 = 1e-13, t = 1e5;
  build(p, profile(t, {{r1, d1}, {r2, d2}}), o);
  const double pi = 3.141592654, rm3 = std::pow(std::sqrt(r1 * r2), 3);
  const double ekin = 0.5 * 4.0 / 3.0 * pi * (rm3 * d1 * std::pow(r1 / t, 2) + (r2 * r2 * r2 - rm3) * d2 * std::pow(r2 / t, 2));
  std::istringstream lines(o.stst.text());
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "");
  std::getline(lines, line);
  EXPECT_EQ(line, "       RADIUS    VELOCITY  DENSITY    MASS    TOT. MASS   NEWMASS NEWTOT. MASS Kin. En.");
  std::getline(lines, line);
  EXPECT_EQ(line.substr(0, 34), "   1  0.10D+15  10000.00  0.10D-11");
  std::getline(lines, line);
  std::getline(lines, line);
  const std::string label = " /, Kin. En. = ";
  ASSERT_EQ(line.substr(0, label.size()), label);
  EXPECT_NEAR(std::stod(line.substr(label.size())), std::log10(ekin), 1e-12);
  EXPECT_NE(o.stst.text().find("\n      XS      VS        LOG RH      TE       TR       W    SH M    TOTM\n\n"),
            std::string::npos);
}

TEST(Model, RefusesProfilesWithoutLogarithms) {
  const Params p = example_params();
  const struct {
    std::vector<std::pair<double, double>> pts;
    long record;
  } bad[] = {{{{1e14, 1e-12}, {0.0, 1e-13}}, 3},
             {{{1e14, 1e-12}, {2e14, -1e-13}}, 3},
             {{{1e14, 1e-12}, {2e14, 1e-13}, {2e14, 1e-14}}, 4}};
  for (const auto& b : bad) {
    Outputs o;
    try {
      build(p, profile(86400.0, b.pts), o);
      ADD_FAILURE() << "accepted a bad profile";
    } catch (const InputError& e) {
      EXPECT_EQ(e.record(), b.record) << e.what();
    }
  }
  Outputs o;
  std::vector<std::pair<double, double>> many(301, {1e14, 1e-12});
  EXPECT_THROW(build(p, profile(86400.0, many), o), InputError);
}

}  // namespace
}  // namespace mcspec::test
