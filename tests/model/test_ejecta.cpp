// Ejecta model: the x grid and dilution factors by hand, homologous rescaling of the
// profile, log-log extrapolation beyond it, and the mass and kinetic-energy sums. Layered
// ejecta: the decay chains against the Bateman solution worked by hand, shells that mix
// velocity zones by the mass they overlap, and the reader of "zones.dat". The
// radiation-field file: a written field reads back bit for bit, a field on other shells
// is interpolated linearly in velocity (worked by hand), a bad file is refused naming its
// record and field.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "base/errors.hpp"
#include "model/radiation_field.hpp"
#include "model/shells.hpp"
#include "model/zones.hpp"
#include "support/models.hpp"
#include "support/test_support.hpp"

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

Zones zones_of(const std::string& text, std::vector<std::string>* warnings = nullptr) {
  InFile in;
  in.open_text("zones.dat", text);
  std::vector<std::string> w;
  Zones z = read_zones(in, w);
  if (warnings) *warnings = w;
  return z;
}

TEST(ZonesDecay, ChainsAgainstBatemanByHand) {
  // N1 = a 2^(-t/T1); from pure parent N2 = T2/(T2 - T1) (2^(-t/T2) - 2^(-t/T1)), e.g.
  // 56Ni at T1 = 6.075 d: 77.236/71.161 (2^(-6.075/77.236) - 0.5) = 0.485095.
  const double fe52 = 8.275 / 24, cr48 = 21.56 / 24;
  struct Case { int chain; double a, b, t, n1, n2, n3; } cases[] = {
      {0, 1, 0, 0.0, 1, 0, 0},
      {0, 1, 0, 6.075, 0.5, 0.4850952097660, 0.0149047902340},
      {0, 1, 0, 100.0, 1.1085970891e-5, 0.4423972741491, 0.5575916398800},
      {0, 0, 1, 77.236, 0, 0.5, 0.5},  // 56Co alone: one half-life
      {1, 1, 0, fe52, 0.5, 0.4882658839039, 0.0117341160961},
      {1, 1, 0, 1000.0, 0, 0, 1},      // parent faster than daughter, long after: no overflow
      {2, 1, 0, cr48, 0.5, 0.4892850166170, 0.0107149833830},
      {2, 1, 0, 15.9735, 4.439222357e-6, 0.5297904339420, 0.4702051268356},
      {2, 0.3, 0.2, 0.0, 0.3, 0.2, 0},
  };
  for (const Case& c : cases) {
    const ChainAmounts n = decay_chain(kDecayChain[static_cast<std::size_t>(c.chain)], c.a, c.b, c.t);
    SCOPED_TRACE(std::string(kDecayChain[static_cast<std::size_t>(c.chain)].parent) + " t = " + std::to_string(c.t));
    EXPECT_NEAR(n.parent, c.n1, 1e-12);
    EXPECT_NEAR(n.daughter, c.n2, 1e-12);
    EXPECT_NEAR(n.product, c.n3, 1e-12);
    EXPECT_NEAR(n.parent + n.daughter + n.product, c.a + c.b, 1e-15);  // mass number kept
  }
}

TEST(ZonesDecay, IsotopesBecomeTheirElements) {
  // 0.6 of 56Ni at one half-life: 0.3 Ni left, 0.6 * 0.485095 Co, 0.1 + 0.6 * 0.014905 Fe.
  const ZoneComposition z = decay_to_epoch(zones_of("v_outer Si Fe Ni56\n20000 0.3 0.1 0.6\n"), 6.075);
  EXPECT_NEAR(z.x(28, 1), 0.3, 1e-12);
  EXPECT_NEAR(z.x(27, 1), 0.6 * 0.4850952097660, 1e-12);
  EXPECT_NEAR(z.x(26, 1), 0.1 + 0.6 * 0.0149047902340, 1e-12);
  EXPECT_NEAR(z.isotope(1, 1), 0.3, 1e-12);
  EXPECT_NEAR(z.product(1, 1), 0.6 * 0.0149047902340, 1e-12);
  double sum = 0;
  for (int e = 1; e <= kZoneElements; ++e) sum += z.x(e, 1);
  EXPECT_NEAR(sum, 1.0, 1e-15);
  EXPECT_THROW(decay_to_epoch(zones_of("v_outer Si\n20000 1\n"), -1.0), InputError);
}

TEST(ZonesShells, TwoZonesMixByOverlapMass) {
  // Zone C lies below the photosphere (8000 km/s) and is not seen. Shell 1, 8000..12000:
  // 10^3 - 8^3 = 488 of zone O, 12^3 - 10^3 = 728 of zone O/Si: O (488 + 0.2 * 728) / 1216.
  // Shell 2, 12000..25000, lies in the last zone, which reaches past its 20000 km/s.
  const std::string text = "# layered\nv_outer C O Si\n\n5000 1 0 0\n10000 0 1 0\n  # outer\n20000 0 0.2 0.8\n";
  const ZoneComposition z = decay_to_epoch(zones_of(text), 10.0);
  const double edges[] = {8000, 12000, 25000};
  const ShellComposition s = shell_composition(z, edges);
  ASSERT_EQ(s.x.cols(), 2);
  EXPECT_EQ(s.x(6, 1), 0.0);
  EXPECT_NEAR(s.x(8, 1), 633.6 / 1216, 1e-14);
  EXPECT_NEAR(s.x(14, 1), 582.4 / 1216, 1e-14);
  EXPECT_EQ(s.x(8, 2), 0.2);
  EXPECT_EQ(s.x(14, 2), 0.8);
}

TEST(ZonesShells, OneZoneFileIsTheUniformComposition) {
  // The model's grid for JS = 4, XE1 = 0.2: x = 1 - (i - 1) 0.1, edges VPH / x up to
  // 50000 km/s, beyond the zone's 30000.
  Array1<double> xs(9), uniform(kZoneElements);
  for (int i = 1; i <= 9; ++i) xs(i) = 1.0 - (i - 1) * 0.1;
  const std::vector<double> edges = shell_velocity_edges(10000, xs);
  ASSERT_EQ(edges.size(), 5u);
  EXPECT_DOUBLE_EQ(edges[4], 50000);
  uniform(8) = 0.5;
  uniform(14) = 0.25;
  uniform(26) = 0.25;
  const Zones read = zones_of("v_outer O Si Fe\n30000 0.5 0.25 0.25\n");
  const Array2<double> file = shell_composition(decay_to_epoch(read, 20), edges).x;
  const Array2<double> one = shell_composition(decay_to_epoch(one_zone(uniform), 20), edges).x;
  for (int j = 1; j <= 4; ++j)
    for (int e = 1; e <= kZoneElements; ++e) {
      EXPECT_EQ(file(e, j), uniform(e));
      EXPECT_EQ(one(e, j), uniform(e));
    }
}

TEST(ZonesReader, RefusesBadInputNamingRecordAndField) {
  std::string many = "v_outer O\n";
  for (int k = 1; k <= kMaxZones + 1; ++k) many += std::to_string(1000 * k) + " 1\n";
  const std::string h = "# zones\nv_outer O Fe\n";  // rows start at record 3
  struct Case { std::string text; long record; int field; const char* says; } cases[] = {
      {"# nothing\n", 0, 0, "no header line"},
      {h, 0, 0, "no zone"},
      {"speed O\n", 1, 1, "must begin with v_outer"},
      {"v_outer\n", 1, 2, "names no element or isotope"},
      {"v_outer O FE\n", 1, 3, "case-sensitive: \"Fe\""},
      {"v_outer O Xx\n", 1, 3, "\"Xx\" is neither an element symbol"},
      {"v_outer O Ni56 O\n", 1, 4, "named twice (also field 2)"},
      {h + "10000 1\n", 3, 3, "\"Fe\" is missing"},
      {h + "10000 1 0 0\n", 3, 4, "an extra value"},
      {h + "10000 1 abc\n", 3, 3, "\"abc\" is not a number"},
      {h + "10000 1 0.5x\n", 3, 3, "\"0.5x\" is not a number"},
      {h + "10000 1 -0.1\n", 3, 3, "of Fe must be a finite number >= 0"},
      {h + "10000 1 nan\n", 3, 3, "found nan"},
      {h + "10000 1 inf\n", 3, 3, "found inf"},
      {h + "0 1 0\n", 3, 1, "positive number of km/s"},
      {h + "10000 1 0\n10000 1 0\n", 4, 1, "must increase from zone to zone: 10000 follows 10000"},
      {h + "10000 0 0\n", 3, 0, "zone 1 must add up to a positive"},
      {many, kMaxZones + 2, 0, "more than 100 zones"},
  };
  for (const Case& c : cases) {
    const InputError e = thrown<InputError>([&] { zones_of(c.text); });
    SCOPED_TRACE(c.text);
    EXPECT_EQ(e.file(), "zones.dat");
    EXPECT_EQ(e.record(), c.record);
    EXPECT_EQ(e.field(), c.field);
    EXPECT_CONTAINS(e.what(), c.says);
  }
}

TEST(ZonesReader, RowsAreNormalisedWithAWarningBeyondOnePercent) {
  std::vector<std::string> w;
  const Zones z = zones_of("v_outer O Si\n10000 0.5 0.4\n20000 0.5 0.496\n", &w);
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0], "the mass fractions of zone 1 of \"zones.dat\" (record 2) add up to 0.9000, not 1; they are "
                  "normalised to 1");
  EXPECT_NEAR(z.stable(8, 1), 0.5 / 0.9, 1e-15);
  EXPECT_NEAR(z.stable(8, 2), 0.5 / 0.996, 1e-15);  // within 1 %: normalised without a word
}

Shells shells(std::initializer_list<double> v) {
  Shells s;
  s.js = static_cast<int>(v.size());
  for (Array1<double>* a : {&s.vs, &s.tr, &s.w, &s.te}) a->assign(s.js);
  int j = 1;
  for (const double x : v) s.vs(j++) = x;
  return s;
}

RadiationField read(const std::string& text) {
  InFile in;
  in.open_text("warmstart.dat", text);
  return read_radiation_field(in, 1000, 1e5);
}

TEST(RadiationField, WrittenFieldReadsBackExactly) {
  Shells s = shells({9183.6734693877552, 10000.000000000002, 40909.090909090912});
  const double tr[] = {14839.483356927862, 1e4 / 3, 7125.9136131259911}, w[] = {0.49467986678492182, 0.1, 1.0 / 7};
  for (int j = 1; j <= 3; ++j) s.tr(j) = tr[j - 1], s.w(j) = w[j - 1], s.te(j) = 0.9 * tr[j - 1];
  OutFile out = OutFile::memory("radfield.dat");
  write_radiation_field(s, 13754.578219150997, out);
  const RadiationField f = read(out.text());
  EXPECT_EQ(f.tb, 13754.578219150997);
  Shells t = shells({9183.6734693877552, 10000.000000000002, 40909.090909090912});
  EXPECT_TRUE(apply_radiation_field(f, t));
  for (int j = 1; j <= 3; ++j) {
    EXPECT_EQ(t.tr(j), s.tr(j));
    EXPECT_EQ(t.w(j), s.w(j));
    EXPECT_EQ(t.te(j), s.te(j));
  }
}

TEST(RadiationField, OtherShellsInterpolatedInVelocityAndClampedAtTheEnds) {
  const RadiationField f = read("12000\n1 10000 10000 0.5 9000\n2 20000 12000 0.1 11000\n");
  Shells s = shells({5000, 12500, 20000, 30000});
  EXPECT_FALSE(apply_radiation_field(f, s));
  const double tr[] = {10000, 10500, 12000, 12000}, w[] = {0.5, 0.4, 0.1, 0.1}, te[] = {9000, 9500, 11000, 11000};
  for (int j = 1; j <= 4; ++j) {
    EXPECT_DOUBLE_EQ(s.tr(j), tr[j - 1]) << j;
    EXPECT_DOUBLE_EQ(s.w(j), w[j - 1]) << j;
    EXPECT_DOUBLE_EQ(s.te(j), te[j - 1]) << j;
  }
}

TEST(RadiationField, BadFilesNameRecordAndField) {
  const struct {
    const char* text;
    long record;
    int field;
  } cases[] = {
      {"# header only\n", 0, 0},
      {"12000 1\n", 1, 2},
      {"nan\n1 1e4 1e4 0.5 9e3\n", 1, 1},
      {"500\n1 1e4 1e4 0.5 9e3\n", 1, 1},                            // TB below the limit
      {"12000\n", 0, 0},                                              // no shells
      {"12000\n2 1e4 1e4 0.5 9e3\n", 2, 1},                           // numbering
      {"12000\n1 1e4 1e4 0.5\n", 2, 5},                               // TE missing
      {"12000\n1 1e4 1e4 1.5 9e3\n", 2, 4},                           // W > 1
      {"12000\n1 1e4 1e4 0 9e3\n", 2, 4},                             // W = 0
      {"12000\n1 1e4 inf 0.5 9e3\n", 2, 3},
      {"12000\n1 1e4 1e4 0.5 2e5\n", 2, 5},                           // TE above the limit
      {"12000\n1 1e4 1e4 0.5 9e3\n# c\n2 1e4 1e4 0.5 9e3\n", 4, 2},  // velocity not increasing
      {"12000\n1 -1 1e4 0.5 9e3\n", 2, 2},
      {"12000\n1 1e4 1e4x 0.5 9e3\n", 2, 3},
  };
  for (const auto& c : cases) {
    try {
      read(c.text);
      ADD_FAILURE() << c.text << ": accepted";
    } catch (const InputError& e) {
      EXPECT_EQ(e.file(), "warmstart.dat") << c.text;
      EXPECT_EQ(e.record(), c.record) << c.text << ": " << e.what();
      EXPECT_EQ(e.field(), c.field) << c.text << ": " << e.what();
    }
  }
}

}  // namespace
}  // namespace mcspec::test
