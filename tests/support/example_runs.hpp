// Runs of the program and its helper tools for the end-to-end tests: the generated
// data directory and each example are made or run once per test program, by the first
// test that asks, and shared by every test that inspects them.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "support/test_support.hpp"

namespace mcspec::test {

// A finished child process and the scratch directory it worked in.
struct ToolRun {
  explicit ToolRun(const std::string& prefix) : dir(prefix) {}
  TempDir dir;
  int status = -1;
  std::string out, err;
  std::string read(const std::string& name) const { return read_file(dir / name); }
};

// A program of the build directory, quoted for the shell, with its arguments.
inline std::string build_tool(const std::string& name, const std::string& args = "") {
  std::string command = "'" MCSPEC_BUILD_DIR "/";
  return command.append(name).append("' ").append(args);
}

// The Bessell filter curves shipped with the sources of the atomic data.
inline std::filesystem::path bessell_directory() {
  return std::filesystem::path(MCSPEC_SOURCE_DIR) / "data/sources/speclite/speclite/data/filters";
}

// The data directory "data" written by mkdata.
inline const ToolRun& generated_data() {
  static const std::unique_ptr<ToolRun> run = [] {
    auto r = std::make_unique<ToolRun>("mcspec-mkdata");
    const std::string args = "--bessell '" + bessell_directory().string() + "' data";
    r->status = run_in(r->dir.path(), "", build_tool("mkdata", args), &r->out, &r->err);
    return r;
  }();
  return *run;
}

// Copies an example's inputs into dir; under the sanitizers (MCSPEC_SANITIZED set) the
// run asks for 10000 packets.
inline void copy_example(const std::filesystem::path& example, const std::filesystem::path& dir) {
  for (const char* name : {"comp.ind", "zones.dat", "hydro.dat"})
    if (std::filesystem::exists(example / name)) std::filesystem::copy_file(example / name, dir / name);
  std::string dica = read_file(example / "dica.dat");
  if (std::getenv("MCSPEC_SANITIZED") != nullptr) {
    const std::size_t second = dica.find('\n') + 1;
    dica.replace(second, dica.find('\n', second) - second, "    1    3");
  }
  write_file(dir / "dica.dat", dica);
}

// Runs the program in dir on the atomic data in mcdata.
inline int run_program(const std::filesystem::path& dir, const std::filesystem::path& mcdata, std::string* out,
                       std::string* err) {
  return run_in(dir, "MCDATA='" + mcdata.string() + "'", MCSPEC_BINARY, out, err);
}

// A new run of an example.
inline std::unique_ptr<ToolRun> run_example(const std::filesystem::path& example, const std::filesystem::path& mcdata) {
  auto r = std::make_unique<ToolRun>("mcspec-run");
  copy_example(example, r->dir.path());
  r->status = run_program(r->dir.path(), mcdata, &r->out, &r->err);
  return r;
}

// The type Ia example on the shared atomic data, run once; nullptr when they are absent.
inline const ToolRun* sn_ia_max_run() {
  static const std::unique_ptr<ToolRun> run =
      shared_example().empty() ? nullptr : run_example(shared_example(), shared_mcdata());
  return run.get();
}

// The hydrogen-envelope example on the generated data directory, run once; nullptr when
// that directory has no filter curves.
inline const ToolRun* hydrogen_envelope_run() {
  static const std::unique_ptr<ToolRun> run = [] {
    const ToolRun& data = generated_data();
    if (data.status != 0 || !std::filesystem::exists(data.dir / "data/filters.dat")) return std::unique_ptr<ToolRun>();
    return run_example(std::filesystem::path(MCSPEC_SOURCE_DIR) / "examples" / "hydrogen-envelope", data.dir / "data");
  }();
  return run.get();
}

}  // namespace mcspec::test
