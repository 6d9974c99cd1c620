#include "logger/guidance_lines.h"

#include <cstdio>
#include <cstring>

#include "link/protocol/kavo_ids.h"
#include "logger/field_reader.h"
#include "logger/log_line.h"
#include "logger/position_lines.h"
#include "logger/status_lines.h"

namespace {

constexpr std::uint32_t kVerboseRateMs = 200;
constexpr std::uint32_t kNormalRateMs = 1000;
constexpr std::size_t kRateOffset = 16;  // in the saved command's data
constexpr std::size_t kMaxEventText = 100;

const char* KeyText(std::uint8_t setFlag, std::uint8_t key, char* buffer, std::size_t size) {
  static constexpr const char* kSetKeys[] = {nullptr,    "SETA",    "SETB", "PAUSE",   "RESUME",
                                             "ADDHLAND", "ADDAREA", "SETC", "NAVWPTA", "NAVWPTB"};
  static constexpr const char* kClearKeys[] = {nullptr,   "DELHLAND", "CLRHLAND", "DELAREA",
                                               "CLRAREA", "INCSWATH", "DECSWATH", "RESET"};
  if (setFlag == 1 && key >= 1 && key <= 9) return kSetKeys[key];
  if (setFlag == 0 && key >= 1 && key <= 7) return kClearKeys[key];
  // A key the tables do not know prints its code.
  std::snprintf(buffer, size, "key:%d?", key);
  return buffer;
}

void LogKeyEvent(const CFieldReader& f, ILogLineContext& context) {
  if (f.U8(2) != 0 || f.Length() != 7) return;
  char unknown[16];
  char line[kLogLineMax];
  FormatLine(line, "F %s", KeyText(f.U8(3), f.U8(4), unknown, sizeof unknown));
  context.WriteLine(line);
}

void LogGuidanceAttitude(const CFieldReader& f, ILogLineContext& context) {
  // Ten doubles from byte 3, before the checksum.
  if (f.U8(2) != 0 || !f.Has(0, 3 + 80 + 2)) return;
  double v[10];
  for (std::size_t i = 0; i < 10; ++i) v[i] = f.F64(3 + 8 * i);
  char line[kLogLineMax];
  FormatLine(line, "A %.1lf %.2lf %.2lf %.2lf %.2lf %.2lf %.2lf %.2lf %.2lf %.2lf", v[0], v[1], v[2], v[3],
             v[4], v[5], v[6], v[7], v[8], v[9]);
  context.WriteLine(line);
}

void LogGuidanceDebug(const KavoPacket& packet, const CFieldReader& f, ILogLineContext& context) {
  if (!packet.checksumOk) {
    context.WriteLine("M Bad checksum on debug string");
    return;
  }
  const std::size_t count = f.U16(2);
  if (f.Length() < 6 || count != f.Length() - 6) {
    context.WriteLine("M Bad length on debug string");
    return;
  }
  if (count >= 255) {
    context.WriteLine("M Bad length match on debug string");
    return;
  }
  char text[256];
  CopyPrintableText(f.Bytes(4, count), count, text, sizeof text);
  char line[kLogLineMax];
  FormatLine(line, "M %s", text);
  context.WriteLine(line);
}

void LogEventText(const CFieldReader& f, ILogLineContext& context) {
  if (f.Length() < 4) return;
  const std::size_t available = f.Length() - 4;  // text from byte 2, checksum excluded
  const std::size_t count = available < kMaxEventText ? available : kMaxEventText;
  char text[kMaxEventText + 1];
  CopyPrintableText(f.Bytes(2, count), count, text, sizeof text);
  char line[kLogLineMax];
  FormatLine(line, "* %s", text);
  context.WriteLine(line);
}

}  // namespace

void RequestGuidanceConfig(ILogLineContext& context, bool rateOn) {
  LoggerSession& s = context.Session();
  if (s.guidanceConfigReceived) return;
  s.guidanceRateChangePending = true;
  s.guidanceRateOn = rateOn;
  const std::uint8_t request[] = {kavo::kSubGuidanceConfig};
  SendCommand(context, kavo::kIdSuperRequest, request, 1, 1);
}

void TakeGuidanceConfig(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  LoggerSession& s = context.Session();
  if (f.Length() != 37 || s.guidanceConfigReceived) return;
  s.guidanceConfigReceived = true;
  s.savedGuidanceConfig[0] = kavo::kSubGuidanceConfig;
  std::memcpy(s.savedGuidanceConfig + 1, f.Bytes(1, 34), 34);
  if (!s.guidanceRateChangePending) return;
  const std::uint32_t rate =
      s.guidanceRateOn ? ((s.options & kLogVerbose) ? kVerboseRateMs : kNormalRateMs) : 0;
  std::uint8_t* r = s.savedGuidanceConfig + kRateOffset;
  r[0] = static_cast<std::uint8_t>(rate >> 24);
  r[1] = static_cast<std::uint8_t>(rate >> 16);
  r[2] = static_cast<std::uint8_t>(rate >> 8);
  r[3] = static_cast<std::uint8_t>(rate);
  s.guidanceRateChangePending = false;
  SendCommand(context, kavo::kIdSuperRequest, s.savedGuidanceConfig, kGuidanceConfigLength, 1);
  context.WriteLine("SENDING GUIDANCE CONFIG\n");
}

void LogGuidanceEvents(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  switch (f.U8(1)) {
    case kavo::kSystemKeyEvent:
      LogKeyEvent(f, context);
      break;
    case kavo::kSystemAttitude:
      LogGuidanceAttitude(f, context);
      break;
    case kavo::kSystemDebug:
      LogGuidanceDebug(packet, f, context);
      break;
    case kavo::kSystemPosition:
      LogGuidancePosition(packet, context);
      break;
    case kavo::kSystemFatalError:
      LogEventText(f, context);
      break;
    default:
      break;
  }
}
