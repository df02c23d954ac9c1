// Frequency ordering: sort1 against a reference ordering, the maps between
// transitions and list positions, downward ranges, resonance flags and lhea.dat.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <sstream>

#include "model/model_fixture.hpp"

namespace mcspec::test {
namespace {

std::vector<int> sorted_by_sort1(const std::vector<double>& x) {
  std::vector<int> index(x.size(), -1);
  sort1(x, index);
  return index;
}

// Ascending value, the later index first among equal values.
std::vector<int> reference_order(const std::vector<double>& x) {
  std::vector<int> idx(x.size());
  std::iota(idx.begin(), idx.end(), 1);
  std::stable_sort(idx.begin(), idx.end(), [&](int a, int b) { return x[a - 1] < x[b - 1] || (x[a - 1] == x[b - 1] && a > b); });
  return idx;
}

TEST(Sort1, SmallAndDegenerateInputs) {
  EXPECT_EQ(sorted_by_sort1({4.2}), std::vector<int>{1});
  EXPECT_EQ(sorted_by_sort1({3.0, 3.0, 3.0, 3.0}), (std::vector<int>{4, 3, 2, 1}));
  EXPECT_EQ(sorted_by_sort1({2.0, 1.0, 2.0}), (std::vector<int>{2, 3, 1}));
}

TEST(Sort1, AgreesWithAStableReferenceSort) {
  std::mt19937 gen(12345);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int trial = 0; trial < 3; ++trial) {
    std::vector<double> x(3000);
    for (double& v : x) {
      v = std::pow(10.0, 13.0 + 3.0 * u(gen));                     // frequencies over three decades
      if (trial == 1) v = std::round(v / 1e14) * 1e14;            // many exact ties
    }
    if (trial == 2) x[7] = 1e20;                                  // one far outlier: crowded buckets
    EXPECT_EQ(sorted_by_sort1(x), reference_order(x)) << "trial " << trial;
  }
}

// Four lines: 1500 A (only line from level 3, flagged lower level), 4000 A, and two
// at H-alpha (6564.61 A in vacuum) from level 5, one of them with a flagged lower level.
LineList hand_made_lines(const Constants& c) {
  const double cang = std::pow(10.0, c.log_c() + 8.0);
  LineList ll;
  ll.nl = 4;
  ll.nlevels = 6;
  ll.frql.vec() = {cang / 1500.0, cang / 6564.61, cang / 6564.61, cang / 4000.0};
  ll.lup.vec() = {3, 5, 5, 4};
  ll.llo.vec() = {-1, 2, -1, 1};
  ll.loggf.vec() = {-1.5, 0.7, -0.2, -2.0};
  ll.zcode.vec() = {6.01, 1.0, 1.0, 6.01};
  ll.taumax.vec() = {0.025, 3.0, 1.0, 1e-4};
  ll.elowt.vec() = {0.0, 82259.0, 0.0, 0.0};
  return ll;
}

TEST(OrderLines, MapsRangesAndResonanceFlags) {
  const Constants c = test_constants();
  LineList ll = hand_made_lines(c);
  Outputs o;
  order_lines(c, ll, o.out, o.stst, o.lhea);
  EXPECT_EQ(ll.kpos.vec(), (std::vector<int>{1, 3, 4, 2}));  // equal frequencies keep transition order
  for (int p = 1; p <= 4; ++p) EXPECT_EQ(ll.kpos(ll.transition_at(p)), p);
  ASSERT_EQ(ll.frq.size(), 5);
  EXPECT_EQ(ll.frq(5), 0.0);
  EXPECT_GT(ll.frq(1), ll.frq(2));
  EXPECT_EQ(ll.elow(3), 82259.0);
  EXPECT_EQ(ll.idn1(5), 2);
  EXPECT_EQ(ll.idn2(5), 3);
  EXPECT_EQ(ll.idn1(3), 1);
  EXPECT_EQ(ll.idn2(3), 1);
  EXPECT_EQ(ll.idn1(6), 0);
  EXPECT_EQ(ll.idn2(6), 0);
  EXPECT_EQ(ll.lcasc.vec(), (std::vector<int>{0, 1, 1, 1}));
  const std::string closing = "\n" + std::string(25, ' ') + "No. eff res lines =     1\n\n\n     Line list read\n";
  EXPECT_EQ(o.out.text().substr(0, closing.size()), closing);
  EXPECT_EQ(o.stst.text(), "");
}

// Vacuum wavelengths up to 2000 A, air wavelengths above (H-alpha: 6562.80 A).
TEST(OrderLines, LineReportInVacuumAndAir) {
  const Constants c = test_constants();
  LineList ll = hand_made_lines(c);
  Outputs o;
  order_lines(c, ll, o.out, o.stst, o.lhea);
  std::istringstream in(o.lhea.text());
  std::string rec;
  std::getline(in, rec);
  EXPECT_EQ(rec, "      1      1 0.199862E+16   1500.000    6.01   -1.500     -1      3 0.250E-01");
  std::getline(in, rec);
  EXPECT_NEAR(std::stod(rec.substr(27, 11)), 6562.80, 0.01) << rec;
  std::getline(in, rec);
  std::getline(in, rec);
  EXPECT_NEAR(std::stod(rec.substr(27, 11)), 3998.87, 0.01) << rec;

  LineList bad;
  bad.nl = 1;
  bad.frql.vec() = {-1e15};
  bad.lup.vec() = {2};
  bad.llo.vec() = {1};
  bad.loggf.vec() = {0.0};
  bad.zcode.vec() = {26.01};
  bad.taumax.vec() = {0.0};
  bad.elowt.vec() = {0.0};
  Outputs ob;
  order_lines(c, bad, ob.out, ob.stst, ob.lhea);
  EXPECT_EQ(ob.stst.text().substr(0, 7), "  wair ");
}

}  // namespace
}  // namespace mcspec::test
