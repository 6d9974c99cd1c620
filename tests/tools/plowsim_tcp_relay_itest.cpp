// plowsim --tcp: the simulated receiver served the way a relay server serves one, to plain
// clients on loopback.

#include <gtest/gtest.h>
#include <signal.h>

#include <QElapsedTimer>
#include <QProcess>
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "link/protocol/kavo_ids.h"
#include "link/protocol/kavo_parser.h"
#include "program_path.h"
#include "relay_test_client.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

int CountLines(const std::string& file, const std::string& prefix) {
  std::istringstream in(ReadWholeFile(file));
  int n = 0;
  for (std::string line; std::getline(in, line);) n += line.rfind(prefix, 0) == 0 ? 1 : 0;
  return n;
}

// Identifier and first payload bytes of every frame a client got.
std::vector<KavoPacket> Packets(const CRelayTestClient& client) {
  std::vector<KavoPacket> packets;
  CKavoParser parser([](CKavoParser*) {});
  for (const Bytes& body : client.bodies) {
    for (std::uint8_t b : body) parser.FeedByte(b);
    KavoPacket p;
    while (parser.TryPopPacket(p)) packets.push_back(p);
  }
  return packets;
}

void PumpFor(std::vector<CRelayTestClient*> clients, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms)
    for (CRelayTestClient* c : clients) c->Pump(5);
}

// Pumps until `done` holds, at most `ms`; whether it came to hold.
template <typename Predicate>
bool PumpUntil(std::vector<CRelayTestClient*> clients, Predicate done, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() >= ms) return false;
    for (CRelayTestClient* c : clients) c->Pump(5);
  }
  return true;
}

long DisplayRows(const CRelayTestClient& client) {
  const auto packets = Packets(client);
  return std::count_if(packets.begin(), packets.end(), [](const KavoPacket& p) {
    return p.id == kavo::kIdSuperReport && p.length > 2 && p.data[0] == kavo::kSubPanel &&
           p.data[1] == kavo::kPanelDisplay && p.checksumOk == 1;
  });
}

TEST(PlowsimTcp, ClientsGetAnswersAndStreamAsMessages_ClientMessagesHeard) {
  CTempDir dir;
  const std::string trace = dir / "trace.txt";
  QProcess sim;
  sim.start(Program("plowsim"), {"--tcp", "0", "--trace", QString::fromStdString(trace), "--rate", "50"});
  ASSERT_TRUE(sim.waitForStarted(5000));
  ASSERT_TRUE(sim.waitForReadyRead(5000));
  const int port = sim.readLine().trimmed().toInt();
  ASSERT_GT(port, 0);

  CRelayTestClient one, two;
  ASSERT_TRUE(one.Connect(static_cast<std::uint16_t>(port), 5000));
  ASSERT_TRUE(two.Connect(static_cast<std::uint16_t>(port), 5000));

  // Both clients are the simulator's before anything is sent, so both get every answer (on a
  // loaded machine the second connection can still be on its way when the first is accepted).
  ASSERT_TRUE(PumpUntil(
      {&one, &two}, [&] { return CountLines(trace, "CONNECT ") == 2; }, 10000));

  // A type-2 message is not heard; the display request after it is, and answered to both.
  ASSERT_TRUE(one.SendMessage({0, 0, 0, 1, 0, 0, 0, 2, 3, 4, 5, 6}, 2));
  ASSERT_TRUE(one.SendMessage({0x10, 0x8E, 0x8C, 0x01, 0x00, 0x8D, 0x10, 0x03}));
  // Both rows, and one more when the clock row turned meanwhile.
  EXPECT_TRUE(PumpUntil(
      {&one, &two}, [&] { return DisplayRows(one) >= 2 && DisplayRows(two) >= 2; }, 10000))
      << DisplayRows(one) << " and " << DisplayRows(two) << " rows";
  PumpFor({&one, &two}, 200);
  EXPECT_EQ(CountLines(trace, "RX "), 1);
  EXPECT_EQ(CountLines(trace, "RX 8E 8C 01 00 8D"), 1);
  EXPECT_EQ(CountLines(trace, "CONNECT "), 2);

  // The navigation output on port 0 at 50 epochs a second: a position report every epoch.
  ASSERT_TRUE(
      two.SendMessage({0x10, 0x8E, 0x88, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x89, 0x10, 0x03}));
  PumpFor({&one, &two}, 2000);
  const auto first = Packets(one);
  const long positions = std::count_if(first.begin(), first.end(),
                                       [](const KavoPacket& p) { return p.id == kavo::kIdLlaPosition; });
  EXPECT_GE(positions, 60);
  EXPECT_LE(positions, 110);
  // Both clients get the same stream; at the moment the pump stops one may be a few messages
  // behind the other, so compare what both have.
  const std::size_t common = std::min(one.bodies.size(), two.bodies.size());
  EXPECT_LE(std::max(one.bodies.size(), two.bodies.size()) - common, 100u);
  EXPECT_TRUE(std::equal(one.bodies.begin(), one.bodies.begin() + static_cast<std::ptrdiff_t>(common),
                         two.bodies.begin()));

  one.Close();
  PumpFor({&two}, 200);
  EXPECT_EQ(CountLines(trace, "DISCONNECT "), 1);
  ::kill(static_cast<pid_t>(sim.processId()), SIGTERM);
  ASSERT_TRUE(sim.waitForFinished(5000));
  EXPECT_EQ(sim.exitCode(), 0);
  EXPECT_EQ(CountLines(trace, "STOP"), 1);
}

TEST(PlowsimTcp, BadOrMissingTransport_CommandLineRefused) {
  for (const QStringList& args : {QStringList{"--tcp", "70000"}, QStringList{"--tcp", "1", "--pty", "/tmp/x"},
                                  QStringList{"--trace", "/dev/null"}}) {
    QProcess sim;
    sim.start(Program("plowsim"), args);
    ASSERT_TRUE(sim.waitForFinished(5000));
    EXPECT_EQ(sim.exitCode(), 2) << args.join(' ').toStdString();
  }
}

}  // namespace
