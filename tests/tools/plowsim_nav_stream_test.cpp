// The simulator's navigation output checked against the logger's own formatters: every packet
// kind crosses a real frame and parser and must come out as the line it is meant for, not as a
// drop; the receiver model switches the output with the port mask and answers the logger's requests.

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "link/protocol/kavo_ids.h"
#include "link/protocol/kavo_parser.h"
#include "logger/packet_dispatch.h"
#include "logger/recording_context.h"
#include "logger/satellite_lines.h"
#include "nav_stream.h"
#include "receiver_model.h"
#include "support/fake_clock.h"

namespace {

using Kind = CNavStream::Kind;

// 2026-01-07 14:30:00 UTC.
constexpr std::int64_t kStreamUtcMs = 1767796200000LL;

// What the program's link would hand the logger: each packet framed, then parsed back.
std::vector<KavoPacket> OverTheLine(const CNavStream& stream, Kind kind, std::int64_t utcMs = kStreamUtcMs) {
  std::vector<KavoPacket> received;
  CKavoParser parser(nullptr);
  stream.Build(kind, utcMs, [&](const KavoPacket& p, int withChecksum) {
    std::uint8_t frame[kKavoMaxFrame];
    std::uint16_t n = 0;
    ASSERT_TRUE(BuildFrame(p, frame, n, withChecksum));
    for (std::uint16_t i = 0; i < n; ++i) parser.FeedByte(frame[i]);
    KavoPacket out;
    ASSERT_TRUE(parser.TryPopPacket(out)) << "frame of 0x" << std::hex << int(p.id) << " not parsed";
    received.push_back(out);
  });
  return received;
}

std::vector<std::string> Lines(Kind kind, CRecordingContext& context) {
  CNavStream stream;
  context.lines.clear();
  for (const KavoPacket& p : OverTheLine(stream, kind)) DispatchPacket(p, context);
  return context.lines;
}

struct KindCase {
  Kind kind;
  std::vector<std::string> prefixes;  // one per expected line, in order
};

std::string Printable(const std::vector<std::string>& lines) {
  std::string all;
  for (const auto& l : lines) all += l + "|";
  return all;
}

TEST(PlowsimNavStream, EveryLineKind_GivesItsLinesThroughTheLoggersFormatters) {
  const std::vector<KindCase> cases = {
      {Kind::LlaFix40, {"P 311418.0 52.518"}},
      {Kind::LlaFix36, {"P 311418.0 52.518"}},
      {Kind::XyzFix40, {"Z 311418.0 3783"}},
      {Kind::XyzFix36, {"Z 311418.0 3783"}},
      {Kind::Velocity20, {"V 311418.0 0.1571 "}},
      {Kind::Velocity24, {"V 311418.0 0.1571 "}},
      {Kind::SatelliteSelection, {"X 08 A3D 1.6 0.9 2 5 9 12 15 18 21 29 "}},
      {Kind::Health, {"H PDOP too high;No antenna detected;Excessive Freq Bias;"}},
      {Kind::Adc, {"* ADC "}},
      {Kind::DebugText, {"M nav task idle 60%  "}},
      {Kind::AttitudeMatrix, {"A M 311418.0 "}},
      {Kind::AttitudeQuaternion, {"A Q 311418.0 "}},
      {Kind::AttitudeEuler, {"A E 311418.0 0.012 -0.004 "}},
      {Kind::RawL1, {"# L1 002 0x0F 0x01 ", "# L1 005 ", "# L1 009 ", "# L1 012 "}},
      {Kind::RawL2, {"# L2 002 0x07 0x02 ", "# L2 005 ", "# L2 009 "}},
      {Kind::RawClock, {"K 2400  311418.000 "}},
      {Kind::RawMultiSystem, {"@ G L1 A   5 0x0F 0x03 15  -15 ", "@ G L2 A   5 ", "@ S L1 A 120 "}},
      {Kind::Rtk1, {"R RTK1 311418 42"}},
      {Kind::RtkRoverState, {"R RTKROVERSTATE 0x00 0x01 ", "R RTKSTATEINFO RTKDISABLED 0x31"}},
      {Kind::RtkErrorReport, {"R RTKERRORREPORT 2 1 17 3 45"}},
      {Kind::RtkCmrStats, {"R RTKCMRSTATS 2 1 [11 98% 1200] [12 87% 1100]"}},
      {Kind::OrbiHpStatus, {"R ORBIHPSTATUS 0x0103 UNCONVERGED 42.0 0.08 2 101 107"}},
      {Kind::CorrectionSource, {"L ORHP 035 042 1 0x0b 1545.5"}},
      {Kind::SolutionQuality, {"Q 2.5 DECI  ORHP 012 07 0x01"}},
      {Kind::DecoderStatus, {"D R 35.5    512      3      0"}},
      {Kind::ServiceStatusR, {"U R 1545500 U Data 0x0021 "}},
      {Kind::ServiceStatusO, {"U O 1545500 U Data 0x0021 "}},
      {Kind::SpotStations, {"N  3 101 YY 107 YN 233 NN "}},
      {Kind::EngineStatus, {"E 311418.0 0102 03 -7 1.25 0.75 28.65"}},
      {Kind::FirmwareIdentity, {"I 4.02 11/28/2026 Brisk Mote 4415A01234"}},
      {Kind::StatusBlock, {"S 311418.0 4.2 15.0 1.2 4.5 1545.5 7", "B 311418.0 4.2 15.0 1.2 0.784 310.5 2"}},
      {Kind::GuidanceKey, {"F SETA"}},
      {Kind::GuidanceAttitude, {"A 311418.0 -0.75 -0.50 "}},
      {Kind::GuidanceDebug, {"M swath 0 offset 0.12"}},
      {Kind::GuidancePosition, {"P 311418.0 52.518", "Z 311418.0 3783"}},
      {Kind::PositionReport, {"J 311418.0 9 RTK-FIXED 0x10003 7 52.518"}},
      {Kind::NoPosition, {"J 311418.0 0 NOPOS 0x100 4"}},
      {Kind::PositionQuality, {"! 311418.0 9 2 0.85000 2.01 0.01200 0.01500 0.03100"}},
      {Kind::Nmea, {"$GPGGA,143000.00,5231.13"}},
  };
  for (const KindCase& c : cases) {
    CRecordingContext context;
    context.session.dgpsMode = 1;
    context.session.options = kLogNmea;
    const std::vector<std::string> lines = Lines(c.kind, context);
    ASSERT_EQ(lines.size(), c.prefixes.size())
        << "kind " << static_cast<int>(c.kind) << ": " << Printable(lines);
    for (std::size_t i = 0; i < lines.size(); ++i)
      EXPECT_EQ(lines[i].rfind(c.prefixes[i], 0), 0u)
          << "kind " << static_cast<int>(c.kind) << " line " << i << ": " << lines[i];
    EXPECT_TRUE(context.sent.empty()) << "kind " << static_cast<int>(c.kind) << " made the logger send";
  }
}

TEST(PlowsimNavStream, StoredReports_FillTheSessionForTheSummaryAndServiceLines) {
  CRecordingContext context;
  context.session.lastTimeOfWeek = 311418.0;
  context.session.lastTimeStamp = context.now;
  for (Kind k : {Kind::Tracking, Kind::Ephemeris, Kind::CorrectionStatus, Kind::SubscriptionR,
                 Kind::SubscriptionO, Kind::GuidanceConfig, Kind::DgpsMode, Kind::FixTime})
    EXPECT_TRUE(Lines(k, context).empty()) << static_cast<int>(k);
  EXPECT_EQ(context.session.dgpsMode, 1);
  EXPECT_FALSE(context.session.coldResetSeen);
  EXPECT_TRUE(context.session.guidanceConfigReceived);
  EXPECT_EQ(context.session.subscriptionR.type, 3);
  EXPECT_EQ(context.session.subscriptionO.type, 4);

  context.lines.clear();
  WriteSatelliteSummary(context);
  int g = 0, sbasG = 0, c = 0, sbasC = 0;
  for (const auto& line : context.lines) {
    // GPS lines print the PRN in two digits and a blank ("G 02  1"), SBAS in three ("G 120 1").
    const bool sbas = line.size() > 4 && line[4] != ' ';
    if (line.rfind("G ", 0) == 0) ++(sbas ? sbasG : g);
    if (line.rfind("C ", 0) == 0) ++(sbas ? sbasC : c);
  }
  EXPECT_EQ(context.lines.front(), "T 311418.0");
  EXPECT_EQ(g, 8) << Printable(context.lines);
  EXPECT_EQ(sbasG, 2);
  EXPECT_EQ(c, 8);
  EXPECT_EQ(sbasC, 2);
  // The IODE from the ephemeris report is in the tracking line.
  EXPECT_NE(Printable(context.lines).find("G 02  1 01  0.0 "), std::string::npos) << Printable(context.lines);

  // "U" prints the expiry date kept from the subscription record.
  EXPECT_EQ(Lines(Kind::ServiceStatusR, context).at(0), "U R 1545500 U Data 0x0021 12/31/2027 528416768");
}

TEST(PlowsimNavStream, FiveEpochs_CoverEveryLineCode) {
  CNavStream stream;
  CRecordingContext context;
  context.session.options = kLogNmea;
  CKavoParser parser(nullptr);
  std::set<std::string> codes;
  std::int64_t utc = kStreamUtcMs;
  for (int e = 0; e < 5; ++e, utc += 1000) {
    stream.Epoch(utc, true, [&](const KavoPacket& p, int withChecksum) {
      std::uint8_t frame[kKavoMaxFrame];
      std::uint16_t n = 0;
      BuildFrame(p, frame, n, withChecksum);
      for (std::uint16_t i = 0; i < n; ++i) parser.FeedByte(frame[i]);
      KavoPacket out;
      while (parser.TryPopPacket(out)) DispatchPacket(out, context);
    });
  }
  context.session.lastTimeOfWeek = 311422.0;
  context.session.lastTimeStamp = context.now;
  WriteSatelliteSummary(context);
  for (const auto& line : context.lines) {
    const std::size_t blank = line.find(' ');
    codes.insert(line.substr(0, blank == std::string::npos ? line.size() : blank));
  }
  for (const char* code : {"P", "Z", "V", "X", "T", "G", "C", "H", "*", "M", "A", "#", "K", "@",
                           "R", "L", "Q", "D", "U", "N", "E", "I", "S", "B", "F", "J", "!"})
    EXPECT_EQ(codes.count(code), 1u) << code;
  EXPECT_NE(Printable(context.lines).find("|$GPGGA,143000.00,"), std::string::npos);
  EXPECT_EQ(stream.Epochs(), 5u);
}

// ---------------------------------------------------------------------------------------------
// The receiver model: outputs switched by the program, requests answered.

class CIdRecordingHost final : public IReceiverHost {
 public:
  void SendPacket(const KavoPacket& packet, int) override {
    ids.push_back(packet.id);
    subIds.push_back(packet.data[0]);
  }
  void SendText(std::string_view) override {}
  void Trace(std::string_view line) override { trace.emplace_back(line); }
  std::vector<std::uint8_t> ids, subIds;
  std::vector<std::string> trace;
};

KavoPacket RequestPacket(std::uint8_t id, std::vector<std::uint8_t> data, bool withChecksum) {
  KavoPacket p;
  p.id = id;
  if (withChecksum) {
    std::uint16_t sum = 0;
    for (auto b : data) sum = static_cast<std::uint16_t>(sum + b);
    data.push_back(static_cast<std::uint8_t>(sum >> 8));
    data.push_back(static_cast<std::uint8_t>(sum));
  }
  p.length = static_cast<std::uint16_t>(data.size());
  if (!data.empty()) std::memcpy(p.data, data.data(), data.size());
  VerifyChecksum(p);
  return p;
}

class PlowsimOutputs : public ::testing::Test {
 protected:
  PlowsimOutputs() {
    options.startUtcMs = kStreamUtcMs;
    options.streamRateHz = 2.0;
    model = std::make_unique<CReceiverModel>(options, clock, host);
  }
  void RunFor(int ms) {
    for (int t = 0; t < ms; t += 50) {
      clock.Advance(50);
      model->Tick();
    }
  }
  std::size_t Count(std::uint8_t id) const {
    return static_cast<std::size_t>(std::count(host.ids.begin(), host.ids.end(), id));
  }

  ReceiverOptions options;
  CFakeClock clock;
  CIdRecordingHost host;
  std::unique_ptr<CReceiverModel> model;
};

TEST_F(PlowsimOutputs, PortMask_SwitchesTheStreamOnAndOffAtTheRate) {
  RunFor(3000);
  EXPECT_EQ(Count(0x84), 0u) << "silent until the program switches the outputs on";
  model->ReceivePacket(RequestPacket(0x8E, {0x88, 0x01, 0x03, 0, 0, 0, 0}, true));  // port 1: not ours
  RunFor(1000);
  EXPECT_EQ(Count(0x84), 0u);
  model->ReceivePacket(RequestPacket(0x8E, {0x88, 0x00, 0x03, 0, 0, 0, 0}, true));
  EXPECT_TRUE(model->OutputsOn());
  RunFor(2000);
  EXPECT_EQ(Count(0x84), 5u);  // at once, then 2 Hz for 2 s
  model->ReceivePacket(RequestPacket(0x8E, {0x88, 0x00, 0x00, 0, 0, 0, 0}, true));
  RunFor(2000);
  EXPECT_EQ(Count(0x84), 5u);
  EXPECT_NE(std::find(host.trace.begin(), host.trace.end(), "OUTPUTS ON"), host.trace.end());
  EXPECT_NE(std::find(host.trace.begin(), host.trace.end(), "OUTPUTS OFF"), host.trace.end());
}

TEST_F(PlowsimOutputs, Break_StopsTheStreamSoTheTakeOverCrossesTheLineAlone) {
  model->ReceivePacket(RequestPacket(0x8E, {0x88, 0x00, 0x03, 0, 0, 0, 0}, true));
  RunFor(1000);
  model->OnBreak();
  EXPECT_FALSE(model->OutputsOn());
  const std::size_t before = Count(0x84);
  RunFor(2000);
  EXPECT_EQ(Count(0x84), before);
}

TEST_F(PlowsimOutputs, LoggerRequests_AnsweredSetUpCommandsTakenWithoutComplaint) {
  struct Case {
    KavoPacket request;
    std::uint8_t id, sub;
    std::size_t count;
  };
  const std::vector<Case> cases = {
      {RequestPacket(0x21, {}, false), 0x41, 0, 1},
      {RequestPacket(0x62, {}, false), 0x82, 0, 1},
      {RequestPacket(0x3C, {0x00}, false), 0x5C, 0, 10},
      {RequestPacket(0x8E, {0x9A}, true), 0x8F, 0x9A, 1},
      {RequestPacket(0x8E, {0x7B}, true), 0x8F, 0x7B, 1},
      {RequestPacket(0x8E, {0x91}, true), 0x8F, 0x91, 1},
      {RequestPacket(0x8E, {0x85}, true), 0x8F, 0x85, 1},
      {RequestPacket(0x8E, {0x81}, true), 0x8F, 0x81, 1},
      {RequestPacket(0x8E, {0xA3, 0x02}, true), 0x8F, 0xA3, 1},
      {RequestPacket(0x8E, {0x8B, 0x03, 0x00, 0x00}, true), 0x8F, 0x8B, 1},
      {RequestPacket(0x8E, {0x80, 0x04, 0x00, 0x00}, true), 0x8F, 0x80, 1},
      {RequestPacket(0x69, {0x32, 0x03, 0x00}, true), 0x89, 0, 1},
  };
  for (const Case& c : cases) {
    host.ids.clear();
    host.subIds.clear();
    model->ReceivePacket(c.request);
    ASSERT_EQ(host.ids.size(), c.count) << std::hex << int(c.request.id);
    EXPECT_EQ(host.ids[0], c.id);
    if (c.id == kavo::kIdSuperReport) {
      EXPECT_EQ(host.subIds[0], c.sub);
    }
  }
  // The set-up commands, and the full guidance configuration sent back: no answer, no complaint.
  host.ids.clear();
  std::vector<std::uint8_t> config(35, 0);
  config[0] = 0x91;
  for (const KavoPacket& p :
       {RequestPacket(0x35, {0x1A, 0x02, 0x18, 0x08}, false),
        RequestPacket(0x6A, {0x01, 0x00, 0x03, 0x00}, false), RequestPacket(0x3B, {0x00}, false),
        RequestPacket(0x3F, {0x02, 0x01}, false), RequestPacket(0x65, {0x00}, false),
        RequestPacket(0x6E, {0x01, 0x03, 0x01}, false), RequestPacket(0x8E, config, true),
        RequestPacket(0x7A, {0x07, 0xFF, 0x01, 0x00, 0x00}, false)})
    model->ReceivePacket(p);
  EXPECT_TRUE(host.ids.empty());
  for (const auto& line : host.trace) EXPECT_EQ(line.rfind("DROPPED", 0), std::string::npos) << line;
  EXPECT_TRUE(model->NmeaOn());
}

}  // namespace
