#pragma once

// The series of one hourly log, gathered line by line for the strip chart. Header-only for the
// same reason as log_line_facts.h.

#include <cmath>
#include <istream>
#include <limits>
#include <string>
#include <vector>

#include "log_line_facts.h"

// x is seconds of the GPS day of the first timed line; it keeps counting past 86400 when the
// hour crosses midnight (or the end of the GPS week), so every series stays in time order.
struct ChartPoint {
  double x = 0;
  double y = 0;
};

struct StatePoint {
  double x = 0;
  FixState state = FixState::Unknown;
};

struct StripChartData {
  std::string station;                          // from the header; empty when there was none
  int year = 0, month = 0, day = 0, hour = -1;  // UTC date and hour from the header; hour -1: none
  std::vector<ChartPoint> height;               // m
  std::vector<ChartPoint> speed;                // m/s
  std::vector<ChartPoint> satellites;           // count used in the solution
  std::vector<ChartPoint> pdop;
  std::vector<StatePoint> states;            // one per position
  double latitudeSum = 0, longitudeSum = 0;  // for the mean position in the subtitle
  long linesRead = 0;
  long linesTooLong = 0;  // skipped: longer than any line the logger writes
};

// An RTK state line counts for the positions up to this many seconds after it; a state older
// than that has been overtaken by the DGPS mode of the position lines.
inline constexpr double kRtkStateHoldSeconds = 10.0;

// Longest line kept; the logger writes at most 220 bytes a line.
inline constexpr std::size_t kMaxLogLine = 1024;

// Gathers the chart's series from a stream of log lines. Lines without a time of their own
// ("X", "R RTKSTATEINFO") take the time of the last timed line and are dropped before the first
// one. A line longer than kMaxLogLine is skipped whole, so memory stays bounded whatever the file.
class CStripChartCollector {
 public:
  void AddLine(std::string_view line) {
    ++data.linesRead;
    LogLineFacts f;
    if (!ParseLogLine(line, f)) return;
    switch (f.kind) {
      case LogLineFacts::Kind::Station:
        if (data.station.empty()) data.station = f.station;
        break;
      case LogLineFacts::Kind::UtcDate:
        if (data.hour < 0) {
          data.year = f.year;
          data.month = f.month;
          data.day = f.day;
          data.hour = f.hour;
        }
        break;
      case LogLineFacts::Kind::Position: {
        const double x = X(f.time);
        data.height.push_back({x, f.height});
        const bool rtkHolds =
            rtkState != FixState::Unknown && (std::isnan(rtkX) || x - rtkX <= kRtkStateHoldSeconds);
        data.states.push_back({x, rtkHolds ? rtkState : f.state});
        data.latitudeSum += f.latitude;
        data.longitudeSum += f.longitude;
        break;
      }
      case LogLineFacts::Kind::Velocity:
        data.speed.push_back({X(f.time), f.speed});
        break;
      case LogLineFacts::Kind::TimeMark:
        X(f.time);
        break;
      case LogLineFacts::Kind::Selection:
        if (!haveTime) break;
        data.satellites.push_back({lastX, static_cast<double>(f.satellites)});
        data.pdop.push_back({lastX, f.pdop});
        break;
      case LogLineFacts::Kind::RtkState:
        rtkState = f.state;
        rtkX = haveTime ? lastX : NAN;
        break;
      case LogLineFacts::Kind::Other:
        break;
    }
  }

  // Reads `in` to its end line by line. Returns false when the stream fails other than at its end.
  bool AddStream(std::istream& in) {
    char buffer[kMaxLogLine + 1];
    while (true) {
      in.getline(buffer, sizeof buffer);
      if (in.bad()) return false;
      if (in.fail() && !in.eof() && in.gcount() == static_cast<std::streamsize>(sizeof buffer - 1)) {
        ++data.linesTooLong;
        in.clear();
        in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
        if (in.bad()) return false;
        continue;
      }
      if (in.gcount() > 0 || !in.eof()) AddLine(std::string_view(buffer));
      if (in.eof()) return true;
      if (in.fail()) return false;
    }
  }

  const StripChartData& Data() const { return data; }

 private:
  // Maps a GPS time of week onto the chart's x axis (see ChartPoint).
  double X(double timeOfWeek) {
    if (!haveTime) {
      haveTime = true;
      firstTime = timeOfWeek;
      firstX = std::fmod(timeOfWeek, 86400.0);
    }
    double delta = std::fmod(timeOfWeek - firstTime, 604800.0);
    if (delta >= 302400.0) delta -= 604800.0;
    if (delta < -302400.0) delta += 604800.0;
    lastX = firstX + delta;
    return lastX;
  }

  StripChartData data;
  bool haveTime = false;
  double firstTime = 0, firstX = 0, lastX = 0;
  FixState rtkState = FixState::Unknown;
  double rtkX = NAN;
};
