#include "logger/packet_dispatch.h"

#include "line_case.h"

namespace {

TEST(SuperPacketChecksum, SumOfBytesBeforeTrailer) {
  EXPECT_TRUE(SuperPacketChecksumOk(MakeSuper(CBytes().U8(0x81))));
  EXPECT_TRUE(SuperPacketChecksumOk(MakePacket(0x8F, {0x00, 0x00})));  // shortest: empty body, sum 0
  EXPECT_FALSE(SuperPacketChecksumOk(MakePacket(0x8F, {0x00})));
  KavoPacket wrong = MakeSuper(CBytes().U8(0x81).U8(0xFF).U8(0xFF));
  wrong.data[wrong.length - 2] ^= 0x01;
  EXPECT_FALSE(SuperPacketChecksumOk(wrong));
  // The longest accepted: 255 data bytes.
  EXPECT_TRUE(SuperPacketChecksumOk(MakeSuper(CBytes().Fill(253, 0xFF))));
  EXPECT_FALSE(SuperPacketChecksumOk(MakeSuper(CBytes().Fill(254, 0xFF))));  // 256 bytes: too long
}

TEST(Dispatch, ExactSuperPacketLengthsGuardEachRoute) {
  // Each route of the length table, one byte short and one byte long: no line, nothing stored.
  const struct {
    std::uint8_t sub;
    std::size_t length;
  } routes[] = {{0x7B, 157}, {0x80, 17}, {0x82, 19}, {0x8B, 42},
                {0x90, 61},  {0x91, 37}, {0x9A, 25}, {0xA2, 20}};
  for (const auto& r : routes) {
    for (std::size_t length : {r.length - 1, r.length + 1}) {
      CRecordingContext context;
      CBytes body;
      body.U8(r.sub).Fill(length - 3, 0x03);
      DispatchPacket(MakeSuper(body), context);
      EXPECT_TRUE(context.lines.empty()) << std::hex << int{r.sub} << " " << std::dec << length;
      EXPECT_TRUE(context.sent.empty()) << std::hex << int{r.sub};
      EXPECT_FALSE(context.session.guidanceConfigReceived);
      EXPECT_EQ(context.session.correction.source, kCorrectionSourceNone);
    }
  }
}

TEST(Dispatch, UnknownIdsAndShortPacketsWriteNothing) {
  CRecordingContext context;
  for (int id = 0; id < 256; ++id) {
    // Every identifier with no data, and with one stray byte: no formatter reads past the data.
    DispatchPacket(MakePacket(static_cast<std::uint8_t>(id), {}), context);
    DispatchPacket(MakePacket(static_cast<std::uint8_t>(id), {0x01}), context);
  }
  // Only the DGPS mode report answers a bad length, with its resend note.
  EXPECT_EQ(context.lines,
            (std::vector<std::string>{"* NOTE: Received bad pos type pkt, requesting a resend."}));
}

TEST(Dispatch, RandomPacketsOfEveryKnownKind_StayInsideTheirData) {
  // Random lengths and bytes for every routed identifier and sub-identifier, with valid
  // super-packet sums so the formatters themselves are reached; run under the sanitizers too.
  const std::uint8_t ids[] = {0x1A, 0x41, 0x46, 0x4A, 0x53, 0x56, 0x5B, 0x5C, 0x5F, 0x6D,
                              0x6F, 0x82, 0x83, 0x84, 0x85, 0x89, 0x94, 0x95, 0x9A};
  const std::uint8_t subs[] = {0x7B, 0x80, 0x81, 0x82, 0x85, 0x8B, 0x90, 0x91, 0x93, 0x9A, 0xA2, 0xA3, 0xA7};
  std::uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) & 0xFFFF;
  };
  CRecordingContext context;
  context.session.options = 0xFFFF;
  for (int round = 0; round < 4000; ++round) {
    for (std::uint8_t id : ids) {
      std::vector<std::uint8_t> data(next() % 80);
      for (auto& b : data) b = static_cast<std::uint8_t>(next());
      if (!data.empty() && next() % 2) data[0] = static_cast<std::uint8_t>(next() % 0x30);
      DispatchPacket(MakePacket(id, data, static_cast<std::uint8_t>(next() % 2)), context);
    }
    for (std::uint8_t sub : subs) {
      CBytes body;
      body.U8(sub).U8(next() % 8);
      const std::size_t length = next() % 200;
      for (std::size_t i = 0; i < length; ++i) body.U8(static_cast<int>(next()));
      DispatchPacket(MakeSuper(body), context);
    }
    context.lines.clear();
    context.sent.clear();
  }
  SUCCEED();
}

TEST(Dispatch, NmeaSentenceLoggedVerbatimWithOption) {
  const std::string sentence = "$GPGGA,123519,4807.038,N*47\r\n";
  CBytes body;
  body.U8(1).U8(static_cast<int>(sentence.size())).Text(sentence);
  CRecordingContext off;
  DispatchPacket(MakePacket(0x1A, body.bytes), off);
  EXPECT_TRUE(off.lines.empty());

  CRecordingContext on;
  on.session.options = kLogNmea;
  DispatchPacket(MakePacket(0x1A, body.bytes), on);
  EXPECT_EQ(on.lines, (std::vector<std::string>{"$GPGGA,123519,4807.038,N*47"}));

  body.bytes[1] ^= 1;  // length byte that does not match
  DispatchPacket(MakePacket(0x1A, body.bytes), on);
  EXPECT_EQ(on.lines.size(), 1u);
}

}  // namespace
