#include "link/serial/receiver_port_config.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// What a receiver sends after "DUCT," for a port configured to 38400 8N1 (ETX not included).
const std::string kDuctReply =
    "Brisk Mote,PORT(1),38400,19200,8,1,N,N,FW,4.02,HW,2.10,4415A01234,PROTOCOLS,KAVO(Y),NMEA(N)";

std::string WithToken(int field, const std::string& token) {
  // Rebuilds kDuctReply with one comma-separated field replaced (fields as the receiver sends them).
  std::vector<std::string> parts{"Brisk Mote", "PORT", "1",  "38400", "19200", "8",    "1",
                                 "N",          "N",    "FW", "4.02",  "HW",    "2.10", "4415A01234",
                                 "PROTOCOLS",  "KAVO", "Y",  "NMEA",  "N"};
  parts[static_cast<std::size_t>(field - 1)] = token;
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) text += (i ? "," : "") + parts[i];
  return text;
}

bool Parse(const std::string& text, ReceiverPortReport& report) {
  return ParsePortReport(text.data(), text.size(), report);
}

TEST(PortReport, ReceiverReport_FieldsKept) {
  ReceiverPortReport r;
  ASSERT_TRUE(Parse(kDuctReply, r));
  EXPECT_EQ(r.valid, 1u);
  EXPECT_STREQ(r.name, "BriskMote");
  EXPECT_EQ(r.field3, 1);
  EXPECT_EQ(r.inBaud, 38400);
  EXPECT_EQ(r.outBaud, 19200);
  EXPECT_EQ(r.dataBits, 8);
  EXPECT_EQ(r.stopBits, 1);
  EXPECT_EQ(r.parity, 'N');
  EXPECT_STREQ(r.inProtocol, "KAVO");
  EXPECT_STREQ(r.outProtocol, "NMEA");
}

TEST(PortReport, DecimalPointOfUserLocale_DoesNotShiftFields) {
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = old ? old : "C";
  // A locale whose decimal point is ',' (when installed) must not change how "4.02" reads.
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) std::setlocale(LC_NUMERIC, "C");
  ReceiverPortReport r;
  const bool ok = Parse(kDuctReply, r);
  std::setlocale(LC_NUMERIC, saved.c_str());
  ASSERT_TRUE(ok);
  EXPECT_STREQ(r.inProtocol, "KAVO");
}

struct TokenCase {
  int field;
  std::string token;
  bool valid;
};

class PortReportToken : public ::testing::TestWithParam<TokenCase> {};

TEST_P(PortReportToken, LongestFittingTokenAccepted_LongerOneInvalid) {
  const TokenCase& c = GetParam();
  ReceiverPortReport r;
  std::memset(r.name, 'x', sizeof r.name);  // an invalid report leaves the record as it was
  EXPECT_EQ(Parse(WithToken(c.field, c.token), r), c.valid) << "field " << c.field << " " << c.token;
  if (c.valid) {
    if (c.field == 1) {
      EXPECT_EQ(std::string(r.name), c.token);
    } else if (c.field == 16) {
      EXPECT_EQ(std::string(r.inProtocol), c.token);
    } else if (c.field == 18) {
      EXPECT_EQ(std::string(r.outProtocol), c.token);
    }
  } else {
    EXPECT_EQ(r.valid, 0u);
    EXPECT_EQ(r.name[0], 'x');
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, PortReportToken,
    ::testing::Values(TokenCase{1, std::string(19, 'A'), true}, TokenCase{1, std::string(20, 'A'), false},
                      TokenCase{16, std::string(9, 'K'), true}, TokenCase{16, std::string(10, 'K'), false},
                      TokenCase{18, std::string(9, 'N'), true}, TokenCase{18, std::string(60, 'N'), false},
                      // dropped string fields go through a 32-byte scratch field
                      TokenCase{2, std::string(31, 'P'), true}, TokenCase{2, std::string(32, 'P'), false},
                      TokenCase{14, std::string(31, '9'), true}, TokenCase{15, std::string(40, 'Q'), false},
                      // numbers
                      TokenCase{4, "x9600", false}, TokenCase{4, "99999999999", false},
                      TokenCase{11, "abc", false}, TokenCase{3, "-7", true}));

TEST(PortReport, MissingFieldsOrOverlongText_Invalid) {
  ReceiverPortReport r;
  EXPECT_FALSE(Parse("", r));
  // 18 fields: the last %c has nothing to read.
  EXPECT_FALSE(Parse(kDuctReply.substr(0, kDuctReply.rfind(',')), r));
  // The reader never keeps more than 150 bytes; a longer text is refused outright.
  EXPECT_FALSE(Parse(kDuctReply + std::string(kPortReportMaxBytes - kDuctReply.size() + 1, ' '), r));
  EXPECT_TRUE(Parse(kDuctReply + std::string(kPortReportMaxBytes - kDuctReply.size(), ' '), r));
  EXPECT_EQ(r.valid, 1u);
}

TEST(PortReport, ProtocolNames_FirstMatchingRowWins) {
  const std::vector<std::pair<const char*, int>> cases{
      {"NONE", 0},     {"VELA", 1},      {"KAVO", 2},     {"NMEA", 4},  {"RTCM", 8},
      {"DCOL", 16},    {"LBAR", 32},     {"CMR", 64},     {"CMR+", 64}, {"XYZ", 0},
      {"NMEAKAVO", 2}, {"KAVO-NMEA", 2}, {"RTCMNMEA", 4}, {"kavo", 0},  {"", 0}};
  for (const auto& [name, mask] : cases) EXPECT_EQ(ProtocolMask(name), mask) << name;
}

TEST(PortConfigPacket, ReportedSettings_TenBytesByTheTables) {
  ReceiverPortReport r;
  ASSERT_TRUE(Parse(WithToken(16, "KAVONMEA"), r));
  KavoPacket p;
  ASSERT_TRUE(BuildPortConfigPacket(r, p));
  EXPECT_EQ(p.id, 0xBC);
  EXPECT_EQ(Bytes(p.data, p.data + p.length), (Bytes{0xFF, 9, 8, 3, 0, 0, 0, 2, 4, 0}));

  r.inBaud = 11264;
  r.outBaud = 22528;
  r.dataBits = 7;
  r.parity = 'E';
  r.stopBits = 2;
  std::strcpy(r.outProtocol, "CMR");
  ASSERT_TRUE(BuildPortConfigPacket(r, p));
  EXPECT_EQ(Bytes(p.data, p.data + p.length), (Bytes{0xFF, 10, 11, 2, 2, 1, 0, 2, 64, 0}));
}

TEST(PortConfigPacket, ValueWithoutCode_NothingBuilt) {
  ReceiverPortReport base;
  ASSERT_TRUE(Parse(kDuctReply, base));
  auto change = std::vector<void (*)(ReceiverPortReport&)>{
      [](ReceiverPortReport& r) { r.inBaud = 115200; }, [](ReceiverPortReport& r) { r.outBaud = 57600; },
      [](ReceiverPortReport& r) { r.dataBits = 6; }, [](ReceiverPortReport& r) { r.parity = 'M'; },
      [](ReceiverPortReport& r) { r.stopBits = 3; }};
  for (std::size_t i = 0; i < change.size(); ++i) {
    ReceiverPortReport r = base;
    change[i](r);
    KavoPacket p;
    p.length = 7;
    EXPECT_FALSE(BuildPortConfigPacket(r, p)) << i;
    EXPECT_EQ(p.length, 7) << i;
  }
}

TEST(PortConfigPacket, ProtocolNamesWithoutTerminator_NotReadPast) {
  ReceiverPortReport r;
  ASSERT_TRUE(Parse(kDuctReply, r));
  std::memset(r.inProtocol, 'A', sizeof r.inProtocol);
  std::memcpy(r.outProtocol, "XXXXXXRTCM", sizeof r.outProtocol);
  KavoPacket p;
  ASSERT_TRUE(BuildPortConfigPacket(r, p));
  EXPECT_EQ(p.data[7], 0);
  EXPECT_EQ(p.data[8], 8);
}

int Feed(CHighSpeedAnswer& answer, const std::string& text, std::size_t* used = nullptr) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const int r = answer.Add(text[i]);
    if (r != CHighSpeedAnswer::kIncomplete) {
      if (used) *used = i + 1;
      return r;
    }
  }
  if (used) *used = text.size();
  return CHighSpeedAnswer::kIncomplete;
}

TEST(HighSpeedAnswer, SupportedRates_AcceptedOthersRefused) {
  const std::vector<std::pair<int, int>> cases{{9600, 9600},   {19200, 19200},   {38400, 38400},
                                               {57600, 57600}, {115200, 115200}, {4800, -1},
                                               {2400, -1},     {0, -1}};
  for (const auto& [rate, expected] : cases) {
    CHighSpeedAnswer answer;
    EXPECT_EQ(Feed(answer, "HIGH SPEED KAVO IS " + std::to_string(rate) + " 00\r\n"), expected) << rate;
  }
}

TEST(HighSpeedAnswer, CompleteOnlyAtLineEnd) {
  CHighSpeedAnswer answer;
  std::size_t used = 0;
  // "00" inside the rate is not the line end; the answer completes at the final "\n".
  const std::string text = "HIGH SPEED KAVO IS 57600 00\r\n";
  EXPECT_EQ(Feed(answer, text, &used), 57600);
  EXPECT_EQ(used, text.size());
  CHighSpeedAnswer partial;
  EXPECT_EQ(Feed(partial, "HIGH SPEED KAVO IS 57600 00\r"), CHighSpeedAnswer::kIncomplete);
  EXPECT_EQ(Feed(partial, "\n"), 57600);
}

TEST(HighSpeedAnswer, TextBeforeAnswerOrNoAnswerInCapacity_Refused) {
  CHighSpeedAnswer noise;
  EXPECT_EQ(Feed(noise, "xxHIGH SPEED KAVO IS 38400 00\r\n"), CHighSpeedAnswer::kRefused);
  CHighSpeedAnswer flood;
  std::size_t used = 0;
  EXPECT_EQ(Feed(flood, std::string(1000, 'z'), &used), CHighSpeedAnswer::kRefused);
  EXPECT_EQ(used, CHighSpeedAnswer::kCapacity);
  CHighSpeedAnswer noNumber;
  EXPECT_EQ(Feed(noNumber, "HIGH SPEED KAVO IS fast 00\r\n"), CHighSpeedAnswer::kRefused);
}

}  // namespace
