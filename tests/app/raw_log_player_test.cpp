// The raw log player: pacing by the recording's time packets on a fake clock, pause and step,
// seeking, damaged files, and the packets reaching the connection control as live ones do.

#include "app/raw_log_player.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "app/connection_control.h"
#include "app/fake_receiver_link.h"
#include "link/protocol/kavo_ids.h"
#include "support/checksummed_packet.h"
#include "support/fake_clock.h"
#include "support/prompt_recorder.h"
#include "support/temp_dir.h"

namespace {

constexpr std::uint16_t kWeek = 2400;

std::vector<std::uint8_t> Frame(const KavoPacket& packet, int withChecksum = 0) {
  std::vector<std::uint8_t> bytes(kKavoMaxFrame);
  std::uint16_t n = 0;
  EXPECT_TRUE(BuildFrame(packet, bytes.data(), n, withChecksum));
  bytes.resize(n);
  return bytes;
}

KavoPacket GpsTimePacket(float timeOfWeek, std::uint16_t week = kWeek, float utcOffset = 18.0f) {
  KavoPacket p;
  p.id = kavo::kIdTime;
  p.length = 10;
  std::uint32_t bits;
  std::memcpy(&bits, &timeOfWeek, 4);
  for (int i = 0; i < 4; ++i) p.data[i] = static_cast<std::uint8_t>(bits >> (24 - 8 * i));
  p.data[4] = static_cast<std::uint8_t>(week >> 8);
  p.data[5] = static_cast<std::uint8_t>(week);
  std::memcpy(&bits, &utcOffset, 4);
  for (int i = 0; i < 4; ++i) p.data[6 + i] = static_cast<std::uint8_t>(bits >> (24 - 8 * i));
  return p;
}

// A packet that stands for "anything else", told apart by its one data byte.
KavoPacket Marker(std::uint8_t n) {
  KavoPacket p;
  p.id = kavo::kIdIoOptionsReport;
  p.length = 1;
  p.data[0] = n;
  return p;
}

// The file's content, built packet by packet.
struct LogBytes {
  std::vector<std::uint8_t> bytes;
  LogBytes& Time(float timeOfWeek) { return Add(GpsTimePacket(timeOfWeek)); }
  LogBytes& Mark(std::uint8_t n) { return Add(Marker(n)); }
  LogBytes& Add(const KavoPacket& p, int withChecksum = 0) {
    const auto f = Frame(p, withChecksum);
    bytes.insert(bytes.end(), f.begin(), f.end());
    return *this;
  }
  LogBytes& Raw(std::vector<std::uint8_t> raw) {
    bytes.insert(bytes.end(), raw.begin(), raw.end());
    return *this;
  }
};

// What the player delivered: "T<tow tenths>" for a time packet, "M<n>" for a marker, at which
// fake-clock millisecond.
struct Delivery {
  std::string what;
  std::int64_t atMs;
  bool operator==(const Delivery&) const = default;
};

class CPlayerHarness {
 public:
  explicit CPlayerHarness(const LogBytes& log) {
    path = dir / "session.kavo";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(log.bytes.data()),
               static_cast<std::streamsize>(log.bytes.size()));
    CRawLogPlayer::Callbacks cb;
    cb.packetReady = [this] {
      CPacketBatch batch;
      player->TakePackets(batch);
      for (const KavoPacket& p : batch) {
        const std::int64_t gps = TimePacketGpsMs(p);
        std::string what = gps >= 0
                               ? "T" + std::to_string((gps % 604800000LL) / 100)
                               : (p.id == kavo::kIdIoOptionsReport ? "M" + std::to_string(p.data[0]) : "X");
        delivered.push_back({what, clock.NowMs()});
      }
    };
    cb.linkStatus = [this](int w) { statuses.push_back(w); };
    cb.progress = [this] { ++progressCalls; };
    cb.finished = [this] { ++finishedCalls; };
    player = std::make_unique<CRawLogPlayer>(timers, clock, std::move(cb));
  }

  bool Start(double speed = 1.0) {
    std::string error;
    if (!player->Load(path, error)) return false;
    player->SetSpeed(speed);
    return player->Open(11, false);
  }
  // The timer fires after its period.
  bool Fire() {
    if (!timers.Running(CRawLogPlayer::kTimerId)) return false;
    clock.Advance(timers.running[CRawLogPlayer::kTimerId]);
    player->OnTimer();
    return true;
  }
  std::vector<std::string> What() const {
    std::vector<std::string> out;
    for (const auto& d : delivered) out.push_back(d.what);
    return out;
  }
  int Period() const {
    auto it = timers.running.find(CRawLogPlayer::kTimerId);
    return it == timers.running.end() ? -1 : it->second;
  }

  CTempDir dir;
  std::string path;
  CFakeTimers timers;
  CFakeClock clock;
  std::unique_ptr<CRawLogPlayer> player;
  std::vector<Delivery> delivered;
  std::vector<int> statuses;
  int progressCalls = 0;
  int finishedCalls = 0;
};

using Expected = std::vector<Delivery>;

TEST(RawLogPlayer, PacesEachSecondByItsTimePacketAtTheChosenSpeed) {
  struct Case {
    double speed;
    int waitMs;  // between two time packets one second apart
  };
  for (const Case c : {Case{1.0, 1000}, Case{2.0, 500}, Case{0.5, 2000}}) {
    SCOPED_TRACE(c.speed);
    LogBytes log;
    log.Mark(0).Time(100.0f).Mark(1).Mark(2).Time(101.0f).Mark(3).Time(102.0f).Mark(4);
    CPlayerHarness h(log);
    ASSERT_TRUE(h.Start(c.speed));
    // Up only once the event loop runs, not from inside Open.
    EXPECT_TRUE(h.statuses.empty());
    EXPECT_EQ(h.Period(), 0);
    ASSERT_TRUE(h.Fire());
    EXPECT_EQ(h.statuses, std::vector<int>{0});
    EXPECT_EQ(h.Period(), c.waitMs);
    ASSERT_TRUE(h.Fire());
    ASSERT_TRUE(h.Fire());
    const std::int64_t w = c.waitMs;
    EXPECT_EQ(h.delivered, (Expected{{"M0", 0},
                                     {"T1000", 0},
                                     {"M1", 0},
                                     {"M2", 0},
                                     {"T1010", w},
                                     {"M3", w},
                                     {"T1020", 2 * w},
                                     {"M4", 2 * w}}));
    EXPECT_EQ(h.finishedCalls, 1);
    EXPECT_TRUE(h.player->Ended());
    EXPECT_FALSE(h.timers.Running(CRawLogPlayer::kTimerId));
    EXPECT_EQ(h.player->PlayedGpsMs(), kWeek * 604800000LL + 102000);
    EXPECT_DOUBLE_EQ(h.player->Fraction(), 1.0);
  }
}

TEST(RawLogPlayer, LateTimerCatchesUpAndEarlyTimerWaitsTheRest) {
  LogBytes log;
  log.Time(100.0f).Mark(1).Time(101.0f).Mark(2).Time(102.0f).Mark(3);
  CPlayerHarness h(log);
  ASSERT_TRUE(h.Start());
  ASSERT_TRUE(h.Fire());
  // Fired 400 ms early: the rest is waited, nothing goes out.
  h.clock.Advance(600);
  h.player->OnTimer();
  EXPECT_EQ(h.Period(), 400);
  EXPECT_EQ(h.What(), (std::vector<std::string>{"T1000", "M1"}));
  // 2.5 s late: both seconds go out at once, in order.
  h.clock.Advance(2500);
  h.player->OnTimer();
  EXPECT_EQ(h.What(), (std::vector<std::string>{"T1000", "M1", "T1010", "M2", "T1020", "M3"}));
  EXPECT_EQ(h.finishedCalls, 1);
}

TEST(RawLogPlayer, GapsJumpsBackAndSpeedZeroAreNotWaitedOut) {
  LogBytes log;
  log.Time(100.0f).Mark(1).Time(200.0f).Mark(2).Time(150.0f).Mark(3).Time(151.0f).Mark(4);
  {
    CPlayerHarness h(log);
    ASSERT_TRUE(h.Start());
    ASSERT_TRUE(h.Fire());
    // A 100 s gap and a jump back play at once; the next second is paced again.
    EXPECT_EQ(h.What(), (std::vector<std::string>{"T1000", "M1", "T2000", "M2", "T1500", "M3"}));
    EXPECT_EQ(h.Period(), 1000);
  }
  {
    CPlayerHarness h(log);
    ASSERT_TRUE(h.Start(0.0));
    ASSERT_TRUE(h.Fire());
    EXPECT_EQ(h.delivered.size(), 8u);
    EXPECT_EQ(h.delivered.back(), (Delivery{"M4", 0}));
    EXPECT_EQ(h.finishedCalls, 1);
  }
}

TEST(RawLogPlayer, PauseHoldsAndStepPlaysOneSecondAtATime) {
  LogBytes log;
  // Two time packets a second, then a plain one-second stream.
  log.Mark(0).Time(100.0f).Mark(1).Time(100.5f).Mark(2).Time(101.0f).Mark(3).Time(101.5f).Time(102.5f).Mark(
      4);
  CPlayerHarness h(log);
  ASSERT_TRUE(h.Start());
  h.player->Pause();
  EXPECT_TRUE(h.player->Paused());
  // The link still comes up; nothing is played while paused.
  h.player->OnTimer();
  EXPECT_EQ(h.statuses, std::vector<int>{0});
  EXPECT_TRUE(h.delivered.empty());
  // No time known yet: the step plays up to the first second's end.
  h.player->StepSecond();
  EXPECT_EQ(h.What(), (std::vector<std::string>{"M0", "T1000", "M1"}));
  h.delivered.clear();
  h.player->StepSecond();
  EXPECT_EQ(h.What(), (std::vector<std::string>{"T1005", "M2", "T1010", "M3"}));
  h.delivered.clear();
  h.player->StepSecond();
  EXPECT_EQ(h.What(), (std::vector<std::string>{"T1015"}));
  EXPECT_FALSE(h.timers.Running(CRawLogPlayer::kTimerId));
  // Resumed: the next time packet waits its full second from now, then the file ends.
  h.delivered.clear();
  h.player->Resume();
  ASSERT_TRUE(h.Fire());
  EXPECT_EQ(h.Period(), 1000);
  ASSERT_TRUE(h.Fire());
  EXPECT_EQ(h.What(), (std::vector<std::string>{"T1025", "M4"}));
  EXPECT_EQ(h.finishedCalls, 1);
  // Stepping past the end does nothing more.
  h.player->StepSecond();
  EXPECT_EQ(h.finishedCalls, 1);
}

TEST(RawLogPlayer, SeekGoesOnFromTheFirstTimePacketThereAndReplaysAfterTheEnd) {
  LogBytes log;
  for (int s = 0; s < 10; ++s) log.Time(100.0f + static_cast<float>(s)).Mark(static_cast<std::uint8_t>(s));
  CPlayerHarness h(log);
  ASSERT_TRUE(h.Start(0.0));
  ASSERT_TRUE(h.Fire());
  ASSERT_TRUE(h.player->Ended());
  h.delivered.clear();
  h.player->Pause();
  h.player->SeekFraction(0.5);
  ASSERT_FALSE(h.delivered.empty());
  // Somewhere in the middle, from a time packet on, and only up to the next one while paused.
  EXPECT_EQ(h.What().back().substr(0, 1), "M");
  const std::int64_t tow = h.player->PlayedGpsMs() % 604800000LL;
  EXPECT_GE(tow, 104000);
  EXPECT_LE(tow, 106000);
  EXPECT_FALSE(h.player->Ended());
  h.player->SeekFraction(0.0);
  EXPECT_EQ(h.player->PlayedGpsMs() % 604800000LL, 100000);
}

TEST(RawLogPlayer, DamagedFilesPlayTheirGoodFramesAndEnd) {
  KavoPacket shortTime = GpsTimePacket(101.0f);
  shortTime.length = 9;  // not a time packet: no pacing on it
  KavoPacket nanTime = GpsTimePacket(std::numeric_limits<float>::quiet_NaN());
  LogBytes log;
  log.Raw({0x00, 0x10, 0x10, 0x03, 0xFF})  // noise, a bad frame start
      .Time(100.0f)
      .Mark(1)
      .Add(shortTime)
      .Add(nanTime)
      .Raw({0x10, 0x55, 0x10, 0x41, 0x10, 0x03})  // DLE then a stray byte inside a frame: dropped
      .Mark(2)
      .Raw({0x10, 0x55, 0x01, 0x02});  // cut off by the end of the file
  CPlayerHarness h(log);
  ASSERT_TRUE(h.Start());
  ASSERT_TRUE(h.Fire());
  EXPECT_EQ(h.What(), (std::vector<std::string>{"T1000", "M1", "X", "X", "M2"}));
  EXPECT_EQ(h.finishedCalls, 1);
  EXPECT_GE(h.player->DroppedFrames(), 1u);
  EXPECT_TRUE(h.player->ReadError().empty());
}

TEST(RawLogPlayer, LongStretchWithoutTimeGoesOutInBoundedTicks) {
  LogBytes log;
  for (int i = 0; i < CRawLogPlayer::kMaxPacketsPerTick + 500; ++i) log.Mark(static_cast<std::uint8_t>(i));
  CPlayerHarness h(log);
  ASSERT_TRUE(h.Start());
  ASSERT_TRUE(h.Fire());
  EXPECT_EQ(h.delivered.size(), static_cast<std::size_t>(CRawLogPlayer::kMaxPacketsPerTick));
  EXPECT_EQ(h.Period(), 0);
  ASSERT_TRUE(h.Fire());
  EXPECT_EQ(h.delivered.size(), static_cast<std::size_t>(CRawLogPlayer::kMaxPacketsPerTick + 500));
  EXPECT_EQ(h.finishedCalls, 1);
}

TEST(RawLogPlayer, MissingOrEmptyFile) {
  CPlayerHarness h(LogBytes{});
  std::string error;
  CFakeTimers timers;
  CFakeClock clock;
  CRawLogPlayer missing(timers, clock, {});
  EXPECT_FALSE(missing.Load(h.dir / "none.kavo", error));
  EXPECT_NE(error.find("none.kavo"), std::string::npos);
  EXPECT_FALSE(missing.Open(11, false));
  // An empty file comes up and ends at once.
  ASSERT_TRUE(h.Start());
  ASSERT_TRUE(h.Fire());
  EXPECT_EQ(h.statuses, std::vector<int>{0});
  EXPECT_EQ(h.finishedCalls, 1);
}

TEST(RawLogPlayer, FormatsGpsTimeWithUtc) {
  EXPECT_EQ(CRawLogPlayer::FormatGpsTime(2400 * 604800000LL + 345600000, 18.0),
            "GPS week 2400 345600.0 s, 2026-01-07 23:59:42 UTC");
  EXPECT_EQ(CRawLogPlayer::FormatGpsTime(-1, 0.0), "no GPS time yet");
}

// The control drives the player as its link: the recorded panel reaches the LCD, the title
// report the title, and nothing is sent.
class CRecordingPeers final : public IPanelObserver {
 public:
  void PanelRedraw(int) override {}
  void TitleChanged(const std::string& t) override { title = t; }
  void StateChanged(int) override {}
  std::string title;
};

TEST(RawLogPlayer, ConnectionControlShowsTheRecordedPanelAndSendsNothing) {
  auto row = [](std::uint8_t r, const std::string& text) {
    std::vector<std::uint8_t> d = {0x8C, 0x01, 0, 0, 0, r};
    for (std::size_t i = 0; i < 17; ++i)
      d.push_back(i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ');
    d.resize(29, 0);
    return ChecksummedPacket(0x8F, d);
  };
  KavoPacket rowPacket0 = row(0, "07-Jan  14:10:00");
  KavoPacket rowPacket1 = row(1, "Uptime  00:00:01");
  KavoPacket title = ChecksummedPacket(0x8F, WithText({0x8C, 0x04, 0x02}, "Brisk Mote"));
  LogBytes log;
  // The payloads already carry their trailers; frames without another.
  log.Time(100.0f).Add(title).Add(rowPacket0).Add(rowPacket1).Time(101.0f).Add(row(0, "07-Jan  14:10:01"));
  CPlayerHarness h(log);
  CRecordingPeers peers;
  CPromptRecorder prompts;
  std::unique_ptr<CConnectionControl> control;
  CRawLogPlayer::Callbacks cb;
  cb.packetReady = [&] { control->LinkPacketReady(); };
  cb.linkStatus = [&](int w) { control->LinkStatus(w); };
  h.player = std::make_unique<CRawLogPlayer>(h.timers, h.clock, std::move(cb));
  control = std::make_unique<CConnectionControl>(*h.player, h.timers, prompts);
  control->SubscribePanel(&peers);
  control->SetDisconnectPauseMs(0);
  std::string error;
  ASSERT_TRUE(h.player->Load(h.path, error));
  ConnectionSettings settings;
  settings.linkKind = 2;
  control->InitialUpdate(1);
  control->OpenConnection(settings);
  ASSERT_TRUE(h.Fire());
  EXPECT_EQ(control->State(), kConnected);
  EXPECT_EQ(control->Lcd().lines[0], "07-Jan  14:10:00");
  EXPECT_EQ(control->Lcd().lines[1], "Uptime  00:00:01");
  EXPECT_EQ(peers.title, "Plowview [1] - Brisk Mote");
  ASSERT_TRUE(h.Fire());
  EXPECT_EQ(control->Lcd().lines[0], "07-Jan  14:10:01");
  // Keys and requests went nowhere.
  EXPECT_FALSE(h.player->IsConnected());
  control->SendKey(1);
  EXPECT_FALSE(control->SendToReceiver(Marker(1), 1));
  EXPECT_TRUE(prompts.Texts().empty());
}

}  // namespace
