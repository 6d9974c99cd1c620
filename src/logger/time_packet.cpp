#include "logger/field_reader.h"
#include "logger/hour_code.h"
#include "logger/packet_dispatch.h"

void DecodeTimePacket(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  if (f.Length() != 10) return;
  const double timeOfWeek = f.F32(0);
  // NaN fails this test too, so a garbled time never names a file.
  if (!(timeOfWeek >= 0.0)) return;
  LoggerSession& s = context.Session();
  s.gpsWeek = f.U16(4);
  const double utcOffset = f.F32(6);
  s.utcSecondsOfWeek = timeOfWeek - utcOffset;
  const UtcCalendarTime t = CalendarFromGpsTime(s.gpsWeek, s.utcSecondsOfWeek);
  s.year = t.year;
  s.month = t.month;
  s.day = t.day;
  s.hour = t.hour;
  s.minute = t.minute;
  s.second = t.second;
  s.timeValid = true;
  s.hourCode = MakeHourCode(t);
  s.lastTimeOfWeek = timeOfWeek;
  s.lastTimeStamp = context.Now();
}
