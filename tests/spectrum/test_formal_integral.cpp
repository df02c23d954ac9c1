// The formal integral: the Planck function and its sigma T^4 / pi integral, the line
// search, single rays against hand computations (boundary light, lines, electron
// scattering), the source functions' energy balance, and a line-free model that must
// radiate the boundary black body.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "montecarlo/montecarlo.hpp"
#include "support/line_model.hpp"

namespace mcspec::test {
namespace {

TEST(Planck, PlanckLawAndItsIntegralSigmaT4OverPi) {
  const Constants c = program_constants();
  EXPECT_EQ(planck(1e19, 3000.0, c), 0.0);  // far on the Wien side: zero, not NaN
  // Simpson's rule in ln nu over 1e-4 .. 60 kT/h; sigma = 2 pi^5 k^4 / (15 c^2 h^3).
  const double t = 12000.0, sigma = 2.0 * std::pow(kPi, 5) * std::pow(kK, 4) / (15.0 * kC * kC * std::pow(kH, 3));
  const double integral = simpson([&](double x) { return planck(std::exp(x), t, c) * std::exp(x); },
                                  std::log(1e-4 * kK * t / kH), std::log(60.0 * kK * t / kH), 20000);
  EXPECT_NEAR(integral, sigma * std::pow(t, 4) / kPi, 1e-8 * integral);
  EXPECT_NEAR(sigma, 5.6696e-5, 2e-4 * sigma);  // the stored constant agrees to its 5 digits
}

// A model whose only ion has one line per frequency, all from the ground level, with a
// black-body boundary at 10000 K, R = 1e15 cm and VPH = 10000 km/s.
struct RayModel {
  LineModel m;
  Estimators est;
  Scaling sc;
  Array2<double> sline;
  OutFile out = OutFile::memory();
  RayModel(int js, const std::vector<double>& freqs) {
    IonSpec ion{26, 2, {{0.0, 0.5}}, {}};
    for (std::size_t i = 0; i < freqs.size(); ++i) {
      ion.levels.push_back({1000.0 * static_cast<double>(i + 1), 0.5});
      ion.lines.push_back({static_cast<int>(i) + 2, 1, freqs[i]});
    }
    build_lines(m, js, freqs.empty() ? std::vector<IonSpec>{} : std::vector<IonSpec>{ion});
    m.p.vph = 10000.0, m.p.logr = 15.0, m.p.iopt[3] = 1;
    sc.tb = 10000.0;
    est.ej.assign(m.ll.nl, js, 0.0);
    sline.assign(m.ll.nl, js, 0.0);
  }
  FormalIntegral integral() { return FormalIntegral(m.p, m.c, m.s, m.pl, m.ll, m.op, est.ej, sline, sc, out); }
  static double beta() { return 1e9 / kC; }
};

TEST(FirstLineBelow, AgreesWithALinearSearch) {
  RayModel r(1, {9.0, 8.0, 8.0, 8.0, 5.0, 4.0, 4.0, 1.0});
  for (double nu : {10.0, 9.0, 8.5, 8.0, 7.9, 5.0, 4.5, 4.0, 3.0, 1.0, 0.5, 0.0}) {
    int linear = 1;
    while (linear <= r.m.ll.nl && r.m.ll.frq(linear) >= nu) ++linear;
    EXPECT_EQ(first_line_below(r.m.ll, nu), linear) << nu;
  }
  EXPECT_EQ(first_line_below(RayModel(1, {}).m.ll, 3.0), 1);
}

TEST(FormalIntegral, LineFreeRaysShowOnlyTheBoundary) {
  // XE1 = 0.2: XOUT = 5, NP = 21 rays at 0.125, 0.375, ..., 5.125; the last lies
  // outside the ejecta and is skipped. Rays that meet the boundary (p <= 1) carry
  // B_nu(TB), the others nothing.
  RayModel r(3, {});
  const FormalIntegral fi = r.integral();
  EXPECT_EQ(fi.xout(), 5.0);
  EXPECT_EQ(fi.impact_parameter_count(), 21);
  EXPECT_EQ(FormalIntegral::impact_parameter(1) + FormalIntegral::impact_parameter(21), 5.25);
  for (double nu : {2e14, 6e14, 2e15}) {
    const double b = planck(nu, 10000.0, r.m.c);
    for (int m = 1; m <= 20; ++m) EXPECT_EQ(fi.intens(FormalIntegral::impact_parameter(m), nu), m <= 4 ? b : 0.0);
    EXPECT_EQ(fi.intens(1.0, nu), b);
  }
  // A top-hat boundary is bright only inside its open band (FTH2, FTH1) = (3e14, 1e15).
  r.m.p.iopt[3] = 0, r.m.p.fth1 = 1e15, r.m.p.fth2 = 3e14;
  r.sc.ith = 3.5e-5;
  const FormalIntegral th = r.integral();
  EXPECT_EQ(th.intens(0.375, 5e14), 3.5e-5);
  for (double nu : {1e15, 3e14, 2e15, 1e14}) EXPECT_EQ(th.intens(0.375, nu), 0.0) << nu;
  EXPECT_EQ(th.intens(1.125, 5e14), 0.0);
  r.m.p.iopt[3] = 2;  // neither option: no boundary light
  EXPECT_EQ(r.integral().intens(0.375, 5e14), 0.0);
}

TEST(FormalIntegral, RayBelowEveryLineMeetsTheRestOfTheList) {
  // p = 0.5, nu = 1e15: the ray's comoving frequency runs from nu0 = 0.9711 nu down to
  // nu1 = 0.8341 nu, below every line; lines 3..5 lie inside, 1 and 2 above nu0.
  RayModel r(4, {0.99e15, 0.98e15, 0.95e15, 0.90e15, 0.85e15});
  r.m.p.iopt[3] = 2;
  r.m.op.etau.fill(1.0);
  for (int k = 1; k <= 4; ++k)
    for (int i = 1; i <= 5; ++i) r.sline(i, k) = std::ldexp(1.0, i);
  EXPECT_EQ(first_line_below(r.m.ll, (1.0 - std::sqrt(0.75) * RayModel::beta()) * 1e15), 3);
  EXPECT_EQ(r.integral().intens(0.5, 1e15), 8.0 + 16.0 + 32.0);
  EXPECT_TRUE(r.out.text().empty());
}

// Central ray (p = 0) from z0 = 1 with one line resonant at z = 2 (x = 0.5, shell 3 of 4).
RayModel central_ray_model(double kapes, double etau, double ej, double sline) {
  RayModel r(4, {0.0});
  r.m.ll.frq(1) = r.m.ll.frql(1) = 1e15 * (1.0 - 2.0 * RayModel::beta());
  for (int k = 1; k <= 4; ++k)
    r.m.pl.kapes(k) = kapes * k, r.m.op.etau(1, k) = etau, r.est.ej(1, k) = ej * k, r.sline(1, k) = sline * k;
  return r;
}

TEST(FormalIntegral, LineWithElectronScatteringByHand) {
  // Electron scattering over z = 1..2 with dtau = KAPES 10^(LOGR + LOGRH) dz = 0.02 x 10
  // steps I toward the shell's J = 300 by I + (J - I) dtau; the line then gives
  // I e^-tau + S (1 - e^-tau).
  RayModel r = central_ray_model(0.005, 0.5, 100.0, 10.0);
  r.m.pl.kapes(3) = 0.02;
  const double i0 = planck(1e15, 10000.0, r.m.c);
  const double expected = (i0 + (300.0 - i0) * 0.2) * 0.5 + 30.0;
  EXPECT_NEAR(r.integral().intens(0.0, 1e15), expected, 1e-12 * expected);
  // Thick: dtau = 5 from the boundary to the resonance, J = 0: the step is held at J,
  // I = 0 (the unheld first-order step would give B + 5 (J - B), negative).
  RayModel thick = central_ray_model(0.0, 1.0, 0.0, 0.0);
  thick.m.pl.kapes.fill(0.5);
  EXPECT_EQ(thick.integral().intens(0.0, 1e15), 0.0);
}

TEST(FormalIntegral, BackHemisphereLinesOfAnOffDiscRay) {
  // p = 2 misses the lower boundary and starts at z = -ZMAX: the line resonant at z = -2
  // (approaching side, blueshifted) is met before the one at z = +2; both points have
  // x = 1/sqrt(8) = 0.354, in shell 4.
  RayModel r(4, {1e15 * (1.0 + 2.0 * RayModel::beta()), 1e15 * (1.0 - 2.0 * RayModel::beta())});
  r.m.op.etau.fill(0.5);
  r.sline.fill(1.0);
  r.sline(1, 3) = 4.0;
  r.sline(1, 4) = 8.0;
  EXPECT_EQ(r.integral().intens(2.0, 1e15), 8.0 * 0.5 + 1.0);
}

TEST(LineSourceFunctions, MeanIntensityAndAbsorbedEnergyRedistributed) {
  // One upper level with two lines; J = c t 10^EP0 S / (4 pi V nu) from the raw estimator
  // S. The energy the level absorbs per unit volume and time, the sum over its lines of
  // 4 pi nu J (1 - e^-tau) / (c t), is re-emitted through the branching ratios.
  LineModel m;
  build_lines(m, 2, {{26, 2, {{0.0, 0.5}, {1000.0, 0.5}, {30000.0, 0.5}}, {{3, 1, 9e14}, {3, 2, 8.7e14}}}});
  m.p.logvol = 45.0;
  m.op.etau.fill(0.5);
  m.op.etau(2, 1) = 0.8;
  Array2<double> ej(2, 2, 0.0), sline;
  const double br[2][2] = {{0.25, 1.0}, {0.75, 0.0}}, raw_ej[2][2] = {{1000.0, 50.0}, {3000.0, 70.0}};  // [p][k]
  for (int p = 1; p <= 2; ++p)
    for (int k = 1; k <= 2; ++k) m.op.br(p, k) = br[p - 1][k - 1], ej(p, k) = raw_ej[p - 1][k - 1];
  line_source_functions(m.p, m.c, m.s, m.ll, m.op, 30.0, ej, sline, 2);
  const double t = m.p.tday;
  double absorbed[3] = {};
  for (int k = 1; k <= 2; ++k) {
    double emitted = 0.0;
    for (int p = 1; p <= 2; ++p) {
      const double nu = m.ll.frq(p), j = kC * t * 1e30 * raw_ej[p - 1][k - 1] / (4.0 * kPi * m.s.dvol(k) * 1e45 * nu);
      EXPECT_NEAR(ej(p, k), j, 1e-12 * j);
      absorbed[k] += 4.0 * kPi * j * (1.0 - m.op.etau(p, k)) * nu / (kC * t);
      emitted += sline(p, k) * 4.0 * kPi * nu / (kC * t);  // S (1 - e^-tau) 4 pi nu / (c t)
    }
    EXPECT_NEAR(emitted, absorbed[k], 1e-12 * absorbed[k]);
  }
  const double s1 = kC / m.ll.frq(1) * t / (4.0 * kPi) * 0.25 * absorbed[1];
  EXPECT_NEAR(sline(m.ll.kpos(1), 1), s1, 1e-12 * s1);
  EXPECT_EQ(sline(m.ll.kpos(2), 2), 0.0);
}

// A line-free model with a black-body boundary, through the whole spectrum stage.
struct LineFreeRun {
  RayModel r{20, {}};
  WavelengthGrid g;
  SpectrumTables t;
  Sinks sinks;
  LineFreeRun(int kg, double wvm1, double wvm2) : g(log_grid(wvm1, wvm2, kg)) {
    r.m.p.wvm1 = wvm1;
    r.m.p.wvm2 = wvm2;
    r.m.p.kg = kg;
    r.sc.spl.assign(kg, -99.0);
    r.est.pw.assign(5, 0.0);
  }
  void run(int irf = 3) {
    InFile filters = filters_file();
    emergent_spectrum(irf, r.m.p, r.m.c, r.m.s, r.m.pl, r.m.ll, r.m.op, r.est, r.sc, g, t, filters, sinks.so, 2);
  }
};

TEST(EmergentSpectrum, LineFreeModelRadiatesTheBoundaryBlackBody) {
  // Every ray with p <= 1 carries B_nu(TB), the others nothing: F = 2 sum B p dp over
  // p = 0.125 .. 0.875, exact for the linear integrand, F = B and L_nu = 4 pi R^2 (pi B_nu).
  // What is left is the midpoint rule in log lambda, (DWL ln10)^2 / 24 (ln L)'' ~ 1e-6.
  LineFreeRun run(400, 0.1, 3.0);
  run.run();
  for (int b : {1, 123, 400}) {
    const double wlm = 0.5 * (run.g.wlb(b) + run.g.wlb(b + 1)) - 4.0, lam = std::pow(10.0, wlm);
    const double bnu = planck(std::pow(10.0, std::log10(kC) - wlm), 10000.0, run.r.m.c);
    EXPECT_NEAR(run.t.fn(b), bnu, 1e-14 * bnu);
    EXPECT_NEAR(run.t.zld(b), std::log10(4.0 * kPi * kPi * 1e30 * bnu * kC / (lam * lam)), 1e-12);
    EXPECT_NEAR(run.t.zls(b), run.t.zld(b), 1e-15);  // air = vacuum on this grid
  }
  // The luminosity over 0.1 .. 3 micron: 4 pi^2 R^2 times the integral of B_lambda.
  const double lum = 4.0 * kPi * kPi * 1e30 * simpson([](double x) {
    const double lam = std::exp(x);
    return 2.0 * kH * kC * kC / std::pow(lam, 4) / std::expm1(kH * kC / (lam * kK * 10000.0));
  }, std::log(0.1e-4), std::log(3.0e-4), 40000);
  EXPECT_NEAR(run.t.zltot, std::log10(lum), 2e-6);
}

TEST(EmergentSpectrum, DarkBinsAndTheSpectrumTable) {
  // Top-hat boundary entirely blueward of the grid and no lines: every bin is empty,
  // ZLS = -99 + log10 Rb with Rb = WBIN / WBINA = 1/0.9.
  LineFreeRun run(5, 0.4, 0.6);
  run.r.m.p.iopt[3] = 0;
  run.r.m.p.fth1 = 2e15;
  run.r.m.p.fth2 = 1.5e15;
  run.r.sc.ith = 1.0;
  for (int b = 1; b <= 5; ++b) run.g.wbina(b) = run.g.wbin(b) * 0.9;
  run.r.sc.spl(2) = 38.25;
  run.run(7);
  const auto spcp = records(run.sinks.spcp.text());
  ASSERT_EQ(spcp.size(), 2u + 5u);  // blank, "Iteration", 5 bins
  EXPECT_EQ(spcp[1], "     Iteration   7");
  for (int b = 1; b <= 5; ++b) {
    const std::string& rec = spcp[static_cast<std::size_t>(b) + 1];
    EXPECT_EQ(rec.substr(25), "      1.11111111       -98.95424" +
                                  std::string(b == 2 ? "        38.29576" : "       -98.95424"));
    EXPECT_EQ(run.t.fn(b), 0.0);
  }
}

}  // namespace
}  // namespace mcspec::test
