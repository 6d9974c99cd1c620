#include "link/receiver_port_config.h"

#include <cctype>
#include <charconv>
#include <climits>
#include <cstring>
#include <string_view>

#include "link/protocol/kavo_ids.h"

namespace {

bool IsBlank(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// A scanf-like reader over a NUL-terminated text that never writes past a field: a string
// token that does not fit fails the read instead of spilling into the next member.
class CTokenReader {
 public:
  explicit CTokenReader(const char* text) : p(text) {}

  void SkipBlanks() {
    while (*p != '\0' && IsBlank(*p)) ++p;
  }

  // %s into a field of `capacity` bytes (terminator included).
  bool String(char* out, std::size_t capacity) {
    SkipBlanks();
    const char* start = p;
    while (*p != '\0' && !IsBlank(*p)) ++p;
    const std::size_t n = static_cast<std::size_t>(p - start);
    if (n == 0 || n + 1 > capacity) return false;
    std::memcpy(out, start, n);
    out[n] = '\0';
    return true;
  }

  // %d: optional sign and at least one digit; the value must fit an int.
  bool Int(std::int32_t& out) {
    SkipBlanks();
    const char* q = p;
    bool negative = false;
    if (*q == '+' || *q == '-') negative = (*q++ == '-');
    const char* digits = q;
    long long value = 0;
    while (std::isdigit(static_cast<unsigned char>(*q))) {
      value = value * 10 + (*q++ - '0');
      if (value > static_cast<long long>(INT_MAX) + 1) return false;
    }
    if (q == digits) return false;
    if (negative) value = -value;
    if (value > INT_MAX || value < INT_MIN) return false;
    out = static_cast<std::int32_t>(value);
    p = q;
    return true;
  }

  // %c (the layout always puts a blank before it, so blanks are skipped first).
  bool Char(char& out) {
    SkipBlanks();
    if (*p == '\0') return false;
    out = *p++;
    return true;
  }

  // %f, independent of the process locale (Qt sets the user's locale, whose decimal point may
  // not be '.'); the value itself is dropped by the only caller.
  bool Float() {
    SkipBlanks();
    const char* q = p;
    if (*q == '+' || *q == '-') ++q;
    float value = 0;
    const char* end = q + std::strlen(q);
    auto [next, error] = std::from_chars(q, end, value);
    if (error == std::errc::invalid_argument) return false;
    p = next;  // out of range still consumes the number, as scanf does
    return true;
  }

 private:
  const char* p;
};

void ReplaceAll(char* text, std::size_t& length, std::string_view from, std::string_view to) {
  // Only replacements that shrink the text are used, so it is rewritten in place.
  std::size_t out = 0;
  for (std::size_t in = 0; in < length;) {
    if (length - in >= from.size() && std::memcmp(text + in, from.data(), from.size()) == 0) {
      std::memcpy(text + out, to.data(), to.size());
      out += to.size();
      in += from.size();
    } else {
      text[out++] = text[in++];
    }
  }
  length = out;
  text[length] = '\0';
}

}  // namespace

bool ParsePortReport(const char* text, std::size_t length, ReceiverPortReport& report) {
  if (text == nullptr || length > kPortReportMaxBytes) return false;
  char work[kPortReportMaxBytes + 1];
  std::memcpy(work, text, length);
  work[length] = '\0';
  // A NUL inside the report ends the text, as it would for the C string functions.
  length = std::strlen(work);

  ReplaceAll(work, length, "Brisk Mote", "BriskMote");
  for (std::size_t i = 0; i < length; ++i) {
    if (work[i] == ',' || work[i] == ';' || work[i] == '(' || work[i] == ')') work[i] = ' ';
  }

  ReceiverPortReport r;
  char scratch[32];
  char c = 0;
  CTokenReader in(work);
  const bool complete = in.String(r.name, sizeof r.name)                   // 1
                        && in.String(scratch, sizeof scratch)              // 2
                        && in.Int(r.field3)                                // 3
                        && in.Int(r.inBaud)                                // 4
                        && in.Int(r.outBaud)                               // 5
                        && in.Int(r.dataBits)                              // 6
                        && in.Int(r.stopBits)                              // 7
                        && in.Char(r.parity)                               // 8
                        && in.Char(c)                                      // 9
                        && in.String(scratch, sizeof scratch)              // 10
                        && in.Float()                                      // 11
                        && in.String(scratch, sizeof scratch)              // 12
                        && in.Float()                                      // 13
                        && in.String(scratch, sizeof scratch)              // 14
                        && in.String(scratch, sizeof scratch)              // 15
                        && in.String(r.inProtocol, sizeof r.inProtocol)    // 16
                        && in.Char(c)                                      // 17
                        && in.String(r.outProtocol, sizeof r.outProtocol)  // 18
                        && in.Char(c);                                     // 19
  if (!complete) return false;
  r.valid = 1;
  report = r;
  return true;
}

int BaudCode(std::int32_t baud) {
  switch (baud) {
    case 2400:
      return 5;
    case 4800:
      return 6;
    case 9600:
      return 7;
    case 19200:
      return 8;
    case 38400:
      return 9;
    case 11264:
      return 10;
    case 22528:
      return 11;
    default:
      return -1;
  }
}

std::uint8_t ProtocolMask(const char* name) {
  struct Row {
    const char* text;
    std::uint8_t mask;
  };
  static constexpr Row kRows[] = {{"NONE", 0}, {"VELA", 1},  {"KAVO", 2},  {"NMEA", 4},
                                  {"RTCM", 8}, {"DCOL", 16}, {"LBAR", 32}, {"CMR", 64}};
  for (const Row& row : kRows) {
    if (std::strstr(name, row.text) != nullptr) return row.mask;
  }
  return 0;
}

bool BuildPortConfigPacket(const ReceiverPortReport& report, KavoPacket& packet) {
  const int inCode = BaudCode(report.inBaud);
  const int outCode = BaudCode(report.outBaud);
  int dataCode = -1;
  if (report.dataBits == 7) dataCode = 2;
  if (report.dataBits == 8) dataCode = 3;
  int parityCode = -1;
  if (report.parity == 'N') parityCode = 0;
  if (report.parity == 'O') parityCode = 1;
  if (report.parity == 'E') parityCode = 2;
  int stopCode = -1;
  if (report.stopBits == 1) stopCode = 0;
  if (report.stopBits == 2) stopCode = 1;
  if (inCode < 0 || outCode < 0 || dataCode < 0 || parityCode < 0 || stopCode < 0) return false;

  // The protocol names are bounded by their fields, but a report built by hand may lack the
  // terminator: never read past them.
  char inName[sizeof report.inProtocol + 1] = {};
  char outName[sizeof report.outProtocol + 1] = {};
  std::memcpy(inName, report.inProtocol, sizeof report.inProtocol);
  std::memcpy(outName, report.outProtocol, sizeof report.outProtocol);

  packet.id = kavo::kIdPortConfig;
  packet.length = kPortConfigPacketLength;
  packet.data[0] = 0xFF;  // the port the packet arrives on
  packet.data[1] = static_cast<std::uint8_t>(inCode);
  packet.data[2] = static_cast<std::uint8_t>(outCode);
  packet.data[3] = static_cast<std::uint8_t>(dataCode);
  packet.data[4] = static_cast<std::uint8_t>(parityCode);
  packet.data[5] = static_cast<std::uint8_t>(stopCode);
  packet.data[6] = 0;  // no flow control
  packet.data[7] = ProtocolMask(inName);
  packet.data[8] = ProtocolMask(outName);
  packet.data[9] = 0;
  return true;
}

int CHighSpeedAnswer::Add(char c) {
  if (length >= kCapacity) return kRefused;
  text[length++] = c;
  text[length] = '\0';
  const char* start = std::strstr(text, kHighSpeedAnswerStart);
  if (start != nullptr && std::strstr(start, kHighSpeedAnswerEnd) != nullptr) return Evaluate();
  return length >= kCapacity ? kRefused : kIncomplete;
}

// Reads "HIGH SPEED KAVO IS %d" from the start of the text with scanf's rules: each blank of the
// layout matches any run of blanks, the words must match exactly, the number may follow blanks.
int CHighSpeedAnswer::Evaluate() const {
  const char* p = text;
  for (const char* f = "HIGH SPEED KAVO IS "; *f != '\0'; ++f) {
    if (*f == ' ') {
      while (*p != '\0' && IsBlank(*p)) ++p;
    } else if (*p++ != *f) {
      return kRefused;
    }
  }
  std::int32_t rate = 0;
  CTokenReader in(p);
  if (!in.Int(rate)) return kRefused;
  switch (rate) {
    case 9600:
    case 19200:
    case 38400:
    case 57600:
    case 115200:
      return rate;
    default:
      return kRefused;
  }
}
