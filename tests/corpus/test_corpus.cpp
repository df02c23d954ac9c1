// A corpus of malformed inputs, end to end: each case spoils one thing of a good run
// (a run directory with the hydrogen example at 10000 packets, the data directory
// written by mkdata) and runs the program. Every case must end with a non-zero status
// and one error message naming the file (and the record and field where there is
// one), leave the data directory and every file that was there before untouched, and
// leave no output file in the run directory, so that the corrected run can start.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "support/models.hpp"
#include "support/run_dir.hpp"

using namespace mcspec::test;

namespace {

// The data directory (with a filter table of four triangular bands on the grid the
// program requires, 3000..8400 A every 50 A) and the example's inputs, with 10000
// packets and one final pass; made once.
struct GoodRun {
  RunDir made{"mcspec-corpus"};
  fs::path data = made / "mcdata";
  std::map<std::string, std::string> inputs, shared_inputs;  // shared: the type Ia example, when ../shared is there
};

const GoodRun& good() {
  static const std::unique_ptr<GoodRun> g = [] {
    auto r = std::make_unique<GoodRun>();
    if (r->made.run("", tool("mkdata", "--without-filters mcdata")) != 0) return r;
    write_file(r->data / "filters.dat", filters_text());
    const auto load = [](const fs::path& example, std::map<std::string, std::string>& to, bool hydro) {
      RunDir d;
      d.example(example).packets(1, 1);
      for (const std::string& name : d.names())
        if (hydro || name != "hydro.dat") to[name] = d.read(name);
    };
    load(kSourceDir / "examples/hydrogen-envelope", r->inputs, true);
    if (!shared_example().empty()) load(shared_example(), r->shared_inputs, false);
    return r;
  }();
  return *g;
}

// One case's run directory, the data directory beside it ("../mcdata") and the
// assignments for env(1) of its run.
struct Dirs : RunDir {
  Dirs() : RunDir("mcspec-case") {}
  fs::path data = beside("mcdata");
  std::string env = mcdata(data);
};

// ------------------------------------------------------------ mutations
// A file is named relative to the run directory; "mcdata/..." is in the data directory.
using Mutation = std::function<void(Dirs&)>;

Mutation text(std::string f, std::string t) { return [=](Dirs& d) { write_file(d / f, t); }; }
Mutation gone(std::string f) { return [=](Dirs& d) { fs::remove(d / f); }; }
Mutation a_dir(std::string f) {
  return [=](Dirs& d) { fs::remove(d / f), fs::create_directory(d / f); };
}
// Changes the records of a file.
Mutation edit(std::string f, std::function<void(std::vector<std::string>&)> g) {
  return [=](Dirs& d) {
    std::vector<std::string> r = records(read_file(d / f));
    g(r);
    write_file(d / f, join_records(r));
  };
}
// Replaces the k-th blank-separated value (1-based) of record n of a free-format file.
Mutation value(std::string f, std::size_t n, int k, std::string v) {
  return edit(f, [=](std::vector<std::string>& r) {
    ASSERT_LE(n, r.size()) << f;
    std::string& rec = r[n - 1];
    std::size_t pos = 0;
    for (int i = 1;; ++i) {
      pos = rec.find_first_not_of(' ', pos);
      ASSERT_NE(pos, std::string::npos) << "record " << n << " of " << f << " has no value " << k;
      const std::size_t end = std::min(rec.find(' ', pos), rec.size());
      if (i == k) return void(rec.replace(pos, end - pos, v));
      pos = end;
    }
  });
}
// Overwrites columns first.. (1-based) of record n of a fixed-column file.
Mutation cols(std::string f, std::size_t n, std::size_t first, std::string v) {
  return edit(f, [=](std::vector<std::string>& r) {
    ASSERT_LE(n, r.size()) << f;
    if (r[n - 1].size() < first - 1 + v.size()) r[n - 1].resize(first - 1 + v.size(), ' ');
    r[n - 1].replace(first - 1, v.size(), v);
  });
}
Mutation keep(std::string f, std::size_t n) {
  return edit(f, [=](std::vector<std::string>& r) { r.resize(std::min(n, r.size())); });
}
Mutation drop(std::string f, std::size_t n) { return edit(f, [=](std::vector<std::string>& r) { r.erase(r.begin() + long(n - 1)); }); }
Mutation bytes(std::string f, std::size_t n) {
  return [=](Dirs& d) { write_file(d / f, read_file(d / f).substr(0, n)); };
}
Mutation both(Mutation a, Mutation b) { return [=](Dirs& d) { a(d), b(d); }; }
Mutation env(std::string e) { return [=](Dirs& d) { d.env = e; }; }
Mutation also_env(std::string e) { return [=](Dirs& d) { d.env += " " + e; }; }

// Bytes that are no text: NULs, control characters, invalid UTF-8.
std::string garbage() {
  std::string g;
  for (unsigned i = 0, x = 12345u; i < 600; ++i) g.push_back(static_cast<char>(((x = x * 1103515245u + 12345u) >> 16) & 0xff));
  return g;
}

// ------------------------------------------------------------ the cases

struct Case {
  const char* name;
  Mutation mutate;
  const char* file;            // the name the message must contain
  long record = 0;             // and "record N" when not 0
  int field = 0;               // and "field N" when not 0
  const char* also = nullptr;  // a further text the message must contain
  bool type_ia = false;        // on the shared type Ia example and atomic data (skipped without them)
};

std::vector<Case> corpus() {
  const std::string G = garbage(), nowhere = "MCDATA=../nowhere", a_file = "MCDATA=../mcdata/nbba.ind";
  std::string no_data = "1 H 0.7\n";  // a fraction for element 57, which has no data
  for (int z = 2; z <= 57; ++z) no_data += std::to_string(z) + " X " + (z == 57 ? "0.1" : "0.0") + "\n";
  const char *D = "dica.dat", *C = "comp.ind", *H = "hydro.dat";
  const std::string M = "../mcdata/", NB = M + "nbba.ind", NI = M + "nbia.ind", IH = M + "ihea.ind", NA = M + "nama.ind",
                    V1 = M + "lines/varn1.new", V2 = M + "lines/varn2", FI = M + "filters.dat", RH = M + "rhw7.dat";
  // clang-format off
  return {
    // "dica.dat": records 2, 4, 6, ... hold the values, the others are comments.
    {"dica: empty file", text(D, ""), D}, {"dica: missing", gone(D), D}, {"dica: a directory", a_dir(D), D},
    {"dica: binary garbage", text(D, G), D}, {"dica: truncated after record 9", keep(D, 9), D},
    {"dica: NP4 a word", value(D, 2, 1, "ten"), D, 2, 1}, {"dica: NP4 zero", value(D, 2, 1, "0"), D, 2, 1},
    {"dica: NP4 beyond 32 bits", value(D, 2, 1, "99999999999"), D, 2, 1},
    {"dica: JS above 85", value(D, 4, 1, "86"), D, 4, 1}, {"dica: KB above 502", value(D, 4, 3, "503"), D, 4, 3},
    {"dica: XE1 NaN", value(D, 4, 4, "NaN"), D, 4, 4}, {"dica: LOG L absurd", value(D, 6, 1, "96.0"), D, 6, 0},
    {"dica: VPH overflows", value(D, 6, 2, "1e400"), D, 6, 2}, {"dica: DAY absurd", value(D, 8, 1, "1e-30"), D},
    {"dica: ISEED beyond 32 bits", value(D, 12, 1, "12345678901"), D, 12, 1},
    {"dica: KG in exponent form", value(D, 16, 3, "1e3"), D, 16, 3},
    {"dica: top hat with WTH1 zero", both(value(D, 20, 1, "0.0"), value(D, 22, 3, "0")), D, 20, 1},
    {"dica: empty value between commas", edit(D, [](auto& r) { r[9] = "  0.00,,0.00"; }), D, 10, 2},
    // values that used to give Inf magnitudes and NaN colours, or non-finite spectra
    {"dica: DMOD 1e300", value(D, 8, 2, "1e300"), D, 8, 2}, {"dica: DMOD -1e300", value(D, 8, 2, "-1e300"), D, 8, 2},
    {"dica: ZRED -1", value(D, 8, 3, "-1"), D, 8, 3}, {"dica: EBVG 1e300", value(D, 10, 1, "1e300"), D, 10, 1},
    {"dica: EBVH -1e300", value(D, 10, 2, "-1e300"), D, 10, 2},
    {"dica: WVM1 1e-300", value(D, 16, 1, "1e-300"), D, 16, 1},
    {"dica: WTH2 1e-300", both(value(D, 20, 2, "1e-300"), value(D, 22, 3, "0")), D, 20, 2},
    {"dica: LOG L(WV1,WV2) 60", both(value(D, 18, 3, "60"), value(D, 22, 1, "0")), D, 18, 3},
    // "comp.ind": one element per record, Z = 1, 2, ...
    {"comp: empty file", text(C, ""), C}, {"comp: binary garbage", text(C, G), C},
    {"comp: cut inside a record", bytes(C, 18), C}, {"comp: fraction negative", value(C, 1, 3, "-0.70"), C, 1, 3},
    {"comp: Z a word", value(C, 1, 1, "one"), C, 1, 1},
    {"comp: all fractions zero", both(value(C, 1, 3, "0.0"), value(C, 2, 3, "0.0")), C},
    {"comp: fraction for an element without data", text(C, no_data), C, 57, 3},
    {"comp: fractions overflow their sum", text(C, "1 H 1e308\n2 He 1e308\n"), C},
    {"comp: H record deleted", drop(C, 1), C, 1, 1}, {"comp: wrong symbol", value(C, 1, 2, "He"), C, 1, 2},
    // "hydro.dat": LMAX, DT1SEC; then LMAX points.
    {"hydro: empty file", text(H, ""), H}, {"hydro: binary garbage", text(H, G), H},
    {"hydro: fewer points than LMAX", keep(H, 100), H}, {"hydro: LMAX one", value(H, 1, 1, "1"), H, 1, 1},
    {"hydro: LMAX above 300", value(H, 1, 1, "301"), H, 1, 1}, {"hydro: time zero", value(H, 1, 2, "0.0"), H, 1, 2},
    {"hydro: radius zero", value(H, 5, 3, "0.0"), H, 5, 3},
    {"hydro: radius infinite", value(H, 5, 3, "Infinity"), H, 5, 3},
    {"hydro: radii decreasing", value(H, 6, 3, "1.0e12"), H, 6, 3},
    {"hydro: density negative", value(H, 7, 4, "-8.192E-08"), H, 7, 4},
    {"hydro: density a word", value(H, 7, 4, "dense"), H, 7, 4},
    // the data directory
    {"nbba: truncated", keep(NB, 3), "nbba.ind"}, {"nbba: empty", text(NB, ""), "nbba.ind"},
    {"nbba: binary garbage", text(NB, G), "nbba.ind"},
    {"nbba: control bytes for a symbol", cols(NB, 2, 4, "\x01\xff\x7f"), "nbba.ind", 2, 2},
    {"nbba: a stage label wrong", cols(NB, 5, 6, "XX   "), "nbba.ind", 5, 2},
    {"nbia: the row of another element", cols(NI, 2, 1, "  3 Li"), "nbia.ind", 2, 1},
    {"ihea: the symbol of another element", cols(IH, 3, 4, "Be "), "ihea.ind", 3, 2},
    {"nbia: atomic weight zero", cols(NI, 1, 7, "   0.0000"), "nbia.ind", 1, 3},
    {"nbia: atomic weight a word", cols(NI, 2, 7, "   helium"), "nbia.ind", 2, 3},
    {"nbia: truncated", keep(NI, 1), "nbia.ind"},
    {"ihea: potential a word", cols(IH, 2, 7, "  helium"), "ihea.ind", 2, 3},
    {"ihea: potential overflows", cols(IH, 1, 7, "9.99+999"), "ihea.ind", 1, 3},
    {"ihea: potential negative", cols(IH, 1, 7, "  -1.000"), "ihea.ind", 1, 3},
    // a potential that is not positive made the ionisation balance NaN
    {"ihea: potential zero", cols(IH, 1, 7, "   0.000"), "ihea.ind", 1, 3},
    {"ihea: potential NaN", cols(IH, 1, 7, "     nan"), "ihea.ind", 1, 3},
    {"ihea: zeta above one", cols(IH, 57, 7, "  999.9"), "ihea.ind", 57, 3},
    {"ihea: truncated", keep(IH, 60), "ihea.ind"},
    {"varn1: atomic number zero", cols(V1, 4, 1, "       0"), "varn1.new", 4, 1},
    {"varn1: stage ten", cols(V1, 4, 9, "  10"), "varn1.new", 4, 2},
    {"varn1: negative level count", cols(V1, 4, 13, "        -1"), "varn1.new", 4, 3},
    {"varn1: energy a word", cols(V1, 7, 10, "       energy"), "varn1.new", 7, 2},
    {"varn1: without its closing block", keep(V1, 30), "varn1.new"},
    {"nama: weight a word", cols(NA, 1, 7, "   x"), "nama.ind", 1, 3},
    {"nama: weight zero", cols(NA, 1, 11, "   0"), "nama.ind", 1, 4}, {"nama: truncated", keep(NA, 20), "nama.ind"},
    {"nama: missing", gone(NA), "nama.ind", 0, 0, "partition-function data"},
    {"varn2: level outside the ion", cols(V2, 5, 1, "    99"), "varn2", 5, 1},
    {"varn2: upper level below the lower", cols(V2, 5, 41, "     2     3"), "varn2", 5, 7},
    {"varn2: more lines than a block holds", cols(V2, 3, 13, "    400001"), "varn2", 3, 3},
    {"varn2: log gf a word", cols(V2, 5, 13, "  strong"), "varn2", 5, 3},
    {"varn2: without its closing block", keep(V2, 40), "varn2"}, {"varn2: binary garbage", text(V2, G), "varn2"},
    {"filters: row off the grid", cols(FI, 5, 1, "   3210.0"), "filters.dat", 5, 1},
    {"filters: truncated", keep(FI, 50), "filters.dat"},
    {"filters: transmission a word", cols(FI, 9, 10, "   black"), "filters.dat", 9, 2},
    {"rhw7: default profile empty", both(gone(H), text(RH, "")), "rhw7.dat"},
    {"rhw7: default profile missing", both(gone(H), gone(RH)), "rhw7.dat"},
    // layered ejecta: zones.dat beside comp.ind; a composition.dat left by an earlier run
    {"zones: beside comp.ind", text("zones.dat", "v_outer H\n50000 1\n"), "\"zones.dat\"", 0, 0, "\"comp.ind\""},
    {"zones: an earlier composition.dat", both(both(gone(C), text("zones.dat", "v_outer H\n50000 1\n")),
     text("composition.dat", "")), "\"composition.dat\": output file already exists"},
    // the environment
    {"MCDATA unset", env("-u MCDATA"), "MCDATA", 0, 0, "not set"},
    {"MCDATA empty", env("MCDATA="), "MCDATA", 0, 0, "empty"},
    {"MCDATA blank", env("MCDATA='   '"), "MCDATA", 0, 0, "MCDATA=\"   \" is empty"},
    {"MCDATA names no directory", env(nowhere), "MCDATA", 0, 0, "does not exist"},
    {"MCDATA names a file", env(a_file), "MCDATA", 0, 0, "not a directory"},
    {"MCDATA longer than PATH_MAX", env("MCDATA=/" + std::string(5000, 'x')), "MCDATA", 0, 0, "5001 characters long"},
    // the variables of the parallel runs (their values: base Parallel)
    {"MCSPEC_THREADS a word", also_env("MCSPEC_THREADS=two"), "MCSPEC_THREADS"},
    {"MCSPEC_STREAMS yes", also_env("MCSPEC_STREAMS=yes"), "MCSPEC_STREAMS"},
    {"MCSPEC_ION_SPECTRUM on", also_env("MCSPEC_ION_SPECTRUM=on"), "MCSPEC_ION_SPECTRUM"},
    {"MCSPEC_PACKET_RAMP zero", also_env("MCSPEC_PACKET_RAMP=0"), "MCSPEC_PACKET_RAMP"},
    // a radiation field to start from with a dilution factor above 1
    {"warmstart: W above one", text("warmstart.dat", "# TB\n12000\n1 1e4 1e4 1.5 9e3\n"), "\"warmstart.dat\", record 3, field 4"},
    // a write failing during the set-up (the test hook of the output files)
    {"stst.dat cannot be written", also_env("MCSPEC_FAIL_WRITE=stst.dat:1"), "stst.dat", 0, 0, "No space left on device"},
    // the type Ia example on the shared atomic data (real-format data files)
    {"type Ia: the Si record deleted", drop(C, 14), C, 14, 1, nullptr, true},
    {"type Ia: line list cut", bytes(V2, 200000), "varn2", 0, 0, nullptr, true},
    // the lowest boundary temperature for Na (5.139 eV): 107.9 K, log L 1.84 (e2e
    // BoundaryTemperature); the refusal comes after the atomic data are read
    {"type Ia: boundary below the lowest temperature", value(D, 6, 1, "1.80"), D, 6, 1, "the boundary temperature", true},
    // earlier results in the run directory
    {"an earlier spct.dat", text("spct.dat", "an earlier result\n"), "spct.dat"},
    {"a directory named sbib.dat", a_dir("sbib.dat"), "sbib.dat"},
  };
  // clang-format on
}

// ------------------------------------------------------------ the checks

// Every file and directory under root with its contents ("<dir>" for a directory).
std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> s;
  for (const auto& e : fs::recursive_directory_iterator(root))
    s[fs::relative(e.path(), root).string()] = e.is_directory() ? "<dir>" : read_file(e.path());
  return s;
}

// Whether message has "<what> <n>" not followed by a further digit.
bool names(const std::string& message, const char* what, long n) {
  const std::string key = std::string(what) + " " + std::to_string(n);
  for (std::size_t p = message.find(key); p != std::string::npos; p = message.find(key, p + 1))
    if (p + key.size() == message.size() || !std::isdigit(static_cast<unsigned char>(message[p + key.size()]))) return true;
  return false;
}

std::size_t count(const std::string& s, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t p = s.find(part); p != std::string::npos; p = s.find(part, p + 1)) ++n;
  return n;
}

// The failed checks of one case (empty: the case passes).
std::vector<std::string> run_case(const Case& k) {
  Dirs d;
  if (k.type_ia && good().shared_inputs.empty()) return {"skipped: the shared type Ia example (../shared) is not present"};
  fs::copy(k.type_ia ? shared_mcdata() : good().data, d.data, fs::copy_options::recursive);
  for (const auto& e : fs::recursive_directory_iterator(d.data))  // the shared copy is read-only
    fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add);
  d.files(k.type_ia ? good().shared_inputs : good().inputs);
  k.mutate(d);
  if (testing::Test::HasFatalFailure()) return {"the mutation could not be applied"};

  const auto data_before = snapshot(d.data), run_before = snapshot(d.path());
  const int status = d.run(d.env);
  const std::string& err = d.err;
  std::vector<std::string> failed;
  const auto check = [&](bool ok, const std::string& what) {
    if (!ok) failed.push_back(what);
  };
  check(status != 0, "exit status 0");
  const std::size_t messages = count(err, ": input error:") + count(err, ": run stopped:") + count(err, ": internal error:");
  check(messages == 1, std::to_string(messages) + " error messages");
  check(err.find("internal error") == std::string::npos, "an internal error");
  check(err.find(k.file) != std::string::npos, std::string("the message does not name ") + k.file);
  check(k.record == 0 || names(err, "record", k.record), "the message does not name record " + std::to_string(k.record));
  check(k.field == 0 || names(err, "field", k.field), "the message does not name field " + std::to_string(k.field));
  check(k.also == nullptr || err.find(k.also) != std::string::npos, std::string("the message does not say ") + (k.also ? k.also : ""));
  check(snapshot(d.data) == data_before, "the data directory changed");
  auto run_after = snapshot(d.path());  // outputs set aside in an incomplete-* directory are no hindrance
  std::erase_if(run_after, [](const auto& e) { return e.first.starts_with("incomplete-"); });
  check(run_after == run_before, "files of the run directory were changed, made or left");
  if (!failed.empty()) {  // the report, with bytes that are no printable ASCII as \ooo
    std::string p;
    for (const char ch : err) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\%03o", static_cast<unsigned char>(ch));
      p += (ch == '\n' || (ch >= 32 && ch < 127)) ? std::string(1, ch) : std::string(buf);
    }
    failed.push_back("status " + std::to_string(status) + ", standard error: " + p);
  }
  return failed;
}

TEST(Corpus, EveryMalformedInputIsRefusedCleanly) {
  ASSERT_EQ(good().made.status, 0) << good().made.err;
  Dirs ok;  // the unspoiled run succeeds
  ASSERT_EQ(ok.files(good().inputs).run(mcdata(good().data)), 0) << ok.err;
  const std::vector<Case> cases = corpus();
  EXPECT_GE(cases.size(), 60u);
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
  std::printf("corpus: %zu cases (%d skipped)\n", cases.size(), skipped);
}

// A good run's directory: the inputs; the environment names the data directory.
void good_run_dir(Dirs& d) {
  d.files(good().inputs);
  d.env = mcdata(good().data);
}

// Writes that fail after the set-up (the test hook makes them fail as on a full disk):
// status 3, one message naming the file and the system's reason, no " Finish Code", and
// every output moved into one incomplete-* directory, as said, so the next run can start.
TEST(Corpus, AFailedWriteStopsTheRunAndSetsTheOutputsAside) {
  ASSERT_EQ(good().made.status, 0) << good().made.err;
  const struct {
    const char* hook;
    const char* message;
  } cases[] = {
      {"spcp.dat:3", "cannot write output file \"spcp.dat\": No space left on device"},  // in the first pass
      {"atmd.oud:close", "cannot write output file \"atmd.oud\": No space left on device"},  // at the end
  };
  for (const auto& c : cases) {
    Dirs d;
    good_run_dir(d);
    EXPECT_EQ(d.run(d.env + " MCSPEC_FAIL_WRITE=" + c.hook), 3) << c.hook << d.err;
    EXPECT_EQ(count(d.err, "mcspec: run stopped: " + std::string(c.message) + "\n"), 1u) << d.err;
    EXPECT_EQ(d.out.find(" Finish Code"), std::string::npos) << c.hook;
    ASSERT_EQ(d.names().size(), good().inputs.size() + 1) << d.err;  // the inputs and the incomplete-* directory
    const fs::path aside = d.incomplete();
    ASSERT_FALSE(aside.empty()) << d.err;
    EXPECT_CONTAINS(d.err, "mcspec: the output files of this run were moved into " + aside.filename().string() + "/\n");
    EXPECT_EQ(listing(aside).size(), std::size(kOutputFiles)) << c.hook;
  }
}

// A pipe closed early on standard output (mcspec | head -n 40, in the first temperature
// pass): no death by SIGPIPE (status 141 from the shell) but status 3, the reason said,
// the outputs set aside.
TEST(Corpus, AClosedPipeOnStandardOutputStopsTheRunWithoutASignal) {
  ASSERT_EQ(good().made.status, 0) << good().made.err;
  Dirs d;
  good_run_dir(d);
  write_file(d.beside("pipe.sh"), "{ '" MCSPEC_BINARY "'; echo $? >../status; } | head -n 40 >/dev/null\n");
  d.run(d.env, "sh ../pipe.sh");
  EXPECT_EQ(read_file(d.beside("status")), "3\n") << d.err;
  EXPECT_CONTAINS(d.err, "cannot write to standard output: Broken pipe");
  for (const char* name : kOutputFiles) EXPECT_FALSE(d.has(name)) << name;
  EXPECT_CONTAINS(d.err, "mcspec: the output files of this run were moved into incomplete-");
}

// A real full disk, where not even the set-aside directory can be made: a tmpfs of 1 MB
// and 17 inodes, the directory's own and one per input and output (root only; skipped
// elsewhere). Status 3 with the system's reason, and what cannot be moved is removed,
// as said: the directory is usable for the next run.
TEST(Corpus, AFullDiskLeavesTheDirectoryUsable) {
  ASSERT_EQ(good().made.status, 0) << good().made.err;
  Dirs d;
  const std::string mount = "mount -t tmpfs -o size=1m,nr_inodes=17 tmpfs '" + d.path().string() + "' 2>/dev/null";
  if (geteuid() != 0 || std::system(mount.c_str()) != 0) GTEST_SKIP() << "no tmpfs can be mounted here (needs root)";
  good_run_dir(d);
  const int status = d.run(d.env);
  const std::vector<std::string> left = d.names();
  EXPECT_EQ(std::system(("umount '" + d.path().string() + "'").c_str()), 0);
  EXPECT_EQ(status, 3) << d.err;
  EXPECT_CONTAINS(d.err, ": No space left on device\nmcspec: removed (cannot create a directory incomplete-");
  EXPECT_EQ(left, (std::vector<std::string>{"comp.ind", "dica.dat", "hydro.dat"})) << d.err;
}

// MCDATA is used whole: a path of more than 256 characters (once cut to 256, and then
// refused or taken for another directory) names the data directory. (Regression.)
TEST(Corpus, AnMcdataLongerThan256CharactersIsUsedWhole) {
  ASSERT_EQ(good().made.status, 0) << good().made.err;
  Dirs d;
  good_run_dir(d);
  const fs::path deep = d.beside(std::string(100, 'a')) / std::string(100, 'b') / std::string(100, 'c');
  fs::create_directories(deep);
  fs::create_directory_symlink(good().data, deep / "mcdata");
  EXPECT_EQ(d.run(mcdata(deep / "mcdata")), 0) << d.err;
}

}  // namespace
