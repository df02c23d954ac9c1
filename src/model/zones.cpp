// Velocity zones of the ejecta: the reader of "zones.dat" and the mean composition of
// the shells, each the mass-weighted mean of the zones it overlaps (file format and
// the placing of the zones in zones.hpp).
#include "model/zones.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "base/errors.hpp"

namespace mcspec {
namespace {

constexpr std::array<std::string_view, kZoneElements + 1> kSymbols = {
    "",   "H",  "He", "Li", "Be", "B",  "C",  "N",  "O",  "F",  "Ne", "Na", "Mg", "Al", "Si", "P",
    "S",  "Cl", "Ar", "K",  "Ca", "Sc", "Ti", "V",  "Cr", "Mn", "Fe", "Co", "Ni", "Cu", "Zn", "Ga",
    "Ge", "As", "Se", "Br", "Kr", "Rb", "Sr", "Y",  "Zr", "Nb", "Mo", "Tc", "Ru", "Rh", "Pd", "Ag",
    "Cd", "In", "Sn", "Sb", "Te", "I",  "Xe", "Cs", "Ba", "La", "Ce", "Pr", "Nd"};

// The blank- or tab-separated fields of a line.
std::vector<std::string_view> fields_of(std::string_view line) {
  std::vector<std::string_view> f;
  std::size_t i = 0;
  while (true) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) return f;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    f.push_back(line.substr(start, i - start));
  }
}

bool is_comment_or_blank(std::string_view line) {
  const std::size_t i = line.find_first_not_of(" \t");
  return i == std::string_view::npos || line[i] == '#';
}

// A column of the header: an element (z > 0) or an isotope (i > 0).
struct Column {
  std::string_view name;
  int z = 0, i = 0;
};

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[k]) != lower(b[k])) return false;
  }
  return true;
}

std::string unknown_column(std::string_view name) {
  std::string m = "\"" + std::string(name) +
                  "\" is neither an element symbol H..Nd (Z = 1..60) nor one of the isotopes Ni56, Co56, Fe52, "
                  "Mn52, Cr48, V48";
  for (int z = 1; z <= kZoneElements; ++z)
    if (equal_ignoring_case(name, kSymbols[static_cast<std::size_t>(z)]))
      return m + " (element symbols are case-sensitive: \"" + std::string(kSymbols[static_cast<std::size_t>(z)]) +
             "\")";
  for (int i = 1; i <= kIsotopes; ++i)
    if (equal_ignoring_case(name, isotope_name(i))) return m + " (\"" + std::string(isotope_name(i)) + "\")";
  return m;
}

std::vector<Column> read_header(const std::string& file, long rec, std::string_view line) {
  const auto f = fields_of(line);
  if (f[0] != "v_outer")
    throw InputError(file, rec, 1,
                     "the header must begin with v_outer (the outer velocity of the zone, km/s), found \"" +
                         std::string(f[0]) + "\"");
  if (f.size() < 2) throw InputError(file, rec, 2, "the header names no element or isotope after v_outer");
  std::vector<Column> cols(f.size());
  cols[0].name = f[0];
  for (std::size_t n = 1; n < f.size(); ++n) {
    Column& c = cols[n];
    c.name = f[n];
    c.z = zone_element_of_symbol(f[n]);
    for (int i = 1; i <= kIsotopes && c.z == 0; ++i)
      if (f[n] == isotope_name(i)) c.i = i;
    const int field = static_cast<int>(n) + 1;
    if (c.z == 0 && c.i == 0) throw InputError(file, rec, field, unknown_column(f[n]));
    for (std::size_t m = 0; m < n; ++m)
      if (f[m] == f[n])
        throw InputError(file, rec, field,
                         "the column \"" + std::string(f[n]) + "\" is named twice (also field " +
                             std::to_string(m + 1) + ")");
  }
  return cols;
}

// A number written in full (no trailing characters); nan and inf are refused by the
// callers' range checks.
bool parse_number(std::string_view s, double& v) {
  const char* end = s.data() + s.size();
  const auto r = std::from_chars(s.data(), end, v);
  return r.ec == std::errc() && r.ptr == end;
}

std::string printed(const char* fmt, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, v);
  return buf;
}

}  // namespace

std::string_view zone_element_symbol(int z) {
  return (z >= 1 && z <= kZoneElements) ? kSymbols[static_cast<std::size_t>(z)] : std::string_view();
}

int zone_element_of_symbol(std::string_view s) {
  for (int z = 1; z <= kZoneElements; ++z)
    if (s == kSymbols[static_cast<std::size_t>(z)]) return z;
  return 0;
}

std::string_view isotope_name(int i) {
  if (i < 1 || i > kIsotopes) return {};
  const DecayChain& c = kDecayChain[static_cast<std::size_t>((i - 1) / 2)];
  return (i % 2 == 1) ? c.parent : c.daughter;
}

Zones read_zones(InFile& in, std::vector<std::string>& warnings) {
  const std::string& file = in.source_name();
  std::vector<Column> cols;
  std::vector<double> v_outer, values;  // values: per zone, the stable then isotope fractions
  constexpr int kPerZone = kZoneElements + kIsotopes;
  while (!in.at_end()) {
    const std::string& line = in.next_record();
    if (is_comment_or_blank(line)) continue;
    const long rec = in.record_number();
    if (cols.empty()) {
      cols = read_header(file, rec, line);
      continue;
    }
    const int k = static_cast<int>(v_outer.size()) + 1;
    if (k > kMaxZones) throw InputError(file, rec, 0, "more than " + std::to_string(kMaxZones) + " zones");
    const auto f = fields_of(line);
    const std::size_t nc = cols.size();
    if (f.size() < nc)
      throw InputError(file, rec, static_cast<int>(f.size()) + 1,
                       "the value of column \"" + std::string(cols[f.size()].name) +
                           "\" is missing (the header names " + std::to_string(nc) + " columns)");
    if (f.size() > nc)
      throw InputError(file, rec, static_cast<int>(nc) + 1,
                       "an extra value \"" + std::string(f[nc]) + "\": the header names " + std::to_string(nc) +
                           " columns");
    values.resize(values.size() + kPerZone, 0.0);
    double* row = values.data() + values.size() - kPerZone;
    double sum = 0;
    for (std::size_t n = 0; n < nc; ++n) {
      const int field = static_cast<int>(n) + 1;
      double v = 0;
      if (!parse_number(f[n], v))
        throw InputError(file, rec, field, "\"" + std::string(f[n]) + "\" is not a number");
      if (n == 0) {
        if (!(v > 0.0) || !std::isfinite(v))
          throw InputError(file, rec, field, "v_outer must be a positive number of km/s, found " + std::string(f[n]));
        if (!v_outer.empty() && !(v > v_outer.back()))
          throw InputError(file, rec, field,
                           "v_outer must increase from zone to zone: " + std::string(f[n]) + " follows " +
                               printed("%.10g", v_outer.back()));
        v_outer.push_back(v);
        continue;
      }
      if (!(v >= 0.0) || !std::isfinite(v))
        throw InputError(file, rec, field,
                         "the mass fraction of " + std::string(cols[n].name) +
                             " must be a finite number >= 0, found " + std::string(f[n]));
      row[cols[n].z > 0 ? cols[n].z - 1 : kZoneElements + cols[n].i - 1] = v;
      sum += v;
    }
    if (!(sum > 0.0) || !std::isfinite(sum))
      throw InputError(file, rec, 0, "the mass fractions of zone " + std::to_string(k) +
                                         " must add up to a positive finite number, found " + printed("%.4f", sum));
    if (std::fabs(sum - 1.0) > 0.01)  // as for "comp.ind"
      warnings.push_back("the mass fractions of zone " + std::to_string(k) + " of \"" + file + "\" (record " +
                         std::to_string(rec) + ") add up to " + printed("%.4f", sum) +
                         ", not 1; they are normalised to 1");
    for (int m = 0; m < kPerZone; ++m) row[m] /= sum;
  }
  if (cols.empty()) throw InputError(file, 0, 0, "no header line (v_outer and the element and isotope columns)");
  if (v_outer.empty()) throw InputError(file, 0, 0, "no zone: the file ends after its header");

  Zones z;
  z.nz = static_cast<int>(v_outer.size());
  z.v_outer.assign(z.nz);
  z.stable.assign(kZoneElements, z.nz);
  z.isotope.assign(kIsotopes, z.nz);
  for (int k = 1; k <= z.nz; ++k) {
    const double* row = values.data() + static_cast<std::size_t>(k - 1) * kPerZone;
    z.v_outer(k) = v_outer[static_cast<std::size_t>(k - 1)];
    for (int e = 1; e <= kZoneElements; ++e) z.stable(e, k) = row[e - 1];
    for (int i = 1; i <= kIsotopes; ++i) z.isotope(i, k) = row[kZoneElements + i - 1];
  }
  return z;
}

Zones one_zone(const Array1<double>& x) {
  if (x.size() > kZoneElements)
    throw InternalError("a uniform composition of " + std::to_string(x.size()) + " elements (at most " +
                        std::to_string(kZoneElements) + ")");
  Zones z;
  z.nz = 1;
  z.v_outer.assign(1, std::numeric_limits<double>::infinity());  // the single zone holds every velocity
  z.stable.assign(kZoneElements, 1);
  z.isotope.assign(kIsotopes, 1);
  for (int e = 1; e <= x.size(); ++e) z.stable(e, 1) = x(e);
  return z;
}

std::vector<double> shell_velocity_edges(double vph, const Array1<double>& xs) {
  std::vector<double> v;
  for (int i = 1; i <= xs.size(); i += 2) v.push_back(vph / xs(i));
  return v;
}

// The mass of the part of a shell between velocities a < b is (4/3) pi t^3 rho (b^3 - a^3)
// in homologous flow (r = v t). The model gives each shell a single density, the one at
// its centre (the shell masses and every stage use it), so within a shell the mass of
// an overlap is proportional to b^3 - a^3 and the density drops out of the mean: a
// shell's fractions are sum_k w_k q_k / sum_k w_k over the zones k it overlaps, with
// w_k = b_k^3 - a_k^3, written (b - a)(b^2 + ab + a^2) to keep the digits of a thin
// overlap. (Weighting by the profile's density across the shell instead would give the
// shell a composition that disagrees with the mass the model gives it.)
Array2<double> mix_into_shells(const Array1<double>& v_outer, const Array2<double>& q,
                               std::span<const double> v_edges) {
  const int nz = v_outer.size(), nq = q.rows();
  const int js = static_cast<int>(v_edges.size()) - 1;
  if (nz < 1 || q.cols() != nz || js < 1)
    throw InternalError("mix_into_shells: " + std::to_string(nz) + " zones, a table of " + std::to_string(q.cols()) +
                        " columns and " + std::to_string(v_edges.size()) + " shell edges");
  for (int j = 0; j < js; ++j)
    if (!(v_edges[static_cast<std::size_t>(j)] < v_edges[static_cast<std::size_t>(j) + 1]) ||
        !std::isfinite(v_edges[static_cast<std::size_t>(j) + 1]) || !(v_edges[0] >= 0.0))
      throw InternalError("mix_into_shells: the shell edges are not increasing finite velocities");
  Array2<double> out(nq, js, 0.0);
  std::vector<double> w(static_cast<std::size_t>(nz));
  for (int j = 1; j <= js; ++j) {
    const double lo = v_edges[static_cast<std::size_t>(j - 1)], hi = v_edges[static_cast<std::size_t>(j)];
    int overlaps = 0, last = 0;
    double wsum = 0;
    for (int k = 1; k <= nz; ++k) {
      // Zone k: v_outer(k-1) < v <= v_outer(k); the first open below, the last above.
      const double a = (k == 1) ? lo : std::max(lo, v_outer(k - 1));
      const double b = (k == nz) ? hi : std::min(hi, v_outer(k));
      double& wk = w[static_cast<std::size_t>(k - 1)];
      wk = (b > a) ? (b - a) * (b * b + a * b + a * a) : 0.0;
      if (wk > 0.0) {
        ++overlaps;
        last = k;
        wsum += wk;
      }
    }
    if (overlaps == 1) {
      for (int n = 1; n <= nq; ++n) out(n, j) = q(n, last);
      continue;
    }
    for (int k = 1; k <= nz; ++k) {
      const double wk = w[static_cast<std::size_t>(k - 1)];
      if (wk > 0.0)
        for (int n = 1; n <= nq; ++n) out(n, j) += wk * q(n, k);
    }
    for (int n = 1; n <= nq; ++n) out(n, j) /= wsum;
  }
  return out;
}

ShellComposition shell_composition(const ZoneComposition& z, std::span<const double> v_edges) {
  return {mix_into_shells(z.v_outer, z.x, v_edges), mix_into_shells(z.v_outer, z.isotope, v_edges),
          mix_into_shells(z.v_outer, z.product, v_edges)};
}

void write_shell_composition(double day, std::span<const double> v_edges, const ShellComposition& sc,
                             OutFile& out) {
  const int js = sc.x.cols();
  if (static_cast<int>(v_edges.size()) != js + 1)
    throw InternalError("write_shell_composition: " + std::to_string(js) + " shells and " +
                        std::to_string(v_edges.size()) + " edges");
  std::vector<int> elements;
  for (int z = 1; z <= std::min(sc.x.rows(), kZoneElements); ++z)
    for (int j = 1; j <= js; ++j)
      if (sc.x(z, j) != 0.0) {
        elements.push_back(z);
        break;
      }
  out.write("('# mass fractions by shell after radioactive decay to DAY = ' F8.2 ' d (zones.dat)')", day);
  out.write("('# v_inner, v_outer: the velocities of the shell edges [km/s]; the elements include the products "
            "of decay; Ni56 .. V48: what is left of each isotope')");
  const auto right = [](std::string_view name, std::size_t width) {
    std::string t(width > name.size() ? width - name.size() : 0, ' ');
    return t.append(name);
  };
  std::string header = right("shell", 5) + right("v_inner", 11) + right("v_outer", 11);
  for (const int z : elements) header += right(zone_element_symbol(z), 12);
  for (int i = 1; i <= kIsotopes; ++i) header += right(isotope_name(i), 12);
  out.write("(A)", header);
  const std::string fmt =
      "(I5, 2F11.1, " + std::to_string(elements.size() + static_cast<std::size_t>(kIsotopes)) + "ES12.4)";
  std::vector<FmtArg> row;
  for (int j = 1; j <= js; ++j) {
    row.clear();
    row.emplace_back(j);
    row.emplace_back(v_edges[static_cast<std::size_t>(j - 1)]);
    row.emplace_back(v_edges[static_cast<std::size_t>(j)]);
    for (const int z : elements) row.emplace_back(sc.x(z, j));
    for (int i = 1; i <= kIsotopes; ++i) row.emplace_back(sc.isotope(i, j));
    out.write_args(fmt, row);
  }
}

}  // namespace mcspec
