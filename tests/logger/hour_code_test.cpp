#include "logger/hour_code.h"

#include <gtest/gtest.h>

#include "logger/packet_dispatch.h"
#include "packet_builder.h"
#include "recording_context.h"

namespace {

struct CalendarCase {
  std::uint16_t week;
  double utcSecondsOfWeek;
  UtcCalendarTime expected;
  std::uint32_t hourCode;
};

TEST(HourCode, CalendarFromGpsTime_Table) {
  const CalendarCase cases[] = {
      // 16 March 2007 14:00:05 UTC.
      {1418, 482419.0 - 14.0, {2007, 3, 16, 14, 0, 5}, 7031614},
      // Rounded to the nearest second: 0.5 s rounds up into the next minute.
      {1418, 482419.0 - 14.0 + 54.5, {2007, 3, 16, 14, 1, 0}, 7031614},
      // Leap day, last seconds.
      {2303, 432004.0 - 14.0, {2024, 2, 29, 23, 59, 50}, 4022923},
      // GPS epoch.
      {0, 0.0, {1980, 1, 6, 0, 0, 0}, 10600},
      // Time of week below the UTC offset: the previous day's last second, not a negative minute.
      {1513, 13.0 - 14.0, {2009, 1, 3, 23, 59, 59}, 9010323},
  };
  for (const auto& c : cases) {
    const UtcCalendarTime t = CalendarFromGpsTime(c.week, c.utcSecondsOfWeek);
    EXPECT_EQ(t.year, c.expected.year) << c.week << " " << c.utcSecondsOfWeek;
    EXPECT_EQ(t.month, c.expected.month) << c.week << " " << c.utcSecondsOfWeek;
    EXPECT_EQ(t.day, c.expected.day) << c.week << " " << c.utcSecondsOfWeek;
    EXPECT_EQ(t.hour, c.expected.hour) << c.week << " " << c.utcSecondsOfWeek;
    EXPECT_EQ(t.minute, c.expected.minute) << c.week << " " << c.utcSecondsOfWeek;
    EXPECT_EQ(t.second, c.expected.second) << c.week << " " << c.utcSecondsOfWeek;
    EXPECT_EQ(MakeHourCode(t), c.hourCode) << c.week << " " << c.utcSecondsOfWeek;
  }
}

TEST(TimePacket, DecodesOnlyTenBytesWithNonNegativeTime) {
  CRecordingContext context;
  context.now = 42.0;
  DispatchPacket(MakePacket(0x41, CBytes().F32(482419.0f).U16(1418).F32(14.0f).U8(0).bytes), context);
  EXPECT_FALSE(context.session.timeValid);

  DispatchPacket(MakePacket(0x41, CBytes().F32(-1.0f).U16(1418).F32(14.0f).bytes), context);
  EXPECT_FALSE(context.session.timeValid);

  DispatchPacket(MakePacket(0x41, CBytes().F32(482419.0f).U16(1418).F32(14.0f).bytes), context);
  EXPECT_TRUE(context.session.timeValid);
  EXPECT_EQ(context.session.hourCode, 7031614u);
  EXPECT_EQ(context.session.gpsWeek, 1418);
  EXPECT_DOUBLE_EQ(context.session.utcSecondsOfWeek, 482405.0);
  EXPECT_DOUBLE_EQ(context.session.lastTimeOfWeek, 482419.0);
  EXPECT_DOUBLE_EQ(context.session.lastTimeStamp, 42.0);
}

}  // namespace
