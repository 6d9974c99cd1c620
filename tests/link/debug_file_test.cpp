#include "link/serial/debug_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace {

const std::string kStartSeparator = "\n-------------------------------------------------------------------\n";
const std::string kStopSeparator =
    "\n-------------------------------------------------------------------\n\n";

// What follows the start line: the logged lines themselves.
std::string Body(const std::string& content) {
  const auto start = content.find("Debugging started on ");
  if (start == std::string::npos) return "<no start line>";
  return content.substr(content.find('\n', start) + 1);
}

class DebugFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(file.Open(path)); }
  std::string Logged() { return Body(ReadWholeFile(path)); }

  CTempDir dir;
  std::string path = dir / "v1.19DebugComm1.txt";
  CFakeClock clock;
  CDebugFile file{&clock};
};

TEST_F(DebugFileTest, SentThenReceived_OneTLineAndOneRLineOfThreeBytes) {
  clock.Set(1500);
  file.LogSentBuffer(std::vector<std::uint8_t>{0x10, 0x8E, 0x00}.data(), 3);
  clock.Set(1520);
  file.LogReceivedByte(0x10);
  file.LogReceivedByte(0x8F);
  file.LogReceivedByte(0x03);
  EXPECT_EQ(Logged(), "\n 1.500000  T 10 8E 00 \n 1.520000  R 10 8F 03 ");
}

TEST_F(DebugFileTest, FortyReceivedBytes_LinesOfSixteenSixteenAndEight) {
  std::vector<std::uint8_t> bytes(40);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(0xA0 + i);
  clock.Set(2000);
  file.LogReceivedBuffer(bytes.data(), bytes.size());
  EXPECT_EQ(Logged(),
            "\n 2.000000  R A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF "
            "\n 2.000000    B0 B1 B2 B3 B4 B5 B6 B7 B8 B9 BA BB BC BD BE BF "
            "\n 2.000000    C0 C1 C2 C3 C4 C5 C6 C7 ");
}

TEST_F(DebugFileTest, RunContinuesAcrossCallsAndBreaksOnDirectionChange) {
  // 15 bytes, then 2 more in a later call: the 17th opens a continuation line with the later time.
  const std::vector<std::uint8_t> fifteen(15, 0x11);
  file.LogSentBuffer(fifteen.data(), fifteen.size());
  clock.Set(10);
  file.LogSentByte(0x22);
  file.LogSentByte(0x33);
  file.LogReceivedByte(0x44);
  file.LogSentByte(0x55);
  EXPECT_EQ(Logged(),
            "\n 0.000000  T 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 22 "
            "\n 0.010000    33 "
            "\n 0.010000  R 44 "
            "\n 0.010000  T 55 ");
}

TEST_F(DebugFileTest, MessageBetweenReceivedBytes_SecondByteStartsNewRLine) {
  file.LogReceivedByte(0x01);
  clock.Set(250);
  file.LogMessage("Port COM1 baud rate now set to 9600");
  file.LogReceivedByte(0x02);
  EXPECT_EQ(Logged(),
            "\n 0.000000  R 01 "
            "\n 0.250000  ! Port COM1 baud rate now set to 9600"
            "\n 0.250000  R 02 ");
}

TEST_F(DebugFileTest, EmptyOrNullBuffer_WritesNothing) {
  file.LogSentBuffer(nullptr, 5);
  const std::uint8_t b = 1;
  file.LogReceivedBuffer(&b, 0);
  EXPECT_EQ(Logged(), "");
}

TEST_F(DebugFileTest, SecondWriter_IsDeniedUntilTheFirstCloses_ThenAppends) {
  file.LogMessage("first");
  CDebugFile other(&clock);
  EXPECT_FALSE(other.Open(path));
  EXPECT_FALSE(file.Open(path));  // already open
  file.Close();
  ASSERT_TRUE(other.Open(path));
  other.LogMessage("second");
  other.Close();
  const std::string content = ReadWholeFile(path);
  const auto first = content.find("! first");
  const auto second = content.find("! second");
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(second, std::string::npos);
  EXPECT_LT(first, second);
  EXPECT_NE(content.find("Debugging started on ", content.find("Debugging stopped on ")), std::string::npos);
}

TEST_F(DebugFileTest, ReopenedCapture_NextByteStartsAFreshLine) {
  file.LogReceivedByte(0x01);
  file.Close();
  ASSERT_TRUE(file.Open(path));
  file.LogReceivedByte(0x02);
  const std::string content = ReadWholeFile(path);
  EXPECT_EQ(Body(content.substr(content.rfind(kStartSeparator))), "\n 0.000000  R 02 ");
}

TEST(DebugFileClosed, LogCallsOnAClosedCaptureDoNothing) {
  CTempDir dir;
  CDebugFile file;
  file.LogMessage("nothing");
  file.LogSentByte(1);
  file.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(CDebugFile().Open(dir / "no-such-folder/capture.txt"));
}

// The start and stop lines show the true local time, also in summer time.
class DebugFileTimeTest : public ::testing::TestWithParam<std::time_t> {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) savedTz = tz;
    ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    ::tzset();
  }
  void TearDown() override {
    if (savedTz.empty())
      ::unsetenv("TZ");
    else
      ::setenv("TZ", savedTz.c_str(), 1);
    ::tzset();
  }
  std::string savedTz;
};

std::string Format(const std::tm& when, const char* format) {
  char text[128];
  return std::string(text, std::strftime(text, sizeof text, format, &when));
}

TEST_P(DebugFileTimeTest, StartAndStopLines_ShowTrueLocalTime) {
  // Both instants are 12:00 UTC: 14:00 in July (summer time), 13:00 in January.
  const std::time_t now = GetParam();
  const bool summer = now == 1784116800;
  std::tm local{};
  local.tm_year = 126;
  local.tm_mon = summer ? 6 : 0;
  local.tm_mday = 15;
  local.tm_hour = summer ? 14 : 13;
  local.tm_isdst = summer ? 1 : 0;
  const std::string date = Format(local, "%x");
  const std::string time = Format(local, "%I:%M:%S%p");

  CTempDir dir;
  CFakeClock clock;
  CDebugFile file(&clock);
  file.SetWallClock([now] { return now; });
  ASSERT_TRUE(file.Open(dir / "capture.txt"));
  file.LogMessage("x");
  file.Close();
  EXPECT_EQ(ReadWholeFile(dir / "capture.txt"), kStartSeparator + "Debugging started on " + date + " at " +
                                                    time + "\n\n 0.000000  ! x\n\nDebugging stopped on " +
                                                    date + " at " + time + kStopSeparator);
}

INSTANTIATE_TEST_SUITE_P(SummerAndWinter, DebugFileTimeTest,
                         ::testing::Values(std::time_t{1784116800}, std::time_t{1768478400}));

}  // namespace
