// Helpers shared by the tests: scratch directories, whole-file reads and writes, the
// shared data directory when it is present, child processes, and checks on the
// messages of errors.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

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
// The records of a text, without their line ends, and records joined back into a text.
std::vector<std::string> records(const std::string& text);
std::string join_records(const std::vector<std::string>& recs);
// The names in a directory, sorted.
std::vector<std::string> listing(const std::filesystem::path& dir);

// The output files of a run, in the order of the unit table.
inline constexpr const char* kOutputFiles[] = {"stst.dat", "diagn.dat", "yhea.dat", "lhea.dat",
                                               "spcp.dat", "sica.dat",  "eica.dat", "spct.dat",
                                               "atmd.oud", "ptfn.dat",  "taul.dat", "sbib.dat",
                                               "radfield.dat"};

// The shared directory beside the checkout (atomic data "mcdata", examples), or an
// empty path when it is absent: tests that need it skip with GTEST_SKIP.
std::filesystem::path shared_dir();
std::filesystem::path shared_mcdata();   // shared_dir()/mcdata, or empty
std::filesystem::path shared_example();  // shared_dir()/examples/sn-ia-max, or empty

// Simpson's rule for f over [a, b] in n (even) intervals.
template <class F>
double simpson(F f, double a, double b, int n) {
  const double h = (b - a) / n;
  double sum = f(a) + f(b);
  for (int i = 1; i < n; ++i) sum += (i % 2 ? 4.0 : 2.0) * f(a + i * h);
  return sum * h / 3.0;
}

// Runs a shell command in dir with extra environment assignments ("MCDATA=... "),
// capturing standard output and standard error; returns the exit status.
int run_in(const std::filesystem::path& dir, const std::string& env, const std::string& command, std::string* out,
           std::string* err);

// The exception of type E that f throws (an error with file, record and field, or a
// run stop); a test failure when it throws nothing.
template <class E, class F>
E thrown(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e;
  }
  ADD_FAILURE() << "no exception was thrown";
  return E("no exception");
}
template <class E, class F>
std::string message_of(F&& f) {
  return thrown<E>(f).what();
}

}  // namespace mcspec::test

#define EXPECT_CONTAINS(text, part)                                                   \
  EXPECT_NE(std::string(text).find(part), std::string::npos) << "\"" << (part) << "\" not in:\n" << (text)
