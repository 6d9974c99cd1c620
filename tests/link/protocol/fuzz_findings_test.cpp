// Inputs the fuzz targets found faults with, kept so that the faults stay mended.
#include <gtest/gtest.h>

#include <vector>

#include "link/protocol/ring_buffer.h"
#include "link/protocol/stream_message.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A type-1 message with an empty body was read into the data of an empty vector, a null pointer
// handed to memcpy (undefined even for zero bytes). It is taken off the stream like any other.
TEST(FuzzFindings, StreamMessage_EmptyDataMessageThenFrame) {
  const Bytes empty{0xA3, 0xA5, 0x83, 0x29, 0x86, 0x75, 0x30, 0x01,
                    0x00, 0x01, 0x00, 0x00, 0x5C, 0x5A, 0x7C, 0xD6};
  const Bytes frame{0x10, 0x41, 0x10, 0x03};
  Bytes stream = empty;
  const Bytes second = StreamMessageFor(frame.data(), frame.size());
  stream.insert(stream.end(), second.begin(), second.end());

  RingBuffer ring(kStreamReceiveRing);
  ASSERT_EQ(ring.Write(stream.data(), static_cast<std::uint32_t>(stream.size())), stream.size());
  StreamMessage message;
  ASSERT_TRUE(ExtractStreamMessage(ring, message));
  EXPECT_EQ(message.type, kStreamTypeData);
  EXPECT_TRUE(message.body.empty());
  ASSERT_TRUE(ExtractStreamMessage(ring, message));
  EXPECT_EQ(message.body, frame);
  EXPECT_EQ(ring.Used(), 0u);
}

TEST(FuzzFindings, RingBuffer_ZeroByteCallsTakeNullPointers) {
  RingBuffer ring(16);
  EXPECT_EQ(ring.Write(nullptr, 0), 0u);
  EXPECT_EQ(ring.Peek(nullptr, 0), 0u);
  EXPECT_EQ(ring.Read(nullptr, 4), 0u);  // empty: nothing is copied
  const std::uint8_t b[3] = {1, 2, 3};
  ASSERT_EQ(ring.Write(b, 3), 3u);
  EXPECT_EQ(ring.Read(nullptr, 0), 0u);
  EXPECT_EQ(ring.Used(), 3u);
}

}  // namespace
