// The simulator's DAT replies and measurement stream drive a real DAT writer through its whole
// acquisition: every request the writer sends is answered over a real frame and parser, and the
// file must come out in the writer's record order, then carry measurement and position epochs.

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "dat/dat_writer.h"
#include "dat_replies.h"
#include "link/protocol/kavo_ids.h"
#include "link/protocol/kavo_parser.h"
#include "nav_stream.h"
#include "sim_time.h"
#include "support/fake_clock.h"
#include "support/prompt_recorder.h"
#include "support/temp_dir.h"

namespace {

constexpr std::int64_t kUtcMs = 1767796200000LL;  // 2026-01-07 14:30:00 UTC

// The record kinds of a DAT file ("type/sub-type" for the types that have one), walked by the
// records' own headers: sync 0x74, length (two bytes for type 17, else one, then the sub-type), type.
std::vector<std::string> RecordKinds(const std::string& file, bool& whole) {
  std::vector<std::string> kinds;
  whole = true;
  std::size_t at = 0;
  while (at < file.size()) {
    if (file.size() - at < 4 || static_cast<std::uint8_t>(file[at]) != 0x74) {
      whole = false;
      break;
    }
    const unsigned type = static_cast<std::uint8_t>(file[at + 3]);
    std::size_t length = static_cast<std::uint8_t>(file[at + 1]);
    std::string kind = std::to_string(type);
    if (type == 17)
      length |= static_cast<std::size_t>(static_cast<std::uint8_t>(file[at + 2])) << 8;
    else if (type == 5 || type == 16)
      kind += "/" + std::to_string(static_cast<std::uint8_t>(file[at + 2]));
    if (length < 4 || at + length > file.size()) {
      whole = false;
      break;
    }
    kinds.push_back(kind);
    at += length;
  }
  return kinds;
}

KavoPacket TimePacket(std::int64_t utcMs) {
  const GpsTime gps = GpsTimeFromUtcMs(utcMs);
  KavoPacket p;
  p.id = kavo::kIdTime;
  p.length = 10;
  float tow = static_cast<float>(gps.timeOfWeek);
  float offset = static_cast<float>(kGpsLeapSeconds);
  std::uint32_t bits;
  std::memcpy(&bits, &tow, 4);
  for (int i = 0; i < 4; ++i) p.data[i] = static_cast<std::uint8_t>(bits >> (24 - 8 * i));
  p.data[4] = static_cast<std::uint8_t>(gps.week >> 8);
  p.data[5] = static_cast<std::uint8_t>(gps.week);
  std::memcpy(&bits, &offset, 4);
  for (int i = 0; i < 4; ++i) p.data[6 + i] = static_cast<std::uint8_t>(bits >> (24 - 8 * i));
  return p;
}

class PlowsimDatRepliesTest : public testing::Test {
 protected:
  PlowsimDatRepliesTest()
      : writer([this](std::uint8_t id, std::uint16_t length, const std::uint8_t* data,
                      int) { requests.push_back(Request(id, length, data)); },
               [](const char*) {}, clock, prompts) {}

  static KavoPacket Request(std::uint8_t id, std::uint16_t length, const std::uint8_t* data) {
    KavoPacket p;
    p.id = id;
    p.length = length;
    if (length > 0) std::memcpy(p.data, data, length);
    return p;
  }

  // Frames the packet as the simulator sends it and hands the parsed copy to the writer.
  void Deliver(const KavoPacket& p, int withChecksum) {
    std::uint8_t frame[kKavoMaxFrame];
    std::uint16_t n = 0;
    ASSERT_TRUE(BuildFrame(p, frame, n, withChecksum));
    for (std::uint16_t i = 0; i < n; ++i) parser.FeedByte(frame[i]);
    KavoPacket out;
    ASSERT_TRUE(parser.TryPopPacket(out));
    writer.PostPacket(out.id, out.length, out.data, out.checksumOk);
  }

  // One second of the receiver: its answers to what the writer asked, the time, the position,
  // the velocity and the DAT stream's epoch.
  void Second() {
    clock.Advance(1000);
    const std::int64_t utc = kUtcMs + clock.NowMs();
    const auto sink = [this](const KavoPacket& p, int withChecksum) { Deliver(p, withChecksum); };
    while (!requests.empty()) {
      const KavoPacket request = requests.front();
      requests.pop_front();
      replies.Answer(request, clock.NowMs(), utc, sink);
    }
    Deliver(TimePacket(utc), 0);
    nav.Build(CNavStream::Kind::LlaFix40, utc, sink);
    nav.Build(CNavStream::Kind::Velocity20, utc, sink);
    replies.Tick(clock.NowMs(), utc, sink);
  }

  std::vector<std::string> Kinds(const std::string& path) {
    bool whole = false;
    auto kinds = RecordKinds(ReadWholeFile(path), whole);
    EXPECT_TRUE(whole) << path;
    return kinds;
  }

  CTempDir dir;
  CFakeClock clock;
  CPromptRecorder prompts;
  CKavoParser parser{nullptr};
  std::deque<KavoPacket> requests;
  CDATWriter writer;
  CDatReplies replies;
  CNavStream nav;
};

TEST_F(PlowsimDatRepliesTest, WriterReachesSteadyStateWithRecordsInOrderThenEpochs) {
  const std::string dat = (dir.Path() / "A7010714.dat").string();
  writer.StartDatLogging(dat);
  for (int i = 0; i < 30 && writer.DatStep() != CDATWriter::kSteadyState; ++i) Second();
  ASSERT_EQ(writer.DatStep(), CDATWriter::kSteadyState);
  for (int i = 0; i < 5; ++i) Second();

  const auto kinds = Kinds(dat);
  std::vector<std::string> opening{"5/1", "5/2", "15"};
  opening.insert(opening.end(), std::size(CNavStream::kGpsPrns), "21");
  opening.insert(opening.end(), {"16/27", "16/43", "19", "11"});
  ASSERT_GT(kinds.size(), opening.size());
  EXPECT_EQ(std::vector<std::string>(kinds.begin(), kinds.begin() + opening.size()), opening);
  int measurements = 0, positions = 0;
  for (std::size_t i = opening.size(); i < kinds.size(); ++i) {
    measurements += kinds[i] == "17";
    positions += kinds[i] == "11";
  }
  EXPECT_GE(measurements, 4);
  EXPECT_GE(positions, 4);
  // The relay packets reach the base file: two 40-byte messages a second.
  const std::string base = ReadWholeFile(CDATWriter::BaseFileName(dat));
  EXPECT_GT(base.size(), 0u);
  EXPECT_EQ(base.size() % 40, 0u);
  EXPECT_TRUE(prompts.Texts().empty());
}

TEST_F(PlowsimDatRepliesTest, RepliesHaveTheLengthsAndTypesTheWriterTests) {
  struct Case {
    std::vector<std::uint8_t> request;
    std::uint8_t replyId;
    std::uint16_t replyLength;
  };
  const Case cases[] = {
      {{0x38, 0x01, 0x04, 0x00}, 0x58, 44},
      {{0x38, 0x01, 0x05, 0x00}, 0x58, 43},
      {{0x38, 0x01, 0x06, 0x05}, 0x58, 171},
      {{0x38, 0x01, 0x06, 0x20}, 0x58, 171},  // not tracked: same size, no orbit
      {{0x2D}, 0x4D, 4},
      {{0x24}, 0x6D, static_cast<std::uint16_t>(17 + std::size(CNavStream::kGpsPrns))},
  };
  for (const Case& c : cases) {
    CDatReplies r;
    const KavoPacket request =
        Request(c.request[0], static_cast<std::uint16_t>(c.request.size() - 1), c.request.data() + 1);
    std::vector<KavoPacket> sent;
    EXPECT_TRUE(r.Answer(request, 0, kUtcMs, [&](const KavoPacket& p, int) { sent.push_back(p); }));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].id, c.replyId);
    EXPECT_EQ(sent[0].length, c.replyLength);
    if (c.replyId == 0x58) {
      EXPECT_EQ(sent[0].data[1], c.request[2]);
    }
  }
  // Bad requests are left to the rest of the model; the stream starts only on DAT requests.
  CDatReplies r;
  const std::uint8_t prn33[] = {0x01, 0x06, 33};
  const std::uint8_t nmea[] = {0x07, 0xFF, 0x01};
  EXPECT_FALSE(r.Answer(Request(0x38, 3, prn33), 0, kUtcMs, [](const KavoPacket&, int) {}));
  EXPECT_FALSE(r.Answer(Request(0x1A, 3, nmea), 0, kUtcMs, [](const KavoPacket&, int) {}));
  EXPECT_EQ(r.NextDueMs(), -1);
  const std::uint8_t cmr[] = {0x02, 0x00, 0x02, 0x93, 0x94};
  EXPECT_TRUE(r.Answer(Request(0x1A, 5, cmr), 100, kUtcMs, [](const KavoPacket&, int) {}));
  EXPECT_EQ(r.NextDueMs(), 1100);
  std::vector<std::pair<KavoPacket, int>> epoch;
  r.Tick(1099, kUtcMs, [&](const KavoPacket& p, int c) { epoch.push_back({p, c}); });
  EXPECT_TRUE(epoch.empty());
  r.Tick(5000, kUtcMs, [&](const KavoPacket& p, int c) { epoch.push_back({p, c}); });
  ASSERT_EQ(epoch.size(), 4u);  // one epoch even when late
  EXPECT_EQ(r.NextDueMs(), 5100);
  EXPECT_EQ(epoch[0].first.data[0], 0x01);
  EXPECT_EQ(epoch[1].first.data[0], 0x10);
  EXPECT_EQ(epoch[1].second, 1);
  EXPECT_EQ(epoch[2].first.data[5], 0x93);
  EXPECT_EQ(epoch[3].first.data[5], 0x94);
}

}  // namespace
