#include "app/connection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "app/fake_receiver_link.h"
#include "app/port_settings.h"
#include "app/settings_profile.h"
#include "app/subscriber_list.h"
#include "support/prompt_recorder.h"
#include "support/temp_dir.h"

namespace {

struct Recorder {
  int id;
  std::vector<int>* calls;
};

// What a subscriber does to the list while it is being called.
enum class During { Nothing, RemoveSelf, RemoveNext, AddLate };

TEST(SubscriberList, CallsInOrderAndCopesWithChangesDuringACall) {
  struct Case {
    const char* name;
    During during;            // done by subscriber 1 on the first round
    std::vector<int> first;   // who is called in the round the change is made
    std::vector<int> second;  // and in the round after it
  };
  const Case cases[] = {
      {"plain", During::Nothing, {1, 2, 3}, {1, 2, 3}},
      {"removes itself", During::RemoveSelf, {1, 2, 3}, {2, 3}},
      {"removes the next", During::RemoveNext, {1, 3}, {1, 3}},
      {"adds one", During::AddLate, {1, 2, 3, 4}, {1, 2, 3, 4}},
  };
  for (const Case& c : cases) {
    std::vector<int> calls;
    Recorder r1{1, &calls}, r2{2, &calls}, r3{3, &calls}, r4{4, &calls};
    CSubscriberList<Recorder> list;
    list.Add(&r1);
    list.Add(&r2);
    list.Add(&r1);  // twice: still one entry
    list.Add(nullptr);
    list.Add(&r3);
    bool changed = false;
    auto call = [&](Recorder& r) {
      r.calls->push_back(r.id);
      if (r.id != 1 || changed) return;
      changed = true;
      if (c.during == During::RemoveSelf) list.Remove(&r1);
      if (c.during == During::RemoveNext) list.Remove(&r2);
      if (c.during == During::AddLate) list.Add(&r4);
    };
    list.ForEach(call);
    EXPECT_EQ(calls, c.first) << c.name;
    calls.clear();
    list.ForEach(call);
    EXPECT_EQ(calls, c.second) << c.name;
    EXPECT_FALSE(list.Empty()) << c.name;
  }
  CSubscriberList<Recorder> emptied;
  std::vector<int> calls;
  Recorder only{1, &calls};
  emptied.Add(&only);
  emptied.Remove(&only);
  EXPECT_TRUE(emptied.Empty());
}

class ConnectionTest : public ::testing::Test {
 protected:
  std::unique_ptr<CConnection> Make(const ConnectionRunOptions& run) {
    ConnectionServices services;
    services.profile = &profile;
    services.prompts = &prompts;
    services.run = run;
    services.link = &link;
    services.timers = &timers;
    auto connection = std::make_unique<CConnection>(services);
    connection->Control().SetDisconnectPauseMs(0);
    return connection;
  }

  CTempDir dir;
  CSettingsProfile profile{dir / "Plowview.ini"};
  CPromptRecorder prompts;
  CFakeReceiverLink link;
  CFakeTimers timers;
};

// The command line changes the stored settings for the run; the start-up connection alone takes
// the relay port and the simulator.
TEST_F(ConnectionTest, Snapshot_RunOptionsOverTheStoredSettings) {
  struct Case {
    const char* name;
    ConnectionRunOptions run;
    bool startUp;
    bool enableAsServer;
    std::uint32_t outputServerPort;
    bool autoReconnect;
    int linkKind;
    int port;
  };
  ConnectionRunOptions relay;
  relay.relayServer = true;
  relay.relayPort = 31000;
  ConnectionRunOptions relayStoredPort;
  relayStoredPort.relayServer = true;
  ConnectionRunOptions reconnect;
  reconnect.reconnect = true;
  ConnectionRunOptions simulator;
  simulator.simulatorDevice = "/dev/pts/99";
  const Case cases[] = {
      {"stored", {}, true, false, 30500, false, CPortSettings::kLinkNetwork, 4},
      {"relay at start-up", relay, true, true, 31000, false, CPortSettings::kLinkNetwork, 4},
      {"relay later", relay, false, false, 30500, false, CPortSettings::kLinkNetwork, 4},
      {"relay on the stored port", relayStoredPort, true, true, 30500, false, CPortSettings::kLinkNetwork, 4},
      {"reconnect always", reconnect, false, false, 30500, true, CPortSettings::kLinkNetwork, 4},
      {"simulator at start-up", simulator, true, false, 30500, false, CPortSettings::kLinkSerial, 0},
      {"simulator later", simulator, false, false, 30500, false, CPortSettings::kLinkNetwork, 4},
  };
  CPortSettings settings(profile);
  settings.serialPortOrCanBus = CPortSettings::kLinkNetwork;
  settings.port = 4;
  settings.outputServerPort = 30500;
  for (const Case& c : cases) {
    auto connection = Make(c.run);
    const ConnectionSettings s = connection->Snapshot(settings, c.startUp);
    EXPECT_EQ(s.enableAsServer, c.enableAsServer) << c.name;
    EXPECT_EQ(s.outputServerPort, c.outputServerPort) << c.name;
    EXPECT_EQ(s.autoReconnect, c.autoReconnect) << c.name;
    EXPECT_EQ(s.linkKind, c.linkKind) << c.name;
    EXPECT_EQ(s.port, c.port) << c.name;
  }
}

TEST_F(ConnectionTest, ConnectOnceThenShutdownClosesTheLinkOnce) {
  ConnectionRunOptions simulator;
  simulator.simulatorDevice = "/dev/pts/99";
  auto connection = Make(simulator);
  EXPECT_EQ(connection->Link(), nullptr);  // the test's link drives the control
  CPortSettings settings(profile);
  connection->Connect(settings, true);
  EXPECT_EQ(link.openedType, 0);  // slot 0, the simulator's device
  EXPECT_TRUE(connection->LinkIsOpen());
  link.openedType = -1;
  connection->Connect(settings, true);  // already open: nothing more
  EXPECT_EQ(link.openedType, -1);

  connection->Shutdown(std::chrono::milliseconds(0));
  EXPECT_FALSE(connection->LinkIsOpen());
  EXPECT_EQ(connection->Control().State(), kDisconnected);
  connection->Shutdown(std::chrono::milliseconds(0));
  EXPECT_EQ(link.closes, 1);
  KavoPacket packet;
  EXPECT_FALSE(connection->SendOnLink(0, packet, 1));
}

}  // namespace
