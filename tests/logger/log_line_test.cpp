#include "logger/log_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(FormatLine, FitsReturnsCount_OverflowBecomesBadDataNote) {
  char buffer[kLogLineMax];
  EXPECT_EQ(FormatLine(buffer, "P %d", 12), 4);
  EXPECT_STREQ(buffer, "P 12");

  const std::string exact(kLogLineMax - 1, 'x');
  EXPECT_EQ(FormatLine(buffer, "%s", exact.c_str()), static_cast<int>(kLogLineMax - 1));

  const std::string tooLong = "Q" + std::string(kLogLineMax - 1, 'x');
  EXPECT_EQ(FormatLine(buffer, "%s", tooLong.c_str()), 1);
  EXPECT_STREQ(buffer, "* Q String contained bad data");
}

TEST(LogLine, AppendedPiecesOverflowOnceAndStayTheNote) {
  CLogLine line;
  EXPECT_TRUE(line.Append("N %2d ", 3));
  for (int i = 0; i < 40; ++i) line.Append("%3d %c%c ", 100 + i, 'Y', 'N');
  EXPECT_TRUE(line.Overflowed());
  EXPECT_STREQ(line.Text(), "* N String contained bad data");
  EXPECT_FALSE(line.Append("more"));
  EXPECT_STREQ(line.Text(), "* N String contained bad data");
}

TEST(LogLine, SmallerCapacityIsHonoured) {
  CLogLine line(120);
  EXPECT_TRUE(line.Append("J %s", std::string(117, 'a').c_str()));
  EXPECT_FALSE(line.Append("b"));
  EXPECT_STREQ(line.Text(), "* J String contained bad data");
}

}  // namespace
