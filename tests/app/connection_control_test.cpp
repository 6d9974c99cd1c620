#include "app/connection_control.h"

#include <gtest/gtest.h>

#include "app/fake_receiver_link.h"
#include "link/protocol/kavo_ids.h"
#include "support/prompt_recorder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kTitleRequest{0x8E, 0x8C, 0x04};
const Bytes kPanelFlagsRequest{0x8E, 0x8C, 0x03};
const Bytes kDisplayRequest{0x8E, 0x8C, 0x01};

// Everything the control feeds, recorded: the logger, the panel, the log viewer and its events,
// the fatal error mail and the link's notices.
class CRecordingPeers final : public IConnectionLogger,
                              public IPanelObserver,
                              public ILogLineSink,
                              public ILogEventSource {
 public:
  void Attach(CConnectionControl& control) {
    control.SetLogger(this);
    control.SubscribePanel(this);
    control.SubscribeLogLines(this);
    control.SetLogEventSource(this);
    control.SetFatalErrorHandler(
        [this](const std::string&, const std::string& text) { mailed.push_back(text); });
    control.SetNoticeSink([this](const std::string& line) { notices.push_back(line); });
  }
  void PanelRedraw(int) override {}
  void TitleChanged(const std::string& t) override { title = t; }
  void StateChanged(int) override {}
  void OnLogViewerLine(const std::string& line) override { viewerLines.push_back(line); }
  void StartLogging(std::uint32_t options) override {
    loggingOptions = options;
    events.push_back("start logging");
  }
  void StopLogging() override { events.push_back("stop logging"); }
  void EndLogging() override { events.push_back("end logging"); }
  void ProcessLogger() override {}
  void QueuePacket(const KavoPacket&) override {}
  void NoteLinkLost() override { events.push_back("link lost"); }
  void WriteLine(const std::string& line) override { logLines.push_back(line); }
  std::optional<std::string> TakeEvent(int slot) override {
    if (slot == 2 && pendingEvent) {
      pendingEvent = false;
      return "Event 2";
    }
    return std::nullopt;
  }
  std::string title;
  std::vector<std::string> viewerLines, mailed, logLines, events, notices;
  std::uint32_t loggingOptions = 0;
  bool pendingEvent = false;
};

KavoPacket SuperReport(std::uint8_t super, std::uint8_t sub, const Bytes& rest = {}) {
  KavoPacket p;
  p.id = kavo::kIdSuperReport;
  p.data[0] = super;
  p.data[1] = sub;
  std::size_t n = 2;
  for (auto b : rest) p.data[n++] = b;
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < n; ++i) sum = static_cast<std::uint16_t>(sum + p.data[i]);
  p.data[n++] = static_cast<std::uint8_t>(sum >> 8);
  p.data[n++] = static_cast<std::uint8_t>(sum);
  p.length = static_cast<std::uint16_t>(n);
  VerifyChecksum(p);
  return p;
}

Bytes Text(const std::string& s) {
  Bytes b(s.begin(), s.end());
  b.push_back(0);
  return b;
}

class ConnectionControlTest : public ::testing::Test {
 protected:
  ConnectionControlTest() : control(link, timers, prompts) {
    peers.Attach(control);
    control.SetDisconnectPauseMs(0);
    control.InitialUpdate(1);
  }

  void ConnectSerial(bool logging = false) {
    ConnectionSettings s;
    s.logData = logging;
    s.loggingFolder = "/tmp/logs";
    control.Connect(s);
    control.LinkStatus(0);
    link.sent.clear();
  }

  void Receive(const KavoPacket& p) {
    link.incoming.push_back(p);
    control.LinkPacketReady();
  }

  std::vector<Bytes> SentBytes() {
    std::vector<Bytes> out;
    for (const auto& s : link.sent) out.push_back(s.bytes);
    link.sent.clear();
    return out;
  }

  CFakeReceiverLink link;
  CFakeTimers timers;
  CPromptRecorder prompts;
  CRecordingPeers peers;
  CConnectionControl control;
};

TEST_F(ConnectionControlTest, ConnectSerialWithAutoConfiguration_OpensAt9600AndPollsOnLinkUp) {
  ConnectionSettings s;
  s.port = 3;
  s.enableAsServer = true;
  s.outputServerPort = 30001;
  control.Connect(s);
  EXPECT_EQ(control.State(), kWaiting);
  EXPECT_EQ(link.baud, 9600);
  EXPECT_EQ(link.parity, 'N');
  EXPECT_EQ(link.openedType, 3);
  EXPECT_TRUE(link.relayEnabled);
  EXPECT_EQ(link.relayPort, 30001u);
  EXPECT_EQ(control.RowText(0), " Attempting To  ");
  EXPECT_EQ(control.RowText(1), "Connect to RCVR ");
  control.LinkStatus(0);
  EXPECT_EQ(SentBytes(), (std::vector<Bytes>{kTitleRequest, kPanelFlagsRequest, {0x8E, 0x93, 0x11, 0x00}}));
  EXPECT_TRUE(timers.Running(kTimerWatchdog));
  EXPECT_FALSE(timers.Running(kTimerLogger));
}

TEST_F(ConnectionControlTest, ManualPortSettings_UseTheChosenBaudAndParity) {
  ConnectionSettings s;
  s.autoPortConfiguration = false;
  s.baudRateIndex = 3;
  s.parityIndex = 2;
  control.Connect(s);
  EXPECT_EQ(link.baud, 19200);
  EXPECT_EQ(link.parity, 'E');
}

TEST_F(ConnectionControlTest, ConfigureFailure_ShowsMessageAndStaysDisconnected) {
  link.configureResult = false;
  ConnectionSettings s;
  s.linkKind = 2;
  control.Connect(s);
  EXPECT_EQ(control.State(), kDisconnected);
  EXPECT_EQ(prompts.Texts(), (std::vector<std::string>{"Error: Could not configure network connection."}));
  EXPECT_EQ(link.openedType, -1);
}

TEST_F(ConnectionControlTest, SilentReceiver_WatchdogSequenceEndsWithConnectionLost) {
  ConnectSerial();
  Receive(SuperReport(0x8C, 0x03, {0x00}));  // a panel report: now Connected
  ASSERT_EQ(control.State(), kConnected);
  link.sent.clear();
  control.OnTimer(kTimerWatchdog);  // first silent tick: title and panel flags
  EXPECT_EQ(SentBytes(), (std::vector<Bytes>{kTitleRequest, kPanelFlagsRequest}));
  for (int tick = 2; tick <= 11; ++tick) {
    control.OnTimer(kTimerWatchdog);
    EXPECT_EQ(SentBytes(), (std::vector<Bytes>{kDisplayRequest, kTitleRequest, kPanelFlagsRequest})) << tick;
    EXPECT_EQ(control.State(), kConnected);
  }
  control.OnTimer(kTimerWatchdog);  // the twelfth
  EXPECT_EQ(control.State(), kDisconnected);
  ASSERT_EQ(prompts.Texts().size(), 1u);
  EXPECT_EQ(prompts.Texts()[0].rfind("Connection lost.\n\nThis could have been caused", 0), 0u);
  EXPECT_NE(prompts.Texts()[0].find("then select Connect from the File menu."), std::string::npos);
  EXPECT_EQ(link.closes, 1);
}

TEST_F(ConnectionControlTest, PacketsFlowing_EachTickSendsOnlyTitleAndPanelFlags) {
  ConnectSerial();
  for (int i = 0; i < 5; ++i) {
    Receive(SuperReport(0x8C, 0x03, {0x00}));
    link.sent.clear();
    control.OnTimer(kTimerWatchdog);
    EXPECT_EQ(SentBytes(), (std::vector<Bytes>{kTitleRequest, kPanelFlagsRequest}));
  }
}

TEST_F(ConnectionControlTest, NoPacketBeforeFirstTick_ConnectionCouldNotBeMade) {
  ConnectSerial();
  control.OnTimer(kTimerWatchdog);
  EXPECT_EQ(control.State(), kDisconnected);
  ASSERT_EQ(prompts.Texts().size(), 1u);
  EXPECT_EQ(prompts.Texts()[0].rfind("Connection could not be made.", 0), 0u);
}

TEST_F(ConnectionControlTest, LoggingLink_NeverDroppedForSilence) {
  ConnectSerial(true);
  for (int i = 0; i < 30; ++i) control.OnTimer(kTimerWatchdog);
  EXPECT_EQ(control.State(), kWaiting);
  EXPECT_TRUE(prompts.Texts().empty());
}

TEST_F(ConnectionControlTest, FatalErrorWithLoggingOff_DisconnectsAndShowsReceiverText) {
  ConnectSerial();
  Receive(SuperReport(0x8C, 0x03, {0x00}));
  Receive(SuperReport(0x93, 0x12, Text("Antenna short")));
  EXPECT_EQ(control.State(), kDisconnected);
  EXPECT_EQ(prompts.Texts(), (std::vector<std::string>{"Antenna short"}));
}

TEST_F(ConnectionControlTest, FatalErrorWhileLogging_MailsAndKeepsConnection) {
  ConnectSerial(true);
  Receive(SuperReport(0x8C, 0x03, {0x00}));
  Receive(SuperReport(0x93, 0x12, Text("Antenna short")));
  EXPECT_EQ(control.State(), kConnected);
  EXPECT_EQ(peers.mailed, (std::vector<std::string>{"Antenna short"}));
}

TEST_F(ConnectionControlTest, ClearBatteryBackedRam_SendsUnchecksummedClearAndDisconnects) {
  ConnectSerial();
  Receive(SuperReport(0x8C, 0x03, {0x00}));
  link.sent.clear();
  prompts.Answer(PromptAnswer::Yes);
  control.ClearBatteryBackedMemory();
  ASSERT_FALSE(link.sent.empty());
  EXPECT_EQ(link.sent[0].bytes, (Bytes{0x1E, 0x4B}));
  EXPECT_EQ(link.sent[0].withChecksum, 0);
  EXPECT_EQ(control.State(), kDisconnected);
  EXPECT_NE(prompts.Texts()[0].find("Are you sure you want to clear battery backed RAM?"), std::string::npos);
}

TEST_F(ConnectionControlTest, ClearBatteryBackedRamAnsweredNo_SendsNothing) {
  ConnectSerial();
  Receive(SuperReport(0x8C, 0x03, {0x00}));
  link.sent.clear();
  control.ClearBatteryBackedMemory();  // the recorder answers No
  EXPECT_TRUE(link.sent.empty());
  EXPECT_EQ(control.State(), kConnected);
}

TEST_F(ConnectionControlTest, TitleReport_SetsTitleSendsPanelCommandAndDisplayRequestOnce) {
  ConnectSerial();
  Receive(SuperReport(0x8C, 0x04, {0x01, 'R', 'X', '-', '1', 0}));
  EXPECT_EQ(peers.title, "Plowview [1] - RX-1");
  // Panel bit 0x02 on a panel-only link, then the display request because no display was seen.
  EXPECT_EQ(SentBytes(), (std::vector<Bytes>{{0x8E, 0x8C, 0x03, 0x03, 0, 0, 0, 0}, kDisplayRequest}));
}

TEST_F(ConnectionControlTest, UnterminatedReportTexts_EndBeforeTheChecksum) {
  ConnectSerial();
  Receive(SuperReport(0x8C, 0x04, {0x01, 'R', 'X', '-', '2'}));
  EXPECT_EQ(peers.title, "Plowview [1] - RX-2");
  Receive(SuperReport(0x93, 0x12, {'F', 'a', 'u', 'l', 't'}));
  EXPECT_EQ(prompts.Texts(), (std::vector<std::string>{"Fault"}));
}

TEST_F(ConnectionControlTest, DisconnectAfterDisplay_ClearsPanelBit) {
  ConnectSerial(true);
  Receive(SuperReport(0x8C, 0x03, {0x07}));
  KavoPacket display = SuperReport(0x8C, 0x01, Bytes(27, 'A'));
  display.data[3] = display.data[4] = display.data[5] = 0;  // cursor row, off, display row 0
  std::uint16_t sum = 0;
  for (int i = 0; i < 29; ++i) sum = static_cast<std::uint16_t>(sum + display.data[i]);
  display.data[29] = static_cast<std::uint8_t>(sum >> 8);
  display.data[30] = static_cast<std::uint8_t>(sum);
  VerifyChecksum(display);
  ASSERT_EQ(display.length, 31);
  Receive(display);
  ASSERT_TRUE(control.DisplaySeen());
  link.sent.clear();
  control.Disconnect();
  ASSERT_FALSE(link.sent.empty());
  // Logging link: bits 0x06 cleared.
  EXPECT_EQ(link.sent[0].bytes, (Bytes{0x8E, 0x8C, 0x03, 0x01, 0, 0, 0, 0}));
}

TEST_F(ConnectionControlTest, KeysAndEnterHold) {
  ConnectSerial();
  control.EnterPressed();
  EXPECT_TRUE(timers.Running(kTimerEnterHeld));
  control.OnTimer(kTimerEnterHeld);
  EXPECT_FALSE(timers.Running(kTimerEnterHeld));
  control.EnterReleased();
  control.SendKey(3);
  const auto sent = SentBytes();
  ASSERT_EQ(sent.size(), 4u);
  for (const auto& key : sent) EXPECT_EQ(key.size(), 8u);
  EXPECT_EQ(sent[0][3], 0);
  EXPECT_EQ(sent[1][3], 6);
  EXPECT_EQ(sent[2][3], 7);
  EXPECT_EQ(sent[3], (Bytes{0x8E, 0x8C, 0x00, 0x03, 0, 0, 0, 0}));
  link.open = false;
  control.SendKey(1);
  EXPECT_TRUE(link.sent.empty());
}

TEST_F(ConnectionControlTest, LogText_SplitIntoLinesAndLastUnterminatedDropped) {
  control.OnLogLine("P one\nT\ttwo\r\nV three");
  EXPECT_EQ(peers.viewerLines, (std::vector<std::string>{"P one", "T    two"}));
  EXPECT_TRUE(timers.Running(kTimerLogActivity));
  EXPECT_TRUE(CConnectionControl::SplitLogText("").empty());
  EXPECT_TRUE(CConnectionControl::SplitLogText("\n").empty());
  EXPECT_EQ(CConnectionControl::SplitLogText("A\n\nB\n"), (std::vector<std::string>{"A", "", "B"}));
}

TEST_F(ConnectionControlTest, ViewerEventAfterBatch_WritesOneMLine) {
  ConnectSerial(true);
  peers.pendingEvent = true;
  Receive(SuperReport(0x8C, 0x03, {0x00}));
  control.LinkPacketReady();
  EXPECT_EQ(peers.logLines, (std::vector<std::string>{"M Event 2\n"}));
}

TEST_F(ConnectionControlTest, LinkDown_ClearsDisplaySeenAndState) {
  ConnectSerial();
  Receive(SuperReport(0x8C, 0x03, {0x00}));
  control.LinkStatus(1);
  EXPECT_EQ(control.State(), kDisconnected);
  EXPECT_EQ(control.RowText(0), "");
  // Packets while disconnected pass through but leave the state.
  Receive(SuperReport(0x8C, 0x03, {0x00}));
  EXPECT_EQ(control.State(), kDisconnected);
}

const char* const kConnectionLostText =
    "Connection lost.\n\nThis could have been caused by the receiver's port configuration being\n"
    "changed, or by the power or communication cables being disconnected.\nTo reestablish "
    "communication, please check cabling,\nthen select Connect from the File menu.";

struct LossCase {
  const char* name;
  int linkKind;
  bool logging;
  bool packetSeen;  // the receiver had answered before the link went
};

class LinkLoss : public ConnectionControlTest, public ::testing::WithParamInterface<LossCase> {};

// However the link goes (a serial device that hangs up, a server that closes), with nobody to
// reopen it the connection ends as a disconnect ends it and the user is told once.
TEST_P(LinkLoss, NotReopened_ConnectionLostOnceAndEverythingStopped) {
  const LossCase c = GetParam();
  ConnectionSettings s;
  s.linkKind = c.linkKind;
  s.logData = c.logging;
  control.Connect(s);
  control.LinkStatus(0);
  if (c.packetSeen) {
    Receive(SuperReport(0x8C, 0x03, {0x06}));
    KavoPacket display = SuperReport(0x8C, 0x01, Bytes(27, 'A'));
    display.data[3] = display.data[4] = display.data[5] = 0;
    std::uint16_t sum = 0;
    for (int i = 0; i < 29; ++i) sum = static_cast<std::uint16_t>(sum + display.data[i]);
    display.data[29] = static_cast<std::uint8_t>(sum >> 8);
    display.data[30] = static_cast<std::uint8_t>(sum);
    VerifyChecksum(display);
    Receive(display);
    ASSERT_TRUE(control.DisplaySeen());
  }
  control.OnLogLine("P 1\n");
  ASSERT_TRUE(timers.Running(kTimerLogActivity));
  peers.events.clear();
  link.sent.clear();
  link.open = false;
  control.LinkStatus(1);

  EXPECT_EQ(prompts.Texts(), std::vector<std::string>{kConnectionLostText});
  EXPECT_EQ(control.State(), kDisconnected);
  EXPECT_EQ(link.closes, 1);
  EXPECT_TRUE(link.sent.empty()) << "nothing can go out on a lost link";
  EXPECT_EQ(control.PanelFlags() & 0x02, 0) << "the panel flag is cleared";
  EXPECT_FALSE(control.ShowLoggingIndication());
  EXPECT_TRUE(timers.running.empty()) << timers.running.begin()->first;
  if (c.logging) {
    EXPECT_EQ(peers.events, (std::vector<std::string>{"link lost", "stop logging", "end logging"}));
  } else {
    EXPECT_TRUE(peers.events.empty());
  }
  // A late status of the lost link says nothing more.
  control.LinkStatus(1);
  EXPECT_EQ(prompts.Texts().size(), 1u);
  // The next connection starts afresh.
  control.Connect(s);
  control.LinkStatus(0);
  EXPECT_TRUE(timers.Running(kTimerWatchdog));
  if (c.logging) {
    EXPECT_EQ(peers.events.back(), "start logging");
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, LinkLoss,
                         ::testing::Values(LossCase{"SerialLoggingOff", 0, false, true},
                                           LossCase{"SerialLoggingOn", 0, true, true},
                                           LossCase{"NetworkLoggingOff", 2, false, true},
                                           LossCase{"NetworkLoggingOn", 2, true, true},
                                           LossCase{"SerialBeforeAnyPacket", 0, false, false},
                                           LossCase{"CanLoggingOn", 1, true, true}),
                         [](const ::testing::TestParamInfo<LossCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(ConnectionControlTest, OpenThatFails_NoLossMessageTheLinkSaidWhy) {
  ConnectionSettings s;
  control.Connect(s);
  control.LinkStatus(1);
  EXPECT_EQ(control.State(), kDisconnected);
  EXPECT_TRUE(prompts.Texts().empty());
}

struct PortCase {
  int linkKind;
  int port;  // "Port" for serial, "CanBusPort" for CAN
  const char* message;
};

class PortOutOfRange : public ConnectionControlTest, public ::testing::WithParamInterface<PortCase> {};

// A hand-edited port number beyond its link kind would name another kind of link: refused.
TEST_P(PortOutOfRange, RefusedWithTheReasonAndNothingOpened) {
  const PortCase c = GetParam();
  ConnectionSettings s;
  s.linkKind = c.linkKind;
  s.port = c.port;
  s.canBusPort = c.port;
  control.Connect(s);
  EXPECT_EQ(control.State(), kDisconnected);
  EXPECT_EQ(link.openedType, -1);
  EXPECT_EQ(prompts.Texts(), std::vector<std::string>{c.message});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PortOutOfRange,
    ::testing::Values(
        PortCase{0, 9,
                 "Error: Could not configure serial port\n\nThe setting \"Port\" is 9; a serial link needs "
                 "0-8 (COM1-COM9)."},
        PortCase{0, 11,
                 "Error: Could not configure serial port\n\nThe setting \"Port\" is 11; a serial link needs "
                 "0-8 (COM1-COM9)."},
        PortCase{0, -1,
                 "Error: Could not configure serial port\n\nThe setting \"Port\" is -1; a serial link needs "
                 "0-8 (COM1-COM9)."},
        PortCase{1, 2,
                 "Error: Could not configure CANBUS port.\n\nThe setting \"CanBusPort\" is 2; a CAN link "
                 "needs 0 or 1."}));

TEST_F(ConnectionControlTest, LoggingLamp_PeriodicTimerPutsItOutWhateverTheState) {
  ConnectSerial(true);
  control.OnLogLine("P 1\n");
  EXPECT_TRUE(control.ShowLoggingIndication());
  EXPECT_EQ(timers.running[kTimerLogActivity], 1200);
  control.OnTimer(kTimerLogActivity);  // still Waiting: no packet yet
  EXPECT_FALSE(control.ShowLoggingIndication());
  EXPECT_TRUE(timers.Running(kTimerLogActivity)) << "periodic";
}

TEST_F(ConnectionControlTest, LinkNotices_GoIntoTheLogAndToTheNoticeSink) {
  ConnectSerial(true);
  ASSERT_TRUE(link.notice);
  link.notice("* CAN send to 28 aborted: time-out");
  EXPECT_EQ(peers.logLines, std::vector<std::string>{"* CAN send to 28 aborted: time-out\n"});
  EXPECT_EQ(peers.notices, std::vector<std::string>{"* CAN send to 28 aborted: time-out"});
  EXPECT_EQ(control.State(), kWaiting) << "the link stays up";
}

}  // namespace
