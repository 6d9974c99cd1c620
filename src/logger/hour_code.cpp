#include "logger/hour_code.h"

#include <cmath>

#include "logger/log_units.h"

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// GPS time starts on 6 January 1980, day 5 counted from 1 January 1980.
constexpr std::int64_t kGpsEpochDayOf1980 = 5;
constexpr std::int64_t kDaysPerLeapCycle = 1461;
// About 30 years either way; far beyond any week a receiver reports.
constexpr double kMaxSecondsOfWeek = 1e9;

}  // namespace

UtcCalendarTime CalendarFromGpsTime(std::uint16_t gpsWeek, double utcSecondsOfWeek) {
  UtcCalendarTime t;
  // A garbled time packet can give any float; one that would not even fit the second count is
  // taken as no time at all rather than converted out of range.
  if (!std::isfinite(utcSecondsOfWeek) || std::fabs(utcSecondsOfWeek) > kMaxSecondsOfWeek)
    utcSecondsOfWeek = 0.0;
  std::int64_t total = static_cast<std::int64_t>(gpsWeek) * kSecondsPerWeek +
                       static_cast<std::int64_t>(std::floor(utcSecondsOfWeek + 0.5));
  if (total < 0) total = 0;

  const std::int64_t secondOfDay = total % kSecondsPerDay;
  t.hour = static_cast<std::int16_t>(secondOfDay / 3600);
  t.minute = static_cast<std::int16_t>((secondOfDay % 3600) / 60);
  t.second = static_cast<std::int16_t>(secondOfDay % 60);

  std::int64_t days = total / kSecondsPerDay + kGpsEpochDayOf1980;
  std::int64_t year = 1980 + 4 * (days / kDaysPerLeapCycle);
  days %= kDaysPerLeapCycle;
  // Each four-year cycle opens with its leap year.
  bool leap = true;
  if (days >= 366) {
    days -= 366;
    ++year;
    leap = false;
    while (days >= 365) {
      days -= 365;
      ++year;
    }
  }
  static constexpr int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int month = 0;
  for (; month < 11; ++month) {
    const int length = (month == 1 && leap) ? 29 : kMonthDays[month];
    if (days < length) break;
    days -= length;
  }
  t.year = static_cast<std::int16_t>(year);
  t.month = static_cast<std::int16_t>(month + 1);
  t.day = static_cast<std::int16_t>(days + 1);
  return t;
}

HourCode MakeHourCode(const UtcCalendarTime& time) {
  const auto y = static_cast<std::uint32_t>(time.year % 10);
  return (((y * 100 + static_cast<std::uint32_t>(time.month)) * 100 + static_cast<std::uint32_t>(time.day)) *
          100) +
         static_cast<std::uint32_t>(time.hour);
}
