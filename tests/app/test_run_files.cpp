// Opening and closing the files of a run in scratch directories: names built from MCDATA,
// the density-profile fallback, the working-directory note, closing, the outputs of a
// stopped run set aside; progress lines on standard error: the largest relative change
// of TR, the passes left (the schedule ends between pass 9 and pass 30).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "app/progress.hpp"
#include "app/run_files.hpp"
#include "support/test_support.hpp"

namespace fs = std::filesystem;
namespace mcspec {
namespace {

using test::kOutputFiles;
using test::read_file;
using test::write_file;

// A data directory and a working directory holding every input, each file one record
// with its own name; the process works in the working directory.
class OpeningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(data.path() / "lines");
    for (const char* name :
         {"ihea.ind", "nbia.ind", "nama.ind", "nbba.ind", "rhw7.dat", "filters.dat", "lines/varn2", "lines/varn1.new"})
      write_file(data / name, std::string(name) + " record\n");
    write_file(work / "dica.dat", "dica record\n");
    write_file(work / "comp.ind", "comp record\n");
    saved_cwd = fs::current_path();
    fs::current_path(work.path());
  }
  void TearDown() override { fs::current_path(saved_cwd); }

  std::string mcdata() const { return data.path().string(); }
  std::unique_ptr<Files> open_files(const std::string& mcdata_value, const char* pwd = "/home/run") {
    auto f = std::make_unique<Files>();
    f->out = OutFile::memory("stdout");
    open_run_files(*f, mcdata_value.c_str(), pwd);
    return f;
  }
  // Closes every file and removes the outputs again.
  static void close_and_remove(Files& f) {
    close_run_files(f);
    for (const char* name : kOutputFiles) fs::remove(name);
  }

  test::TempDir data{"mcspec-data"}, work{"mcspec-work"};
  fs::path saved_cwd;
};

TEST_F(OpeningTest, NamesTheDensityProfileTheDataFilesAndTheWorkdirNote) {
  auto f = open_files(mcdata());
  EXPECT_EQ(f->out.text(), "  opening\n File hydro.dat not found in current working directory.\n Will use default W7 model.\n");
  EXPECT_EQ(f->hydro.source_name() + ":" + f->hydro.next_record(), mcdata() + "/rhw7.dat:rhw7.dat record");
  close_and_remove(*f);
  write_file(work / "hydro.dat", "own profile\n");  // the working directory's own profile wins
  f = open_files(mcdata() + "/   ");                // trailing blanks are not part of the name
  EXPECT_EQ(f->out.text(), "  opening\n");
  EXPECT_EQ(f->hydro.source_name() + ":" + f->hydro.next_record(), "hydro.dat:own profile");
  EXPECT_EQ(f->datapath, mcdata() + "/");  // names are the data path followed by the literal
  EXPECT_EQ(f->varn2.source_name() + ":" + f->varn2.next_record(), mcdata() + "//lines/varn2:lines/varn2 record");
  EXPECT_EQ(f->dica.source_name() + ":" + f->dica.next_record() + ":" + f->comp.next_record(),
            "dica.dat:dica record:comp record");
  close_and_remove(*f);
  // (MCDATA used whole, however long: the malformed-input corpus.)
  // A working directory ending in "/" (trailing blanks aside) is noted.
  for (const char* pwd : {"/home/run/", "/home/run/  ", "/home/run", static_cast<const char*>(nullptr)}) {
    f = open_files(mcdata(), pwd);
    const bool noted = pwd != nullptr && std::string(pwd).find("run/") != std::string::npos;
    EXPECT_EQ(f->out.text(), std::string("  opening\n") + (noted ? "Interesting: snipped workdir\n" : "")) << pwd;
    close_and_remove(*f);
  }
}

// Closing: every output exists and is closed, the level file too (its closing flush is
// checked like the others'). (An earlier output stopping the run before anything is
// created is in the malformed-input corpus.)
TEST_F(OpeningTest, ClosingLeavesEveryOutputClosed) {
  auto f = open_files(mcdata());
  f->stst.write_text("earlier log\n");
  f->atmd.write_text("levels\n");
  close_run_files(*f);
  EXPECT_FALSE(f->stst.is_open() || f->sbib.is_open() || f->dica.is_open() || f->hydro.is_open() || f->atmd.is_open());
  for (const char* name : kOutputFiles) EXPECT_TRUE(fs::exists(name)) << name;
  EXPECT_EQ(read_file("atmd.oud") + read_file("diagn.dat") + read_file("taul.dat"), "levels\n");
}

// A stopped run's outputs move into a new directory, and nothing else does; two runs in
// the same second get two directories. (The interrupt itself: end to end, in
// test_run_safety.)
TEST_F(OpeningTest, StoppedRunsOutputsMoveIntoNewDirectoriesAndNothingElse) {
  write_file(work / "notes.txt", "mine\n");
  std::vector<std::string> dirs;
  for (int run = 0; run < 2; ++run) {
    Files f;
    f.stst.create_new("stst.dat");
    f.stst.write_text("log\n");
    f.sbib.create_new("sbib.dat");
    const SetAside r = set_aside_outputs(f);
    dirs.push_back(r.dir);
    EXPECT_EQ(r.moved, (std::vector<std::string>{"stst.dat", "sbib.dat"}));
    EXPECT_TRUE(r.removed.empty() && r.left.empty() && r.cut_short.empty());
    EXPECT_EQ(read_file(work / dirs.back() / "stst.dat"), "log\n");
    EXPECT_EQ(test::listing(work / dirs.back()), (std::vector<std::string>{"sbib.dat", "stst.dat"}));
  }
  EXPECT_NE(dirs[0], dirs[1]);
  for (const auto& d : dirs) EXPECT_TRUE(std::regex_match(d, std::regex(R"(incomplete-\d{8}-\d{6}(-\d+)?)"))) << d;
  EXPECT_EQ(read_file(work / "notes.txt"), "mine\n");
  EXPECT_EQ(test::listing(work.path()).size(), 5u);  // the two inputs, notes.txt and the two directories
}

std::string written(std::FILE* f) {
  std::rewind(f);
  std::string s;
  for (int c; (c = std::fgetc(f)) != EOF;) s += static_cast<char>(c);
  return s;
}

TEST(Progress, LargestRelativeChange) {
  const std::vector<double> old{10000, 8000, 5000};
  const double now[] = {10500, 7600, 5100};
  EXPECT_DOUBLE_EQ(Progress::largest_change(old, now, 3), 0.05);
  const double bad[] = {10000, NAN, 5000};
  EXPECT_TRUE(std::isnan(Progress::largest_change(old, bad, 3)));
}

TEST(Progress, PassesLeftAndConvergence) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  Progress p(f, false);
  const double tr0[] = {10000, 8000}, tr1[] = {11000, 8000};
  const struct {
    int pass, next;
    const char* expect;
  } cases[] = {{1, 2, "left: 9 to 29 + 3 final passes"},   // passes 2..9, then 30 at the least
               {9, 10, "left: 2 to 21 + 3 final passes"},
               {10, 30, "(converged)"},
               {30, 31, "left: 3 final passes"}};
  for (const auto& c : cases) {
    p.start_pass(tr0, 2);
    p.end_pass(c.pass, c.next, 3, tr1, 2);
    const std::string s = written(f);
    EXPECT_NE(s.find("temperature pass " + std::to_string(c.pass) + ": largest change of TR 10.00 %"),
              std::string::npos)
        << s;
    EXPECT_NE(s.find(c.expect), std::string::npos) << s;
  }
  p.final_pass(2, 3);
  p.finish();
  const std::string s = written(f);
  EXPECT_NE(s.find("final Monte Carlo pass 2 of 3 done"), std::string::npos);
  EXPECT_NE(s.find("finished in"), std::string::npos);
  std::fclose(f);
}

}  // namespace
}  // namespace mcspec
