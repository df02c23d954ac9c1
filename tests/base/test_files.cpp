// Files of a run on disk: a failed write reported at close, records surviving a round
// trip through a file, and inputs read whole whatever their line ends.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <string>
#include <utility>

#include "base/errors.hpp"
#include "base/io.hpp"
#include "support/test_support.hpp"

namespace mcspec {
namespace {

using test::message_of;

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

}  // namespace
}  // namespace mcspec
