// Small hand-made atomic-data directories written in the record layouts of the real
// one (element tables, ionisation potentials, ground weights, levels, lines,
// composition), the parameters of the type Ia example, and in-memory outputs for the
// model stages that read them.
#pragma once

#include <array>
#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/format.hpp"
#include "base/io.hpp"
#include "base/run_parameters.hpp"
#include "model/atoms.hpp"
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

}  // namespace mcspec::test
