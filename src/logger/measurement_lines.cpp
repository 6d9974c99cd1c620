#include "logger/measurement_lines.h"

#include <cstdio>

#include "logger/field_reader.h"
#include "logger/log_line.h"
#include "logger/log_units.h"

namespace {

constexpr std::size_t kL1Header = 21;
constexpr std::size_t kL1Block = 27;
constexpr std::size_t kL2Header = 18;
constexpr std::size_t kL2Block = 19;
constexpr std::size_t kGroupHeader = 11;
constexpr std::size_t kFrequencyBlock = 27;
constexpr std::size_t kPositionLineMax = 120;

void WriteFormatted(ILogLineContext& context, const char* format, auto... values) {
  char line[kLogLineMax];
  FormatLine(line, format, values...);
  context.WriteLine(line);
}

void LogL1(const CFieldReader& f, ILogLineContext& context) {
  if (f.Length() <= 20 || f.U8(1) != 2 || f.U16(2) + 1u != f.Length()) return;
  const int count = f.I8(20);
  if (count < 0) return;
  const std::size_t trailer = kL1Header + kL1Block * static_cast<std::size_t>(count);
  // The u16 and the completion byte after the blocks must be inside the packet too.
  if (!f.Has(trailer, 3)) return;
  if (f.U8(trailer + 2) != 3) return;
  for (int i = 0; i < count; ++i) {
    const std::size_t b = kL1Header + kL1Block * static_cast<std::size_t>(i);
    WriteFormatted(context, "# L1 %3.3d 0x%02X 0x%02X %11.3lf %11.3lf %2.1f", f.U8(b), f.U8(b + 1),
                   f.U8(b + 2), f.F64(b + 7), f.F64(b + 15), f.U8(b + 6) * 0.25);
  }
}

void LogL2(const CFieldReader& f, ILogLineContext& context) {
  const std::size_t count = f.U8(17);
  if (f.Length() < kL2Header || f.Length() != kL2Block * count + 20) return;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t b = kL2Header + kL2Block * i;
    WriteFormatted(context, "# L2 %3.3d 0x%02X 0x%02X %11.3lf %11.3lf %2.1f", f.U8(b), f.U8(b + 1),
                   f.U8(b + 2), static_cast<double>(f.F32(b + 15)), f.F64(b + 7),
                   static_cast<double>(f.F32(b + 3)));
  }
}

void LogClockReport(const CFieldReader& f, ILogLineContext& context) {
  if (f.Length() < 24) return;
  WriteFormatted(context, "K %4d %11.3lf %7.3lf %2d 0x%02X 0x%02X %7.3lf 0x%02X", f.U16(1), f.F64(3) / 1000.0,
                 static_cast<double>(f.F32(11)), f.U8(15), f.U8(17), f.U8(18), static_cast<double>(f.F32(19)),
                 f.U8(23));
}

void LogMultiSystem(const CFieldReader& f, ILogLineContext& context) {
  if (f.U16(1) != f.Length()) context.WriteLine("bad packet length for 06F 0x21");
  if (f.Length() < 13) return;
  const unsigned groups = f.U8(12);
  if (groups > 6) return;
  std::size_t at = 13;
  for (unsigned g = 0; g < groups; ++g) {
    // The length field may lie: stop at the first header or block that is not all there.
    if (!f.Has(at, kGroupHeader)) return;
    const std::uint8_t system = f.U8(at + 2);
    const char systemLetter = system == 0 ? 'G' : system == 1 ? 'S' : system == 2 ? 'R' : ' ';
    const unsigned frequencies = f.U8(at + 4);
    if (frequencies > 2) return;
    const std::uint8_t signal = f.U8(at + 10) & 0x03;
    const char signalLetter = signal == 0 ? 'A' : signal == 1 ? 'B' : ' ';
    const std::size_t header = at;
    at += kGroupHeader;
    for (unsigned k = 0; k < frequencies; ++k, at += kFrequencyBlock) {
      if (!f.Has(at, kFrequencyBlock)) return;
      WriteFormatted(context, "@ %c L%1d %c %3d 0x%02X 0x%02X %2d %4d %11.3lf %11.3lf %2.1f", systemLetter,
                     f.U8(at) + 1, signalLetter, f.U8(header + 1), f.U8(header + 9), f.U8(at + 25),
                     f.U16(header + 5), f.I16(header + 7), f.F64(at + 4), f.F64(at + 12),
                     f.U16(at + 2) / 10.0);
    }
  }
}

}  // namespace

const char* PositionTypeText(std::uint8_t code, char* buffer, std::size_t size) {
  struct Entry {
    std::uint8_t code;
    const char* text;
  };
  static constexpr Entry kTypes[] = {
      {0, "AUTONOMOUS"},
      {1, "DGPS-BEACON"},
      {2, "DGPS-SBAS"},
      {3, "DGPS-ORBIVBS"},
      {4, "DGPS-EXT"},
      {16, "ORBIHP-UNCONVERGED"},
      {17, "ORBIXP-UNCONVERGED"},
      {18, "ORBIHP-CONVERGED"},
      {19, "ORBIXP-CONVERGED"},
      {20, "ORBIHPXP-UNCONVERGED"},
      {21, "ORBIHPXP-CONVERGED"},
      {22, "ORBIHPG2-UNCONVERGED"},
      {23, "ORBIHPG2-CONVERGED"},
      {24, "ORBIG2-UNCONVERGED"},
      {25, "ORBIG2-CONVERGED"},
      {26, "ORBIMS-UNCONVERGED"},
      {27, "ORBIMS-CONVERGED"},
      {28, "ORBIL1-UNCONVERGED"},
      {29, "ORBIL1-CONVERGED"},
      {32, "RTK-FLOAT"},
      {33, "RTK-FIXED"},
      {48, "RTKSLAVE-FLOAT"},
      {49, "RTKSLAVE-FIXED"},
      {255, "UNKNOWN"},
  };
  for (const Entry& e : kTypes)
    if (e.code == code) return e.text;
  std::snprintf(buffer, size, "type:%d?", code);
  return buffer;
}

void LogRawMeasurements(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  if (f.Length() < 1) return;
  switch (f.U8(0)) {
    case 0x01:
      LogL1(f, context);
      break;
    case 0x10:
      LogL2(f, context);
      break;
    case 0x20:
      LogClockReport(f, context);
      break;
    case 0x21:
      LogMultiSystem(f, context);
      break;
    default:
      break;
  }
}

void LogPositionReport(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  CLogLine line(kPositionLineMax);
  switch (f.U8(2)) {
    case 0: {
      if (f.Length() < 63 + kChecksumBytes) return;
      char typeBuffer[16];
      // Bytes 11 and 13 fill the two small fields, byte 11 as in the NOPOS form; byte 12 is not printed.
      line.Append("J %.1lf %d %s 0x%X %hu %.9lf %.9lf %.3lf %.3f %.3f %.3f %.1f %.1f", f.F64(3), f.U8(11),
                  PositionTypeText(f.U8(54), typeBuffer, sizeof typeBuffer), f.U32(14),
                  static_cast<unsigned short>(f.U8(13)), f.F64(18) * kDegreesPerRadian,
                  f.F64(26) * kDegreesPerRadian, f.F64(34), static_cast<double>(f.F32(42)),
                  static_cast<double>(f.F32(46)), static_cast<double>(f.F32(50)),
                  static_cast<double>(f.F32(55)), static_cast<double>(f.F32(59)));
      break;
    }
    case 1:
      if (f.Length() < 18 + kChecksumBytes) return;
      // Byte 11 fills the first field, byte 17 the last; byte 12 is not printed.
      line.Append("J %.1lf %d NOPOS 0x%X %d", f.F64(3), f.U8(11), f.U32(13), f.U8(17));
      break;
    case 2:
      if (f.Length() < 45 + kChecksumBytes) return;
      line.Append("! %.1f %d %d %.5f %.2f %.5f %.5f %.5f", f.F64(3), f.U8(11), f.U8(12),
                  static_cast<double>(f.F32(13)), f.F32(17) * kDegreesPerRadian, f.F64(21), f.F64(29),
                  f.F64(37));
      break;
    default:
      return;
  }
  context.WriteLine(line.Text());
}
