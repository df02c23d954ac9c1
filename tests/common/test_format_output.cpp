// Record formatter output: every descriptor against records worked out by hand,
// including the decimal rounding of binary values, field overflow and the record
// structure produced by slashes, groups and format reversion.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "common/errors.hpp"
#include "common/format.hpp"

namespace mcspec {
namespace {

struct Case {
  const char* fmt;
  std::vector<FmtArg> args;
  std::string want;
};

void expect_records(const std::vector<Case>& cases) {
  for (const Case& c : cases) EXPECT_EQ(render_record(c.fmt, c.args), c.want) << c.fmt;
}

const double kInf = std::numeric_limits<double>::infinity(), kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(FormatOutput, IntegerFields) {
  expect_records({{"(I5)", {42}, "   42\n"}, {"(I3)", {-99}, "-99\n"}, {"(I3)", {-100}, "***\n"},
                  {"(I3)", {1000}, "***\n"}, {"(I5.3)", {7}, "  007\n"}, {"(I5.3)", {-7}, " -007\n"},
                  {"(I0)", {-1234}, "-1234\n"}, {"(2I4)", {1u, 20ul}, "   1  20\n"},
                  {"(I20)", {std::numeric_limits<long long>::min()}, "-9223372036854775808\n"}});
}

TEST(FormatOutput, FixedPointRoundsTheBinaryValueOnce) {
  expect_records({{"(F5.1)", {0.05}, "  0.1\n"},       // 0.05000000000000000277
                  {"(F5.1)", {0.25}, "  0.2\n"},       // exact tie: to even
                  {"(F5.1)", {0.35}, "  0.3\n"},       // 0.34999999999999997780
                  {"(F5.1)", {0.45}, "  0.5\n"},       // 0.45000000000000001110
                  {"(F8.3)", {2.0005}, "   2.001\n"},  // 2.00050000000000016698
                  {"(F7.3)", {-0.0004}, " -0.000\n"}, {"(F10.6)", {-1.5}, " -1.500000\n"},
                  {"(F8.1)", {12000.0}, " 12000.0\n"}, {"(F6.0)", {2.5}, "    2.\n"}, {"(F6.0)", {3.5}, "    4.\n"},
                  {"(F5.2)", {3}, " 3.00\n"}});  // an integer is written as a real
}

TEST(FormatOutput, FixedPointDropsTheLeadingZeroOnlyWhenNeeded) {
  expect_records({{"(F5.3)", {0.5}, "0.500\n"}, {"(F4.3)", {0.5}, ".500\n"}, {"(F5.3)", {-0.5}, "-.500\n"},
                  {"(F4.3)", {-0.5}, "****\n"}, {"(F5.1)", {12345.6}, "*****\n"}, {"(F6.1)", {999.96}, "1000.0\n"},
                  {"(F5.1)", {999.96}, "*****\n"}, {"(F8.2)", {1e300}, "********\n"}, {"(F3.3)", {0.5}, "***\n"}});
}

TEST(FormatOutput, ExponentForms) {
  expect_records({{"(E10.3)", {123456.0}, " 0.123E+06\n"}, {"(E9.3)", {123456.0}, "0.123E+06\n"},
                  {"(E8.3)", {123456.0}, ".123E+06\n"}, {"(E7.3)", {123456.0}, "*******\n"},
                  {"(E9.3)", {-123456.0}, "-.123E+06\n"}, {"(E10.3)", {0.99995}, " 0.100E+01\n"},
                  {"(E10.3)", {-0.000123456}, "-0.123E-03\n"}, {"(D11.3)", {0.000123456}, "  0.123D-03\n"},
                  {"(ES10.3)", {123456.0}, " 1.235E+05\n"}, {"(ES10.3)", {-0.00098765}, "-9.877E-04\n"},
                  {"(ES8.0)", {5e10}, "  5.E+10\n"}, {"(E12.4E3)", {1.5e5}, " 0.1500E+006\n"},
                  {"(E11.4E1)", {1.5e12}, "***********\n"},
                  // zero, and three-digit exponents that take the place of the letter
                  {"(E10.3)", {0.0}, " 0.000E+00\n"}, {"(ES10.3)", {0.0}, " 0.000E+00\n"},
                  {"(D10.2)", {0}, "  0.00D+00\n"}, {"(E12.4)", {1.5e100}, "  0.1500+101\n"},
                  {"(D10.3)", {1e-150}, " 0.100-149\n"}, {"(ES10.3)", {1e200}, " 1.000+200\n"},
                  {"(E10.3)", {1e99}, " 0.100+100\n"}});
}

TEST(FormatOutput, NonFiniteValues) {
  expect_records({{"(F8.2)", {kNaN}, "     NaN\n"}, {"(F8.2)", {kInf}, "Infinity\n"}, {"(F8.2)", {-kInf}, "    -Inf\n"},
                  {"(F9.2)", {-kInf}, "-Infinity\n"}, {"(E10.3)", {kInf}, "  Infinity\n"}, {"(F3.1)", {kInf}, "Inf\n"},
                  {"(F3.1)", {-kInf}, "***\n"}, {"(F2.0)", {kNaN}, "**\n"}});
}

TEST(FormatOutput, TextsAndLiterals) {
  expect_records({{"(A3)", {"Fe II"}, "Fe \n"}, {"(A5)", {"Fe"}, "   Fe\n"}, {"(A)", {"free length"}, "free length\n"},
                  {"('It''s' I2)", {5}, "It's 5\n"}, {"(\"say \"\"x\"\"\")", {}, "say \"x\"\n"},
                  {"(I5 2X A)", {50, "%"}, "   50  %\n"},
                  {"(A F11.8 A F11.8)", {"a=", 0.5, " b=", -0.25}, "a= 0.50000000 b=-0.25000000\n"}});
}

TEST(FormatOutput, SlashesGroupsAndReversion) {
  const std::string b25(25, ' ');
  expect_records({
      {"(/ 5X 'Finish ' 'Monte ' 'Carlo')", {}, "\n     Finish Monte Carlo\n"},
      {"(/ / 5X 'Spectrum' 8X 'Iteration =' I4 /)", {3}, "\n\n     Spectrum        Iteration =   3\n\n"},
      {"(/, F27.4, /, /)", {1.5}, "\n" + std::string(21, ' ') + "1.5000\n\n\n"},
      {"(/ 9X 'En consv.' ' check' D12.3 / /)", {0.001234}, "\n         En consv. check   0.123D-02\n\n\n"},
      {"(/ 7I10 /)", {1, 2, 3, 4, 5, 6, 7}, "\n         1         2         3         4         5         6         7\n\n"},
      {"(I2 2/ I2)", {1, 2}, " 1\n\n 2\n"},
      {"(/ 25X 'No. pkts   =' I8 / 25X 'Esc to inf =' I8)", {20000, 17},
       "\n" + b25 + "No. pkts   =   20000\n" + b25 + "Esc to inf =      17\n"},
      // repeated and nested groups
      {"(2(I2, 2(1X, A1)))", {1, "a", "b", 2, "c", "d"}, " 1 a b 2 c d\n"},
      {"( / I3 2X A3 33X 4( 4X A6 2X ) )", {26, "Fe", "I", "II", "III", "IV"},
       "\n 26   Fe" + std::string(33, ' ') + "         I          II         III          IV  \n"},
      {"4(2I6, F8.3)", {2, -1, -0.08, 3, 1, -0.801}, "     2    -1  -0.080     3     1  -0.801\n"},
      {"(F10.5 4X A3 A5 2(F12.3 F5.1) F10.2)", {0.5, "Fe", "II", 100.0, 0.5, 0.0, 1.5, 3.25},
       "   0.50000     Fe   II     100.000  0.5       0.000  1.5      3.25\n"},
      // output stops at the first data descriptor without a value
      {"(I5, ' %', 3X, I5, ' end')", {1}, "    1 %   \n"}, {"(4F6.1)", {1.0, 2.0}, "   1.0   2.0\n"},
      {"(I3)", {}, "\n"}, {"(I3, ' tail')", {7}, "  7 tail\n"},
      // reversion: a new record at the last top-level group
      {"(I3)", {1, 2, 3}, "  1\n  2\n  3\n"}, {"(I3 / (2F5.1))", {1, 1.0, 2.0, 3.0, 4.0, 5.0}, "  1\n  1.0  2.0\n  3.0  4.0\n  5.0\n"},
      {"(I2, 2(I3))", {1, 2, 3, 4, 5, 6}, " 1  2  3\n  4  5\n  6\n"}, {"('x=' I2, (I2), 'y')", {1, 2, 3}, "x= 1 2y\n 3y\n"}});
}

TEST(FormatOutput, WrongValueKindsAndBadFormatsAreProgramFaults) {
  for (const Case& c : std::vector<Case>{{"(I5)", {1.5}, ""}, {"(A5)", {3}, ""}, {"(F5.1)", {"x"}, ""}, {"('only text')", {1}, ""}})
    EXPECT_THROW(render_record(c.fmt, c.args), InternalError) << c.fmt;
  for (const char* bad : {"(I5", "I5)", "(Q5)", "(F8)", "(F.3)", "(I)", "('abc)", "(E8.0)", "(0I3)", "(F8.2", "(2(I3)"}) {
    try {
      Format f(bad);
      ADD_FAILURE() << "accepted " << bad;
    } catch (const InternalError& e) {
      EXPECT_NE(std::string(e.what()).find(bad), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("column"), std::string::npos) << e.what();
    }
  }
}

TEST(FormatOutput, CachedFormatIsParsedOnce) {
  const Format& a = cached_format("(I5, F8.2)");
  EXPECT_EQ(&a, &cached_format(std::string("(I5, F8.2)")));
  EXPECT_EQ(a.text(), "(I5, F8.2)");
  const FmtArg args[] = {3, 1.5};
  EXPECT_EQ(a.render(args), "    3    1.50\n");
}

TEST(ListOutput, ItemsSeparatedByOneBlankRealsReadBackExactly) {
  const FmtArg a[] = {" taus", 1, -2};
  EXPECT_EQ(render_list(a), "  taus 1 -2\n");
  const FmtArg reals[] = {1.0, 0.1, 1e20, -2.5, 1e-7, 123456789.0, 0.1f, kInf, kNaN};
  EXPECT_EQ(render_list(reals), " 1.0 0.1 1e+20 -2.5 1e-07 123456789.0 0.1 Infinity NaN\n");
  for (double v : {1.0 / 3.0, 2.0 / 3.0e-300, 6.02214076e23, -4.9e-324, 0.1 + 0.2}) {
    const FmtArg one[] = {v};
    const std::string s = render_list(one);
    EXPECT_EQ(std::strtod(s.c_str() + 1, nullptr), v) << s;
  }
}

}  // namespace
}  // namespace mcspec
