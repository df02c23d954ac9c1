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

#include "base/errors.hpp"
#include "base/fpenv.hpp"
#include "base/io.hpp"
#include "montecarlo/sampling_table.hpp"
#include "base/wavelength_grid.hpp"
#include "base/run_parameters.hpp"
#include "model/atoms.hpp"
#include "model/line_list.hpp"
#include "model/plasma.hpp"
#include "model/shells.hpp"
#include "spectrum/spectrum.hpp"

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

// The normalised composition: finite fractions of 0 or more that add up to 1.
void check_composition(const Atoms& a) {
  if (a.nel < 1 || a.nel > kMaxElements) finding("composition read with NEL = " + std::to_string(a.nel));
  double sum = 0;
  for (int z = 1; z <= a.nel; ++z) {
    const double x = a.xmass(z);
    if (!std::isfinite(x) || x < 0) finding("mass fraction of Z = " + std::to_string(z) + " is " + std::to_string(x));
    sum += x;
  }
  if (!(std::fabs(sum - 1.0) < 1e-9)) finding("normalised mass fractions add up to " + std::to_string(sum));
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

// The state of a run between stages. The stages before the one that reads the fuzzed
// file see only good files: they run once, and every input starts from a copy.
struct State {
  Constants c;
  Params p;
  Atoms a;
  Shells s;
  Plasma pl;
};

// The stage that reads each file: 0 params, 1 input, 2 read_levels, 3 model, 4 partition_functions and
// ionisation_balance, 5 lines.
int stage_of(Slot slot) {
  switch (slot) {
    case Slot::dica: return 0;
    case Slot::nbba:
    case Slot::comp:
    case Slot::nbia:
    case Slot::ihea: return 1;
    case Slot::varn1: return 2;
    case Slot::hydro: return 3;
    case Slot::nama: return 4;
    default: return 5;
  }
}

// Runs the stages from `first` on, on the files with `bytes` in place of `fuzzed`.
void run_from(int first, State& st, Slot fuzzed, std::string_view bytes) {
  OutFile out = OutFile::memory("standard output"), stst = OutFile::memory("stst.dat"),
          sbib = OutFile::memory("sbib.dat"), atmd = OutFile::memory("atmd.oud"), ptfn = OutFile::memory("ptfn.dat"),
          yhea = OutFile::memory("yhea.dat"), lhea = OutFile::memory("lhea.dat"), spcp = OutFile::memory("spcp.dat");
  if (first <= 0) {
    InFile dica;
    open_input(dica, Slot::dica, fuzzed, bytes);
    read_run_parameters(dica, st.c, st.p, stst, sbib, out);
    report_options(st.p, out);
    if (fuzzed == Slot::dica) {
      SamplingTable samp;
      build_sampling_table(st.p.kb, samp);
      WavelengthGrid grid;
      build_wavelength_grid(st.p, grid, spcp);
    }
  }
  if (first <= 1) {
    InFile nbba, comp, nbia, ihea;
    open_input(nbba, Slot::nbba, fuzzed, bytes);
    open_input(comp, Slot::comp, fuzzed, bytes);
    open_input(nbia, Slot::nbia, fuzzed, bytes);
    open_input(ihea, Slot::ihea, fuzzed, bytes);
    read_elements_and_composition(nbba, comp, nbia, ihea, st.a, out, sbib, stst);
    check_composition(st.a);
  }
  if (first <= 2) {
    InFile varn1;
    open_input(varn1, Slot::varn1, fuzzed, bytes);
    read_levels(st.p, varn1, st.a, out, atmd);
  }
  if (first <= 3) {
    InFile hydro;
    open_input(hydro, Slot::hydro, fuzzed, bytes);
    build_shells(st.p, st.c, hydro, st.s, stst, out);
    if (fuzzed == Slot::hydro) check_shells(st.s);
    st.pl.allocate(st.s.js);
  }
  if (first <= 4) {
    InFile nama;
    open_input(nama, Slot::nama, fuzzed, bytes);
    partition_functions(1, st.c, st.s, st.a, st.pl, nama, ptfn, out);
    ionisation_balance(1, st.p, st.s, st.a, st.pl, yhea, out);
    // Parameters that make the physics meaningless are refused by params, not checked here.
    check_plasma(st.a, st.s, st.pl);
  }
  InFile varn2;
  open_input(varn2, Slot::varn2, fuzzed, bytes);
  LineList ll;
  read_line_list(st.p, st.c, st.s, st.pl, st.a, ll, varn2, out, stst, sbib, lhea);
  check_lines(ll);
}

void run_filters(std::string_view bytes) {
  InFile filters;
  open_input(filters, Slot::filters, Slot::filters, bytes);
  FilterTable ft;
  read_filters(filters, ft);
  for (int f = 1; f <= 4; ++f)
    for (double lambda = 3051.0; lambda < 8350.0; lambda += 97.0) (void)filter_transmission(ft, lambda, f);
}

// The state after the stages before `stage`, on good files only.
const State& good_state_before(int stage) {
  static std::array<std::unique_ptr<State>, 6> cache;
  auto& st = cache[static_cast<std::size_t>(stage)];
  if (!st) {
    st = std::make_unique<State>();
    if (stage > 0) try {
      State s;
      OutFile out = OutFile::memory("o"), stst = OutFile::memory("o"), sbib = OutFile::memory("o"),
              atmd = OutFile::memory("o"), ptfn = OutFile::memory("o"), yhea = OutFile::memory("o");
      InFile f[9];
      for (int k = 0; k < 9; ++k) open_input(f[k], static_cast<Slot>(k), Slot::filters, {});
      read_run_parameters(f[0], s.c, s.p, stst, sbib, out);
      if (stage > 1) read_elements_and_composition(f[3], f[1], f[4], f[5], s.a, out, sbib, stst);
      if (stage > 2) read_levels(s.p, f[7], s.a, out, atmd);
      if (stage > 3) {
        build_shells(s.p, s.c, f[2], s.s, stst, out);
        s.pl.allocate(s.s.js);
      }
      if (stage > 4) {
        partition_functions(1, s.c, s.s, s.a, s.pl, f[6], ptfn, out);
        ionisation_balance(1, s.p, s.s, s.a, s.pl, yhea, out);
      }
      *st = s;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "fuzz: the good inputs do not run: %s\n", e.what());
      std::exit(1);
    }
  }
  return *st;
}

void run_stages(Slot fuzzed, std::string_view bytes) {
  if (fuzzed == Slot::filters) return run_filters(bytes);
  const int first = stage_of(fuzzed);
  State st = good_state_before(first);
  run_from(first, st, fuzzed, bytes);
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
