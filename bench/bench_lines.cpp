// Reading and censoring of the line list (lines, with the frequency ordering) on the
// plasma state of the sn-ia-max example: the real line file and a ten-times larger
// one made by repeating every block's entries. Reports lines read per second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "base/format.hpp"

namespace {

namespace fs = std::filesystem;
using namespace mcspec;

const fs::path kData = bench::shared_dir() / "mcdata";

// The plasma state of the first temperature pass, as the run has it before lines.
struct FirstPass : bench::Example {
  FirstPass() : bench::Example("lines") { plasma_state(1); }
};

const FirstPass& first_pass() {
  static const FirstPass fp;
  return fp;
}

// The line file with every block's entries repeated `times` times (same levels, so
// every entry stays valid); returns its text and the number of entries.
std::string repeated_line_file(int times, long* entries) {
  std::ifstream in(kData / "lines" / "varn2");
  std::vector<std::string> rec;
  for (std::string line; std::getline(in, line);) rec.push_back(line);
  std::string out;
  *entries = 0;
  for (std::size_t r = 0; r + 3 < rec.size();) {
    const int z = std::stoi(rec[r + 2].substr(0, 8)), j = std::stoi(rec[r + 2].substr(8, 4));
    const int nl = std::stoi(rec[r + 2].substr(12, 10));
    std::vector<std::string> e;
    for (int i = 0; i < nl; ++i) e.push_back(rec[r + 4 + static_cast<std::size_t>(i / 4)].substr(static_cast<std::size_t>(i % 4) * 20, 20));
    const FmtArg h[] = {z, j, nl * times};
    out += rec[r] + "\n" + rec[r + 1] + "\n" + render_record("(I8, I4, I10)", h) + rec[r + 3] + "\n";
    std::string line;
    for (int i = 0; i < nl * times; ++i) {
      line += e[static_cast<std::size_t>(i % nl)];
      if (i % 4 == 3 || i + 1 == nl * times) {
        out += line + "\n";
        line.clear();
      }
    }
    *entries += static_cast<long>(nl) * times;
    r += 4 + static_cast<std::size_t>((nl + 3) / 4);
  }
  return out;
}

void censor(benchmark::State& state, const std::string& name, const std::string* text, long entries) {
  const FirstPass& fp = first_pass();
  int nl = 0;
  for (auto _ : state) {
    Atoms a = fp.a;  // lines rebuilds the ion list and three level counts
    LineList ll;
    OutFile out = OutFile::memory(), stst = OutFile::memory(), sbib = OutFile::memory(), lhea = OutFile::memory();
    InFile varn2;
    if (text)
      varn2.open_text(name, *text);
    else
      varn2.open((kData / "lines" / "varn2").string(), "line list");
    read_line_list(fp.p, fp.c, fp.s, fp.pl, a, ll, varn2, out, stst, sbib, lhea);
    nl = ll.nl;
  }
  state.SetItemsProcessed(state.iterations() * entries);
  state.counters["lines_read"] = static_cast<double>(entries);
  state.counters["lines_kept"] = nl;
}

void BM_LinesRealData(benchmark::State& state) {
  static long entries = 0;
  if (entries == 0) repeated_line_file(1, &entries);
  censor(state, "varn2", nullptr, entries);
}
BENCHMARK(BM_LinesRealData)->Unit(benchmark::kMillisecond);

void BM_LinesTenTimesLarger(benchmark::State& state) {
  static long entries = 0;
  static const std::string text = repeated_line_file(10, &entries);
  censor(state, "varn2 x 10", &text, entries);
}
BENCHMARK(BM_LinesTenTimesLarger)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!bench::example_present("bench_lines")) return 0;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
