// Progress lines on standard error: the largest relative change of TR, the passes left
// (the schedule ends between pass 9 and pass 30).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "app/progress.hpp"

namespace mcspec {
namespace {

std::string written(std::FILE* f) {
  std::rewind(f);
  std::string s;
  for (int c; (c = std::fgetc(f)) != EOF;) s += static_cast<char>(c);
  return s;
}

TEST(Progress, LargestRelativeChange) {
  const std::vector<double> old{10000, 8000, 5000};
  const double now[] = {10500, 7600, 5100};
  EXPECT_DOUBLE_EQ(Progress::largest_change(old, now, 3), 0.05);
  const double bad[] = {10000, NAN, 5000};
  EXPECT_TRUE(std::isnan(Progress::largest_change(old, bad, 3)));
}

TEST(Progress, PassesLeftAndConvergence) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  Progress p(f, false);
  const double tr0[] = {10000, 8000}, tr1[] = {11000, 8000};
  const struct {
    int pass, next;
    const char* expect;
  } cases[] = {{1, 2, "left: 9 to 29 + 3 final passes"},   // passes 2..9, then 30 at the least
               {9, 10, "left: 2 to 21 + 3 final passes"},
               {10, 30, "(converged)"},
               {30, 31, "left: 3 final passes"}};
  for (const auto& c : cases) {
    p.start_pass(tr0, 2);
    p.end_pass(c.pass, c.next, 3, tr1, 2);
    const std::string s = written(f);
    EXPECT_NE(s.find("temperature pass " + std::to_string(c.pass) + ": largest change of TR 10.00 %"),
              std::string::npos)
        << s;
    EXPECT_NE(s.find(c.expect), std::string::npos) << s;
  }
  p.final_pass(2, 3);
  p.finish();
  const std::string s = written(f);
  EXPECT_NE(s.find("final Monte Carlo pass 2 of 3 done"), std::string::npos);
  EXPECT_NE(s.find("finished in"), std::string::npos);
  std::fclose(f);
}

}  // namespace
}  // namespace mcspec
