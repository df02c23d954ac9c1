// mkdata: writes a complete atomic-data directory (the directory MCDATA names) for an
// ejecta of hydrogen and helium, computed from first principles, and the power-law
// density profiles of a hydrogen-rich envelope.
//
// Physics and choices, file by file:
//  - lines/varn1.new: the n-resolved levels of H I (n = 1..15) and He II (n = 1..13):
//    E_n = R_M Z^2 (1 - 1/n^2) with the reduced-mass Rydberg constant of 1H and 4He
//    (CODATA 2018), weight g = 2n^2 written as J = n^2 - 1/2. He II stops at n = 13
//    because the line reader fixes the He II level count at 13. No level is metastable
//    (every n >= 2 decays by a dipole line), so every energy is positive. A Ba II block
//    with its 6s 2S1/2 ground level alone closes the file, where the readers stop.
//  - lines/varn2: every n -> n' line of the two ions, ordered by upper then lower level,
//    log gf = log10(2n^2 f) with f the exact hydrogenic absorption oscillator strength
//    summed over the l-sublevels (tools/hydrogenic.hpp). The lower level of the line
//    2 -> 1 is written negative: it is the only way down from n = 2, an effective
//    resonance line. Ba II has no lines.
//  - nbba.ind, nbia.ind: symbols and IUPAC abridged standard atomic weights of
//    Z = 1..60 (conventional values for elements given as an interval; Tc, without a
//    stable isotope: 98).
//  - ihea.ind: ionisation energies (NIST) of H (13.598 eV) and He (24.587, 54.418 eV),
//    and of Ca I and Ca II (6.113, 11.872 eV), because the ionisation balance takes
//    CHI(2, Ca) as its reference energy; every other entry holds the marker 999.999:
//    no ion above the neutral atom of those elements takes part, and the ionisation
//    balance leaves them neutral. log zeta = 0 (zeta = 1, every
//    recombination counted as going to the ground state) for all ions: the simplest
//    choice, which puts the whole weight on the radiation-corrected term.
//  - nama.ind: ground-state weights 2J+1: H I 2, H II 1, He I 1 (1s2 1S), He II 2,
//    He III 1; 1 for every other stage (ions the data directory gives no levels for).
//  - no rhw7.dat: that name is the program's default W7 profile of a type Ia, which
//    a hydrogen envelope is not; a model on this directory brings its own hydro.dat
//    (--profile writes one), and a run without it stops, naming the missing file.
//  - filters.dat: Bessell (1990) U, B, V, R from the speclite files shipped in
//    data/sources (bessell-{U,B,V,R}.ecsv, response to the energy flux F_lambda),
//    resampled linearly to 3000..8400 A in 50 A steps and normalised to a peak of 1.
//
// Density profile (hydro.dat of the example, written with --profile): at
// t0 = 1 day, rho(v) = rho_ref (v / v_ref)^-n above v_core and the constant
// rho(v_core) below it (a flat core under a steep envelope, as in the two-component
// models of exploded red supergiants), on points every dv from dv to v_max, radius
// r = v t0. Defaults: n = 11, rho_ref = 4e-11 g cm^-3 at v_ref = 7000 km/s, core
// below 3500 km/s, 250 km/s steps to 40000 km/s: 6.5 Msun, 6.4e50 erg.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "base/errors.hpp"
#include "base/io.hpp"
#include "hydrogenic.hpp"  // beside this file

namespace fs = std::filesystem;
using mcspec::FmtArg;
using mcspec::InFile;
using mcspec::InItem;
using mcspec::InputError;
using mcspec::OutFile;
namespace hy = mcspec::hydrogenic;

namespace {

constexpr int kElements = 60;       // symbols and weights
constexpr int kIonisationRows = 56; // ihea.ind and nama.ind rows
constexpr double kNoStage = 999.999;

const char* const kSymbol[kElements + 1] = {
    "",   "H",  "He", "Li", "Be", "B",  "C",  "N",  "O",  "F",  "Ne", "Na", "Mg", "Al", "Si", "P",
    "S",  "Cl", "Ar", "K",  "Ca", "Sc", "Ti", "V",  "Cr", "Mn", "Fe", "Co", "Ni", "Cu", "Zn", "Ga",
    "Ge", "As", "Se", "Br", "Kr", "Rb", "Sr", "Y",  "Zr", "Nb", "Mo", "Tc", "Ru", "Rh", "Pd", "Ag",
    "Cd", "In", "Sn", "Sb", "Te", "I",  "Xe", "Cs", "Ba", "La", "Ce", "Pr", "Nd"};

// IUPAC abridged standard atomic weights [u].
const double kAtomicWeight[kElements + 1] = {
    0,       1.008,   4.0026,  6.94,    9.0122,  10.81,   12.011,  14.007,  15.999,  18.998,  20.180,
    22.990,  24.305,  26.982,  28.085,  30.974,  32.06,   35.45,   39.95,   39.098,  40.078,  44.956,
    47.867,  50.942,  51.996,  54.938,  55.845,  58.933,  58.693,  63.546,  65.38,   69.723,  72.630,
    74.922,  78.971,  79.904,  83.798,  85.468,  87.62,   88.906,  91.224,  92.906,  95.95,   98.0,
    101.07,  102.91,  106.42,  107.87,  112.41,  114.82,  118.71,  121.76,  127.60,  126.90,  131.29,
    132.91,  137.33,  138.91,  140.12,  140.91,  144.24};

const char* const kStageLabel[9] = {"I", "II", "III", "IV", "V", "VI", "VII", "VIII", "IX"};

// A symbol as the messages print it: one blank, the symbol, padded to three columns.
std::string padded(const std::string& s, std::size_t width) {
  std::string t = " " + s;
  t.resize(width, ' ');
  return t;
}

// ---------------------------------------------------------------- element tables

void write_nbba(const fs::path& dir) {
  OutFile f;
  f.create_new((dir / "nbba.ind").string());
  std::vector<std::string> sym;
  for (int z = 1; z <= kElements; ++z) sym.push_back(padded(kSymbol[z], 3));
  for (int row = 0; row < 4; ++row) {
    std::vector<FmtArg> a(sym.begin() + row * 15, sym.begin() + row * 15 + 15);
    f.write_args("(15A3)", a);
  }
  std::vector<std::string> lab;
  for (const char* s : kStageLabel) lab.push_back(padded(s, 5));
  std::vector<FmtArg> a(lab.begin(), lab.end());
  f.write_args("(9A5)", a);
  f.close();
}

void write_nbia(const fs::path& dir) {
  OutFile f;
  f.create_new((dir / "nbia.ind").string());
  for (int z = 1; z <= kElements; ++z) f.write("(I3, A3, F9.4)", z, padded(kSymbol[z], 3), kAtomicWeight[z]);
  f.close();
}

// Ionisation energies CHI(1..9) [eV] of element z; the marker for stages not given.
std::vector<double> ionisation_energies(int z) {
  std::vector<double> chi(9, kNoStage);
  if (z == 1) chi[0] = 13.598;
  if (z == 2) {
    chi[0] = 24.587;
    chi[1] = 54.418;
  }
  if (z == 20) {  // CHI(2, Ca) is the reference energy of the ionisation balance
    chi[0] = 6.113;
    chi[1] = 11.872;
  }
  return chi;
}

void write_ihea(const fs::path& dir) {
  OutFile f;
  f.create_new((dir / "ihea.ind").string());
  for (int z = 1; z <= kIonisationRows; ++z) {
    const std::vector<double> chi = ionisation_energies(z);
    const std::string sym = padded(kSymbol[z], 3);
    std::vector<FmtArg> a{FmtArg(z), FmtArg(sym)};
    for (double c : chi) a.emplace_back(c);
    f.write_args("(I3, A3, 9F8.3)", a);
  }
  for (int z = 1; z <= kIonisationRows; ++z) {
    const std::string sym = padded(kSymbol[z], 3);
    std::vector<FmtArg> a{FmtArg(z), FmtArg(sym)};
    for (int j = 1; j <= 8; ++j) a.emplace_back(0.0);  // log zeta = 0
    f.write_args("(I3, A3, 8F7.2)", a);
  }
  f.close();
}

// Ground-state weight 2J+1 of stage j of element z (j = z + 1 is the bare nucleus).
int ground_weight(int z, int j) {
  if (z == 1 && j == 1) return 2;  // 1s 2S1/2
  if (z == 2 && j == 2) return 2;  // He+ 1s 2S1/2
  return 1;                        // H+, He 1s2 1S0, He2+, and every ion without levels here
}

void write_nama(const fs::path& dir) {
  OutFile f;
  f.create_new((dir / "nama.ind").string());
  for (int z = 1; z <= kIonisationRows; ++z) {
    const std::string sym = padded(kSymbol[z], 3);
    std::vector<FmtArg> a{FmtArg(z), FmtArg(sym)};
    for (int j = 1; j <= 10; ++j) a.emplace_back(ground_weight(z, j));
    f.write_args("(I3, A3, 10I4)", a);
  }
  f.close();
}

// ---------------------------------------------------------------- levels and lines

struct HydrogenicIon {
  int z;        // nuclear charge
  int stage;    // ionisation stage, 1 = neutral
  int nmax;     // highest principal quantum number kept
  double rydberg;
  const char* name;
};

const HydrogenicIon kIons[] = {
    {1, 1, 15, hy::rydberg_hydrogen(), "H I"},
    {2, 2, 13, hy::rydberg_helium4(), "He II"},
};

void write_level_block(OutFile& f, const HydrogenicIon& ion) {
  f.write("(A, I3)", std::string(ion.name) + ": hydrogenic n-resolved levels, n = 1 ..", ion.nmax);
  f.write("(A, F13.4, A)", "E_n = R_M Z^2 (1 - 1/n^2), R_M =", ion.rydberg, " cm-1 (reduced mass); g = 2n^2");
  f.write("(A)", "energy in cm-1 (positive: every level has a dipole line down); J = (g-1)/2 = n^2 - 1/2");
  f.write("(I8, I4, I10)", ion.z, ion.stage, ion.nmax);
  f.write("(A)", "    level      energy (cm-1)           J");
  for (int n = 1; n <= ion.nmax; ++n) f.write("(I9, F18.3, F12.1)", n, hy::level_energy(ion.z, n, ion.rydberg), hy::level_j(n));
}

void write_placeholder_level_block(OutFile& f) {
  f.write("(A)", "Ba II: placeholder, ground level 6s 2S1/2 only; it closes the file for the readers");
  f.write("(A)", "no level data");
  f.write("(A)", "energy in cm-1; J = (g-1)/2");
  f.write("(I8, I4, I10)", 56, 2, 1);
  f.write("(A)", "    level      energy (cm-1)           J");
  f.write("(I9, F18.3, F12.1)", 1, 0.0, 0.5);
}

void write_levels(const fs::path& dir) {
  OutFile f;
  f.create_new((dir / "lines" / "varn1.new").string());
  for (const HydrogenicIon& ion : kIons) write_level_block(f, ion);
  write_placeholder_level_block(f);
  f.close();
}

struct LineEntry {
  int upper, lower;  // level numbers; lower < 0 marks an effective resonance line
  double loggf;
};

std::vector<LineEntry> hydrogenic_lines(int nmax) {
  std::vector<LineEntry> v;
  for (int u = 2; u <= nmax; ++u) {
    for (int l = 1; l < u; ++l) {
      const bool only_way_down = (u == 2);
      v.push_back({u, only_way_down ? -l : l, hy::log_gf(l, u)});
    }
  }
  return v;
}

// Four entries a record; the last record holds only what is left.
void write_line_block(OutFile& f, int z, int stage, const std::vector<LineEntry>& lines, const std::string& title) {
  f.write("(A)", title);
  f.write("(A)", "log gf = log10(g_lower f), f summed over the l-sublevels; negative lower level: effective resonance line");
  f.write("(I8, I4, I10)", z, stage, static_cast<int>(lines.size()));
  f.write("(A)", "  upper lower  log gf  upper lower  log gf  upper lower  log gf  upper lower  log gf");
  for (std::size_t i = 0; i < lines.size(); i += 4) {
    std::vector<FmtArg> a;
    for (std::size_t k = i; k < std::min(i + 4, lines.size()); ++k) {
      a.emplace_back(lines[k].upper);
      a.emplace_back(lines[k].lower);
      a.emplace_back(lines[k].loggf);
    }
    f.write_args("(4(2I6, F8.3))", a);
  }
}

void write_lines(const fs::path& dir) {
  OutFile f;
  f.create_new((dir / "lines" / "varn2").string());
  for (const HydrogenicIon& ion : kIons) {
    const std::vector<LineEntry> lines = hydrogenic_lines(ion.nmax);
    write_line_block(f, ion.z, ion.stage, lines,
                     std::string(ion.name) + ": every n -> n' dipole line, exact hydrogenic oscillator strengths");
  }
  write_line_block(f, 56, 2, {}, "Ba II: placeholder, no lines");
  f.close();
}

// ---------------------------------------------------------------- density profile

struct PowerLawProfile {
  double index = 11.0;     // n in rho ~ v^-n
  double v_ref = 7000.0;   // [km/s]
  double rho_ref = 4.0e-11;// density at v_ref at t0 [g cm^-3]
  double v_core = 3500.0;  // flat core below this velocity [km/s]
  double v_max = 40000.0;  // outermost point [km/s]
  double dv = 250.0;       // point spacing [km/s]
  double t0 = 86400.0;     // time of the profile [s]
};

double profile_density(const PowerLawProfile& p, double v) {
  return p.rho_ref * std::pow(std::max(v, p.v_core) / p.v_ref, -p.index);
}

void write_profile(const fs::path& path, const PowerLawProfile& p) {
  const int npoints = static_cast<int>(std::floor(p.v_max / p.dv + 0.5));
  if (npoints < 2 || npoints > 300) throw InputError("the profile needs 2..300 points (v_max / dv), not " + std::to_string(npoints));
  OutFile f;
  f.create_new(path.string());
  f.write("(I5, F10.1)", npoints, p.t0);
  double mass = 0.0, energy = 0.0;
  for (int i = 1; i <= npoints; ++i) {
    const double v = i * p.dv;
    const double rho = profile_density(p, v);
    f.write("(I4, F11.3, 2ES14.6)", i, v, v * 1.0e5 * p.t0, rho);
    // Mass and kinetic energy of the shell (v - dv, v] with the midpoint density.
    const double vm = v - 0.5 * p.dv, r1 = (v - p.dv) * 1.0e5 * p.t0, r2 = v * 1.0e5 * p.t0;
    const double dm = 4.0 / 3.0 * std::numbers::pi * (r2 * r2 * r2 - r1 * r1 * r1) * profile_density(p, vm);
    mass += dm;
    energy += 0.5 * dm * (vm * 1.0e5) * (vm * 1.0e5);
  }
  f.close();
  std::printf("%s: %d points, %.2f Msun, %.2e erg\n", path.string().c_str(), npoints, mass / 1.989e33, energy);
}

// ---------------------------------------------------------------- filters

struct Curve {
  std::vector<double> wave, trans;
};

// A speclite ECSV bandpass: '#' header records, the column names "wavelength response",
// then one record per point: wavelength (A) and response.
Curve read_bandpass(const fs::path& path) {
  std::ifstream in(path);
  if (!in) throw InputError(path.string(), 0, 0, "cannot open the Bessell bandpass");
  Curve c;
  std::string line;
  int record = 0;
  while (std::getline(in, line)) {
    ++record;
    const std::size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#' || line.compare(first, 10, "wavelength") == 0) continue;
    std::istringstream fields(line);
    double w = 0, t = 0;
    if (!(fields >> w >> t) || !std::isfinite(w) || !std::isfinite(t))
      throw InputError(path.string(), record, 1, "expected a wavelength and a response");
    if (!c.wave.empty() && w <= c.wave.back()) throw InputError(path.string(), record, 1, "wavelengths must increase");
    c.wave.push_back(w);
    c.trans.push_back(t);
  }
  if (c.wave.size() < 2) throw InputError(path.string(), 0, 0, "a bandpass needs at least two points");
  const double peak = *std::max_element(c.trans.begin(), c.trans.end());
  if (!(peak > 0)) throw InputError(path.string(), 0, 0, "the bandpass has no positive transmission");
  for (double& x : c.trans) x /= peak;
  return c;
}

// Linear interpolation, 0 outside the tabulated range.
double transmission_at(const Curve& c, double w) {
  if (w < c.wave.front() || w > c.wave.back()) return 0.0;
  const auto it = std::lower_bound(c.wave.begin(), c.wave.end(), w);
  const std::size_t i = static_cast<std::size_t>(it - c.wave.begin());
  if (c.wave[i] == w) return c.trans[i];
  const double f = (w - c.wave[i - 1]) / (c.wave[i] - c.wave[i - 1]);
  return c.trans[i - 1] + f * (c.trans[i] - c.trans[i - 1]);
}

void write_filters(const fs::path& dir, const fs::path& bessell) {
  const char* const files[4] = {"bessell-U.ecsv", "bessell-B.ecsv", "bessell-V.ecsv", "bessell-R.ecsv"};
  Curve c[4];
  for (int k = 0; k < 4; ++k) c[k] = read_bandpass(bessell / files[k]);
  OutFile f;
  f.create_new((dir / "filters.dat").string());
  for (int i = 0; i < 109; ++i) {
    const double w = 3000.0 + 50.0 * i;
    f.write("(F9.1, 4F8.3)", w, transmission_at(c[0], w), transmission_at(c[1], w), transmission_at(c[2], w),
            transmission_at(c[3], w));
  }
  f.close();
}

// ---------------------------------------------------------------- the directory

void write_data_directory(const fs::path& target, const fs::path& bessell, bool with_filters) {
  fs::path out = fs::absolute(target).lexically_normal();
  if (!out.has_filename()) out = out.parent_path();
  if (fs::exists(out)) throw InputError(out.string(), 0, 0, "already exists; remove it to generate the data anew");
  // Built beside its final place and renamed at the end: an interrupted run leaves no
  // directory that looks complete.
  const fs::path stage = out.string() + ".partial-" + std::to_string(getpid());
  fs::remove_all(stage);
  fs::create_directories(stage / "lines");
  try {
    write_nbba(stage);
    write_nbia(stage);
    write_ihea(stage);
    write_nama(stage);
    write_levels(stage);
    write_lines(stage);
    if (with_filters) write_filters(stage, bessell);
  } catch (...) {
    std::error_code ec;
    fs::remove_all(stage, ec);
    throw;
  }
  fs::rename(stage, out);
}

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: mkdata --bessell DIR OUTDIR      write the data directory OUTDIR (must not exist), with\n"
               "                                        filters.dat from the Bessell files bessell-{U,B,V,R}.ecsv\n"
               "                                        in DIR (data/sources/speclite/speclite/data/filters)\n"
               "       mkdata --without-filters OUTDIR  the same without filters.dat (incomplete: for tests)\n"
               "       mkdata --profile FILE [--index N] [--v-ref KMS] [--rho-ref G_CM3] [--v-core KMS]\n"
               "                             [--v-max KMS] [--dv KMS]\n"
               "                                        write a power-law density profile at t = 1 day\n");
  std::exit(64);
}

double number_argument(const std::string& flag, const char* text) {
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(v) || v <= 0)
    throw InputError("command line", 0, 0, flag + " needs a positive number, not \"" + text + "\"");
  return v;
}

int run(int argc, char** argv) {
  if (argc < 3) usage();
  const std::string mode = argv[1];
  if (mode == "--profile") {
    PowerLawProfile p;
    for (int i = 3; i < argc; i += 2) {
      const std::string flag = argv[i];
      if (i + 1 >= argc) usage();
      const double v = number_argument(flag, argv[i + 1]);
      if (flag == "--index") p.index = v;
      else if (flag == "--v-ref") p.v_ref = v;
      else if (flag == "--rho-ref") p.rho_ref = v;
      else if (flag == "--v-core") p.v_core = v;
      else if (flag == "--v-max") p.v_max = v;
      else if (flag == "--dv") p.dv = v;
      else usage();
    }
    write_profile(argv[2], p);
    return 0;
  }
  if (mode == "--bessell" && argc == 4) {
    write_data_directory(argv[3], argv[2], true);
    std::printf("data directory written: %s\n", argv[3]);
    return 0;
  }
  if (mode == "--without-filters" && argc == 3) {
    write_data_directory(argv[2], {}, false);
    std::printf("data directory written without filters.dat: %s\n", argv[2]);
    return 0;
  }
  usage();
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mkdata: %s\n", e.what());
    return 1;
  }
}
