#include "model/model_fixture.hpp"

#include <cmath>
#include <sstream>

#include "common/format.hpp"
#include "support/test_support.hpp"

namespace mcspec::test {

namespace fs = std::filesystem;

namespace {

const char* const kSymbols[60] = {" H ", " He", " Li", " Be", " B ", " C ", " N ", " O ", " F ", " Ne", " Na", " Mg",
                                  " Al", " Si", " P ", " S ", " Cl", " Ar", " K ", " Ca", " Sc", " Ti", " V ", " Cr",
                                  " Mn", " Fe", " Co", " Ni", " Cu", " Zn", " Ga", " Ge", " As", " Se", " Br", " Kr",
                                  " Rb", " Sr", " Y ", " Zr", " Nb", " Mo", " Tc", " Ru", " Rh", " Pd", " Ag", " Cd",
                                  " In", " Sn", " Sb", " Te", " I ", " Xe", " Cs", " Ba", " La", " Ce", " Pr", " Nd"};

template <class... T>
std::string rec(std::string_view fmt, const T&... v) {
  const FmtArg a[] = {FmtArg(v)...};
  return render_record(fmt, a);
}

IonData closing_block() { return {56, 2, {{0.0, 0.5}}, {}}; }

}  // namespace

void DataSet::write(const fs::path& dir) const {
  fs::create_directories(dir / "lines");
  std::string nbba, nbia, ihea, zeta, nama, compf, varn1, varn2;
  for (int r = 0; r < 4; ++r) {
    std::vector<FmtArg> s;
    for (int i = 0; i < 15; ++i) s.emplace_back(kSymbols[r * 15 + i]);
    nbba += render_record("(15A3)", s);
  }
  nbba += rec("(9A5)", " I   ", " II  ", " III ", " IV  ", " V   ", " VI  ", " VII ", " VIII", " IX  ");
  for (int z = 1; z <= 60; ++z) nbia += rec("(I3, A3, F9.4)", z, kSymbols[z - 1], z == 1 ? 1.008 : 2.0 * z);
  for (int z = 1; z <= 56; ++z) {
    std::vector<FmtArg> v{z, kSymbols[z - 1]};
    for (int j = 1; j <= 9; ++j) {
      const auto it = chi.find({z, j});
      v.emplace_back(it != chi.end() ? it->second : (j <= z ? 10.0 * j : 999.999));
    }
    ihea += render_record("(I3, A3, 9F8.3)", v);
    zeta += rec("(I3, A3, 8F7.2)", z, kSymbols[z - 1], -0.3, -0.4, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0);
    nama += rec("(I3, A3, 10I4)", z, kSymbols[z - 1], 2, 1, 2, 1, 2, 1, 1, 1, 1, 1);
  }
  for (std::size_t z = 0; z < comp.size(); ++z) compf += rec("(I3, A3, F9.4)", static_cast<int>(z + 1), kSymbols[z], comp[z]);
  std::vector<IonData> all = ions;
  if (close_files) all.push_back(closing_block());
  for (const IonData& ion : all) {
    varn1 += "ion\nsource\nconventions\n" + rec("(I8, I4, I10)", ion.z, ion.j, static_cast<int>(ion.levels.size())) +
             "    level      energy (cm-1)           J\n";
    for (std::size_t i = 0; i < ion.levels.size(); ++i)
      varn1 += rec("(I9, F18.3, F12.1)", static_cast<int>(i + 1), ion.levels[i].first, ion.levels[i].second);
    varn2 += "ion\nsource\n" + rec("(I8, I4, I10)", ion.z, ion.j, static_cast<int>(ion.lines.size())) + "columns\n";
    std::vector<FmtArg> v;
    for (std::size_t i = 0; i < ion.lines.size(); ++i) {
      v.emplace_back(static_cast<int>(ion.lines[i][0]));
      v.emplace_back(static_cast<int>(ion.lines[i][1]));
      v.emplace_back(ion.lines[i][2]);
      if (v.size() == 12 || i + 1 == ion.lines.size()) {
        varn2 += render_record("(4(2I6, F8.3))", v);
        v.clear();
      }
    }
  }
  write_file(dir / "nbba.ind", nbba);
  write_file(dir / "nbia.ind", nbia);
  write_file(dir / "ihea.ind", ihea + zeta);
  write_file(dir / "nama.ind", nama);
  write_file(dir / "comp.ind", compf);
  write_file(dir / "lines" / "varn1.new", varn1);
  write_file(dir / "lines" / "varn2", varn2);
}

Constants test_constants() {
  Constants c;
  c(Constants::kPi) = 3.141592654;
  c(Constants::kLogAmu) = std::log10(1.660531e-24);
  c(Constants::kLogH) = std::log10(6.6262e-27);
  c(Constants::kLogC) = std::log10(2.997925e10);
  c(Constants::kLogK) = std::log10(1.38062e-16);
  c(Constants::kLogMsun) = std::log10(1.989e33);
  c(Constants::kLogRsun) = std::log10(6.9599e10);
  c(Constants::kLogTsun) = std::log10(5770.0);
  c(Constants::kLogSigmaT) = std::log10(6.6524e-25);
  return c;
}

Params example_params() {
  Params p;
  p.js = 20;
  p.xe1 = 0.2;
  p.logls = 9.6;
  p.vph = 10000.0;
  p.tb = 12000.0;
  p.day = 19.0;
  p.logtaug = -3.0;
  p.chl = 50.0;
  p.chlcm = p.chl * 8065.46;
  p.tday = p.day * 24 * 3600;
  p.logr = std::log10(p.vph * 1e5 * p.tday);
  p.logrrs = p.logr - std::log10(6.9599e10);
  p.logteff = 0.25 * p.logls + std::log10(5770.0) - 0.5 * p.logrrs;
  return p;
}

InFile open_input(const fs::path& p) {
  InFile f;
  f.open(p.string(), "test input");
  return f;
}

void load_atoms(const fs::path& dir, const Params& p, Atoms& a, Outputs& o) {
  InFile nbba = open_input(dir / "nbba.ind"), comp = open_input(dir / "comp.ind"), nbia = open_input(dir / "nbia.ind"),
         ihea = open_input(dir / "ihea.ind"), varn1 = open_input(dir / "lines" / "varn1.new");
  input(nbba, comp, nbia, ihea, a, o.out, o.sbib, o.stst);
  atlvls(p, varn1, a, o.out, o.atmd);
}

Shells uniform_shells(int js, double tr, double w) {
  Shells s;
  s.js = js;
  s.nx = 2 * js + 1;
  s.xs.assign(s.nx);
  for (int i = 1; i <= s.nx; ++i) s.xs(i) = 1.0 - 0.8 * (i - 1) / (2.0 * js);
  s.logrh.assign(js, -13.0);
  s.tr.assign(js, tr);
  s.te.assign(js, tr);
  s.w.assign(js, w);
  s.vs.assign(js, 1e4);
  s.dvol.assign(js, 1.0);
  return s;
}

}  // namespace mcspec::test
