#pragma once

#include <cstdint>

// UTC calendar time as the logger names and heads its files.
struct UtcCalendarTime {
  std::int16_t year = 0;
  std::int16_t month = 0;
  std::int16_t day = 0;
  std::int16_t hour = 0;
  std::int16_t minute = 0;
  std::int16_t second = 0;
};

// Calendar time of `utcSecondsOfWeek` (GPS time of week less the UTC offset, rounded to the
// nearest second) in GPS week `gpsWeek`. A value below 0 or beyond one week is carried into the
// neighbouring week, so the first seconds of a week (time of week smaller than the offset) still
// give the last seconds of the previous day instead of negative minutes.
UtcCalendarTime CalendarFromGpsTime(std::uint16_t gpsWeek, double utcSecondsOfWeek);

// Seven decimal digits Y MM DD HH: last digit of the year, month, day, hour. It names each hourly
// log file and its siblings. 16 March 2007, 14 h gives 7031614.
using HourCode = std::uint32_t;

HourCode MakeHourCode(const UtcCalendarTime& time);
