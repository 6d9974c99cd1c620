#include "logger/position_lines.h"

#include <cmath>
#include <numbers>

#include "link/protocol/kavo_ids.h"
#include "logger/field_reader.h"
#include "logger/log_line.h"
#include "logger/log_units.h"

namespace {

constexpr const char* kLlaFormat = "P %.1lf %.9lf %.9lf %.3lf %s %.3lf %c";
constexpr const char* kXyzFormat = "Z %.1lf %.3lf %.3lf %.3lf %s %.3lf %c";

// Fix time of a 36- or 40-byte fix: single precision in the short form, double in the long.
double FixTime(const CFieldReader& f) {
  return f.Length() == 36 ? f.F32(32) : f.F64(32);
}

// Shared by 0x83 and 0x84: keeps the fix, notes a reset (negative fix time), writes the line.
void LogDoubleFix(const KavoPacket& packet, ILogLineContext& context, bool lla) {
  const CFieldReader f(packet);
  if (f.Length() != 36 && f.Length() != 40) return;
  LoggerSession& s = context.Session();
  const double fixTime = FixTime(f);
  double* stored = lla ? s.lastLla : s.lastXyz;
  for (int i = 0; i < 4; ++i) stored[i] = f.F64(8 * static_cast<std::size_t>(i));
  stored[4] = fixTime;
  // Only the LLA fix reports a reset; the XYZ fix carries the same time but no note.
  if (lla && fixTime < 0.0) {
    s.coldResetSeen = true;
    context.WriteLine("* Reset Detected - 84");
  }
  char line[kLogLineMax];
  if (lla) {
    FormatLine(line, kLlaFormat, fixTime, stored[0] * kDegreesPerRadian, stored[1] * kDegreesPerRadian,
               stored[2], DgpsModeText(s.dgpsMode), stored[3], ' ');
  } else {
    FormatLine(line, kXyzFormat, fixTime, stored[0], stored[1], stored[2], DgpsModeText(s.dgpsMode),
               stored[3], ' ');
  }
  context.WriteLine(line);
}

}  // namespace

const char* DgpsModeText(std::uint8_t mode) {
  static constexpr const char* kTexts[] = {"MD OF", "MD ON", "AD OF", "AD ON", "XXXXX"};
  // The receiver reports 0-3 and the set-up presets 4 (unknown); anything larger is unknown too.
  return mode < 4 ? kTexts[mode] : kTexts[4];
}

void LogResetDetection(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  double fixTime;
  if (f.Length() == 20)
    fixTime = f.F32(16);
  else if (f.Length() == 24)
    fixTime = f.F64(16);
  else
    return;
  if (fixTime < 0.0) {
    context.Session().coldResetSeen = true;
    context.WriteLine("* Reset Detected - 4A");
  }
}

void LogLlaPosition(const KavoPacket& packet, ILogLineContext& context) {
  LogDoubleFix(packet, context, true);
}

void LogXyzPosition(const KavoPacket& packet, ILogLineContext& context) {
  LogDoubleFix(packet, context, false);
}

void LogGuidancePosition(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  if (f.Length() != 46) return;
  const std::uint8_t kind = f.U8(2);
  const std::uint8_t type = f.U8(3);
  static constexpr char kTypeLetters[] = {'R', 'P', 'T'};
  if (kind > 1 || type > 2) return;
  const double a = f.F64(4), b = f.F64(12), c = f.F64(20), d = f.F64(28), time = f.F64(36);
  const char* mode = DgpsModeText(context.Session().dgpsMode);
  char line[kLogLineMax];
  if (kind == 0)
    FormatLine(line, kLlaFormat, time, a * kDegreesPerRadian, b * kDegreesPerRadian, c, mode, d,
               kTypeLetters[type]);
  else
    FormatLine(line, kXyzFormat, time, a, b, c, mode, d, kTypeLetters[type]);
  context.WriteLine(line);
}

void LogVelocity(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  if (f.Length() != 20 && f.Length() != 24) return;
  const double east = f.F32(0), north = f.F32(4);
  const float fourth = f.F32(12);
  const double fixTime = f.Length() == 20 ? static_cast<double>(f.F32(16)) : f.F64(16);
  CLogLine line;
  if (fixTime <= 1000000.0) {
    const double speed = std::sqrt(east * east + north * north);
    double heading = 0.0;
    if (speed > 0.001) {
      heading = std::atan2(east, north);
      if (heading < 0.0) heading += 2.0 * std::numbers::pi;
    }
    line.Append("V %.1lf %.4lf %.1lf %.3f", fixTime, speed, heading * kDegreesPerRadian,
                static_cast<double>(fourth));
  } else {
    // An implausible fix time (NaN included): dump the packet for the engineers instead.
    line.Append("V NAN ");
    for (std::size_t i = 0; i < f.Length(); ++i) line.Append("%hx ", static_cast<unsigned short>(f.U8(i)));
  }
  context.WriteLine(line.Text());
}

void LogDgpsMode(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  LoggerSession& s = context.Session();
  if (f.Length() != 1 && f.Length() != 4) {
    SendCommand(context, kavo::kIdDgpsModeRequest, nullptr, 0, 0);
    context.WriteLine("* NOTE: Received bad pos type pkt, requesting a resend.");
    return;
  }
  const std::uint8_t mode = f.U8(0);
  if (mode != s.dgpsMode) s.forceRequests = true;
  s.dgpsMode = mode;
}

void LogAttitudeMatrix(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  if (f.Length() != 44) return;
  double m[9];
  for (std::size_t i = 0; i < 9; ++i) m[i] = f.F32(8 + 4 * i);
  char line[kLogLineMax];
  FormatLine(line, "A M %.1lf %.3f %.3f %.3f %.3f %.3f %.3f %.3f %.3f %.3f", f.F64(0), m[0], m[1], m[2], m[3],
             m[4], m[5], m[6], m[7], m[8]);
  context.WriteLine(line);
}

void LogAttitudeQuaternion(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  if (f.Length() != 24) return;
  char line[kLogLineMax];
  FormatLine(line, "A Q %.1lf %.3f %.3f %.3f %.3f", f.F64(0), static_cast<double>(f.F32(8)),
             static_cast<double>(f.F32(12)), static_cast<double>(f.F32(16)), static_cast<double>(f.F32(20)));
  context.WriteLine(line);
}

void LogAttitudeEuler(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  if (f.Length() != 20) return;
  char line[kLogLineMax];
  FormatLine(line, "A E %.1lf %.3f %.3f %.3f", f.F64(0), static_cast<double>(f.F32(8)),
             static_cast<double>(f.F32(12)), static_cast<double>(f.F32(16)));
  context.WriteLine(line);
}
