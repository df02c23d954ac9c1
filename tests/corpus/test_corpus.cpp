// A corpus of malformed inputs, end to end: each case spoils one thing of a good run
// (a run directory with the hydrogen example at 10000 packets, the data directory
// written by mkdata) and runs the program. Every case must end with a non-zero status
// and one error message naming the file (and the record and field where there is
// one), leave the data directory and every file that was there before untouched, and
// leave no output file in the run directory, so that the corrected run can start.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/example_runs.hpp"

namespace fs = std::filesystem;
using namespace mcspec::test;

namespace {

// ------------------------------------------------------------ the good run

// A filter table on the grid the program requires (3000..8400 A every 50 A): four
// smooth bands. The cases only need a table the program accepts.
std::string filter_table() {
  std::string t;
  const double centre[4] = {3650, 4400, 5500, 6500}, width[4] = {350, 500, 450, 700};
  for (int i = 0; i < 109; ++i) {
    const double w = 3000.0 + 50.0 * i;
    char row[64];
    double r[4];
    for (int f = 0; f < 4; ++f) r[f] = std::exp(-0.5 * std::pow((w - centre[f]) / width[f], 2));
    std::snprintf(row, sizeof row, "%9.1f%8.3f%8.3f%8.3f%8.3f\n", w, r[0], r[1], r[2], r[3]);
    t += row;
  }
  return t;
}

std::string join(const std::vector<std::string>& recs) {
  std::string t;
  for (const std::string& r : recs) t += r + "\n";
  return t;
}

// The data directory (written once per test program) and the example's inputs, with
// 10000 packets and one final pass so that even a case that stops at the last stage
// is quick.
struct GoodRun {
  TempDir dir{"mcspec-corpus"};
  fs::path data = dir / "mcdata";
  std::map<std::string, std::string> inputs;  // dica.dat, comp.ind, hydro.dat
  std::map<std::string, std::string> shared_inputs;  // the type Ia example, when ../shared is there
  std::string error;
};

const GoodRun& good() {
  static const std::unique_ptr<GoodRun> g = [] {
    auto r = std::make_unique<GoodRun>();
    std::string out;
    if (run_in(r->dir.path(), "", build_tool("mkdata", "--without-filters mcdata"), &out, &r->error) != 0) return r;
    write_file(r->data / "filters.dat", filter_table());
    const fs::path example = fs::path(MCSPEC_SOURCE_DIR) / "examples" / "hydrogen-envelope";
    for (const char* name : {"dica.dat", "comp.ind", "hydro.dat"}) r->inputs[name] = read_file(example / name);
    std::vector<std::string> dica = records(r->inputs["dica.dat"]);
    dica[1] = "    1    1";  // NP4 = 1 (10000 packets), ITT = 1
    r->inputs["dica.dat"] = join(dica);
    if (!shared_example().empty()) {
      for (const char* name : {"dica.dat", "comp.ind"}) r->shared_inputs[name] = read_file(shared_example() / name);
      std::vector<std::string> ia = records(r->shared_inputs["dica.dat"]);
      ia[1] = "    1    1";
      r->shared_inputs["dica.dat"] = join(ia);
    }
    return r;
  }();
  return *g;
}

// One case's run directory and data directory, fresh copies of the good ones, and
// the environment of the run.
struct Dirs {
  TempDir top{"mcspec-case"};
  fs::path run = top / "run";
  fs::path data = top / "mcdata";
  std::string env;  // assignments for env(1); MCDATA is set to data unless a case changes it
};

// ------------------------------------------------------------ mutations

// Replaces record n (1-based) of a file.
void set_record(const fs::path& p, std::size_t n, const std::string& text) {
  std::vector<std::string> r = records(read_file(p));
  ASSERT_LE(n, r.size()) << p;
  r[n - 1] = text;
  write_file(p, join(r));
}

// Replaces the k-th blank-separated value (1-based) of record n of a free-format file.
void set_value(const fs::path& p, std::size_t n, int k, const std::string& value) {
  std::vector<std::string> r = records(read_file(p));
  ASSERT_LE(n, r.size()) << p;
  std::string& rec = r[n - 1];
  std::size_t pos = 0;
  for (int v = 1;; ++v) {
    pos = rec.find_first_not_of(' ', pos);
    ASSERT_NE(pos, std::string::npos) << "record " << n << " of " << p << " has no value " << k;
    const std::size_t end = std::min(rec.find(' ', pos), rec.size());
    if (v == k) {
      rec.replace(pos, end - pos, value);
      break;
    }
    pos = end;
  }
  write_file(p, join(r));
}

// Overwrites columns first..first+text.size()-1 (1-based) of record n of a fixed-column file.
void set_columns(const fs::path& p, std::size_t n, std::size_t first, const std::string& text) {
  std::vector<std::string> r = records(read_file(p));
  ASSERT_LE(n, r.size()) << p;
  std::string& rec = r[n - 1];
  if (rec.size() < first - 1 + text.size()) rec.resize(first - 1 + text.size(), ' ');
  rec.replace(first - 1, text.size(), text);
  write_file(p, join(r));
}

// Keeps the first n records.
void keep_records(const fs::path& p, std::size_t n) {
  std::vector<std::string> r = records(read_file(p));
  r.resize(std::min(n, r.size()));
  write_file(p, join(r));
}

// Keeps the first n bytes (a file cut in the middle of a record).
void keep_bytes(const fs::path& p, std::size_t n) { write_file(p, read_file(p).substr(0, n)); }

void delete_record(const fs::path& p, std::size_t n) {
  std::vector<std::string> r = records(read_file(p));
  ASSERT_LE(n, r.size()) << p;
  r.erase(r.begin() + static_cast<long>(n - 1));
  write_file(p, join(r));
}

// A directory where the file should be.
void directory_instead(const fs::path& p) {
  fs::remove(p);
  fs::create_directory(p);
}

// Bytes that are no text: NULs, control characters, invalid UTF-8.
std::string garbage() {
  std::string g;
  unsigned x = 12345u;
  for (int i = 0; i < 600; ++i) {
    x = x * 1103515245u + 12345u;
    g.push_back(static_cast<char>((x >> 16) & 0xff));
  }
  return g;
}

// ------------------------------------------------------------ the cases

using Mutation = std::function<void(Dirs&)>;

struct Case {
  const char* name;
  Mutation mutate;
  const char* file;     // the name the message must contain
  long record = 0;      // and "record N" when not 0
  int field = 0;        // and "field N" when not 0
  const char* also = nullptr;  // a further text the message must contain
  bool type_ia = false;        // on the shared type Ia example and atomic data (skipped without them)
};

Mutation in_run(const char* file, std::function<void(const fs::path&)> f) {
  return [file, f](Dirs& d) { f(d.run / file); };
}
Mutation in_data(const char* file, std::function<void(const fs::path&)> f) {
  return [file, f](Dirs& d) { f(d.data / file); };
}
auto value(std::size_t rec, int k, std::string v) {
  return [rec, k, v](const fs::path& p) { set_value(p, rec, k, v); };
}
auto record(std::size_t rec, std::string v) {
  return [rec, v](const fs::path& p) { set_record(p, rec, v); };
}
auto columns(std::size_t rec, std::size_t first, std::string v) {
  return [rec, first, v](const fs::path& p) { set_columns(p, rec, first, v); };
}
auto text(std::string t) {
  return [t](const fs::path& p) { write_file(p, t); };
}
auto records_kept(std::size_t n) {
  return [n](const fs::path& p) { keep_records(p, n); };
}
auto bytes_kept(std::size_t n) {
  return [n](const fs::path& p) { keep_bytes(p, n); };
}
auto removed() {
  return [](const fs::path& p) { fs::remove(p); };
}
auto a_directory() {
  return [](const fs::path& p) { directory_instead(p); };
}


std::vector<Case> corpus() {
  std::vector<Case> c;
  // ---- "dica.dat": records 2, 4, 6, ... hold the values, the others are comments.
  c.push_back({"dica: empty file", in_run("dica.dat", text("")), "dica.dat"});
  c.push_back({"dica: missing", in_run("dica.dat", removed()), "dica.dat"});
  c.push_back({"dica: a directory", in_run("dica.dat", a_directory()), "dica.dat"});
  c.push_back({"dica: binary garbage", in_run("dica.dat", text(garbage())), "dica.dat"});
  c.push_back({"dica: truncated after record 9", in_run("dica.dat", records_kept(9)), "dica.dat"});
  c.push_back({"dica: cut inside the options", in_run("dica.dat", records_kept(21)), "dica.dat"});
  c.push_back({"dica: NP4 a word", in_run("dica.dat", value(2, 1, "ten")), "dica.dat", 2, 1});
  c.push_back({"dica: NP4 a real", in_run("dica.dat", value(2, 1, "1.5")), "dica.dat", 2, 1});
  c.push_back({"dica: NP4 zero", in_run("dica.dat", value(2, 1, "0")), "dica.dat", 2, 1});
  c.push_back({"dica: NP4 beyond 32 bits", in_run("dica.dat", value(2, 1, "99999999999")), "dica.dat", 2, 1});
  c.push_back({"dica: JS zero", in_run("dica.dat", value(4, 1, "0")), "dica.dat", 4, 1});
  c.push_back({"dica: JS above 85", in_run("dica.dat", value(4, 1, "86")), "dica.dat", 4, 1});
  c.push_back({"dica: KB above 502", in_run("dica.dat", value(4, 3, "503")), "dica.dat", 4, 3});
  c.push_back({"dica: XE1 above 1", in_run("dica.dat", value(4, 4, "1.5")), "dica.dat", 4, 4});
  c.push_back({"dica: XE1 NaN", in_run("dica.dat", value(4, 4, "NaN")), "dica.dat", 4, 4});
  c.push_back({"dica: LOG L infinite", in_run("dica.dat", value(6, 1, "Infinity")), "dica.dat", 6, 1});
  c.push_back({"dica: LOG L absurd", in_run("dica.dat", value(6, 1, "96.0")), "dica.dat", 6, 0});
  c.push_back({"dica: VPH negative", in_run("dica.dat", value(6, 2, "-6500.0")), "dica.dat", 6, 2});
  c.push_back({"dica: VPH overflows", in_run("dica.dat", value(6, 2, "1e400")), "dica.dat", 6, 2});
  c.push_back({"dica: TB a word", in_run("dica.dat", value(6, 3, "hot")), "dica.dat", 6, 3});
  c.push_back({"dica: DAY zero", in_run("dica.dat", value(8, 1, "0")), "dica.dat", 8, 1});
  c.push_back({"dica: DAY absurd", in_run("dica.dat", value(8, 1, "1e-30")), "dica.dat", 0, 0});
  c.push_back({"dica: ISEED beyond 32 bits", in_run("dica.dat", value(12, 1, "12345678901")), "dica.dat", 12, 1});
  c.push_back({"dica: CHL a word", in_run("dica.dat", value(14, 1, "twenty")), "dica.dat", 14, 1});
  c.push_back({"dica: WVM2 below WVM1", in_run("dica.dat", value(16, 2, "0.2")), "dica.dat", 16, 2});
  c.push_back({"dica: KG zero", in_run("dica.dat", value(16, 3, "0")), "dica.dat", 16, 3});
  c.push_back({"dica: KG in exponent form", in_run("dica.dat", value(16, 3, "1e3")), "dica.dat", 16, 3});
  c.push_back({"dica: empty observed band", [](Dirs& d) {
                 set_value(d.run / "dica.dat", 18, 2, "3000.0");
                 set_value(d.run / "dica.dat", 22, 1, "0");
               },
               "dica.dat", 18, 0});
  c.push_back({"dica: top hat with WTH1 zero", [](Dirs& d) {
                 set_value(d.run / "dica.dat", 20, 1, "0.0");
                 set_value(d.run / "dica.dat", 22, 3, "0");
               },
               "dica.dat", 20, 1});
  c.push_back({"dica: empty value between commas", in_run("dica.dat", record(10, "  0.00,,0.00")), "dica.dat", 10, 2});

  // ---- "comp.ind": one element per record, Z = 1, 2, ...
  c.push_back({"comp: empty file", in_run("comp.ind", text("")), "comp.ind"});
  c.push_back({"comp: missing", in_run("comp.ind", removed()), "comp.ind"});
  c.push_back({"comp: a directory", in_run("comp.ind", a_directory()), "comp.ind"});
  c.push_back({"comp: binary garbage", in_run("comp.ind", text(garbage())), "comp.ind"});
  c.push_back({"comp: cut inside a record", in_run("comp.ind", bytes_kept(18)), "comp.ind"});
  c.push_back({"comp: fraction negative", in_run("comp.ind", value(1, 3, "-0.70")), "comp.ind", 1, 3});
  c.push_back({"comp: fraction NaN", in_run("comp.ind", value(2, 3, "NaN")), "comp.ind", 2, 3});
  c.push_back({"comp: fraction overflows", in_run("comp.ind", value(2, 3, "1e999")), "comp.ind", 2, 3});
  c.push_back({"comp: Z a word", in_run("comp.ind", value(1, 1, "one")), "comp.ind", 1, 1});
  c.push_back({"comp: all fractions zero", [](Dirs& d) {
                 set_value(d.run / "comp.ind", 1, 3, "0.0");
                 set_value(d.run / "comp.ind", 2, 3, "0.0");
               },
               "comp.ind"});
  c.push_back({"comp: fraction for an element without data", in_run("comp.ind", [](const fs::path& p) {
                 std::string t;
                 for (int z = 1; z <= 57; ++z) t += std::to_string(z) + " X " + (z == 57 ? "0.1" : "0.0") + "\n";
                 write_file(p, "1 H 0.7\n" + t.substr(t.find('\n') + 1));
               }),
               "comp.ind", 57, 3});
  c.push_back({"comp: fractions overflow their sum", in_run("comp.ind", text("1 H 1e308\n2 He 1e308\n")), "comp.ind"});
  c.push_back({"comp: H record deleted", in_run("comp.ind", [](const fs::path& p) { delete_record(p, 1); }),
               "comp.ind", 1, 1});
  c.push_back({"comp: wrong symbol", in_run("comp.ind", value(1, 2, "He")), "comp.ind", 1, 2});

  // ---- "hydro.dat": LMAX, DT1SEC; then LMAX points.
  c.push_back({"hydro: empty file", in_run("hydro.dat", text("")), "hydro.dat"});
  c.push_back({"hydro: binary garbage", in_run("hydro.dat", text(garbage())), "hydro.dat"});
  c.push_back({"hydro: fewer points than LMAX", in_run("hydro.dat", records_kept(100)), "hydro.dat"});
  c.push_back({"hydro: LMAX one", in_run("hydro.dat", value(1, 1, "1")), "hydro.dat", 1, 1});
  c.push_back({"hydro: LMAX above 300", in_run("hydro.dat", value(1, 1, "301")), "hydro.dat", 1, 1});
  c.push_back({"hydro: time zero", in_run("hydro.dat", value(1, 2, "0.0")), "hydro.dat", 1, 2});
  c.push_back({"hydro: radius zero", in_run("hydro.dat", value(5, 3, "0.0")), "hydro.dat", 5, 3});
  c.push_back({"hydro: radius infinite", in_run("hydro.dat", value(5, 3, "Infinity")), "hydro.dat", 5, 3});
  c.push_back({"hydro: radii decreasing", in_run("hydro.dat", value(6, 3, "1.0e12")), "hydro.dat", 6, 3});
  c.push_back({"hydro: density negative", in_run("hydro.dat", value(7, 4, "-8.192E-08")), "hydro.dat", 7, 4});
  c.push_back({"hydro: density NaN", in_run("hydro.dat", value(7, 4, "NaN")), "hydro.dat", 7, 4});
  c.push_back({"hydro: density a word", in_run("hydro.dat", value(7, 4, "dense")), "hydro.dat", 7, 4});

  // ---- the data directory
  c.push_back({"nbba: missing", in_data("nbba.ind", removed()), "nbba.ind"});
  c.push_back({"nbba: a directory", in_data("nbba.ind", a_directory()), "nbba.ind"});
  c.push_back({"nbba: truncated", in_data("nbba.ind", records_kept(3)), "nbba.ind"});
  c.push_back({"nbba: empty", in_data("nbba.ind", text("")), "nbba.ind"});
  c.push_back({"nbia: atomic weight zero", in_data("nbia.ind", columns(1, 7, "   0.0000")), "nbia.ind", 1, 3});
  c.push_back({"nbia: atomic weight a word", in_data("nbia.ind", columns(2, 7, "   helium")), "nbia.ind", 2, 3});
  c.push_back({"nbia: truncated", in_data("nbia.ind", records_kept(1)), "nbia.ind"});
  c.push_back({"nbia: binary garbage", in_data("nbia.ind", text(garbage())), "nbia.ind"});
  c.push_back({"ihea: potential a word", in_data("ihea.ind", columns(2, 7, "  helium")), "ihea.ind", 2, 3});
  c.push_back({"ihea: potential overflows", in_data("ihea.ind", columns(1, 7, "9.99+999")), "ihea.ind", 1, 3});
  c.push_back({"ihea: zeta a word", in_data("ihea.ind", columns(58, 7, "  zeta")), "ihea.ind", 58, 3});
  c.push_back({"ihea: potential negative", in_data("ihea.ind", columns(1, 7, "  -1.000")), "ihea.ind", 1, 3});
  c.push_back({"ihea: zeta above one", in_data("ihea.ind", columns(57, 7, "  999.9")), "ihea.ind", 57, 3});
  c.push_back({"ihea: truncated", in_data("ihea.ind", records_kept(60)), "ihea.ind"});
  c.push_back({"ihea: empty", in_data("ihea.ind", text("")), "ihea.ind"});
  c.push_back({"ihea: binary garbage", in_data("ihea.ind", text(garbage())), "ihea.ind"});
  c.push_back({"varn1: atomic number zero", in_data("lines/varn1.new", columns(4, 1, "       0")),
               "varn1.new", 4, 1});
  c.push_back({"varn1: stage ten", in_data("lines/varn1.new", columns(4, 9, "  10")), "varn1.new", 4, 2});
  c.push_back({"varn1: negative level count", in_data("lines/varn1.new", columns(4, 13, "        -1")),
               "varn1.new", 4, 3});
  c.push_back({"varn1: energy a word", in_data("lines/varn1.new", columns(7, 10, "       energy")),
               "varn1.new", 7, 2});
  c.push_back({"varn1: without its closing block", in_data("lines/varn1.new", records_kept(30)), "varn1.new"});
  c.push_back({"varn1: empty", in_data("lines/varn1.new", text("")), "varn1.new"});
  c.push_back({"varn1: a directory", in_data("lines/varn1.new", a_directory()), "varn1.new"});
  c.push_back({"nama: weight a word", in_data("nama.ind", columns(1, 7, "   x")), "nama.ind", 1, 3});
  c.push_back({"nama: weight zero", in_data("nama.ind", columns(1, 11, "   0")), "nama.ind", 1, 4});
  c.push_back({"nama: truncated", in_data("nama.ind", records_kept(20)), "nama.ind", 0, 0});
  c.push_back({"nama: missing", in_data("nama.ind", removed()), "nama.ind"});
  c.push_back({"varn2: level outside the ion", in_data("lines/varn2", columns(5, 1, "    99")), "varn2", 5, 1});
  c.push_back({"varn2: upper level below the lower", in_data("lines/varn2", columns(5, 41, "     2     3")), "varn2", 5,
               7});
  c.push_back({"varn2: more lines than a block holds", in_data("lines/varn2", columns(3, 13, "    400001")),
               "varn2", 3, 3});
  c.push_back({"varn2: log gf a word", in_data("lines/varn2", columns(5, 13, "  strong")), "varn2", 5, 3});
  c.push_back({"varn2: without its closing block", in_data("lines/varn2", records_kept(40)), "varn2", 0, 0});
  c.push_back({"varn2: binary garbage", in_data("lines/varn2", text(garbage())), "varn2", 0, 0});
  c.push_back({"filters: row off the grid", in_data("filters.dat", columns(5, 1, "   3210.0")), "filters.dat", 5, 1});
  c.push_back({"filters: truncated", in_data("filters.dat", records_kept(50)), "filters.dat", 0, 0});
  c.push_back({"filters: transmission a word", in_data("filters.dat", columns(9, 10, "   black")), "filters.dat", 9, 2});
  c.push_back({"filters: a directory", in_data("filters.dat", a_directory()), "filters.dat"});
  c.push_back({"rhw7: default profile empty", [](Dirs& d) {
                 fs::remove(d.run / "hydro.dat");
                 write_file(d.data / "rhw7.dat", "");
               },
               "rhw7.dat"});
  c.push_back({"rhw7: default profile missing", [](Dirs& d) {
                 fs::remove(d.run / "hydro.dat");
                 fs::remove(d.data / "rhw7.dat");
               },
               "rhw7.dat"});

  // ---- the environment
  c.push_back({"MCDATA unset", [](Dirs& d) { d.env = "-u MCDATA"; }, "MCDATA", 0, 0, "not set"});
  c.push_back({"MCDATA empty", [](Dirs& d) { d.env = "MCDATA="; }, "MCDATA", 0, 0, "empty"});
  c.push_back({"MCDATA names no directory", [](Dirs& d) { d.env = "MCDATA='" + (d.top / "nowhere").string() + "'"; },
               "MCDATA", 0, 0, "does not exist"});
  c.push_back({"MCDATA names a file", [](Dirs& d) { d.env = "MCDATA='" + (d.data / "nbba.ind").string() + "'"; },
               "MCDATA", 0, 0, "not a directory"});

  // ---- the type Ia example on the shared atomic data (real-format data files)
  Case si{"type Ia: the Si record deleted", in_run("comp.ind", [](const fs::path& p) { delete_record(p, 14); }),
          "comp.ind", 14, 1};
  Case logl{"type Ia: LOG L absurd", in_run("dica.dat", value(6, 1, "96.0")), "dica.dat", 6, 0};
  Case cut{"type Ia: line list cut", in_data("lines/varn2", bytes_kept(200000)), "varn2", 0, 0};
  for (Case* k : {&si, &logl, &cut}) {
    k->type_ia = true;
    c.push_back(*k);
  }

  // ---- earlier results in the run directory
  c.push_back({"an earlier spct.dat", in_run("spct.dat", text("an earlier result\n")), "spct.dat"});
  c.push_back({"an earlier stst.dat", in_run("stst.dat", text("an earlier run log\n")), "stst.dat"});
  c.push_back({"a directory named sbib.dat", in_run("sbib.dat", a_directory()), "sbib.dat"});
  return c;
}

// ------------------------------------------------------------ the checks

// Every file and directory under root with its contents ("<dir>" for a directory).
std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> s;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string rel = fs::relative(e.path(), root).string();
    s[rel] = e.is_directory() ? "<dir>" : read_file(e.path());
  }
  return s;
}

bool names(const std::string& message, const char* what, long n) {
  const std::string key = std::string(what) + " " + std::to_string(n);
  for (std::size_t pos = message.find(key); pos != std::string::npos; pos = message.find(key, pos + 1)) {
    const std::size_t after = pos + key.size();
    if (after == message.size() || !std::isdigit(static_cast<unsigned char>(message[after]))) return true;
  }
  return false;
}

std::size_t count(const std::string& s, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t pos = s.find(part); pos != std::string::npos; pos = s.find(part, pos + 1)) ++n;
  return n;
}

// Control characters and bytes that are no ASCII as \ooo, for the report.
std::string printable(const std::string& s) {
  std::string p;
  for (const char ch : s) {
    const auto u = static_cast<unsigned char>(ch);
    if (ch == '\n' || (u >= 32 && u < 127)) {
      p += ch;
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\%03o", u);
      p += buf;
    }
  }
  return p;
}

// The failed checks of one case (empty: the case passes).
std::vector<std::string> run_case(const Case& k) {
  std::vector<std::string> failed;
  Dirs d;
  fs::create_directory(d.run);
  if (k.type_ia) {
    if (good().shared_inputs.empty()) return {"skipped: the shared type Ia example (../shared) is not present"};
    fs::copy(shared_mcdata(), d.data, fs::copy_options::recursive);
    for (const auto& e : fs::recursive_directory_iterator(d.data))  // the shared copy is read-only
      fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add);
    for (const auto& [name, text] : good().shared_inputs) write_file(d.run / name, text);
  } else {
    fs::copy(good().data, d.data, fs::copy_options::recursive);
    for (const auto& [name, text] : good().inputs) write_file(d.run / name, text);
  }
  d.env = "MCDATA='" + d.data.string() + "'";
  k.mutate(d);
  if (testing::Test::HasFatalFailure()) return {"the mutation could not be applied"};

  const auto data_before = snapshot(d.data);
  const auto run_before = snapshot(d.run);
  std::string out, err;
  const int status = run_in(d.run, d.env, MCSPEC_BINARY, &out, &err);

  if (status == 0) failed.push_back("exit status 0");
  const std::size_t messages = count(err, ": input error:") + count(err, ": run stopped:") + count(err, ": internal error:");
  if (messages != 1) failed.push_back(std::to_string(messages) + " error messages");
  if (err.find("internal error") != std::string::npos) failed.push_back("an internal error");
  if (err.find(k.file) == std::string::npos) failed.push_back(std::string("the message does not name ") + k.file);
  if (k.record > 0 && !names(err, "record", k.record))
    failed.push_back("the message does not name record " + std::to_string(k.record));
  if (k.also != nullptr && err.find(k.also) == std::string::npos)
    failed.push_back(std::string("the message does not say \"") + k.also + "\"");
  if (k.field > 0 && !names(err, "field", k.field))
    failed.push_back("the message does not name field " + std::to_string(k.field));
  if (snapshot(d.data) != data_before) failed.push_back("the data directory changed");
  const auto run_after = snapshot(d.run);
  for (const auto& [name, text] : run_before) {
    const auto it = run_after.find(name);
    if (it == run_after.end() || it->second != text) failed.push_back("the earlier file " + name + " was changed");
  }
  std::string left;
  for (const char* name : kOutputFiles)
    if (!run_before.count(name) && fs::exists(fs::symlink_status(d.run / name))) left += std::string(" ") + name;
  if (!left.empty()) failed.push_back("outputs left in the run directory:" + left);
  if (!failed.empty()) failed.push_back("status " + std::to_string(status) + ", standard error: " + printable(err));
  return failed;
}

TEST(Corpus, GoodRunSucceeds) {
  ASSERT_TRUE(good().error.empty()) << good().error;
  Dirs d;
  fs::create_directory(d.run);
  for (const auto& [name, text] : good().inputs) write_file(d.run / name, text);
  std::string out, err;
  ASSERT_EQ(run_in(d.run, "MCDATA='" + good().data.string() + "'", MCSPEC_BINARY, &out, &err), 0) << err;
  EXPECT_TRUE(fs::exists(d.run / "spct.dat"));
}

TEST(Corpus, EveryMalformedInputIsRefusedCleanly) {
  ASSERT_TRUE(good().error.empty()) << good().error;
  const std::vector<Case> cases = corpus();
  EXPECT_GE(cases.size(), 60u);
  const auto start = std::chrono::steady_clock::now();
  int skipped = 0;
  for (const Case& k : cases) {
    const std::vector<std::string> failed = run_case(k);
    if (failed.size() == 1 && failed[0].starts_with("skipped")) {
      std::printf("corpus: case \"%s\" %s\n", k.name, failed[0].c_str());
      ++skipped;
      continue;
    }
    std::string report;
    for (const std::string& f : failed) report += "\n  " + f;
    EXPECT_TRUE(failed.empty()) << "case \"" << k.name << "\":" << report;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("corpus: %zu cases (%d skipped) in %.1f s\n", cases.size(), skipped, seconds);
}

}  // namespace
