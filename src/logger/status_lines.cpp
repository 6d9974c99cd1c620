#include "logger/status_lines.h"

#include "logger/field_reader.h"
#include "logger/log_line.h"
#include "logger/log_units.h"

namespace {

constexpr const char* kHealthStatus[] = {
    "Positioning",        "No GPS time yet",   "Waiting for almanac collection",
    "PDOP too high",      "No svs avail",      "Only 1 sv avail",
    "Only 2 svs avail",   "Only 3 svs avail",  "No svs usable",
    "Only 1 sv usable",   "Only 2 svs usable", "Only 3 svs usable",
    "Chosen sv unusable",
};
constexpr const char* kHealthErrors[] = {"BBRAM cleared", "DSP error",           "Align. of ch1",
                                         "Align. of ch2", "No antenna detected", "Excessive Freq Bias"};
constexpr unsigned kHealthStatusCount = sizeof kHealthStatus / sizeof kHealthStatus[0];

}  // namespace

void CopyPrintableText(const std::uint8_t* source, std::size_t count, char* out, std::size_t size) {
  if (size == 0) return;
  std::size_t n = 0;
  for (; source != nullptr && n < count && n + 1 < size && source[n] != 0; ++n) {
    const char c = static_cast<char>(source[n]);
    out[n] = (c == '\r' || c == '\n') ? ' ' : c;
  }
  out[n] = '\0';
}

void LogHealth(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  if (f.Length() != 2) return;
  const unsigned status = f.U8(0);
  const std::uint8_t errors = f.U8(1);
  // Positioning with nothing worse than a cleared battery-backed RAM is the normal state.
  if (status == 0 && errors < 2) return;
  CLogLine line;
  if (status >= kHealthStatusCount) {
    line.Append("H Unk. status code %d", status);
  } else {
    line.Append("H %s;", kHealthStatus[status]);
    if (status != 0)
      for (unsigned bit = 0; bit < 6; ++bit)
        if (errors & (1u << bit)) line.Append("%s;", kHealthErrors[bit]);
  }
  context.WriteLine(line.Text());

  LoggerSession& s = context.Session();
  if (s.coldResetSeen && (errors & 0x01) && (s.options & kLogColdBootReconfigure)) {
    context.WriteLine("* Cold reset - reconfigure receiver.");
    context.ConfigureForLogging();
    s.coldResetSeen = false;
  }
}

void LogAdc(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  if (f.Length() != 32) return;
  char line[kLogLineMax];
  FormatLine(line, "* ADC %.1f %.1f", static_cast<double>(f.F32(0)), static_cast<double>(f.F32(16)));
  context.WriteLine(line);
}

void LogDebugText(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  if (f.Length() <= 1 || f.U8(0) != 1) return;
  char text[kKavoMaxData];
  CopyPrintableText(f.Bytes(1, f.Length() - 1), f.Length() - 1, text, sizeof text);
  char line[kLogLineMax];
  FormatLine(line, "M %s", text);
  context.WriteLine(line);
}

void LogFirmwareIdentity(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  if (f.Length() != 157) return;
  // The text runs up to its NUL, and never into the checksum.
  char text[157];
  CopyPrintableText(f.Bytes(29, 157 - 2 - 29), 157 - 2 - 29, text, sizeof text);
  char line[kLogLineMax];
  FormatLine(line, "I %hu.%02hu %hu/%hu/%hu %s", static_cast<unsigned short>(f.U8(22)),
             static_cast<unsigned short>(f.U8(23)), static_cast<unsigned short>(f.U8(24)),
             static_cast<unsigned short>(f.U8(25)), static_cast<unsigned short>(f.U8(26) + 1900), text);
  context.WriteLine(line);
}

void LogEngineStatus(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  if (f.Length() != 61) return;
  const double time = f.F64(2);
  if (!(time > 0.001)) return;
  char line[kLogLineMax];
  FormatLine(line, "E %.1lf %04x %02x %d %.2f %.2f %.2f", time, f.U16(10), f.U8(12), f.I16(13),
             static_cast<double>(f.F32(25)), static_cast<double>(f.F32(29)), f.F32(33) * kDegreesPerRadian);
  context.WriteLine(line);
}
