// Hand-made models, set directly so that the tests do not depend on the readers: small
// atomic-data directories written in the record layouts of the real one (element tables,
// ionisation potentials, ground weights, levels, lines, composition), the parameters of
// the type Ia example and in-memory outputs for the model stages that read them; plasma
// states for the opacity and spectrum tests (a few shells laid as the model lays them,
// one or two ions with a handful of levels and lines ordered by frequency, log-uniform
// wavelength grids, triangular filter curves, in-memory output files). (The Monte Carlo
// tests' small ejecta: tests/montecarlo/toy_model.hpp, shared with the benchmarks.)
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "base/format.hpp"
#include "base/io.hpp"
#include "base/run_parameters.hpp"
#include "base/wavelength_grid.hpp"
#include "model/atoms.hpp"
#include "model/line_list.hpp"
#include "model/plasma.hpp"
#include "model/shells.hpp"
#include "opacity/opacity.hpp"
#include "spectrum/spectrum.hpp"
#include "support/test_support.hpp"

namespace mcspec::test {

struct IonData {
  int z = 0, j = 0;
  std::vector<std::pair<double, double>> levels;  // energy [cm^-1], J
  std::vector<std::array<double, 3>> lines;       // upper field, lower field, log gf
};

template <class... T>
std::string render(std::string_view fmt, const T&... v) {
  const FmtArg a[] = {FmtArg(v)...};
  return render_record(fmt, a);
}

inline const char* element_symbol(int z) {
  static const char* const s[60] = {
      " H ", " He", " Li", " Be", " B ", " C ", " N ", " O ", " F ", " Ne", " Na", " Mg", " Al", " Si", " P ",
      " S ", " Cl", " Ar", " K ", " Ca", " Sc", " Ti", " V ", " Cr", " Mn", " Fe", " Co", " Ni", " Cu", " Zn",
      " Ga", " Ge", " As", " Se", " Br", " Kr", " Rb", " Sr", " Y ", " Zr", " Nb", " Mo", " Tc", " Ru", " Rh",
      " Pd", " Ag", " Cd", " In", " Sn", " Sb", " Te", " I ", " Xe", " Cs", " Ba", " La", " Ce", " Pr", " Nd"};
  return s[z - 1];
}

// A data directory: nbba.ind, nbia.ind, ihea.ind, nama.ind, lines/varn1.new,
// lines/varn2 and comp.ind. Atomic weight 2Z (H 1.008), CHI(j) = 10 j eV unless chi
// says otherwise, ground weights 2 and 1 alternating. The level and line files end
// with the Ba II block where the readers stop, unless close_files is false.
struct DataSet {
  explicit DataSet(std::vector<double> fractions = {}) : comp(std::move(fractions)) {}
  std::vector<double> comp;                   // mass fractions of Z = 1, 2, ...
  std::map<std::pair<int, int>, double> chi;  // CHI(j, Z) by (Z, j)
  std::vector<IonData> ions;
  bool close_files = true;

  void write(const std::filesystem::path& dir) const {
    std::filesystem::create_directories(dir / "lines");
    std::string nbba, nbia, ihea, zeta, nama, compf, varn1, varn2;
    for (int r = 0; r < 4; ++r) {
      std::vector<FmtArg> s;
      for (int i = 1; i <= 15; ++i) s.emplace_back(element_symbol(r * 15 + i));
      nbba += render_record("(15A3)", s);
    }
    nbba += render("(9A5)", " I   ", " II  ", " III ", " IV  ", " V   ", " VI  ", " VII ", " VIII", " IX  ");
    for (int z = 1; z <= 60; ++z) nbia += render("(I3, A3, F9.4)", z, element_symbol(z), z == 1 ? 1.008 : 2.0 * z);
    for (int z = 1; z <= 56; ++z) {
      std::vector<FmtArg> v{z, element_symbol(z)};
      for (int j = 1; j <= 9; ++j) {
        const auto it = chi.find({z, j});
        v.emplace_back(it != chi.end() ? it->second : (j <= z ? 10.0 * j : 999.999));
      }
      ihea += render_record("(I3, A3, 9F8.3)", v);
      zeta += render("(I3, A3, 8F7.2)", z, element_symbol(z), -0.3, -0.4, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0);
      nama += render("(I3, A3, 10I4)", z, element_symbol(z), 2, 1, 2, 1, 2, 1, 1, 1, 1, 1);
    }
    for (std::size_t z = 1; z <= comp.size(); ++z)
      compf += render("(I3, A3, F9.4)", static_cast<int>(z), element_symbol(static_cast<int>(z)), comp[z - 1]);
    std::vector<IonData> all = ions;
    if (close_files) all.push_back({56, 2, {{0.0, 0.5}}, {}});
    for (const IonData& ion : all) {
      varn1 += "ion\nsource\nconventions\n" + render("(I8, I4, I10)", ion.z, ion.j, static_cast<int>(ion.levels.size())) +
               "    level      energy (cm-1)           J\n";
      for (std::size_t i = 0; i < ion.levels.size(); ++i)
        varn1 += render("(I9, F18.3, F12.1)", static_cast<int>(i + 1), ion.levels[i].first, ion.levels[i].second);
      varn2 += "ion\nsource\n" + render("(I8, I4, I10)", ion.z, ion.j, static_cast<int>(ion.lines.size())) + "columns\n";
      std::vector<FmtArg> v;  // four entries a record, the last record possibly shorter
      for (std::size_t i = 0; i < ion.lines.size(); ++i) {
        v.insert(v.end(), {static_cast<int>(ion.lines[i][0]), static_cast<int>(ion.lines[i][1]), ion.lines[i][2]});
        if (v.size() == 12 || i + 1 == ion.lines.size()) {
          varn2 += render_record("(4(2I6, F8.3))", v);
          v.clear();
        }
      }
    }
    for (const auto& [name, text] : {std::pair{"nbba.ind", nbba}, {"nbia.ind", nbia}, {"ihea.ind", ihea + zeta},
                                     {"nama.ind", nama}, {"comp.ind", compf}, {"lines/varn1.new", varn1}, {"lines/varn2", varn2}})
      write_file(dir / name, text);
  }
};

// Every output file of the model stages, in memory.
struct Outputs {
  OutFile out = OutFile::memory("stdout"), stst = OutFile::memory("stst.dat"), sbib = OutFile::memory("sbib.dat"),
          atmd = OutFile::memory("atmd.oud"), ptfn = OutFile::memory("ptfn.dat"),
          yhea = OutFile::memory("yhea.dat"), lhea = OutFile::memory("lhea.dat");
};

// The parameters of the sn-ia-max example ("dica.dat"), derived quantities included.
inline Params example_params() {
  Params p;
  p.js = 20, p.xe1 = 0.2, p.logls = 9.6, p.vph = 10000.0, p.tb = 12000.0, p.day = 19.0, p.logtaug = -3.0;
  p.chl = 50.0, p.chlcm = p.chl * 8065.46, p.tday = p.day * 86400.0;
  p.logr = std::log10(p.vph * 1e5 * p.tday);
  p.logrrs = p.logr - std::log10(6.9599e10);
  p.logteff = 0.25 * p.logls + std::log10(5770.0) - 0.5 * p.logrrs;
  return p;
}

inline InFile open_input(const std::filesystem::path& p) {
  InFile f;
  f.open(p.string(), "test input");
  return f;
}

// A data set written to a scratch directory (with comp as its comp.ind, when given) and
// read by read_elements_and_composition and read_levels.
struct LoadedData {
  TempDir dir;
  Atoms a;
  Outputs o;
  explicit LoadedData(const DataSet& d, const std::string& comp = "", const Params& p = example_params()) {
    d.write(dir.path());
    if (!comp.empty()) write_file(dir / "comp.ind", comp);
    InFile nbba = open_input(dir / "nbba.ind"), cf = open_input(dir / "comp.ind"), nbia = open_input(dir / "nbia.ind"),
           ihea = open_input(dir / "ihea.ind"), varn1 = open_input(dir.path() / "lines" / "varn1.new");
    read_elements_and_composition(nbba, cf, nbia, ihea, a, o.out, o.sbib, o.stst);
    read_levels(p, varn1, a, o.out, o.atmd);
  }
};

// ------------------------------------------------------------ plasma states

// The program's constants as plain numbers (cgs), for the hand computations.
inline constexpr double kH = 6.6262e-27, kC = 2.997925e10, kK = 1.38062e-16, kPi = 3.141592654;

inline Constants program_constants() {
  Constants c;
  fill_constants(c);
  return c;
}

// js shells uniform in x from 1 down to xe1; TR = 10000 K, TE = 9000 K, W = 1 and
// log rho = -14 everywhere, volumes from the shell edges.
inline Shells lay_shells(int js, double xe1 = 0.2) {
  Shells s;
  s.js = js;
  s.nx = 2 * js + 1;
  s.dx = (1.0 - xe1) / (2 * js);
  s.xs.assign(s.nx);
  for (int i = 1; i <= s.nx; ++i) s.xs(i) = 1.0 - (i - 1) * s.dx;
  s.xs(s.nx) = xe1;
  s.vs.assign(js, 1e4);
  s.logrh.assign(js, -14.0);
  s.tr.assign(js, 10000.0);
  s.te.assign(js, 9000.0);
  s.w.assign(js, 1.0);
  s.dvol.assign(js);
  for (int k = 1; k <= js; ++k) s.dvol(k) = std::pow(s.xs(2 * k + 1), -3) - std::pow(s.xs(2 * k - 1), -3);
  return s;
}

struct LevelSpec {
  double e;  // energy [cm^-1], negative for a metastable level
  double j;  // J, weight 2J + 1
};
struct LineSpec {
  int u, l;          // levels within the ion, 1-based
  double frq;        // [Hz]
  double aul = 1e8;  // [s^-1]
  double blu = 1e10;
};
struct IonSpec {
  int z = 26, j = 2;
  std::vector<LevelSpec> levels;
  std::vector<LineSpec> lines;
};

struct LineModel {
  Params p;
  Constants c = program_constants();
  Shells s;
  Atoms a;
  Plasma pl;
  LineList ll;
  Opacity op;
};

// Lays the ions' levels one after another in the level table and their lines in
// transition order, each ion with N_el = 1e8 cm^-3 all in its stage, and orders the
// lines by decreasing frequency (equal frequencies keep their transition order).
inline void build_lines(LineModel& m, int js, const std::vector<IonSpec>& ions, double xe1 = 0.2) {
  m.s = lay_shells(js, xe1);
  m.p.js = js, m.p.xe1 = xe1, m.p.tday = 19.0 * 86400.0;
  m.pl.nelem.assign(64, js, 0.0);
  m.pl.fion.assign(5, 60, js, 0.0);
  m.pl.kapes.assign(js, 0.0);
  m.pl.ne.assign(js, 0.0);
  Atoms& a = m.a;
  LineList& ll = m.ll;
  a.elsym[26] = " Fe", a.elsym[14] = " Si", a.stlab[1] = " I   ", a.stlab[2] = " II  ";
  a.nion = static_cast<int>(ions.size());
  for (int mi = 1; mi <= a.nion; ++mi) {
    const IonSpec& ion = ions[static_cast<std::size_t>(mi - 1)];
    const int first = a.elev.size() + 1;
    a.ionz(mi) = ion.z, a.ionj(mi) = ion.j, a.lev1(ion.z, ion.j) = first;
    a.nlev(ion.z, ion.j) = static_cast<int>(ion.levels.size());
    for (const LevelSpec& lev : ion.levels) a.elev.vec().push_back(lev.e), a.xj.vec().push_back(lev.j);
    ll.iln1.vec().push_back(ll.frql.size() + 1);
    for (const LineSpec& line : ion.lines) {
      ll.frql.vec().push_back(line.frq);
      ll.lup.vec().push_back(line.u + first - 1);
      ll.llo.vec().push_back(line.l + first - 1);
      ll.aul.vec().push_back(line.aul);
      ll.blu.vec().push_back(line.blu);
      ll.zcode.vec().push_back(ion.z + 0.01 * (ion.j - 1));
    }
    for (int k = 1; k <= js; ++k) m.pl.nelem(ion.z, k) = 1e8, m.pl.fion(ion.j, ion.z, k) = 1.0;
  }
  a.nlvtot = a.elev.size();
  const int nl = ll.nl = ll.frql.size();
  ll.iln1.vec().push_back(nl + 1);
  std::vector<int> order(static_cast<std::size_t>(nl));
  std::iota(order.begin(), order.end(), 1);
  std::stable_sort(order.begin(), order.end(), [&](int x, int y) { return ll.frql(x) > ll.frql(y); });
  ll.kpos.assign(nl);
  ll.lorig.assign(nl);
  ll.frq.assign(nl + 1, 0.0);
  for (int p = 1; p <= nl; ++p) {
    const int t = order[static_cast<std::size_t>(p - 1)];
    ll.kpos(t) = p;
    ll.frq(p) = ll.frql(t);
    ll.lorig(nl + 1 - p) = t;
  }
  m.op.allocate(nl, js);
}

// KG bins uniform in log10 wavelength between wvm1 and wvm2 [micron]; air = vacuum, so
// the vacuum-to-air width ratio of every bin is 1.
inline WavelengthGrid log_grid(double wvm1, double wvm2, int kg) {
  WavelengthGrid g;
  g.kg = kg;
  for (auto* t : {&g.wlb, &g.wlba}) t->assign(kg + 1);
  for (auto* t : {&g.wbin, &g.wbina}) t->assign(kg);
  g.dwl = (std::log10(wvm2) - std::log10(wvm1)) / kg;
  for (int e = 1; e <= kg + 1; ++e) g.wlb(e) = g.wlba(e) = (e - 1) * g.dwl + std::log10(wvm1);
  for (int b = 1; b <= kg; ++b) g.wbin(b) = g.wbina(b) = std::pow(10.0, g.wlb(b + 1)) - std::pow(10.0, g.wlb(b));
  return g;
}

// Triangular U, B, V, R curves on the 50-A grid 3000..8400 A as "filters.dat" records
// (F9.1, 4F8.3).
inline std::string filters_text() {
  auto triangle = [](double l, double centre, double half) { return std::max(0.0, 1.0 - std::abs(l - centre) / half); };
  std::string text;
  for (int i = 1; i <= kFilterRows; ++i) {
    const double w = 3000.0 + 50.0 * (i - 1);
    char rec[64];
    std::snprintf(rec, sizeof rec, "%9.1f%8.3f%8.3f%8.3f%8.3f\n", w,
                  triangle(w, 3650, 500), triangle(w, 4450, 900), triangle(w, 5500, 900), triangle(w, 6500, 1400));
    text += rec;
  }
  return text;
}
inline InFile filters_file() {
  InFile f;
  f.open_text("filters.dat", filters_text());
  return f;
}

// The five output files of the spectrum stage, in memory.
struct Sinks {
  OutFile out = OutFile::memory("stdout"), spcp = OutFile::memory("spcp.dat"), spct = OutFile::memory("spct.dat"),
          sbib = OutFile::memory("sbib.dat"), stst = OutFile::memory("stst.dat");
  SpectrumOutput so{out, spcp, spct, sbib, stst};
};

}  // namespace mcspec::test
