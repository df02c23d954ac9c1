// Composition and element tables: mass fractions X(Z) of the (uniform) ejecta,
// normalised to sum 1, the number fractions X(Z)/A(Z) normalised likewise, the
// atomic weights A(Z) [amu], the ionisation potentials CHI(j, Z) [eV] and log10 of
// the ground-state recombination fractions zeta(j, Z) used by the ionisation balance.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "base/errors.hpp"
#include "model/atoms.hpp"
#include "model/element_rows.hpp"
#include "model/elements.hpp"
#include "base/text.hpp"

namespace mcspec {
namespace {

constexpr int kTextWidth = 8;  // texts are kept blank-padded to this width

std::string padded(std::string s) {
  if (s.size() < kTextWidth) s.resize(kTextWidth, ' ');
  return s;
}

// A text read from the data directory, as a message shows it: printable ASCII kept,
// other bytes as \ooo.
std::string shown_text(const std::string& s) {
  std::string r;
  for (const char ch : s) {
    const auto u = static_cast<unsigned char>(ch);
    if (u >= 32 && u < 127) {
      r += ch;
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\%03o", u);
      r += buf;
    }
  }
  return r;
}

// Four records of 15 symbols (Z = 1..60), one record of 9 stage labels. They label the
// outputs, so each must be the symbol of its element and the Roman numeral of its stage.
void read_symbols(InFile& nbba, Atoms& a) {
  static constexpr const char* kStages[] = {"I", "II", "III", "IV", "V", "VI", "VII", "VIII", "IX"};
  for (int rec = 0; rec < 4; ++rec) {
    std::array<std::string, 15> sym;
    std::vector<InItem> items(sym.begin(), sym.end());
    nbba.read("(15A3)", items);
    for (int i = 0; i < 15; ++i) {
      const int z = rec * 15 + i + 1;
      const std::string& s = sym[static_cast<std::size_t>(i)];
      if (element_of_symbol(s) != z)
        throw InputError(nbba.source_name(), nbba.record_number(), i + 1,
                         "expected the symbol of element Z = " + std::to_string(z) + " (" +
                             std::string(element_symbol(z)) + "), found \"" + shown_text(s) + "\"");
      a.elsym[static_cast<std::size_t>(z)] = padded(s);
    }
  }
  std::array<std::string, 9> lab;
  std::vector<InItem> items(lab.begin(), lab.end());
  nbba.read("(9A5)", items);
  for (int j = 1; j <= 9; ++j) {
    const std::string& l = lab[static_cast<std::size_t>(j - 1)];
    if (trimmed(l) != kStages[j - 1])
      throw InputError(nbba.source_name(), nbba.record_number(), j,
                       "expected the label of ionisation stage " + std::to_string(j) + " (" + kStages[j - 1] +
                           "), found \"" + shown_text(l) + "\"");
    a.stlab[static_cast<std::size_t>(j)] = padded(l);
  }
}

// Record z of "nbia.ind": its number is written to the summary, so it must be z's, as
// the symbol.
void check_weight_row(const InFile& nbia, int z, int iz, const std::string& sym) {
  if (iz != z || element_of_symbol(sym) != z)
    throw InputError(nbia.source_name(), nbia.record_number(), iz != z ? 1 : 2,
                     "record " + std::to_string(z) + " must describe element Z = " + std::to_string(z) + " (" +
                         std::string(element_symbol(z)) + "), found Z = " + std::to_string(iz) + ", \"" +
                         shown_text(sym) + "\"");
}

// The k-th record describes element Z = k: a record whose number is not k, or whose
// name is the symbol of another element, means a record is missing or out of order,
// and every later fraction would land on the wrong element. A name that is no element
// symbol at all is accepted.
void check_element(const InFile& comp, int z, int number, const std::string& name) {
  const std::string expected(element_symbol(z));
  if (number != z)
    throw InputError(comp.source_name(), comp.record_number(), 1,
                     "record " + std::to_string(z) + " describes element Z = " + std::to_string(z) + " (" + expected +
                         ") but gives Z = " + std::to_string(number) +
                         "; the records must run Z = 1, 2, 3, ... without gaps");
  const int named = element_of_symbol(name);
  if (named != 0 && named != z)
    throw InputError(comp.source_name(), comp.record_number(), 2,
                     "record " + std::to_string(z) + " describes element Z = " + std::to_string(z) + " (" + expected +
                         ") but names " + trimmed(name) + " (Z = " + std::to_string(named) +
                         "); the records must run Z = 1, 2, 3, ... without gaps");
}

// One element per record, Z = 1, 2, ... in record order, until the end of the file or
// 60 records. Returns the raw fractions.
std::vector<double> read_composition(InFile& comp, Atoms& a) {
  std::vector<double> raw(kMaxElements + 1, 0.0);
  a.nel = 0;
  while (a.nel < kMaxElements) {
    int number = 0;
    std::string name;
    double fraction = 0;
    const InItem items[] = {number, name, fraction};
    if (!comp.read_list_or_end(items)) break;
    const int z = a.nel + 1;
    check_element(comp, z, number, name);
    if (!std::isfinite(fraction) || fraction < 0.0)
      throw InputError(comp.source_name(), comp.record_number(), 3,
                       "expected a mass fraction of 0 or more for element Z = " + std::to_string(z));
    if (fraction != 0.0 && z > kMaxIonisationData)
      throw InputError(comp.source_name(), comp.record_number(), 3,
                       "element Z = " + std::to_string(z) + " has no ionisation data: mass fractions beyond Z = " +
                           std::to_string(kMaxIonisationData) + " must be 0");
    raw[static_cast<std::size_t>(z)] = fraction;
    a.nel = z;
  }
  return raw;
}

// Ionisation potentials CHI(1..9, Z) and log10 zeta(1..8, Z) for Z = 1..56. A field
// outside what the quantity can be (a potential that is not positive, a fraction zeta
// above 1) is refused here, so that the ionisation balance never meets one (999.999
// is the legal marker of a stage that does not exist).
void read_ionisation_tables(InFile& ihea, Atoms& a) {
  for (int z = 1; z <= kMaxIonisationData; ++z) {
    const auto v = read_element_row<double, 9>(ihea, "(I3, A3, 9F8.3)", z);
    for (int j = 1; j <= 9; ++j) {
      const double chi = v[static_cast<std::size_t>(j - 1)];
      if (!std::isfinite(chi) || !(chi > 0.0))
        throw InputError(ihea.source_name(), ihea.record_number(), j + 2,
                         "expected a positive ionisation potential in eV, found " + text_of(chi));
      a.chi(j, z) = chi;
    }
  }
  for (int z = 1; z <= kMaxIonisationData; ++z) {
    const auto v = read_element_row<double, 8>(ihea, "(I3, A3, 8F7.2)", z);
    for (int j = 1; j <= 8; ++j) {
      const double zeta = v[static_cast<std::size_t>(j - 1)];
      // zeta is the fraction of recombinations that go to the ground state: at most 1.
      if (!std::isfinite(zeta) || zeta > 0.0)
        throw InputError(ihea.source_name(), ihea.record_number(), j + 2,
                         "expected log10 zeta of 0 or less (zeta is a fraction), found " + text_of(zeta));
      a.zeta(j, z) = zeta;
    }
  }
}

}  // namespace

std::string Atoms::ion_label(int z, int j) const {
  std::string sym = (z >= 1 && z <= kMaxElements) ? trimmed(elsym[static_cast<std::size_t>(z)]) : std::string();
  std::string lab = (j >= 1 && j <= 9) ? trimmed(stlab[static_cast<std::size_t>(j)]) : std::string();
  if (sym.empty()) sym = "Z=" + std::to_string(z);
  if (lab.empty()) lab = "stage " + std::to_string(j);
  return sym + " " + lab;
}

void read_elements_and_composition(InFile& nbba, InFile& comp, InFile& nbia, InFile& ihea, Atoms& a, OutFile& out, OutFile& sbib,
           OutFile& stst) {
  read_symbols(nbba, a);
  const std::vector<double> raw = read_composition(comp, a);
  out.write("(5X 'Read abundances for' I3 ' elements.')", a.nel);

  double sum = 0;
  for (int z = 1; z <= a.nel; ++z) sum += raw[static_cast<std::size_t>(z)];
  if (!(sum > 0.0) || !std::isfinite(sum))
    throw InputError(comp.source_name(), 0, 0,
                     "the mass fractions must add up to a positive finite number, found " + text_of(sum));
  a.xsum = sum;
  a.xmass.fill(0.0);
  for (int z = 1; z <= a.nel; ++z) a.xmass(z) = raw[static_cast<std::size_t>(z)] / sum;
  a.layered = false;
  a.xpeak = a.xmass;

  // Number fractions n(Z) ~ X(Z) / A(Z), normalised to sum 1.
  std::vector<int> iz(static_cast<std::size_t>(a.nel + 1), 0);
  std::vector<double> nfrac(static_cast<std::size_t>(a.nel + 1), 0.0);
  double nsum = 0;
  for (int z = 1; z <= a.nel; ++z) {
    std::string sym;
    double awt = 0;
    nbia.read("(I3, A3, F9.4)", {iz[static_cast<std::size_t>(z)], sym, awt});
    check_weight_row(nbia, z, iz[static_cast<std::size_t>(z)], sym);
    if (a.xmass(z) != 0.0 && !(awt > 0.0))
      throw InputError(nbia.source_name(), nbia.record_number(), 3,
                       "expected a positive atomic weight for element Z = " + std::to_string(z));
    a.awt(z) = awt;
    if (a.xmass(z) == 0.0) continue;
    nfrac[static_cast<std::size_t>(z)] = a.xmass(z) / awt;
    nsum += nfrac[static_cast<std::size_t>(z)];
  }
  for (int z = 1; z <= a.nel; ++z) {
    if (a.xmass(z) == 0.0) continue;
    const auto i = static_cast<std::size_t>(z);
    sbib.write("(I9, 2X, A3, 3F13.6)", iz[i], a.elsym[i], raw[i], a.xmass(z), nfrac[i] / nsum);
  }
  stst.write("(/, F27.4, /, /)", sum);
  read_ionisation_tables(ihea, a);
}

void read_elements_for_shells(InFile& nbba, InFile& nbia, InFile& ihea, Atoms& a, const std::string& zones_file,
                              OutFile& out, OutFile& stst) {
  read_symbols(nbba, a);
  a.layered = true;
  a.nel = 0;
  a.xpeak.fill(0.0);
  a.xmass.fill(0.0);
  for (int z = 1; z <= kMaxElements; ++z) {
    for (int k = 1; k <= a.xshell.cols(); ++k) a.xpeak(z) = std::max(a.xpeak(z), a.xshell(z, k));
    if (a.xpeak(z) == 0.0) continue;
    if (z > kMaxIonisationData)
      throw InputError(zones_file, 0, 0,
                       "element Z = " + std::to_string(z) + " has no ionisation data: mass fractions beyond Z = " +
                           std::to_string(kMaxIonisationData) + " must be 0");
    a.nel = z;
  }
  out.write("(5X 'Read abundances for' I3 ' elements.')", a.nel);
  a.xsum = 1.0;  // every zone is normalised on reading
  for (int z = 1; z <= a.nel; ++z) {
    int iz = 0;
    std::string sym;
    double awt = 0;
    nbia.read("(I3, A3, F9.4)", {iz, sym, awt});
    check_weight_row(nbia, z, iz, sym);
    if (a.xpeak(z) != 0.0 && !(awt > 0.0))
      throw InputError(nbia.source_name(), nbia.record_number(), 3,
                       "expected a positive atomic weight for element Z = " + std::to_string(z));
    a.awt(z) = awt;
  }
  stst.write("(/, F27.4, /, /)", a.xsum);
  read_ionisation_tables(ihea, a);
}

void echo_mean_composition(Atoms& a, const Array1<double>& shell_mass, OutFile& sbib) {
  double msum = 0;
  for (int k = 1; k <= shell_mass.size(); ++k) msum += shell_mass(k);
  double nsum = 0;
  for (int z = 1; z <= a.nel; ++z) {
    double x = 0;
    for (int k = 1; k <= shell_mass.size(); ++k) x += shell_mass(k) * a.xshell(z, k);
    a.xmass(z) = x / msum;
    if (a.xmass(z) != 0.0) nsum += a.xmass(z) / a.awt(z);
  }
  for (int z = 1; z <= a.nel; ++z) {
    if (a.xmass(z) == 0.0) continue;
    sbib.write("(I9, 2X, A3, 3F13.6)", z, a.elsym[static_cast<std::size_t>(z)], a.xmass(z), a.xmass(z),
               a.xmass(z) / a.awt(z) / nsum);
  }
}

}  // namespace mcspec
