#include "app/logger_part.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "app/connection_control.h"
#include "app/fake_receiver_link.h"
#include "link/protocol/kavo_ids.h"
#include "support/fake_clock.h"
#include "support/prompt_recorder.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// What the window subscribes: the panel, the log viewer with its events, every packet.
class COuterPeers final : public IPanelObserver,
                          public ILogLineSink,
                          public ILogEventSource,
                          public IPacketSubscriber {
 public:
  void Subscribe(CConnectionControl& control) {
    control.SubscribePanel(this);
    control.SubscribeLogLines(this);
    control.SetLogEventSource(this);
    control.SubscribePackets(this);
  }
  void PanelRedraw(int hint) override { redraws.push_back(hint); }
  void TitleChanged(const std::string&) override {}
  void StateChanged(int state) override { states.push_back(state); }
  void OnLogViewerLine(const std::string& line) override { viewerLines.push_back(line); }
  std::optional<std::string> TakeEvent(int slot) override {
    if (slot != 1 || pendingEvent.empty()) return std::nullopt;
    std::string text = pendingEvent;
    pendingEvent.clear();
    return text;
  }
  void OnPacket(const KavoPacket&) override { ++fileTransferPackets; }
  std::vector<int> redraws, states;
  std::vector<std::string> viewerLines;
  std::string pendingEvent;
  int fileTransferPackets = 0;
};

void PutF32(std::uint8_t* out, float v) {
  std::uint32_t bits;
  std::memcpy(&bits, &v, 4);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(bits >> (24 - 8 * i));
}

void PutF64(std::uint8_t* out, double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, 8);
  for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
}

// GPS week 2400, Wednesday 7 January 2026, 14:30:00 UTC (18 s ahead in GPS time).
KavoPacket UtcTimePacket(double utcSecondsOfWeek = 3 * 86400.0 + 14 * 3600.0 + 30 * 60.0) {
  KavoPacket p;
  p.id = kavo::kIdTime;
  p.length = 10;
  PutF32(p.data, static_cast<float>(utcSecondsOfWeek + 18.0));
  p.data[4] = 2400 >> 8;
  p.data[5] = 2400 & 0xFF;
  PutF32(p.data + 6, 18.0f);
  return p;
}

KavoPacket LlaFix() {
  KavoPacket p;
  p.id = kavo::kIdLlaPosition;
  p.length = 40;
  PutF64(p.data, 0.9);
  PutF64(p.data + 8, 0.2);
  PutF64(p.data + 16, 101.5);
  PutF64(p.data + 24, 3.25);
  PutF64(p.data + 32, 311418.0);
  return p;
}

class LoggerPartTest : public ::testing::Test {
 protected:
  LoggerPartTest()
      : part(
            clock, prompts, [this](std::function<void()> call) { posted.push_back(std::move(call)); },
            nullptr),
        control(link, timers, prompts) {
    control.SetLogger(&part);
    outer.Subscribe(control);
    part.Attach(control);
    control.SetDisconnectPauseMs(0);
    control.InitialUpdate(1);
  }

  void Connect(std::uint32_t options = 0, const std::string& folder = "") {
    ConnectionSettings s;
    s.logData = true;
    s.logOptions = options;
    s.loggingFolder = folder.empty() ? dir.Path().string() : folder;
    s.loggingPrefix = "LW";
    control.Connect(s);
    control.LinkStatus(0);
    Receive(KavoPacket{});  // any packet: Waiting -> Connected
    link.sent.clear();
  }

  void Receive(const KavoPacket& p) {
    link.incoming.push_back(p);
    control.LinkPacketReady();
  }

  // One tick of the 50 ms logger timer.
  void Tick(int ms = 50) {
    clock.Advance(ms);
    if (timers.Running(kTimerLogger)) control.OnTimer(kTimerLogger);
  }

  void RunPosted() {
    auto calls = std::move(posted);
    posted.clear();
    for (auto& c : calls) c();
  }

  bool Sent(const Bytes& bytes) const {
    return std::any_of(link.sent.begin(), link.sent.end(), [&](const auto& s) { return s.bytes == bytes; });
  }

  // Through the time request and the 10 s configuration wait into Logging.
  void RunUpToLogging() {
    Tick();  // RequestTime
    Receive(UtcTimePacket());
    Tick();  // AwaitTime takes the time
    Tick();  // OpenFile
    Tick();  // RequestConfig
    clock.Advance(10001);
    Tick();  // AwaitConfig times out
    Tick();  // ConfigureReceiver
  }

  CTempDir dir;
  COuterPeers outer;
  CFakeClock clock;
  CPromptRecorder prompts;
  CFakeReceiverLink link;
  CFakeTimers timers;
  std::vector<std::function<void()>> posted;
  CLoggerPart part;
  CConnectionControl control;
};

TEST_F(LoggerPartTest, LinkUpWithLogging_LoggerCreatedTimeRequestedFileNamedByHourCode) {
  ASSERT_EQ(part.Logger(), nullptr);
  Connect();
  ASSERT_NE(part.Logger(), nullptr);
  EXPECT_TRUE(timers.Running(kTimerLogger));
  Tick();
  EXPECT_TRUE(Sent({0x21}));
  RunUpToLogging();
  EXPECT_EQ(part.Logger()->State(), LogState::Logging);
  const std::string path = dir / "LW6010714.log";
  EXPECT_EQ(part.Logger()->CurrentLogPath(), path);
  // The set-up went out through the link: I/O options first, port masks, the identity request.
  EXPECT_TRUE(Sent({0x35, 0x1A, 0x02, 0x18, 0x08}));
  EXPECT_TRUE(Sent({0x8E, 0x88, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_TRUE(Sent({0x8E, 0x7B}));

  Receive(LlaFix());
  Tick();
  const std::string text = ReadWholeFile(path);
  EXPECT_NE(text.find("* Station: LW                   *\n* UTC 01/07/2026 14             *\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("* Receiver now configured for logrowan logging.\n"), std::string::npos);
  EXPECT_NE(text.find("\nP 311418.0 51.566201562 11.459155903 101.500 XXXXX 3.250  \n"), std::string::npos)
      << text;
  // The same lines reached the log viewer through the control, one per row without "\n".
  EXPECT_NE(std::find(outer.viewerLines.begin(), outer.viewerLines.end(),
                      "P 311418.0 51.566201562 11.459155903 101.500 XXXXX 3.250  "),
            outer.viewerLines.end());
}

TEST_F(LoggerPartTest, LogLines_LightTheLoggingIndicationUntilTimer104) {
  Connect();
  RunUpToLogging();
  outer.redraws.clear();
  EXPECT_TRUE(control.ShowLoggingIndication());
  EXPECT_TRUE(timers.Running(kTimerLogActivity));
  control.OnTimer(kTimerLogActivity);
  EXPECT_FALSE(control.ShowLoggingIndication());
  EXPECT_EQ(outer.redraws, std::vector<int>{CConnectionControl::kRedrawAll});
  Receive(LlaFix());
  Tick();
  EXPECT_TRUE(control.ShowLoggingIndication());
}

TEST_F(LoggerPartTest, ViewerEvent_BecomesMLineInTheFile) {
  Connect();
  RunUpToLogging();
  outer.pendingEvent = "Antenna moved";
  Receive(LlaFix());
  const std::string text = ReadWholeFile(dir / "LW6010714.log");
  EXPECT_NE(text.find("\nM Antenna moved\n"), std::string::npos) << text;
}

TEST_F(LoggerPartTest, PacketsBeforeConnectedAndWithoutLogging_NeverReachTheLogger) {
  ConnectionSettings s;
  s.logData = true;
  s.loggingFolder = dir.Path().string();
  control.Connect(s);
  control.LinkStatus(0);
  ASSERT_NE(part.Logger(), nullptr);
  // Still Waiting: the first packet is routed before it makes the connection Connected.
  Receive(UtcTimePacket());
  EXPECT_EQ(part.Logger()->QueuedPackets(), 0u);
  Receive(UtcTimePacket());
  EXPECT_EQ(part.Logger()->QueuedPackets(), 1u);
  // Every packet still reaches the subscribers.
  EXPECT_EQ(outer.fileTransferPackets, 2);
}

TEST_F(LoggerPartTest, PassiveSession_SendsNoLoggerCommand) {
  Connect(kLogPassive);
  RunUpToLogging();
  for (int i = 0; i < 40; ++i) Tick();
  for (const auto& s : link.sent) EXPECT_EQ(s.bytes[0], 0x8E) << int(s.bytes[0]);
  for (const auto& s : link.sent) EXPECT_TRUE(s.bytes[1] == 0x8C || s.bytes[1] == 0x93) << int(s.bytes[1]);
  EXPECT_EQ(part.Logger()->State(), LogState::Logging);
}

TEST_F(LoggerPartTest, Disconnect_StopsAndDestroysTheLoggerAndClosesTheFile) {
  Connect();
  RunUpToLogging();
  control.Disconnect();
  EXPECT_EQ(part.Logger(), nullptr);
  EXPECT_FALSE(timers.Running(kTimerLogger));
  // Shutdown commands went out before the link closed: outputs off.
  EXPECT_TRUE(Sent({0x3F, 0x02, 0x00}));
  // The file is free again: a second writer can take its lock.
  CLogFile again;
  EXPECT_TRUE(again.Open(dir / "LW6010714.log"));
  // A reconnection starts a fresh logger.
  Connect();
  EXPECT_NE(part.Logger(), nullptr);
}

TEST_F(LoggerPartTest, GetLogger_MadeOnFirstUseAndTheSameUntilDestroyed) {
  ASSERT_EQ(part.Logger(), nullptr);
  CLogrowan& first = part.GetLogger();
  EXPECT_EQ(&part.GetLogger(), &first);
  EXPECT_EQ(part.Logger(), &first);
  // Starting the session uses the logger that is there.
  Connect();
  EXPECT_EQ(part.Logger(), &first);
  control.Disconnect();
  EXPECT_EQ(part.Logger(), nullptr);
}

TEST_F(LoggerPartTest, ParserDrops_NewSinceTheLoggerStartedGoIntoTheHoursManifest) {
  std::uint64_t parserTotal = 5;  // dropped before logging began: not counted
  part.SetDroppedFrameSource([&] { return parserTotal; });
  Connect();
  RunUpToLogging();
  parserTotal = 7;
  Tick();
  parserTotal = 2;  // a parser made afresh counts from zero
  Tick();
  Tick();  // nothing new
  EXPECT_EQ(part.Logger()->Manifest().DroppedFrames(), 4u);
  control.Disconnect();
  const std::string manifest = ReadWholeFile(dir / "LW6010714.manifest");
  EXPECT_NE(manifest.find("parser-dropped-frames: 4\n"), std::string::npos) << manifest;
}

TEST_F(LoggerPartTest, FileCannotBeOpened_MessageThenDisconnectAfterTheLoggerReturned) {
  Connect(0, dir / "no-such-folder");
  Tick();
  Receive(UtcTimePacket());
  for (int i = 0; i < 8 && posted.empty(); ++i) Tick();
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(prompts.Texts(),
            std::vector<std::string>{"Unable to open logging file.\n Is someone else using the same file?"});
  // The logger is still there while its own call was under way; the posted call closes the link.
  EXPECT_NE(part.Logger(), nullptr);
  EXPECT_EQ(control.State(), kConnected);
  RunPosted();
  EXPECT_EQ(control.State(), kDisconnected);
  EXPECT_EQ(part.Logger(), nullptr);
  EXPECT_EQ(link.closes, 1);
}

// A logger that asks for the disconnect while a message box runs a nested event loop, in which
// the posted disconnect destroys the logger: the destruction waits until the logger returned.
TEST_F(LoggerPartTest, DisconnectRunInsideTheLoggersMessageBox_DestroysTheLoggerAfterItReturns) {
  class CNestedLoopPrompts final : public IPrompts {
   public:
    PromptAnswer MessageBox(const std::string&, const std::string&, PromptIcon, PromptButtons) override {
      if (nested) nested();
      return PromptAnswer::Ok;
    }
    std::function<void()> nested;
  } nestedPrompts;
  CLoggerPart nestedPart(
      clock, nestedPrompts, [this](std::function<void()> call) { posted.push_back(std::move(call)); },
      nullptr);
  CConnectionControl nestedControl(link, timers, nestedPrompts);
  nestedControl.SetLogger(&nestedPart);
  nestedPart.Attach(nestedControl);
  nestedControl.SetDisconnectPauseMs(0);
  bool destroyedInside = false;
  nestedPrompts.nested = [&] {
    RunPosted();
    destroyedInside = nestedPart.Logger() == nullptr;
    nestedControl.OnTimer(kTimerLogger);  // a tick in the nested loop is not let in
  };
  ConnectionSettings s;
  s.logData = true;
  s.loggingFolder = dir / "no-such-folder";
  nestedControl.Connect(s);
  nestedControl.LinkStatus(0);
  link.incoming.push_back(KavoPacket{});
  nestedControl.LinkPacketReady();
  nestedControl.OnTimer(kTimerLogger);
  link.incoming.push_back(UtcTimePacket());
  nestedControl.LinkPacketReady();
  for (int i = 0; i < 8 && nestedControl.State() != kDisconnected; ++i) nestedControl.OnTimer(kTimerLogger);
  EXPECT_EQ(nestedControl.State(), kDisconnected);
  EXPECT_FALSE(destroyedInside);
  EXPECT_EQ(nestedPart.Logger(), nullptr);
}

// A link lost with nobody to reopen it: the hour's log ends with the loss, is closed and gets its
// manifest (the loss counted, the hash that of the finished log), and the logger is gone, so the
// next Connect starts a session of its own with the settings of that moment.
TEST_F(LoggerPartTest, LinkLostWithoutReconnect_HourClosedWithManifestAndNextConnectStartsAfresh) {
  Connect();
  RunUpToLogging();
  Receive(UtcTimePacket());
  Tick();
  // A fix that came just before the loss is still to be logged when the loss is reported.
  Receive(LlaFix());
  link.open = false;
  control.LinkStatus(1);
  EXPECT_EQ(control.State(), kDisconnected);
  EXPECT_EQ(part.Logger(), nullptr);
  ASSERT_EQ(prompts.Texts().size(), 1u);
  EXPECT_EQ(prompts.Texts()[0].rfind("Connection lost.\n", 0), 0u);

  const std::string log = ReadWholeFile(dir / "LW6010714.log");
  const std::string lastLine =
      "P 311418.0 51.566201562 11.459155903 101.500 XXXXX 3.250  \n"
      "* Link lost. Last GPS time: week 2400 TOW 311418.0 s, UTC 01/07/2026 14:30:00\n";
  ASSERT_GE(log.size(), lastLine.size());
  EXPECT_EQ(log.substr(log.size() - lastLine.size()), lastLine) << log;
  const std::string manifest = ReadWholeFile(dir / "LW6010714.manifest");
  EXPECT_NE(manifest.find("link-lost: 1\n"), std::string::npos) << manifest;
  EXPECT_NE(
      manifest.find("sha256: " + CHourManifest::Sha256OfFile(dir / "LW6010714.log") + "  LW6010714.log\n"),
      std::string::npos)
      << manifest;

  ConnectionSettings next;
  next.logData = true;
  next.loggingFolder = dir.Path().string();
  next.loggingPrefix = "NW";
  control.Connect(next);
  control.LinkStatus(0);
  Receive(KavoPacket{});
  RunUpToLogging();
  EXPECT_TRUE(std::filesystem::exists(dir / "NW6010714.log"));
}

}  // namespace
