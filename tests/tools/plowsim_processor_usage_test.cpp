// The simulator's processor usage answers, fed as the program sends its requests: byte layout of
// both reports, figures that move with time, restart, and requests that must stay unanswered.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "link/protocol/kavo_ids.h"
#include "link/protocol/kavo_packet.h"
#include "processor_usage.h"
#include "receiver_model.h"
#include "support/fake_clock.h"
#include "support/kavo_frame.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class CPacketRecordingHost final : public IReceiverHost {
 public:
  void SendPacket(const KavoPacket& packet, int withChecksum) override {
    packets.push_back(packet);
    checksums.push_back(withChecksum);
  }
  void SendText(std::string_view) override {}
  void Trace(std::string_view line) override { lines.emplace_back(line); }

  std::vector<KavoPacket> packets;
  std::vector<int> checksums;
  std::vector<std::string> lines;
};

double BeDouble(const std::uint8_t* p) {
  std::uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits = (bits << 8) | p[i];
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

float BeFloat(const std::uint8_t* p) {
  const std::uint32_t bits = ReadBe32(p);
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

class ProcessorUsageTest : public ::testing::Test {
 protected:
  ProcessorUsageTest() {
    clock.Set(50'000);
    model = std::make_unique<CReceiverModel>(ReceiverOptions{}, clock, host);
  }

  void Request(std::uint8_t action, bool withChecksum = true) {
    const Bytes frame = PaddedKavoFrame(0x8E, {0x93, 0x11, action}, withChecksum);
    model->FeedBytes(frame.data(), frame.size());
  }

  CFakeClock clock;
  CPacketRecordingHost host;
  std::unique_ptr<CReceiverModel> model;
};

TEST_F(ProcessorUsageTest, FirstRequest_AnswersNamesOfTwentyFourTasksThenUsage) {
  clock.Advance(2500);
  Request(0);
  ASSERT_EQ(host.packets.size(), 2u);
  const KavoPacket& names = host.packets[0];
  EXPECT_EQ(names.id, 0x8F);
  EXPECT_EQ(host.checksums[0], 1);
  ASSERT_EQ(names.length, 4 + 3 * 24);
  EXPECT_EQ(Bytes(names.data, names.data + 4), (Bytes{0x93, 0x11, 0x00, 24}));
  EXPECT_EQ(Bytes(names.data + 4, names.data + 10), (Bytes{'I', 'D', 0, 'T', 'R', 0}));
  for (int i = 0; i < 24; ++i) EXPECT_EQ(names.data[4 + 3 * i + 2], 0) << "name " << i << " is terminated";

  const KavoPacket& usage = host.packets[1];
  EXPECT_EQ(usage.id, 0x8F);
  ASSERT_EQ(usage.length, 12 + 8 * 24);
  EXPECT_EQ(Bytes(usage.data, usage.data + 3), (Bytes{0x93, 0x11, 0x02}));
  EXPECT_DOUBLE_EQ(BeDouble(usage.data + 3), 2.5);
  EXPECT_EQ(usage.data[11], 24);
  double total = 0.0;
  for (int i = 0; i < 24; ++i) {
    const float percent = BeFloat(usage.data + 12 + 8 * i);
    const float seconds = BeFloat(usage.data + 16 + 8 * i);
    EXPECT_GE(percent, 0.0f);
    EXPECT_NEAR(seconds, percent / 100.0f * 2.5f, 1e-4);
    total += percent;
  }
  EXPECT_NEAR(total, 100.0, 1e-3);
}

TEST_F(ProcessorUsageTest, LaterRequests_FiguresMoveAndRestartStartsTheDurationAgain) {
  Request(2);
  clock.Advance(7000);
  Request(2);
  ASSERT_EQ(host.packets.size(), 4u);
  const KavoPacket& first = host.packets[1];
  const KavoPacket& second = host.packets[3];
  EXPECT_DOUBLE_EQ(BeDouble(second.data + 3), 7.0);
  EXPECT_NE(BeFloat(first.data + 12 + 8 * 1), BeFloat(second.data + 12 + 8 * 1)) << "busy task swings";

  Request(1);
  EXPECT_EQ(host.packets.size(), 4u) << "a restart is not answered";
  clock.Advance(1000);
  Request(2);
  ASSERT_EQ(host.packets.size(), 6u);
  EXPECT_DOUBLE_EQ(BeDouble(host.packets[5].data + 3), 1.0);
}

TEST_F(ProcessorUsageTest, BadChecksumOrUnknownAction_NoAnswerButEveryPacketTraced) {
  Request(2, false);
  Request(7);
  EXPECT_TRUE(host.packets.empty());
  std::size_t received = 0;
  for (const std::string& line : host.lines)
    if (line.rfind("RX", 0) == 0 && line.find("93 11") != std::string::npos) ++received;
  EXPECT_EQ(received, 2u);
}

TEST(ProcessorUsageModel, OnlyTheProcessorUsageRequestIsOne) {
  KavoPacket p;
  p.id = kavo::kIdSuperRequest;
  p.length = 5;
  p.data[0] = 0x93;
  p.data[1] = 0x11;
  EXPECT_TRUE(CProcessorUsage::IsRequest(p));
  p.data[1] = 0x12;
  EXPECT_FALSE(CProcessorUsage::IsRequest(p));
  p.data[1] = 0x11;
  p.id = kavo::kIdSuperReport;
  EXPECT_FALSE(CProcessorUsage::IsRequest(p));
  p.id = kavo::kIdSuperRequest;
  p.length = 2;
  EXPECT_FALSE(CProcessorUsage::IsRequest(p));
}

}  // namespace
