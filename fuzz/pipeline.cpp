// The set-up stages on in-memory files for the fuzzing harnesses (see pipeline.hpp).
// The good files come from the directories named by MCSPEC_FUZZ_DATA (a data directory)
// and MCSPEC_FUZZ_RUN (a run directory with dica.dat, comp.ind, hydro.dat), read once.
#include "pipeline.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "app/run.hpp"
#include "base/errors.hpp"
#include "base/fpenv.hpp"
#include "base/io.hpp"

namespace mcspec::fuzz {
namespace {

struct FileName {
  const char* name;  // as the run opens it
  bool data_dir;     // in MCDATA, else in the run directory
};

constexpr std::array<FileName, 10> kFiles = {{{"dica.dat", false},
                                              {"comp.ind", false},
                                              {"hydro.dat", false},
                                              {"nbba.ind", true},
                                              {"nbia.ind", true},
                                              {"ihea.ind", true},
                                              {"nama.ind", true},
                                              {"lines/varn1.new", true},
                                              {"lines/varn2", true},
                                              {"filters.dat", true}}};


[[noreturn]] void finding(const std::string& what) {
  std::fprintf(stderr, "FUZZ FINDING: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

std::string directory(const char* env, const char* fallback) {
  const char* v = std::getenv(env);
  return (v != nullptr && *v != '\0') ? v : fallback;
}

// The good text of every file (filters.dat only where the data directory has one).
const std::array<std::string, 10>& good_files() {
  static const std::array<std::string, 10> texts = [] {
    std::array<std::string, 10> t;
    const std::string data = directory("MCSPEC_FUZZ_DATA", MCSPEC_FUZZ_DEFAULT_DATA);
    const std::string run = directory("MCSPEC_FUZZ_RUN", MCSPEC_FUZZ_DEFAULT_RUN);
    for (std::size_t k = 0; k < kFiles.size(); ++k) {
      const std::string path = (kFiles[k].data_dir ? data : run) + "/" + kFiles[k].name;
      std::ifstream in(path, std::ios::binary);
      if (!in) {
        if (k + 1 == kFiles.size()) continue;  // filters.dat: needed only by its own harness
        std::fprintf(stderr, "fuzz: cannot read the good input %s (set MCSPEC_FUZZ_DATA / MCSPEC_FUZZ_RUN)\n",
                     path.c_str());
        std::exit(1);
      }
      std::ostringstream s;
      s << in.rdbuf();
      t[k] = s.str();
    }
    return t;
  }();
  return texts;
}

void open_input(InFile& f, Slot slot, Slot fuzzed, std::string_view bytes) {
  const auto k = static_cast<std::size_t>(slot);
  f.open_text(kFiles[k].name, slot == fuzzed ? bytes : std::string_view(good_files()[k]));
}

// The run's files in memory: the inputs, with `bytes` in place of `fuzzed`, and every
// output.
void open_files(Files& f, Slot fuzzed, std::string_view bytes) {
  InFile* inputs[] = {&f.dica, &f.comp, &f.hydro, &f.nbba, &f.nbia, &f.ihea, &f.nama, &f.varn1, &f.varn2};
  for (std::size_t k = 0; k < std::size(inputs); ++k) open_input(*inputs[k], static_cast<Slot>(k), fuzzed, bytes);
  f.out = OutFile::memory("standard output");
  for (OutFile* o : {&f.stst, &f.sbib, &f.atmd, &f.ptfn, &f.yhea, &f.lhea, &f.spcp}) *o = OutFile::memory("output");
  if (fuzzed == Slot::zones) {  // the layered composition in place of "comp.ind"
    f.layered = true;
    f.zones.open_text("zones.dat", bytes);
    f.composition = OutFile::memory("output");
  }
}

// The normalised composition: finite fractions of 0 or more that add up to 1, in the
// uniform composition or, layered, in every shell.
void check_fractions(const double* x, int n, const std::string& where) {
  double sum = 0;
  for (int z = 1; z <= n; ++z) {
    const double v = x[z - 1];
    if (!std::isfinite(v) || v < 0) finding("mass fraction of Z = " + std::to_string(z) + where + " is " + std::to_string(v));
    sum += v;
  }
  if (!(std::fabs(sum - 1.0) < 1e-9)) finding("normalised mass fractions" + where + " add up to " + std::to_string(sum));
}

void check_composition(const Run& r) {
  const Atoms& a = r.a;
  if (!r.f.layered) {
    if (a.nel < 1 || a.nel > kMaxElements) finding("composition read with NEL = " + std::to_string(a.nel));
    check_fractions(a.xmass.data(), a.nel, "");
    return;
  }
  for (int k = 1; k <= a.xshell.cols(); ++k)
    check_fractions(a.xshell.column(k), a.xshell.rows(), " in shell " + std::to_string(k));
}

// A profile accepted by the reader gives every shell a finite density.
void check_shells(const Shells& s) {
  for (int j = 1; j <= s.js; ++j)
    if (!std::isfinite(s.logrh(j))) finding("shell " + std::to_string(j) + " has log density " + std::to_string(s.logrh(j)));
}

// Data files and a profile that the readers accept give an ionisation balance with
// finite fractions and electron densities in every shell.
void check_plasma(const Atoms& a, const Shells& s, const Plasma& pl) {
  for (int k = 1; k <= s.js; ++k) {
    if (!(std::isfinite(pl.ne(k)) && pl.ne(k) >= 0))
      finding("electron density of shell " + std::to_string(k) + " is " + std::to_string(pl.ne(k)));
    for (int z = 1; z <= std::min(a.nel, kMaxIonisationData); ++z)
      for (int j = 1; j <= kMaxLevelStages; ++j)
        if (!(std::isfinite(pl.fion(j, z, k)) && pl.fion(j, z, k) >= 0))
          finding("ionisation fraction of Z = " + std::to_string(z) + ", stage " + std::to_string(j) + " in shell " +
                  std::to_string(k) + " is " + std::to_string(pl.fion(j, z, k)));
  }
}

// Every kept line has a finite, non-zero frequency and finite Einstein coefficients.
void check_lines(const LineList& ll) {
  for (int n = 1; n <= ll.nl; ++n)
    if (!(std::isfinite(ll.frql(n)) && ll.frql(n) != 0.0 && std::isfinite(ll.aul(n)) && std::isfinite(ll.blu(n))))
      finding("line " + std::to_string(n) + ": frequency " + std::to_string(ll.frql(n)) + " Hz, A " +
              std::to_string(ll.aul(n)) + ", B " + std::to_string(ll.blu(n)));
}

// The stages of the run (app/run.hpp) in order, each followed by the checks of what it
// read: 0 parameters, 1 atomic data, 2 ejecta, 3 plasma state, 4 line list.
enum Stage { kParameters, kAtomicData, kEjecta, kPlasmaState, kLineList };

// The stage that reads each file.
Stage stage_of(Slot slot) {
  switch (slot) {
    case Slot::dica: return kParameters;
    case Slot::nbba:
    case Slot::comp:
    case Slot::zones:
    case Slot::nbia:
    case Slot::ihea:
    case Slot::varn1: return kAtomicData;
    case Slot::hydro: return kEjecta;
    case Slot::nama: return kPlasmaState;
    default: return kLineList;
  }
}

void run_stage(Stage stage, Run& r, Slot fuzzed) {
  switch (stage) {
    case kParameters:
      r.read_parameters();
      if (fuzzed == Slot::dica) r.sampling_and_grid();
      return;
    case kAtomicData:
      r.read_atomic_data();
      check_composition(r);
      return;
    case kEjecta:
      r.build_ejecta();
      if (fuzzed == Slot::hydro) check_shells(r.s);
      return;
    case kPlasmaState:
      r.plasma_state(1);
      // Parameters that make the physics meaningless are refused by the parameter reader,
      // not checked here.
      check_plasma(r.a, r.s, r.pl);
      return;
    case kLineList:
      r.line_list();
      check_lines(r.ll);
      return;
  }
}

// The state after the stages before `stage`, on good files only: each input starts
// from a copy of it, so the stages before the one that reads the fuzzed file run once.
const Run& good_state_before(Stage stage) {
  static std::array<std::unique_ptr<Run>, kLineList + 1> cache;
  auto& r = cache[static_cast<std::size_t>(stage)];
  if (!r) try {
      r = std::make_unique<Run>();
      open_files(r->f, Slot::filters, {});
      for (int s = kParameters; s < stage; ++s) run_stage(static_cast<Stage>(s), *r, Slot::filters);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "fuzz: the good inputs do not run: %s\n", e.what());
      std::exit(1);
    }
  return *r;
}

void run_filters(std::string_view bytes) {
  InFile filters;
  open_input(filters, Slot::filters, Slot::filters, bytes);
  FilterTable ft;
  read_filters(filters, ft);
  for (int f = 1; f <= 4; ++f)
    for (double lambda = 3051.0; lambda < 8350.0; lambda += 97.0) (void)filter_transmission(ft, lambda, f);
}

void run_stages(Slot fuzzed, std::string_view bytes) {
  if (fuzzed == Slot::filters) return run_filters(bytes);
  const Stage first = stage_of(fuzzed);
  const Run& good = good_state_before(first);
  Run r;
  open_files(r.f, fuzzed, bytes);
  r.c = good.c;
  r.p = good.p;
  r.a = good.a;
  r.zones = good.zones;
  r.s = good.s;
  r.pl = good.pl;
  r.rng = good.rng;
  r.sc = good.sc;
  for (int s = first; s <= kLineList; ++s) run_stage(static_cast<Stage>(s), r, fuzzed);
}

}  // namespace

void run_pipeline(Slot slot, std::string_view bytes) {
  static const bool ftz = (set_flush_to_zero(), true);  // as the program runs
  (void)ftz;
  try {
    run_stages(slot, bytes);
  } catch (const InputError&) {
  } catch (const RunError&) {
  } catch (const std::exception& e) {
    finding(std::string("unexpected exception: ") + e.what());
  }
}

}  // namespace mcspec::fuzz
