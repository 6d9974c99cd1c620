#include "link/j1939/kavo_can_body.h"
#include "link/protocol/kavo_ids.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct BodyCase {
  const char* name;
  std::uint8_t id;
  Bytes payload;
  int withChecksum;
  Bytes body;
};

class KavoCanBodyEncoding : public ::testing::TestWithParam<BodyCase> {};

TEST_P(KavoCanBodyEncoding, PacketAndItsFrame_GiveTheSameBody) {
  const auto& c = GetParam();
  KavoPacket packet;
  packet.id = c.id;
  packet.length = static_cast<std::uint16_t>(c.payload.size());
  std::copy(c.payload.begin(), c.payload.end(), packet.data);
  Bytes out(KavoCanBodyCapacity(packet.length) + 8, 0xAA);
  const std::size_t n = BuildKavoCanBody(packet, c.withChecksum, out.data(), out.size());
  EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n)), c.body);

  // The same packet already framed, as the raw send path has it.
  Bytes frame(KavoFrameCapacity(packet.length));
  std::uint16_t frameLength = 0;
  ASSERT_TRUE(BuildFrame(packet, frame.data(), frameLength, c.withChecksum));
  Bytes fromFrame(out.size(), 0xAA);
  const std::size_t m =
      BuildKavoCanBodyFromFrame(frame.data(), frameLength, fromFrame.data(), fromFrame.size());
  EXPECT_EQ(Bytes(fromFrame.begin(), fromFrame.begin() + static_cast<std::ptrdiff_t>(m)), c.body);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KavoCanBodyEncoding,
    ::testing::Values(
        BodyCase{"OneBytePaddedToEight", 0x8E, {0x93}, 0, {0x08, 0x01, 0x00, 0x8E, 0x93, 0xFF, 0xFF, 0xFF}},
        BodyCase{"StuffedDleMakesThreeUnpadded",
                 0x8E,
                 {0x93, 0x10},
                 0,
                 {0x08, 0x03, 0x00, 0x8E, 0x93, 0x10, 0x10}},
        BodyCase{"EmptyPayload", 0x55, {}, 0, {0x08, 0x00, 0x00, 0x55, 0xFF, 0xFF, 0xFF, 0xFF}},
        BodyCase{"TwoBytesPadded", 0x44, {0x01, 0x02}, 0, {0x08, 0x02, 0x00, 0x44, 0x01, 0x02, 0xFF, 0xFF}},
        BodyCase{"ChecksumAppended", 0x8E, {0x01, 0x02}, 1, {0x08, 0x04, 0x00, 0x8E, 0x01, 0x02, 0x00, 0x03}},
        BodyCase{"ChecksumByteDleDoubled",
                 0x8E,
                 {0x08, 0x08},
                 1,
                 {0x08, 0x05, 0x00, 0x8E, 0x08, 0x08, 0x00, 0x10, 0x10}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KavoCanBody, LengthFieldIsLittleEndian) {
  KavoPacket packet;
  packet.id = 0x40;
  packet.length = 300;
  std::fill(packet.data, packet.data + 300, 0x10);  // 600 bytes once doubled
  Bytes out(KavoCanBodyCapacity(300));
  ASSERT_EQ(BuildKavoCanBody(packet, 0, out.data(), out.size()), 604u);
  EXPECT_EQ(out[1], 0x58);
  EXPECT_EQ(out[2], 0x02);
  EXPECT_EQ(out[603], 0x10);
}

TEST(KavoCanBody, TooSmallOutputOrShortFrame_Refused) {
  KavoPacket packet;
  packet.id = kavo::kIdSuperRequest;
  packet.length = 1;
  packet.data[0] = 0x93;
  std::uint8_t out[7];
  EXPECT_EQ(BuildKavoCanBody(packet, 0, out, sizeof out), 0u);  // the padded body needs 8
  const std::uint8_t shortFrame[3] = {0x10, 0x8E, 0x10};
  std::uint8_t big[16];
  EXPECT_EQ(BuildKavoCanBodyFromFrame(shortFrame, sizeof shortFrame, big, sizeof big), 0u);
  packet.length = kKavoMaxData + 1;
  EXPECT_EQ(BuildKavoCanBody(packet, 0, big, sizeof big), 0u);
}

TEST(KavoCanBody, ReceivedBody_BecomesTheSerialFrame) {
  std::uint8_t out[400];
  const Bytes padded{0x08, 0x01, 0x00, 0x8E, 0x93, 0xFF, 0xFF, 0xFF};
  std::size_t n = KavoFrameFromCanBody(padded.data(), padded.size(), out, sizeof out);
  EXPECT_EQ(Bytes(out, out + n), (Bytes{0x10, 0x8E, 0x93, 0x10, 0x03}));
  const Bytes stuffed{0x08, 0x03, 0x00, 0x8E, 0x93, 0x10, 0x10};
  n = KavoFrameFromCanBody(stuffed.data(), stuffed.size(), out, sizeof out);
  EXPECT_EQ(Bytes(out, out + n), (Bytes{0x10, 0x8E, 0x93, 0x10, 0x10, 0x10, 0x03}));
}

TEST(KavoCanBody, ReceivedBodyBounds) {
  std::uint8_t out[400];
  Bytes body(4 + kKavoCanMaxReceivedStuffed, 0x22);
  body[0] = 0x08;
  body[1] = static_cast<std::uint8_t>(kKavoCanMaxReceivedStuffed);
  body[2] = static_cast<std::uint8_t>(kKavoCanMaxReceivedStuffed >> 8);
  EXPECT_EQ(KavoFrameFromCanBody(body.data(), body.size(), out, sizeof out), kKavoCanMaxReceivedStuffed + 4);
  EXPECT_EQ(KavoFrameFromCanBody(body.data(), body.size(), out, kKavoCanMaxReceivedStuffed + 3), 0u);

  body.push_back(0x22);
  body[1] = static_cast<std::uint8_t>(kKavoCanMaxReceivedStuffed + 1);
  EXPECT_EQ(KavoFrameFromCanBody(body.data(), body.size(), out, sizeof out), 0u);  // 395: over the bound

  const Bytes lying{0x08, 0x09, 0x00, 0x8E, 0x93};  // announces 9, holds 1
  EXPECT_EQ(KavoFrameFromCanBody(lying.data(), lying.size(), out, sizeof out), 0u);
  const Bytes otherCommand{0x0B, 0x01, 0x00, 0x8E};
  EXPECT_EQ(KavoFrameFromCanBody(otherCommand.data(), otherCommand.size(), out, sizeof out), 0u);
  EXPECT_EQ(KavoFrameFromCanBody(lying.data(), 3, out, sizeof out), 0u);
  EXPECT_EQ(KavoFrameFromCanBody(nullptr, 8, out, sizeof out), 0u);
}

}  // namespace
