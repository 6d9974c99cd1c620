#include "link/protocol/stream_message.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Header(std::uint16_t type, std::uint16_t length, std::uint32_t magic3 = kStreamMagic3) {
  Bytes h{0xA3, 0xA5, 0x83, 0x29, 0x86, 0x75, 0x30, 0x01};
  h.push_back(static_cast<std::uint8_t>(type >> 8));
  h.push_back(static_cast<std::uint8_t>(type));
  h.push_back(static_cast<std::uint8_t>(length >> 8));
  h.push_back(static_cast<std::uint8_t>(length));
  for (int s = 24; s >= 0; s -= 8) h.push_back(static_cast<std::uint8_t>(magic3 >> s));
  return h;
}

Bytes Message(std::uint16_t type, const Bytes& body, std::uint32_t magic3 = kStreamMagic3) {
  Bytes m = Header(type, static_cast<std::uint16_t>(body.size()), magic3);
  m.insert(m.end(), body.begin(), body.end());
  return m;
}

void Put(RingBuffer& ring, const Bytes& b) {
  ASSERT_EQ(ring.Write(b.data(), static_cast<std::uint32_t>(b.size())), b.size());
}

const Bytes kFrame{0x10, 0x8E, 0x93, 0x10, 0x10, 0x10, 0x03};

TEST(StreamMessage, BuildWritesBigEndianHeaderAndBody) {
  EXPECT_EQ(StreamMessageFor(kFrame.data(), kFrame.size()), Message(1, kFrame));
}

TEST(StreamMessage, GarbageBeforeValidMessage_SkippedByteByByte) {
  RingBuffer ring(kStreamReceiveRing);
  Put(ring, {0x01, 0xA3, 0xFF});
  Put(ring, Message(1, kFrame));
  StreamMessage m;
  ASSERT_TRUE(ExtractStreamMessage(ring, m));
  EXPECT_EQ(m.type, 1);
  EXPECT_EQ(m.body, kFrame);
  EXPECT_EQ(ring.Used(), 0u);
}

TEST(StreamMessage, SplitOverTwoReads_DeliveredOnceComplete) {
  RingBuffer ring(kStreamReceiveRing);
  const Bytes whole = Message(1, kFrame);
  Put(ring, Bytes(whole.begin(), whole.begin() + 19));
  StreamMessage m;
  EXPECT_FALSE(ExtractStreamMessage(ring, m));
  EXPECT_EQ(ring.Used(), 19u);  // kept for the rest
  Put(ring, Bytes(whole.begin() + 19, whole.end()));
  ASSERT_TRUE(ExtractStreamMessage(ring, m));
  EXPECT_EQ(m.body, kFrame);
  EXPECT_FALSE(ExtractStreamMessage(ring, m));
}

TEST(StreamMessage, BadTypeOrMagic3_SkippedAndNextMessageFound) {
  RingBuffer ring(kStreamReceiveRing);
  Put(ring, Message(4, kFrame));
  Put(ring, Message(1, kFrame, 0x5C5A7CD7));
  Put(ring, Message(1, {0x10, 0x41, 0x10, 0x03}));
  StreamMessage m;
  ASSERT_TRUE(ExtractStreamMessage(ring, m));
  EXPECT_EQ(m.body, (Bytes{0x10, 0x41, 0x10, 0x03}));
}

TEST(StreamMessage, Types2And3_DecodedAndWrongSizedBodiesDropped) {
  RingBuffer ring(kStreamReceiveRing);
  Put(ring, Message(2, {0, 0, 0, 1, 0, 0, 0, 2, 7, 8, 9, 10}));
  Put(ring, Message(3, {1, 2}));  // too short for its u32: dropped whole
  Put(ring, Message(3, {0x12, 0x34, 0x56, 0x78}));
  StreamMessage m;
  ASSERT_TRUE(ExtractStreamMessage(ring, m));
  EXPECT_EQ(m.type, 2);
  EXPECT_EQ(m.words[0], 1u);
  EXPECT_EQ(m.words[1], 2u);
  EXPECT_EQ(m.bytes[3], 10);
  ASSERT_TRUE(ExtractStreamMessage(ring, m));
  EXPECT_EQ(m.type, 3);
  EXPECT_EQ(m.words[0], 0x12345678u);
}

TEST(StreamMessage, LengthBeyondRingCapacity_SkippedNotWaitedFor) {
  RingBuffer ring(kStreamReceiveRing);
  Put(ring, Header(1, 40000));
  Put(ring, Message(1, kFrame));
  StreamMessage m;
  ASSERT_TRUE(ExtractStreamMessage(ring, m));
  EXPECT_EQ(m.body, kFrame);
}

TEST(StreamMessage, LargestFrame_RoundTrips) {
  // 700 payload bytes of DLE with a checksum: the largest frame there is (1,408 bytes).
  KavoPacket p;
  p.id = 0x40;
  p.length = kKavoMaxData;
  std::fill(p.data, p.data + p.length, 0x10);
  Bytes frame(kKavoMaxFrame);
  std::uint16_t n = 0;
  ASSERT_TRUE(BuildFrame(p, frame.data(), n, 1));
  frame.resize(n);
  ASSERT_GT(frame.size(), 1400u);
  std::uint8_t out[kStreamMaxDataMessage];
  const std::size_t size = BuildStreamMessage(frame.data(), frame.size(), out);
  ASSERT_EQ(size, kStreamHeaderSize + frame.size());
  RingBuffer ring(kStreamReceiveRing);
  ASSERT_EQ(ring.Write(out, static_cast<std::uint32_t>(size)), size);
  StreamMessage m;
  ASSERT_TRUE(ExtractStreamMessage(ring, m));
  EXPECT_EQ(m.body, frame);
}

TEST(RingBuffer, UsedFreeAndWrapAround) {
  RingBuffer ring(8);
  EXPECT_EQ(ring.Free(), 7u);
  const Bytes six{1, 2, 3, 4, 5, 6};
  EXPECT_EQ(ring.Write(six.data(), 6), 6u);
  std::uint8_t out[8] = {};
  EXPECT_EQ(ring.Read(out, 5), 5u);
  EXPECT_EQ(ring.Used(), 1u);
  EXPECT_EQ(ring.Free(), 6u);
  // Writes across the end of the storage.
  const Bytes more{7, 8, 9, 10, 11, 12, 13};
  EXPECT_EQ(ring.Write(more.data(), 7), 6u);  // one byte stays free
  EXPECT_EQ(ring.Used(), 7u);
  EXPECT_EQ(ring.Free(), 0u);
  EXPECT_EQ(ring.Write(more.data(), 1), 0u);
  EXPECT_EQ(ring.Peek(out, 8), 7u);
  EXPECT_EQ(Bytes(out, out + 7), (Bytes{6, 7, 8, 9, 10, 11, 12}));
  EXPECT_EQ(ring.Skip(100), 7u);
  EXPECT_EQ(ring.Used(), 0u);
}

}  // namespace
