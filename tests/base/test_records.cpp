// Records in and out. Reading: fixed columns (blanks, implied decimals, short records,
// reversion) and free format (separators, continuation records, repeats, quoted texts),
// with the error messages that must point the user at file, record and field; files on
// disk: a failed write reported at close, records surviving a round trip through a file,
// inputs read whole whatever their line ends. Writing: records worked out by hand for
// every descriptor, the decimal rounding of binary values, field overflow, non-finite
// values and the record structure of slashes, groups and format reversion.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "base/errors.hpp"
#include "base/format.hpp"
#include "base/io.hpp"
#include "support/test_support.hpp"

namespace mcspec {
namespace {

using test::message_of;

InFile text_file(std::string_view text) {
  InFile f;
  f.open_text("t.dat", text);
  return f;
}

TEST(FixedColumns, IntegersTextsRealsAndRecordStructure) {
  InFile f = text_file(" 26Fe   55.8450\n    1234  12 34 1.5E2     1.5D2    1.5-1    -.25    15E1\n12345\n"
                       "     2    -1  -0.080     3     1  -0.801\nab\nxx  7 rest of it\n  8\nskipped\n  1  2\n  3  4\n");
  int z = 0;
  std::string sym;
  double v[7];
  f.read("(I3, A3, F9.4)", {z, sym, v[0]});
  EXPECT_EQ(sym + std::to_string(z), "Fe 26");
  EXPECT_EQ(v[0], 55.845);
  // No point: three implied decimals; blanks inside a field ignored; E, D or a bare
  // signed exponent; "15E1" is 15 with three implied decimals, times 10.
  f.read("(7F8.3)", {v[0], v[1], v[2], v[3], v[4], v[5], v[6]});
  EXPECT_EQ(std::vector<double>(v, v + 7), (std::vector<double>{1.234, 1.234, 150.0, 150.0, 0.15, -0.25, 0.15}));
  f.read("(F5.5)", {v[0]});
  EXPECT_EQ(v[0], 0.12345);
  // A short record reads as blanks (the last record of a line-list block).
  int i[4];
  double g[4];
  f.read("4(2I6, F8.3)", {i[0], z, g[0], i[1], z, g[1], i[2], z, g[2], i[3], z, g[3]});
  EXPECT_EQ((std::vector<int>(i, i + 4)), (std::vector<int>{2, 3, 0, 0}));
  EXPECT_EQ((std::vector<double>(g, g + 4)), (std::vector<double>{-0.08, -0.801, 0.0, 0.0}));
  f.read("(A4)", {sym});
  EXPECT_EQ(sym, "ab  ");
  f.read("(2X I3 A)", {z, sym});  // skip, integer, the rest of the record
  EXPECT_EQ(sym + std::to_string(z), " rest of it7");
  f.read("(I3 /)", {z});  // the slash after the last item still moves on
  EXPECT_EQ(f.record_number(), 8);
  f.read("(2I3)", {i[0], i[1], i[2], i[3]});  // reversion: a new record for i[2], i[3]
  EXPECT_EQ((std::vector<int>(i, i + 4)), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_TRUE(f.at_end());
}

TEST(FixedColumns, ErrorsNameFileRecordFieldAndColumns) {
  InFile f = text_file("  1  2\n  11.5\n   1.2x5\n  1\n");
  int a, b;
  double x;
  f.skip();
  EXPECT_EQ(message_of<InputError>([&] { f.read("(I3, I3)", {a, b}); }),
            "\"t.dat\", record 2, field 2: expected an integer in columns 4-6, found \"1.5\"");
  EXPECT_CONTAINS(message_of<InputError>([&] { f.read("(F8.3)", {x}); }), "expected a real number in columns 1-8");
  EXPECT_CONTAINS(message_of<EndOfFileError>([&] { f.read("(I3 / I3)", {a, b}); }), "end of file after record 4");
  EXPECT_THROW(text_file("  1\n").read("(F3.0)", {a}), InternalError);  // an integer variable for F: a program fault
}

TEST(FreeFormat, SeparatorsContinuationRecordsRepeatsAndQuotes) {
  // Each read starts a new record and continues over blank ones; values beyond those
  // needed are ignored, so comment records may hold words and numbers.
  InFile f = text_file(" 1, 2.5  abc\n 4 ,5\n\n  6\n NP4 (x 10000)  ITT 3\n  2  3  99\n"
                       "1.5D3 1. .5 1e5 -2.5E-3 1.0+05 7\n3*2.5 1\n'a b, c/d' \"it's\" 'x''y' 2*z\n 2*'a b' , 3\n");
  int i = 0, j = 0, k = 0, l = 0, m = 0;
  double v[7];
  std::string t[5];
  f.list(i, v[0], t[0]);
  EXPECT_EQ(std::to_string(i) + " " + t[0] + std::to_string(v[0]), "1 abc2.500000");
  f.list(j, k, l);
  EXPECT_EQ(f.record_number(), 4);
  f.skip();
  f.list(m, i);
  EXPECT_EQ((std::vector<int>{j, k, l, m, i}), (std::vector<int>{4, 5, 6, 2, 3}));
  f.list(v[0], v[1], v[2], v[3], v[4], v[5], v[6]);
  EXPECT_EQ(std::vector<double>(v, v + 7), (std::vector<double>{1500.0, 1.0, 0.5, 1e5, -2.5e-3, 1e5, 7.0}));
  f.list(v[0], v[1], v[2], v[3]);
  EXPECT_EQ(std::vector<double>(v, v + 4), (std::vector<double>{2.5, 2.5, 2.5, 1.0}));
  f.list(t[0], t[1], t[2], t[3], t[4]);
  EXPECT_EQ(std::vector<std::string>(t, t + 5), (std::vector<std::string>{"a b, c/d", "it's", "x'y", "z", "z"}));
  f.list(t[0], t[1], i);
  EXPECT_EQ(t[1] + std::to_string(i), "a b3");
}

TEST(FreeFormat, ErrorsNameFileRecordItemAndToken) {
  int a = 0, b = 0;
  double x = 0;
  std::string s;
  InFile f = text_file("\n 5 1.5\n 1.5 abc\n 1 2 / 3\n 4 / 5\n");
  EXPECT_EQ(message_of<InputError>([&] { f.list(a, b); }),
            "\"t.dat\", record 2, field 2: expected an integer (value 2 of 2), found \"1.5\"");
  EXPECT_EQ(message_of<InputError>([&] { f.list(x, a); }),
            "\"t.dat\", record 3, field 2: expected an integer (value 2 of 2), found \"abc\"");
  // A slash ends the values of a read: the items still unread are an error.
  f.list(a, b);
  EXPECT_EQ(b, 2);
  EXPECT_EQ(message_of<InputError>([&] { f.list(a, b); }),
            "\"t.dat\", record 5, field 2: expected an integer (value 2 of 2), found a slash, which ends the values "
            "of the read");
  // Empty values would leave a parameter silently unchanged.
  for (const char* empty : {" 1,,2\n", " ,1 2\n", " 2* 3\n"}) EXPECT_THROW(text_file(empty).list(a, b), InputError) << empty;
  EXPECT_EQ(message_of<EndOfFileError>([&] { text_file(" 1\n\n").list(a, b); }),
            "\"t.dat\", field 2: end of file after record 2 while looking for value 2 of 2");
  EXPECT_CONTAINS(message_of<InputError>([&] { text_file(" 'open\n").list(s); }), "closing quote");
  EXPECT_CONTAINS(message_of<InputError>([&] { text_file(" 99999999999\n").list(a); }), "within range");
}

TEST(FreeFormat, ReadOrEndStopsOnlyAtTrailingBlankRecords) {
  InFile f = text_file("  1 H  0.5\n\n 2 He 0.25\n   \n\n");
  int z = 0;
  std::string name;
  double x = 0;
  const InItem items[] = {z, name, x};
  ASSERT_TRUE(f.read_list_or_end(items));
  ASSERT_TRUE(f.read_list_or_end(items));
  EXPECT_FALSE(f.read_list_or_end(items));
  EXPECT_EQ(std::to_string(z) + name, "2He");  // the last read changed nothing
  EXPECT_EQ(x, 0.25);
  EXPECT_TRUE(text_file("").at_end());
}

TEST(OutputFile, RecordsRoundTripThroughAFileAfterMoves) {
  test::TempDir dir;
  const std::string path = (dir / "spcp.dat").string();
  OutFile made, member;  // as in the table of files: default first, assigned later
  made.create_new(path);
  member = std::move(made);
  EXPECT_FALSE(made.is_open());
  OutFile moved(std::move(member));
  moved.write("(/ 5X 'Iteration' I4)", 2);
  moved.write("(I5, 2F12.6)", 1, 0.25, -1.0 / 3.0);
  moved.close();
  moved.close();  // closing twice is harmless
  EXPECT_EQ(test::read_file(path), "\n     Iteration   2\n    1    0.250000   -0.333333\n");
  InFile in;
  in.open(path, "spectrum file");
  int it = 0, e = 0;
  double v[2];
  in.skip();
  in.read("(14X I4)", {it});
  in.read("(I5, 2F12.6)", {e, v[0], v[1]});
  EXPECT_EQ(it * 10 + e, 21);
  EXPECT_EQ(v[1], -0.333333);
}

// A full disk shows up only when the buffer is flushed: close() must report it rather
// than let the run end as a success. A file-size limit makes the write fail the same way.
TEST(OutputFile, CloseReportsDataThatCouldNotBeWritten) {
  test::TempDir dir;
  const std::string path = (dir / "big.dat").string();
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 1000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  OutFile out;
  out.create_new(path);
  for (int k = 0; k < 100; ++k) out.write("(I10, 40X)", k);
  const std::string message = message_of<WriteError>([&] { out.close(); });
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(message, "cannot write output file \"" + path + "\": File too large");
}

// Refusals of missing inputs and of existing outputs are in the malformed-input corpus.
TEST(InputFileOnDisk, WholeFileReadWhateverItsLineEnds) {
  InFile f;
  test::TempDir dir;
  // CR LF and a last record without its newline.
  test::write_file(dir / "a", "a\r\nb\n\nlast");
  f.open((dir / "a").string(), "test file");
  for (const char* want : {"a", "b", "", "last"}) EXPECT_EQ(f.next_record(), want);
  EXPECT_EQ(f.record_number(), 4);
  EXPECT_TRUE(f.at_end());
  EXPECT_THROW(f.skip(), EndOfFileError);
  f.close();
  EXPECT_THROW(f.next_record(), InternalError);
}

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
