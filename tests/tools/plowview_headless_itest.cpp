// plowview without a window, as ./run and scripts use it: connected to the built-in simulator,
// printing the panel, and stopping cleanly on SIGTERM.

#include <gtest/gtest.h>
#include <signal.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "program_path.h"
#include "support/temp_dir.h"
#include "text_lines.h"

namespace {

// Waits (bounded) until `done` holds for what the process printed so far.
template <typename Predicate>
bool WaitForOutput(QProcess& process, QByteArray& out, int ms, Predicate done) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) {
    if (done(out.toStdString())) return true;
    if (process.state() == QProcess::NotRunning) break;
    process.waitForReadyRead(200);
    out += process.readAllStandardOutput();
  }
  return done(out.toStdString());
}

TEST(PlowviewHeadless, SimulatedReceiver_PanelPrintedAndCleanStopClearsPanelFlag) {
  CTempDir dir;
  QProcess plowview;
  plowview.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("PLOWVIEW_SIMULATOR_ARGS", QString::fromStdString("--trace " + (dir / "trace.txt")));
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.Path().string()));
  plowview.setProcessEnvironment(env);
  plowview.start(Program("plowview"), {"--headless", "--simulate", "--print-log", "--config",
                                       QString::fromStdString(dir / "Plowview.ini")});
  ASSERT_TRUE(plowview.waitForStarted(5000));

  QByteArray out;
  // The link comes up after the settle phase and the port take-over (about 7 s).
  const bool sawClock = WaitForOutput(plowview, out, 30000, [](const std::string& text) {
    int rows = 0;
    for (const auto& line : SplitLines(text)) rows += line.rfind("lcd 1: |", 0) == 0 ? 1 : 0;
    return rows >= 3;  // the status screen's clock row changes every second
  });
  ASSERT_TRUE(sawClock) << out.toStdString();
  EXPECT_NE(out.indexOf("title: Plowview [1] - "), -1) << out.toStdString();
  EXPECT_NE(out.indexOf("lcd 0: |"), -1);

  ::kill(static_cast<pid_t>(plowview.processId()), SIGTERM);
  ASSERT_TRUE(plowview.waitForFinished(10000));
  EXPECT_EQ(plowview.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(plowview.exitCode(), 0) << plowview.readAllStandardError().toStdString();

  // The last panel flags command the simulator received has the panel bit (0x02) cleared. Only the
  // command counts (8E 8C 03, four flag bytes, the checksum); the bare request 8E 8C 03 is no command.
  const std::size_t kCommandLineLength = std::string("RX 8E 8C 03 00 00 00 00 00 00 8F").size();
  std::string lastPanelCommand;
  int panelOnCommands = 0;
  for (const auto& line : SplitLines(ReadWholeFile(dir / "trace.txt"))) {
    if (line.rfind("RX 8E 8C 03 ", 0) != 0 || line.size() != kCommandLineLength) continue;
    lastPanelCommand = line;
    panelOnCommands += (std::stoi(line.substr(12, 2), nullptr, 16) & 0x02) != 0 ? 1 : 0;
  }
  EXPECT_GT(panelOnCommands, 0);
  ASSERT_FALSE(lastPanelCommand.empty());
  const int flags = std::stoi(lastPanelCommand.substr(12, 2), nullptr, 16);
  EXPECT_EQ(flags & 0x02, 0) << lastPanelCommand;
  // The debug capture of the serial port landed in the working folder.
  EXPECT_FALSE(ReadWholeFile(dir / "v1.19DebugComm1.txt").empty());
}

TEST(PlowviewHeadless, NoReceiver_ExitsNonZeroWithMessage) {
  CTempDir dir;
  // Slot 1 maps to a device that does not exist.
  {
    std::ofstream ini(dir / "Plowview.ini");
    ini << "[Connect]\nPort=0\nHighSpeedKavo=0\n[SerialPorts]\nCOM1=" << (dir / "no-such-tty") << "\n";
  }
  QProcess plowview;
  plowview.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.Path().string()));
  plowview.setProcessEnvironment(env);
  plowview.start(Program("plowview"),
                 {"--headless", "--config", QString::fromStdString(dir / "Plowview.ini")});
  ASSERT_TRUE(plowview.waitForFinished(15000));
  EXPECT_NE(plowview.exitCode(), 0);
  EXPECT_NE(plowview.readAllStandardError().indexOf("plowview: Error: Could not open serial port."), -1);
}

}  // namespace
