// Record formatter output against records worked out by hand: every descriptor, the
// decimal rounding of binary values, field overflow, non-finite values and the record
// structure of slashes, groups and format reversion.
#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "base/errors.hpp"
#include "base/format.hpp"

namespace mcspec {
namespace {

struct Case {
  const char* fmt;
  std::vector<FmtArg> args;
  std::string want;
};

const double kInf = std::numeric_limits<double>::infinity(), kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(FormatOutput, RecordsWorkedByHand) {
  const std::string b25(25, ' ');
  const Case cases[] = {
      // integers, overflow to asterisks, minimum digits, the most negative value
      {"(I5)", {42}, "   42\n"}, {"(I3)", {-100}, "***\n"}, {"(I3)", {1000}, "***\n"}, {"(I5.3)", {-7}, " -007\n"},
      {"(I0)", {-1234}, "-1234\n"}, {"(I20)", {std::numeric_limits<long long>::min()}, "-9223372036854775808\n"},
      // fixed point: the binary value is rounded once (0.05 = 0.0500...0277, 0.35 =
      // 0.3499...978, 2.0005 = 2.00050...167), exact ties to even
      {"(F5.1)", {0.05}, "  0.1\n"}, {"(F5.1)", {0.25}, "  0.2\n"}, {"(F5.1)", {0.35}, "  0.3\n"},
      {"(F8.3)", {2.0005}, "   2.001\n"}, {"(F7.3)", {-0.0004}, " -0.000\n"}, {"(F6.0)", {2.5}, "    2.\n"},
      {"(F6.0)", {3.5}, "    4.\n"}, {"(F5.2)", {3}, " 3.00\n"},
      // the leading zero only when there is room; overflow after rounding
      {"(F5.3)", {0.5}, "0.500\n"}, {"(F4.3)", {0.5}, ".500\n"}, {"(F5.3)", {-0.5}, "-.500\n"},
      {"(F4.3)", {-0.5}, "****\n"}, {"(F6.1)", {999.96}, "1000.0\n"}, {"(F5.1)", {999.96}, "*****\n"},
      {"(F8.2)", {1e300}, "********\n"}, {"(F3.3)", {0.5}, "***\n"},
      // exponent forms; three-digit exponents take the place of the letter
      {"(E10.3)", {123456.0}, " 0.123E+06\n"}, {"(E8.3)", {123456.0}, ".123E+06\n"}, {"(E7.3)", {123456.0}, "*******\n"},
      {"(E9.3)", {-123456.0}, "-.123E+06\n"}, {"(E10.3)", {0.99995}, " 0.100E+01\n"},
      {"(D11.3)", {0.000123456}, "  0.123D-03\n"}, {"(ES10.3)", {-0.00098765}, "-9.877E-04\n"},
      {"(ES8.0)", {5e10}, "  5.E+10\n"}, {"(E12.4E3)", {1.5e5}, " 0.1500E+006\n"}, {"(E11.4E1)", {1.5e12}, "***********\n"},
      {"(E10.3)", {0.0}, " 0.000E+00\n"}, {"(ES10.3)", {0.0}, " 0.000E+00\n"}, {"(E12.4)", {1.5e100}, "  0.1500+101\n"},
      {"(D10.3)", {1e-150}, " 0.100-149\n"}, {"(ES10.3)", {1e200}, " 1.000+200\n"}, {"(E10.3)", {1e99}, " 0.100+100\n"},
      // non-finite values
      {"(F8.2)", {kNaN}, "     NaN\n"}, {"(F8.2)", {kInf}, "Infinity\n"}, {"(F8.2)", {-kInf}, "    -Inf\n"}, {"(F9.2)", {-kInf}, "-Infinity\n"},
      {"(E10.3)", {kInf}, "  Infinity\n"}, {"(F3.1)", {kInf}, "Inf\n"}, {"(F3.1)", {-kInf}, "***\n"}, {"(F2.0)", {kNaN}, "**\n"},
      // texts and literals
      {"(A3)", {"Fe II"}, "Fe \n"}, {"(A5)", {"Fe"}, "   Fe\n"}, {"(A)", {"free length"}, "free length\n"},
      {"('It''s' I2)", {5}, "It's 5\n"}, {"(\"say \"\"x\"\"\")", {}, "say \"x\"\n"}, {"(I5 2X A)", {50, "%"}, "   50  %\n"},
      // slashes, repeated and nested groups
      {"(/ / 5X 'Spectrum' 8X 'Iteration =' I4 /)", {3}, "\n\n     Spectrum        Iteration =   3\n\n"},
      {"(/, F27.4, /, /)", {1.5}, "\n" + std::string(21, ' ') + "1.5000\n\n\n"}, {"(I2 2/ I2)", {1, 2}, " 1\n\n 2\n"},
      {"(/ 25X 'No. pkts   =' I8 / 25X 'Esc to inf =' I8)", {20000, 17},
       "\n" + b25 + "No. pkts   =   20000\n" + b25 + "Esc to inf =      17\n"},
      {"(2(I2, 2(1X, A1)))", {1, "a", "b", 2, "c", "d"}, " 1 a b 2 c d\n"},
      {"4(2I6, F8.3)", {2, -1, -0.08, 3, 1, -0.801}, "     2    -1  -0.080     3     1  -0.801\n"},
      // output stops at the first data descriptor without a value
      {"(I5, ' %', 3X, I5, ' end')", {1}, "    1 %   \n"}, {"(I3)", {}, "\n"}, {"(I3, ' tail')", {7}, "  7 tail\n"},
      // reversion: a new record at the last top-level group
      {"(I3)", {1, 2, 3}, "  1\n  2\n  3\n"}, {"(I3 / (2F5.1))", {1, 1.0, 2.0, 3.0, 4.0, 5.0}, "  1\n  1.0  2.0\n  3.0  4.0\n  5.0\n"},
      {"(I2, 2(I3))", {1, 2, 3, 4, 5, 6}, " 1  2  3\n  4  5\n  6\n"}, {"('x=' I2, (I2), 'y')", {1, 2, 3}, "x= 1 2y\n 3y\n"}};
  for (const Case& c : cases) EXPECT_EQ(render_record(c.fmt, c.args), c.want) << c.fmt;
  const Format& cached = cached_format("(I5, F8.2)");  // parsed once, then shared
  EXPECT_EQ(&cached, &cached_format(std::string("(I5, F8.2)")));
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

TEST(ListOutput, ItemsSeparatedByOneBlankRealsReadBackExactly) {
  const FmtArg items[] = {" taus", 1, -2, 1.0, 0.1, 1e20, 1e-7, 123456789.0, 0.1f, kInf, kNaN};
  EXPECT_EQ(render_list(items), "  taus 1 -2 1.0 0.1 1e+20 1e-07 123456789.0 0.1 Infinity NaN\n");
  for (double v : {1.0 / 3.0, 2.0 / 3.0e-300, 6.02214076e23, -4.9e-324, 0.1 + 0.2}) {  // round trip
    const FmtArg one[] = {v};
    const std::string s = render_list(one);
    EXPECT_EQ(std::strtod(s.c_str() + 1, nullptr), v) << s;
  }
}

}  // namespace
}  // namespace mcspec
