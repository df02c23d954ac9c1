// Opening and closing the files of a run in scratch directories: names built from
// MCDATA, the density-profile fallback, the working-directory note, and the refusals
// that must leave the data directory and earlier results untouched.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "common/errors.hpp"
#include "driver/files.hpp"
#include "support/test_support.hpp"

namespace mcspec {
namespace {

namespace fs = std::filesystem;
using test::read_file;
using test::TempDir;
using test::write_file;

const char* const kOutputs[] = {"stst.dat", "diagn.dat", "yhea.dat", "lhea.dat", "spcp.dat", "sica.dat",
                                "eica.dat", "spct.dat", "atmd.oud", "ptfn.dat", "taul.dat", "sbib.dat"};

std::set<std::string> listing(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(dir)) names.insert(fs::relative(e.path(), dir).string());
  return names;
}

// A data directory and a working directory holding every input; the process works in
// the working directory for the test's duration.
class OpeningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(data.path() / "lines");
    for (const char* name : {"ihea.ind", "nbia.ind", "nama.ind", "nbba.ind", "rhw7.dat", "filters.dat"}) {
      write_file(data / name, std::string(name) + " record\n");
    }
    write_file(data.path() / "lines" / "varn2", "varn2 record\n");
    write_file(data.path() / "lines" / "varn1.new", "varn1 record\n");
    write_file(work / "dica.dat", "dica record\n");
    write_file(work / "comp.ind", "comp record\n");
    saved_cwd = fs::current_path();
    fs::current_path(work.path());
  }
  void TearDown() override { fs::current_path(saved_cwd); }

  std::string mcdata() const { return data.path().string(); }
  void open_files(Files& f, const std::string& mcdata_value, const char* pwd = "/home/run") {
    f.out = OutFile::memory("stdout");
    opening(f, mcdata_value.c_str(), pwd);
  }

  TempDir data{"mcspec-data"};
  TempDir work{"mcspec-work"};
  fs::path saved_cwd;
};

TEST_F(OpeningTest, DefaultModelWhenNoHydroFile) {
  Files f;
  open_files(f, mcdata());
  EXPECT_EQ(f.out.text(),
            "  opening\n"
            " File hydro.dat not found in current working directory.\n"
            " Will use default W7 model.\n");
  EXPECT_EQ(f.hydro.source_name(), mcdata() + "/rhw7.dat");
  EXPECT_EQ(f.hydro.next_record(), "rhw7.dat record");
  closing(f);
}

TEST_F(OpeningTest, HydroFileOfTheWorkingDirectoryWins) {
  write_file(work / "hydro.dat", "own profile\n");
  Files f;
  open_files(f, mcdata());
  EXPECT_EQ(f.out.text(), "  opening\n");
  EXPECT_EQ(f.hydro.source_name(), "hydro.dat");
  EXPECT_EQ(f.hydro.next_record(), "own profile");
  closing(f);
}

TEST_F(OpeningTest, NamesAreDatapathFollowedByTheLiteral) {
  Files f;
  open_files(f, mcdata() + "/   ");  // trailing blanks are not part of the name
  EXPECT_EQ(f.datapath, mcdata() + "/");
  EXPECT_EQ(f.varn2.source_name(), mcdata() + "//lines/varn2");
  EXPECT_EQ(f.varn2.next_record(), "varn2 record");
  EXPECT_EQ(f.varn1.source_name(), mcdata() + "//lines/varn1.new");
  EXPECT_EQ(f.ihea.source_name(), mcdata() + "//ihea.ind");
  EXPECT_EQ(f.dica.source_name(), "dica.dat");
  EXPECT_EQ(f.dica.next_record(), "dica record");
  EXPECT_EQ(f.comp.next_record(), "comp record");
  closing(f);
}

TEST_F(OpeningTest, DatapathIsCutTo256Characters) {
  // A data directory whose path is exactly 256 characters long.
  const std::string base = mcdata() + "/";
  ASSERT_LT(base.size(), 200u);
  const fs::path deep = base + std::string(256 - base.size(), 'd');
  fs::create_directories(deep / "lines");
  for (const auto& e : fs::recursive_directory_iterator(data.path())) {
    if (e.is_regular_file() && e.path().string().find(deep.string()) != 0) {
      fs::copy_file(e.path(), deep / fs::relative(e.path(), data.path()));
    }
  }
  Files f;
  open_files(f, deep.string() + "XYZ");
  EXPECT_EQ(f.datapath, deep.string());
  EXPECT_EQ(f.filters.source_name(), deep.string() + "/filters.dat");
  closing(f);
}

TEST_F(OpeningTest, WorkdirEndingInSlashIsNoted) {
  for (const char* pwd : {"/home/run/", "/home/run/  "}) {
    Files f;
    open_files(f, mcdata(), pwd);
    const std::string text = f.out.text();
    const std::string note = "Interesting: snipped workdir\n";
    ASSERT_GE(text.size(), note.size());
    EXPECT_EQ(text.substr(text.size() - note.size()), note) << pwd;
    closing(f);
    for (const char* name : kOutputs) fs::remove(name);
  }
  for (const char* pwd : {"/home/run", static_cast<const char*>(nullptr)}) {
    Files f;
    open_files(f, mcdata(), pwd);
    EXPECT_EQ(f.out.text().find("Interesting"), std::string::npos);
    closing(f);
    for (const char* name : kOutputs) fs::remove(name);
  }
}

TEST_F(OpeningTest, MissingDataFileIsReportedAndNothingIsCreated) {
  const std::string nama = mcdata() + "/nama.ind";
  fs::remove(nama);
  const auto data_before = listing(data.path());
  Files f;
  try {
    open_files(f, mcdata());
    FAIL() << "opened without " << nama;
  } catch (const InputError& e) {
    EXPECT_EQ(e.file(), nama);
    EXPECT_NE(std::string(e.what()).find("partition-function data"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(fs::exists(nama));
  EXPECT_EQ(listing(data.path()), data_before);
  EXPECT_EQ(listing(work.path()), (std::set<std::string>{"dica.dat", "comp.ind"}));
}

TEST_F(OpeningTest, MissingDefaultModelIsReportedAndNotCreated) {
  fs::remove(data / "rhw7.dat");
  Files f;
  EXPECT_THROW(open_files(f, mcdata()), InputError);
  EXPECT_FALSE(fs::exists(data / "rhw7.dat"));
  EXPECT_FALSE(fs::exists(work / "stst.dat"));
}

TEST_F(OpeningTest, MissingInputNamesRoleAndPathAndCreatesNoOutput) {
  fs::remove(work / "dica.dat");
  Files f;
  try {
    open_files(f, mcdata());
    FAIL() << "opened without dica.dat";
  } catch (const InputError& e) {
    EXPECT_EQ(e.file(), "dica.dat");
    EXPECT_NE(std::string(e.what()).find("run parameters"), std::string::npos) << e.what();
  }
  EXPECT_EQ(listing(work.path()), (std::set<std::string>{"comp.ind"}));
}

TEST_F(OpeningTest, SecondRunInTheSameDirectoryIsRefusedBeforeCreatingAnything) {
  {
    Files f;
    open_files(f, mcdata());
    f.stst.write_text("earlier log\n");
    f.taul.write_text("");
    closing(f);
    f.atmd.close();
  }
  for (const char* name : kOutputs) EXPECT_TRUE(fs::exists(name)) << name;
  EXPECT_EQ(read_file(work / "diagn.dat"), "");
  EXPECT_EQ(read_file(work / "taul.dat"), "");

  // Only a later output missing: the check must still stop at "stst.dat" without
  // creating "sbib.dat" or truncating anything.
  fs::remove(work / "sbib.dat");
  const auto before = listing(work.path());
  Files g;
  try {
    open_files(g, mcdata());
    FAIL() << "a second run was allowed in the same directory";
  } catch (const InputError& e) {
    EXPECT_EQ(e.file(), "stst.dat");
    EXPECT_NE(std::string(e.what()).find("already exists"), std::string::npos) << e.what();
  }
  EXPECT_EQ(listing(work.path()), before);
  EXPECT_EQ(read_file(work / "stst.dat"), "earlier log\n");
}

TEST_F(OpeningTest, LaterExistingOutputStopsTheRunBeforeTheFirstIsCreated) {
  write_file(work / "sbib.dat", "keep\n");
  Files f;
  try {
    open_files(f, mcdata());
    FAIL() << "sbib.dat was overwritten";
  } catch (const InputError& e) {
    EXPECT_EQ(e.file(), "sbib.dat");
  }
  EXPECT_FALSE(fs::exists(work / "stst.dat"));
  EXPECT_EQ(read_file(work / "sbib.dat"), "keep\n");
}

TEST_F(OpeningTest, ClosingLeavesTheLevelFileOpenUntilExit) {
  Files f;
  open_files(f, mcdata());
  f.atmd.write_text("levels\n");
  closing(f);
  EXPECT_FALSE(f.stst.is_open());
  EXPECT_FALSE(f.sbib.is_open());
  EXPECT_FALSE(f.dica.is_open());
  EXPECT_FALSE(f.hydro.is_open());
  EXPECT_TRUE(f.atmd.is_open());
  f.atmd.close();
  EXPECT_EQ(read_file(work / "atmd.oud"), "levels\n");
}

}  // namespace
}  // namespace mcspec
