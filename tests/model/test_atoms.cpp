// Composition, ion selection and level reading on small hand-made data directories.
#include <gtest/gtest.h>

#include "common/errors.hpp"
#include "model/model_fixture.hpp"
#include "support/test_support.hpp"

namespace mcspec::test {
namespace {

TEST(Input, NormalisesTheCompositionInRecordOrder) {
  TempDir dir;
  DataSet d;
  d.comp = {0.5, 0.3, 0.1};
  d.write(dir.path());
  // The records' own atomic numbers do not matter: the k-th record is Z = k.
  write_file(dir / "comp.ind", "  8 O 0.5\n 26 Fe 0.3\n 14 Si 0.1\n");
  Atoms a;
  Outputs o;
  load_atoms(dir.path(), example_params(), a, o);
  EXPECT_EQ(a.nel, 3);
  EXPECT_DOUBLE_EQ(a.xmass(1), 0.5 / 0.9);
  EXPECT_DOUBLE_EQ(a.xmass(3), 0.1 / 0.9);
  EXPECT_EQ(o.stst.text(), "\n                     0.9000\n\n\n");
  EXPECT_EQ(o.out.text().substr(0, 38), "     Read abundances for  3 elements.\n");
  // Number fractions X/A normalised: H 0.5/1.008 against He 0.3/4 and Li 0.1/6.
  const double nh = 0.5 / 1.008, nhe = 0.3 / 4.0, nli = 0.1 / 6.0, sum = nh + nhe + nli;
  EXPECT_NE(o.sbib.text().find(render_record("(I9, 2X, A3, 3F13.6)",
                                             std::vector<FmtArg>{2, " He", 0.3, 0.3 / 0.9, nhe / sum})),
            std::string::npos)
      << o.sbib.text();
}

// 57 records: hydrogen, then nothing up to Z = 56, then La, which has no ionisation data.
std::string beyond_ionisation_data() {
  std::string c = "1 H 1\n";
  for (int z = 2; z <= 56; ++z) c += std::to_string(z) + " X 0\n";
  return c + "57 La 0.1\n";
}

TEST(Input, RefusesUnusableCompositionsAndPotentials) {
  const struct {
    std::string comp;
    std::string what;
  } bad[] = {{"1 H 0.5\n2 He -0.1\n", "negative fraction"},
             {"1 H 0\n", "zero sum"},
             {beyond_ionisation_data(), "mass beyond Z = 56"}};
  for (const auto& b : bad) {
    TempDir dir;
    DataSet d;
    d.write(dir.path());
    write_file(dir / "comp.ind", b.comp);
    Atoms a;
    Outputs o;
    EXPECT_THROW(load_atoms(dir.path(), example_params(), a, o), InputError) << b.what;
  }
  TempDir dir;
  DataSet d;
  d.comp = {1.0};
  d.write(dir.path());
  std::string ihea = read_file(dir / "ihea.ind");
  ihea.replace(6, 8, "     nan");  // CHI(1) of hydrogen
  write_file(dir / "ihea.ind", ihea);
  Atoms a;
  Outputs o;
  EXPECT_THROW(load_atoms(dir.path(), example_params(), a, o), InputError);
}

// C: CHI(1) = 29.9 eV, N: CHI(1) = 30.1 eV, CHL = 30 eV. The ions' levels decide
// the rest: C II has one level below the cut-off (leaves the list), N I none (stays
// with NLEV = 0), He I counts up to 425000 cm^-1 whatever CHL.
TEST(Atlvls, IonFlagsCountsAndTheIonList) {
  Params p = example_params();
  p.chl = 30.0;
  p.chlcm = 30.0 * 8065.46;
  TempDir dir;
  DataSet d;
  d.comp = {0.0, 0.2, 0.0, 0.0, 0.0, 0.4, 0.4};
  d.chi = {{{6, 1}, 29.9}, {{7, 1}, 30.1}};
  const double high = 300000.0;  // above CHLCM = 241964 cm^-1
  d.ions = {{2, 1, {{0, 0}, {300000, 1}, {-420000, 0}, {430000, 1}}, {}},
            {6, 1, {{0, 0}, {10, 1}}, {}},
            {6, 2, {{0, 0.5}, {high, 1.5}, {high + 1, 0.5}}, {}},
            {7, 1, {{high, 1.5}, {high + 2, 0.5}}, {}},
            {7, 2, {{0, 0}, {1, 1}}, {}}};
  d.write(dir.path());
  Atoms a;
  Outputs o;
  load_atoms(dir.path(), p, a, o);
  EXPECT_EQ(a.ionflag(6, 2), 0);  // dropped with one level
  EXPECT_EQ(a.ionflag(7, 2), 0);  // 30.1 eV > CHL
  EXPECT_EQ(a.ionflag(7, 1), 1);
  EXPECT_EQ(a.nlev(2, 1), 3);
  EXPECT_EQ(a.nlev(6, 2), 1);
  EXPECT_EQ(a.nlev(7, 1), 0);
  EXPECT_EQ(a.nlev(7, 2), 0);
  ASSERT_EQ(a.nion, 3);
  EXPECT_EQ(a.ionz(1) * 10 + a.ionj(1), 21);
  EXPECT_EQ(a.ionz(2) * 10 + a.ionj(2), 61);
  EXPECT_EQ(a.ionz(3) * 10 + a.ionj(3), 71);  // took over C II's entry
  EXPECT_EQ(a.nlvtot, 4 + 2 + 3 + 2);         // C II's levels stay in the table
  EXPECT_EQ(a.lev1(7, 1), 10);
  EXPECT_EQ(a.stored_levels(7, 2), 2);        // also for an ion that does not take part
  EXPECT_EQ(a.ion_label(26, 2), "Fe II");
  EXPECT_NE(o.out.text().find("\n     Total no. enrg lvls =     11\n\n     Total no. ions =   3\n"), std::string::npos);
  const std::string he =
      "\n\n      He I        NLV =   3\n\n        1           0.000     0.0\n        2      300000.000     1.0\n"
      "        3     -420000.000     0.0\n\n\n      C  I   ";
  EXPECT_EQ(o.atmd.text().substr(0, he.size()), he);
}

TEST(Atlvls, LevelCapacitiesAndTheClosingBlock) {
  Params p = example_params();
  auto run = [&](const DataSet& d) {
    TempDir dir;
    d.write(dir.path());
    Atoms a;
    Outputs o;
    load_atoms(dir.path(), p, a, o);
  };
  DataSet many;
  many.comp = {1.0};
  many.ions.push_back({1, 1, {}, {}});
  for (int i = 0; i < 851; ++i) many.ions[0].levels.push_back({i * 10.0, 0.5});
  try {
    run(many);
    ADD_FAILURE() << "851 levels accepted";
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find("varn1.new"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("850"), std::string::npos) << e.what();
  }
  DataSet open = many;
  open.ions[0].levels.resize(5);
  open.close_files = false;
  try {
    run(open);
    ADD_FAILURE() << "a level file without its closing block was accepted";
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find("Z = 56, stage 2"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace mcspec::test
