// The model stages on the real data directory with the sn-ia-max example: the line
// selection is redone here from the line file and the plasma state, line by line.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <sstream>

#include "model/model_fixture.hpp"
#include "support/test_support.hpp"

namespace mcspec::test {
namespace {

struct Line {
  double zcode, loggf;
  int lup, llo;
  double taumax;
};

// Lines that the censoring rules keep, in file order, from the raw line file.
std::vector<Line> expected_lines(const std::filesystem::path& varn2, const Params& p, const Shells& s,
                                 const Plasma& pl, const Atoms& a) {
  std::ifstream in(varn2);
  std::vector<std::string> rec;
  for (std::string line; std::getline(in, line);) rec.push_back(line);
  const double c = 2.997925e10, c2 = 6.6262e-27 * c / 1.38062e-16, taug = std::pow(10.0, p.logtaug);
  std::vector<Line> kept;
  for (std::size_t r = 0; r + 3 < rec.size();) {
    const int z = std::stoi(rec[r + 2].substr(0, 8)), j = std::stoi(rec[r + 2].substr(8, 4));
    int nl = std::stoi(rec[r + 2].substr(12, 10));
    const std::size_t data = r + 4;
    r = data + static_cast<std::size_t>((nl + 3) / 4);
    if (a.ionflag(z, j) == 0) continue;
    if (z == 14 && j == 1) nl = std::min(nl, 6795);
    const int n = a.nlev(z, j), i0 = a.lev1(z, j) - 1;
    std::vector<std::array<double, 3>> e(static_cast<std::size_t>(nl));
    for (int i = 0; i < nl; ++i) {
      const std::string& d = rec[data + static_cast<std::size_t>(i / 4)];
      const std::size_t at = static_cast<std::size_t>(i % 4) * 20;
      e[static_cast<std::size_t>(i)] = {std::stod(d.substr(at, 6)), std::stod(d.substr(at + 6, 6)), std::stod(d.substr(at + 12, 8))};
    }
    std::vector<double> best_up(static_cast<std::size_t>(n + 1), -99), best_lo(best_up);
    for (const auto& x : e) {
      const auto u = static_cast<std::size_t>(std::fabs(x[0])), l = static_cast<std::size_t>(std::fabs(x[1]));
      if (u > static_cast<std::size_t>(n) || l > static_cast<std::size_t>(n)) continue;
      best_up[u] = std::max(best_up[u], x[2]);
      best_lo[l] = std::max(best_lo[l], x[2]);
    }
    std::vector<bool> taken_up(best_up.size()), taken_lo(best_lo.size());  // ties: the first one
    for (const auto& x : e) {
      const int u = static_cast<int>(std::fabs(x[0])), l = static_cast<int>(std::fabs(x[1]));
      if (u > n || l > n) continue;
      const double el = a.elev(i0 + l), nu = c * (std::fabs(a.elev(i0 + u)) - std::fabs(el));
      double tmax = 0;
      for (int k = 1; k <= s.js; ++k) {
        double t = 0.02654 * std::pow(10.0, x[2]) * c / nu * p.tday * pl.nelem(z, k) * pl.fion(j, z, k) / pl.pf(k, z, j) *
                   std::exp(-std::fabs(el) * c2 / s.tr(k));
        if (el > 0) t *= s.w(k);
        tmax = std::max(tmax, t);
      }
      const bool up = x[2] == best_up[static_cast<std::size_t>(u)] && !taken_up[static_cast<std::size_t>(u)];
      const bool lo = x[2] == best_lo[static_cast<std::size_t>(l)] && !taken_lo[static_cast<std::size_t>(l)];
      if (up) taken_up[static_cast<std::size_t>(u)] = true;
      if (lo) taken_lo[static_cast<std::size_t>(l)] = true;
      if (tmax > taug || up || lo || z == 2)
        kept.push_back({z + 0.01 * (j - 1), x[2], (x[0] < 0 ? -1 : 1) * (u + i0), (x[1] < 0 ? -1 : 1) * (l + i0), tmax});
    }
    if (z == 56 && j == 2) break;
  }
  return kept;
}

TEST(RealData, SnIaMaxLineSelection) {
  MCSPEC_REQUIRE_SHARED();
  const auto data = shared_mcdata(), example = shared_example();
  if (example.empty()) GTEST_SKIP() << "the sn-ia-max example is not present";
  const Params p = example_params();
  const Constants c = test_constants();
  Atoms a;
  Shells s;
  Plasma pl;
  LineList ll;
  Outputs o;
  InFile nbba = open_input(data / "nbba.ind"), comp = open_input(example / "comp.ind"),
         nbia = open_input(data / "nbia.ind"), ihea = open_input(data / "ihea.ind"),
         varn1 = open_input(data / "lines" / "varn1.new"), hydro = open_input(data / "rhw7.dat"),
         nama = open_input(data / "nama.ind"), varn2 = open_input(data / "lines" / "varn2");
  input(nbba, comp, nbia, ihea, a, o.out, o.sbib, o.stst);
  atlvls(p, varn1, a, o.out, o.atmd);
  model(p, c, hydro, s, o.stst, o.out);
  pl.allocate(s.js);
  partf(1, c, s, a, pl, nama, o.ptfn, o.out);
  ioneq(1, p, s, a, pl, o.yhea, o.out);
  lines(p, c, s, pl, a, ll, varn2, o.out, o.stst, o.sbib, o.lhea);

  const std::string& st = o.stst.text();
  const auto at = st.find("Total No. Included =");
  ASSERT_NE(at, std::string::npos);
  const int total = std::stoi(st.substr(at + 20, 6));
  EXPECT_EQ(total, ll.nl);
  EXPECT_EQ(std::count(o.lhea.text().begin(), o.lhea.text().end(), '\n'), total);
  EXPECT_GT(total, 1000);

  const std::vector<Line> want = expected_lines(data / "lines" / "varn2", p, s, pl, a);
  ASSERT_EQ(static_cast<int>(want.size()), ll.nl);
  for (int n = 1; n <= ll.nl; ++n) {
    const Line& w = want[static_cast<std::size_t>(n - 1)];
    ASSERT_EQ(ll.lup(n), w.lup) << "transition " << n;
    ASSERT_EQ(ll.llo(n), w.llo) << "transition " << n;
    EXPECT_EQ(ll.zcode(n), w.zcode);
    EXPECT_EQ(ll.loggf(n), w.loggf);
    EXPECT_NEAR(ll.taumax(n), w.taumax, 1e-12 * w.taumax) << "transition " << n;
  }
}

}  // namespace
}  // namespace mcspec::test
