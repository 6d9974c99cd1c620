// Two link objects in one process on loopback: A on the simulated receiver's serial line with its
// relay server on, B a network client of A's relay. What B sends reaches the receiver through A;
// what the receiver sends reaches B; closing A's link takes B's down.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "link/comm_link.h"
#include "link/network/server_socket.h"
#include "network_test_support.h"
#include "relaying_owner.h"
#include "support/prompt_recorder.h"
#include "support/temp_dir.h"
#include "support/test_link_services.h"

extern char** environ;

namespace {

using namespace nettest;

std::string PlowsimPath() {
  const char* bin = std::getenv("PLOWVIEW_BIN");
  return std::string(bin && *bin ? bin : PLOWVIEW_BINARY_DIR "/bin") + "/plowsim";
}

bool HasRow(const std::vector<KavoPacket>& packets, const std::string& text) {
  for (const KavoPacket& p : packets) {
    if (p.length < 22 || p.data[0] != 0x8C || p.data[1] != 0x01) continue;
    if (std::string(reinterpret_cast<const char*>(p.data + 6), 16) == text) return true;
  }
  return false;
}

TEST(RelayBetweenLinks, KeysFromClientReachReceiver_RowsReachClient_ClosingRelayTakesClientDown) {
  CTempDir folder;
  const auto oldCwd = std::filesystem::current_path();
  std::filesystem::current_path(folder.Path());  // the serial debug capture lands here
  const std::string pty = folder / "ttyReceiver";
  const std::string trace = folder / "trace.txt";
  std::vector<std::string> args{PlowsimPath(), "--pty", pty, "--trace", trace, "--no-auto-config"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t sim = -1;
  ASSERT_EQ(::posix_spawn(&sim, argv[0], nullptr, nullptr, argv.data(), environ), 0);
  ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(pty); }));

  CPromptRecorder prompts;
  CRelayingOwner ownerA, ownerB;
  ownerB.keepId = 0x8F;
  {
    CCommLink a(&ownerA, prompts, TestLinkServices()), b(&ownerB, prompts, TestLinkServices());
    ownerA.link = &a;
    ownerB.link = &b;
    CSerialPortMap map;
    map.SetPath(0, pty);
    a.SerialPort().SetPortMap(map);
    a.SetTiming(CommLinkTiming{}.Scaled(20));
    ASSERT_TRUE(a.SetSerialParams(9600, 'N', 8, 1));
    a.SetRelayServer(1, 0);
    a.Open(LinkType::Com1, false);
    ASSERT_TRUE(WaitUntil([&] { return !ownerA.statuses.empty(); }, 20000));
    ASSERT_EQ(ownerA.statuses[0], kLinkStatusUp);

    ASSERT_TRUE(b.SetServer("127.0.0.1", a.Relay().ListeningPort()));
    b.Open(LinkType::Network, false);
    ASSERT_TRUE(WaitUntil([&] { return !ownerB.statuses.empty() && a.Relay().ClientCount() == 1; }));
    ASSERT_EQ(ownerB.statuses[0], kLinkStatusUp);

    // B asks for the display, then presses Down: both reach the receiver through A.
    const KavoPacket display = Packet(0x8E, {0x8C, 0x01});
    ASSERT_TRUE(b.SendPacket(LinkType::Network, &display, 1));
    EXPECT_TRUE(WaitUntil([&] { return HasRow(ownerB.kept, "Brisk Mote   RTK"); }));
    const KavoPacket down = Packet(0x8E, {0x8C, 0x00, 0x02, 0, 0, 0, 0});
    ASSERT_TRUE(b.SendPacket(LinkType::Network, &down, 1));
    EXPECT_TRUE(WaitUntil([&] { return HasRow(ownerB.kept, "Lat  52 31.1234N"); }));
    const std::string seen = ReadWholeFile(trace);
    EXPECT_NE(seen.find("RX 8E 8C 01 00 8D"), std::string::npos);
    EXPECT_NE(seen.find("RX 8E 8C 00 02 00 00 00 00 00 8E"), std::string::npos);
    EXPECT_NE(seen.find("SCREEN POSITION"), std::string::npos);

    // A's link closes, and its relay with it: B reports its link down.
    EXPECT_TRUE(a.Close(LinkType::Com1));
    EXPECT_TRUE(WaitUntil([&] { return ownerB.statuses.size() == 2; }));
    EXPECT_EQ(ownerB.statuses.back(), kLinkStatusDown);
    EXPECT_FALSE(b.IsConnected());
  }
  ::kill(sim, SIGTERM);
  ::waitpid(sim, nullptr, 0);
  std::filesystem::current_path(oldCwd);
}

}  // namespace
