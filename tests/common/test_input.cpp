// Reading input records: fixed columns (blanks, implied decimals, short records,
// reversion) and free format (separators, continuation records, repeats, quoted texts),
// with the error messages that must point the user at file, record and field.
#include <gtest/gtest.h>

#include <string>

#include "common/errors.hpp"
#include "common/io.hpp"

namespace mcspec {
namespace {

InFile text_file(std::string_view text) {
  InFile f;
  f.open_text("t.dat", text);
  return f;
}

template <class E, class F>
std::string message_of(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  ADD_FAILURE() << "no exception";
  return {};
}

TEST(FixedColumns, IntegerTextAndRealFields) {
  InFile f = text_file("  1H    1.0079\n 26Fe   55.8450\n");
  int z = 0;
  std::string sym;
  double awt = 0;
  f.read("(I3, A3, F9.4)", {z, sym, awt});
  EXPECT_EQ(z, 1);
  EXPECT_EQ(sym, "H  ");
  EXPECT_DOUBLE_EQ(awt, 1.0079);
  f.read("(I3, A3, F9.4)", {z, sym, awt});
  EXPECT_EQ(z, 26);
  EXPECT_EQ(sym, "Fe ");
  EXPECT_EQ(awt, 55.845);
  EXPECT_TRUE(f.at_end());
}

TEST(FixedColumns, BlanksImpliedDecimalsAndExponents) {
  InFile f = text_file(std::string("    1234") + "  12 34 " + "1.5E2   " + "  1.5D2 " + "   1.5-1" + "    -.25" +
                       "    15E1\n");
  double a, b, c, d, e, g, h;
  f.read("(7F8.3)", {a, b, c, d, e, g, h});
  EXPECT_EQ(a, 1.234);  // no point: three implied decimals
  EXPECT_EQ(b, 1.234);  // blanks inside a field are ignored
  EXPECT_EQ(c, 150.0);
  EXPECT_EQ(d, 150.0);
  EXPECT_EQ(e, 0.15);
  EXPECT_EQ(g, -0.25);
  EXPECT_EQ(h, 0.15);  // 15 with three implied decimals, times 10

  InFile whole = text_file("12345\n");
  double frac = 0;
  whole.read("(F5.5)", {frac});
  EXPECT_EQ(frac, 0.12345);
}

TEST(FixedColumns, ShortRecordsReadAsBlanks) {
  // The last record of a line-list block may hold fewer than four entries.
  InFile f = text_file("     2    -1  -0.080     3     1  -0.801\n");
  int up[4], lo[4];
  double gf[4];
  f.read("4(2I6, F8.3)", {up[0], lo[0], gf[0], up[1], lo[1], gf[1], up[2], lo[2], gf[2], up[3], lo[3], gf[3]});
  EXPECT_EQ(up[0], 2);
  EXPECT_EQ(lo[0], -1);
  EXPECT_EQ(gf[0], -0.08);
  EXPECT_EQ(gf[1], -0.801);
  EXPECT_EQ(up[2], 0);
  EXPECT_EQ(gf[3], 0.0);

  InFile t = text_file("ab\n");
  std::string s4, rest;
  t.read("(A4)", {s4});
  EXPECT_EQ(s4, "ab  ");
}

TEST(FixedColumns, SkipsSlashesWholeRecordTextsAndReversion) {
  InFile f = text_file("xx  7 rest of it\n  8\nskipped\n  1  2\n  3  4\n");
  int a = 0, b = 0, c[4] = {};
  std::string rest;
  f.read("(2X I3 A)", {a, rest});
  EXPECT_EQ(a, 7);
  EXPECT_EQ(rest, " rest of it");
  f.read("(I3 /)", {b});  // the slash after the last item still moves on
  EXPECT_EQ(b, 8);
  EXPECT_EQ(f.record_number(), 3);
  f.read("(2I3)", {c[0], c[1], c[2], c[3]});  // reversion: a new record for c[2], c[3]
  EXPECT_EQ(c[0], 1);
  EXPECT_EQ(c[3], 4);
  EXPECT_TRUE(f.at_end());
}

TEST(FixedColumns, ErrorsNameFileRecordFieldAndColumns) {
  InFile f = text_file("  1  2\n  11.5\n");
  int a, b;
  f.skip();
  const std::string msg = message_of<InputError>([&] { f.read("(I3, I3)", {a, b}); });
  EXPECT_EQ(msg, "\"t.dat\", record 2, field 2: expected an integer in columns 4-6, found \"1.5\"");

  InFile g = text_file("   1.2x5\n");
  double x;
  EXPECT_NE(message_of<InputError>([&] { g.read("(F8.3)", {x}); }).find("expected a real number in columns 1-8"),
            std::string::npos);

  InFile h = text_file("  1\n");
  EXPECT_NE(message_of<EndOfFileError>([&] { h.read("(I3 / I3)", {a, b}); }).find("end of file after record 1"),
            std::string::npos);

  InFile k = text_file("  1\n");
  EXPECT_THROW(k.read("(F3.0)", {a}), InternalError);  // an integer variable for F is a program fault
}

TEST(FreeFormat, BlanksCommasAndContinuationRecords) {
  InFile f = text_file(" 1, 2.5  abc\n 4 ,5\n\n  6\n");
  int i = 0, j = 0, k = 0;
  double x = 0;
  std::string s;
  f.list(i, x, s);
  EXPECT_EQ(i, 1);
  EXPECT_EQ(x, 2.5);
  EXPECT_EQ(s, "abc");
  f.list(i, j, k);  // continues over a blank record
  EXPECT_EQ(i, 4);
  EXPECT_EQ(j, 5);
  EXPECT_EQ(k, 6);
  EXPECT_EQ(f.record_number(), 4);
}

TEST(FreeFormat, EachReadStartsANewRecordAndIgnoresSurplus) {
  // Comment records of a parameter file hold words and numbers: skipped, not parsed.
  InFile f = text_file(" NP4 (x 10000)  ITT 3\n  2  3  99\n LOG L\r\n 9.60\r\n");
  int np4 = 0, itt = 0;
  double logl = 0;
  f.skip();
  f.list(np4, itt);
  f.skip();
  f.list(logl);
  EXPECT_EQ(np4, 2);
  EXPECT_EQ(itt, 3);
  EXPECT_EQ(logl, 9.6);
}

TEST(FreeFormat, RealFormsRepeatsAndQuotedTexts) {
  InFile f = text_file("1.5D3 1. .5 1e5 -2.5E-3 1.0+05 7\n3*2.5 1\n'a b, c/d' \"it's\" 'x''y' 2*z\n");
  double v[7];
  f.list(v[0], v[1], v[2], v[3], v[4], v[5], v[6]);
  EXPECT_EQ(v[0], 1500.0);
  EXPECT_EQ(v[1], 1.0);
  EXPECT_EQ(v[2], 0.5);
  EXPECT_EQ(v[3], 1e5);
  EXPECT_EQ(v[4], -2.5e-3);
  EXPECT_EQ(v[5], 1e5);
  EXPECT_EQ(v[6], 7.0);
  double r[4];
  f.list(r[0], r[1], r[2], r[3]);
  EXPECT_EQ(r[2], 2.5);
  EXPECT_EQ(r[3], 1.0);
  std::string a, b, c, d, e;
  f.list(a, b, c, d, e);
  EXPECT_EQ(a, "a b, c/d");
  EXPECT_EQ(b, "it's");
  EXPECT_EQ(c, "x'y");
  EXPECT_EQ(d, "z");
  EXPECT_EQ(e, "z");
}

TEST(FreeFormat, SlashEndsTheValues) {
  InFile f = text_file(" 1 2 / 3\n 4 / 5\n");
  int a = 0, b = 0;
  f.list(a, b);
  EXPECT_EQ(b, 2);
  const std::string msg = message_of<InputError>([&] { f.list(a, b); });
  EXPECT_EQ(msg, "\"t.dat\", record 2, field 2: expected an integer (value 2 of 2), found a slash, which ends "
                 "the values of the read");
}

TEST(FreeFormat, ErrorsNameFileRecordItemAndToken) {
  int a = 0, b = 0;
  double x = 0;
  InFile f = text_file("\n 5 1.5\n");
  EXPECT_EQ(message_of<InputError>([&] { f.list(a, b); }),
            "\"t.dat\", record 2, field 2: expected an integer (value 2 of 2), found \"1.5\"");
  InFile g = text_file(" 1.5 abc\n");
  EXPECT_EQ(message_of<InputError>([&] { g.list(x, a); }),
            "\"t.dat\", record 1, field 2: expected an integer (value 2 of 2), found \"abc\"");
  for (const char* empty : {" 1,,2\n", " ,1 2\n", " 2* 3\n"}) {
    InFile h = text_file(empty);
    EXPECT_THROW(h.list(a, b), InputError) << empty;
  }
  InFile q = text_file(" 2*'a b' , 3\n");
  std::string s1, s2;
  q.list(s1, s2, a);
  EXPECT_EQ(s2, "a b");
  EXPECT_EQ(a, 3);
  InFile k = text_file(" 1\n\n");
  const std::string eof = message_of<EndOfFileError>([&] { k.list(a, b); });
  EXPECT_EQ(eof, "\"t.dat\", field 2: end of file after record 2 while looking for value 2 of 2");
  InFile m = text_file(" 'open\n");
  EXPECT_NE(message_of<InputError>([&] { m.list(s1); }).find("closing quote"), std::string::npos);
  InFile n = text_file(" 99999999999\n");
  EXPECT_NE(message_of<InputError>([&] { n.list(a); }).find("within range"), std::string::npos);
}

TEST(FreeFormat, ReadOrEndStopsOnlyAtTrailingBlankRecords) {
  InFile f = text_file("  1 H  0.5\n\n 2 He 0.25\n   \n\n");
  int z = 0;
  std::string name;
  double x = 0;
  const InItem items[] = {z, name, x};
  ASSERT_TRUE(f.read_list_or_end(items));
  ASSERT_TRUE(f.read_list_or_end(items));
  EXPECT_EQ(z, 2);
  EXPECT_EQ(name, "He");
  EXPECT_EQ(x, 0.25);
  EXPECT_FALSE(f.read_list_or_end(items));
  EXPECT_EQ(z, 2);
}

TEST(InputFile, RecordsAndEndOfFile) {
  InFile f = text_file("a\r\nb\n\nlast");
  EXPECT_EQ(f.next_record(), "a");
  EXPECT_EQ(f.next_record(), "b");
  EXPECT_EQ(f.next_record(), "");
  EXPECT_EQ(f.next_record(), "last");
  EXPECT_EQ(f.record_number(), 4);
  EXPECT_TRUE(f.at_end());
  EXPECT_THROW(f.skip(), EndOfFileError);
  InFile empty = text_file("");
  EXPECT_TRUE(empty.at_end());
}

}  // namespace
}  // namespace mcspec
