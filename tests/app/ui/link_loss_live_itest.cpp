// The window (offscreen) on the built-in simulator when the link goes away and "Reconnect
// automatically" is off, as it is by default: plowsim's pseudo-terminal (or its TCP server) goes
// away once. The user is told "Connection lost." once, the hour's log is closed with its manifest,
// and the next Connect starts a fresh session with the settings the dialog holds then.

#include <gtest/gtest.h>

#include <QProcess>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/connection_control.h"
#include "app/port_settings.h"
#include "app/simulator_process.h"
#include "app/ui/live_view_fixture.h"
#include "logger/hour_manifest.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::size_t LossMessages(CPromptRecorder& prompts) {
  const auto texts = prompts.Texts();
  return static_cast<std::size_t>(std::count_if(texts.begin(), texts.end(), [](const std::string& t) {
    return t.rfind("Connection lost.\n", 0) == 0;
  }));
}

std::vector<fs::path> Logs(const fs::path& folder, const std::string& prefix) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() == ".log" && name.rfind(prefix, 0) == 0) found.push_back(entry.path());
  }
  return found;
}

// The one hour of `prefix` in `folder` was closed: its manifest counts the loss and hashes the log
// as it ended.
void ExpectHourClosedWithTheLoss(const fs::path& folder, const std::string& prefix) {
  const auto logs = Logs(folder, prefix);
  ASSERT_EQ(logs.size(), 1u);
  fs::path manifest = logs[0];
  manifest.replace_extension(".manifest");
  ASSERT_TRUE(fs::exists(manifest)) << "the hour was left open";
  const std::string text = ReadWholeFile(manifest);
  EXPECT_NE(text.find("link-lost: 1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("sha256: " + CHourManifest::Sha256OfFile(logs[0].string()) + "  " +
                      logs[0].filename().string() + "\n"),
            std::string::npos)
      << text;
}

class LinkLossLive : public ::testing::Test {
 protected:
  void SetUp() override { qputenv("PATH", QByteArray(PLOWVIEW_BINARY_DIR "/bin:") + qgetenv("PATH")); }
  CTempDir dir;
};

TEST_F(LinkLossLive, SerialLoggingOff_ConnectionLostOnce) {
  CSimulatorProcess simulator;
  std::string error;
  ASSERT_TRUE(simulator.Start(
      QProcess::splitCommand(u"--first-drop-after 9 --drop-after 600 --return-after 1"), error))
      << error;
  CLiveViewFixture live(dir.Path(), "[Connect]\nm_LogData=0\n", simulator.DevicePath());
  CConnectionControl& control = live.View()->Control();
  ASSERT_TRUE(QTest::qWaitFor([&] { return control.State() == kConnected; }, 20000)) << "never connected";
  ASSERT_TRUE(QTest::qWaitFor([&] { return LossMessages(live.Prompts()) > 0; }, 20000)) << "no loss message";
  EXPECT_EQ(control.State(), kDisconnected);
  // The watchdog's next ticks add nothing.
  QTest::qWait(2500);
  EXPECT_EQ(live.Prompts().Texts().size(), 1u);
  EXPECT_EQ(LossMessages(live.Prompts()), 1u);
  live.Frame().close();
}

TEST_F(LinkLossLive, SerialLoggingOn_HourClosedAndTheNextConnectLogsUnderTheNewPrefix) {
  CSimulatorProcess simulator;
  std::string error;
  ASSERT_TRUE(simulator.Start(
      QProcess::splitCommand(u"--rate 5 --first-drop-after 15 --drop-after 600 --return-after 1"), error))
      << error;
  const fs::path logs = dir.Path() / "logs";
  fs::create_directories(logs);
  CLiveViewFixture live(dir.Path(),
                        "[Connect]\nm_LogData=1\nm_LoggingPrefix=A_\nm_LoggingFolder=" + logs.string() + "\n",
                        simulator.DevicePath(), [](CPortSettings& settings) {
                          settings.loggingPrefix = "B_";
                          return true;
                        });
  CConnectionControl& control = live.View()->Control();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Logs(logs, "A_").empty(); }, 20000)) << "never logged";
  ASSERT_TRUE(QTest::qWaitFor([&] { return LossMessages(live.Prompts()) > 0; }, 25000)) << "no loss message";
  EXPECT_EQ(control.State(), kDisconnected);
  ExpectHourClosedWithTheLoss(logs, "A_");

  // The line is back a second later, with the receiver still at the speed the first connection
  // switched it to. Connect again after the prefix was changed in the dialog.
  QTest::qWait(1500);
  live.View()->OnFileConnect();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Logs(logs, "B_").empty(); }, 30000))
      << "the second connection logs nothing under the new prefix";
  EXPECT_EQ(Logs(logs, "A_").size(), 1u);
  EXPECT_EQ(LossMessages(live.Prompts()), 1u);
  live.Frame().close();
  // Closing the window ended the second session too: its hour has a manifest.
  const auto second = Logs(logs, "B_");
  ASSERT_EQ(second.size(), 1u);
  fs::path manifest = second[0];
  EXPECT_TRUE(fs::exists(manifest.replace_extension(".manifest")));
}

TEST_F(LinkLossLive, NetworkLoggingOn_ConnectionLostOnceAndHourClosed) {
  QProcess simulator;
  simulator.start(
      QStringLiteral(PLOWVIEW_BINARY_DIR "/bin/plowsim"),
      QProcess::splitCommand(u"--tcp 0 --rate 5 --first-drop-after 8 --drop-after 600 --return-after 1"));
  ASSERT_TRUE(simulator.waitForStarted(5000));
  std::string portLine;
  while (portLine.find('\n') == std::string::npos && simulator.waitForReadyRead(5000))
    portLine += simulator.readAllStandardOutput().toStdString();
  const int port = std::atoi(portLine.c_str());
  ASSERT_GT(port, 0) << portLine;
  const fs::path logs = dir.Path() / "logs";
  fs::create_directories(logs);
  CLiveViewFixture live(
      dir.Path(),
      "[Connect]\nSerialPortOrCanBus=2\nm_ServerAddress=127.0.0.1\nm_ServerPort=" + std::to_string(port) +
          "\nm_LogData=1\nm_LoggingPrefix=N_\nm_LoggingFolder=" + logs.string() + "\n",
      "", [](CPortSettings&) { return true; });
  live.View()->OnFileConnect();
  CConnectionControl& control = live.View()->Control();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Logs(logs, "N_").empty(); }, 15000)) << "never logged";
  ASSERT_TRUE(QTest::qWaitFor([&] { return LossMessages(live.Prompts()) > 0; }, 20000)) << "no loss message";
  EXPECT_EQ(control.State(), kDisconnected);
  EXPECT_EQ(LossMessages(live.Prompts()), 1u);
  ExpectHourClosedWithTheLoss(logs, "N_");
  live.Frame().close();
  simulator.terminate();
  simulator.waitForFinished(5000);
}

}  // namespace
