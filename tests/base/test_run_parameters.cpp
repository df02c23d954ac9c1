// Run parameters: the echo records of "dica.dat" byte for byte, the derived boundary
// quantities, the air-to-vacuum conversion, the constants' relations and the input
// limits; the output wavelength grid: edges uniform in log10 wavelength, air edges by the
// Edlen index from 2000 A on, and its table in "spcp.dat" worked out by hand; the thread
// settings and the two task loops: values of the variables, results merged in block
// order whatever the thread count, and the first failure in block order.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/air_vacuum.hpp"
#include "base/errors.hpp"
#include "base/parallel.hpp"
#include "base/run_parameters.hpp"
#include "base/wavelength_grid.hpp"
#include "support/test_support.hpp"

namespace mcspec {
namespace {

// The 22 records of a parameter file, each comment record with the values after it;
// the comment records hold numbers on purpose.
std::vector<std::string> example_records() {
  return {" 1 2 3 comment with numbers 4.5 6", "    2    3",
          " 99 99 99 0.5",                     "   20    0  502  0.0",
          " LOG L/LSUN VPH TB 1 2 3",          "   9.60  10000.0  12000.0",
          " DAY 7",                            "  19.00  29.04  0.0008",
          " E(B-V)",                           "   0.01   0.00",
          " ISEED",                            " 7654321  -3.0",
          " CHL NC",                           "   50.0    0",
          " WVM1 WVM2 KG",                     "   0.2   1.0  1000",
          " WV1 WV2",                          "  3500.0  9000.0  9.40",
          " WTH1 WTH2",                        "  3000.0 10000.0",
          " IOPT 1 1 1 1 1",                   "    0    1    1    0    0"};
}

// The example with some records (1-based) replaced.
std::vector<std::string> example_with(std::initializer_list<std::pair<int, const char*>> changes) {
  auto recs = example_records();
  for (const auto& [record, text] : changes) recs[static_cast<std::size_t>(record - 1)] = text;
  return recs;
}

// params on these records, the outputs in memory.
struct ParamsRun {
  Constants c;
  Params p;
  OutFile stst = OutFile::memory("stst.dat"), sbib = OutFile::memory("sbib.dat"), out = OutFile::memory("stdout");
  explicit ParamsRun(const std::vector<std::string>& records = example_records()) {
    std::string text;
    for (const auto& r : records) text += r + "\n";
    InFile dica;
    dica.open_text("dica.dat", text);
    read_run_parameters(dica, c, p, stst, sbib, out);
  }
};

// LOG R/RS = 4.373 for VPH = 10000 km/s at day 19: R = 1e9 cm/s * 1641600 s,
// log R = 15.21527, minus log Rsun = 10.84260.
TEST(RunParameters, EchoRecordsAreByteExact) {
  const std::string boundary = "\n                  LOG R/RS     LOG L/LS         VEL LB          TB\n\n"
                               "                   4.373       9.600           10000.0       12000.0\n\n";
  const ParamsRun r;
  EXPECT_EQ(r.stst.text(), "\n     NP4 =     2     ITT =  3     JS = 20      KB = 502 XE1= 0.200\n"
                           "\n     Day = 19.00     Log Taug = -3.000\n"
                           "\n     CHL(eV) = 50.0     NC =  0\n"
                           "\n     WVM1 = 0.2000    WVM2 = 1.0000       KG =  1000\n"
                           "\n     Obs sp    wv1,wv2    3500.00  9000.00     Log L(wv1,wv2) = 9.400\n" +
                               boundary);
  EXPECT_EQ(r.sbib.text(), boundary);
  EXPECT_EQ(r.out.text(), " start params\n\n   0   1   1   0   0\n");
  // Scaling to L(bol): no observed-band record.
  const ParamsRun bol(example_with({{22, "    1    0    0    0    0"}}));
  EXPECT_EQ(bol.stst.text().find("Obs sp"), std::string::npos);
  EXPECT_EQ(bol.out.text(), " start params\n\n   1   0   0   0   0\n");
  // XE1 = 0 means 0.2; the second value of the JS record is read and kept.
  for (const char* rec : {"   20    0  502  0", "   20    7  502  0.35"}) {
    const ParamsRun x(example_with({{4, rec}}));
    const bool own = rec[9] == '7';
    EXPECT_EQ(x.p.xe1, own ? 0.35 : 0.2) << rec;
    EXPECT_EQ(x.p.js_unused, own ? 7 : 0);
    EXPECT_CONTAINS(x.stst.text(), own ? "XE1= 0.350\n" : "XE1= 0.200\n");
  }
}

TEST(RunParameters, ValuesReadPastNumericCommentsAndDerivedQuantities) {
  const ParamsRun r;
  const Params& p = r.p;
  // Every comment record holds numbers; none of them may be taken for a value.
  EXPECT_EQ(p.npk + p.iseed + p.iopt[5], 20000 + 7654321);
  EXPECT_DOUBLE_EQ(p.zred, 0.0008);
  // R = v t = 1.6416e15 cm; L = 4 pi R^2 sigma T^4 in solar units:
  // T = Tsun (L/Lsun)^(1/4) (R/Rsun)^(-1/2) = 5770 K 10^2.4 / sqrt(23586.5) = 9437.21 K.
  EXPECT_NEAR(p.logr, 15.215267343431723, 1e-12);
  EXPECT_NEAR(std::pow(10.0, p.logteff), 9437.21, 0.01);
  // Air to vacuum from 2000 A on (Edlen): at 3500 A s^2 = 8.16327 micron^-2,
  // n = 1.000064328 + 0.0294981/137.83673 + 0.0002554/32.83673 = 1.0002861134; at
  // 2000 A, n = 1.000064328 + 0.0294981/121 + 0.0002554/16 = 1.000324076450413.
  EXPECT_NEAR(p.wv1v, 3501.0013969, 1e-6);
  EXPECT_NEAR(air_to_vacuum(2000.0), 2000.648152900826, 1e-9);
  EXPECT_EQ(air_to_vacuum(1999.9), 1999.9);
}

TEST(Constants, PhysicalRelations) {
  Constants c;
  fill_constants(c);
  EXPECT_EQ(c(1) + c(41), 0.0);  // entries not set stay zero (41 holds a Monte Carlo result)
  // sigma = 2 pi^5 k^4 / (15 c^2 h^3) to the digits given, a = 4 sigma / c.
  const double log_sigma = std::log10(2 * std::pow(c.pi(), 5) / 15) + 4 * c.log_k() - 2 * c.log_c() - 3 * c.log_h();
  EXPECT_NEAR(c(Constants::kLogSigma), log_sigma, 1e-4);
  EXPECT_NEAR(c(Constants::kLogA), std::log10(4.0) + c(Constants::kLogSigma) - c.log_c(), 1e-4);
}

TEST(ReportOptions, MessagesForEachSwitchValue) {
  Params p;
  p.wth1 = 3000.0;
  p.wth2 = 10000.0;
  const std::pair<std::array<int, 6>, std::string> cases[] = {
      {{0, 1, 1, 1}, "\n     Scale MC sp to L(bol)\n\n     Cascades\n\n     Black body em at lwr bdry\n"},
      {{0, 0, 0, 0}, "\n     Scale MC sp to L(wv1,wv2)\n\n     Resonance scattering\n"
                     "\n     Top hat em at lwr bdry     3000.00  10000.00\n"},
      {{0, 2, -1, 7}, ""}};
  for (const auto& [iopt, text] : cases) {
    p.iopt = iopt;
    OutFile out = OutFile::memory();
    report_options(p, out);
    EXPECT_EQ(out.text(), text);
  }
}

// One record of the example replaced: the read must stop with an input error naming
// "dica.dat", that record (and the field, where given) and the offending value. Beyond
// the input limits, parameters that make the physics meaningless: no boundary
// temperature, a radius that overflows, an empty band, a band beyond the grid.
TEST(RunParameterLimits, RejectedWithFileRecordAndValue) {
  const struct {
    int record;
    const char* text;
    const char* expect;  // part of the message
    int field = 0;
  } bad[] = {{2, " 214749 3", "NP4 = 214749"},        {4, "    2    0  502  0.2", "JS = 2"},
             {4, "   20    0    1  0.2", "KB = 1"},
             {4, "   20    0  502  1.0", "XE1 = 1"}, {4, "   20    0  502  -0.2", "XE1 = -0.2"},
             {4, "   2x    0  502  0.2", "2x"},      {6, "   9.6  0.0  12000.", "VPH = 0"},
             {8, "  -1.0  29.04  0.0008", "DAY = -1"}, {16, "   0.0  1.0  1000", "WVM1 = 0"},
             {16, "   0.5  0.5  1000", "WVM2 = 0.5"}, {16, "   0.2  1.0  0", "KG = 0"},
             {16, "   0.2  1.0  5001", "KG = 5001"}, {12, " 1.5  -3.0", "1.5"},
             {6, "   9.6  10000.0  0.0", "TB = 0", 3},         {6, "   9.6  10000.0  2e18", "TB = 2e+18", 3},
             {8, "  1e300  29.04  0.0008", "radius", 1},      {18, "  9000.0  3500.0  9.40", "WV1 < WV2", 1},
             {18, "  11000.0  12000.0  9.40", "overlap the grid", 2}};
  for (const auto& b : bad) {
    const InputError e = test::thrown<InputError>([&] { ParamsRun r(example_with({{b.record, b.text}})); });
    EXPECT_EQ(e.file(), "dica.dat") << b.text;
    EXPECT_EQ(e.record(), b.record) << e.what();
    EXPECT_TRUE(b.field == 0 || e.field() == b.field) << e.what();
    EXPECT_CONTAINS(e.what(), b.expect);
  }
  // A top-hat band must be positive, but only a top-hat boundary uses it (the refusal
  // of WTH1 = 0 for a top-hat boundary, NP4 = 0, JS = 86, KB = 503 and a cut file are
  // in the malformed-input corpus); the observed band matters only when the spectrum is
  // scaled to it.
  EXPECT_NO_THROW(ParamsRun{example_with({{20, "  0.0 10000.0"}})});
  EXPECT_NO_THROW(ParamsRun{example_with({{18, "  9000.0  3500.0  9.40"}, {22, "    1    0    0    0    0"}})});
}

// The highest boundary temperature is hc / (k lambda) / 1e-14 at WVM2: hc/k = 1.43884 cm K
// (the program's constants); at 1 micron 1.43884e4 K / 1e-14. Just inside it the run goes ahead.
TEST(RunParameterLimits, HighestBoundaryTemperatureIsHcOverKLambdaOver1e14) {
  Constants c;
  fill_constants(c);
  EXPECT_NEAR(highest_boundary_temperature(c, 1.0), 1.43884e18, 1e14);
  EXPECT_NEAR(highest_boundary_temperature(c, 2.0), 0.71942e18, 1e14);
  const ParamsRun hot(example_with({{6, "   66.30  10000.0  1.4e18"}}));
  EXPECT_NEAR(std::pow(10.0, hot.p.logteff), 1.41e18, 0.01e18);
}

TEST(RunParameterLimits, LargestAndSmallestAcceptedValues) {
  const ParamsRun large(example_with({{2, " 214748 0"}, {4, "   85    0  502  0.999"}, {16, "   0.2   1.0  5000"}}));
  EXPECT_EQ(large.p.npk, 2147480000);
  const ParamsRun small(example_with({{2, " 1 0"}, {4, "    3    0    2  0.001"}, {16, "   0.2   1.0  1"}}));
  EXPECT_EQ(small.p.npk, 10000);
  EXPECT_EQ(small.p.kb, 2);
}

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

TEST(Parallel, SettingsFromTheEnvironment) {
  const ParallelConfig unset = parse_parallel_config(nullptr, nullptr, nullptr), set = parse_parallel_config("3", "1", "1");
  EXPECT_EQ(unset.threads, available_cores());
  EXPECT_TRUE(!unset.streams && !unset.ion_spectrum && unset.packet_ramp == 1.0);
  EXPECT_EQ(parse_parallel_config("auto", "0", "").threads, available_cores());
  EXPECT_TRUE(set.threads == 3 && set.streams && set.ion_spectrum);
  EXPECT_EQ(parse_parallel_config(nullptr, nullptr, nullptr, "0.25").packet_ramp, 0.25);
  // Refused values name their variable.
  const auto refused = [](const char* threads, const char* streams, const char* ramp) {
    return std::string(
        mcspec::test::thrown<InputError>([&] { parse_parallel_config(threads, streams, nullptr, ramp); }).what());
  };
  for (const char* t : {"0", "1.5", " 2", "1025", "99999999999"}) EXPECT_CONTAINS(refused(t, nullptr, nullptr), "MCSPEC_THREADS");
  for (const char* t : {"true", "01"}) EXPECT_CONTAINS(refused(nullptr, t, nullptr), "MCSPEC_STREAMS");
  for (const char* t : {"0", "1.5", "-0.5", "0.25x", "nan"}) EXPECT_CONTAINS(refused(nullptr, nullptr, t), "MCSPEC_PACKET_RAMP");
}

TEST(Parallel, BlocksMergeInOrderForAnyThreadCount) {
  for (const int threads : {1, 2, 3, 8}) {
    const int blocks = 37;
    std::vector<int> slot_value(64, -1), merged;
    ordered_blocks(
        blocks, threads, 2 * threads,
        [&](int b, int slot, int) {
          // uneven work, so that blocks finish out of order
          std::this_thread::sleep_for(std::chrono::microseconds((b * 7919) % 13 * 50));
          slot_value[static_cast<std::size_t>(slot)] = b;
        },
        [&](int b, int slot) {
          EXPECT_EQ(slot_value[static_cast<std::size_t>(slot)], b);
          merged.push_back(b);
        });
    ASSERT_EQ(merged.size(), static_cast<std::size_t>(blocks)) << threads;
    for (int b = 0; b < blocks; ++b) EXPECT_EQ(merged[static_cast<std::size_t>(b)], b) << threads;
  }
}

TEST(Parallel, TheFirstFailureInOrderIsReported) {
  for (const int threads : {1, 2, 3, 8}) {
    std::vector<int> merged;
    try {
      ordered_blocks(
          40, threads, 4,
          [&](int b, int, int) {
            if (b == 25) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (b == 11 || b == 25) throw std::runtime_error("block " + std::to_string(b));
          },
          [&](int b, int) { merged.push_back(b); });
      ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "block 11");
    }
    ASSERT_EQ(merged.size(), 11u) << threads;  // blocks 0..10, in order
    for (int b = 0; b < 11; ++b) EXPECT_EQ(merged[static_cast<std::size_t>(b)], b);
    std::vector<char> seen(30, 0);
    try {
      parallel_for(30, threads, [&](int t, int) {
        seen[static_cast<std::size_t>(t)] = 1;
        if (t == 4 || t == 9) throw std::runtime_error("task " + std::to_string(t));
      });
      ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "task 4");
    }
    for (int t = 0; t <= 4; ++t) EXPECT_TRUE(seen[static_cast<std::size_t>(t)]) << t;
  }
}

}  // namespace
}  // namespace mcspec
