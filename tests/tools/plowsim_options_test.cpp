#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "break_detector.h"
#include "port_config_partner.h"
#include "sim_options.h"
#include "sim_time.h"
#include "trace_format.h"

namespace {

TEST(SimOptions, FullCommandLine_Parsed) {
  SimOptions o;
  std::string error;
  ASSERT_TRUE(ParseSimOptions({"--pty",
                               "/tmp/x",
                               "--trace",
                               "t.txt",
                               "--baud",
                               "38400",
                               "--parity",
                               "O",
                               "--no-auto-config",
                               "--start-time",
                               "2026-12-09T12:34:56Z",
                               "--time-scale",
                               "2.5",
                               "--silent-after",
                               "1.5",
                               "--fatal-after",
                               "2",
                               "Task died",
                               "--garbage-every",
                               "3"},
                              o, error))
      << error;
  EXPECT_EQ(o.ptyPath, "/tmp/x");
  EXPECT_EQ(o.tracePath, "t.txt");
  EXPECT_EQ(o.receiver.port, (PortSettings{38400, 'O', 8, 1}));
  EXPECT_FALSE(o.receiver.autoConfig);
  EXPECT_TRUE(o.startTimeGiven);
  EXPECT_EQ(o.receiver.startUtcMs, 1796819696000LL);
  EXPECT_DOUBLE_EQ(o.receiver.timeScale, 2.5);
  EXPECT_EQ(o.receiver.silentAfterMs, 1500);
  EXPECT_EQ(o.receiver.fatalAfterMs, 2000);
  EXPECT_EQ(o.receiver.fatalText, "Task died");
  EXPECT_EQ(o.garbageEvery, 3);
}

TEST(SimOptions, Defaults) {
  SimOptions o;
  std::string error;
  ASSERT_TRUE(ParseSimOptions({"--pty", "p"}, o, error));
  EXPECT_EQ(o.receiver.port, (PortSettings{9600, 'N', 8, 1}));
  EXPECT_TRUE(o.receiver.autoConfig);
  EXPECT_EQ(o.receiver.silentAfterMs, -1);
  EXPECT_EQ(o.receiver.fatalAfterMs, -1);
  EXPECT_EQ(o.garbageEvery, 0);
  EXPECT_FALSE(o.startTimeGiven);
}

TEST(SimOptions, BadCommandLines_Refused) {
  const std::vector<std::vector<std::string>> bad = {
      {},                                      // no --pty
      {"--pty"},                               // no value
      {"--pty", "p", "--baud", "57601"},       // not a rate
      {"--pty", "p", "--baud", "9600x"},       // trailing junk
      {"--pty", "p", "--parity", "M"},         // mark parity is not a receiver setting
      {"--pty", "p", "--time-scale", "0"},     // must be positive
      {"--pty", "p", "--silent-after", "-1"},  // negative
      {"--pty", "p", "--fatal-after", "1"},    // no text
      {"--pty", "p", "--garbage-every", "0"},  // at least 1
      {"--pty", "p", "--start-time", "2026-02-30T00:00:00Z"},
      {"--pty", "p", "--frobnicate"},
      {"--pty", "p", "--drop-after", "1"},                               // no return
      {"--pty", "p", "--return-after", "1"},                             // no drop
      {"--pty", "p", "--drop-after", "0", "--return-after", "1"},        // never away
      {"--pty", "p", "--first-drop-after", "5", "--return-after", "1"},  // no drop
      {"--pty", "p", "--drop-every", "7"},                               // no --files
      {"--pty", "p", "--files", "d", "--drop-every", "0"},               // at least 1
      {"--pty", "p", "--pace", "0"},                                     // at least 1
  };
  for (const auto& args : bad) {
    SimOptions o;
    std::string error;
    EXPECT_FALSE(ParseSimOptions(args, o, error)) << (args.empty() ? "(none)" : args.back());
    EXPECT_FALSE(error.empty());
  }
}

TEST(SimOptions, DropAndReturn_FractionalSeconds) {
  SimOptions o;
  std::string error;
  ASSERT_TRUE(ParseSimOptions(
      {"--pty", "p", "--drop-after", "1.25", "--return-after", "0.3", "--first-drop-after", "9"}, o, error))
      << error;
  EXPECT_EQ(o.dropAfterMs, 1250);
  EXPECT_EQ(o.returnAfterMs, 300);
  EXPECT_EQ(o.firstDropAfterMs, 9000);
}

TEST(SimOptions, HelpNeedsNoPty) {
  SimOptions o;
  std::string error;
  ASSERT_TRUE(ParseSimOptions({"--help"}, o, error));
  EXPECT_TRUE(o.help);
}

TEST(SimTime, IsoTimes) {
  struct Case {
    const char* text;
    bool ok;
    std::int64_t ms;
  };
  const Case cases[] = {
      {"2017-01-01T00:00:00Z", true, 1483228800000LL},
      {"2017-01-01 00:00:00", true, 1483228800000LL},
      {"2017-01-01T00:00:00.25Z", true, 1483228800250LL},
      {"2016-02-29T00:00:00Z", true, 1456704000000LL},
      {"2017-02-29T00:00:00Z", false, 0},
      {"2017-01-01T24:00:00Z", false, 0},
      {"2017-01-01T00:00:00+02", false, 0},
      {"2017-01-01", false, 0},
      {"2017-01-01T00:00:00.Z", false, 0},
  };
  for (const auto& c : cases) {
    std::int64_t ms = -7;
    EXPECT_EQ(ParseIsoUtc(c.text, ms), c.ok) << c.text;
    EXPECT_EQ(ms, c.ok ? c.ms : -7) << c.text;
  }
}

TEST(SimTime, GpsWeekAndTimeOfWeek) {
  // 2017-01-01 00:00:00 UTC opened GPS week 1930; GPS is 18 s ahead.
  GpsTime t = GpsTimeFromUtcMs(1483228800000LL);
  EXPECT_EQ(t.week, 1930);
  EXPECT_DOUBLE_EQ(t.timeOfWeek, 18.0);
  // The last UTC second before the GPS week rolls over.
  t = GpsTimeFromUtcMs(1483228800000LL + 7 * 86400000LL - 19000);
  EXPECT_EQ(t.week, 1930);
  EXPECT_DOUBLE_EQ(t.timeOfWeek, 604799.0);
  EXPECT_EQ(GpsTimeFromUtcMs(1483228800000LL + 7 * 86400000LL - 18000).week, 1931);
}

TEST(BreakDetector, NeedsBothClearsCloseTogether) {
  CBreakDetector d;
  EXPECT_TRUE(d.OnFlush(true, true, 0)) << "both in one event";
  EXPECT_FALSE(d.OnFlush(true, false, 1000));
  EXPECT_TRUE(d.OnFlush(false, true, 1000 + CBreakDetector::kPairWindowMs));
  EXPECT_FALSE(d.OnFlush(false, true, 5000)) << "a pair is used once";
  EXPECT_FALSE(d.OnFlush(true, false, 5000 + CBreakDetector::kPairWindowMs + 1)) << "too far apart";
  EXPECT_FALSE(d.OnFlush(true, false, 9000)) << "read clears alone never pair";
  EXPECT_TRUE(d.OnFlush(false, true, 9100));
  EXPECT_FALSE(d.OnFlush(false, false, 9200));
}

TEST(PortConfigPartner, SwitchRequestFoundAfterAPartialFalseStart) {
  CPortConfigPartner p(PortSettings{});
  int found = 0;
  for (char c : std::string("FAST LIFAST LINK SWITCH REQUEST\r\nFAST LINK SWITCH REQUEST\n"))
    found += p.FeedText(static_cast<std::uint8_t>(c)) ? 1 : 0;
  EXPECT_EQ(found, 1);
}

TEST(TraceFormat, PacketsAndText) {
  const std::uint8_t payload[] = {0x8C, 0x01, 0x00, 0x8D};
  EXPECT_EQ(FormatPacketLine("RX", 0x8E, payload, 4), "RX 8E 8C 01 00 8D");
  EXPECT_EQ(FormatPacketLine("TX", 0x21, nullptr, 0), "TX 21");
  EXPECT_EQ(QuoteText(std::string("A\"\\\r\n\t\x03\xff", 8)), "\"A\\\"\\\\\\r\\n\\t\\x03\\xFF\"");
}

}  // namespace
