#include "logger/config_report.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "link/protocol/kavo_ids.h"
#include "logger/field_reader.h"
#include "logger/packet_dispatch.h"

namespace {

// Blanks of the label column on continuation lines.
#define CONT "*                    "

constexpr double kDegreesPerRadian = 57.29577951308232;

// One report line, formatted and cut at kReportLineMax bytes (terminating NUL included).
class CReportWriter {
 public:
  explicit CReportWriter(ILogLineContext& c) : context(c) {}
  void Line(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    char text[CConfigurationReport::kReportLineMax];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    context.WriteLine(text);
  }

 private:
  ILogLineContext& context;
};

// A value table: texts by code from 0; codes outside it print the table's unknown text, which may
// hold one "%hu" for the code.
struct CodeTable {
  std::initializer_list<const char*> texts;
  const char* unknown = "Unknown (%hu)";
};

// The text of `code` in `table`; `buffer` holds an unknown code's text.
class CText {
 public:
  CText(const CodeTable& table, unsigned code) {
    if (code < table.texts.size() && table.texts.begin()[code] != nullptr) {
      text = table.texts.begin()[code];
      return;
    }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(buffer, sizeof buffer, table.unknown, static_cast<unsigned short>(code));
#pragma GCC diagnostic pop
    text = buffer;
  }
  operator const char*() const {
    return text;
  }

 private:
  char buffer[48] = {};
  const char* text = nullptr;
};

const CodeTable kOnOff{{"off", "on"}};
const CodeTable kAvailability{{"none", "avail"}};
const CodeTable kSyncOutput{
    {"disabled", "enabled - filtered pseudorange", nullptr, "enabled - raw pseudorange"}, "unknown (%hu)"};
const CodeTable kPvFilter{{"off", "d/s on", "d only", "d/s/a on", "d/a on", "a only"}, "unknown (%hu)"};
const CodeTable kMaxPositionRate{{"1 Hz", "5 Hz", "10 Hz", "2 Hz"}};
const CodeTable kBaseStation{{"none", "Type 1", "Type 1/9"}};
const CodeTable kGuidanceProduct{{"none", "avail/off", "avail/on", "disabled", "Tolvane Inactive"}};
const CodeTable kDsvProviders{{"all", "Racal only", "Orbicor only", "NO L-BAND"}};
const CodeTable kLanguage{{"English", "Espanol", "Francais", "Deutsch", "Portugues", "Arg.Spanish"}};
const CodeTable kUnits{{"Metric", "U.S.", "Nautical"}};
const CodeTable kNcs{{"avail", "unavail", "ncs avail", "ncs test avail"}};
const CodeTable kRfChip{{"S1", "S2"}, "Unknown"};
const CodeTable kProtocol{{"none",
                           "KAVO in",
                           "KAVO out",
                           "NMEA out",
                           "RTCM in",
                           "internally-generated RTCM out",
                           "BER data in",
                           "BER data out",
                           "BER ctrl in",
                           "BER ctrl out",
                           "externally-genernated RTCM out",
                           "ASCII out port A in",
                           "ASCII out port B in",
                           "OR data in",
                           "Lightbar in",
                           "Lightbar out",
                           "KAVO 60/61 out",
                           "VELA in",
                           "VELA out",
                           "NMEA in",
                           "BREAK in",
                           "DISABLED",
                           "HARVLINK out",
                           "DISABLED",
                           "NCS in",
                           "CMR in",
                           "CMR out",
                           "Diags out"}};
const CodeTable kBaud{{"same as input", "110", "300", "600", "1200", "2400", "4800", "9600", "19200", "38400",
                       "57600", "115K", "230K"}};
const CodeTable kParity{{"none", "odd", "even"}};
const CodeTable kDataBits{{"five", "six", "seven", "eight"}};
const CodeTable kStopBits{{"one", "two"}};
const CodeTable kBitRate{{"250 bps", "125 bps", "500 bps", "850 bps"}};
const CodeTable kStationPreference{{"Prefer network stations", "Prefer closest station"},
                                   "Unknown preference"};
const CodeTable kDecoderType{{nullptr, "HW", "SW"}, "Unknown"};
// Correction sources by the receiver's source index (also the autoselect priorities).
const CodeTable kDgpsSource{{"Beacon ch 0", "Beacon ch 1", "External RTCM", "Racal", "Orbicor", "WAAS",
                             "Orbicor HP", "RTK", "Orbicor XP", "Orbicor HP/XP", "Orbicor HP G2",
                             "Orbicor G2", "Orbicor multi", "Orbicor L1"}};
const CodeTable kIntervals{{"100 msecs", "200 msecs", "1 second", "5 seconds"}};
const CodeTable kOperatingMode{
    {"automatic (2D/3D)", "single satellite (time)", nullptr, "horizontal (2D)", "full position (3D)",
     "DGPS reference", "clock hold (2D)", "overdetermined clock"},
    "unknown operating mode"};
const CodeTable kDynamics{{nullptr, "land", "sea", "air", "stationary"}, "unknown dynamics code"};
const CodeTable kDgpsMode{{"DGPS off", "DGPS only", "DGPS auto", "DGPS manual"}, "unknown DGPS mode"};
const CodeTable kSolutionMode{{"normal tracking", "high accuracy tracking"}, "unknown tracking mode"};
const CodeTable kMeasurementRate{{"1 Hz", "5 Hz", "10 Hz"}, "unknown measurement rate"};
const CodeTable kFixRate{{"1 Hz", "5 Hz", "10 Hz"}, "unknown position fix rate"};
const CodeTable kPpsDriver{{"off", "always on", "on while tracking"}, "unknown driver switch"};
const CodeTable kTimebase{{"GPS", "UTC"}, "unknown"};
const CodeTable kPolarity{{"positive", "negative"}, "unknown"};
const CodeTable kMounting{{"dash", "roof"}, "unknown"};
const CodeTable kLightbarText{{"off", "on"}, "unknown"};
const CodeTable kAlarmMode{{"off", "beep", "beep and flash"}, "unknown"};
const CodeTable kSpacingMode{{"fixed", "progressive"}, "unknown"};
const CodeTable kGuidanceUnits{{"metric", "english"}, "unknown"};
const CodeTable kDisplayMode{{"normal", "reverse"}, "unknown"};
const CodeTable kBoundaryMode{{"off", "on"}, "unknown"};
const CodeTable kPatternMode{{"straight", "curve", "pivot"}, "unknown"};
const CodeTable kSwathGeneration{{"manual", "auto"}, "unknown"};
const CodeTable kButtonSet{{"standard", "custom"}, "unknown"};
const CodeTable kButtonFunction{{"none", "mark A", "mark B", "next swath", "previous swath", "pause",
                                 "resume", "nudge left", "nudge right"},
                                "unknown"};
const CodeTable kCanBaud{{"250K", "500K", "1M", "125K"}, "unknown"};

// The maker's product and board names are not ours to print; these stand in for them, numbered
// by code as the receiver reports it (44 product codes, 13 board codes).
constexpr unsigned kProductCodes = 44;
constexpr unsigned kBoardCodes = 13;
class CNumberedName {
 public:
  CNumberedName(const char* kind, unsigned code, unsigned count) {
    if (code >= 1 && code <= count)
      std::snprintf(text, sizeof text, "%s %u", kind, code);
    else
      std::snprintf(text, sizeof text, "Unknown (%hu)", static_cast<unsigned short>(code));
  }
  operator const char*() const { return text; }

 private:
  char text[32];
};

// The flow-control text: the highest of bits 0-3 that is set.
class CFlowControl {
 public:
  explicit CFlowControl(unsigned code) {
    static constexpr const char* kBits[] = {"RTS/CTS", "XOn/XOff", "XAny", "HS-App"};
    if (code == 0) {
      text = "None";
      return;
    }
    for (int bit = 3; bit >= 0; --bit) {
      if (code & (1u << bit)) {
        text = kBits[bit];
        return;
      }
    }
    std::snprintf(buffer, sizeof buffer, "Unknown (%d)", static_cast<int>(code));
    text = buffer;
  }
  operator const char*() const { return text; }

 private:
  char buffer[24] = {};
  const char* text = nullptr;
};

// Printable text from `count` bytes at `offset`, up to the first zero byte; other bytes show as '?'.
class CFieldText {
 public:
  CFieldText(const CFieldReader& f, std::size_t offset, std::size_t count) {
    const std::uint8_t* bytes = f.Bytes(offset, count);
    std::size_t n = 0;
    if (bytes != nullptr) {
      for (; n < count && n + 1 < sizeof text && bytes[n] != 0; ++n)
        text[n] = (bytes[n] >= 0x20 && bytes[n] < 0x7F) ? static_cast<char>(bytes[n]) : '?';
    }
    text[n] = '\0';
  }
  operator const char*() const { return text; }
  bool Empty() const { return text[0] == '\0'; }

 private:
  char text[64];
};

void SendRequest(ILogLineContext& context, std::initializer_list<std::uint8_t> bytes, int withChecksum) {
  const std::uint8_t* b = bytes.begin();
  SendCommand(context, b[0], b + 1, static_cast<std::uint16_t>(bytes.size() - 1), withChecksum);
}

char PortLetter(unsigned port) {
  return port == 0 ? 'A' : 'B';
}

// ---- Plain replies --------------------------------------------------------------------------

void ReportIoOptions(const CFieldReader& f, CReportWriter& w) {
  if (f.Length() != 4) return;
  const unsigned position = f.U8(0), velocity = f.U8(1), timing = f.U8(2), aux = f.U8(3);
  w.Line("* KAVO I/O options   : 0x%02X 0x%02X 0x%02X 0x%02X\n", position, velocity, timing, aux);
  if (position & 0x01) w.Line(CONT "ECEF XYZ position output\n");
  if (position & 0x02) w.Line(CONT "LLA position output\n");
  w.Line(CONT "%s\n", (position & 0x04) ? "MSL altitude output" : "HAE altitude output");
  w.Line(CONT "%s\n", (position & 0x08) ? "MSL altitude input" : "HAE altitude input");
  w.Line(CONT "%s\n", (position & 0x10) ? "double precision" : "single precision");
  if (velocity & 0x01) w.Line(CONT "ECEF XYZ velocity output\n");
  if (velocity & 0x02) w.Line(CONT "ENU velocity output\n");
  w.Line(CONT "%s\n", (timing & 0x01) ? "time tags in UTC" : "time tags in GPS time");
  static constexpr const char* kFixTiming[] = {"fixes computed at integer seconds",
                                               "fixes computed at ASAP rate", "fixes sent only on request",
                                               "fixes sent only on request"};
  w.Line(CONT "%s\n", kFixTiming[(timing >> 1) & 0x03]);
  if (timing & 0x08) w.Line(CONT "simultaneous msmts required\n");
  if (timing & 0x10) w.Line(CONT "minimum msmt propagation\n");
  if (aux & 0x01) w.Line(CONT "raw measurement output\n");
  if (aux & 0x02) w.Line(CONT "codephase filtered before output\n");
  if (aux & 0x08) w.Line(CONT "additional fix status\n");
}

void ReportPvFilter(const CFieldReader& f, CReportWriter& w) {
  if (f.Length() != 4) return;
  const unsigned dynamic = f.U8(0), stationary = f.U8(1), altitude = f.U8(2), level = f.U8(3);
  if (dynamic == 0 && stationary == 0 && altitude == 0) {
    w.Line("* PV filter          : disabled\n");
    return;
  }
  static const CodeTable kLevel{{"normal", "high", "max"}};
  w.Line("* PV dynamic filter  : %s (%d)\n", static_cast<const char*>(CText(kOnOff, dynamic)), dynamic);
  w.Line("* PV static filter   : %s (%d)\n", static_cast<const char*>(CText(kOnOff, stationary)), stationary);
  w.Line("* Altitude filter    : %s (%d)\n", static_cast<const char*>(CText(kOnOff, altitude)), altitude);
  w.Line("* PV filter level    : %s (%d)\n", static_cast<const char*>(CText(kLevel, level)), level);
}

void ReportPvFilterSettings(const CFieldReader& f, CReportWriter& w) {
  if (f.Length() != 25) return;
  w.Line("* PV filter settings : \n");
  w.Line("*                  AL: %.5f\tDT: %d\t  PE: %d\t\tCL: %d\n", static_cast<double>(f.F32(0)), f.U8(4),
         f.U8(5), f.U8(6));
  w.Line("*                  DV: %.3f\tDC: %.0f\t  GV: %.3f\tGC: %.0f\n", static_cast<double>(f.F32(7)),
         static_cast<double>(f.F32(11)), static_cast<double>(f.F32(15)), static_cast<double>(f.F32(19)));
  w.Line("*                  BG: %d\tSC: %d\n", f.U8(23), f.U8(24));
}

// NMEA settings, 0x7B: byte 0 names the part (low bits) and, for parts 0, 4 and 6, the port (bit 7).
void ReportNmea(const CFieldReader& f, CReportWriter& w) {
  if (f.Length() < 2) return;
  const unsigned part = f.U8(0) & 0x7F;
  const char port = PortLetter(f.U8(0) >> 7);
  switch (part) {
    case 0: {
      if (f.Length() != 6) return;
      static constexpr const char* kSentences[] = {"GGA", "GLL", "VTG", "GSV", "GSA", "ZDA", "RMC", "GST",
                                                   "GRS", "MSS", "HDT", "ROT", "XTE", "GBS", "DTM", "GNS"};
      const std::uint32_t mask = f.U32(2);
      char list[16 * 4 + 1] = {};
      std::size_t used = 0;
      for (unsigned bit = 0; bit < 16; ++bit) {
        if (!(mask & (1u << bit))) continue;
        used += static_cast<std::size_t>(
            std::snprintf(list + used, sizeof list - used, "%s%s", used ? "," : "", kSentences[bit]));
      }
      w.Line("* NMEA out interval (Port %c): %d\n", port, f.U8(1));
      w.Line("* NMEA message mask (Port %c): 0x%08lX\n", port, static_cast<unsigned long>(mask));
      w.Line("* NMEA message list (Port %c): \"%s\"\n", port, list);
      return;
    }
    case 4: {
      if (f.Length() != 6) return;
      const unsigned gll = f.U8(2), vtg = f.U8(3), rmc = f.U8(5);
      w.Line("* NMEA GLL options  (Port %c): 0x%02X\n", port, gll);
      w.Line(CONT "NMEA version %s\n", (gll & 0x01) ? "2.01" : "1.5");
      w.Line(CONT "old positions %s\n", (gll & 0x02) ? "output" : "not output");
      w.Line(CONT "auto-mode non-DGPS positions %s\n", (gll & 0x04) ? "output" : "not output");
      w.Line(CONT "invalid position: %s\n", (gll & 0x08) ? "'V' in the status field" : "all null fields");
      w.Line(CONT "%s decimal places of time\n", (gll & 0x10) ? "two" : "no");
      w.Line("* NMEA VTG options   (Port %c): 0x%02X\n", port, vtg);
      w.Line(CONT "NMEA version %s\n", (vtg & 0x01) ? "2.01" : "1.5");
      w.Line(CONT "speed %s\n", (vtg & 0x02) ? "2D SOG (speed over ground)" : "3D");
      w.Line("* VTG speed precision(Port %c): %d decimal places\n", port, f.U8(4));
      w.Line("* NMEA RMC options   (Port %c): 0x%02X\n", port, rmc);
      w.Line(CONT "position with %d decimal places\n", 4 + (rmc & 0x03));
      w.Line(CONT "speed with %d decimal places\n", (rmc >> 2) & 0x03);
      w.Line(CONT "%s decimal places of time\n", (rmc & 0x10) ? "two" : "no");
      return;
    }
    case 6: {
      // One page of the receiver's own message list; an empty page gives no line.
      const CFieldText text(f, 2, f.Length() - 2);
      if (!text.Empty())
        w.Line("* NMEA message list (Port %c): \"%s\"\n", port, static_cast<const char*>(text));
      return;
    }
    case 7: {
      if (f.Length() != 3) return;
      const unsigned options = f.U8(2);
      w.Line("* NMEA Output Opts   (Port %c): 0x%02X\n", PortLetter(f.U8(1)), options);
      w.Line(CONT "KAVO-wrapped NMEA: %s\n", (options & 0x01) ? "Enabled" : "Disabled");
      return;
    }
    default:
      return;
  }
}

// Output intervals, 0x7D: part 1 the output and fix intervals, part 2 the fast-rate I/O flags.
void ReportOutputIntervals(const CFieldReader& f, CReportWriter& w) {
  if (f.Length() < 1) return;
  if (f.U8(0) == 1 && f.Length() == 6) {
    const unsigned interval = f.U8(3);
    w.Line("* %s output interval (Port %c): %s (%d) \n", f.U8(2) ? "NMEA" : "KAVO", PortLetter(f.U8(1)),
           static_cast<const char*>(CText(kIntervals, interval)), interval);
    w.Line("* KAVO fix interval  : %d with offset %d\n", f.U8(4), f.U8(5));
  } else if (f.U8(0) == 2 && f.Length() == 3) {
    const unsigned short a = f.U8(1), b = f.U8(2);
    w.Line("* KAVO Fast Rate I/O : 0x%02hx 0x%02hx\n", a, b);
    w.Line(CONT "Port A Silent KAVO Mode %s\n", (a & 0x01) ? "enabled" : "disabled");
    w.Line(CONT "Port B Silent KAVO Mode %s\n", (a & 0x02) ? "enabled" : "disabled");
    w.Line(CONT "Echo Port A input in 0x1A %s\n", (b & 0x01) ? "enabled" : "disabled");
  }
}

void ReportPps(const CFieldReader& f, CReportWriter& w) {
  if (f.Length() != 26) return;  // 24 bytes and the checksum
  const unsigned driver = f.U8(1), timebase = f.U8(2), polarity = f.U8(3);
  w.Line("* PPS #%1d config      : %s (%d)\n", f.U8(0), static_cast<const char*>(CText(kPpsDriver, driver)),
         driver);
  w.Line(CONT "%s timebase (%d)\n", static_cast<const char*>(CText(kTimebase, timebase)), timebase);
  w.Line(CONT "%s polarity (%d)\n", static_cast<const char*>(CText(kPolarity, polarity)), polarity);
  w.Line(CONT "period %g, offset %g\n", f.F64(4), f.F64(12));
  w.Line(CONT "max uncertainty %g\n", static_cast<double>(f.F32(20)));
}

void ReportNavigation(const CFieldReader& f, CReportWriter& w) {
  if (f.Length() != 24) return;
  const unsigned mode = f.U8(1), dynamics = f.U8(2), dgps = f.U8(19), solution = f.U8(21), measure = f.U8(22),
                 fix = f.U8(23);
  w.Line("* Operating mode     : %s (%d)\n", static_cast<const char*>(CText(kOperatingMode, mode)), mode);
  w.Line("* Dynamics           : %s (%d)\n", static_cast<const char*>(CText(kDynamics, dynamics)), dynamics);
  w.Line("* Elevation mask     : %.1f deg\n", f.F32(3) * kDegreesPerRadian);
  w.Line("* SNR mask           : %.1f AMU\n", static_cast<double>(f.F32(7)));
  w.Line("* PDOP mask          : %.1f\n", static_cast<double>(f.F32(11)));
  w.Line("* PDOP switch        : %.1f\n", static_cast<double>(f.F32(15)));
  w.Line("* DGPS mode          : %s (%d)\n", static_cast<const char*>(CText(kDgpsMode, dgps)), dgps);
  w.Line("* DGPS age limit     : %u s\n", f.U8(20));
  w.Line("* Solution mode      : %s (%d)\n", static_cast<const char*>(CText(kSolutionMode, solution)),
         solution);
  w.Line("* Measurement rate   : %s (%d)\n", static_cast<const char*>(CText(kMeasurementRate, measure)),
         measure);
  w.Line("* Position fix rate  : %s (%d)\n", static_cast<const char*>(CText(kFixRate, fix)), fix);
}

// ---- Super-packet replies (sub-identifier at byte 0, checksum in the last two bytes) ----------

// The configuration block. Layout: 1-10 serial number, 11-21 part number, 22-26 firmware version
// (major, minor, month, day, year - 1900), 28 layout (3: newer); 29-60 in the older layout the
// product text that the firmware identity's "I" line prints, in the newer one split into the
// product name override (29-48) and the brief name override (49-60). Then, from 61 in both:
// manufacture month, day, year (u16), the option bytes, and 8 bytes per port.
constexpr std::size_t kOlderOptions = 61;
constexpr std::size_t kNewerOptions = 61;
constexpr std::size_t kOptionBytes = 40;
constexpr std::size_t kPortBytes = 8;
constexpr std::size_t kPorts = 2;

bool ReportConfigBlock(const CFieldReader& f, CReportWriter& w) {
  const bool newer = f.U8(28) == 3;
  const std::size_t o = newer ? kNewerOptions : kOlderOptions;
  if (newer ? !f.Has(0, o + kOptionBytes + kPorts * kPortBytes + 2) : f.Length() != 157) return false;

  w.Line("* Firmware version   : %hu.%02hu %hu/%hu/%hu \n", static_cast<unsigned short>(f.U8(22)),
         static_cast<unsigned short>(f.U8(23)), static_cast<unsigned short>(f.U8(24)),
         static_cast<unsigned short>(f.U8(25)), static_cast<unsigned short>(f.U8(26) + 1900));
  w.Line("* -- Configuration Block Parameters --\n");
  w.Line("* Serial number      : %s\n", static_cast<const char*>(CFieldText(f, 1, 10)));
  w.Line("* Part number        : %s\n", static_cast<const char*>(CFieldText(f, 11, 11)));
  if (newer) {
    const CFieldText product(f, 29, 20), brief(f, 49, 12);
    if (product.Empty())
      w.Line("* Prod. name override: none\n");
    else
      w.Line("* Prod. name override: %s\n", static_cast<const char*>(product));
    if (brief.Empty())
      w.Line("* Brief name override: none\n");
    else
      w.Line("* Brief name override: %s\n", static_cast<const char*>(brief));
  }
  w.Line("* Manufacture Date   : %d/%d/%d\n", f.U8(o), f.U8(o + 1), f.U16(o + 2));
  std::size_t at = o + 4;
  w.Line("* Product ID         : %s\n",
         static_cast<const char*>(CNumberedName("Product", f.U16(at), kProductCodes)));
  at += 2;
  const auto option = [&](const char* label, const CodeTable& table) {
    w.Line("* %-19s: %s\n", label, static_cast<const char*>(CText(table, f.U8(at++))));
  };
  option("One PPS", kOnOff);
  option("PV filter", kPvFilter);
  option("External event", kOnOff);
  option("Beacon enabled", kOnOff);
  option("Max position rate", kMaxPositionRate);
  option("Base station", kBaseStation);
  option("Modem control", kAvailability);
  option("Quellin MPR", kAvailability);
  option("Guidance is GDX", kGuidanceProduct);
  // The second guidance product's flag; a neutral label stands for the maker's product name.
  option("Guidance product 2", kGuidanceProduct);
  option("Carrier phase", kOnOff);
  w.Line("* R&T subscript week : %d\n", f.U16(at));
  w.Line("* QRX subscript week : %d\n", f.U16(at + 2));
  at += 4;
  option("Brantix decoding", kOnOff);
  option("DSV providers", kDsvProviders);
  option("Display language", kLanguage);
  option("Display units", kUnits);
  w.Line("* Board Type         : %s\n",
         static_cast<const char*>(CNumberedName("Board", f.U8(at++), kBoardCodes)));
  w.Line("* Disabled streams   : 0x%02x\n", f.U8(at++));
  option("Virtual Ref. Stn.", kNcs);
  option("GPS Functionality", kAvailability);
  option("Firmware Enabled", kOnOff);
  option("Tilt Sensor", kAvailability);
  option("WAAS", kAvailability);
  w.Line("* Screen Contrast    : %i\n", f.U8(at++));
  w.Line("* Reserved Upgrade   : 0x%02hx\n", static_cast<unsigned short>(f.U8(at++)));
  option("CMR Input Process.", kAvailability);
  option("Point/Line/Area Log", kAvailability);
  option("RF Chip Type", kRfChip);
  option("CAN self-config", kOnOff);
  option("CAN Functionality", kAvailability);
  w.Line("* A-Reserved         : %i\n", f.U8(at++));
  at = o + kOptionBytes;
  for (std::size_t port = 0; port < kPorts; ++port, at += kPortBytes) {
    w.Line("* Port %c Parameters\n", PortLetter(static_cast<unsigned>(port)));
    w.Line("* Protocols        : %s, %s\n", static_cast<const char*>(CText(kProtocol, f.U8(at))),
           static_cast<const char*>(CText(kProtocol, f.U8(at + 1))));
    w.Line("* Baud rate        : %s in, %s out\n", static_cast<const char*>(CText(kBaud, f.U8(at + 2))),
           static_cast<const char*>(CText(kBaud, f.U8(at + 3))));
    w.Line("* Parity           : %s\n", static_cast<const char*>(CText(kParity, f.U8(at + 4))));
    w.Line("* Data bits        : %s\n", static_cast<const char*>(CText(kDataBits, f.U8(at + 5))));
    w.Line("* Stop bits        : %s\n", static_cast<const char*>(CText(kStopBits, f.U8(at + 6))));
    w.Line("* Flow control     : %s\n", static_cast<const char*>(CFlowControl(f.U8(at + 7))));
  }
  w.Line("* -- End Config Block Parameters --\n");
  return newer;
}

void ReportSpotStations(const CFieldReader& f, CReportWriter& w) {
  const std::size_t stations = f.U8(1);
  if (stations > 20) {
    w.Line("* Too many spot stations\r\n");
    return;
  }
  const std::size_t at = 2 + 3 * stations;
  if (!f.Has(at, 4 + 2)) return;
  const unsigned preference = f.U8(at), decoder = f.U8(at + 3);
  w.Line("* Racal Stn Sel Pref : %s (%d) \n", static_cast<const char*>(CText(kStationPreference, preference)),
         preference);
  w.Line("* Racal Manual Stn Id: %d \n", f.U16(at + 1));
  w.Line("* Racal Decoder Type : %s (%d)\n", static_cast<const char*>(CText(kDecoderType, decoder)), decoder);
}

void ReportDgpsSource(const CFieldReader& f, CReportWriter& w) {
  if (f.Length() != 23) return;
  const unsigned source = f.U8(1);
  if (source < kDgpsSource.texts.size())
    w.Line("* DGPS source        : %s (%d)\n", static_cast<const char*>(CText(kDgpsSource, source)), source);
  else
    w.Line("* DGPS source        : Unknown (%d)\n", source);
  w.Line("* WAAS backup        : %s (%d)\n", static_cast<const char*>(CText(kOnOff, f.U8(2))), f.U8(2));
  w.Line("* WAAS T2 Remap      : %s (%d)\n", static_cast<const char*>(CText(kOnOff, f.U8(3))), f.U8(3));
  w.Line("* L-Band NCS         : %s (%d)\n", static_cast<const char*>(CText(kOnOff, f.U8(4))), f.U8(4));
  w.Line("* Beacon channel mode: %s (%d)\n", static_cast<const char*>(CText(kBitRate, f.U8(5))), f.U8(5));
  w.Line("* Beacon frequencies : Ch0 %d kHz, Ch1 %d kHz\n", f.U16(6), f.U16(8));
  w.Line("* Satellite frequency: %7.3lf MHz\n", static_cast<double>(f.F32(10)));
  w.Line("* Satellite bit rate : %5.1lf baud\n", static_cast<double>(f.F32(14)));
  w.Line("* RTCM timeouts-auto : beacon %d s, satellite %d s, waas %d s\n", f.U8(18), f.U8(19), f.U8(20));
}

void ReportBiasFilter(const CFieldReader& f, CReportWriter& w) {
  if (f.Length() != 23 || f.U8(1) != 0x05) return;
  if (f.U8(2) == 0) {
    static constexpr const char* kStates[] = {"*                  Filter State: OFF\n",
                                              "*                  Filter State: ON\n",
                                              "*                  Filter State: RESET\n"};
    w.Line("* Bias filter parameter settings: \n");
    if (f.U8(3) < 3) w.Line("%s", kStates[f.U8(3)]);
    w.Line("*                  bias time constant (sec): %5.1f\n", static_cast<double>(f.F32(4)));
    w.Line("*                  filter depth: %5.1f\n", static_cast<double>(f.F32(8)));
    w.Line("*                  maximum gap: %5.1f\n", static_cast<double>(f.F32(12)));
  } else {
    w.Line("* Filter parameter settings: \n");
    w.Line("*     accel setting: %d\n", f.U8(3));
    w.Line("*     bias time constant (min): %5.1f\n", static_cast<double>(f.F32(4)));
  }
  switch (f.U8(16)) {
    case 0:
      w.Line("* Filter mode: OFF\n");
      w.Line("* KF filter      : disabled\n");
      w.Line("* Bias filter    : disabled\n");
      break;
    case 1:
      w.Line("* Filter mode: NORMAL\n");
      w.Line("* KF filter  : enabled\n");
      w.Line("* Bias filter: disabled\n");
      break;
    case 2:
      w.Line("* Filter mode: HIGH\n");
      w.Line("* Bias filter: enabled\n");
      break;
    case 3:
      w.Line("* Filter mode: MAX\n");
      w.Line("* Bias filter: enabled\n");
      break;
    default:
      break;
  }
  char decay[32];
  const double seconds = static_cast<double>(f.F32(17));
  if (seconds > 0)
    std::snprintf(decay, sizeof decay, "%.1f s", seconds);
  else
    std::snprintf(decay, sizeof decay, "none");
  w.Line("* Bias decay time: %s\n", decay);
}

void ReportLightbar(const CFieldReader& f, CReportWriter& w) {
  if (f.Length() != 20) return;
  w.Line("* GDX Lightbar Config  \n");
  w.Line("* Mounting         : %s (%d)\n", static_cast<const char*>(CText(kMounting, f.U8(1))), f.U8(1));
  w.Line("* Intensity        : %d\n", f.U8(2));
  w.Line("* Text             : %s (%d)\n", static_cast<const char*>(CText(kLightbarText, f.U8(3))), f.U8(3));
  w.Line("* Alarm mode       : %s (%d)\n", static_cast<const char*>(CText(kAlarmMode, f.U8(4))), f.U8(4));
  w.Line("* LED spacing mode : %s (%d)\n", static_cast<const char*>(CText(kSpacingMode, f.U8(5))), f.U8(5));
  w.Line("* LED interval     : %5.2f m\n", static_cast<double>(f.F32(6)));
  w.Line("* LED end interval : %5.2f m\n", static_cast<double>(f.F32(10)));
  w.Line("* Approach LED warn: %5.2f m\n", static_cast<double>(f.F32(14)));
}

// Guidance configuration, 37 bytes; the output rate at 16-19 is where the logger's own set-up
// changes it.
void ReportGuidance(const CFieldReader& f, CReportWriter& w) {
  if (f.Length() != 37) return;
  w.Line("* GDX Guidance Config  \n");
  w.Line("* Units            : %s (%d) \n", static_cast<const char*>(CText(kGuidanceUnits, f.U8(1))),
         f.U8(1));
  w.Line("* Display mode     : %s (%d) \n", static_cast<const char*>(CText(kDisplayMode, f.U8(2))), f.U8(2));
  w.Line("* Boundary mode    : %s (%d) \n", static_cast<const char*>(CText(kBoundaryMode, f.U8(3))), f.U8(3));
  w.Line("* Pattern mode     : %s (%d) \n", static_cast<const char*>(CText(kPatternMode, f.U8(4))), f.U8(4));
  w.Line("* Skip N swaths    : %d\n", f.U8(5));
  w.Line("* Look ahead       : %d m\n", f.U8(6));
  w.Line("* Swath generation : %s (%d)\n", static_cast<const char*>(CText(kSwathGeneration, f.U8(7))),
         f.U8(7));
  w.Line("* Swath width      : %.2f m\n", static_cast<double>(f.F32(8)));
  w.Line("* Antenna offset   : %.2f m\n", static_cast<double>(f.F32(12)));
  w.Line("* Output rate      : %d msecs\n", static_cast<int>(f.U32(16)));
  w.Line("* Curve Log Filter : %s\n", static_cast<const char*>(CText(kOnOff, f.U8(20))));
  w.Line("* A-B Line Heading : %.1f degrees\n", static_cast<double>(f.F32(21)));
  w.Line("* DGPS for Guidance: %s\n", f.U8(25) ? "non_DGPS Allowed" : "DGPS Required");
}

void ReportButtonDefs(const CFieldReader& f, CReportWriter& w) {
  const std::size_t buttons = f.U8(1);
  if (buttons > 16 || f.Length() != 2 + 2 * buttons + 2) return;
  w.Line("* GDX Button Defs      \n");
  for (std::size_t shift = 0; shift < 2; ++shift) {
    for (std::size_t i = 0; i < buttons; ++i) {
      const unsigned code = f.U8(2 + shift * buttons + i);
      w.Line("* Button %s%d   : %s (%d)\n", shift ? "Shift-" : "      ", static_cast<int>(i + 1),
             static_cast<const char*>(CText(kButtonFunction, code)), code);
    }
  }
}

void ReportHardware(const CFieldReader& f, CReportWriter& w) {
  if (f.Length() != 8) return;
  w.Line("* Hardware Type      : %s\n",
         static_cast<const char*>(CNumberedName("Board", f.U8(1), kBoardCodes)));
  w.Line("* Max channels       : %d\n", f.U8(2));
  w.Line("* LCD available      : %s\n", static_cast<const char*>(CText(kOnOff, f.U8(3))));
  w.Line("* CAN bus available  : %s\n", static_cast<const char*>(CText(kOnOff, f.U8(4))));
  w.Line("* DSP type           : %s\n", f.U8(5) ? "2185" : "2115");
}

void ReportAutoSelect(const CFieldReader& f, CReportWriter& w) {
  const std::size_t sources = f.U8(1);
  if (f.Length() != 2 + sources + 2) return;
  w.Line("* AutoSelect Priority: %d sources\n", static_cast<int>(sources));
  for (std::size_t i = 0; i < sources; ++i) {
    const unsigned source = f.U8(2 + i);
    if (source < kDgpsSource.texts.size())
      w.Line("* %d.) %s (%d)\n", static_cast<int>(i + 1),
             static_cast<const char*>(CText(kDgpsSource, source)), source);
    else
      w.Line("* %d.) Unknown (%d)\n", static_cast<int>(i + 1), source);
  }
}

void ReportCan(const CFieldReader& f, CReportWriter& w) {
  const std::size_t channels = f.U8(2);
  if (channels < 1 || channels > 2 || f.Length() != 3 + 4 * channels + 2) return;
  w.Line("* CAN Configuration  : %d %s\n", static_cast<int>(channels), channels == 1 ? "chan" : "chans");
  for (std::size_t c = 0; c < channels; ++c) {
    const std::size_t at = 3 + 4 * c;
    w.Line("* Ch:%c Baud: %s Addr:%hu ECU:%hu Fnct:%hu\n", static_cast<char>('0' + c),
           static_cast<const char*>(CText(kCanBaud, f.U8(at))), static_cast<unsigned short>(f.U8(at + 1)),
           static_cast<unsigned short>(f.U8(at + 2)), static_cast<unsigned short>(f.U8(at + 3)));
  }
}

}  // namespace

void FormatGpsSecondsDate(std::uint32_t seconds, char* out, std::size_t size) {
  // GPS time starts on 6 January 1980, five days into the year.
  long days = static_cast<long>((static_cast<std::uint64_t>(seconds) + 432000u) / 86400u);
  int year = 1980;
  for (;;) {
    const int length = (year % 4 == 0) ? 366 : 365;
    if (days < length) break;
    days -= length;
    ++year;
  }
  const int monthDays[] = {31, (year % 4 == 0) ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int month = 0;
  while (month < 11 && days >= monthDays[month]) days -= monthDays[month++];
  std::snprintf(out, size, "%02d/%02d/%02d", month + 1, static_cast<int>(days) + 1, year);
}

void CConfigurationReport::RequestConfiguration(ILogLineContext& c) {
  configComplete = false;
  SendRequest(c, {kavo::kIdHealthRequest}, 0);
  SendRequest(c, {kavo::kIdSuperRequest, kavo::kSubConfigBlock}, 1);
  SendRequest(c, {kavo::kIdSuperRequest, kavo::kSubFirmwareIdentity}, 1);
  SendRequest(c, {kavo::kIdSuperRequest, kavo::kSubHardware}, 1);
  SendRequest(c, {kavo::kIdSuperRequest, kavo::kSubBoardConfig, 0x00}, 0);
  SendRequest(c, {kavo::kIdSuperRequest, kavo::kSubCanConfig, 0x00}, 1);
  SendRequest(c, {kavo::kIdSuperRequest, kavo::kSubPanel, kavo::kPanelFlags}, 1);
  SendRequest(c, {kavo::kIdNavigation, 0x00}, 0);
  SendRequest(c, {kavo::kIdNavigation, 0x01}, 0);
  SendRequest(c, {kavo::kIdQualityOutputRequest, 0x00}, 0);
  SendRequest(c, {kavo::kIdQualityOutputRequest, 0x01}, 0);
  SendRequest(c, {kavo::kIdSyncMeasurements, 0x01}, 0);
  SendRequest(c, {kavo::kIdFixAutoReport, 0x01}, 0);
  SendRequest(c, {kavo::kIdSuperRequest, kavo::kSubDgpsSource}, 1);
  SendRequest(c, {kavo::kIdSuperRequest, kavo::kSubAutoSelect}, 1);
  SendRequest(c, {kavo::kIdSuperRequest, kavo::kSubSubscription, 0x04, 0x00, 0x00}, 1);
  SendRequest(c, {kavo::kIdSuperRequest, kavo::kSubOrbitServiceStatus, 0x00}, 1);
  SendRequest(c, {kavo::kIdSuperRequest, kavo::kSubOrbitServiceStatus, 0x01}, 1);
  SendRequest(c, {kavo::kIdSuperRequest, kavo::kSubSpotStations}, 1);
  SendRequest(c, {kavo::kIdIoOptions}, 0);
  SendRequest(c, {kavo::kIdOutputIntervalsRequest, 0x02}, 0);
  SendRequest(c, {kavo::kIdOutputIntervalsRequest, 0x01}, 0);
  SendRequest(c, {kavo::kIdNmeaControl, 0x00}, 0);
  SendRequest(c, {kavo::kIdNmeaControl, 0x04, 0x01}, 0);
  for (std::uint8_t i = 0; i <= 4; ++i) SendRequest(c, {kavo::kIdNmeaControl, 0x06, i}, 0);
  SendRequest(c, {kavo::kIdNmeaControl, 0x80}, 0);
  SendRequest(c, {kavo::kIdNmeaControl, 0x84, 0x01}, 0);
  for (std::uint8_t i = 0; i <= 4; ++i) SendRequest(c, {kavo::kIdNmeaControl, 0x86, i}, 0);
  SendRequest(c, {kavo::kIdNmeaControl, 0x07, 0x00}, 0);
  SendRequest(c, {kavo::kIdNmeaControl, 0x07, 0x01}, 0);
  SendRequest(c, {kavo::kIdBaseStationRequest, 0x00}, 0);
  SendRequest(c, {kavo::kIdPps, 0x00, 0x01}, 1);
  SendRequest(c, {kavo::kIdSuperRequest, kavo::kSubLightbarConfig}, 1);
  SendRequest(c, {kavo::kIdSuperRequest, kavo::kSubGuidanceConfig}, 1);
  SendRequest(c, {kavo::kIdSuperRequest, kavo::kSubButtonSet}, 1);
  SendRequest(c, {kavo::kIdSuperRequest, kavo::kSubButtonDefinitions}, 1);
  SendRequest(c, {kavo::kIdSuperRequest, kavo::kSubBiasFilter, 0x05}, 1);
  SendRequest(c, {kavo::kIdPvFilterSettingsRequest}, 0);
  SendRequest(c, {kavo::kIdPvFilter}, 0);
}

void CConfigurationReport::ReadConfigurationPacket(const KavoPacket& packet, ILogLineContext& context) {
  const CFieldReader f(packet);
  CReportWriter w(context);
  switch (packet.id) {
    case kavo::kIdMachineId:
      if (f.Length() != 3) return;
      machineId = f.U8(0);
      w.Line("* Machine ID         : %d\n", machineId);
      return;
    case kavo::kIdIoOptionsReport:
      ReportIoOptions(f, w);
      return;
    case kavo::kIdFixAutoReport:
      if (f.Length() != 2) return;
      w.Line("* Fix Dcorr AutoRpt. : %s (%hu)\n", static_cast<const char*>(CText(kOnOff, f.U8(1))),
             static_cast<unsigned short>(f.U8(1)));
      return;
    case kavo::kIdSyncMeasurements:
      if (f.Length() != 3) return;
      w.Line("* Sync Msmts. Output : %s, interval %hu s. (%hu)\n",
             static_cast<const char*>(CText(kSyncOutput, f.U8(1))), static_cast<unsigned short>(f.U8(2)),
             static_cast<unsigned short>(f.U8(1)));
      return;
    case kavo::kIdPvFilter:
      ReportPvFilter(f, w);
      // The answer to the last request: whatever it held, the receiver has answered everything.
      configComplete = true;
      return;
    case kavo::kIdPvFilterSettings:
      ReportPvFilterSettings(f, w);
      return;
    case kavo::kIdNmeaSettings:
      ReportNmea(f, w);
      return;
    case kavo::kIdOutputIntervals:
      ReportOutputIntervals(f, w);
      return;
    case kavo::kIdBaseStation:
      if (f.Length() != 1) return;
      w.Line("* Base station mode  : %s (%d)\n", f.U8(0) ? "on" : "off", f.U8(0));
      return;
    case kavo::kIdQualityOutput:
      if (f.Length() != 2) return;
      w.Line("* QA/QC VCV Output   : %s (%d)\n", static_cast<const char*>(CText(kOnOff, f.U8(0))), f.U8(0));
      w.Line("* QA/QC Sigma Output : %s (%d)\n", static_cast<const char*>(CText(kOnOff, f.U8(1))), f.U8(1));
      return;
    case kavo::kIdPps:
      ReportPps(f, w);
      return;
    case kavo::kIdNavigation:
      ReportNavigation(f, w);
      return;
    case kavo::kIdSuperReport:
      break;
    default:
      return;
  }
  if (!SuperPacketChecksumOk(packet)) return;
  switch (f.U8(0)) {
    case kavo::kSubFirmwareIdentity:
    case kavo::kSubConfigBlock:
      if (f.U8(28) == 3 || f.Length() == 157) newerLayout = ReportConfigBlock(f, w) || newerLayout;
      return;
    case kavo::kSubSpotStations:
      ReportSpotStations(f, w);
      return;
    case kavo::kSubDgpsSource:
      ReportDgpsSource(f, w);
      return;
    case kavo::kSubSubscription: {
      // The subscription record: expiry month, day and year - 1900 at 32-34.
      if (f.Length() != 42) return;
      w.Line("* Orbicor stop date : %02d/%02d/%02d\n", f.U8(32), f.U8(33), f.U8(34) + 1900);
      return;
    }
    case kavo::kSubOrbitServiceStatus: {
      if (f.U8(1) == 0 && f.Length() == 8) {
        char date[24];
        FormatGpsSecondsDate(f.U32(2), date, sizeof date);
        w.Line("* Orbicor HP Stop Date: %s", date);
      } else if (f.U8(1) == 1 && f.Length() > 4) {
        w.Line("* Orbicor HP Version: %s", static_cast<const char*>(CFieldText(f, 2, f.Length() - 4)));
      }
      return;
    }
    case kavo::kSubBiasFilter:
      ReportBiasFilter(f, w);
      return;
    case kavo::kSubLightbarConfig:
      ReportLightbar(f, w);
      return;
    case kavo::kSubGuidanceConfig:
      ReportGuidance(f, w);
      return;
    case kavo::kSubButtonSet:
      if (f.Length() != 4) return;
      w.Line("* GDX Button Set     : %s (%d)\n", static_cast<const char*>(CText(kButtonSet, f.U8(1))),
             f.U8(1));
      return;
    case kavo::kSubButtonDefinitions:
      ReportButtonDefs(f, w);
      return;
    case kavo::kSubHardware:
      ReportHardware(f, w);
      return;
    case kavo::kSubPanel:
      if (f.U8(1) != kavo::kPanelFlags || f.Length() < 5) return;
      w.Line("* Remote Display     : %s (0x%02X)\n", (f.U8(2) & 0x02) ? "On" : "Off", f.U8(2));
      return;
    case kavo::kSubAutoSelect:
      ReportAutoSelect(f, w);
      return;
    case kavo::kSubBoardConfig:
      if (f.Length() != 6) return;
      w.Line("* SW BD Config       : %d\n", f.U8(2));
      w.Line("* SW IF Config       : %d\n", f.U8(3));
      return;
    case kavo::kSubCanConfig:
      ReportCan(f, w);
      return;
    default:
      return;
  }
}
