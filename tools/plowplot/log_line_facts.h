#pragma once

// What the strip chart takes from one line of the hourly text log. Plain C++ and header-only, so
// the tests compile the same parser the program runs without linking the program's Qt code.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The correction state shown in the chart's band, from worst to best.
enum class FixState : std::uint8_t { Unknown, Autonomous, Dgps, RtkFloat, RtkFixed };

struct LogLineFacts {
  enum class Kind : std::uint8_t {
    Other,      // not used by the chart (also every malformed line)
    Position,   // "P" (LLA) or "Z" (ECEF) fix of the receiver: time, latitude, longitude, height, state
    Velocity,   // "V": time, speed
    Selection,  // "X": satellites, pdop (the line has no time of its own)
    RtkState,   // "R RTKSTATEINFO": state (RtkFloat, RtkFixed, or Unknown for no RTK solution)
    TimeMark,   // "T": time
    Station,    // header "* Station: NAME *": station
    UtcDate,    // header "* UTC MM/DD/YYYY HH *": year, month, day, hour
  };
  Kind kind = Kind::Other;
  double time = 0;       // GPS seconds of week
  double latitude = 0;   // degrees
  double longitude = 0;  // degrees
  double height = 0;     // metres above the ellipsoid (or mean sea level when the receiver is set so)
  double speed = 0;      // horizontal, m/s
  int satellites = 0;
  double pdop = 0;
  FixState state = FixState::Unknown;
  std::string station;
  int year = 0, month = 0, day = 0, hour = 0;
};

namespace log_line_detail {

inline std::vector<std::string_view> Tokens(std::string_view line) {
  std::vector<std::string_view> tokens;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == '\n')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '\n') ++i;
    if (i > start) tokens.push_back(line.substr(start, i - start));
  }
  return tokens;
}

// Whole token, finite value: "12.5x", "nan" and "inf" are not numbers here.
inline bool Number(std::string_view token, double& value) {
  if (!token.empty() && token.front() == '+') token.remove_prefix(1);
  const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
  return ec == std::errc() && end == token.data() + token.size() && std::isfinite(value);
}

inline bool Integer(std::string_view token, int& value) {
  const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
  return ec == std::errc() && end == token.data() + token.size();
}

// "MD ON" / "AD ON": corrections applied; "MD OF" / "AD OF": autonomous; "XXXXX": not reported yet.
// Returns the number of tokens the mode text took (0 when it is not a mode text).
inline int DgpsMode(const std::vector<std::string_view>& t, std::size_t i, FixState& state) {
  if (i < t.size() && t[i] == "XXXXX") {
    state = FixState::Unknown;
    return 1;
  }
  if (i + 1 < t.size() && (t[i] == "MD" || t[i] == "AD") && (t[i + 1] == "ON" || t[i + 1] == "OF")) {
    state = t[i + 1] == "ON" ? FixState::Dgps : FixState::Autonomous;
    return 2;
  }
  return 0;
}

// WGS 84 ECEF to geodetic, Bowring's closed form (millimetre-level for terrestrial heights).
inline void EcefToGeodetic(double x, double y, double z, double& latDeg, double& lonDeg, double& height) {
  constexpr double a = 6378137.0, f = 1.0 / 298.257223563, b = a * (1 - f);
  constexpr double e2 = f * (2 - f), ep2 = (a * a - b * b) / (b * b);
  constexpr double kDeg = 57.29577951308232;
  const double p = std::hypot(x, y);
  const double theta = std::atan2(z * a, p * b);
  const double lat =
      std::atan2(z + ep2 * b * std::pow(std::sin(theta), 3), p - e2 * a * std::pow(std::cos(theta), 3));
  const double n = a / std::sqrt(1 - e2 * std::sin(lat) * std::sin(lat));
  latDeg = lat * kDeg;
  lonDeg = std::atan2(y, x) * kDeg;
  height = std::abs(std::cos(lat)) > 1e-9 ? p / std::cos(lat) - n : std::abs(z) - b;
}

// "P t lat lon h MODE bias [letter]" / "Z t x y z MODE bias [letter]". A trailing letter marks a
// guidance solution (R, P, T), which is left out so the chart shows the receiver's own fix.
inline bool Position(const std::vector<std::string_view>& t, LogLineFacts& facts) {
  double v[4];
  if (t.size() < 7) return false;
  for (int k = 0; k < 4; ++k)
    if (!Number(t[1 + k], v[k])) return false;
  const int modeTokens = DgpsMode(t, 5, facts.state);
  if (modeTokens == 0) return false;
  const std::size_t biasAt = 5 + modeTokens;
  double bias = 0;
  if (biasAt >= t.size() || !Number(t[biasAt], bias)) return false;
  if (biasAt + 1 != t.size()) return false;
  if (v[0] < 0) return false;  // a negative fix time comes with a receiver reset, not a fix
  facts.time = v[0];
  if (t[0] == "P") {
    if (std::abs(v[1]) > 90 || std::abs(v[2]) > 360) return false;
    facts.latitude = v[1];
    facts.longitude = v[2];
    facts.height = v[3];
  } else {
    if (std::hypot(v[1], v[2], v[3]) < 1e6) return false;  // no fix: the receiver reports zeros
    EcefToGeodetic(v[1], v[2], v[3], facts.latitude, facts.longitude, facts.height);
  }
  facts.kind = LogLineFacts::Kind::Position;
  return true;
}

inline std::string_view TrimView(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}

inline bool Header(std::string_view line, LogLineFacts& facts) {
  line = TrimView(line);
  if (line.size() < 3 || line.back() != '*') return false;
  line = TrimView(line.substr(1, line.size() - 2));  // inside the two '*'
  if (line.substr(0, 8) == "Station:") {
    // An empty station is no station line: the caller gets Other, as for any line not used.
    const std::string_view station = TrimView(line.substr(8));
    if (station.empty()) return false;
    facts.station = std::string(station);
    facts.kind = LogLineFacts::Kind::Station;
    return true;
  }
  const auto t = Tokens(line);
  if (t.size() == 3 && t[0] == "UTC" && t[1].size() == 10 && t[1][2] == '/' && t[1][5] == '/') {
    LogLineFacts d;
    if (!Integer(t[1].substr(0, 2), d.month) || !Integer(t[1].substr(3, 2), d.day) ||
        !Integer(t[1].substr(6, 4), d.year) || !Integer(t[2], d.hour))
      return false;
    if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > 31 || d.hour < 0 || d.hour > 23) return false;
    facts.year = d.year;
    facts.month = d.month;
    facts.day = d.day;
    facts.hour = d.hour;
    facts.kind = LogLineFacts::Kind::UtcDate;
    return true;
  }
  return false;
}

}  // namespace log_line_detail

// Fills `facts` from one log line (with or without its line end). Returns false, with kind
// Other, for a line the chart does not use or cannot read; never reads past the line.
inline bool ParseLogLine(std::string_view line, LogLineFacts& facts) {
  using namespace log_line_detail;
  facts = LogLineFacts{};
  if (line.empty()) return false;
  if (line[0] == '*') return Header(line, facts);
  const auto t = Tokens(line);
  if (t.empty()) return false;
  bool ok = false;
  if (t[0] == "P" || t[0] == "Z") {
    ok = Position(t, facts);
  } else if (t[0] == "V" && t.size() == 5) {
    double v[4];
    ok = Number(t[1], v[0]) && Number(t[2], v[1]) && Number(t[3], v[2]) && Number(t[4], v[3]) && v[0] >= 0 &&
         v[1] >= 0;
    if (ok) {
      facts.time = v[0];
      facts.speed = v[1];
      facts.kind = LogLineFacts::Kind::Velocity;
    }
  } else if (t[0] == "X" && t.size() >= 5) {
    int count = 0;
    ok = Integer(t[1], count) && count >= 0 && count <= 12 && Number(t[3], facts.pdop) && facts.pdop >= 0;
    if (ok) {
      facts.satellites = count;
      facts.kind = LogLineFacts::Kind::Selection;
    }
  } else if (t[0] == "T" && t.size() == 2) {
    ok = Number(t[1], facts.time) && facts.time >= 0;
    if (ok) facts.kind = LogLineFacts::Kind::TimeMark;
  } else if (t[0] == "R" && t.size() >= 3 && t[1] == "RTKSTATEINFO") {
    ok = true;
    if (t[2] == "INITIALIZED")
      facts.state = FixState::RtkFixed;
    else if (t[2] == "FLOAT" || t[2] == "SEARCHING")
      facts.state = FixState::RtkFloat;
    else if (t[2] == "RTKDISABLED" || t[2] == "NORTKPOSITION")
      facts.state = FixState::Unknown;
    else
      ok = false;
    if (ok) facts.kind = LogLineFacts::Kind::RtkState;
  }
  if (!ok) facts = LogLineFacts{};
  return ok;
}
