// Two plowview processes on loopback: A on the simulated receiver with its relay server on
// (--relay-server), B a network client of A. Plain TCP clients of A's relay stand for further
// instances: they see every packet framed again without checksum and can press keys. A key a
// client sends is the same stream message a network link sends (network_link_test.cpp checks
// those bytes), so this is also the test of keys from one instance reaching the receiver through
// another's relay.

#include <gtest/gtest.h>
#include <signal.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "link/protocol/kavo_parser.h"
#include "program_path.h"
#include "relay_test_client.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
  ::close(fd);
  return ntohs(a.sin_port);
}

// The packet a frame carries; false unless `frame` is exactly one good frame.
bool Decode(const Bytes& frame, KavoPacket& packet) {
  CKavoParser parser([](CKavoParser*) {});
  for (std::uint8_t b : frame) parser.FeedByte(b);
  KavoPacket extra;
  return parser.TryPopPacket(packet) && !parser.TryPopPacket(extra);
}

// The simulator's trace line for a packet sent: "TX 8F 8C 01 ...".
std::string TxLine(const KavoPacket& p) {
  std::string line = "TX";
  char hex[4];
  std::snprintf(hex, sizeof hex, " %02X", p.id);
  line += hex;
  for (std::size_t i = 0; i < p.length; ++i) {
    std::snprintf(hex, sizeof hex, " %02X", p.data[i]);
    line += hex;
  }
  return line;
}

std::vector<std::string> TraceLines(const std::string& file, const std::string& prefix) {
  std::vector<std::string> lines;
  std::istringstream in(ReadWholeFile(file));
  for (std::string line; std::getline(in, line);)
    if (line.rfind(prefix, 0) == 0) lines.push_back(line);
  return lines;
}

struct Instance {
  QProcess process;
  QByteArray out;

  void Start(const CTempDir& dir, const QStringList& args, const QString& simulatorArgs = {}) {
    process.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.Path().string()));
    if (!simulatorArgs.isEmpty()) env.insert("PLOWVIEW_SIMULATOR_ARGS", simulatorArgs);
    process.setProcessEnvironment(env);
    process.start(Program("plowview"), QStringList{"--headless", "--print-log", "--config",
                                                   QString::fromStdString(dir / "Plowview.ini")} +
                                           args);
  }
  bool Printed(const char* text) {
    process.waitForReadyRead(1);  // QProcess reads its pipes only inside its waits or an event loop
    out += process.readAllStandardOutput();
    return out.contains(text);
  }
  ~Instance() {
    if (process.state() != QProcess::NotRunning) {
      process.kill();
      process.waitForFinished(5000);
    }
  }
};

// Keeps the clients read while waiting for `done`; false when the time ran out.
template <typename Done>
bool Serve(std::vector<CRelayTestClient*> clients, int ms, Done done) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) {
    for (CRelayTestClient* c : clients) c->Pump(10);
    if (done()) return true;
  }
  return false;
}

TEST(PlowviewRelay,
     ClientInstanceShowsPanel_RawClientsGetEveryPacket_KeysReachReceiver_RelayCloseEndsClient) {
  CTempDir dirA, dirB;
  const std::uint16_t port = FreePort();
  const std::string trace = dirA / "trace.txt";
  Instance a;
  a.Start(dirA, {"--simulate", "--relay-server", QString::number(port)},
          QString::fromStdString("--trace " + trace));
  ASSERT_TRUE(a.process.waitForStarted(5000));

  CRelayTestClient one, two;
  ASSERT_TRUE(one.Connect(port, 10000));
  ASSERT_TRUE(two.Connect(port, 5000));

  {
    std::ofstream ini(dirB / "Plowview.ini");
    ini << "[Connect]\nSerialPortOrCanBus=2\nm_ServerAddress=127.0.0.1\nm_ServerPort=" << port << "\n";
  }
  Instance b;
  b.Start(dirB, {});
  ASSERT_TRUE(b.process.waitForStarted(5000));

  // A comes up after the settle phase and the port take-over; B then shows the receiver's rows.
  ASSERT_TRUE(Serve({&one, &two}, 40000, [&] { return b.Printed("lcd 0: |Brisk Mote   RTK|"); }))
      << "B: " << b.out.toStdString() << "\nA: " << a.process.readAllStandardError().toStdString();
  EXPECT_TRUE(Serve({&one, &two}, 5000, [&] { return b.Printed("lcd 1: |"); }));

  // A key (Down) pressed by a client of the relay reaches the receiver and turns the panel.
  const Bytes down{0x10, 0x8E, 0x8C, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x8E, 0x10, 0x03};
  ASSERT_TRUE(one.SendMessage(down));
  EXPECT_TRUE(Serve({&one, &two}, 10000, [&] { return b.Printed("lcd 0: |Lat  52 31.1234N|"); }))
      << b.out.toStdString();
  EXPECT_FALSE(TraceLines(trace, "RX 8E 8C 00 02 00 00 00 00 00 8E").empty());
  EXPECT_FALSE(TraceLines(trace, "SCREEN POSITION").empty());

  // Both raw clients got the same packets, each a good frame without an added checksum (the one
  // the receiver sent is still in the payload), and they are a gap-free run of what it sent.
  Serve({&one, &two}, 500, [] { return false; });
  ASSERT_GT(one.bodies.size(), 5u);
  const std::size_t common = std::min(one.bodies.size(), two.bodies.size());
  EXPECT_GE(common + 3, std::max(one.bodies.size(), two.bodies.size()));
  std::vector<std::string> relayed;
  for (std::size_t i = 0; i < common; ++i) {
    ASSERT_EQ(one.bodies[i], two.bodies[i]) << i;
    KavoPacket p;
    ASSERT_TRUE(Decode(one.bodies[i], p)) << i;
    Bytes rebuilt(KavoFrameCapacity(p.length));
    std::uint16_t length = 0;
    BuildFrame(p, rebuilt.data(), length, 0);
    rebuilt.resize(length);
    EXPECT_EQ(rebuilt, one.bodies[i]) << i;
    relayed.push_back(TxLine(p));
  }
  EXPECT_EQ(one.otherMessages, 0);
  const std::vector<std::string> sent = TraceLines(trace, "TX ");
  auto first = std::find(sent.begin(), sent.end(), relayed.front());
  ASSERT_NE(first, sent.end());
  ASSERT_LE(static_cast<std::size_t>(sent.end() - first), sent.size());
  ASSERT_GE(static_cast<std::size_t>(sent.end() - first), relayed.size());
  EXPECT_TRUE(std::equal(relayed.begin(), relayed.end(), first));
  bool sawPositionRow = false;
  for (const auto& line : relayed) sawPositionRow |= line.find(" 4C 61 74 20 20 35 32") != std::string::npos;
  EXPECT_TRUE(sawPositionRow);  // "Lat  52" in a display report

  // A stops: its relay closes, and B reports the link down and exits non-zero.
  ::kill(static_cast<pid_t>(a.process.processId()), SIGTERM);
  ASSERT_TRUE(a.process.waitForFinished(15000));
  EXPECT_EQ(a.process.exitCode(), 0);
  ASSERT_TRUE(b.process.waitForFinished(10000));
  EXPECT_EQ(b.process.exitCode(), 1);
  EXPECT_NE(b.process.readAllStandardError().indexOf("the connection to the receiver was lost"), -1);
  EXPECT_TRUE(Serve({&one}, 3000, [&] { return !one.Open(); }));
}

TEST(PlowviewRelay, NetworkClientOfSimulatorOnTcp_ShowsPanel_SimulatorGoneEndsRun) {
  CTempDir dir;
  QProcess sim;
  sim.start(Program("plowsim"), {"--tcp", "0", "--trace", QString::fromStdString(dir / "trace.txt")});
  ASSERT_TRUE(sim.waitForStarted(5000));
  ASSERT_TRUE(sim.waitForReadyRead(5000));
  const int port = sim.readLine().trimmed().toInt();
  ASSERT_GT(port, 0);
  {
    std::ofstream ini(dir / "Plowview.ini");
    ini << "[Connect]\nSerialPortOrCanBus=2\nm_ServerAddress=localhost\nm_ServerPort=" << port << "\n";
  }
  Instance b;
  b.Start(dir, {});
  ASSERT_TRUE(Serve({}, 15000, [&] { return b.Printed("lcd 0: |Brisk Mote   RTK|"); }))
      << b.out.toStdString();
  EXPECT_TRUE(b.Printed("title: Plowview [1] - Brisk Mote 4415A01234"));
  ::kill(static_cast<pid_t>(sim.processId()), SIGTERM);
  ASSERT_TRUE(sim.waitForFinished(5000));
  ASSERT_TRUE(b.process.waitForFinished(10000));
  EXPECT_EQ(b.process.exitCode(), 1);
}

TEST(PlowviewRelay, ServerPortOutOfRange_ConfigurationErrorAndExitNonZero) {
  CTempDir dir;
  {
    std::ofstream ini(dir / "Plowview.ini");
    ini << "[Connect]\nSerialPortOrCanBus=2\nm_ServerAddress=127.0.0.1\nm_ServerPort=70000\n";
  }
  Instance b;
  b.Start(dir, {});
  ASSERT_TRUE(b.process.waitForFinished(15000));
  EXPECT_EQ(b.process.exitCode(), 1);
  EXPECT_NE(
      b.process.readAllStandardError().indexOf("plowview: Error: Could not configure network connection."),
      -1);
}

TEST(PlowviewRelay, NoServerListening_NetworkClientSaysSoAndExitsNonZero) {
  CTempDir dir;
  const std::uint16_t port = FreePort();
  {
    std::ofstream ini(dir / "Plowview.ini");
    ini << "[Connect]\nSerialPortOrCanBus=2\nm_ServerAddress=127.0.0.1\nm_ServerPort=" << port << "\n";
  }
  Instance b;
  b.Start(dir, {});
  ASSERT_TRUE(b.process.waitForFinished(15000));
  EXPECT_EQ(b.process.exitCode(), 1);
  const QByteArray errors = b.process.readAllStandardError();
  EXPECT_NE(errors.indexOf("no connection to the receiver"), -1);
  EXPECT_EQ(
      errors.count("plowview: Error: Could not connect to 127.0.0.1:" + QByteArray::number(port) + ".\n"), 1)
      << errors.toStdString();
}

}  // namespace
