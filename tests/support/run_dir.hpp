// The end-to-end harness: a run directory made from an example or a table of files,
// the program (or a tool of the build) run in it with extra environment, its outputs
// read back, and two runs compared byte for byte. The generated data directory and the
// runs of the two examples are made once per test program and shared.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.hpp"

namespace mcspec::test {

namespace fs = std::filesystem;

// A program of the build directory, quoted for the shell, with its arguments.
inline std::string tool(const std::string& name, const std::string& args = "") {
  return "'" MCSPEC_BUILD_DIR "/" + name + "' " + args;
}
inline const fs::path kSourceDir = MCSPEC_SOURCE_DIR;
// Assignments for env(1) that name the atomic data of a run.
inline std::string mcdata(const fs::path& dir) { return "MCDATA='" + dir.string() + "'"; }

// A run directory <scratch>/run, with room beside it (<scratch>/NAME) for a data
// directory of the test's own; all removed by the destructor.
class RunDir {
 public:
  explicit RunDir(const std::string& prefix = "mcspec-run") : top_(prefix), dir_(top_ / "run") {
    fs::create_directory(dir_);
  }
  // The inputs of an example (those it has of dica.dat, comp.ind, hydro.dat, zones.dat).
  RunDir& example(const fs::path& from) {
    for (const char* name : {"dica.dat", "comp.ind", "hydro.dat", "zones.dat"})
      if (fs::exists(from / name)) write_file(dir_ / name, read_file(from / name));
    return *this;
  }
  RunDir& files(const std::map<std::string, std::string>& table) {
    for (const auto& [name, text] : table) write_file(dir_ / name, text);
    return *this;
  }
  // Record r (1-based) of a file replaced by text.
  RunDir& record(const std::string& file, std::size_t r, const std::string& text) {
    std::vector<std::string> recs = records(read(file));
    recs.at(r - 1) = text;
    write_file(dir_ / file, join_records(recs));
    return *this;
  }
  // dica.dat asking for np4 x 10000 packets and itt final passes.
  RunDir& packets(int np4, int itt = 3) {
    return record("dica.dat", 2, "    " + std::to_string(np4) + "    " + std::to_string(itt));
  }
  // Runs command (the program by default) with env(1) assignments; the exit status.
  int run(const std::string& env, const std::string& command = MCSPEC_BINARY) {
    return status = run_in(dir_, env, command, &out, &err);
  }
  std::string read(const std::string& name) const { return read_file(dir_ / name); }
  bool has(const std::string& name) const { return fs::exists(fs::symlink_status(dir_ / name)); }
  std::vector<std::string> names() const { return listing(dir_); }
  // The incomplete-* directory a stopped run set its outputs aside in, or an empty path.
  fs::path incomplete() const {
    for (const std::string& n : names())
      if (n.starts_with("incomplete-")) return dir_ / n;
    return {};
  }
  // What differs from another run on standard output and in the output files; empty
  // when they are byte-identical.
  std::string differences(const RunDir& other) const {
    std::string d = out == other.out ? "" : " standard output";
    for (const char* name : kOutputFiles)
      if (read(name) != other.read(name)) d += std::string(" ") + name;
    return d;
  }
  // The first two columns of "spct.dat": air wavelength [A] and the formal-integral flux.
  std::vector<std::pair<double, double>> spectrum() const {
    std::vector<std::pair<double, double>> s;
    for (const std::string& rec : records(read("spct.dat")))
      if (double w, f; std::sscanf(rec.c_str(), "%lf %lf", &w, &f) == 2) s.emplace_back(w, f);
    return s;
  }
  const fs::path& path() const { return dir_; }
  fs::path operator/(const std::string& name) const { return dir_ / name; }
  fs::path beside(const std::string& name) const { return top_ / name; }

  int status = -1;
  std::string out, err;

 private:
  TempDir top_;
  fs::path dir_;
};

// The last 2000 characters of a text (the end of a failed run's standard output).
inline std::string tail(const std::string& s) { return s.substr(s.size() > 2000 ? s.size() - 2000 : 0); }

inline bool sanitized() { return std::getenv("MCSPEC_SANITIZED") != nullptr; }

// The data directory "data" written by mkdata with the Bessell curves, made once.
inline const RunDir& generated_data() {
  static const std::unique_ptr<RunDir> made = [] {
    auto r = std::make_unique<RunDir>("mcspec-mkdata");
    const fs::path bessell = kSourceDir / "data/sources/speclite/speclite/data/filters";
    r->run("", tool("mkdata", "--bessell '" + bessell.string() + "' data"));
    return r;
  }();
  return *made;
}
// Its path, or empty when it could not be made with filter curves.
inline fs::path generated_mcdata() {
  const RunDir& d = generated_data();
  return d.status == 0 && fs::exists(d / "data/filters.dat") ? d / "data" : fs::path();
}

// A new run of an example on the atomic data in data (10000 packets under the sanitizers).
inline std::unique_ptr<RunDir> run_example(const fs::path& example, const fs::path& data, const std::string& env = "") {
  auto r = std::make_unique<RunDir>();
  r->example(example);
  if (sanitized()) r->packets(1);
  r->run(env + " " + mcdata(data));
  return r;
}

// The type Ia example on the shared atomic data, run once; nullptr when they are absent.
inline const RunDir* sn_ia_max_run() {
  static const std::unique_ptr<RunDir> run =
      shared_example().empty() ? nullptr : run_example(shared_example(), shared_mcdata());
  return run.get();
}

// The hydrogen-envelope example on the generated data directory, run once; nullptr when
// that directory has no filter curves.
inline const RunDir* hydrogen_envelope_run() {
  static const std::unique_ptr<RunDir> run =
      generated_mcdata().empty() ? nullptr : run_example(kSourceDir / "examples/hydrogen-envelope", generated_mcdata());
  return run.get();
}

}  // namespace mcspec::test

#define MCSPEC_REQUIRE_SHARED_EXAMPLE() \
  if (::mcspec::test::shared_example().empty()) GTEST_SKIP() << "the shared example (../shared/examples/sn-ia-max) is not present"
#define MCSPEC_REQUIRE_GENERATED_DATA() \
  if (::mcspec::test::generated_mcdata().empty()) GTEST_SKIP() << "the generated data directory has no filter curves"
