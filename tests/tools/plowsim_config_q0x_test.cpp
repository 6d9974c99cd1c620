// The simulated receiver's answers to the logger's configuration requests and its raw measurement
// file stream, each fed back through a real frame and parser into the logger's own reader.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "link/protocol/kavo_parser.h"
#include "logger/config_report.h"
#include "logger/q0x_writer.h"
#include "logger/recording_context.h"
#include "receiver_model.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace {

// A transport that frames every packet, parses it back as the program's link would, and keeps it.
class CLoopbackHost final : public IReceiverHost {
 public:
  void SendPacket(const KavoPacket& packet, int withChecksum) override {
    std::uint8_t frame[kKavoMaxFrame];
    std::uint16_t n = 0;
    ASSERT_TRUE(BuildFrame(packet, frame, n, withChecksum));
    for (std::uint16_t i = 0; i < n; ++i) parser.FeedByte(frame[i]);
    KavoPacket out;
    while (parser.TryPopPacket(out)) received.push_back(out);
  }
  void SendText(std::string_view) override {}
  void Trace(std::string_view line) override { trace.emplace_back(line); }

  CKavoParser parser{nullptr};
  std::vector<KavoPacket> received;
  std::vector<std::string> trace;
};

// A command as the receiver hears it: the checksum trailer appended when asked for.
KavoPacket Heard(const std::vector<std::uint8_t>& idAndData, int withChecksum) {
  KavoPacket p;
  p.id = idAndData[0];
  std::vector<std::uint8_t> data(idAndData.begin() + 1, idAndData.end());
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

bool HasLine(const std::vector<std::string>& lines, const std::string& start) {
  for (const auto& l : lines)
    if (l.rfind(start, 0) == 0) return true;
  return false;
}

TEST(PlowsimConfig, EveryRequestAnswered_ReportCompleteOnTheLastReply) {
  CFakeClock clock;
  CLoopbackHost host;
  ReceiverOptions options;
  options.startUtcMs = 1767796200000LL;
  CReceiverModel model(options, clock, host);

  CRecordingContext context;
  CConfigurationReport report;
  report.RequestConfiguration(context);
  for (const auto& [bytes, withChecksum] : context.sent) model.ReceivePacket(Heard(bytes, withChecksum));

  ASSERT_FALSE(host.received.empty());
  EXPECT_EQ(host.received.back().id, 0x70);
  std::size_t completeAt = 0;
  for (std::size_t i = 0; i < host.received.size(); ++i) {
    if (report.TakePacket(host.received[i], context) && completeAt == 0) completeAt = i + 1;
  }
  EXPECT_EQ(completeAt, host.received.size());
  for (const char* start : {"* Machine ID",
                            "* KAVO I/O options",
                            "* Fix Dcorr AutoRpt.",
                            "* Sync Msmts. Output",
                            "* PV dynamic filter",
                            "* PV filter settings",
                            "* NMEA out interval (Port A)",
                            "* NMEA out interval (Port B)",
                            "* NMEA GLL options  (Port B)",
                            "* NMEA message list (Port A): \"GGA,VTG,RMC\"",
                            "* NMEA Output Opts   (Port B)",
                            "* KAVO output interval",
                            "* KAVO Fast Rate I/O",
                            "* Base station mode",
                            "* QA/QC VCV Output",
                            "* Prod. name override: Brisk Mote",
                            "* Flow control     : RTS/CTS",
                            "* Racal Stn Sel Pref",
                            "* DGPS source",
                            "* Orbicor stop date",
                            "* Orbicor HP Stop Date",
                            "* Orbicor HP Version: 3.14",
                            "* Bias filter parameter",
                            "* GDX Lightbar Config",
                            "* GDX Guidance Config",
                            "* GDX Button Set",
                            "* GDX Button Defs",
                            "* Hardware Type",
                            "* AutoSelect Priority: 3 sources",
                            "* SW BD Config",
                            "* CAN Configuration  : 1 chan",
                            "* PPS #0 config",
                            "* Operating mode",
                            "* Remote Display"}) {
    EXPECT_TRUE(HasLine(context.lines, start)) << start;
  }
  // Both layouts of the configuration block: the older one (from the identity the navigation
  // stream answers with) has no override lines.
  EXPECT_EQ(std::count_if(context.lines.begin(), context.lines.end(),
                          [](const std::string& l) { return l == "* -- End Config Block Parameters --"; }),
            2);
  EXPECT_EQ(std::count_if(context.lines.begin(), context.lines.end(),
                          [](const std::string& l) { return l.rfind("* Prod. name override", 0) == 0; }),
            1);
  // The set-up commands sharing identifiers with requests are not answered.
  const std::size_t before = host.received.size();
  model.ReceivePacket(Heard({0x35, 0x1A, 0x02, 0x18, 0x08}, 0));
  model.ReceivePacket(Heard({0x6A, 0x01, 0x00, 0x03, 0x00}, 0));
  model.ReceivePacket(Heard({0x7A, 0x07, 0xFF, 0x01, 0x00, 0x00}, 0));
  EXPECT_EQ(host.received.size(), before);
  EXPECT_TRUE(model.NmeaOn());
}

TEST(PlowsimQ0x, StartStreamsTheFileOnce_StopEndsIt_WriterRebuildsItByteForByte) {
  CTempDir dir;
  std::string content;
  for (int i = 0; i < 3000; ++i) content.push_back(static_cast<char>((i * 37 + i / 7) & 0xFF));  // DLEs too
  const std::string source = dir / "rcv0107.q02";
  std::ofstream(source, std::ios::binary) << content;
  std::filesystem::create_directories(dir.Path() / "logs");

  CFakeClock clock;
  CLoopbackHost host;
  ReceiverOptions options;
  options.q0xPath = source;
  CReceiverModel model(options, clock, host);
  CQ0xWriter writer(nullptr);
  writer.SetFolder((dir.Path() / "logs").string());
  const auto run = [&](int ms) {
    for (int t = 0; t < ms; t += 10) {
      clock.Advance(10);
      model.Tick();
    }
  };

  run(500);
  EXPECT_TRUE(host.received.empty()) << "nothing before the start command";
  model.ReceivePacket(Heard({0x8E, 0x93, 0x14, 0x01, 0x01}, 0));
  run(100);
  model.ReceivePacket(Heard({0x8E, 0x93, 0x14, 0x01, 0x00}, 0));  // stopped part-way
  const std::size_t atStop = host.received.size();
  run(500);
  EXPECT_EQ(host.received.size(), atStop);
  model.ReceivePacket(Heard({0x8E, 0x93, 0x14, 0x01, 0x01}, 0));  // goes on
  run(2000);
  for (const KavoPacket& p : host.received) writer.TakePacket(p);
  writer.Close();
  EXPECT_EQ(ReadWholeFile(dir.Path() / "logs" / "rcv0107.q02"), content);

  const std::size_t done = host.received.size();
  model.ReceivePacket(Heard({0x8E, 0x93, 0x14, 0x01, 0x01}, 0));
  run(500);
  EXPECT_EQ(host.received.size(), done) << "streamed once";
}

}  // namespace
