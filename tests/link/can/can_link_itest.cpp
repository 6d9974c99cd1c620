// The CAN link end to end over Qt's virtual CAN bus: plowsim processes as receiver nodes,
// plowview headless or the link in this process as the program. Each test process has a bus of
// its own: a fully qualified virtualcan interface on a free loopback port (see VirtualBus), so
// these tests run in parallel with each other and with other test runs on the machine.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/can/can_device_selector.h"
#include "link/can/can_interface.h"
#include "link/can/qt_can_driver.h"
#include "link/comm_link.h"
#include "link/protocol/kavo_ids.h"
#include "link_owner_recorder.h"
#include "support/prompt_recorder.h"
#include "support/temp_dir.h"
#include "support/test_link_services.h"

namespace {

using namespace std::chrono_literals;

QString Program(const char* name) {
  const char* bin = std::getenv("PLOWVIEW_BIN");
  return QString::fromStdString(std::string(bin && *bin ? bin : PLOWVIEW_BINARY_DIR "/bin") + "/" + name);
}

// The virtualcan interface of this process's private bus, "tcp://127.0.0.1:PORT/can0". The
// plugin's default bus is one machine-wide port (35468) that every test run would share; with an
// explicit loopback address and port, the first node that opens the interface hosts a bus server
// on that port instead ("localhost" does not start a server, only a numeric loopback address
// does). The port is below Linux's ephemeral range (32768-60999), so no outgoing connection is
// given it, and starts from this process's id, so test processes running at the same time start
// their probes at different ports. The plugin hosts one server per process, so every test of
// this process shares the one bus, as they run one after another.
const std::string& VirtualBus() {
  static const std::string bus = [] {
    constexpr int kFirst = 20000;
    constexpr int kCount = 12000;
    const int start = static_cast<int>(QCoreApplication::applicationPid() % kCount);
    for (int i = 0; i < kCount; ++i) {
      const auto port = static_cast<quint16>(kFirst + (start + i) % kCount);
      QTcpServer probe;
      if (probe.listen(QHostAddress::LocalHost, port)) {
        probe.close();
        return "tcp://127.0.0.1:" + std::to_string(port) + "/can0";
      }
    }
    ADD_FAILURE() << "no free loopback port for a virtual CAN bus";
    return std::string("can0");
  }();
  return bus;
}

QString VirtualCanArg() {
  return QString::fromStdString("virtualcan:" + VirtualBus());
}

// A child process whose output is collected while the test waits on it.
struct Child {
  QProcess process;
  QByteArray out;
  QByteArray err;

  void Start(const QString& program, const QStringList& args, const CTempDir& dir) {
    process.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.Path().string()));
    process.setProcessEnvironment(env);
    process.start(program, args);
  }
  void Pump() {
    process.waitForReadyRead(5);  // QProcess reads its pipes only inside its waits
    out += process.readAllStandardOutput();
    err += process.readAllStandardError();
  }
  bool WaitFor(const QByteArray& text, int ms, bool inErr = false) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
      Pump();
      if ((inErr ? err : out).contains(text)) return true;
      if (process.state() == QProcess::NotRunning) {
        Pump();
        return (inErr ? err : out).contains(text);
      }
    }
    return false;
  }
  void Stop() {
    if (process.state() == QProcess::NotRunning) return;
    process.terminate();
    if (!process.waitForFinished(5000)) process.kill();
    process.waitForFinished(5000);
    Pump();
  }
  ~Child() {
    if (process.state() != QProcess::NotRunning) {
      process.kill();
      process.waitForFinished(5000);
    }
  }
};

// A receiver node on the virtual bus; ready once it printed its bus.
std::unique_ptr<Child> StartReceiver(const CTempDir& dir, int address) {
  auto sim = std::make_unique<Child>();
  sim->Start(Program("plowsim"),
             {"--can", VirtualCanArg(), "--can-address", QString::number(address), "--trace",
              QString::fromStdString(dir / ("trace" + std::to_string(address) + ".txt"))},
             dir);
  EXPECT_TRUE(sim->WaitFor(VirtualCanArg().toUtf8() + '\n', 10000)) << sim->err.toStdString();
  return sim;
}

void WriteCanConfig(const CTempDir& dir, int busSpeedIndex = 0) {
  std::ofstream ini(dir / "Plowview.ini");
  ini << "[Connect]\nSerialPortOrCanBus=1\nCanBusPort=0\nCanBusDestAddr=28\nCanBusBusSpeed=" << busSpeedIndex
      << "\n[CanBus]\nPlugin=virtualcan\nInterface0=" << VirtualBus() << "\n";
}

QStringList HeadlessArgs(const CTempDir& dir, const QStringList& more = {}) {
  return QStringList{"--headless", "--print-log", "--config", QString::fromStdString(dir / "Plowview.ini")} +
         more;
}

TEST(CanLinkVirtualBus, HeadlessFindsOneReceiver_ConnectsAndShowsItsPanel) {
  CTempDir dir;
  auto sim = StartReceiver(dir, 40);
  WriteCanConfig(dir);
  Child view;
  QElapsedTimer sinceStart;
  sinceStart.start();
  view.Start(Program("plowview"), HeadlessArgs(dir), dir);
  ASSERT_TRUE(view.WaitFor("lcd 0: |Brisk Mote   RTK|", 20000))
      << view.out.toStdString() << view.err.toStdString();
  std::printf("[ figure ] plowview start to the receiver's panel over CAN: %lld ms\n",
              static_cast<long long>(sinceStart.elapsed()));
  EXPECT_TRUE(view.err.contains("plowview: CAN receiver 40 chosen (found: 40)")) << view.err.toStdString();
  EXPECT_TRUE(view.WaitFor("lcd 1: |", 5000));
  view.Stop();
  EXPECT_EQ(view.process.exitCode(), 0) << view.err.toStdString();
}

TEST(CanLinkVirtualBus, TwoReceivers_BothListed_TheOneAskedForIsChosen) {
  CTempDir dir;
  auto first = StartReceiver(dir, 40);
  auto second = StartReceiver(dir, 41);
  WriteCanConfig(dir);
  Child view;
  view.Start(Program("plowview"), HeadlessArgs(dir, {"--can-address", "41"}), dir);
  ASSERT_TRUE(view.WaitFor("lcd 0: |Brisk Mote   RTK|", 20000))
      << view.out.toStdString() << view.err.toStdString();
  const std::string err = view.err.toStdString();
  EXPECT_TRUE(err.find("CAN receiver 41 chosen (found: 40, 41)") != std::string::npos ||
              err.find("CAN receiver 41 chosen (found: 41, 40)") != std::string::npos)
      << err;
  view.Stop();
  // Only the chosen receiver was spoken to.
  EXPECT_NE(ReadWholeFile(dir / "trace41.txt").find("PROGRAM "), std::string::npos);
  EXPECT_EQ(ReadWholeFile(dir / "trace40.txt").find("\nTX "), std::string::npos);
}

TEST(CanLinkVirtualBus, NoReceiver_SaysSoAfterAboutThreeSecondsAndExits1) {
  CTempDir dir;
  WriteCanConfig(dir);
  Child view;
  view.Start(Program("plowview"), HeadlessArgs(dir), dir);
  ASSERT_TRUE(view.process.waitForStarted(5000));
  QElapsedTimer timer;
  timer.start();
  ASSERT_TRUE(view.WaitFor("plowview: No CAN capable receivers were detected.\n", 15000, true))
      << view.err.toStdString();
  const qint64 elapsed = timer.elapsed();
  EXPECT_GE(elapsed, 2900);
  EXPECT_LT(elapsed, 8000);
  ASSERT_TRUE(view.process.waitForFinished(10000));
  EXPECT_EQ(view.process.exitCode(), 1);
}

class CRecordingSelector final : public ICanDeviceSelector {
 public:
  int SelectDevice(const std::vector<std::string>& entries) override {
    std::lock_guard hold(lock);
    offered = entries;
    askedAt = std::chrono::steady_clock::now();
    return static_cast<int>(entries.size()) - 1;
  }
  std::mutex lock;
  std::vector<std::string> offered;
  std::chrono::steady_clock::time_point askedAt{};
};

// The program in this process: a second receiver that answers 2 s after the first keeps the
// search open until 3 s after it.
TEST(CanLinkVirtualBus, SecondReceiverTwoSecondsLater_ExtendsTheSearch) {
  CTempDir dir;
  auto first = StartReceiver(dir, 40);
  CLinkOwnerRecorder owner;
  CPromptRecorder prompts;
  CRecordingSelector selector;
  CCommLink link(&owner, prompts, TestLinkServices());
  CanBusSettings bus;
  bus.plugin = "virtualcan";
  bus.interfaces[0] = VirtualBus();
  link.SetCanBus(bus, &selector);
  ASSERT_TRUE(link.SetCanParams(28, 1, 0));
  link.Open(LinkType::Can0, false);
  std::this_thread::sleep_for(2s);
  auto second = StartReceiver(dir, 41);
  const auto secondAt = std::chrono::steady_clock::now();
  ASSERT_TRUE(owner.WaitStatuses(1, 15s));
  EXPECT_EQ(owner.Statuses().front(), kLinkStatusUp) << (prompts.Texts().empty() ? "" : prompts.Texts()[0]);
  std::lock_guard hold(selector.lock);
  EXPECT_EQ(selector.offered, (std::vector<std::string>{"40", "41"}));
  EXPECT_GE(selector.askedAt - secondAt, 2800ms);
  EXPECT_LT(selector.askedAt - secondAt, 5s);
  link.Close(LinkType::Can0);
}

TEST(CanLinkVirtualBus, MissingPluginOrInterface_FailsWithTheHardwareMessage) {
  const std::pair<const char*, const char*> missing[] = {{"no-such-plugin", "can0"},
                                                         {"socketcan", "plowcan9"}};
  for (const auto& [plugin, interfaceName] : missing) {
    SCOPED_TRACE(plugin);
    CLinkOwnerRecorder owner;
    CPromptRecorder prompts;
    CCommLink link(&owner, prompts, TestLinkServices());
    CanBusSettings bus;
    bus.plugin = plugin;
    bus.interfaces[1] = interfaceName;
    link.SetCanBus(bus, nullptr);
    ASSERT_TRUE(link.SetCanParams(28, 1, 0));
    link.Open(LinkType::Can1, false);
    ASSERT_TRUE(owner.WaitStatuses(1, 10s));
    EXPECT_EQ(owner.Statuses().front(), kLinkStatusDown);
    EXPECT_EQ(prompts.Texts(),
              std::vector<std::string>{"Error: Could not initialize the PC CANBUS Hardware"});
    EXPECT_FALSE(link.IsConnected());
  }
}

// Packets per second from plowsim's streams into the parser, for the figures in the README: a
// measurement, not in ctest (scripts/bench --only can). The virtual bus does not pace frames by
// the bit rate, so both settings give the bus's own speed.
TEST(CanLinkBench, Throughput_PacketsPerSecondFromReceiver) {
  for (std::uint32_t speed : {0u, 3u}) {
    CTempDir dir;
    auto sim = std::make_unique<Child>();
    const std::string trace = dir / "trace.txt";
    sim->Start(Program("plowsim"),
               {"--can", VirtualCanArg(), "--can-address", "40", "--rate", "50", "--trace",
                QString::fromStdString(trace)},
               dir);
    ASSERT_TRUE(sim->WaitFor(VirtualCanArg().toUtf8() + '\n', 10000));
    CLinkOwnerRecorder owner;
    CPromptRecorder prompts;
    CRecordingSelector selector;
    CCommLink link(&owner, prompts, TestLinkServices());
    CanBusSettings bus;
    bus.plugin = "virtualcan";
    bus.interfaces[0] = VirtualBus();
    link.SetCanBus(bus, &selector);
    ASSERT_TRUE(link.SetCanParams(28, 1, speed));
    const auto openAt = std::chrono::steady_clock::now();
    link.Open(LinkType::Can0, false);
    ASSERT_TRUE(owner.WaitStatuses(1, 15s));
    ASSERT_EQ(owner.Statuses().front(), kLinkStatusUp);
    const auto upAt = std::chrono::steady_clock::now();
    // The navigation output on: a non-zero output mask for port 0 (8E 88 00 mask).
    KavoPacket outputs;
    outputs.id = kavo::kIdSuperRequest;
    outputs.length = 7;
    const std::uint8_t mask[] = {0x88, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00};
    std::copy(std::begin(mask), std::end(mask), outputs.data);
    ASSERT_TRUE(link.SendPacket(LinkType::Can0, &outputs, 1));
    std::this_thread::sleep_for(1s);
    KavoPacket p;
    int warmUp = 0;
    while (link.Parser().TryPopPacket(p)) ++warmUp;
    int packets = 0;
    std::size_t bytes = 0;
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < 4s) {
      std::this_thread::sleep_for(50ms);
      while (link.Parser().TryPopPacket(p)) {
        ++packets;
        bytes += p.length;
      }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "[ figure ] bus speed index %u: connect to link up %lld ms, %.0f packets/s, %.0f payload bytes/s\n",
        speed,
        static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(upAt - openAt).count()),
        packets / seconds, bytes / seconds);
    // What the receiver offered against what arrived: a receiver that produces faster than the
    // transport protocol's handshakes carry queues the rest (TX) and drops beyond the queue.
    sim->Stop();
    std::this_thread::sleep_for(200ms);
    while (link.Parser().TryPopPacket(p)) ++packets;
    link.Close(LinkType::Can0);
    const std::string traced = ReadWholeFile(trace);
    const auto count = [&traced](const char* word) {
      int n = 0;
      for (std::size_t at = traced.find(word); at != std::string::npos; at = traced.find(word, at + 1)) ++n;
      return n;
    };
    std::printf(
        "[ figure ] bus speed index %u: the receiver queued %d packets and dropped %d, the link "
        "delivered %d\n",
        speed, count("\nTX "), count("\nTX-DROPPED "), warmUp + packets);
    EXPECT_GT(packets, 0);
  }
}

// A tool we did not write sees our address claim on the bus: priority 6, PGN 60928 to everyone
// from address 249, NAME 40 10 ... (identity 4160, manufacturer 69, function 28).
TEST(CanLinkVirtualBus, QtCanbusutilSeesTheAddressClaim) {
  const QString tool = QLibraryInfo::path(QLibraryInfo::BinariesPath) + "/canbusutil";
  if (!QFileInfo(tool).isExecutable()) GTEST_SKIP() << "no canbusutil at " << tool.toStdString();
  CTempDir dir;
  Child listener;
  listener.Start(tool, {"-l", "virtualcan", QString::fromStdString(VirtualBus())}, dir);
  ASSERT_TRUE(listener.process.waitForStarted(5000));
  std::this_thread::sleep_for(1s);  // it must be on the bus before the claim goes out
  WriteCanConfig(dir);
  Child view;
  view.Start(Program("plowview"), HeadlessArgs(dir), dir);
  EXPECT_TRUE(listener.WaitFor("18EEFFF9   [8]  40 10 A0 08", 10000))
      << listener.out.toStdString() << listener.err.toStdString();
  view.Stop();
  listener.Stop();
}

}  // namespace
