// Throughput of the record layer on the program's largest inputs and outputs: the line
// list (about 100000 fixed-column records of four line entries each) and a table of
// 100000 formatted records like the line-list summary.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "base/io.hpp"

namespace {

using mcspec::FmtArg;
using mcspec::InFile;

constexpr int kRecords = 100000;

// A synthetic line list in the file's layout, so the benchmark runs without the data.
std::string synthetic_line_list() {
  std::string text;
  text.reserve(static_cast<std::size_t>(kRecords) * 57);
  char buf[64];
  for (int r = 0; r < kRecords; ++r) {
    for (int k = 0; k < 4; ++k) {
      std::snprintf(buf, sizeof buf, "%6d%6d%8.3f", 2 + (r + k) % 500, -1 - (r * 7 + k) % 300,
                    -3.0 + 0.001 * ((r * 13 + k) % 4000));
      text += buf;
    }
    text += '\n';
  }
  return text;
}

void read_line_records(InFile& f, benchmark::State& state) {
  int up[4], lo[4];
  double gf[4];
  long n = 0;
  while (!f.at_end()) {
    f.read("4(2I6, F8.3)", {up[0], lo[0], gf[0], up[1], lo[1], gf[1], up[2], lo[2], gf[2], up[3], lo[3], gf[3]});
    ++n;
  }
  benchmark::DoNotOptimize(gf[0]);
  state.counters["records"] = static_cast<double>(n);
}

void BM_ReadSyntheticLineList(benchmark::State& state) {
  const std::string text = synthetic_line_list();
  for (auto _ : state) {
    InFile f;
    f.open_text("synthetic", text);
    read_line_records(f, state);
  }
}
BENCHMARK(BM_ReadSyntheticLineList)->Unit(benchmark::kMillisecond);

// The real line list: open (whole-file read), then block by block, each a four-record
// header with Z, stage and line count (I8, I4, I10) and the data records.
void BM_ReadSharedLineList(benchmark::State& state) {
  const std::filesystem::path path = std::filesystem::path(MCSPEC_SHARED_DIR) / "mcdata" / "lines" / "varn2";
  if (!std::filesystem::exists(path)) {
    state.SkipWithError("the shared line list (../shared/mcdata/lines/varn2) is not present");
    return;
  }
  for (auto _ : state) {
    InFile f;
    f.open(path.string(), "line list");
    long n = 0;
    int up[4], lo[4];
    double gf[4];
    while (!f.at_end()) {
      int z = 0, stage = 0, count = 0;
      f.skip(2);
      f.read("(I8, I4, I10)", {z, stage, count});
      f.skip();
      for (int r = 0; r < (count + 3) / 4; ++r, ++n)
        f.read("4(2I6, F8.3)", {up[0], lo[0], gf[0], up[1], lo[1], gf[1], up[2], lo[2], gf[2], up[3], lo[3], gf[3]});
    }
    benchmark::DoNotOptimize(gf[0]);
    state.counters["records"] = static_cast<double>(n);
  }
}
BENCHMARK(BM_ReadSharedLineList)->Unit(benchmark::kMillisecond);

void BM_WriteLineTable(benchmark::State& state) {
  for (auto _ : state) {
    mcspec::OutFile out = mcspec::OutFile::memory();
    for (int n = 1; n <= kRecords; ++n)
      out.write("( 2I7 E13.6 F11.3 F8.2 F9.3 2I7 E10.3 )", n, kRecords + 1 - n, 1.2345e15 + n, 4000.0 + 0.01 * n,
                26.01, -1.234, -n % 300, n % 500, 3.5e-3 * n);
    benchmark::DoNotOptimize(out.text().data());
  }
}
BENCHMARK(BM_WriteLineTable)->Unit(benchmark::kMillisecond);

void BM_WriteListRecords(benchmark::State& state) {
  for (auto _ : state) {
    mcspec::OutFile out = mcspec::OutFile::memory();
    for (int n = 1; n <= kRecords; ++n) out.list(" wair ", 26.01, 1.0 / n, n);
    benchmark::DoNotOptimize(out.text().data());
  }
}
BENCHMARK(BM_WriteListRecords)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
