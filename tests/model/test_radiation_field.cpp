// The radiation-field file: a written field reads back bit for bit, a field on other
// shells is interpolated linearly in velocity (worked by hand), and a bad file is
// refused naming its record and field.
#include <gtest/gtest.h>

#include <string>

#include "base/errors.hpp"
#include "model/radiation_field.hpp"

namespace mcspec {
namespace {

Shells shells(std::initializer_list<double> v) {
  Shells s;
  s.js = static_cast<int>(v.size());
  for (Array1<double>* a : {&s.vs, &s.tr, &s.w, &s.te}) a->assign(s.js);
  int j = 1;
  for (const double x : v) s.vs(j++) = x;
  return s;
}

RadiationField read(const std::string& text) {
  InFile in;
  in.open_text("warmstart.dat", text);
  return read_radiation_field(in, 1000, 1e5);
}

TEST(RadiationField, WrittenFieldReadsBackExactly) {
  Shells s = shells({9183.6734693877552, 10000.000000000002, 40909.090909090912});
  const double tr[] = {14839.483356927862, 1e4 / 3, 7125.9136131259911}, w[] = {0.49467986678492182, 0.1, 1.0 / 7};
  for (int j = 1; j <= 3; ++j) s.tr(j) = tr[j - 1], s.w(j) = w[j - 1], s.te(j) = 0.9 * tr[j - 1];
  OutFile out = OutFile::memory("radfield.dat");
  write_radiation_field(s, 13754.578219150997, out);
  const RadiationField f = read(out.text());
  EXPECT_EQ(f.tb, 13754.578219150997);
  Shells t = shells({9183.6734693877552, 10000.000000000002, 40909.090909090912});
  EXPECT_TRUE(apply_radiation_field(f, t));
  for (int j = 1; j <= 3; ++j) {
    EXPECT_EQ(t.tr(j), s.tr(j));
    EXPECT_EQ(t.w(j), s.w(j));
    EXPECT_EQ(t.te(j), s.te(j));
  }
}

TEST(RadiationField, OtherShellsInterpolatedInVelocityAndClampedAtTheEnds) {
  const RadiationField f = read("12000\n1 10000 10000 0.5 9000\n2 20000 12000 0.1 11000\n");
  Shells s = shells({5000, 12500, 20000, 30000});
  EXPECT_FALSE(apply_radiation_field(f, s));
  const double tr[] = {10000, 10500, 12000, 12000}, w[] = {0.5, 0.4, 0.1, 0.1}, te[] = {9000, 9500, 11000, 11000};
  for (int j = 1; j <= 4; ++j) {
    EXPECT_DOUBLE_EQ(s.tr(j), tr[j - 1]) << j;
    EXPECT_DOUBLE_EQ(s.w(j), w[j - 1]) << j;
    EXPECT_DOUBLE_EQ(s.te(j), te[j - 1]) << j;
  }
}

TEST(RadiationField, BadFilesNameRecordAndField) {
  const struct {
    const char* text;
    long record;
    int field;
  } cases[] = {
      {"# header only\n", 0, 0},
      {"12000 1\n", 1, 2},
      {"nan\n1 1e4 1e4 0.5 9e3\n", 1, 1},
      {"500\n1 1e4 1e4 0.5 9e3\n", 1, 1},                            // TB below the limit
      {"12000\n", 0, 0},                                              // no shells
      {"12000\n2 1e4 1e4 0.5 9e3\n", 2, 1},                           // numbering
      {"12000\n1 1e4 1e4 0.5\n", 2, 5},                               // TE missing
      {"12000\n1 1e4 1e4 1.5 9e3\n", 2, 4},                           // W > 1
      {"12000\n1 1e4 1e4 0 9e3\n", 2, 4},                             // W = 0
      {"12000\n1 1e4 inf 0.5 9e3\n", 2, 3},
      {"12000\n1 1e4 1e4 0.5 2e5\n", 2, 5},                           // TE above the limit
      {"12000\n1 1e4 1e4 0.5 9e3\n# c\n2 1e4 1e4 0.5 9e3\n", 4, 2},  // velocity not increasing
      {"12000\n1 -1 1e4 0.5 9e3\n", 2, 2},
      {"12000\n1 1e4 1e4x 0.5 9e3\n", 2, 3},
  };
  for (const auto& c : cases) {
    try {
      read(c.text);
      ADD_FAILURE() << c.text << ": accepted";
    } catch (const InputError& e) {
      EXPECT_EQ(e.file(), "warmstart.dat") << c.text;
      EXPECT_EQ(e.record(), c.record) << c.text << ": " << e.what();
      EXPECT_EQ(e.field(), c.field) << c.text << ": " << e.what();
    }
  }
}

}  // namespace
}  // namespace mcspec
