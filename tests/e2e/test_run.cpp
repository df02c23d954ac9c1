// End-to-end runs of the program: the shared type Ia example from start to finish,
// its reproducibility, and the run's behaviour on missing inputs and on the output
// files of an earlier run.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <string>

#include "support/test_support.hpp"

namespace fs = std::filesystem;
using mcspec::test::read_file;
using mcspec::test::run_in;
using mcspec::test::TempDir;
using mcspec::test::write_file;

namespace {

const char* const kOutputs[] = {"stst.dat", "diagn.dat", "yhea.dat", "lhea.dat", "spcp.dat", "sica.dat",
                                "eica.dat", "spct.dat",  "atmd.oud", "ptfn.dat", "taul.dat", "sbib.dat"};

std::string mcdata_env() { return "MCDATA='" + mcspec::test::shared_mcdata().string() + "'"; }

// Copies the example into dir, with the packet count lowered under the sanitizers.
void copy_example(const fs::path& dir) {
  const fs::path ex = mcspec::test::shared_example();
  fs::copy_file(ex / "comp.ind", dir / "comp.ind");
  std::string dica = read_file(ex / "dica.dat");
  write_file(dir / "dica.dat", dica);
}

std::map<std::string, std::string> outputs_of(const fs::path& dir) {
  std::map<std::string, std::string> m;
  for (const char* name : kOutputs) {
    if (fs::exists(dir / name)) m[name] = read_file(dir / name);
  }
  return m;
}

// One full run of the example, shared by the tests that inspect it.
class ExampleRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (mcspec::test::shared_example().empty()) return;
    dir_ = new TempDir("mcspec-e2e");
    copy_example(dir_->path());
    status_ = run_in(dir_->path(), mcdata_env(), MCSPEC_BINARY, &out_, &err_);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (mcspec::test::shared_example().empty())
      GTEST_SKIP() << "the shared example (../shared/examples/sn-ia-max) is not present";
  }
  static TempDir* dir_;
  static int status_;
  static std::string out_, err_;
};
TempDir* ExampleRun::dir_ = nullptr;
int ExampleRun::status_ = -1;
std::string ExampleRun::out_, ExampleRun::err_;

TEST_F(ExampleRun, EndsNormallyWithTheScheduleOnStandardOutput) {
  ASSERT_EQ(status_, 0) << err_ << out_.substr(out_.size() > 3000 ? out_.size() - 3000 : 0);
  EXPECT_EQ(out_.rfind(" included", 0) == 0 || out_.find(" included\n") < 10, true) << out_.substr(0, 200);
  for (const char* text : {" opening", "start params", "File hydro.dat not found in current working directory.",
                           "Will use default W7 model.", "Scale MC sp to L(bol)", "Cascades",
                           "Black body em at lwr bdry", "  TEMP ITER  ", "  Rad. field ITER  ", " Finish Code"}) {
    EXPECT_NE(out_.find(text), std::string::npos) << "missing on standard output: \"" << text << "\"";
  }
  // " Finish Code" is the last line.
  EXPECT_NE(out_.find(" Finish Code\n", out_.size() - 20), std::string::npos);
  EXPECT_TRUE(err_.empty()) << err_;
}

TEST_F(ExampleRun, WritesEveryOutputFileAndLeavesTheTwoUnusedOnesEmpty) {
  ASSERT_EQ(status_, 0) << err_;
  for (const char* name : kOutputs) EXPECT_TRUE(fs::exists(dir_->path() / name)) << name;
  EXPECT_EQ(fs::file_size(dir_->path() / "diagn.dat"), 0u);
  EXPECT_EQ(fs::file_size(dir_->path() / "taul.dat"), 0u);
}

TEST_F(ExampleRun, TemperaturePassesFollowTheSchedule) {
  ASSERT_EQ(status_, 0) << err_;
  // Passes 1, 2, ..., n and then 30 (or 1..30), with at least 10 passes in all.
  std::regex pass(R"(TEMP ITER\s+(\d+))");
  std::vector<int> seen;
  for (auto it = std::sregex_iterator(out_.begin(), out_.end(), pass); it != std::sregex_iterator(); ++it)
    seen.push_back(std::stoi((*it)[1]));
  ASSERT_GE(seen.size(), 10u);
  ASSERT_LE(seen.size(), 30u);
  EXPECT_EQ(seen.back(), 30);
  for (std::size_t i = 0; i + 1 < seen.size(); ++i) EXPECT_EQ(seen[i], static_cast<int>(i) + 1);
  // ITT = 3 radiation-field passes.
  std::regex rf(R"(Rad\. field ITER\s+(\d+))");
  std::vector<int> rfs;
  for (auto it = std::sregex_iterator(out_.begin(), out_.end(), rf); it != std::sregex_iterator(); ++it)
    rfs.push_back(std::stoi((*it)[1]));
  EXPECT_EQ(rfs, (std::vector<int>{1, 2, 3}));
}

TEST_F(ExampleRun, EchoesTheParametersToTheRunLogAndSummary) {
  ASSERT_EQ(status_, 0) << err_;
  const std::string stst = read_file(dir_->path() / "stst.dat");
  const std::string sbib = read_file(dir_->path() / "sbib.dat");
  EXPECT_EQ(stst.rfind("\n     NP4 =     2     ITT =  3     JS = 20      KB = 502 XE1= 0.200\n", 0), 0u)
      << stst.substr(0, 200);
  EXPECT_NE(stst.find("\n     Day = 19.00     Log Taug = -3.000\n"), std::string::npos);
  EXPECT_NE(stst.find("\n     CHL(eV) = 50.0     NC =  0\n"), std::string::npos);
  EXPECT_NE(stst.find("\n     WVM1 = 0.2000    WVM2 = 1.0000       KG =  1000\n"), std::string::npos);
  const std::string header = "\n                  LOG R/RS     LOG L/LS         VEL LB          TB\n\n";
  EXPECT_NE(stst.find(header), std::string::npos);
  EXPECT_EQ(sbib.rfind(header, 0), 0u) << sbib.substr(0, 200);
}

TEST(RunFailures, ASecondRunInTheSameDirectoryStopsAtTheRunLogAndChangesNothing) {
  MCSPEC_REQUIRE_SHARED();
  if (mcspec::test::shared_example().empty()) GTEST_SKIP() << "the shared example is not present";
  TempDir dir;
  copy_example(dir.path());
  // The output files of an earlier run.
  for (const char* name : kOutputs) write_file(dir / name, std::string("earlier run: ") + name + "\n");
  const auto before = outputs_of(dir.path());
  std::string out, err;
  const int status = run_in(dir.path(), mcdata_env(), MCSPEC_BINARY, &out, &err);
  EXPECT_NE(status, 0);
  EXPECT_NE(err.find("stst.dat"), std::string::npos) << err;
  EXPECT_EQ(outputs_of(dir.path()), before);
  EXPECT_EQ(out.find(" Finish Code"), std::string::npos);
}

TEST(RunFailures, OneExistingOutputFileStopsTheRunBeforeAnyOutputIsCreated) {
  MCSPEC_REQUIRE_SHARED();
  if (mcspec::test::shared_example().empty()) GTEST_SKIP() << "the shared example is not present";
  TempDir dir;
  copy_example(dir.path());
  write_file(dir / "spct.dat", "keep me\n");
  std::string out, err;
  EXPECT_NE(run_in(dir.path(), mcdata_env(), MCSPEC_BINARY, &out, &err), 0);
  EXPECT_NE(err.find("spct.dat"), std::string::npos) << err;
  EXPECT_EQ(read_file(dir / "spct.dat"), "keep me\n");
  for (const char* name : kOutputs) {
    if (std::string(name) != "spct.dat") {
      EXPECT_FALSE(fs::exists(dir / name)) << name;
    }
  }
}

TEST(RunFailures, AMissingParameterFileIsNamedAndNothingIsWritten) {
  TempDir dir;
  std::string out, err;
  EXPECT_NE(run_in(dir.path(), "MCDATA=/nonexistent", MCSPEC_BINARY, &out, &err), 0);
  EXPECT_NE(err.find("dica.dat"), std::string::npos) << err;
  for (const char* name : kOutputs) EXPECT_FALSE(fs::exists(dir / name)) << name;
}

TEST(RunFailures, AMissingDataFileIsReportedAndNotCreatedInTheDataDirectory) {
  MCSPEC_REQUIRE_SHARED();
  if (mcspec::test::shared_example().empty()) GTEST_SKIP() << "the shared example is not present";
  TempDir data("mcspec-data");
  const fs::path src = mcspec::test::shared_mcdata();
  fs::copy(src, data.path(), fs::copy_options::recursive);
  for (auto& e : fs::recursive_directory_iterator(data.path()))
    fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add);
  fs::remove(data / "nbia.ind");
  TempDir dir;
  copy_example(dir.path());
  std::string out, err;
  EXPECT_NE(run_in(dir.path(), "MCDATA='" + data.path().string() + "'", MCSPEC_BINARY, &out, &err), 0);
  EXPECT_NE(err.find("nbia.ind"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(data / "nbia.ind"));
}

}  // namespace
