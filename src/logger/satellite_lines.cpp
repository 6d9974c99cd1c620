#include "logger/satellite_lines.h"

#include <cmath>

#include "logger/field_reader.h"
#include "logger/log_line.h"
#include "logger/log_units.h"

namespace {

constexpr double kTrackingMaxAge = 30.0;
constexpr double kCorrectionMaxAge = 260.0;

void WriteTracking(ILogLineContext& context, SatelliteRecord& record, double now, const char* format) {
  TrackingBlock& t = record.tracking;
  const double age = AgeInWeek(now, t.lastMeasurementTime);
  // A time that is no number never ages; drop it like an old one.
  if (!(age <= kTrackingMaxAge)) {
    t.prn = 0;
    return;
  }
  if (t.prn == 0) return;
  char line[kLogLineMax];
  FormatLine(line, format, t.prn, t.acquisitionFlag, t.ephemerisFlag, age, static_cast<double>(t.signalLevel),
             t.elevation * kDegreesPerRadian, t.azimuth * kDegreesPerRadian, record.ephemeris.iode);
  context.WriteLine(line);
}

void WriteCorrection(ILogLineContext& context, SatelliteRecord& record, double now, const char* format) {
  CorrectionBlock& c = record.correction;
  const double age = AgeInWeek(now, c.correctionTime);
  if (!(age <= kCorrectionMaxAge)) {
    c.prn = 0;
    return;
  }
  if (c.prn == 0) return;
  char line[kLogLineMax];
  FormatLine(line, format, c.prn, c.bytes[0], c.bytes[2], c.bytes[3], age, static_cast<double>(c.value1),
             static_cast<double>(c.value2));
  context.WriteLine(line);
}

}  // namespace

double AgeInWeek(double now, double then) {
  double age = now - then;
  if (!std::isfinite(age)) return age;
  age = std::fmod(age, kSecondsPerWeek);
  if (age > kSecondsPerWeek / 2) age -= kSecondsPerWeek;
  if (age < -kSecondsPerWeek / 2) age += kSecondsPerWeek;
  return age;
}

void LogSatelliteSelection(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  if (f.Length() < 1) return;
  const std::uint8_t head = f.U8(0);
  const unsigned count = head >> 4;
  if (count > 12 || f.Length() != 17 + count) return;
  const unsigned code = head & 0x07;
  const int dimension = code == 3 ? 2 : (code == 4 ? 3 : 0);
  CLogLine line;
  line.Append("X %2.2d %s%1.1dD %.1lf %.1lf ", count, (head & 0x08) ? "M" : "A", dimension,
              static_cast<double>(f.F32(1)), static_cast<double>(f.F32(5)));
  for (unsigned i = 0; i < count; ++i) line.Append("%d ", f.U8(17 + i));
  context.WriteLine(line.Text());
}

void StoreEphemerisStatus(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  if (f.Length() != 16) return;
  SatelliteRecord* record = PrimaryRecord(context.Session().satellites, f.U8(0));
  if (record == nullptr) return;
  EphemerisBlock& e = record->ephemeris;
  e.prn = f.U8(0);
  e.collectionTime = f.F32(1);
  e.health = f.U8(5);
  e.iode = f.U8(6);
  e.ephemerisTime = f.F32(7);
  e.fitIntervalFlag = f.U8(11);
  e.ura = f.F32(12);
}

void StoreTrackingStatus(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  if (f.Length() != 24) return;
  SatelliteBanks& banks = context.Session().satellites;
  const std::uint8_t prn = f.U8(0);
  SatelliteRecord* record = PrimaryRecord(banks, prn);
  if (record == nullptr) return;
  const float measured = f.F32(8);
  // A GPS satellite tracked on a second signal reports the same measurement time twice.
  if (prn < kGpsPrnCount && record->tracking.lastMeasurementTime == measured) record = &banks.second[prn];
  TrackingBlock& t = record->tracking;
  t.prn = prn;
  t.channel = static_cast<std::uint8_t>(f.U8(1) >> 3);
  t.acquisitionFlag = f.U8(2);
  t.ephemerisFlag = f.U8(3);
  t.signalLevel = f.F32(4);
  t.lastMeasurementTime = measured;
  t.elevation = f.F32(12);
  t.azimuth = f.F32(16);
}

void StoreCorrectionStatus(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  if (f.Length() != 22) return;
  SatelliteRecord* record = PrimaryRecord(context.Session().satellites, f.U8(0));
  if (record == nullptr) return;
  CorrectionBlock& c = record->correction;
  c.prn = f.U8(0);
  for (std::size_t i = 0; i < 5; ++i) c.bytes[i] = f.U8(1 + i);
  c.correctionTime = f.F32(6);
  c.value1 = f.F32(10);
  c.value2 = f.F32(14);
}

void WriteSatelliteSummary(ILogLineContext& context) {
  LoggerSession& s = context.Session();
  const double pcTime = context.Now();
  // Without a time packet there is no receiver time to print, nor to age the satellites by.
  const bool timeKnown = s.lastTimeOfWeek >= 0.0;
  const double now = s.lastTimeOfWeek + (pcTime - s.lastTimeStamp);
  char line[kLogLineMax];
  if (timeKnown) {
    FormatLine(line, "T %.1lf", now);
    context.WriteLine(line);
  }
  if (s.options & kLogEngineeringInfo) {
    FormatLine(line, "* PCTIME %.1lf", pcTime);
    context.WriteLine(line);
  }
  if (!timeKnown) return;
  static constexpr const char* kGpsTracking = "G %2.2d  %1.1d %2.2d %4.1lf %4.1lf %5.2lf %6.2lf %2.2X";
  static constexpr const char* kSbasTracking = "G %3.3d %1.1d %2.2d %4.1lf %4.1lf %5.2lf %6.2lf %2.2X";
  static constexpr const char* kGpsCorrection = "C %2.2d  %2.2X %2.2X %2.2X %4.1lf %6.2lf %12.3le";
  static constexpr const char* kSbasCorrection = "C %3.3d %2.2X %2.2X %2.2X %4.1lf %6.2lf %12.3le";
  SatelliteBanks& banks = s.satellites;
  for (int prn = 1; prn < kGpsPrnCount; ++prn) WriteTracking(context, banks.first[prn], now, kGpsTracking);
  for (int prn = 1; prn < kGpsPrnCount; ++prn) WriteTracking(context, banks.second[prn], now, kGpsTracking);
  for (auto& record : banks.sbas) WriteTracking(context, record, now, kSbasTracking);
  for (int prn = 1; prn < kGpsPrnCount; ++prn)
    WriteCorrection(context, banks.first[prn], now, kGpsCorrection);
  for (auto& record : banks.sbas) WriteCorrection(context, record, now, kSbasCorrection);
}
