// Composition, ion selection and level reading on small hand-made data directories: the
// normalisation by hand, the ion list and level counts against the cut-off, the inputs
// and capacities that must be refused with the file named. The composition against
// chemistry and the data: each "comp.ind" record must describe element Z = its record
// number, a raw sum far from 1 is worth a word, elements of noticeable mass that take no
// part are named with the reason, and the lowest boundary temperature follows the most
// easily ionised element present.
#include <gtest/gtest.h>

#include "base/errors.hpp"
#include "model/boundary_temperature.hpp"
#include "model/coverage.hpp"
#include "model/elements.hpp"
#include "support/models.hpp"

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

struct Loaded : LoadedData {
  std::vector<std::string> warnings;
  Loaded(const DataSet& d, const std::string& comp, const Params& p = example_params())
      : LoadedData(d, comp, p), warnings(composition_warnings(a, p, "comp.ind", "varn1.new")) {}
};

TEST(Elements, SymbolsOfThePeriodicTable) {
  EXPECT_EQ(mcspec::element_symbol(26), std::string_view("Fe"));
  EXPECT_EQ(mcspec::element_symbol(118), std::string_view("Og"));
  EXPECT_EQ(element_of_symbol(" fE "), 26);
  EXPECT_EQ(element_of_symbol("SI"), 14);
  EXPECT_EQ(element_of_symbol("Xx"), 0);
  EXPECT_EQ(element_of_symbol("iron"), 0);
}

TEST(CompositionRecords, SymbolsAreReadWhateverTheirCase) {
  // A shifted or misnamed record (the regression of a deleted Si record moving S onto P)
  // is refused in the malformed-input corpus; here the symbol's case.
  const InputError e = thrown<InputError>([&] { Loaded(DataSet{}, "1 H 0.5\n2 he 0.2\n3 o 0.3\n"); });
  EXPECT_EQ(e.record() * 10 + e.field(), 32) << e.what();
  EXPECT_CONTAINS(e.what(), "names o (Z = 8)");  // accepted case and names: test_atoms.cpp
}

TEST(CompositionWarnings, RawSumAndElementsLeftOut) {
  DataSet d;
  d.ions = {{1, 1, {{0.0, 0.5}, {82259.0, 1.5}}, {}},  // H I: two levels below CHL
            {2, 2, {{0.0, 0.5}, {329000.0, 0.5}}, {}}};  // He II only, made at 24.6 eV
  d.chi[{2, 1}] = 24.6;
  const auto has = [](const Loaded& l, const std::string& part) {
    for (const auto& w : l.warnings)
      if (w.find(part) != std::string::npos) return true;
    return false;
  };
  // 0.5 + 0.3 + 0.1 = 0.9: 10 % short. H takes part; He II needs 24.6 eV > CHL = 20;
  // Li (0.1) has no ion in the level file.
  Params p = example_params();
  p.chl = 20.0;
  p.chlcm = p.chl * 8065.46;
  const Loaded l(d, "1 H 0.5\n2 He 0.3\n3 Li 0.1\n", p);
  EXPECT_EQ(l.warnings.size(), 3u);
  EXPECT_TRUE(has(l, "add up to 0.9000, not 1"));
  EXPECT_TRUE(has(l, "He (Z = 2, mass fraction 0.3333) is left out of the line physics: its ions in the level file "
                     "need more than CHL = 20.00 eV to be made (He II 24.60 eV)"));
  EXPECT_TRUE(has(l, "Li (Z = 3, mass fraction 0.1111) is left out of the line physics: the level file \"varn1.new\" "
                     "has no ion of it"));
  // Within 1 %, and below 0.1 % of mass: nothing to say.
  EXPECT_TRUE(Loaded(d, "1 H 0.9995\n2 He 0\n3 Li 0.0009\n").warnings.empty());
  // No ion at all.
  const Loaded none(d, "1 H 0\n2 He 0\n3 Li 1.0\n");
  EXPECT_TRUE(has(none, "no ion takes part"));
}

TEST(BoundaryTemperature, LowestFollowsTheMostEasilyIonisedElement) {
  // 5040 chi / 240: H 13.6 eV -> 285.6 K; with Na (5.139 eV) present 107.9 K.
  DataSet d;
  d.chi[{1, 1}] = 13.6;
  d.chi[{11, 1}] = 5.139;
  std::string comp = "1 H 0.5\n";
  for (int z = 2; z <= 10; ++z) comp += std::to_string(z) + " x 0\n";
  EXPECT_NEAR(lowest_boundary_temperature(Loaded(d, comp).a), 285.6, 0.05);
  const Loaded l(d, comp + "11 Na 0.01\n");
  EXPECT_NEAR(lowest_boundary_temperature(l.a), 107.9, 0.05);
  Params p = example_params();
  p.logteff = std::log10(107.8);
  const InputError e = thrown<InputError>([&] { check_boundary_temperature(p, l.a, "dica.dat"); });
  EXPECT_CONTAINS(e.what(), "107.8 K, below 107.9 K");
  p.logteff = std::log10(108.0);
  EXPECT_NO_THROW(check_boundary_temperature(p, l.a, "dica.dat"));
}

}  // namespace
}  // namespace mcspec::test
