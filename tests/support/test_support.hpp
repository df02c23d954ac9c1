// Helpers shared by the tests: scratch directories, whole-file reads and writes,
// the shared data directory when it is present.
#pragma once

#include <filesystem>
#include <string>

namespace mcspec::test {

// A new empty directory under the system's temporary directory, removed by the
// destructor.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "mcspec-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

std::string read_file(const std::filesystem::path& p);
void write_file(const std::filesystem::path& p, const std::string& text);

// The shared directory beside the checkout (atomic data "mcdata", examples), or an
// empty path when it is absent: tests that need it skip with GTEST_SKIP.
std::filesystem::path shared_dir();
std::filesystem::path shared_mcdata();   // shared_dir()/mcdata, or empty
std::filesystem::path shared_example();  // shared_dir()/examples/sn-ia-max, or empty

// Runs a shell command in dir with extra environment assignments ("MCDATA=... "),
// capturing standard output and standard error; returns the exit status.
int run_in(const std::filesystem::path& dir, const std::string& env, const std::string& command, std::string* out,
           std::string* err);

}  // namespace mcspec::test

#define MCSPEC_REQUIRE_SHARED()                                                                   \
  do {                                                                                            \
    if (::mcspec::test::shared_mcdata().empty())                                                  \
      GTEST_SKIP() << "the shared atomic-data directory (../shared/mcdata) is not present";       \
  } while (0)
