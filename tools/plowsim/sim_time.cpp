#include "sim_time.h"

#include <cmath>
#include <cstdio>
#include <ctime>

CSimTime::CSimTime(const IClock& clockRef, std::int64_t startUtc, double timeScale)
    : clock(clockRef), startClockMs(clockRef.NowMs()), startUtcMs(startUtc), scale(timeScale) {}

std::int64_t CSimTime::UtcMs() const {
  return startUtcMs + static_cast<std::int64_t>(std::llround(static_cast<double>(ElapsedMs()) * scale));
}

std::int64_t CSimTime::ElapsedMs() const {
  return clock.NowMs() - startClockMs;
}

GpsTime GpsTimeFromUtcMs(std::int64_t utcMs) {
  // 1980-01-06 00:00:00 UTC, the start of GPS week 0.
  constexpr std::int64_t kGpsEpochMs = 315964800000LL;
  constexpr std::int64_t kWeekMs = 604800000LL;
  std::int64_t gpsMs = utcMs - kGpsEpochMs + kGpsLeapSeconds * 1000LL;
  if (gpsMs < 0) gpsMs = 0;
  GpsTime t;
  t.week = static_cast<std::uint16_t>(gpsMs / kWeekMs);
  t.timeOfWeek = static_cast<double>(gpsMs % kWeekMs) / 1000.0;
  return t;
}

bool ParseIsoUtc(const std::string& text, std::int64_t& utcMs) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
  char sep = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%n", &year, &month, &day, &sep, &hour, &minute,
                  &second, &used) != 7)
    return false;
  if ((sep != 'T' && sep != ' ') || year < 1980 || year > 2099 || month < 1 || month > 12 || day < 1 ||
      day > 31 || hour > 23 || minute > 59 || second > 59)
    return false;
  std::int64_t fractionMs = 0;
  std::size_t pos = static_cast<std::size_t>(used);
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    int digits = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      if (digits < 3) fractionMs = fractionMs * 10 + (text[pos] - '0');
      ++digits;
      ++pos;
    }
    if (digits == 0) return false;
    for (; digits < 3; ++digits) fractionMs *= 10;
  }
  if (pos < text.size() && text[pos] == 'Z') ++pos;
  if (pos != text.size()) return false;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  const std::time_t seconds = timegm(&tm);
  // timegm normalises 31 February into March: refuse dates that moved.
  if (tm.tm_mday != day || tm.tm_mon != month - 1) return false;
  utcMs = static_cast<std::int64_t>(seconds) * 1000 + fractionMs;
  return true;
}
