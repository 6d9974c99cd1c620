#include "logger/correction_lines.h"

#include <cstdio>
#include <cstring>

#include "logger/field_reader.h"
#include "logger/log_line.h"

namespace {

constexpr std::size_t kStatusEntry = 30;
constexpr std::size_t kStatusFirstEntry = 3;

// Looks `index` up in `table`; outside it, formats `unknownFormat` with the index into `buffer`.
template <std::size_t N>
const char* TableText(const char* const (&table)[N], unsigned index, const char* unknownFormat, char* buffer,
                      std::size_t size) {
  if (index < N) return table[index];
  std::snprintf(buffer, size, unknownFormat, index);
  return buffer;
}

constexpr const char* kLSources[] = {"BCN0", "BCN1", "EXT ",   "RAC ",   "ORBI", "WAAS", "ORHP",
                                     "RTK ", "ORXP", "ORHPXP", "ORHPG2", "ORG2", "ORMS", "ORL1"};
constexpr const char* kQSources[] = {"UNK ", "BCN ", "EXT ",   "THAL",   "ORBI", "WAAS", "ORHP",
                                     "RTK ", "ORXP", "ORHPXP", "ORHPG2", "ORG2", "ORMS", "ORL1"};
constexpr const char* kQualities[] = {"UNK ", "AUTO", "DGPS", "DECI", "RTK "};
constexpr const char* kServiceLetters[] = {"U", "D", "E"};
constexpr const char* kServiceStates[] = {"Ini0", "Ini1", "Ini2", "Ini3", "Ini4",
                                          "Init", "Conf", "Data", "Rset", "Nohw"};

}  // namespace

void LogCorrectionSource(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  if (f.Length() != 25) return;
  CorrectionSourceReport& r = context.Session().correction;
  r.source = f.U16(1);
  r.value = f.I16(3);
  r.frequency = f.F64(5);
  for (std::size_t i = 0; i < 3; ++i) r.bytes[i] = f.U8(13 + i);
  char unknown[16];
  char line[kLogLineMax];
  FormatLine(line, "L %s %3.3d %3.3d %hu 0x%02hx %.1lf",
             TableText(kLSources, r.source, "src:%d?", unknown, 16), r.value, r.bytes[2],
             static_cast<unsigned short>(r.bytes[0]), static_cast<unsigned short>(r.bytes[1]), r.frequency);
  context.WriteLine(line);
}

void LogSolutionQuality(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  if (f.Length() != 20) return;
  QualityReport& q = context.Session().quality;
  q.quality = f.U8(1);
  q.source = f.U8(2);
  q.value = f.I16(3);
  q.byte5 = f.U8(5);
  q.flags = f.U8(6);
  q.age = f.F32(7);
  // A satellite service whose solution flag is not set yet is marked doubtful.
  const char marker = (q.source >= 6 && q.source <= 13 && !(q.flags & 0x01)) ? '?' : ' ';
  char unknownQuality[16], unknownSource[16];
  char line[kLogLineMax];
  // The receiver tools parse this exact layout, "%0.3d" (a '0' flag that printf ignores) included.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
  FormatLine(line, "Q %.1f %s%c %s %0.3d %.2d 0x%.2X", static_cast<double>(q.age),
             TableText(kQualities, q.quality, "qual:%d?", unknownQuality, 16), marker,
             TableText(kQSources, q.source, "src:%d?", unknownSource, 16), q.value, q.byte5, q.flags);
#pragma GCC diagnostic pop
  context.WriteLine(line);
}

void LogDecoderStatus(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  if (f.Length() != 19) return;
  const std::uint8_t type = f.U8(13);
  CLogLine line;
  line.Append("%s", type == 3 ? "D R " : type == 4 ? "D O" : "D ?");
  line.Append("%.1f %6hu %6hu ", static_cast<double>(f.F32(1)), f.U16(5), f.U16(7));
  const std::uint32_t count = f.U32(9);
  if (count > 99999)
    line.Append(" 99999  ");
  else
    line.Append("%6ld", static_cast<long>(count));
  context.WriteLine(line.Text());
}

void StoreSubscription(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  if (f.Length() != 42) return;
  const std::uint8_t type = f.U8(1);
  if (type != 3 && type != 4) return;
  SubscriptionBlock& block = type == 3 ? context.Session().subscriptionR : context.Session().subscriptionO;
  std::memcpy(block.data, f.Bytes(2, 24), 24);
  std::memcpy(block.date, f.Bytes(29, 6), 6);
  block.type = type;
  block.value = f.U32(33);
}

void LogSubscriptionStatus(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  if (f.Length() != 17) return;
  const std::uint8_t type = f.U8(11);
  if (type != 3 && type != 4) return;
  const SubscriptionBlock& block =
      type == 3 ? context.Session().subscriptionR : context.Session().subscriptionO;
  // Indexes outside the tables print "?" (letter) and "state:N?" instead of reading past them.
  char unknownLetter[4], unknownState[16];
  CLogLine line;
  line.Append("%s", type == 3 ? "U R " : "U O ");
  line.Append("%6ld %s %s 0x%04x %hu/%hu/%hu %ld", static_cast<long>(f.U32(2)),
              TableText(kServiceLetters, f.U8(1), "?", unknownLetter, sizeof unknownLetter),
              TableText(kServiceStates, f.U8(10), "state:%d?", unknownState, sizeof unknownState),
              static_cast<unsigned>(f.U16(12)), static_cast<unsigned short>(block.date[3]),
              static_cast<unsigned short>(block.date[4]), static_cast<unsigned short>(block.date[5] + 1900),
              static_cast<long>(block.value));
  context.WriteLine(line.Text());
}

void LogSpotStations(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  if (f.Length() < 2) return;
  const std::size_t count = f.U8(1);
  if (count > 20) {
    context.WriteLine("Too many spot stations\r\n");
    return;
  }
  if (f.Length() != 3 * count + 10) return;
  CLogLine line;
  line.Append("N %2d ", static_cast<int>(count));
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = 2 + 3 * i;
    const std::uint8_t flags = f.U8(at + 2);
    line.Append("%3d %c%c ", f.U16(at), (flags & 0x01) ? 'Y' : 'N', (flags & 0x02) ? 'Y' : 'N');
  }
  context.WriteLine(line.Text());
}

void LogCorrectionStatusBlock(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  if (f.Length() < 3) return;
  std::size_t count;
  if (f.U8(2) == 0) {
    if (f.Length() != 65) return;
    count = f.U8(kStatusFirstEntry + 8) == 5 ? 1 : 2;
  } else {
    count = f.U8(2);
    if (f.Length() != kStatusEntry * count + 5) return;
  }
  if (count == 2 && f.U8(kStatusFirstEntry + kStatusEntry + 8) == 0xFF) count = 1;

  LoggerSession& s = context.Session();
  s.correctionStatusCount = static_cast<std::uint8_t>(count < 2 ? count : 2);
  for (std::size_t i = 0; i < s.correctionStatusCount; ++i)
    std::memcpy(s.correctionStatus[i], f.Bytes(kStatusFirstEntry + kStatusEntry * i, kStatusEntry),
                kStatusEntry);

  CLogLine line;
  bool pending = false;  // a "B " line waiting for the entry that completes it
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t e = kStatusFirstEntry + kStatusEntry * i;
    const std::uint8_t type = f.U8(e + 8);
    const std::uint8_t mode = f.U8(e + 9);
    if (type == 5 || !pending) {
      line = CLogLine();
      line.Append(type == 5 ? "S " : "B ");
    }
    line.Append("%.1lf ", f.F64(e) / 1000.0);
    const bool tracked = mode == 3 || mode == 4;
    const std::uint8_t b11 = tracked ? f.U8(e + 11) : 0;
    const std::uint8_t b12 = tracked ? f.U8(e + 12) : 0;
    const std::uint8_t b14 = tracked ? f.U8(e + 14) : 0;
    line.Append("%.1lf %.1lf %.1lf ", b11 / 10.0, b12 * 0.5, b14 * 0.0625);
    // Satellite (type 5) entries carry a signal level in tenths, the others a 0-255 quality.
    if (type == 5)
      line.Append("%.1lf ", f.U8(e + 19) / 10.0);
    else
      line.Append("%.3lf ", f.U8(e + 20) / 255.0);
    line.Append("%5.1lf ", f.I32(e + 15) / 10.0);
    line.Append("%hu ", static_cast<unsigned short>(f.U8(e + 10)));
    if (type == 5 || i > 0) {
      context.WriteLine(line.Text());
      pending = false;
    } else {
      pending = true;
    }
  }
}
