// Checks before any work, and what a stopped run leaves behind: parameters that make the
// physics meaningless, and the output files of a stopped run set aside in a new
// directory (the interrupt itself: end to end, in test_run_safety).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "common/errors.hpp"
#include "driver/files.hpp"
#include "driver/params.hpp"
#include "support/test_support.hpp"

namespace mcspec {
namespace {

namespace fs = std::filesystem;

// The shared type Ia example's parameters (scaled to L(wv1,wv2): IOPT(1) = 0).
std::string dica(int record = 0, const char* text = nullptr) {
  std::vector<std::string> r = {" c", "    2    3", " c", "   20    0  502  0.2", " c", "   9.60  10000.0  12000.0",
                                " c", "  19.00  29.04  0.0008", " c", "   0.01   0.00", " c", " 7654321  -3.0",
                                " c", "   50.0    0", " c", "   0.2   1.0  1000", " c", "  3500.0  9000.0  9.40",
                                " c", "  3000.0 10000.0", " c", "    0    1    1    0    0"};
  if (record > 0) r[static_cast<std::size_t>(record - 1)] = text;
  std::string s;
  for (const auto& x : r) s += x + "\n";
  return s;
}

Params read_params(const std::string& text) {
  InFile f;
  f.open_text("dica.dat", text);
  Constants c;
  Params p;
  OutFile a = OutFile::memory(), b = OutFile::memory(), o = OutFile::memory();
  params(f, c, p, a, b, o);
  return p;
}

TEST(ParameterChecks, MeaninglessPhysicsIsRefusedNamingRecordAndField) {
  const struct { int record; const char* text; int field; const char* expect; } bad[] = {
      {6, "   9.6  10000.0  0.0", 3, "TB = 0"},
      {6, "   9.6  10000.0  2e18", 3, "TB = 2e+18"},
      {8, "  1e300  29.04  0.0008", 1, "radius"},           // R = VPH * DAY overflows
      {18, "  9000.0  3500.0  9.40", 1, "WV1 < WV2"},       // an empty band
      {18, "  11000.0  12000.0  9.40", 2, "overlap the grid"},  // beyond 1 micron
  };
  for (const auto& b : bad) {
    const InputError e = test::thrown<InputError>([&] { read_params(dica(b.record, b.text)); });
    EXPECT_EQ(e.file(), "dica.dat");
    EXPECT_EQ(e.record() * 10 + e.field(), b.record * 10 + b.field) << e.what();
    EXPECT_CONTAINS(e.what(), b.expect);
  }
  // The band matters only when the spectrum is scaled to it; just inside the upper end
  // of the boundary temperature (1.41e18 K) the run goes ahead.
  std::string to_bolometric = dica(18, "  9000.0  3500.0  9.40");
  to_bolometric.replace(to_bolometric.rfind("    0    1    1"), 5, "    1");
  EXPECT_NO_THROW(read_params(to_bolometric));
  EXPECT_NEAR(std::pow(10.0, read_params(dica(6, "   66.30  10000.0  1.4e18")).logteff), 1.41e18, 0.01e18);
}

TEST(ParameterChecks, HighestBoundaryTemperatureIsHcOverKLambdaOver1e14) {
  Constants c;
  consts(c);
  // hc/k = 1.43884 cm K (the program's constants); at 1 micron: 1.43884e4 K / 1e-14.
  EXPECT_NEAR(highest_boundary_temperature(c, 1.0), 1.43884e18, 1e14);
  EXPECT_NEAR(highest_boundary_temperature(c, 2.0), 0.71942e18, 1e14);
}

// A working directory with a parameter file, made current for the test.
class InWorkdir : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = fs::current_path();
    fs::current_path(work.path());
  }
  void TearDown() override { fs::current_path(saved); }
  std::vector<std::string> listing() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(work.path())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  test::TempDir work{"mcspec-work"};
  fs::path saved;
};

TEST_F(InWorkdir, StoppedRunsOutputsMoveIntoNewDirectoriesAndNothingElse) {
  test::write_file(work / "notes.txt", "mine\n");
  std::vector<std::string> dirs;
  for (int run = 0; run < 2; ++run) {  // two runs in the same second get two directories
    Files f;
    f.stst.create_new("stst.dat");
    f.stst.write_text("log\n");
    f.sbib.create_new("sbib.dat");
    std::string problem;
    dirs.push_back(set_aside_outputs(f, &problem));
    EXPECT_EQ(problem, "");
    EXPECT_EQ(test::read_file(work / dirs.back() / "stst.dat"), "log\n");
    EXPECT_TRUE(fs::exists(work / dirs.back() / "sbib.dat"));
    EXPECT_EQ(std::distance(fs::directory_iterator(work / dirs.back()), fs::directory_iterator()), 2);
  }
  EXPECT_NE(dirs[0], dirs[1]);
  for (const auto& d : dirs) EXPECT_TRUE(std::regex_match(d, std::regex(R"(incomplete-\d{8}-\d{6}(-\d+)?)"))) << d;
  EXPECT_EQ(test::read_file(work / "notes.txt"), "mine\n");
  EXPECT_EQ(listing().size(), 3u);  // notes.txt and the two directories
}

}  // namespace
}  // namespace mcspec
