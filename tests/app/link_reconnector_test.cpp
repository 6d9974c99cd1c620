#include "app/link_reconnector.h"

#include <gtest/gtest.h>

#include "app/connection_control.h"
#include "app/fake_receiver_link.h"
#include "link/protocol/kavo_ids.h"
#include "logger/logger_session.h"
#include "support/fake_clock.h"
#include "support/prompt_recorder.h"

namespace {

constexpr int kTimer = CLinkReconnector::kTimerId;

// Records what the reconnector does, in one list so that the order shows.
class CRecordingTarget final : public IReconnectTarget {
 public:
  void CloseLostLink() override { events.push_back("close"); }
  void ReopenLink() override {
    events.push_back("reopen");
    if (onReopen) onReopen();
  }
  void SetQuiet(bool on) override {
    quiet = on;
    events.push_back(on ? "quiet" : "loud");
  }
  void WriteLogLine(const std::string& line) override { events.push_back(line); }
  std::string LastGpsTime() override { return gpsTime; }
  void LinkRestored() override { events.push_back("restored"); }

  std::vector<std::string> Take() {
    std::vector<std::string> out;
    out.swap(events);
    return out;
  }

  std::vector<std::string> events;
  std::string gpsTime = "week 2400 TOW 10.0 s, UTC 01/07/2026 00:00:00";
  bool quiet = false;
  std::function<void()> onReopen;
};

class LinkReconnectorTest : public ::testing::Test {
 protected:
  void LoseLink() {
    reconnector.LinkUp();
    ASSERT_TRUE(reconnector.LinkDown(true));
    target.Take();
  }

  CRecordingTarget target;
  CFakeTimers timers;
  CFakeClock clock;
  CLinkReconnector reconnector{target, timers, clock, 500};
};

TEST_F(LinkReconnectorTest, LossOfALinkThatWasUp_LostLineClosedQuietAndTimerStarted) {
  reconnector.LinkUp();
  EXPECT_TRUE(target.Take().empty());
  EXPECT_TRUE(reconnector.LinkDown(true));
  EXPECT_EQ(target.Take(), (std::vector<std::string>{
                               "* Link lost. Last GPS time: week 2400 TOW 10.0 s, UTC 01/07/2026 00:00:00",
                               "close", "quiet"}));
  EXPECT_EQ(timers.running, (std::map<int, int>{{kTimer, 500}}));
  EXPECT_TRUE(reconnector.Away());
  EXPECT_EQ(reconnector.Losses(), 1);
}

TEST_F(LinkReconnectorTest, DownThatIsNoLoss_NotTakenOver) {
  // The first open of the connection failed: that is the connection's own failure.
  EXPECT_FALSE(reconnector.LinkDown(true));
  // Reconnecting off: the loss ends the connection as it always did.
  reconnector.LinkUp();
  EXPECT_FALSE(reconnector.LinkDown(false));
  // ... and the next down of that connection is not a loss either.
  EXPECT_FALSE(reconnector.LinkDown(true));
  EXPECT_TRUE(target.Take().empty());
  EXPECT_TRUE(timers.running.empty());
  EXPECT_EQ(reconnector.Losses(), 0);
}

TEST_F(LinkReconnectorTest, AttemptsOneAtATimeUntilTheLinkIsBack) {
  LoseLink();
  reconnector.OnTimer(kTimer);
  EXPECT_EQ(target.Take(), std::vector<std::string>{"reopen"});
  // The serial open is still settling: ticks meanwhile start nothing.
  reconnector.OnTimer(kTimer);
  reconnector.OnTimer(kTimer);
  EXPECT_TRUE(target.Take().empty());
  // It failed (device still away): the next tick tries again.
  EXPECT_TRUE(reconnector.LinkDown(true));
  EXPECT_TRUE(target.Take().empty());
  clock.Advance(1250);
  reconnector.OnTimer(kTimer);
  EXPECT_EQ(target.Take(), std::vector<std::string>{"reopen"});
  reconnector.LinkUp();
  EXPECT_EQ(target.Take(),
            (std::vector<std::string>{"loud",
                                      "* Link restored after 1.2 s. Last GPS time: week 2400 TOW 10.0 s, "
                                      "UTC 01/07/2026 00:00:00",
                                      "restored"}));
  EXPECT_TRUE(timers.running.empty());
  EXPECT_FALSE(reconnector.Away());
  EXPECT_EQ(reconnector.Attempts(), 2);
  EXPECT_EQ(reconnector.Restores(), 1);

  // A second loss of the same connection is taken over again.
  EXPECT_TRUE(reconnector.LinkDown(true));
  EXPECT_EQ(reconnector.Losses(), 2);
}

TEST_F(LinkReconnectorTest, OtherTimersAndLateStatusesChangeNothing) {
  LoseLink();
  reconnector.OnTimer(kTimerWatchdog);
  EXPECT_TRUE(reconnector.LinkDown(true));  // a status of the lost link still under way
  EXPECT_TRUE(target.Take().empty());
  EXPECT_TRUE(timers.Running(kTimer));
}

TEST_F(LinkReconnectorTest, StopWhileAway_NoMoreAttemptsAndMessagesBack) {
  LoseLink();
  reconnector.OnTimer(kTimer);
  target.Take();
  reconnector.Stop();
  EXPECT_EQ(target.Take(), std::vector<std::string>{"loud"});
  EXPECT_FALSE(timers.Running(kTimer));
  reconnector.OnTimer(kTimer);  // a tick already queued
  EXPECT_TRUE(target.Take().empty());
  // The status of the attempt that was under way is no loss of a link that was up.
  EXPECT_FALSE(reconnector.LinkDown(true));
  EXPECT_TRUE(target.Take().empty());
}

TEST(LastGpsTime, FormatsTheLastTimeReportOrUnknown) {
  LoggerSession s;
  EXPECT_EQ(FormatLastGpsTime(s), "unknown");
  s.timeValid = true;
  s.gpsWeek = 2399;
  s.lastTimeOfWeek = 345612.25;
  s.year = 2026;
  s.month = 12;
  s.day = 9;
  s.hour = 4;
  s.minute = 0;
  s.second = 5;
  EXPECT_EQ(FormatLastGpsTime(s), "week 2399 TOW 345612.2 s, UTC 12/09/2026 04:00:05");
  // The session went on without the receiver's time: no time to show.
  s.lastTimeOfWeek = -1.0;
  EXPECT_EQ(FormatLastGpsTime(s), "unknown");
}

// The connection control hands its link statuses to the reconnector.
class CLoggingRecorder final : public IConnectionLogger, public IPanelObserver {
 public:
  explicit CLoggingRecorder(std::vector<std::string>& log) : events(log) {}
  void StartLogging(std::uint32_t) override { events.push_back("start logging"); }
  void StopLogging() override { events.push_back("stop logging"); }
  void EndLogging() override { events.push_back("end logging"); }
  void ProcessLogger() override { events.push_back("process logger"); }
  void QueuePacket(const KavoPacket& p) override { events.push_back("queue " + std::to_string(p.id)); }
  void WriteLine(const std::string&) override {}
  void NoteLinkLost() override {}
  void PanelRedraw(int) override {}
  void TitleChanged(const std::string&) override {}
  void StateChanged(int state) override { states.push_back(state); }
  std::vector<std::string>& events;
  std::vector<int> states;
};

class ReconnectingControlTest : public ::testing::Test {
 protected:
  ReconnectingControlTest() {
    control.SetDisconnectPauseMs(0);
    control.SetReconnector(&reconnector);
    control.SetLogger(&peers);
    control.SubscribePanel(&peers);
    control.InitialUpdate(1);
    target.onReopen = [this] { link.Open(control.LinkType(), false); };
  }

  void ConnectAndReceive(bool autoReconnect) {
    ConnectionSettings s;
    s.logData = true;
    s.autoReconnect = autoReconnect;
    control.Connect(s);
    control.LinkStatus(0);
    Receive(0x41);
    target.events.clear();
    peers.states.clear();
  }
  void Receive(std::uint8_t id) {
    KavoPacket p;
    p.id = id;
    link.incoming.push_back(p);
    control.LinkPacketReady();
  }

  CRecordingTarget target;
  CLoggingRecorder peers{target.events};
  CFakeReceiverLink link;
  CFakeTimers timers;
  CFakeTimers reconnectTimers;
  CFakeClock clock;
  CPromptRecorder prompts;
  CLinkReconnector reconnector{target, reconnectTimers, clock, 500};
  CConnectionControl control{link, timers, prompts};
};

TEST_F(ReconnectingControlTest, LossWhileLogging_LoggedUpToTheLossThenWaitsAndResumesTheSameSession) {
  ConnectAndReceive(true);
  ASSERT_EQ(control.State(), kConnected);
  // A packet that came just before the loss is still queued in the link.
  link.incoming.push_back(KavoPacket{});
  link.incoming.back().id = kavo::kIdHealth;
  link.open = false;
  control.LinkStatus(1);
  EXPECT_EQ(target.Take(), (std::vector<std::string>{
                               "queue 70", "process logger",
                               "* Link lost. Last GPS time: week 2400 TOW 10.0 s, UTC 01/07/2026 00:00:00",
                               "close", "quiet"}));
  EXPECT_EQ(control.State(), kWaiting);
  EXPECT_EQ(peers.states, std::vector<int>{kWaiting});
  for (int id : {kTimerWatchdog, kTimerLogger, kTimerProcessorUsage, kTimerRemoteFiles})
    EXPECT_FALSE(timers.Running(id)) << id;
  EXPECT_TRUE(prompts.Texts().empty());

  const int opensBefore = link.closes;
  reconnector.OnTimer(kTimer);
  EXPECT_EQ(target.Take(), std::vector<std::string>{"reopen"});
  EXPECT_EQ(link.closes, opensBefore);
  clock.Advance(700);
  control.LinkStatus(0);
  // The logger is asked to start as on any link up; with its session still running it goes on
  // in the same file, and the restored line follows.
  EXPECT_EQ(target.Take(), (std::vector<std::string>{"start logging", "loud",
                                                     "* Link restored after 0.7 s. Last GPS time: week 2400 "
                                                     "TOW 10.0 s, UTC 01/07/2026 00:00:00",
                                                     "restored"}));
  EXPECT_TRUE(timers.Running(kTimerWatchdog));
  EXPECT_TRUE(timers.Running(kTimerLogger));
  Receive(0x41);
  EXPECT_EQ(control.State(), kConnected);
  EXPECT_TRUE(prompts.Texts().empty());
}

TEST_F(ReconnectingControlTest, DisconnectWhileAway_StopsTheAttempts) {
  ConnectAndReceive(true);
  control.LinkStatus(1);
  target.Take();
  control.Disconnect();
  EXPECT_FALSE(reconnectTimers.Running(kTimer));
  EXPECT_EQ(control.State(), kDisconnected);
  EXPECT_EQ(target.Take(), (std::vector<std::string>{"loud", "stop logging", "end logging"}));
}

TEST_F(ReconnectingControlTest, ReconnectOff_LossEndsTheSessionAsADisconnectDoes) {
  ConnectAndReceive(false);
  control.LinkStatus(1);
  EXPECT_EQ(control.State(), kDisconnected);
  // What came before the loss is logged, then the session is stopped and the logger destroyed.
  EXPECT_EQ(target.Take(), (std::vector<std::string>{"process logger", "stop logging", "end logging"}));
  EXPECT_FALSE(reconnectTimers.Running(kTimer));
  EXPECT_EQ(prompts.Texts().size(), 1u);
  EXPECT_EQ(prompts.Texts()[0].rfind("Connection lost.\n", 0), 0u);
}

TEST_F(ReconnectingControlTest, LoggingLampDuringAReconnect_GoesOutAtTheNextTick) {
  ConnectAndReceive(true);
  control.OnLogLine("P 1\n");
  ASSERT_TRUE(control.ShowLoggingIndication());
  control.LinkStatus(1);
  ASSERT_EQ(control.State(), kWaiting);
  ASSERT_TRUE(timers.Running(kTimerLogActivity));
  control.OnTimer(kTimerLogActivity);
  EXPECT_FALSE(control.ShowLoggingIndication());
}

}  // namespace
