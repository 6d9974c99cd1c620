#include "logger/rtk_lines.h"

#include "logger/field_reader.h"
#include "logger/log_line.h"
#include "logger/log_units.h"

namespace {

// True when data bytes [0, end) lie before the checksum trailer.
bool HasBody(const CFieldReader& f, std::size_t end) {
  return f.Has(0, end + kChecksumBytes);
}

void LogRoverState(const CFieldReader& f, ILogLineContext& context) {
  if (!HasBody(f, 17)) return;
  CLogLine line;
  line.Append(
      "R RTKROVERSTATE 0x%02X 0x%02X 0x%02X 0x%02X 0x%02X 0x%02X 0x%02X 0x%02X 0x%02X %02ld 0x%02X 0x%02X",
      f.U8(2), f.U8(3), f.U8(4), f.U8(5), f.U8(15), f.U8(16), f.U8(6), f.U8(7), f.U8(8),
      static_cast<long>(f.U32(9)), f.U8(13), f.U8(14));
  context.WriteLine(line.Text());

  CLogLine info;
  switch (f.U8(2)) {
    case 0:
      if (!HasBody(f, 19)) return;
      info.Append("R RTKSTATEINFO RTKDISABLED 0x%02X", f.U8(18));
      break;
    case 1:
      if (!HasBody(f, 19)) return;
      info.Append("R RTKSTATEINFO NORTKPOSITION 0x%02X", f.U8(18));
      break;
    case 2:
      if (!HasBody(f, 20)) return;
      // The float value travels as a u16 in thousandths (the format prints three decimals).
      info.Append("R RTKSTATEINFO FLOAT 0x%02X %1.3f", f.U8(18), f.U16(18) / 1000.0);
      break;
    case 3:
      if (!HasBody(f, 22)) return;
      info.Append("R RTKSTATEINFO SEARCHING 0x%02X 0x%02X 0x%02X 0x%02X", f.U8(18), f.U8(19), f.U8(20),
                  f.U8(21));
      break;
    case 5:
      if (!HasBody(f, 45)) return;
      info.Append("R RTKSTATEINFO INITIALIZED 0x%02X 0x%02X 0x%02X %1.4lf %1.4lf %1.4lf", f.U8(18), f.U8(19),
                  f.U8(20), f.F64(21), f.F64(29), f.F64(37));
      break;
    default:
      return;
  }
  context.WriteLine(info.Text());
}

void LogCmrStats(const CFieldReader& f, ILogLineContext& context) {
  if (!HasBody(f, 5)) return;
  const std::size_t count = f.U8(3);
  if (!HasBody(f, 5 + 6 * count)) return;
  CLogLine line;
  line.Append("R RTKCMRSTATS %d %d", static_cast<int>(count), f.U8(4));
  for (std::size_t i = 0; i < count; ++i)
    line.Append(" [%d %d%% %d]", f.U8(5 + i), f.U8(5 + count + i),
                static_cast<int>(f.U32(5 + 2 * count + 4 * i)));
  context.WriteLine(line.Text());
}

}  // namespace

void LogRtkReport(const KavoPacket& packet, ILogLineContext& context) {
  if (!packet.checksumOk) return;
  const CFieldReader f(packet);
  if (f.Length() < 2 || f.U8(1) >= 9) return;
  CLogLine line;
  switch (f.U8(1)) {
    case 0:
      if (!HasBody(f, 8)) return;
      line.Append("R RTK1 %u %u", f.U32(2), static_cast<unsigned>(f.U16(6)));
      break;
    case 3:
      LogRoverState(f, context);
      return;
    case 7:
      if (!HasBody(f, 12)) return;
      line.Append("R RTKERRORREPORT %d %d %u %u %u", f.U8(2), f.U8(3), static_cast<unsigned>(f.U16(4)),
                  static_cast<unsigned>(f.U16(6)), f.U32(8) / 1000u);
      break;
    case 8:
      LogCmrStats(f, context);
      return;
    default:
      return;
  }
  context.WriteLine(line.Text());
}

void LogOrbiHpStatus(const KavoPacket& packet, ILogLineContext& context) {
  if (!packet.checksumOk) return;
  const CFieldReader f(packet);
  if (f.Length() < 32) return;
  static constexpr const char* kStates[] = {"NOSOLUTION", "UNCONVERGED", "CONVERGED"};
  const unsigned state = f.U8(4);
  const std::size_t count = f.U8(29);
  if (state >= 3 || count >= 11 || f.Length() != 32 + 4 * count) return;
  CLogLine line;
  line.Append("R ORBIHPSTATUS 0x%04X %s %.1f %.2f %d", static_cast<unsigned>(f.U16(2)), kStates[state],
              f.F32(5) / 1000.0, static_cast<double>(f.F32(9)), static_cast<int>(count));
  for (std::size_t i = 0; i < count; ++i) line.Append(" %d", static_cast<int>(f.U32(30 + 4 * i)));
  context.WriteLine(line.Text());
}
