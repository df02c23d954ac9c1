// The formal integral: the Planck function and its sigma T^4 / pi integral, the line
// search, single rays against hand computations (boundary light, lines, electron
// scattering), the source functions' energy balance, a line-free model that must radiate
// the boundary black body; the fast ray against the rules it stands for (the composed
// line maps against the recurrence one line at a time, each resonance in the shell
// trunc((1 - x) / (2 DX) + 1) for x = R/r, the two builds of the vector loops against each
// other, the clamp at the outer edge with its message). The observed-flux spectrum and
// its photometry on hand-made spectra and filter tables: magnitudes of a flat spectrum at
// 10 pc, smoothing and the extinction law, the filter range ends, and the faults mended
// (bins never smoothed, no bin in the filters). (Report layouts: the stored digest, e2e.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "base/errors.hpp"
#include "montecarlo/montecarlo.hpp"
#include "spectrum/line_maps.hpp"
#include "support/models.hpp"

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

int formula_shell(double x, double dx) { return static_cast<int>((1.0 - x) * 0.5 / dx + 1.0); }

// Random lines filling the comoving frequencies of rays at 1e15 Hz (VPH = 10000 km/s,
// XE1 = 0.2, so z runs over -5..5 and the lines over 1e15 (1 -/+ 0.17)), random e^-tau,
// J and S per line and shell, electron-scattering depth per unit z esfac(k) per shell.
struct RandomRays {
  Params p;
  Constants c = program_constants();
  Shells s;
  Plasma pl;
  LineList ll;
  Opacity op;
  Array2<double> ej, sline;
  Scaling sc;
  OutFile out = OutFile::memory();
  std::mt19937_64 rng;
  double beta = 1e9 / kC;
  RandomRays(int js, int nl, unsigned seed, const std::vector<double>& esfac, double etau_min = 0.2) : rng(seed) {
    s = lay_shells(js);
    p.js = js, p.xe1 = 0.2, p.vph = 10000.0, p.logr = 15.0, p.iopt[3] = 1;
    sc.tb = 10000.0;
    pl.kapes.assign(js);
    for (int k = 1; k <= js; ++k)  // esfac = KAPES 10^(LOGR + LOGRH), LOGR = 15
      pl.kapes(k) = esfac[static_cast<std::size_t>(k - 1)] * 1e-15 / std::pow(10.0, s.logrh(k));
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<double> f(static_cast<std::size_t>(nl));
    for (double& v : f) v = 1e15 * (1.0 + 0.18 * (2.0 * u(rng) - 1.0));
    std::sort(f.begin(), f.end(), std::greater<>());
    ll.nl = nl;
    ll.frq.assign(nl + 1, 0.0);
    for (int i = 1; i <= nl; ++i) ll.frq(i) = f[static_cast<std::size_t>(i - 1)];
    op.etau.assign(nl, js);
    ej.assign(nl, js);
    sline.assign(nl, js);
    for (int k = 1; k <= js; ++k)
      for (int i = 1; i <= nl; ++i)
        op.etau(i, k) = etau_min + (1.0 - etau_min) * u(rng), ej(i, k) = u(rng), sline(i, k) = 0.3 * u(rng);
  }
  FormalIntegral integral() { return FormalIntegral(p, c, s, pl, ll, op, ej, sline, sc, out); }
  double uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }

  // The ray one resonance at a time as the physics has it: z = (1 - FRQ/nu)/beta,
  // the shell of x = R/r, I -> I + (J - I) min(dtau, 1), I -> I e^-tau + S. Returns
  // false when a resonance lies within 1e-9 of a shell edge (its shell is then a
  // matter of rounding).
  bool line_by_line(double pp, double nu, double& xin) {
    const double xout = 5.0, zmax = std::sqrt(xout * xout - pp * pp);
    const double z0 = pp <= 1.0 ? std::sqrt(1.0 - pp * pp) : -zmax;
    xin = pp <= 1.0 && p.iopt[3] == 1 ? planck(nu, sc.tb, c) : 0.0;
    const int i1 = first_line_below(ll, (1.0 - z0 * beta) * nu), i2 = first_line_below(ll, (1.0 - zmax * beta) * nu);
    for (int i = i1; i < i2; ++i) {
      const double z = (1.0 - ll.frq(i) / nu) / beta, x = 1.0 / std::sqrt(pp * pp + z * z);
      const double k = (1.0 - x) * 0.5 / s.dx;
      if (std::fabs(k - std::round(k)) < 1e-9) return false;
      const int j = std::clamp(formula_shell(x, s.dx), 1, s.js);
      // the segment from the previous resonance, free of the cancellation in z - zprev
      const double dz = i == i1 ? z - z0 : (ll.frq(i - 1) - ll.frq(i)) / (nu * beta);
      const double f = std::min(dz * pl.kapes(j) * std::pow(10.0, p.logr + s.logrh(j)), 1.0);
      xin = (xin + (ej(i, j) - xin) * f) * op.etau(i, j) + sline(i, j);
    }
    return true;
  }
};

TEST(RaySpeed, ComposedLineMapsFollowTheRecurrenceLineByLine) {
  // Depths per segment from 1e-6 to 0.5. Lines of e^-tau near 1 keep the intensity's
  // memory long, over many chunks; S and J differ from shell to shell, so a resonance
  // put in a shell other than the formula's changes the intensity far beyond 1e-13.
  std::vector<double> esfac(20);
  for (int k = 1; k <= 20; ++k) esfac[static_cast<std::size_t>(k - 1)] = std::pow(10.0, -3.0 + 0.25 * (20 - k));
  RandomRays r(20, 3000, 3, esfac, 0.97);
  const FormalIntegral fi = r.integral();
  int rays = 0;
  for (int n = 0; n < 200; ++n) {
    const double pp = r.uniform(0.0, 4.99), nu = 1e15 * r.uniform(0.98, 1.02);
    double expected;
    if (!r.line_by_line(pp, nu, expected)) continue;
    ASSERT_NEAR(fi.intens(pp, nu), expected, 1e-13 * std::fabs(expected)) << "p = " << pp << ", nu = " << nu;
    ++rays;
  }
  EXPECT_GT(rays, 150);
  EXPECT_TRUE(r.out.text().empty());  // no resonance beyond the outer edge
}

TEST(RaySpeed, BothBuildsOfTheLoopsAgreeBitForBit) {
  std::mt19937_64 rng(4);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const int nl = 700;
  std::vector<double> frq(nl + 1), gap(nl + 1, 0.0), ej(nl), etau(nl), sline(nl);
  frq[0] = 1e15;
  for (int l = 1; l <= nl; ++l) frq[l] = frq[l - 1] * (1.0 - 1e-4 * u(rng)), gap[l] = frq[l - 1] - frq[l];
  for (int l = 0; l < nl; ++l) ej[l] = u(rng), etau[l] = u(rng), sline[l] = u(rng);
  for (int n = 0; n < 500; ++n) {
    const ShellColumns col{ej.data(), etau.data(), sline.data(), std::pow(10.0, -14.0 + 4.0 * u(rng))};
    const int i = 2 + static_cast<int>(u(rng) * (nl - 1)), b = i + static_cast<int>(u(rng) * (nl + 1 - i));
    const double nu_end = frq[static_cast<std::size_t>(i + static_cast<int>(u(rng) * (nl - i)))];
    int i_wide = i, i_base = i;
    const double wide = across_shell(frq.data(), gap.data(), nl, col, i_wide, b, nu_end, 0.5, LaneBuild::widest);
    const double base = across_shell(frq.data(), gap.data(), nl, col, i_base, b, nu_end, 0.5, LaneBuild::baseline);
    ASSERT_EQ(i_wide, i_base);
    ASSERT_EQ(wide, base) << i << " " << b;
  }
}

TEST(RaySpeed, ResonanceBeyondTheOuterEdgeIsClampedWithItsMessage) {
  // XE1 = 0.25 against shells laid out to 0.2: resonances beyond r = 4 are at or
  // beyond the edge that XE1 names, moved to x = XE1 + 0.0001 with " xkn=".
  RandomRays r(20, 400, 5, std::vector<double>(20, 0.0));
  r.p.xe1 = 0.25;
  const FormalIntegral fi = r.integral();
  const double pp = 3.0, nu = 1e15, zmax = std::sqrt(25.0 - pp * pp);
  const int i1 = first_line_below(r.ll, (1.0 + zmax * r.beta) * nu);
  const int i2 = first_line_below(r.ll, (1.0 - zmax * r.beta) * nu);
  int beyond = 0;
  for (int i = i1; i < i2; ++i) {
    const double z = (1.0 - r.ll.frq(i) / nu) / r.beta;
    if (1.0 / std::sqrt(pp * pp + z * z) <= 0.25) ++beyond;
  }
  ASSERT_GT(beyond, 10);
  fi.intens(pp, nu);
  const auto out = records(r.out.text());
  ASSERT_EQ(static_cast<int>(out.size()), beyond);
  for (const std::string& rec : out) EXPECT_NE(rec.find("xkn="), std::string::npos) << rec;
}

constexpr double kParsec = 3.0857e18;
constexpr double kZeroPoints[5] = {0.0, 20.88446, 20.50141, 21.07875, 21.6027};

std::vector<double> uniform_bins(double first, double step, int n) {
  std::vector<double> l;
  for (int i = 0; i < n; ++i) l.push_back(first + step * i);
  return l;
}

// Bins centred on the given air wavelengths [A], each 1% of its wavelength wide, with a
// Monte Carlo spectrum log10 L_lambda = zms(lambda) (flat at 38 by default) and the
// formal one 0.1 dex below.
struct ObservedRun {
  Params p;
  Constants c = program_constants();
  WavelengthGrid g;
  SpectrumTables t;
  Estimators est;
  Scaling sc;
  Sinks sinks;
  Photometry ph;
  explicit ObservedRun(const std::vector<double>& lambdas, double (*zms)(double) = [](double) { return 38.0; }) {
    for (double lam : lambdas) {
      t.xls.vec().push_back(std::log10(lam / 1e4));
      g.wbina.vec().push_back(0.01 * lam / 1e4);
      t.zms.vec().push_back(zms(lam));
      t.zls.vec().push_back(zms(lam) - 0.1);
    }
    g.kg = t.xls.size();
    p.wvm1 = 0.1, p.wvm2 = 2.0, p.day = 19.0, p.logrrs = 4.1234, p.logls = 9.6, p.logtaug = -3.0, p.npk = 20000;
    sc.tb = 12000.0;
    est.pw.assign(5, 0.0);
    est.pw(2) = 20000.0;
  }
  void run() {
    InFile f = filters_file();
    ph = observed_spectrum_and_photometry(p, c, g, t, est, sc, f, sinks.so);
  }
  // Flux per A at the observer of log10 L_lambda = zl.
  double flux(double zl) const {
    const double logd = std::log10(std::pow(10.0, 0.2 * p.dmod + 1.0) * kParsec);
    return std::pow(10.0, zl - 8.0 - 2.0 * logd) / (4.0 * kPi);
  }
};

TEST(ObservedSpectrum, FlatSpectrumAtTenParsecs) {
  // DMOD = 0: D = 10 pc and the apparent magnitudes are the absolute ones. A flat F_lambda
  // gives -2.5 log10 F - zero point in every filter, whatever its curve; mbol is
  // M_bol,sun - 2.5 log L/Lsun.
  ObservedRun run(uniform_bins(3000.0, 20.0, 300));
  run.run();
  EXPECT_EQ(run.ph.distance, 10.0);
  const double d = 10.0 * kParsec;
  EXPECT_NEAR(run.ph.fbol, std::pow(10.0, 9.6) * 3.826e33 / (4.0 * kPi * d * d), 1e-12 * run.ph.fbol);
  for (std::size_t k = 1; k <= 4; ++k)
    EXPECT_NEAR(run.ph.mag[k], -2.5 * std::log10(run.flux(38.0)) - kZeroPoints[k], 1e-10);
  EXPECT_NEAR(run.ph.mbol, 4.75 - 2.5 * 9.6, 1e-12);
  EXPECT_NEAR(run.ph.bc, run.ph.mbol - run.ph.mag[3], 1e-12);
}

TEST(ObservedSpectrum, SmoothingAndTheExtinctionLaw) {
  // A flux linear in the bin index is left unchanged by the quadratic smoothing, so
  // without reddening the reddened set equals the raw one.
  ObservedRun linear(uniform_bins(2900.0, 25.0, 240), [](double l) { return std::log10(1e38 * (1.0 + l / 5000.0)); });
  linear.p.dmod = 20.0;
  linear.p.zred = 0.05;
  linear.run();
  for (std::size_t k = 1; k <= 4; ++k) EXPECT_NEAR(linear.ph.mag_red[k], linear.ph.mag[k], 1e-10) << k;
  // Flat spectrum, E(B-V) = 0.1 at the emitted wavelength: A_V ~ 0.1 q(5500) = 0.31 and
  // B-V reddens by ~0.1 * 2.002 (1e4/4450 - 1e4/5500) = 0.086 (filter-averaged).
  ObservedRun red(uniform_bins(3000.0, 20.0, 300));
  red.p.ebvh = 0.1;
  red.run();
  EXPECT_NEAR(red.ph.mag_red[3] - red.ph.mag[3], 0.31, 0.02);
  EXPECT_NEAR((red.ph.mag_red[2] - red.ph.mag_red[3]) - (red.ph.mag[2] - red.ph.mag[3]), 0.086, 0.02);
  EXPECT_NEAR(reddening_curve(5500.0), 3.1, 1e-12);
}

TEST(ObservedSpectrum, SpectrumFileHoldsTheSmoothedInnerBins) {
  ObservedRun six(uniform_bins(4000.0, 100.0, 6));
  six.run();
  EXPECT_TRUE(six.sinks.spct.text().empty());
  ObservedRun run(uniform_bins(4000.0, 100.0, 10));
  run.run();
  const auto spct = records(run.sinks.spct.text());
  ASSERT_EQ(spct.size(), 4u);  // bins 4..7
  EXPECT_EQ(spct[0].substr(0, 9), "  4300.00");
  const double f = run.flux(38.0);
  EXPECT_NEAR(std::stod(spct[0].substr(9 + 2 * 15, 15)), f, 1e-4 * f);                // smoothed MC
  EXPECT_NEAR(std::stod(spct[0].substr(9, 15)), f * std::pow(10.0, -0.1), 1e-4 * f);  // formal
  // A bin outside (WVM1, WVM2) is smoothed but not written: bin 4 at 4300 A drops out.
  ObservedRun narrow(uniform_bins(4000.0, 100.0, 10));
  narrow.p.wvm1 = 0.435;
  narrow.run();
  EXPECT_EQ(records(narrow.sinks.spct.text()).size(), 3u);
}

TEST(ObservedSpectrum, FilterRangeExcludesItsEnds) {
  EXPECT_FALSE(inside_filter_range(3050.0));
  EXPECT_FALSE(inside_filter_range(8350.0));
  EXPECT_TRUE(inside_filter_range(std::nextafter(3050.0, 4000.0)));
  EXPECT_TRUE(inside_filter_range(std::nextafter(8350.0, 0.0)));
  // 10^(x + 4) = 8350 exactly for this x: the bin takes no part even with a huge flux.
  const double x8350 = -0.07831352451639793;
  ASSERT_EQ(std::pow(10.0, x8350 + 4.0), 8350.0);
  ObservedRun run({5000.0, 6000.0, 7000.0, 8350.0}, [](double l) { return l == 8350.0 ? 60.0 : 38.0; });
  run.t.xls(4) = x8350;
  run.run();
  EXPECT_EQ(run.ph.bins, 3);
  EXPECT_NEAR(run.ph.mag[4], -2.5 * std::log10(run.flux(38.0)) - kZeroPoints[4], 1e-10);
}

TEST(ObservedSpectrum, UnsmoothedBinsUseTheReddenedRawFlux) {
  // Seven bins from 4800 to 5700 A: only bin 4 is smoothed, yet the photometry of the
  // other six must use their flux times their reddening, never an unset value.
  ObservedRun run(uniform_bins(4800.0, 150.0, 7));
  run.run();
  for (std::size_t k = 2; k <= 4; ++k) EXPECT_NEAR(run.ph.mag_red[k], run.ph.mag[k], 1e-10) << k;
  // E(B-V) = 0.05 dims every bin by 0.05 q(lambda), between q(5700) = 2.97 and q(4800) = 3.63.
  ObservedRun red(uniform_bins(4800.0, 150.0, 7));
  red.p.ebvh = 0.05;
  red.run();
  for (std::size_t k = 2; k <= 4; ++k) {
    EXPECT_GT(red.ph.mag_red[k] - red.ph.mag[k], 0.05 * reddening_curve(5700.0)) << k;
    EXPECT_LT(red.ph.mag_red[k] - red.ph.mag[k], 0.05 * reddening_curve(4800.0)) << k;
  }
}

TEST(ObservedSpectrum, NoBinInTheFilterRangeWarnsAndWritesUndefinedMagnitudes) {
  ObservedRun run(uniform_bins(9000.0, 100.0, 10));
  EXPECT_NO_THROW(run.run());
  EXPECT_EQ(run.ph.bins, 0);
  EXPECT_TRUE(std::isnan(run.ph.mag[1]));
  EXPECT_CONTAINS(run.sinks.out.text(), "Warning");
  EXPECT_CONTAINS(run.sinks.stst.text(), "    NaN");
}

TEST(ObservedSpectrum, BlackBodyComparison) {
  const Constants c = program_constants();
  // hc/(lambda k T) = 88 at lambda = 5000 A for T = 3270.7 K: just beyond, the bin is dark.
  const double t88 = kH * kC / (5000e-8 * kK * 88.0);
  EXPECT_EQ(blackbody_flux(c, 5000.0, 10.0, t88 * (1.0 - 1e-9), 1.0), 0.0);
  EXPECT_GT(blackbody_flux(c, 5000.0, 10.0, t88 * (1.0 + 1e-9), 1.0), 0.0);
  // Over the whole spectrum the comparison carries the bolometric flux (sigma T^4 from
  // the stored sigma, h, c and k agree to 1e-4).
  double sum = 0.0;
  for (double l = 100.0; l < 1e6; l *= 1.001) sum += blackbody_flux(c, l, l * 0.001, 12000.0, 2.5) * l * 0.001;
  EXPECT_NEAR(sum, 2.5, 2.5e-3);
}

}  // namespace
}  // namespace mcspec::test
