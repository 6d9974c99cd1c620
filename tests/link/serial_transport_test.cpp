// The serial link on an in-memory line with a fake clock: the settle phase, the take-over of the
// receiver's port and frames both ways, without a pseudo-terminal and without sleeping.
#include "link/serial/serial_transport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "link/comm_link.h"
#include "link/link_owner_recorder.h"
#include "link/port_report.h"
#include "link/protocol/kavo_parser.h"
#include "support/fake_clock.h"
#include "support/memory_serial_line.h"
#include "support/prompt_recorder.h"
#include "support/test_link_services.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

bool Contains(const Bytes& haystack, const std::string& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

class SerialTransportTest : public ::testing::Test {
 protected:
  SerialTransportTest() {
    link.UseSerialLineForTest(line, clock, [this](int ms) { clock.Advance(ms); });
    link.SetSerialParams(19200, 'E', 8, 1);
  }
  ~SerialTransportTest() override { link.Close(link.CurrentLinkType()); }

  int WaitStatus() { return owner.WaitStatuses(1, 5s) ? owner.Statuses().front() : -1; }

  CFakeClock clock;
  CMemorySerialLine line;
  CLinkOwnerRecorder owner;
  CPromptRecorder prompts;
  CCommLink link{&owner, prompts, TestLinkServices()};
};

// A silent receiver is accepted after the 60 settle passes of 100 ms; a talking one after the
// port was opened again and two more bytes came, with the waits that go with them.
TEST_F(SerialTransportTest, SettlePhase_SilentAfterSixPassesOfTimeTalkingAfterReopen) {
  struct Case {
    std::string waiting;  // what the receiver sent before the open
    int opens;
    std::int64_t settledMs;
  };
  for (const Case& c : {Case{"", 1, 6000}, Case{"abc", 2, 100 + 100 + 100 + 500}}) {
    SCOPED_TRACE(c.waiting);
    clock.Set(0);
    const int opensBefore = line.Opens();
    const std::size_t statusesBefore = owner.Statuses().size();
    line.Feed(c.waiting);
    link.Open(LinkType::Com1, false);
    ASSERT_TRUE(owner.WaitStatuses(statusesBefore + 1, 5s));
    ASSERT_EQ(owner.Statuses().back(), kLinkStatusUp);
    EXPECT_EQ(clock.NowMs(), c.settledMs);
    EXPECT_EQ(line.Opens() - opensBefore, c.opens);
    EXPECT_EQ(line.Current().baud, 19200);
    EXPECT_EQ(line.Current().parity, 'E');
    EXPECT_TRUE(link.Close(LinkType::Com1));
  }
}

TEST_F(SerialTransportTest, FramesBothWays_PacketsInOrderAndEachSentFrameFollowedByTwoNuls) {
  link.Open(LinkType::Com1, false);
  ASSERT_EQ(WaitStatus(), kLinkStatusUp);
  line.Feed(Bytes{0x55, 0x10, 0x41, 0x01, 0x10, 0x10, 0x10, 0x03, 0x00, 0x10, 0x8F, 0x02, 0x10, 0x03});
  ASSERT_TRUE(owner.WaitPackets(1, 5s));
  CPacketBatch batch;
  for (int i = 0; i < 500 && link.Parser().QueuedPackets() < 2; ++i) std::this_thread::sleep_for(1ms);
  ASSERT_EQ(link.TakePackets(batch), 2u);
  std::vector<Bytes> got;
  for (const KavoPacket& p : batch) {
    Bytes described{p.id};
    described.insert(described.end(), p.data, p.data + p.length);
    got.push_back(described);
  }
  EXPECT_EQ(got, (std::vector<Bytes>{{0x41, 0x01, 0x10}, {0x8F, 0x02}}));

  KavoPacket out;
  out.id = 0x8E;
  out.length = 2;
  out.data[0] = 0x93;
  out.data[1] = 0x10;
  ASSERT_TRUE(link.SendPacket(LinkType::Com1, &out, 1));
  const std::uint8_t raw[] = {0x10, 0x22, 0x10, 0x03};
  ASSERT_TRUE(link.SendRaw(LinkType::Com1, raw, sizeof raw));
  EXPECT_EQ(line.Written(), (Bytes{0x10, 0x8E, 0x93, 0x10, 0x10, 0x00, 0xA3, 0x10, 0x03, 0x00, 0x00,  //
                                   0x10, 0x22, 0x10, 0x03}));
}

// The take-over: a break, the receiver's port report, the switch request, the answer, the port
// at the answered rate with odd parity; the close sends the receiver back to what it reported.
TEST_F(SerialTransportTest, AutoConfiguration_SwitchesToTheAnsweredRateAndRestoresAtClose) {
  int breaks = 0;
  line.onBreak = [&] {
    ++breaks;
    line.Feed("DUCT," + kPortReport + "\x03");
  };
  line.onWrite = [&](const Bytes& bytes) {
    if (Contains(bytes, kHighSpeedRequest)) line.Feed("HIGH SPEED KAVO IS 38400 00\r\n");
  };
  link.Open(LinkType::Com1, true);
  ASSERT_EQ(WaitStatus(), kLinkStatusUp) << (prompts.Texts().empty() ? "" : prompts.Texts()[0]);
  EXPECT_EQ(breaks, 1);
  EXPECT_EQ(link.HighSpeedActive(), 1u);
  EXPECT_EQ(line.Current().baud, 38400);
  EXPECT_EQ(line.Current().parity, 'O');
  EXPECT_TRUE(prompts.Texts().empty());

  line.ClearWritten();
  EXPECT_TRUE(link.Close(LinkType::Com1));
  const Bytes restore = line.Written();
  ASSERT_GE(restore.size(), 2u);
  EXPECT_EQ(restore[0], 0x10);
  EXPECT_EQ(restore[1], 0xBC);
}

// A receiver that never answers the switch request: the message, then status down.
TEST_F(SerialTransportTest, AutoConfigurationWithoutAnswer_MessageAndDown) {
  line.onBreak = [&] { line.Feed("DUCT," + kPortReport + "\x03"); };
  link.Open(LinkType::Com1, true);
  ASSERT_EQ(WaitStatus(), kLinkStatusDown);
  ASSERT_EQ(prompts.Texts().size(), 1u);
  EXPECT_EQ(prompts.Texts()[0],
            "Failed to reconfigure the local serial\nport after configuring the receiver's serial port.");
  EXPECT_EQ(link.HighSpeedActive(), 1u);  // the report came; the switch did not
}

// Each wait of the take-over gives up after 300 polls that found nothing, counted in ticks of
// silence: a trickle of bytes resets nothing but the count of empty ticks.
TEST_F(SerialTransportTest, TakeOverWaitsOnASilentLine_GiveUpAfter300EmptyTicks) {
  const CommLinkTiming timing;
  link.SetTiming(timing);
  ASSERT_EQ(line.Open(0, 9600, 'N', 8, 1), 0);
  struct Case {
    const char* what;
    std::string sent;  // by the receiver before it went quiet
    std::function<bool()> wait;
    std::int64_t ms;
  };
  const Case cases[] = {
      {"text", "DUC", [&] { return link.WaitForText("DUCT,"); }, 300 * timing.textPollMs},
      {"answer", "HIGH SPEED", [&] { return link.WaitHighSpeedAnswer() != 0; }, 300 * timing.textPollMs},
      {"report", "DUCT,Brisk Mote", [&] { return link.ReadReceiverPortReport(); },
       300 * timing.reportRetryMs},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clock.Set(0);
    line.Feed(c.sent);
    EXPECT_FALSE(c.wait());
    EXPECT_EQ(clock.NowMs(), c.ms);
  }
}

TEST_F(SerialTransportTest, DeviceHangsUpWhileUp_ReportedDownOnce) {
  link.Open(LinkType::Com1, false);
  ASSERT_EQ(WaitStatus(), kLinkStatusUp);
  line.HangUp();
  ASSERT_TRUE(owner.WaitStatuses(2, 5s));
  EXPECT_EQ(owner.Statuses(), (std::vector<int>{kLinkStatusUp, kLinkStatusDown}));
  EXPECT_EQ(link.CurrentLinkType(), LinkType::None);
}

}  // namespace
