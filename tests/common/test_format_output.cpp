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

std::string rec(std::string_view fmt, std::initializer_list<FmtArg> args) {
  return render_record(fmt, std::span<const FmtArg>(args.begin(), args.size()));
}

TEST(FormatOutput, IntegerFields) {
  EXPECT_EQ(rec("(I5)", {42}), "   42\n");
  EXPECT_EQ(rec("(I3)", {-99}), "-99\n");
  EXPECT_EQ(rec("(I3)", {-100}), "***\n");
  EXPECT_EQ(rec("(I3)", {1000}), "***\n");
  EXPECT_EQ(rec("(I5.3)", {7}), "  007\n");
  EXPECT_EQ(rec("(I5.3)", {-7}), " -007\n");
  EXPECT_EQ(rec("(I0)", {-1234}), "-1234\n");
  EXPECT_EQ(rec("(I20)", {std::numeric_limits<long long>::min()}), "-9223372036854775808\n");
  EXPECT_EQ(rec("(2I4)", {1u, 20ul}), "   1  20\n");
}

TEST(FormatOutput, FixedPointRoundsTheBinaryValueOnce) {
  EXPECT_EQ(rec("(F5.1)", {0.05}), "  0.1\n");   // 0.05000000000000000277
  EXPECT_EQ(rec("(F5.1)", {0.25}), "  0.2\n");   // exact tie: to even
  EXPECT_EQ(rec("(F5.1)", {0.35}), "  0.3\n");   // 0.34999999999999997780
  EXPECT_EQ(rec("(F5.1)", {0.45}), "  0.5\n");   // 0.45000000000000001110
  EXPECT_EQ(rec("(F8.3)", {2.0005}), "   2.001\n");  // 2.00050000000000016698
  EXPECT_EQ(rec("(F7.3)", {-0.0004}), " -0.000\n");
  EXPECT_EQ(rec("(F10.6)", {-1.5}), " -1.500000\n");
  EXPECT_EQ(rec("(F8.1)", {12000.0}), " 12000.0\n");
  EXPECT_EQ(rec("(F6.0)", {2.5}), "    2.\n");
  EXPECT_EQ(rec("(F6.0)", {3.5}), "    4.\n");
  EXPECT_EQ(rec("(F5.2)", {3}), " 3.00\n");  // an integer is written as a real
}

TEST(FormatOutput, FixedPointDropsTheLeadingZeroOnlyWhenNeeded) {
  EXPECT_EQ(rec("(F5.3)", {0.5}), "0.500\n");
  EXPECT_EQ(rec("(F4.3)", {0.5}), ".500\n");
  EXPECT_EQ(rec("(F5.3)", {-0.5}), "-.500\n");
  EXPECT_EQ(rec("(F4.3)", {-0.5}), "****\n");
  EXPECT_EQ(rec("(F5.1)", {12345.6}), "*****\n");
  EXPECT_EQ(rec("(F6.1)", {999.96}), "1000.0\n");
  EXPECT_EQ(rec("(F5.1)", {999.96}), "*****\n");
  EXPECT_EQ(rec("(F8.2)", {1e300}), "********\n");
  EXPECT_EQ(rec("(F3.3)", {0.5}), "***\n");
}

TEST(FormatOutput, ExponentForms) {
  EXPECT_EQ(rec("(E10.3)", {123456.0}), " 0.123E+06\n");
  EXPECT_EQ(rec("(E9.3)", {123456.0}), "0.123E+06\n");
  EXPECT_EQ(rec("(E8.3)", {123456.0}), ".123E+06\n");
  EXPECT_EQ(rec("(E7.3)", {123456.0}), "*******\n");
  EXPECT_EQ(rec("(E9.3)", {-123456.0}), "-.123E+06\n");
  EXPECT_EQ(rec("(E10.3)", {0.99995}), " 0.100E+01\n");
  EXPECT_EQ(rec("(E10.3)", {-0.000123456}), "-0.123E-03\n");
  EXPECT_EQ(rec("(D11.3)", {0.000123456}), "  0.123D-03\n");
  EXPECT_EQ(rec("(D12.3)", {0.001234}), "   0.123D-02\n");
  EXPECT_EQ(rec("(ES10.3)", {123456.0}), " 1.235E+05\n");
  EXPECT_EQ(rec("(ES10.3)", {-0.00098765}), "-9.877E-04\n");
  EXPECT_EQ(rec("(ES8.0)", {5e10}), "  5.E+10\n");
  EXPECT_EQ(rec("(E12.4E3)", {1.5e5}), " 0.1500E+006\n");
  EXPECT_EQ(rec("(E11.4E1)", {1.5e12}), "***********\n");
}

TEST(FormatOutput, ExponentZeroAndThreeDigitExponents) {
  EXPECT_EQ(rec("(E10.3)", {0.0}), " 0.000E+00\n");
  EXPECT_EQ(rec("(ES10.3)", {0.0}), " 0.000E+00\n");
  EXPECT_EQ(rec("(D10.2)", {0}), "  0.00D+00\n");
  EXPECT_EQ(rec("(E12.4)", {1.5e100}), "  0.1500+101\n");
  EXPECT_EQ(rec("(E10.3)", {1e-150}), " 0.100-149\n");
  EXPECT_EQ(rec("(D10.3)", {1e-150}), " 0.100-149\n");
  EXPECT_EQ(rec("(ES10.3)", {1e200}), " 1.000+200\n");
  EXPECT_EQ(rec("(E10.3)", {1e99}), " 0.100+100\n");
}

TEST(FormatOutput, NonFiniteValues) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(rec("(F8.2)", {nan}), "     NaN\n");
  EXPECT_EQ(rec("(F8.2)", {inf}), "Infinity\n");
  EXPECT_EQ(rec("(F8.2)", {-inf}), "    -Inf\n");
  EXPECT_EQ(rec("(F9.2)", {-inf}), "-Infinity\n");
  EXPECT_EQ(rec("(E10.3)", {inf}), "  Infinity\n");
  EXPECT_EQ(rec("(F3.1)", {inf}), "Inf\n");
  EXPECT_EQ(rec("(F3.1)", {-inf}), "***\n");
  EXPECT_EQ(rec("(F2.0)", {nan}), "**\n");
}

TEST(FormatOutput, TextsAndLiterals) {
  EXPECT_EQ(rec("(A3)", {"Fe II"}), "Fe \n");
  EXPECT_EQ(rec("(A5)", {"Fe"}), "   Fe\n");
  EXPECT_EQ(rec("(A)", {std::string("free length")}), "free length\n");
  EXPECT_EQ(rec("('It''s' I2)", {5}), "It's 5\n");
  EXPECT_EQ(rec("(\"say \"\"x\"\"\")", {}), "say \"x\"\n");
  EXPECT_EQ(rec("(I5 2X A)", {50, "%"}), "   50  %\n");
  EXPECT_EQ(rec("(A F11.8 A F11.8)", {"a=", 0.5, " b=", -0.25}), "a= 0.50000000 b=-0.25000000\n");
}

TEST(FormatOutput, SlashesMakeRecords) {
  EXPECT_EQ(rec("(/ 5X 'Finish ' 'Monte ' 'Carlo')", {}), "\n     Finish Monte Carlo\n");
  EXPECT_EQ(rec("(/ / 5X 'Spectrum' 8X 'Iteration =' I4 /)", {3}), "\n\n     Spectrum        Iteration =   3\n\n");
  EXPECT_EQ(rec("(/, F27.4, /, /)", {1.5}), "\n" + std::string(21, ' ') + "1.5000\n\n\n");
  EXPECT_EQ(rec("(/ 9X 'En consv.' ' check' D12.3 / /)", {0.001234}),
            "\n         En consv. check   0.123D-02\n\n\n");
  EXPECT_EQ(rec("(/ 7I10 /)", {1, 2, 3, 4, 5, 6, 7}),
            "\n         1         2         3         4         5         6         7\n\n");
  EXPECT_EQ(rec("(I2 2/ I2)", {1, 2}), " 1\n\n 2\n");
  EXPECT_EQ(rec("(/ 25X 'No. pkts   =' I8 / 25X 'Esc to inf =' I8)", {20000, 17}),
            "\n" + std::string(25, ' ') + "No. pkts   =   20000\n" + std::string(25, ' ') + "Esc to inf =      17\n");
}

TEST(FormatOutput, RepeatedAndNestedGroups) {
  EXPECT_EQ(rec("(2(I2, 2(1X, A1)))", {1, "a", "b", 2, "c", "d"}), " 1 a b 2 c d\n");
  EXPECT_EQ(rec("( / I3 2X A3 33X 4( 4X A6 2X ) )", {26, "Fe", "I", "II", "III", "IV"}),
            "\n 26   Fe" + std::string(33, ' ') + "    " + "     I" + "  " + "    " + "    II" + "  " + "    " +
                "   III" + "  " + "    " + "    IV" + "  \n");
  EXPECT_EQ(rec("4(2I6, F8.3)", {2, -1, -0.08, 3, 1, -0.801}), "     2    -1  -0.080     3     1  -0.801\n");
  EXPECT_EQ(rec("(F10.5 4X A3 A5 2(F12.3 F5.1) F10.2)", {0.5, "Fe", "II", 100.0, 0.5, 0.0, 1.5, 3.25}),
            std::string("   0.50000") + "    " + " Fe" + "   II" + "     100.000" + "  0.5" + "       0.000" + "  1.5" +
                "      3.25\n");
}

TEST(FormatOutput, OutputStopsAtTheFirstDescriptorWithoutAValue) {
  EXPECT_EQ(rec("(I5, ' %', 3X, I5, ' end')", {1}), "    1 %   \n");
  EXPECT_EQ(rec("(4F6.1)", {1.0, 2.0}), "   1.0   2.0\n");
  EXPECT_EQ(rec("(I3)", {}), "\n");
  EXPECT_EQ(rec("(I3, ' tail')", {7}), "  7 tail\n");
}

TEST(FormatOutput, ReversionStartsANewRecordAtTheLastTopLevelGroup) {
  EXPECT_EQ(rec("(I3)", {1, 2, 3}), "  1\n  2\n  3\n");
  EXPECT_EQ(rec("(I3 / (2F5.1))", {1, 1.0, 2.0, 3.0, 4.0, 5.0}), "  1\n  1.0  2.0\n  3.0  4.0\n  5.0\n");
  EXPECT_EQ(rec("(I2, 2(I3))", {1, 2, 3, 4, 5, 6}), " 1  2  3\n  4  5\n  6\n");
  EXPECT_EQ(rec("('x=' I2, (I2), 'y')", {1, 2, 3}), "x= 1 2y\n 3y\n");
}

TEST(FormatOutput, WrongValueKindsAndBadFormatsAreProgramFaults) {
  EXPECT_THROW(rec("(I5)", {1.5}), InternalError);
  EXPECT_THROW(rec("(A5)", {3}), InternalError);
  EXPECT_THROW(rec("(F5.1)", {"x"}), InternalError);
  EXPECT_THROW(rec("('only text')", {1}), InternalError);
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
  const Format& b = cached_format(std::string("(I5, F8.2)"));
  EXPECT_EQ(&a, &b);
  EXPECT_EQ(a.text(), "(I5, F8.2)");
  const FmtArg args[] = {3, 1.5};
  EXPECT_EQ(a.render(args), "    3    1.50\n");
}

TEST(ListOutput, ItemsSeparatedByOneBlank) {
  const FmtArg a[] = {" taus", 1, -2};
  EXPECT_EQ(render_list(a), "  taus 1 -2\n");
  const FmtArg reals[] = {1.0, 0.1, 1e20, -2.5, 1e-7, 123456789.0, 0.1f};
  EXPECT_EQ(render_list(reals), " 1.0 0.1 1e+20 -2.5 1e-07 123456789.0 0.1\n");
  const FmtArg odd[] = {std::numeric_limits<double>::infinity(), std::nan("")};
  EXPECT_EQ(render_list(odd), " Infinity NaN\n");
}

TEST(ListOutput, RealsReadBackExactly) {
  for (double v : {1.0 / 3.0, 2.0 / 3.0e-300, 6.02214076e23, -4.9e-324, 0.1 + 0.2}) {
    const FmtArg a[] = {v};
    const std::string s = render_list(a);
    EXPECT_EQ(std::strtod(s.c_str() + 1, nullptr), v) << s;
  }
}

}  // namespace
}  // namespace mcspec
