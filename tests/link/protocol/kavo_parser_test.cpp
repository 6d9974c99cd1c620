#include "link/protocol/kavo_parser.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<KavoPacket> FeedAll(CKavoParser& parser, const Bytes& bytes, int* completed = nullptr) {
  int done = 0;
  for (auto b : bytes) done += parser.FeedByte(b) ? 1 : 0;
  if (completed) *completed = done;
  std::vector<KavoPacket> out;
  KavoPacket p;
  while (parser.TryPopPacket(p)) out.push_back(p);
  return out;
}

Bytes Payload(const KavoPacket& p) {
  return Bytes(p.data, p.data + p.length);
}
Bytes Raw(const KavoPacket& p) {
  return Bytes(p.raw, p.raw + p.rawLength);
}

TEST(KavoParser, StuffedDleAndEtxInPayload_DeliveredWithRawImage) {
  CKavoParser parser(nullptr);
  const Bytes wire{0x10, 0x8E, 0x10, 0x10, 0x03, 0x10, 0x03};
  auto packets = FeedAll(parser, wire);
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].id, 0x8E);
  EXPECT_EQ(Payload(packets[0]), (Bytes{0x10, 0x03}));
  EXPECT_EQ(Raw(packets[0]), wire);
  EXPECT_EQ(packets[0].checksumOk, 0);
}

TEST(KavoParser, DleDleWhereIdBelongs_ReturnsToIdleAndIgnoresUntilNextDle) {
  CKavoParser parser(nullptr);
  // 8E after the doubled DLE is noise; the frame that follows is whole.
  auto packets = FeedAll(parser, {0x10, 0x10, 0x8E, 0x01, 0x10, 0x03, 0x10, 0x44, 0x05, 0x10, 0x03});
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].id, 0x44);
  EXPECT_EQ(Payload(packets[0]), (Bytes{0x05}));
  // Dropped: the DLE DLE start, then the DLE ETX met where an id belongs.
  EXPECT_EQ(parser.DroppedFrames(), 2u);
}

TEST(KavoParser, DleEtxWhereIdBelongs_Dropped) {
  CKavoParser parser(nullptr);
  EXPECT_TRUE(FeedAll(parser, {0x10, 0x03, 0x10, 0x03}).empty());
}

TEST(KavoParser, DleFollowedByOtherByteInPayload_DropsAndDoesNotStartNewFrame) {
  CKavoParser parser(nullptr);
  // 10 8E 01 10 | 44 ... : 44 is dropped with the frame, not taken as an id.
  auto packets = FeedAll(parser, {0x10, 0x8E, 0x01, 0x10, 0x44, 0x02, 0x10, 0x03, 0x10, 0x55, 0x10, 0x03});
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].id, 0x55);
  EXPECT_EQ(packets[0].length, 0);
}

Bytes FrameOf(std::uint8_t id, const Bytes& payload, int withChecksum) {
  KavoPacket p;
  p.id = id;
  p.length = static_cast<std::uint16_t>(payload.size());
  std::copy(payload.begin(), payload.end(), p.data);
  Bytes out(KavoFrameCapacity(p.length));
  std::uint16_t n = 0;
  EXPECT_TRUE(BuildFrame(p, out.data(), n, withChecksum));
  out.resize(n);
  return out;
}

TEST(KavoParser, PayloadLimit_699DeliveredAnd700Dropped) {
  CKavoParser parser(nullptr);
  auto ok = FeedAll(parser, FrameOf(0x40, Bytes(699, 0x55), 0));
  ASSERT_EQ(ok.size(), 1u);
  EXPECT_EQ(ok[0].length, 699);
  EXPECT_EQ(ok[0].rawLength, 703);
  EXPECT_TRUE(FeedAll(parser, FrameOf(0x40, Bytes(700, 0x55), 0)).empty());
  // The parser is back in step for the next frame.
  EXPECT_EQ(FeedAll(parser, FrameOf(0x41, {1, 2}, 0)).size(), 1u);
}

TEST(KavoParser, RawImageOver710_DroppedEvenWithShortPayload) {
  CKavoParser parser(nullptr);
  // 353 DLEs stuff to 706 raw bytes + 4 framing = 710: fits exactly.
  auto fits = FeedAll(parser, FrameOf(0x40, Bytes(353, 0x10), 0));
  ASSERT_EQ(fits.size(), 1u);
  EXPECT_EQ(fits[0].rawLength, 710);
  EXPECT_EQ(fits[0].length, 353);
  EXPECT_TRUE(FeedAll(parser, FrameOf(0x40, Bytes(354, 0x10), 0)).empty());
  Bytes mixed(353, 0x10);
  mixed.push_back(0x01);  // 711 raw bytes
  EXPECT_TRUE(FeedAll(parser, FrameOf(0x40, mixed, 0)).empty());
  EXPECT_EQ(FeedAll(parser, FrameOf(0x41, {1}, 0)).size(), 1u);
}

TEST(KavoParser, Checksum_VerifiedButNeverStripped) {
  CKavoParser parser(nullptr);
  auto good = FeedAll(parser, {0x10, 0x8E, 0x01, 0x02, 0x00, 0x03, 0x10, 0x03});
  ASSERT_EQ(good.size(), 1u);
  EXPECT_EQ(good[0].length, 4);
  EXPECT_EQ(good[0].checksumOk, 1);
  auto bad = FeedAll(parser, {0x10, 0x8E, 0x01, 0x02, 0x00, 0x04, 0x10, 0x03});
  ASSERT_EQ(bad.size(), 1u);
  EXPECT_EQ(bad[0].checksumOk, 0);
  // Two bytes that happen to be a "sum" of nothing: below three bytes never counts.
  auto shortOne = FeedAll(parser, {0x10, 0x8E, 0x00, 0x00, 0x10, 0x03});
  ASSERT_EQ(shortOne.size(), 1u);
  EXPECT_EQ(shortOne[0].checksumOk, 0);
}

TEST(KavoParser, FeedByteTrueOnlyOnCompletingByteAndNotifyAfterQueueing) {
  std::size_t seenQueued = 0;
  CKavoParser parser([&](CKavoParser* p) { seenQueued = p->QueuedPackets(); });
  int completed = 0;
  FeedAll(parser, {0x10, 0x20, 0x10, 0x03, 0x10, 0x21, 0x10, 0x03}, &completed);
  EXPECT_EQ(completed, 2);
  EXPECT_EQ(seenQueued, 2u);
}

TEST(KavoParser, UndrainedQueue_KeepsEveryPacketInOrder) {
  CKavoParser parser(nullptr);
  for (int i = 0; i < 5000; ++i) {
    for (auto b : FrameOf(0x40, {static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)}, 0))
      parser.FeedByte(b);
  }
  KavoPacket p;
  for (int i = 0; i < 5000; ++i) {
    ASSERT_TRUE(parser.TryPopPacket(p));
    ASSERT_EQ(ReadBe16(p.data), i);
  }
  EXPECT_FALSE(parser.TryPopPacket(p));
}

TEST(KavoParser, ProducerThreadAndConsumer_EveryPacketOnceInOrder) {
  constexpr std::uint32_t kCount = 100000;
  std::atomic<int> notifications{0};
  CKavoParser parser([&](CKavoParser*) { notifications.fetch_add(1, std::memory_order_relaxed); });
  std::thread producer([&] {
    for (std::uint32_t i = 0; i < kCount; ++i) {
      Bytes payload{static_cast<std::uint8_t>(i >> 24), static_cast<std::uint8_t>(i >> 16),
                    static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
      for (auto b : FrameOf(0x57, payload, 1)) parser.FeedByte(b);
    }
  });
  std::uint32_t expected = 0;
  KavoPacket p;
  while (expected < kCount) {
    if (!parser.TryPopPacket(p)) {
      std::this_thread::yield();
      continue;
    }
    ASSERT_EQ(p.length, 6);
    ASSERT_EQ(p.checksumOk, 1);
    ASSERT_EQ(ReadBe32(p.data), expected);
    ++expected;
  }
  producer.join();
  EXPECT_FALSE(parser.TryPopPacket(p));
  EXPECT_EQ(notifications.load(), static_cast<int>(kCount));
}

TEST(BuildFrame, ChecksumBytesAreStuffedLikeData) {
  EXPECT_EQ(FrameOf(0x8E, {0x93, 0x10}, 1), (Bytes{0x10, 0x8E, 0x93, 0x10, 0x10, 0x00, 0xA3, 0x10, 0x03}));
  // Sixteen 0xFF and 0x20 sum to 0x1010: both checksum bytes doubled.
  Bytes payload(16, 0xFF);
  payload.push_back(0x20);
  const Bytes frame = FrameOf(0x01, payload, 1);
  ASSERT_EQ(frame.size(), 2u + 17 + 4 + 2);
  EXPECT_EQ(Bytes(frame.end() - 6, frame.end()), (Bytes{0x10, 0x10, 0x10, 0x10, 0x10, 0x03}));
  EXPECT_EQ(FrameOf(0x01, {0x05}, 0), (Bytes{0x10, 0x01, 0x05, 0x10, 0x03}));
}

TEST(BuildFrame, LengthBeyondDataArea_Refused) {
  KavoPacket p;
  p.length = kKavoMaxData + 1;
  std::uint8_t out[kKavoMaxFrame + 8];
  std::uint16_t n = 0;
  EXPECT_FALSE(BuildFrame(p, out, n, 1));
}

TEST(BuildFrame, FullDataAreaOfDles_FitsMaxFrame) {
  KavoPacket p;
  p.length = kKavoMaxData;
  std::fill(p.data, p.data + kKavoMaxData, 0x10);
  std::vector<std::uint8_t> out(kKavoMaxFrame);
  std::uint16_t n = 0;
  ASSERT_TRUE(BuildFrame(p, out.data(), n, 1));
  EXPECT_LE(n, kKavoMaxFrame);
}

TEST(ReverseBytes, BoundsAndOrder) {
  const std::uint8_t src[4] = {1, 2, 3, 4};
  std::uint8_t dst[4] = {9, 9, 9, 9};
  ReverseBytes(src, dst, 4);
  EXPECT_EQ(Bytes(dst, dst + 4), (Bytes{4, 3, 2, 1}));
  std::uint8_t untouched[2] = {7, 7};
  ReverseBytes(src, untouched, 0);
  ReverseBytes(src, untouched, -3);
  EXPECT_EQ(Bytes(untouched, untouched + 2), (Bytes{7, 7}));
  std::vector<std::uint8_t> big(300, 0xAB), out(300, 0);
  ReverseBytes(big.data(), out.data(), 300);
  EXPECT_EQ(out[255], 0xAB);
  EXPECT_EQ(out[256], 0);  // cut to 256
}

}  // namespace
