// plowview as an unattended logging station runs it: messages on stderr named after the station's
// settings file, SIGHUP reading the settings again without dropping the link, and a receiver
// behind a stable /dev/serial/by-id style name that is unplugged and comes back on another pty.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <filesystem>
#include <fstream>
#include <string>

#include "program_path.h"
#include "simulated_run.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kOptions = 529;
constexpr std::uint32_t kOptionsWithKavo = kOptions | 0x4000;

bool AnyFileEndingIn(const fs::path& folder, const std::string& tail) {
  std::error_code ec;
  for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() >= tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0)
      return true;
  }
  return false;
}

std::string AllLogs(const fs::path& folder) {
  std::string text;
  std::error_code ec;
  for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec))
    if (it->path().extension() == ".log") text += ReadWholeFile(it->path());
  return text;
}

TEST(PlowviewStation, MessagesCarryTheStationsNameOneLineEach) {
  CTempDir dir;
  std::ofstream(dir / "north.ini") << "[Connect]\nSerialPortOrCanBus=0\nPort=0\nHighSpeedKavo=1\n"
                                   << "[SerialPorts]\nCOM1=" << (dir / "no-such-adapter") << "\n";
  QProcess plowview;
  plowview.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.Path().string()));
  plowview.setProcessEnvironment(env);
  plowview.start(Program("plowview"), {"--headless", "--config", QString::fromStdString(dir / "north.ini")});
  ASSERT_TRUE(plowview.waitForFinished(30000));
  EXPECT_EQ(plowview.exitCode(), 1);
  const std::string err = plowview.readAllStandardError().toStdString();
  EXPECT_NE(err.find("north: Error: Could not open serial port.\n"), std::string::npos) << err;
  std::size_t start = 0;
  while (start < err.size()) {
    const std::size_t end = err.find('\n', start);
    const std::string line = err.substr(start, end - start);
    EXPECT_EQ(line.rfind("north: ", 0), 0u) << line;
    EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
    if (end == std::string::npos) break;
    start = end + 1;
  }
}

// A serial device the user may not open: the message says what to do about it. As root (who may
// open anything) the program runs as nobody.
TEST(PlowviewStation, SerialPortWithoutPermission_SaysToJoinTheDialoutGroup) {
  const bool root = ::geteuid() == 0;
  if (root && ::access("/usr/sbin/runuser", X_OK) != 0) GTEST_SKIP() << "root without runuser";
  if (root &&
      QProcess::execute("/usr/sbin/runuser", {"-u", "nobody", "--", "test", "-x", Program("plowview")}) != 0)
    GTEST_SKIP() << "the build folder is closed to nobody";
  CTempDir dir;
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const std::string device = ::ptsname(master);
  ASSERT_EQ(::chmod(device.c_str(), root ? 0600 : 0000), 0);
  std::ofstream(dir / "east.ini") << "[Connect]\nSerialPortOrCanBus=0\nPort=0\nHighSpeedKavo=1\n"
                                  << "[SerialPorts]\nCOM1=" << device << "\n";
  ::chmod(dir.Path().c_str(), 0777);
  QProcess plowview;
  plowview.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.Path().string()));
  plowview.setProcessEnvironment(env);
  QStringList args{"--headless", "--config", QString::fromStdString(dir / "east.ini")};
  if (root) {
    plowview.start("/usr/sbin/runuser", QStringList{"-u", "nobody", "--", Program("plowview")} + args);
  } else {
    plowview.start(Program("plowview"), args);
  }
  ASSERT_TRUE(plowview.waitForFinished(30000));
  ::close(master);
  EXPECT_EQ(plowview.exitCode(), 1);
  const std::string err = plowview.readAllStandardError().toStdString();
  EXPECT_NE(err.find("east: Error: Could not open serial port. Permission denied on " + device +
                     ": add your user to the dialout group.\n"),
            std::string::npos)
      << err;
}

// Ten receiver minutes a second: an hour closes every six seconds.
TEST(PlowviewStation, Sighup_NewLoggingOptionsFromTheNextHourAndTheLinkStaysUp) {
  CTempDir dir;
  CSimulatedRun run(dir, "--time-scale 600", kOptions, "", "--print-log");
  ASSERT_TRUE(run.process.waitForStarted(5000));
  const fs::path logs = dir / "logs";
  ASSERT_TRUE(run.WaitFor(60000, [&] {
    return AllLogs(logs).find("* Receiver now configured") != std::string::npos;
  })) << run.out;
  EXPECT_FALSE(AnyFileEndingIn(logs, ".kavo"));

  {
    std::ofstream ini(dir / "Plowview.ini");
    ini << "[Connect]\nHighSpeedKavo=1\nm_LogData=1\nm_LoggingFolder=" << logs.string()
        << "\nm_LoggingPrefix=A_\nm_logOptions=" << kOptionsWithKavo << "\n";
  }
  ASSERT_EQ(::kill(static_cast<pid_t>(run.process.processId()), SIGHUP), 0);
  ASSERT_TRUE(run.WaitFor(60000, [&] { return AnyFileEndingIn(logs, ".kavo"); })) << run.out;
  // The raw packet log belongs to an hour opened after the signal, which says so.
  ASSERT_TRUE(run.WaitFor(
      30000, [&] { return AllLogs(logs).find("* Logging options changed to 0x4211") != std::string::npos; }));
  EXPECT_EQ(run.process.state(), QProcess::Running);

  EXPECT_EQ(run.Stop(), 0) << run.err;
  EXPECT_NE(run.err.find("plowview: settings read again: logging options 0x4211"), std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("lost"), std::string::npos) << run.err;
  EXPECT_EQ(AllLogs(logs).find("* Link lost"), std::string::npos);
}

// The receiver is unplugged and plugged in again: its tty is another one, the stable name the
// same. plowview --reconnect finds it again and goes on logging.
TEST(PlowviewStation, StableNameSurvivesReplugging) {
  CTempDir dir;
  fs::create_directories(dir / "by-id");
  fs::create_directories(dir / "logs");
  const std::string stable = dir / "by-id/usb-Sim_KAVO_Receiver_0001-if00-port0";
  auto startReceiver = [&](QProcess& sim) {
    sim.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
    sim.start(Program("plowsim"), {"--pty", QString::fromStdString(stable)});
    if (!sim.waitForStarted(5000)) return false;
    QElapsedTimer timer;
    timer.start();
    while (!sim.canReadLine() && timer.elapsed() < 15000) sim.waitForReadyRead(200);
    return sim.canReadLine();
  };
  auto firstReceiver = std::make_unique<QProcess>();
  ASSERT_TRUE(startReceiver(*firstReceiver));
  const fs::path firstTty = fs::read_symlink(stable);
  // Held open, the first pseudo-terminal keeps its number after the receiver is gone, so the
  // receiver comes back on another one, as an adapter plugged in again comes back as the next ttyUSB.
  const int holdFirst = ::open(firstTty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(holdFirst, 0);

  std::ofstream(dir / "Plowview.ini")
      << "[Connect]\nSerialPortOrCanBus=0\nPort=0\nHighSpeedKavo=1\nm_LogData=1\n"
      << "m_LoggingFolder=" << (dir / "logs") << "\nm_LoggingPrefix=A_\n"
      << "[SerialPorts]\nCOM1=" << stable << "\n";
  QProcess plowview;
  plowview.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.Path().string()));
  plowview.setProcessEnvironment(env);
  plowview.start(Program("plowview"), {"--headless", "--reconnect", "--print-log", "--config",
                                       QString::fromStdString(dir / "Plowview.ini")});
  std::string out;
  auto waitForOutput = [&](const char* text, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (out.find(text) == std::string::npos && timer.elapsed() < ms &&
           plowview.state() != QProcess::NotRunning) {
      plowview.waitForReadyRead(200);
      out += plowview.readAllStandardOutput().toStdString();
    }
    return out.find(text) != std::string::npos;
  };
  ASSERT_TRUE(waitForOutput("* Receiver now configured", 60000)) << out;

  ::kill(static_cast<pid_t>(firstReceiver->processId()), SIGTERM);
  ASSERT_TRUE(firstReceiver->waitForFinished(10000));
  firstReceiver.reset();
  QProcess secondReceiver;
  ASSERT_TRUE(startReceiver(secondReceiver));
  EXPECT_NE(fs::read_symlink(stable), firstTty);

  EXPECT_TRUE(waitForOutput("* Link restored", 60000)) << out;
  ::kill(static_cast<pid_t>(plowview.processId()), SIGTERM);
  ASSERT_TRUE(plowview.waitForFinished(30000));
  EXPECT_EQ(plowview.exitCode(), 0) << plowview.readAllStandardError().toStdString();
  ::kill(static_cast<pid_t>(secondReceiver.processId()), SIGTERM);
  secondReceiver.waitForFinished(10000);
  ::close(holdFirst);
}

}  // namespace
