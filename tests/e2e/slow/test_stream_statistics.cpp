// Per-packet streams are the same physics as the single sequence of draws, shown
// statistically: the type Ia example on the shared atomic data and the hydrogen
// example on the generated data directory, each run with 16 seeds per mode (10000
// packets per run, streams on 2 threads). For every compared quantity the means of
// the two modes must agree within 3 standard errors of their difference, formed from
// the seed-to-seed scatter: "Log L", the unreddened U, B, V, R magnitudes and Mbol,
// the final radiation temperature of every shell, and the formal-integral spectrum in
// broad bands. The seeds are fixed, so the verdict is reproducible. (With 6 seeds the
// scatter itself is known too poorly: a change of the stream arithmetic alone moved
// adjacent shells past 3 standard errors and back.)
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_dir.hpp"

using namespace mcspec::test;

namespace {

constexpr int kSeeds = 16;

// The quantities of one run, by name.
using Sample = std::map<std::string, double>;

double number_after(const std::string& text, const std::string& label) {
  const std::size_t at = text.rfind(label);
  if (at == std::string::npos) return NAN;
  return std::stod(text.substr(at + label.size()));
}

Sample measure(const RunDir& run) {
  const std::string& out = run.out;
  Sample s;
  s["Log L"] = number_after(out, "Log L =");
  const std::size_t mags = out.rfind("UNREDD. MAGS:");
  for (const char* band : {"U=", "B=", "V=", "R="}) s[std::string("mag ") + band] = number_after(out.substr(mags, 80), band);
  s["Mbol"] = number_after(out, "MBol =");
  // Final radiation temperatures: the last shell table of the run log (XS VS LOG RH TE TR W).
  const std::string stst = run.read("stst.dat");
  std::istringstream table(stst.substr(stst.rfind("LOG RH")));
  std::string line;
  std::getline(table, line);
  int shell = 0;
  while (std::getline(table, line)) {
    std::istringstream rec(line);
    double v[6];
    if (!(rec >> v[0] >> v[1] >> v[2] >> v[3] >> v[4] >> v[5])) {
      if (shell > 0) break;
      continue;
    }
    s["TR shell " + std::to_string(++shell)] = v[4];
  }
  // Broad bands of the formal-integral spectrum (spcp.dat: bin, log10 air wavelength in
  // micron, ratio, log10 L per unit air wavelength, Monte Carlo): log10 of the band mean.
  const std::string spcp = run.read("spcp.dat");
  std::istringstream spec(spcp.substr(spcp.rfind("Iteration")));
  std::getline(spec, line);
  const double edges[] = {3000, 4000, 5000, 6000, 7000, 9000};
  std::map<int, std::pair<double, int>> bands;
  while (std::getline(spec, line)) {
    std::istringstream rec(line);
    int b = 0;
    double xls = 0, rb = 0, zls = 0;
    if (!(rec >> b >> xls >> rb >> zls)) continue;
    const double lambda = std::pow(10.0, xls) * 1e4;
    for (int k = 0; k < 5; ++k) {
      if (lambda >= edges[k] && lambda < edges[k + 1]) {
        bands[k].first += std::pow(10.0, zls - 38);
        bands[k].second += 1;
      }
    }
  }
  for (const auto& [k, v] : bands)
    s["band " + std::to_string(static_cast<int>(edges[k])) + "-" + std::to_string(static_cast<int>(edges[k + 1]))] =
        std::log10(v.first / v.second) + 38;
  return s;
}

// The example with 10000 packets and the given seed, in a mode.
Sample run(const fs::path& example, const fs::path& data, int seed, bool streams) {
  RunDir dir("mcspec-statistics");
  dir.example(example).packets(1);
  std::string seeds = records(dir.read("dica.dat"))[11];  // ISEED, then LOG TAUG
  const std::size_t first = seeds.find_first_not_of(' ');
  dir.record("dica.dat", 12, seeds.replace(first, seeds.find(' ', first) - first, std::to_string(seed)));
  EXPECT_EQ(dir.run(std::string(streams ? "MCSPEC_STREAMS=1 " : "") + "MCSPEC_THREADS=2 " + mcdata(data)), 0) << dir.err;
  return measure(dir);
}

void compare_modes(const fs::path& example, const fs::path& mcdata) {
  if (sanitized())
    GTEST_SKIP() << "2 x " << kSeeds << " runs are too slow under the sanitizers; the statistics are checked in the optimised build";
  std::vector<Sample> single, stream;
  for (int i = 0; i < kSeeds; ++i) {
    const int seed = 1000003 * (i + 1) + 17;
    single.push_back(run(example, mcdata, seed, false));
    stream.push_back(run(example, mcdata, seed, true));
  }
  ASSERT_GE(single[0].size(), 10u);
  for (const auto& [name, v0] : single[0]) {
    double m[2] = {0, 0}, var[2] = {0, 0};
    const std::vector<Sample>* sets[2] = {&single, &stream};
    for (int k = 0; k < 2; ++k) {
      for (const Sample& s : *sets[k]) {
        ASSERT_EQ(s.count(name), 1u) << name;
        m[k] += s.at(name) / kSeeds;
      }
      for (const Sample& s : *sets[k]) var[k] += (s.at(name) - m[k]) * (s.at(name) - m[k]) / (kSeeds - 1);
    }
    const double se = std::sqrt(var[0] / kSeeds + var[1] / kSeeds);
    EXPECT_TRUE(std::isfinite(m[0]) && std::isfinite(m[1])) << name;
    EXPECT_LE(std::abs(m[0] - m[1]), 3 * se + 1e-12)
        << example.filename() << " " << name << ": single sequence " << m[0] << ", streams " << m[1]
        << ", standard error of the difference " << se;
  }
}

}  // namespace

TEST(StreamStatistics, TypeIaExample) {
  MCSPEC_REQUIRE_SHARED_EXAMPLE();
  compare_modes(shared_example(), shared_mcdata());
}

TEST(StreamStatistics, HydrogenExample) {
  MCSPEC_REQUIRE_GENERATED_DATA();
  compare_modes(kSourceDir / "examples/hydrogen-envelope", generated_mcdata());
}
