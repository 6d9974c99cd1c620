// Inputs the fuzz targets found faults with, kept so that the faults stay mended.
#include <gtest/gtest.h>

#include "logger/hour_code.h"
#include "logger/packet_dispatch.h"
#include "packet_builder.h"
#include "recording_context.h"

namespace {

void ExpectSameTime(const UtcCalendarTime& a, const UtcCalendarTime& b) {
  EXPECT_EQ(a.year, b.year);
  EXPECT_EQ(a.month, b.month);
  EXPECT_EQ(a.day, b.day);
  EXPECT_EQ(a.hour, b.hour);
  EXPECT_EQ(a.minute, b.minute);
  EXPECT_EQ(a.second, b.second);
}

// A time packet with a UTC offset of about 3.7e19 s (a garbled float) made the second count
// overflow its integer conversion. Seconds beyond any plausible week count as no time of week.
TEST(FuzzFindings, TimePacket_HugeUtcOffset) {
  CRecordingContext context;
  DispatchPacket(MakePacket(0x41, {0x48, 0x97, 0x7D, 0x93, 0x09, 0x41, 0x60, 0x00, 0x90, 0x00}), context);
  EXPECT_TRUE(context.session.timeValid);
  EXPECT_EQ(context.session.gpsWeek, 0x0941);
  const UtcCalendarTime weekStart = CalendarFromGpsTime(0x0941, 0.0);
  EXPECT_EQ(context.session.year, weekStart.year);
  EXPECT_EQ(context.session.day, weekStart.day);
  EXPECT_EQ(context.session.hour, 0);

  for (double seconds : {3.7e19, -3.7e19, 1.0e10, -1.0e10, 3.4e38}) {
    SCOPED_TRACE(seconds);
    ExpectSameTime(CalendarFromGpsTime(2000, seconds), CalendarFromGpsTime(2000, 0.0));
  }
  // Still carried into the neighbouring weeks within range.
  ExpectSameTime(CalendarFromGpsTime(2000, 604800.0 * 3), CalendarFromGpsTime(2003, 0.0));
}

}  // namespace
