// Feed must be FeedByte in bulk: the same packets, raw images, checksum flags, drop counts and
// completion counts for any stream cut into any pieces, including the limits where a frame is
// dropped for length.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "link/protocol/kavo_parser.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Outcome {
  std::vector<Bytes> packets;  // id, checksum flag, payload, then the raw image
  std::uint64_t dropped = 0;
  std::size_t completed = 0;
};

Bytes Describe(const KavoPacket& p) {
  Bytes d{p.id, p.checksumOk};
  d.insert(d.end(), p.data, p.data + p.length);
  d.push_back(0xEE);
  d.insert(d.end(), p.raw, p.raw + p.rawLength);
  return d;
}

void Drain(CKavoParser& parser, Outcome& out) {
  KavoPacket p;
  while (parser.TryPopPacket(p)) out.packets.push_back(Describe(p));
}

Outcome ByteWise(const Bytes& stream) {
  CKavoParser parser(nullptr);
  Outcome out;
  for (std::uint8_t b : stream) out.completed += parser.FeedByte(b) ? 1 : 0;
  Drain(parser, out);
  out.dropped = parser.DroppedFrames();
  return out;
}

// Feeds in pieces of the given sizes (cycled), draining between pieces as a reader would.
Outcome Bulk(const Bytes& stream, const std::vector<std::size_t>& pieces) {
  CKavoParser parser(nullptr);
  Outcome out;
  std::size_t at = 0;
  for (std::size_t i = 0; at < stream.size(); ++i) {
    const std::size_t n = std::min(pieces[i % pieces.size()], stream.size() - at);
    out.completed += parser.Feed(stream.data() + at, n);
    at += n;
    Drain(parser, out);
  }
  out.dropped = parser.DroppedFrames();
  return out;
}

void ExpectSame(const Outcome& want, const Outcome& got) {
  EXPECT_EQ(want.completed, got.completed);
  EXPECT_EQ(want.dropped, got.dropped);
  ASSERT_EQ(want.packets.size(), got.packets.size());
  for (std::size_t i = 0; i < want.packets.size(); ++i)
    ASSERT_EQ(want.packets[i], got.packets[i]) << "packet " << i;
}

// DLE id, `payload` stuffed, DLE ETX.
Bytes Frame(std::uint8_t id, const Bytes& payload) {
  Bytes f{0x10, id};
  for (std::uint8_t b : payload) {
    f.push_back(b);
    if (b == 0x10) f.push_back(0x10);
  }
  f.push_back(0x10);
  f.push_back(0x03);
  return f;
}

TEST(KavoParserFeed, LengthLimits_SameDropsAndPacketsAsByteWise) {
  // Payload lengths around the data limit (700) and DLE-heavy payloads around the raw limit (710).
  for (std::size_t length : {1u, 2u, 697u, 698u, 699u, 700u, 701u, 800u}) {
    for (int dles : {0, 1, 4, 8, 9, 20}) {
      Bytes payload(length, 0x41);
      // DLEs first, so that the raw image (two bytes a DLE) reaches its limit in a run of plain bytes.
      for (int k = 0; k < dles && static_cast<std::size_t>(2 * k) < length; ++k) payload[2 * k] = 0x10;
      Bytes stream = Frame(0x8F, payload);
      const Bytes next = Frame(0x8F, {0x01, 0x02});  // the parser must be back in step after a drop
      stream.insert(stream.end(), next.begin(), next.end());
      SCOPED_TRACE(testing::Message() << "length " << length << " dles " << dles);
      const Outcome want = ByteWise(stream);
      ExpectSame(want, Bulk(stream, {stream.size()}));
      ExpectSame(want, Bulk(stream, {1}));
      ExpectSame(want, Bulk(stream, {256, 3, 17}));
    }
  }
}

// Good frames (some checksummed, some full of DLEs), noise with DLE pairs and stray ETX, frames
// cut short by the next one and overlong frames, to at least `size` bytes.
Bytes RandomStream(std::mt19937& rng, std::size_t size) {
  std::uniform_int_distribution<int> byte(0, 255), pct(0, 99);
  Bytes stream;
  while (stream.size() < size) {
    const int kind = pct(rng);
    if (kind < 70) {
      KavoPacket p;
      p.id = static_cast<std::uint8_t>(byte(rng) == 0x10 ? 0x8F : byte(rng) | 0x20);
      p.length = static_cast<std::uint16_t>(std::uniform_int_distribution<int>(0, 400)(rng));
      const int dlePct = pct(rng) < 20 ? 30 : 1;
      for (int i = 0; i < p.length; ++i)
        p.data[i] = pct(rng) < dlePct ? 0x10 : static_cast<std::uint8_t>(byte(rng));
      std::uint8_t frame[kKavoMaxFrame];
      std::uint16_t n = 0;
      BuildFrame(p, frame, n, pct(rng) < 50 ? 1 : 0);
      stream.insert(stream.end(), frame, frame + n);
    } else if (kind < 85) {
      for (int i = std::uniform_int_distribution<int>(1, 30)(rng); i > 0; --i)
        stream.push_back(pct(rng) < 30 ? 0x10 : pct(rng) < 10 ? 0x03 : static_cast<std::uint8_t>(byte(rng)));
    } else if (kind < 95) {
      const Bytes f = Frame(0x8F, Bytes(std::uniform_int_distribution<int>(1, 60)(rng), 0x55));
      stream.insert(stream.end(), f.begin(), f.begin() + static_cast<long>(f.size() / 2));
    } else {
      Bytes payload(std::uniform_int_distribution<int>(690, 760)(rng), 0x66);
      for (int i = std::uniform_int_distribution<int>(0, 20)(rng); i > 0; --i)
        payload[static_cast<std::size_t>(i) * 3] = 0x10;
      const Bytes f = Frame(0x8F, payload);
      stream.insert(stream.end(), f.begin(), f.end());
    }
  }
  return stream;
}

std::vector<std::size_t> RandomPieces(std::mt19937& rng) {
  std::vector<std::size_t> pieces;
  for (int i = 0; i < 16; ++i)
    pieces.push_back(static_cast<std::size_t>(std::uniform_int_distribution<int>(1, 900)(rng)));
  return pieces;
}

TEST(KavoParserFeed, RandomStreamsInRandomPieces_SameAsByteWise) {
  std::mt19937 rng(20261209);
  for (int round = 0; round < 40; ++round) {
    const Bytes stream = RandomStream(rng, 60000);
    const std::vector<std::size_t> pieces = RandomPieces(rng);
    SCOPED_TRACE(round);
    const Outcome want = ByteWise(stream);
    ASSERT_GT(want.packets.size(), 100u);
    ASSERT_GT(want.dropped, 0u);
    ExpectSame(want, Bulk(stream, pieces));
  }
}

// The batch path gives the same packets as TryPopPacket, across the parser's 64 KB blocks: taken
// after some pieces, left to pile up over others, and mixed with single pops; one batch reused.
TEST(KavoParserFeed, BatchesAcrossBlocks_SameAsByteWise) {
  std::mt19937 rng(1209);
  for (int round = 0; round < 6; ++round) {
    const Bytes stream = RandomStream(rng, 300000);
    const std::vector<std::size_t> pieces = RandomPieces(rng);
    SCOPED_TRACE(round);
    const Outcome want = ByteWise(stream);
    CKavoParser parser(nullptr);
    CPacketBatch batch;
    Outcome got;
    std::size_t at = 0;
    for (std::size_t i = 0; at < stream.size(); ++i) {
      const std::size_t n = std::min(pieces[i % pieces.size()], stream.size() - at);
      got.completed += parser.Feed(stream.data() + at, n);
      at += n;
      if (i % 7 == 3) {
        KavoPacket p;
        if (parser.TryPopPacket(p)) got.packets.push_back(Describe(p));
      } else if (i % 3 == 0) {
        const std::size_t queued = parser.QueuedPackets();
        ASSERT_EQ(parser.TakePackets(batch), queued);
        ASSERT_EQ(batch.size(), queued);
        for (const KavoPacket& p : batch) got.packets.push_back(Describe(p));
        EXPECT_EQ(parser.QueuedPackets(), 0u);
      }
    }
    parser.TakePackets(batch);
    for (const KavoPacket& p : batch) got.packets.push_back(Describe(p));
    got.dropped = parser.DroppedFrames();
    ExpectSame(want, got);
  }
}

TEST(KavoParserFeed, EmptyFeedChangesNothing) {
  CKavoParser parser(nullptr);
  const Bytes head{0x10, 0x8F, 0x01};
  EXPECT_EQ(parser.Feed(head.data(), head.size()), 0u);
  EXPECT_EQ(parser.Feed(nullptr, 0), 0u);
  const Bytes tail{0x02, 0x10, 0x03};
  EXPECT_EQ(parser.Feed(tail.data(), tail.size()), 1u);
  KavoPacket p;
  ASSERT_TRUE(parser.TryPopPacket(p));
  EXPECT_EQ(p.length, 2);
  EXPECT_EQ(p.data[1], 0x02);
}

// Records are reused (the caller's by TryPopPacket, the batch's own by iteration): long, short,
// long, short... and a short one must not show the long one's bytes.
TEST(KavoParserFeed, ShortPacketAfterLongOne_ShowsNothingOfItPastItsLength) {
  Bytes stream = Frame(0x8F, Bytes(300, 0x77));
  const Bytes shortOne = Frame(0x8F, {0x01});
  for (int i = 0; i < 3; ++i) {
    stream.insert(stream.end(), shortOne.begin(), shortOne.end());
    const Bytes longOne = Frame(0x8F, Bytes(300, 0x77));
    stream.insert(stream.end(), longOne.begin(), longOne.end());
  }
  auto checkShort = [](const KavoPacket& p, int& shorts) {
    if (p.length != 1) return;
    ++shorts;
    EXPECT_EQ(std::count(p.data + 1, p.data + kKavoMaxData, 0), static_cast<long>(kKavoMaxData - 1));
    EXPECT_EQ(std::count(p.raw + p.rawLength, p.raw + kKavoMaxRaw, 0),
              static_cast<long>(kKavoMaxRaw - p.rawLength));
  };
  for (bool batched : {false, true}) {
    SCOPED_TRACE(batched);
    CKavoParser parser(nullptr);
    parser.Feed(stream.data(), stream.size());
    int shorts = 0;
    if (batched) {
      CPacketBatch batch;
      parser.TakePackets(batch);
      for (const KavoPacket& p : batch) checkShort(p, shorts);
    } else {
      KavoPacket p;
      while (parser.TryPopPacket(p)) checkShort(p, shorts);
    }
    EXPECT_EQ(shorts, 3);
  }
}

}  // namespace
