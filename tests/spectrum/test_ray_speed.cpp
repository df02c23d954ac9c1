// The fast ray against the rules it stands for: the composed line maps against the
// recurrence taken one line at a time, each resonance in the shell numbered
// trunc((1 - x) / (2 DX) + 1) for x = R/r, the two builds of the vector loops against
// each other, and the clamp at the outer edge with its message.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "spectrum/line_maps.hpp"
#include "support/line_model.hpp"

namespace mcspec::test {
namespace {

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

}  // namespace
}  // namespace mcspec::test
