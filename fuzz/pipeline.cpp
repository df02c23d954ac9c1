// The set-up stages on in-memory files for the fuzzing harnesses (see pipeline.hpp).
// The good files come from the directories named by MCSPEC_FUZZ_DATA (a data directory)
// and MCSPEC_FUZZ_RUN (a run directory with dica.dat, comp.ind, hydro.dat), read once.
#include "pipeline.hpp"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <sstream>
#include <string>

#include "common/errors.hpp"
#include "common/io.hpp"
#include "driver/frqsmp.hpp"
#include "driver/initiate.hpp"
#include "driver/params.hpp"
#include "model/atoms.hpp"
#include "model/linelist.hpp"
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

void run_stages(Slot fuzzed, std::string_view bytes) {
  OutFile out = OutFile::memory("standard output"), stst = OutFile::memory("stst.dat"),
          sbib = OutFile::memory("sbib.dat"), atmd = OutFile::memory("atmd.oud"), ptfn = OutFile::memory("ptfn.dat"),
          yhea = OutFile::memory("yhea.dat"), lhea = OutFile::memory("lhea.dat"), spcp = OutFile::memory("spcp.dat");
  if (fuzzed == Slot::filters) {
    InFile filters;
    open_input(filters, Slot::filters, fuzzed, bytes);
    FilterTable ft;
    read_filters(filters, ft);
    for (int f = 1; f <= 4; ++f)
      for (double lambda = 3051.0; lambda < 8350.0; lambda += 97.0) (void)filter_transmission(ft, lambda, f);
    return;
  }
  InFile dica, comp, hydro, nbba, nbia, ihea, nama, varn1, varn2;
  open_input(dica, Slot::dica, fuzzed, bytes);
  Constants c;
  Params p;
  params(dica, c, p, stst, sbib, out);
  options(p, out);
  if (fuzzed == Slot::dica) {
    SamplingTable samp;
    frqsmp(p.kb, samp);
    WavelengthGrid grid;
    initiate(p, grid, spcp);
  }

  open_input(nbba, Slot::nbba, fuzzed, bytes);
  open_input(comp, Slot::comp, fuzzed, bytes);
  open_input(nbia, Slot::nbia, fuzzed, bytes);
  open_input(ihea, Slot::ihea, fuzzed, bytes);
  Atoms a;
  input(nbba, comp, nbia, ihea, a, out, sbib, stst);
  check_composition(a);

  open_input(varn1, Slot::varn1, fuzzed, bytes);
  atlvls(p, varn1, a, out, atmd);

  open_input(hydro, Slot::hydro, fuzzed, bytes);
  Shells s;
  model(p, c, hydro, s, stst, out);
  if (fuzzed == Slot::hydro) check_shells(s);


  Plasma pl;
  pl.allocate(s.js);
  open_input(nama, Slot::nama, fuzzed, bytes);
  partf(1, c, s, a, pl, nama, ptfn, out);
  ioneq(1, p, s, a, pl, yhea, out);

  open_input(varn2, Slot::varn2, fuzzed, bytes);
  LineList ll;
  lines(p, c, s, pl, a, ll, varn2, out, stst, sbib, lhea);
}

}  // namespace

void run_pipeline(Slot slot, std::string_view bytes) {
  try {
    run_stages(slot, bytes);
  } catch (const InputError&) {
  } catch (const RunError&) {
  } catch (const std::exception& e) {
    finding(std::string("unexpected exception: ") + e.what());
  }
}

}  // namespace mcspec::fuzz
