// The observed-flux spectrum and its photometry on hand-made spectra and filter tables:
// magnitudes of a flat spectrum at 10 pc, smoothing and the extinction law, the filter
// range ends, and the faults mended (bins never smoothed, no bin in the filters). The
// report records' layout: the stored digest of the hydrogen example (e2e).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "base/errors.hpp"
#include "montecarlo/montecarlo.hpp"
#include "support/line_model.hpp"

namespace mcspec::test {
namespace {

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
