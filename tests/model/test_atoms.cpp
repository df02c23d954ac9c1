// Composition, ion selection and level reading on small hand-made data directories:
// the normalisation by hand, the ion list and level counts against the cut-off, and
// the inputs and capacities that must be refused with the file named.
#include <gtest/gtest.h>

#include "base/errors.hpp"
#include "support/atomic_data.hpp"

namespace mcspec::test {
namespace {

TEST(ReadElementsAndComposition, NormalisesTheCompositionInRecordOrder) {
  // The k-th record is Z = k (its number and symbol must say so; a name that is no
  // element symbol is accepted).
  const LoadedData l(DataSet{}, "  1 H 0.5\n 2 helium 0.3\n 3 li 0.1\n");
  const Atoms& a = l.a;
  EXPECT_EQ(a.nel, 3);
  EXPECT_DOUBLE_EQ(a.xmass(1), 0.5 / 0.9);
  EXPECT_DOUBLE_EQ(a.xmass(3), 0.1 / 0.9);
  // Number fractions X/A normalised: H 0.5/1.008 against He 0.3/4 and Li 0.1/6.
  const double nhe = 0.3 / 4.0, sum = 0.5 / 1.008 + nhe + 0.1 / 6.0;
  EXPECT_CONTAINS(l.o.sbib.text(), render("(I9, 2X, A3, 3F13.6)", 2, " He", 0.3, 0.3 / 0.9, nhe / sum));
}

// C: CHI(1) = 29.9 eV, N: CHI(1) = 30.1 eV, CHL = 30 eV. The ions' levels decide the
// rest: C II has one level below the cut-off (leaves the list), N I none (stays with
// NLEV = 0), He I counts up to 425000 cm^-1 whatever CHL.
TEST(ReadLevels, IonFlagsCountsAndTheIonList) {
  Params p = example_params();
  p.chl = 30.0;
  p.chlcm = 30.0 * 8065.46;
  const double high = 300000.0;  // above CHLCM = 241964 cm^-1
  DataSet d({0.0, 0.2, 0.0, 0.0, 0.0, 0.4, 0.4});
  d.chi = {{{6, 1}, 29.9}, {{7, 1}, 30.1}};
  d.ions = {{2, 1, {{0, 0}, {300000, 1}, {-420000, 0}, {430000, 1}}, {}},
            {6, 1, {{0, 0}, {10, 1}}, {}},
            {6, 2, {{0, 0.5}, {high, 1.5}, {high + 1, 0.5}}, {}},
            {7, 1, {{high, 1.5}, {high + 2, 0.5}}, {}},
            {7, 2, {{0, 0}, {1, 1}}, {}}};
  const LoadedData l(d, "", p);
  const Atoms& a = l.a;
  // ion flags of C II (one level), N II (30.1 eV > CHL), N I; level counts
  EXPECT_EQ((std::vector<int>{a.ionflag(6, 2), a.ionflag(7, 2), a.ionflag(7, 1)}), (std::vector<int>{0, 0, 1}));
  EXPECT_EQ((std::vector<int>{a.nlev(2, 1), a.nlev(6, 2), a.nlev(7, 1), a.nlev(7, 2)}), (std::vector<int>{3, 1, 0, 0}));
  ASSERT_EQ(a.nion, 3);  // He I, C I, N I (which took over C II's entry)
  EXPECT_EQ((std::vector<int>{a.ionz(1), a.ionj(1), a.ionz(2), a.ionj(2), a.ionz(3), a.ionj(3)}),
            (std::vector<int>{2, 1, 6, 1, 7, 1}));
  EXPECT_EQ(a.nlvtot, 4 + 2 + 3 + 2);  // C II's levels stay in the table
  EXPECT_EQ(a.lev1(7, 1), 10);
  EXPECT_EQ(a.stored_levels(7, 2), 2);  // also for an ion that does not take part
}

TEST(ReadLevels, LevelCapacitiesAndTheClosingBlock) {
  DataSet many({1.0});
  many.ions.push_back({1, 1, {}, {}});
  for (int i = 0; i < 851; ++i) many.ions[0].levels.push_back({i * 10.0, 0.5});
  const std::string msg = message_of<InputError>([&] { LoadedData l(many); });
  EXPECT_CONTAINS(msg, "varn1.new");
  EXPECT_CONTAINS(msg, "850");
  DataSet open = many;
  open.ions[0].levels.resize(5);
  open.close_files = false;
  EXPECT_CONTAINS(message_of<InputError>([&] { LoadedData l(open); }), "Z = 56, stage 2");
}

}  // namespace
}  // namespace mcspec::test
