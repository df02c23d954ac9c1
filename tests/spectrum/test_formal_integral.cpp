// The formal integral: the Planck function, the line search, single rays against hand
// computations, the source functions, and a line-free model against the black body.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "spectrum/spectrum_model.hpp"

namespace mcspec::test {
namespace {

double planck_nu(double nu, double t) {
  return 2.0 * kH * nu * nu * nu / (kC * kC) / std::expm1(kH * nu / (kK * t));
}

TEST(Bnu1, MatchesThePlanckLaw) {
  const Constants c = program_constants();
  for (double t : {3000.0, 10000.0, 40000.0})
    for (double nu : {1e12, 3e14, 1e15, 5e15, 3e16}) {
      const double b = planck_nu(nu, t);
      EXPECT_NEAR(bnu1(nu, t, c), b, 1e-11 * b) << nu << " " << t;
    }
  // Far on the Wien side the value underflows to zero rather than NaN.
  EXPECT_EQ(bnu1(1e19, 3000.0, c), 0.0);
}

TEST(Bnu1, FrequencyIntegralIsSigmaT4OverPi) {
  // Simpson's rule in ln nu over 1e-4 .. 60 kT/h; sigma from the same h, c, k.
  const Constants c = program_constants();
  const double t = 12000.0;
  const double sigma = 2.0 * std::pow(kPiProg, 5) * std::pow(kK, 4) / (15.0 * kC * kC * std::pow(kH, 3));
  const double lo = std::log(1e-4 * kK * t / kH), hi = std::log(60.0 * kK * t / kH);
  const int n = 20000;
  const double h = (hi - lo) / n;
  double sum = 0.0;
  for (int i = 0; i <= n; ++i) {
    const double nu = std::exp(lo + i * h);
    const double w = (i == 0 || i == n) ? 1.0 : (i % 2 ? 4.0 : 2.0);
    sum += w * bnu1(nu, t, c) * nu;
  }
  const double integral = sum * h / 3.0;
  const double expected = sigma * std::pow(t, 4) / kPiProg;
  EXPECT_NEAR(integral, expected, 1e-8 * expected);
  // The stored Stefan-Boltzmann constant agrees with h, c, k to its 5 digits.
  EXPECT_NEAR(sigma, 5.6696e-5, 2e-4 * sigma);
}

// A model whose only ion has one line per frequency, all from the ground level.
struct RayModel {
  LineModel m;
  Estimators est;
  Scaling sc;
  Array2<double> sline;
  OutFile out = OutFile::memory();
  RayModel(int js, const std::vector<double>& freqs) {
    IonSpec ion;
    ion.levels.push_back({0.0, 0.5});
    for (std::size_t i = 0; i < freqs.size(); ++i) {
      ion.levels.push_back({1000.0 * (i + 1), 0.5});
      ion.lines.push_back({static_cast<int>(i) + 2, 1, freqs[i]});
    }
    build_lines(m, js, freqs.empty() ? std::vector<IonSpec>{} : std::vector<IonSpec>{ion});
    m.p.vph = 10000.0;
    m.p.logr = 15.0;
    m.p.iopt[3] = 1;
    sc.tb = 10000.0;
    est.ej.assign(m.ll.nl, js, 0.0);
    sline.assign(m.ll.nl, js, 0.0);
  }
  FormalIntegral integral() { return FormalIntegral(m.p, m.c, m.s, m.pl, m.ll, m.op, est.ej, sline, sc, out); }
  double beta() const { return 1e9 / kC; }
};

TEST(FirstLineBelow, AgreesWithALinearSearch) {
  RayModel r(1, {9.0, 8.0, 8.0, 8.0, 5.0, 4.0, 4.0, 1.0});
  const LineList& ll = r.m.ll;
  auto linear = [&](double nu) {
    for (int i = 1; i <= ll.nl; ++i)
      if (ll.frq(i) < nu) return i;
    return ll.nl + 1;
  };
  for (double nu : {10.0, 9.0, 8.5, 8.0, 7.9, 5.0, 4.5, 4.0, 3.0, 1.0, 0.5, 0.0})
    EXPECT_EQ(first_line_below(ll, nu), linear(nu)) << nu;
  RayModel none(1, {});
  EXPECT_EQ(first_line_below(none.m.ll, 3.0), 1);
}

TEST(FormalIntegral, ImpactParametersOfAFiveRadiusModel) {
  // XE1 = 0.2: XOUT = 5, NP = 21 rays at 0.125, 0.375, ..., 5.125; the last lies
  // outside the ejecta and is skipped.
  RayModel r(4, {});
  const FormalIntegral fi = r.integral();
  EXPECT_EQ(fi.xout(), 5.0);
  EXPECT_EQ(fi.impact_parameter_count(), 21);
  EXPECT_EQ(FormalIntegral::impact_parameter(1), 0.125);
  EXPECT_EQ(FormalIntegral::impact_parameter(20), 4.875);
  EXPECT_EQ(FormalIntegral::impact_parameter(21), 5.125);
  EXPECT_LE(FormalIntegral::impact_parameter(20), fi.xout());
  EXPECT_GT(FormalIntegral::impact_parameter(21), fi.xout());
}

TEST(FormalIntegral, LineFreeRaysShowTheBoundaryOrNothing) {
  RayModel r(3, {});
  const FormalIntegral fi = r.integral();
  for (double nu : {2e14, 6e14, 2e15}) {
    const double b = bnu1(nu, 10000.0, r.m.c);
    for (int m = 1; m <= 4; ++m) EXPECT_EQ(fi.intens(FormalIntegral::impact_parameter(m), nu), b);
    EXPECT_EQ(fi.intens(1.0, nu), b);
    for (int m = 5; m <= 20; ++m) EXPECT_EQ(fi.intens(FormalIntegral::impact_parameter(m), nu), 0.0);
  }
}

TEST(FormalIntegral, TopHatBoundaryIsDarkOutsideItsBand) {
  RayModel r(3, {});
  r.m.p.iopt[3] = 0;
  r.m.p.fth1 = 1e15;  // 3000 A
  r.m.p.fth2 = 3e14;  // 10000 A
  r.sc.ith = 3.5e-5;
  const FormalIntegral fi = r.integral();
  EXPECT_EQ(fi.intens(0.375, 5e14), 3.5e-5);
  EXPECT_EQ(fi.intens(0.375, 1e15), 0.0);  // the band is open at both ends
  EXPECT_EQ(fi.intens(0.375, 3e14), 0.0);
  EXPECT_EQ(fi.intens(0.375, 2e15), 0.0);
  EXPECT_EQ(fi.intens(0.375, 1e14), 0.0);
  EXPECT_EQ(fi.intens(1.125, 5e14), 0.0);
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
  const FormalIntegral fi = r.integral();
  EXPECT_EQ(first_line_below(r.m.ll, (1.0 - std::sqrt(0.75) * r.beta()) * 1e15), 3);
  EXPECT_EQ(fi.intens(0.5, 1e15), 8.0 + 16.0 + 32.0);
  EXPECT_TRUE(r.out.text().empty());
}

TEST(FormalIntegral, LineWithElectronScatteringByHand) {
  // Central ray (p = 0) from z0 = 1; one line resonant at z = 2, i.e. x = R/r = 0.5,
  // which is inside shell 3 of 4 (x from 0.6 to 0.4). Electron scattering over
  // z = 1..2 with dtau = 1 * KAPES 10^(LOGR + LOGRH) = 0.02 * 10 = 0.2 relaxes I toward
  // the shell's J; the line then gives I e^-tau + S (1 - e^-tau).
  const double nu = 1e15;
  RayModel r(4, {0.0});
  const double beta = r.beta();
  r.m.ll.frq(1) = r.m.ll.frql(1) = nu * (1.0 - 2.0 * beta);
  for (int k = 1; k <= 4; ++k) {
    r.m.pl.kapes(k) = 0.005 * k;
    r.m.op.etau(1, k) = 0.5;
    r.est.ej(1, k) = 100.0 * k;
    r.sline(1, k) = 10.0 * k;
  }
  r.m.pl.kapes(3) = 0.02;
  const FormalIntegral fi = r.integral();
  const double i0 = bnu1(nu, 10000.0, r.m.c);
  const double z = (1.0 - r.m.ll.frq(1) / nu) / beta;
  ASSERT_NEAR(z, 2.0, 1e-12);
  const double dtau = (z - 1.0) * 0.02 * 10.0;
  const double expected = (300.0 + (i0 - 300.0) * std::exp(-dtau)) * 0.5 + 30.0;
  EXPECT_NEAR(fi.intens(0.0, nu), expected, 1e-12 * expected);
}

TEST(FormalIntegral, ThickElectronScatteringRelaxesTowardJWithoutOvershoot) {
  // dtau = 5 between the boundary and the resonance: I must end between B and J (a
  // first-order step would give B + 5 (J - B), far beyond J, negative for J < B).
  const double nu = 1e15;
  RayModel r(4, {0.0});
  const double beta = r.beta();
  r.m.ll.frq(1) = r.m.ll.frql(1) = nu * (1.0 - 2.0 * beta);
  for (int k = 1; k <= 4; ++k) {
    r.m.pl.kapes(k) = 0.5;  // dtau = 1 * 0.5 * 10 = 5 in every shell
    r.m.op.etau(1, k) = 1.0;
    r.est.ej(1, k) = 0.0;
    r.sline(1, k) = 0.0;
  }
  const FormalIntegral fi = r.integral();
  const double i0 = bnu1(nu, 10000.0, r.m.c);
  const double in = fi.intens(0.0, nu);
  EXPECT_GT(in, 0.0);
  EXPECT_NEAR(in, i0 * std::exp(-5.0), 1e-12 * i0);
}

TEST(FormalIntegral, BackHemisphereLinesOfAnOffDiscRay) {
  // p = 2 misses the lower boundary and starts at z = -ZMAX: the line resonant at z = -2
  // (approaching side, blueshifted) is met before the one at z = +2.
  const double nu = 1e15;
  RayModel r(4, {0.0, 0.0});
  const double beta = r.beta();
  r.m.ll.frq(1) = nu * (1.0 + 2.0 * beta);
  r.m.ll.frq(2) = nu * (1.0 - 2.0 * beta);
  r.m.op.etau.fill(0.5);
  r.sline.fill(1.0);
  r.sline(1, 3) = 4.0;  // both points have x = 1/sqrt(8) = 0.354: shell 4
  r.sline(1, 4) = 8.0;
  const FormalIntegral fi = r.integral();
  EXPECT_EQ(fi.intens(2.0, nu), 8.0 * 0.5 + 1.0);
}

TEST(LineSourceFunctions, MeanIntensityAndAbsorbedEnergyRedistributed) {
  // One upper level with two lines; J = c t 10^EP0 S / (4 pi V nu) from the raw
  // estimator S. The energy the level absorbs per unit volume and time, the sum over its
  // lines of 4 pi nu J (1 - e^-tau) / (c t), is re-emitted by the branching ratios.
  LineModel m;
  build_lines(m, 2, {{26, 2, {{0.0, 0.5}, {1000.0, 0.5}, {30000.0, 0.5}}, {{3, 1, 9e14}, {3, 2, 8.7e14}}}});
  m.p.logvol = 45.0;
  const double ep0 = 30.0;
  m.op.etau.fill(0.5);
  m.op.etau(2, 1) = 0.8;
  m.op.br(1, 1) = 0.25;
  m.op.br(2, 1) = 0.75;
  m.op.br(1, 2) = 1.0;
  m.op.br(2, 2) = 0.0;
  Array2<double> ej(2, 2, 0.0), sline;
  ej(1, 1) = 1000.0;
  ej(2, 1) = 3000.0;
  ej(1, 2) = 50.0;
  ej(2, 2) = 70.0;
  const Array2<double> raw = ej;
  line_source_functions(m.p, m.c, m.s, m.ll, m.op, ep0, ej, sline);
  const double t = m.p.tday;
  double absorbed[3] = {};
  for (int k = 1; k <= 2; ++k) {
    const double v = m.s.dvol(k) * 1e45;
    for (int p = 1; p <= 2; ++p) {
      const double nu = m.ll.frq(p);
      const double j = kC * t * 1e30 * raw(p, k) / (4.0 * kPiProg * v * nu);
      EXPECT_NEAR(ej(p, k), j, 1e-12 * j);
      absorbed[k] += 4.0 * kPiProg * j * (1.0 - m.op.etau(p, k)) * nu / (kC * t);
    }
    // What the lines emit, S (1 - e^-tau) 4 pi nu / (c t), adds up to what the level absorbed.
    double emitted = 0.0;
    for (int p = 1; p <= 2; ++p) emitted += sline(p, k) * 4.0 * kPiProg * m.ll.frq(p) / (kC * t);
    EXPECT_NEAR(emitted, absorbed[k], 1e-12 * absorbed[k]);
  }
  const double s1 = kC / m.ll.frq(1) * t / (4.0 * kPiProg) * 0.25 * absorbed[1];
  EXPECT_NEAR(sline(m.ll.kpos(1), 1), s1, 1e-12 * s1);
  EXPECT_EQ(sline(m.ll.kpos(2), 2), 0.0);
}

// A line-free model with a black-body boundary, through the whole spectrum stage.
struct LineFreeRun {
  RayModel r{20, {}};
  WavelengthGrid g;
  SpectrumTables t;
  Sinks sinks;
  explicit LineFreeRun(int kg, double wvm1 = 0.1, double wvm2 = 3.0) : g(log_grid(wvm1, wvm2, kg)) {
    r.m.p.wvm1 = wvm1;
    r.m.p.wvm2 = wvm2;
    r.m.p.kg = kg;
    r.m.p.logls = 9.6;
    r.m.p.day = 19.0;
    r.sc.spl.assign(kg, -99.0);
    r.est.pw.assign(5, 0.0);
  }
  void run(int irf = 3) {
    InFile filters = filters_file();
    spectrum(irf, r.m.p, r.m.c, r.m.s, r.m.pl, r.m.ll, r.m.op, r.est, r.sc, g, t, filters, sinks.so);
  }
};

TEST(Spectrum, LineFreeModelRadiatesTheBoundaryBlackBody) {
  // Without lines every ray with p <= 1 carries B_nu(TB) and the others nothing, so
  // F = 2 sum B p dp over p = 0.125 .. 0.875: the midpoint rule is exact for the linear
  // integrand 2 B p on [0, 1] (a whole number of 0.25 steps), F = B and
  // L_nu = 4 pi R^2 (pi B_nu): the disc of radius R at TB. The only quadrature error
  // left is the midpoint rule in log lambda, (DWL ln10)^2 / 24 * (ln L)'' ~ 1e-6 here.
  LineFreeRun run(400);
  run.run();
  const double r2 = 1e30;
  for (int b : {1, 123, 400}) {
    const double wlm = 0.5 * (run.g.wlb(b) + run.g.wlb(b + 1)) - 4.0;
    const double nu = std::pow(10.0, std::log10(kC) - wlm);
    const double bnu = bnu1(nu, 10000.0, run.r.m.c);
    EXPECT_NEAR(run.t.fn(b), bnu, 1e-14 * bnu);
    const double lam = std::pow(10.0, wlm);
    EXPECT_NEAR(run.t.zld(b), std::log10(4.0 * kPiProg * kPiProg * r2 * bnu * kC / (lam * lam)), 1e-12);
    EXPECT_NEAR(run.t.zls(b), run.t.zld(b), 1e-15);  // Rb = 1 on this grid
  }
  // Analytic luminosity over 0.1 .. 3 micron: 4 pi^2 R^2 * integral of B_lambda,
  // by Simpson's rule in ln lambda.
  const double l1 = std::log(0.1e-4), l2 = std::log(3.0e-4);
  const int n = 40000;
  const double h = (l2 - l1) / n;
  double sum = 0.0;
  for (int i = 0; i <= n; ++i) {
    const double lam = std::exp(l1 + i * h);
    const double blam = 2.0 * kH * kC * kC / std::pow(lam, 5) / std::expm1(kH * kC / (lam * kK * 10000.0));
    sum += ((i == 0 || i == n) ? 1.0 : (i % 2 ? 4.0 : 2.0)) * blam * lam;
  }
  const double lum = 4.0 * kPiProg * kPiProg * r2 * sum * h / 3.0;
  EXPECT_NEAR(run.t.zltot, std::log10(lum), 2e-6);

  const auto out = records(run.sinks.out.text());
  ASSERT_GE(out.size(), 3u);
  EXPECT_EQ(out.front(), "  Start Spectrum ");
  char last[80];
  std::snprintf(last, sizeof last, "     Log L =%8.4f     WVM1 = 0.1000    WVM2 = 3.0000", run.t.zltot);
  EXPECT_EQ(out[out.size() - 1], last);
  EXPECT_EQ(out[out.size() - 2], "");
  EXPECT_EQ(out[out.size() - 3], "  Finish formal ");
}

TEST(Spectrum, DarkBinsAndTheSpectrumTable) {
  // Top-hat boundary entirely blueward of the grid and no lines: every bin is empty,
  // ZLS = -99 + log10 Rb with Rb = WBIN / WBINA.
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
  EXPECT_EQ(spcp[0], "");
  EXPECT_EQ(spcp[1], "     Iteration   7");
  for (int b = 1; b <= 5; ++b) {
    const std::string& rec = spcp[static_cast<std::size_t>(b) + 1];
    ASSERT_EQ(rec.size(), 9u + 4u * 16u);
    EXPECT_EQ(std::stoi(rec.substr(0, 9)), b);
    EXPECT_NEAR(std::stod(rec.substr(9, 16)), run.t.xls(b), 5e-7);
    EXPECT_EQ(rec.substr(25, 16), "      1.11111111");
    EXPECT_EQ(rec.substr(41, 16), "       -98.95424");  // -99 + log10(1/0.9)
    EXPECT_EQ(rec.substr(57, 16), b == 2 ? "        38.29576" : "       -98.95424");
    EXPECT_EQ(run.t.fn(b), 0.0);
    EXPECT_EQ(run.t.zld(b), -99.0);
  }
}

}  // namespace
}  // namespace mcspec::test
