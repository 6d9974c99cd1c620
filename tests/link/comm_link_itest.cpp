// The serial link against the simulated receiver on a pseudo-terminal: opening with and without
// the receiver port take-over, packets both ways, the restore packet at close, the failures.

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link/comm_link.h"
#include "link/link_owner_recorder.h"
#include "link/protocol/kavo_ids.h"
#include "support/prompt_recorder.h"
#include "support/temp_dir.h"
#include "support/test_link_services.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string PlowsimPath() {
  if (const char* bin = std::getenv("PLOWVIEW_BIN"); bin != nullptr && *bin != '\0') {
    return std::string(bin) + "/plowsim";
  }
  return std::string(PLOWVIEW_BINARY_DIR) + "/bin/plowsim";
}

// One plowsim run on a pty linked at `ptyPath`, stopped with SIGTERM at destruction.
class CPlowsim {
 public:
  CPlowsim(const std::string& ptyPath, const std::string& tracePath, std::vector<std::string> extra) {
    std::vector<std::string> args{PlowsimPath(), "--pty", ptyPath, "--trace", tracePath};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid = -1;
    const auto until = Clock::now() + 5s;
    while (pid > 0 && !std::filesystem::exists(ptyPath) && Clock::now() < until)
      std::this_thread::sleep_for(10ms);
  }
  ~CPlowsim() {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
  }
  bool Running() const { return pid > 0; }

 private:
  pid_t pid = -1;
};

// Bytes the link sent, in order, as its serial debug capture recorded them ("T" runs and their
// continuation lines).
std::vector<std::uint8_t> SentBytes(const std::string& capture) {
  std::vector<std::uint8_t> sent;
  std::istringstream lines(capture);
  std::string line;
  bool sending = false;
  while (std::getline(lines, line)) {
    std::istringstream tokens(line);
    std::string stamp, token;
    if (!(tokens >> stamp) || stamp.empty() || !std::isdigit(static_cast<unsigned char>(stamp[0]))) {
      sending = false;
      continue;
    }
    if (!(tokens >> token)) continue;
    if (token == "T" || token == "R" || token == "!") {
      sending = token == "T";
      if (!(tokens >> token)) continue;
      if (!sending) continue;
    } else if (!sending) {
      continue;
    }
    do {
      if (token.size() == 2) sent.push_back(static_cast<std::uint8_t>(std::stoi(token, nullptr, 16)));
    } while (tokens >> token);
  }
  return sent;
}

bool Contains(const std::vector<std::uint8_t>& hay, const std::vector<std::uint8_t>& needle) {
  return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

class CommLinkIntegration : public ::testing::Test {
 protected:
  CommLinkIntegration() : oldCwd(std::filesystem::current_path()) {
    std::filesystem::current_path(folder.Path());
  }
  ~CommLinkIntegration() override { std::filesystem::current_path(oldCwd); }

  void StartReceiver(std::vector<std::string> args) {
    sim = std::make_unique<CPlowsim>(PtyPath(), TracePath(), std::move(args));
    ASSERT_TRUE(sim->Running()) << PlowsimPath();
    ASSERT_TRUE(std::filesystem::exists(PtyPath()));
    CSerialPortMap map;
    map.SetPath(0, PtyPath());
    link->SerialPort().SetPortMap(map);
  }
  std::string PtyPath() const { return folder / "ttyReceiver"; }
  std::string TracePath() const { return folder / "trace.txt"; }
  std::string Trace() const { return ReadWholeFile(TracePath()); }
  // Waits until the trace shows `text` (plowsim writes it as things happen).
  bool WaitTrace(const std::string& text, std::chrono::milliseconds limit) const {
    const auto until = Clock::now() + limit;
    while (Clock::now() < until) {
      if (Trace().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }

  // Opens slot 0 and waits for the first status; the time it took.
  std::chrono::milliseconds OpenAndWait(bool autoConfigure) {
    const auto start = Clock::now();
    link->Open(LinkType::Com1, autoConfigure);
    EXPECT_TRUE(owner.WaitStatuses(1, 20s));
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  }

  // Asks for the time and waits for the receiver's 0x41 answer.
  void ExchangeTimePacket() {
    const int before = owner.Packets();
    KavoPacket request;
    request.id = kavo::kIdTimeRequest;
    ASSERT_TRUE(link->SendPacket(LinkType::Com1, &request, 0));
    ASSERT_TRUE(owner.WaitPackets(before + 1, 3s));
    KavoPacket answer;
    bool found = false;
    while (link->Parser().TryPopPacket(answer)) found = found || answer.id == kavo::kIdTime;
    EXPECT_TRUE(found);
    EXPECT_TRUE(WaitTrace("RX 21", 2s));
  }

  CTempDir folder;
  std::filesystem::path oldCwd;
  std::unique_ptr<CPlowsim> sim;
  CLinkOwnerRecorder owner;
  CPromptRecorder prompts;
  std::unique_ptr<CCommLink> link = std::make_unique<CCommLink>(&owner, prompts, TestLinkServices());
};

TEST_F(CommLinkIntegration, WithoutPortSetup_SilentReceiverUpAfterSettle_PacketsBothWays) {
  StartReceiver({"--baud", "19200"});
  ASSERT_TRUE(link->SetSerialParams(19200, 'N', 8, 1));
  const auto took = OpenAndWait(false);
  EXPECT_EQ(owner.Statuses(), std::vector<int>{kLinkStatusUp});
  EXPECT_TRUE(link->IsConnected());
  // A silent receiver is accepted after the 60 passes of 100 ms.
  EXPECT_GE(took, 5900ms);
  std::printf("[ measure ] open to link up without port set-up: %lld ms\n",
              static_cast<long long>(took.count()));

  ExchangeTimePacket();
  EXPECT_TRUE(link->Close(LinkType::Com1));
  EXPECT_FALSE(link->IsConnected());
  EXPECT_EQ(link->CurrentLinkType(), LinkType::None);
  // Nothing to put back: the receiver's port was never taken over. No status after a close.
  EXPECT_EQ(Trace().find("RX BC"), std::string::npos);
  EXPECT_EQ(owner.Statuses().size(), 1u);
  EXPECT_TRUE(prompts.Texts().empty());

  // Every packet went out as its frame followed by two NUL bytes.
  const auto sent = SentBytes(ReadWholeFile(folder / "v1.19DebugComm1.txt"));
  EXPECT_TRUE(Contains(sent, {0x10, 0x21, 0x10, 0x03, 0x00, 0x00}));
}

TEST_F(CommLinkIntegration, WithPortSetup_SwitchesTo38400Odd_RestoresReportedSettingsAtClose) {
  StartReceiver({"--baud", "19200"});
  link->SetSerialParams(9600, 'N', 8, 1);
  const auto took = OpenAndWait(true);
  ASSERT_EQ(owner.Statuses(), std::vector<int>{kLinkStatusUp});
  std::printf("[ measure ] open to link up with port set-up: %lld ms\n",
              static_cast<long long>(took.count()));
  EXPECT_TRUE(prompts.Texts().empty());
  EXPECT_EQ(link->HighSpeedActive(), 1u);
  EXPECT_EQ(link->PortReport().inBaud, 19200);
  EXPECT_EQ(link->PortReport().outBaud, 19200);
  EXPECT_STREQ(link->PortReport().name, "BriskMote");
  EXPECT_EQ(link->SerialPort().GetBaudRate(), 38400);
  EXPECT_EQ(link->SerialPort().GetParity(), 'O');
  EXPECT_NE(Trace().find("BREAK"), std::string::npos);
  EXPECT_NE(Trace().find("RX-TEXT \"FAST LINK SWITCH REQUEST\\r\\n\""), std::string::npos);

  ExchangeTimePacket();
  ASSERT_TRUE(link->Close(LinkType::Com1));
  // Port 0xFF, 19200 in and out (code 8), 8 data bits (3), no parity, 1 stop bit, no flow
  // control, KAVO both ways (2), reserved.
  EXPECT_TRUE(WaitTrace("RX BC FF 08 08 03 00 00 00 02 02 00\n", 2s)) << Trace();
  EXPECT_TRUE(WaitTrace("PORT-CONFIG 19200 19200", 2s));
  const auto sent = SentBytes(ReadWholeFile(folder / "v1.19DebugComm1.txt"));
  EXPECT_TRUE(Contains(sent, {0x10, 0xBC, 0xFF, 0x08, 0x08, 0x03, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00, 0x10,
                              0x03, 0x00, 0x00}));
  EXPECT_EQ(owner.Statuses().size(), 1u);
}

// Disconnect and Connect again, as a user does from the File menu: the second take-over starts
// from the settings the first restore put back, and each close puts them back once more.
TEST_F(CommLinkIntegration, WithPortSetup_ReconnectTakesOverAgainAndRestoresAgain) {
  StartReceiver({});
  CommLinkTiming timing;  // only the settle phase is shortened; the take-over keeps its times
  timing.settlePassMs = 5;
  timing.settleConfirmMs = 5;
  timing.settleQuietMs = 25;
  link->SetTiming(timing);
  link->SetSerialParams(9600, 'N', 8, 1);
  const std::string restore = "RX BC FF 07 07 03 00 00 00 02 02 00\n";
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    link->Open(LinkType::Com1, true);
    ASSERT_TRUE(owner.WaitStatuses(static_cast<std::size_t>(round), 20s));
    ASSERT_EQ(owner.Statuses().back(), kLinkStatusUp);
    ASSERT_TRUE(link->IsConnected());
    EXPECT_EQ(link->SerialPort().GetBaudRate(), 38400);
    EXPECT_EQ(link->SerialPort().GetParity(), 'O');
    EXPECT_EQ(link->PortReport().inBaud, 9600);
    ExchangeTimePacket();
    ASSERT_TRUE(link->Close(LinkType::Com1));
    EXPECT_FALSE(link->SerialPort().IsOpen());
    const auto restoresInTrace = [&] {
      const std::string trace = Trace();
      std::size_t count = 0;
      for (auto at = trace.find(restore); at != std::string::npos; at = trace.find(restore, at + 1)) ++count;
      return count;
    };
    const auto until = Clock::now() + 2s;
    while (restoresInTrace() < static_cast<std::size_t>(round) && Clock::now() < until)
      std::this_thread::sleep_for(20ms);
    EXPECT_EQ(restoresInTrace(), static_cast<std::size_t>(round)) << Trace();
  }
  // The last restore left the receiver's port where it was before the first take-over.
  EXPECT_TRUE(WaitTrace("PORT-CONFIG 9600 9600 8N1 02 02", 2s));
  EXPECT_EQ(owner.Statuses(), (std::vector<int>{kLinkStatusUp, kLinkStatusUp}));
  EXPECT_TRUE(prompts.Texts().empty());
}

TEST_F(CommLinkIntegration, ReceiverIgnoresBreak_MessageAndStatusDown) {
  StartReceiver({"--no-auto-config"});
  const auto took = OpenAndWait(true);
  EXPECT_EQ(owner.Statuses(), std::vector<int>{kLinkStatusDown});
  EXPECT_EQ(prompts.Texts(), std::vector<std::string>{"Failed to establish the communication\nneeded to "
                                                      "configure the receiver's baud rate."});
  EXPECT_FALSE(link->IsConnected());
  EXPECT_EQ(link->CurrentLinkType(), LinkType::None);
  EXPECT_FALSE(link->SerialPort().IsOpen());
  // Settle phase, then 300 empty polls of 10 ms waiting for the report.
  EXPECT_GE(took, 8900ms);
  EXPECT_TRUE(WaitTrace("BREAK IGNORED", 1s));
  EXPECT_FALSE(link->Close(LinkType::Com1));
  EXPECT_EQ(Trace().find("RX BC"), std::string::npos);
}

TEST_F(CommLinkIntegration, PortThatCannotBeOpened_MessageAndStatusDown) {
  CSerialPortMap map;
  map.SetPath(0, folder / "no-such-tty");
  link->SerialPort().SetPortMap(map);
  link->SetSerialParams(9600, 'N', 8, 1);
  OpenAndWait(false);
  EXPECT_EQ(owner.Statuses(), std::vector<int>{kLinkStatusDown});
  EXPECT_EQ(prompts.Texts(), std::vector<std::string>{"Error: Could not open serial port."});
  EXPECT_EQ(link->CurrentLinkType(), LinkType::None);
}

TEST_F(CommLinkIntegration, DestroyedWhileUp_ReaderEndsWithoutStatus) {
  StartReceiver({});
  link->SetSerialParams(9600, 'N', 8, 1);
  link->SetTiming(CommLinkTiming{}.Scaled(20));
  OpenAndWait(false);
  ASSERT_TRUE(link->IsConnected());
  const auto start = Clock::now();
  link.reset();
  EXPECT_LT(Clock::now() - start, 1s);
  EXPECT_EQ(owner.Statuses(), std::vector<int>{kLinkStatusUp});
}

double ProcessCpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

TEST_F(CommLinkIntegration, ReceiverGoneWhileUp_ReportedDownOnceThenIdleAndCloses) {
  StartReceiver({});
  link->SetSerialParams(9600, 'N', 8, 1);
  CommLinkTiming timing = CommLinkTiming{}.Scaled(20);
  timing.lineDownRetryMs = CommLinkTiming{}.lineDownRetryMs;
  link->SetTiming(timing);
  OpenAndWait(false);
  ASSERT_TRUE(link->IsConnected());
  sim.reset();  // the far end of the line hangs up
  // Timed from the simulator's end, not from the signal: its exit (a leak check under the
  // sanitizers) may take longer than the loss is allowed to.
  const auto lostAt = Clock::now();
  ASSERT_TRUE(owner.WaitStatuses(2, 2s));
  EXPECT_LT(Clock::now() - lostAt, 500ms);
  EXPECT_FALSE(link->IsConnected());
  EXPECT_EQ(link->CurrentLinkType(), LinkType::None);
  // Once: the reader ended, nothing polls the dead descriptor any more.
  const double before = ProcessCpuSeconds();
  std::this_thread::sleep_for(1s);
  EXPECT_LT(ProcessCpuSeconds() - before, 0.02);
  EXPECT_EQ(owner.Statuses(), (std::vector<int>{kLinkStatusUp, kLinkStatusDown}));
  EXPECT_TRUE(prompts.Texts().empty());
  // The link was already down: Close reports that, and closes the hung-up port.
  EXPECT_TRUE(link->SerialPort().IsOpen());
  EXPECT_FALSE(link->Close(LinkType::Com1));
  EXPECT_FALSE(link->SerialPort().IsOpen());
}

// The process CPU time an open link to a receiver that says nothing costs: at most 1% of the
// window, which catches a reader that polls instead of waiting. The window is
// PLOWVIEW_IDLE_SECONDS seconds, 1 in ctest; the figure for bench/README.md is taken over 5 s,
// and the whole program's idle share is measured by scripts/bench --only idle.
TEST_F(CommLinkIntegration, OpenLinkToSilentReceiver_CostsUnderOnePercentOfACore) {
  StartReceiver({"--silent-after", "0"});
  link->SetSerialParams(9600, 'N', 8, 1);
  link->SetTiming(CommLinkTiming{}.Scaled(20));  // only shortens the settle phase
  OpenAndWait(false);
  ASSERT_TRUE(link->IsConnected());
  int seconds = 1;
  if (const char* s = std::getenv("PLOWVIEW_IDLE_SECONDS")) seconds = std::max(1, std::atoi(s));
  const double before = ProcessCpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double used = ProcessCpuSeconds() - before;
  std::printf("[ measure ] CPU of an open idle link over %d s: %.4f s\n", seconds, used);
  EXPECT_LT(used, 0.01 * seconds);
  EXPECT_TRUE(link->Close(LinkType::Com1));
}

}  // namespace
