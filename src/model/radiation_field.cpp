// The radiation-field file of a run and the warm start from it.
#include "model/radiation_field.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.hpp"
#include "base/text.hpp"

namespace mcspec {
namespace {

constexpr const char* kHeader =
    "# mcspec radiation field after the temperature iteration of this run: the boundary temperature TB [K],\n"
    "# then per shell: shell number, mid-point velocity [km/s], radiation temperature TR [K], dilution factor W,\n"
    "# electron temperature TE [K]. Copied into a run directory as warmstart.dat it makes that run start its\n"
    "# temperature iteration from this field (shells of other velocities: interpolated linearly in velocity).\n";

// The blank-separated fields of a record.
std::vector<std::string_view> fields_of(std::string_view r) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < r.size()) {
    while (i < r.size() && (r[i] == ' ' || r[i] == '\t')) ++i;
    const std::size_t b = i;
    while (i < r.size() && r[i] != ' ' && r[i] != '\t') ++i;
    if (i > b) out.push_back(r.substr(b, i - b));
  }
  return out;
}

struct Reader {
  InFile& in;
  [[noreturn]] void refuse(int field, const std::string& what) const {
    throw InputError(in.source_name(), in.record_number(), field, what);
  }
  // The next record that is not a comment, split into fields; empty at the end.
  std::vector<std::string_view> next() {
    while (!in.at_end()) {
      const std::string& r = in.next_record();
      std::vector<std::string_view> f = fields_of(r);
      if (!f.empty() && f[0].front() != '#') return f;
    }
    return {};
  }
  double real(std::string_view text, int field, const char* name) const {
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size())
      refuse(field, std::string(name) + " = \"" + std::string(text) + "\": expected a real number");
    if (!std::isfinite(v)) refuse(field, std::string(name) + " = " + std::string(text) + ": expected a finite number");
    return v;
  }
  double temperature(std::string_view text, int field, const char* name, double tlo, double thi) const {
    const double t = real(text, field, name);
    if (!(t > 0 && t >= tlo && t <= thi))
      refuse(field, std::string(name) + " = " + text_of(t) + " K: expected a temperature from " + text_of(tlo) +
                        " to " + text_of(thi) + " K (the limits of the boundary temperature of this model)");
    return t;
  }
};

}  // namespace

void write_radiation_field(const Shells& s, double tb, OutFile& out) {
  out.write_text(kHeader);
  char buf[160];
  std::snprintf(buf, sizeof buf, "# TB [K]\n%.17g\n# shell  v [km/s]  TR [K]  W  TE [K]\n", tb);
  out.write_text(buf);
  for (int j = 1; j <= s.js; ++j) {
    std::snprintf(buf, sizeof buf, "%d %.17g %.17g %.17g %.17g\n", j, s.vs(j), s.tr(j), s.w(j), s.te(j));
    out.write_text(buf);
  }
}

RadiationField read_radiation_field(InFile& in, double tlo, double thi) {
  Reader r{in};
  RadiationField f;
  std::vector<std::string_view> rec = r.next();
  if (rec.empty()) throw InputError(in.source_name(), 0, 0, "no boundary temperature TB: the file holds no values");
  if (rec.size() != 1) r.refuse(2, "expected one value, the boundary temperature TB, on its own record");
  f.tb = r.temperature(rec[0], 1, "TB", tlo, thi);
  for (int shell = 1;; ++shell) {
    rec = r.next();
    if (rec.empty()) break;
    if (rec.size() != 5)
      r.refuse(rec.size() < 5 ? static_cast<int>(rec.size()) + 1 : 6,
               "expected 5 values (shell, v, TR, W, TE), found " + std::to_string(rec.size()));
    if (rec[0] != std::to_string(shell)) r.refuse(1, "shell \"" + std::string(rec[0]) + "\": expected " + std::to_string(shell));
    const double v = r.real(rec[1], 2, "v");
    if (!(v > 0)) r.refuse(2, "v = " + text_of(v) + " km/s: expected a positive velocity");
    if (!f.v.empty() && !(v > f.v.back()))
      r.refuse(2, "v = " + text_of(v) + " km/s: the velocities must increase strictly from shell to shell");
    const double tr = r.temperature(rec[2], 3, "TR", tlo, thi);
    const double w = r.real(rec[3], 4, "W");
    if (!(w > 0 && w <= 1)) r.refuse(4, "W = " + text_of(w) + ": expected a dilution factor 0 < W <= 1");
    const double te = r.temperature(rec[4], 5, "TE", tlo, thi);
    f.v.push_back(v);
    f.tr.push_back(tr);
    f.w.push_back(w);
    f.te.push_back(te);
  }
  if (f.v.empty()) throw InputError(in.source_name(), 0, 0, "no shell records after the boundary temperature TB");
  return f;
}

bool apply_radiation_field(const RadiationField& f, Shells& s) {
  const std::size_t n = f.v.size();
  bool same = n == static_cast<std::size_t>(s.js);
  for (int j = 1; same && j <= s.js; ++j)
    same = std::abs(f.v[static_cast<std::size_t>(j - 1)] - s.vs(j)) <= 1e-9 * s.vs(j);
  for (int j = 1; j <= s.js; ++j) {
    if (same) {
      const auto k = static_cast<std::size_t>(j - 1);
      s.tr(j) = f.tr[k];
      s.w(j) = f.w[k];
      s.te(j) = f.te[k];
      continue;
    }
    const double v = s.vs(j);
    std::size_t hi = 0;
    while (hi < n && f.v[hi] < v) ++hi;
    if (hi == 0 || hi == n) {  // outside the file's range: its end value
      const std::size_t k = hi == 0 ? 0 : n - 1;
      s.tr(j) = f.tr[k];
      s.w(j) = f.w[k];
      s.te(j) = f.te[k];
      continue;
    }
    const std::size_t lo = hi - 1;
    const double t = (v - f.v[lo]) / (f.v[hi] - f.v[lo]);
    s.tr(j) = f.tr[lo] + t * (f.tr[hi] - f.tr[lo]);
    s.w(j) = f.w[lo] + t * (f.w[hi] - f.w[lo]);
    s.te(j) = f.te[lo] + t * (f.te[hi] - f.te[lo]);
  }
  return same;
}

}  // namespace mcspec
