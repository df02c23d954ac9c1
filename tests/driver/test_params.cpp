// Run parameters: the echo records of "dica.dat" byte for byte, the derived boundary
// quantities, the air-to-vacuum conversion, the constants table and the input limits.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "common/errors.hpp"
#include "driver/params.hpp"

namespace mcspec {
namespace {

// The 22 records of a parameter file; comment records hold numbers on purpose.
std::vector<std::string> example_records() {
  return {
      " 1 2 3 comment with numbers 4.5 6",
      "    2    3",
      " 99 99 99 0.5",
      "   20    0  502  0.0",
      " LOG L/LSUN VPH TB 1 2 3",
      "   9.60  10000.0  12000.0",
      " DAY 7",
      "  19.00  29.04  0.0008",
      " E(B-V)",
      "   0.01   0.00",
      " ISEED",
      " 7654321  -3.0",
      " CHL NC",
      "   50.0    0",
      " WVM1 WVM2 KG",
      "   0.2   1.0  1000",
      " WV1 WV2",
      "  3500.0  9000.0  9.40",
      " WTH1 WTH2",
      "  3000.0 10000.0",
      " IOPT 1 1 1 1 1",
      "    0    1    1    0    0",
  };
}

std::string join(const std::vector<std::string>& records) {
  std::string s;
  for (const auto& r : records) s += r + "\n";
  return s;
}

struct ParamsRun {
  Constants c;
  Params p;
  OutFile stst = OutFile::memory("stst.dat");
  OutFile sbib = OutFile::memory("sbib.dat");
  OutFile out = OutFile::memory("stdout");
};

void run_params(const std::vector<std::string>& records, ParamsRun& r) {
  InFile dica;
  dica.open_text("dica.dat", join(records));
  params(dica, r.c, r.p, r.stst, r.sbib, r.out);
}

// The expected boundary table: header and values (LOG R/RS = 4.373 for VPH = 10000 km/s
// at day 19: R = 1e9 cm/s * 1641600 s, log R = 15.21527, minus log Rsun = 10.84260).
const std::string kBoundaryTable =
    "\n" + std::string(18, ' ') + "LOG R/RS" + std::string(5, ' ') + "LOG L/LS" + std::string(9, ' ') + "VEL LB" +
    std::string(10, ' ') + "TB\n" + "\n" + std::string(19, ' ') + "4.373" + "       9.600" + std::string(11, ' ') +
    "10000.0" + "       12000.0\n" + "\n";

TEST(Params, EchoRecordsAreByteExact) {
  ParamsRun r;
  run_params(example_records(), r);
  const std::string stst = "\n     NP4 =     2     ITT =  3     JS = 20      KB = 502 XE1= 0.200\n"
                           "\n     Day = 19.00     Log Taug = -3.000\n"
                           "\n     CHL(eV) = 50.0     NC =  0\n"
                           "\n     WVM1 = 0.2000    WVM2 = 1.0000       KG =  1000\n"
                           "\n     Obs sp    wv1,wv2    3500.00  9000.00     Log L(wv1,wv2) = 9.400\n" +
                           kBoundaryTable;
  EXPECT_EQ(r.stst.text(), stst);
  EXPECT_EQ(r.sbib.text(), kBoundaryTable);
  EXPECT_EQ(r.out.text(), " start params\n\n   0   1   1   0   0\n");
}

TEST(Params, ValuesReadPastNumericCommentsAndDerivedQuantities) {
  ParamsRun r;
  run_params(example_records(), r);
  const Params& p = r.p;
  // Every comment record holds numbers; none of them may be taken for a value.
  EXPECT_EQ(p.npk, 20000);
  EXPECT_EQ(p.iseed, 7654321);
  EXPECT_DOUBLE_EQ(p.zred, 0.0008);
  EXPECT_EQ(p.iopt[5], 0);
  EXPECT_EQ(p.tday, 19.0 * 86400.0);
  // R = v t = 1e9 cm/s * 1641600 s = 1.6416e15 cm.
  EXPECT_NEAR(p.logr, 15.215267343431723, 1e-12);
  EXPECT_NEAR(p.logrrs, 15.215267343431723 - std::log10(6.9599e10), 1e-12);
  // L = 4 pi R^2 sigma T^4 in solar units: T = Tsun (L/Lsun)^(1/4) (R/Rsun)^(-1/2).
  EXPECT_NEAR(std::pow(10.0, p.logteff), 5770.0 * std::pow(10.0, 9.6 / 4) / std::sqrt(1.6416e15 / 6.9599e10),
              1e-6);
  EXPECT_NEAR(p.logvol, std::log10(4.0 / 3.0 * 3.141592654 * std::pow(1.6416e15, 3)), 1e-12);
  EXPECT_DOUBLE_EQ(p.chlcm, 50.0 * 8065.46);
  EXPECT_NEAR(p.fth1 / (2.997925e18 / 3000.0), 1.0, 1e-13);  // c / lambda, c in A/s
  EXPECT_NEAR(p.fth2 / (2.997925e18 / 10000.0), 1.0, 1e-13);
  // s^2 = (1e4/3500)^2 = 8.16327: n = 1.000064328 + 0.0294981/137.83673 + 0.0002554/32.83673
  //                                  = 1.0002861134
  EXPECT_NEAR(p.wv1v, 3501.0013969, 1e-6);
  EXPECT_NEAR(p.wv2v / 9000.0, 1.000064328 + 0.0294981 / (146 - 1e8 / 81e6) + 0.0002554 / (41 - 1e8 / 81e6),
              1e-15);
}

TEST(Params, Xe1ZeroMeansPointTwoOtherValuesStay) {
  for (const char* rec : {"   20    0  502  0", "   20    0  502  0.0"}) {
    ParamsRun r;
    auto recs = example_records();
    recs[3] = rec;
    run_params(recs, r);
    EXPECT_EQ(r.p.xe1, 0.2) << rec;
  }
  ParamsRun r;
  auto recs = example_records();
  recs[3] = "   20    7  502  0.35";
  run_params(recs, r);
  EXPECT_EQ(r.p.xe1, 0.35);
  EXPECT_EQ(r.p.js_unused, 7);
  EXPECT_NE(r.stst.text().find("XE1= 0.350\n"), std::string::npos);
}

TEST(Params, BolometricScalingWritesNoObservedBandLine) {
  ParamsRun r;
  auto recs = example_records();
  recs[21] = "    1    0    0    0    0";
  run_params(recs, r);
  EXPECT_EQ(r.stst.text().find("Obs sp"), std::string::npos);
  EXPECT_EQ(r.out.text(), " start params\n\n   1   0   0   0   0\n");
}

TEST(AirToVacuum, ConvertsFrom2000AngstromOn) {
  EXPECT_EQ(air_to_vacuum(1999.9), 1999.9);
  // s^2 = (1e4/2000)^2 = 25: n = 1.000064328 + 0.0294981/121 + 0.0002554/16
  //                            = 1.000064328 + 0.000243785950413 + 0.0000159625
  //                            = 1.000324076450413, lambda_vac = 2000.648152900826.
  EXPECT_NEAR(air_to_vacuum(2000.0), 2000.648152900826, 1e-9);
  EXPECT_GT(air_to_vacuum(9000.0), 9000.0);
}

TEST(Constants, DocumentedValues) {
  Constants c;
  consts(c);
  EXPECT_EQ(c(Constants::kLogH), -26.17873545985377);
  EXPECT_EQ(c(Constants::kLogC), 10.476820763771242);
  EXPECT_EQ(c(Constants::kLogK), -15.859925839605742);
  EXPECT_EQ(c(Constants::kLogAmu), -23.779753012264774);
  EXPECT_EQ(c(Constants::kLogSigmaT), -24.177021645115484);
  EXPECT_EQ(c(Constants::kLogMHe), -23.177487434156752);
  EXPECT_EQ(c(Constants::kPi), 3.141592654);
  EXPECT_EQ(c(Constants::kLogPi), std::log10(3.141592654));
  EXPECT_EQ(c(Constants::kLogE), 0.4342944819032518);
  EXPECT_EQ(c(Constants::kLn10), 2.302585092994046);
  EXPECT_EQ(c(Constants::kMbolSun), 4.75);
  // Physical consistency: sigma = 2 pi^5 k^4 / (15 c^2 h^3) to the digits given, a = 4 sigma / c.
  const double pi = c(Constants::kPi);
  const double log_sigma = std::log10(2 * std::pow(pi, 5) / 15) + 4 * c(Constants::kLogK) -
                           2 * c(Constants::kLogC) - 3 * c(Constants::kLogH);
  EXPECT_NEAR(c(Constants::kLogSigma), log_sigma, 1e-4);
  EXPECT_NEAR(c(Constants::kLogA), std::log10(4.0) + c(Constants::kLogSigma) - c(Constants::kLogC), 1e-4);
  // Entries not set stay zero (41 holds a Monte Carlo result).
  EXPECT_EQ(c(41), 0.0);
  EXPECT_EQ(c(1), 0.0);
}

TEST(Options, MessagesForEachSwitchValue) {
  Params p;
  p.wth1 = 3000.0;
  p.wth2 = 10000.0;
  auto report = [&](int a, int b, int c) {
    p.iopt = {0, a, b, c, 0, 0};
    OutFile out = OutFile::memory();
    options(p, out);
    return out.text();
  };
  EXPECT_EQ(report(1, 1, 1),
            "\n     Scale MC sp to L(bol)\n\n     Cascades\n\n     Black body em at lwr bdry\n");
  EXPECT_EQ(report(0, 0, 0), "\n     Scale MC sp to L(wv1,wv2)\n\n     Resonance scattering\n"
                             "\n     Top hat em at lwr bdry     3000.00  10000.00\n");
  EXPECT_EQ(report(2, -1, 7), "");
}

// One record of the example replaced; the read must stop with an input error naming
// "dica.dat", that record and the offending value.
struct BadRecord {
  int record;  // 1-based
  const char* text;
  const char* expect;  // part of the message
};

class ParamsLimits : public ::testing::TestWithParam<BadRecord> {};

TEST_P(ParamsLimits, RejectedWithFileRecordAndValue) {
  const BadRecord b = GetParam();
  auto recs = example_records();
  recs[static_cast<std::size_t>(b.record - 1)] = b.text;
  ParamsRun r;
  try {
    run_params(recs, r);
    FAIL() << "accepted: " << b.text;
  } catch (const InputError& e) {
    EXPECT_EQ(e.file(), "dica.dat");
    EXPECT_EQ(e.record(), b.record) << e.what();
    EXPECT_NE(std::string(e.what()).find(b.expect), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Limits, ParamsLimits,
    ::testing::Values(BadRecord{2, "    0    3", "NP4 = 0"}, BadRecord{2, " 214749 3", "NP4 = 214749"},
                      BadRecord{4, "   86    0  502  0.2", "JS = 86"}, BadRecord{4, "    2    0  502  0.2", "JS = 2"},
                      BadRecord{4, "   20    0  503  0.2", "KB = 503"}, BadRecord{4, "   20    0    1  0.2", "KB = 1"},
                      BadRecord{4, "   20    0  502  1.0", "XE1 = 1"}, BadRecord{4, "   20    0  502  -0.2", "XE1 = -0.2"},
                      BadRecord{4, "   2x    0  502  0.2", "2x"}, BadRecord{6, "   9.6  0.0  12000.", "VPH = 0"},
                      BadRecord{8, "  -1.0  29.04  0.0008", "DAY = -1"}, BadRecord{16, "   0.0  1.0  1000", "WVM1 = 0"},
                      BadRecord{16, "   0.5  0.5  1000", "WVM2 = 0.5"}, BadRecord{16, "   0.2  1.0  0", "KG = 0"},
                      BadRecord{16, "   0.2  1.0  5001", "KG = 5001"}, BadRecord{12, " 1.5  -3.0", "1.5"}));

TEST(ParamsLimits, LargestAcceptedValues) {
  auto recs = example_records();
  recs[1] = " 214748 0";
  recs[3] = "   85    0  502  0.999";
  recs[15] = "   0.2   1.0  5000";
  ParamsRun r;
  run_params(recs, r);
  EXPECT_EQ(r.p.npk, 2147480000);
  recs[1] = " 1 0";
  recs[3] = "    3    0    2  0.001";
  recs[15] = "   0.2   1.0  1";
  ParamsRun r2;
  run_params(recs, r2);
  EXPECT_EQ(r2.p.npk, 10000);
  EXPECT_EQ(r2.p.kb, 2);
}

TEST(ParamsLimits, TopHatNeedsPositiveBand) {
  auto recs = example_records();
  recs[19] = "  0.0 10000.0";
  ParamsRun ok;  // unused with a black-body boundary
  run_params(recs, ok);
  recs[21] = "    1    1    0    0    0";
  ParamsRun r;
  try {
    run_params(recs, r);
    FAIL() << "a top-hat band with WTH1 = 0 was accepted";
  } catch (const InputError& e) {
    EXPECT_EQ(e.record(), 20);
    EXPECT_EQ(e.field(), 1);
  }
}

TEST(ParamsLimits, MissingRecordIsEndOfFile) {
  auto recs = example_records();
  recs.resize(21);
  ParamsRun r;
  EXPECT_THROW(run_params(recs, r), EndOfFileError);
}

}  // namespace
}  // namespace mcspec
