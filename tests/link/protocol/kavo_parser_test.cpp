#include "link/protocol/kavo_parser.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <utility>
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

// A producer thread feeding frame by frame, or in reads of several frames, against a consumer
// popping one at a time or taking batches: every packet once, in order.
TEST(KavoParser, ProducerThreadAndConsumer_EveryPacketOnceInOrder) {
  constexpr std::uint32_t kCount = 100000;
  for (bool batches : {false, true}) {
    SCOPED_TRACE(batches);
    std::atomic<int> notifications{0};
    CKavoParser parser([&](CKavoParser*) { notifications.fetch_add(1, std::memory_order_relaxed); });
    std::thread producer([&] {
      Bytes read;
      for (std::uint32_t i = 0; i < kCount; ++i) {
        Bytes payload{static_cast<std::uint8_t>(i >> 24), static_cast<std::uint8_t>(i >> 16),
                      static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
        const Bytes frame = FrameOf(0x57, payload, 1);
        if (!batches) {
          for (auto b : frame) parser.FeedByte(b);
          continue;
        }
        read.insert(read.end(), frame.begin(), frame.end());
        if (i % 5 == 4) {
          parser.Feed(read.data(), read.size());
          read.clear();
        }
      }
    });
    std::uint32_t expected = 0;
    KavoPacket p;
    CPacketBatch batch;
    auto check = [&expected](const KavoPacket& got) {
      ASSERT_EQ(got.length, 6);
      ASSERT_EQ(got.checksumOk, 1);
      ASSERT_EQ(ReadBe32(got.data), expected);
      ++expected;
    };
    while (expected < kCount) {
      if (batches ? parser.TakePackets(batch) == 0 : !parser.TryPopPacket(p)) {
        std::this_thread::yield();
        continue;
      }
      if (!batches) {
        check(p);
      } else {
        for (const KavoPacket& got : batch) check(got);
      }
      if (HasFatalFailure()) break;
    }
    producer.join();
    EXPECT_FALSE(parser.TryPopPacket(p));
    // One notification a packet byte by byte, one a read of five packets in bulk.
    EXPECT_EQ(notifications.load(), static_cast<int>(batches ? kCount / 5 : kCount));
  }
}

// The caller stamps the receive time: every packet a feed call completes carries that call's
// stamp, one split over two calls the second's. A call that completes nothing tells nobody.
TEST(KavoParser, Feed_StampsItsPacketsAndNotifiesOncePerCall) {
  int notifications = 0;
  CKavoParser parser([&](CKavoParser*) { ++notifications; });
  Bytes first = FrameOf(0x41, {1}, 0);
  for (std::uint8_t id : {0x42, 0x43}) {
    const Bytes more = FrameOf(id, {2, 3}, 0);
    first.insert(first.end(), more.begin(), more.end());
  }
  const Bytes split = FrameOf(0x44, {4, 5, 6}, 1);
  first.insert(first.end(), split.begin(), split.begin() + 3);
  EXPECT_EQ(parser.Feed(first.data(), first.size(), 1765000000), 3u);
  EXPECT_EQ(notifications, 1);
  EXPECT_EQ(parser.Feed(split.data() + 3, 1, 1765000001), 0u);
  EXPECT_EQ(notifications, 1);
  EXPECT_EQ(parser.Feed(split.data() + 4, split.size() - 4, 1765000002), 1u);
  EXPECT_EQ(notifications, 2);
  CPacketBatch batch;
  ASSERT_EQ(parser.TakePackets(batch), 4u);
  std::vector<std::pair<std::uint8_t, std::int64_t>> got;
  for (const KavoPacket& p : batch) got.emplace_back(p.id, p.receivedAt);
  EXPECT_EQ(got, (std::vector<std::pair<std::uint8_t, std::int64_t>>{
                     {0x41, 1765000000}, {0x42, 1765000000}, {0x43, 1765000000}, {0x44, 1765000002}}));
}

// What a link that makes its own packets adds to a batch comes back field for field, with or
// without a raw image; a batch that is taken into again holds only the new packets.
TEST(PacketBatch, AddedPacketsComeBackWholeAndTakeReplacesThem) {
  KavoPacket made;
  made.id = 0x8F;
  made.length = 3;
  made.data[0] = 0x8C;
  made.data[1] = 0x10;
  made.data[2] = 0x01;
  made.receivedAt = 42;
  CKavoParser parser(nullptr);
  const auto parsed = FeedAll(parser, {0x10, 0x8E, 0x01, 0x02, 0x00, 0x03, 0x10, 0x03});
  ASSERT_EQ(parsed.size(), 1u);
  CPacketBatch batch;
  batch.Add(made);
  batch.Add(parsed[0]);
  ASSERT_EQ(batch.size(), 2u);
  std::vector<KavoPacket> back(batch.begin(), batch.end());
  ASSERT_EQ(back.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const KavoPacket& want = i == 0 ? made : parsed[0];
    EXPECT_EQ(back[i].id, want.id);
    EXPECT_EQ(Payload(back[i]), Payload(want));
    EXPECT_EQ(Raw(back[i]), Raw(want));
    EXPECT_EQ(back[i].receivedAt, want.receivedAt);
    EXPECT_EQ(back[i].checksumOk, want.checksumOk);
  }
  for (auto b : FrameOf(0x45, {9}, 0)) parser.FeedByte(b);
  ASSERT_EQ(parser.TakePackets(batch), 1u);
  ASSERT_EQ(batch.size(), 1u);
  EXPECT_EQ(batch.begin()->id, 0x45);
  EXPECT_EQ(parser.TakePackets(batch), 0u);
  EXPECT_TRUE(batch.empty());
  EXPECT_TRUE(batch.begin() == batch.end());
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
