// The helpers of test_support.hpp: scratch directories, whole files, the shared data
// directory and child processes run through the shell.
#include "support/test_support.hpp"

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace mcspec::test {

namespace fs = std::filesystem;

TempDir::TempDir(const std::string& prefix) {
  std::random_device rd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path p = fs::temp_directory_path() / (prefix + "-" + std::to_string(rd()));
    if (fs::create_directory(p)) {
      path_ = p;
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary directory");
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + p.string());
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void write_file(const fs::path& p, const std::string& text) {
  std::ofstream o(p, std::ios::binary);
  if (!o) throw std::runtime_error("cannot write " + p.string());
  o << text;
}

std::vector<std::string> records(const std::string& text) {
  std::vector<std::string> r;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) r.push_back(line);
  return r;
}

std::string join_records(const std::vector<std::string>& recs) {
  std::string t;
  for (const std::string& r : recs) t += r + "\n";
  return t;
}

std::vector<std::string> listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

fs::path shared_dir() {
  std::error_code ec;
  const char* env = std::getenv("MCSPEC_SHARED_DIR");
  fs::path p = env ? fs::path(env) : fs::path(MCSPEC_SHARED_DIR);
  if (fs::is_directory(p / "mcdata", ec)) return fs::weakly_canonical(p, ec);
  return {};
}

fs::path shared_mcdata() {
  fs::path s = shared_dir();
  return s.empty() ? s : s / "mcdata";
}

fs::path shared_example() {
  fs::path s = shared_dir();
  std::error_code ec;
  if (s.empty() || !fs::is_directory(s / "examples" / "sn-ia-max", ec)) return {};
  return s / "examples" / "sn-ia-max";
}

int run_in(const fs::path& dir, const std::string& env, const std::string& command, std::string* out,
           std::string* err) {
  TempDir tmp("mcspec-run");
  const fs::path o = tmp / "stdout", e = tmp / "stderr";
  const std::string cmd = "cd '" + dir.string() + "' && env " + env + " " + command + " >'" + o.string() +
                          "' 2>'" + e.string() + "' </dev/null";
  int status = std::system(cmd.c_str());
  if (out) *out = read_file(o);
  if (err) *err = read_file(e);
  if (status == -1) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace mcspec::test
