// A link that goes away and is not reopened (no --reconnect): plowview --headless against plowsim,
// whose line (pseudo-terminal or TCP server) goes away once. The run must say "Connection lost."
// once and exit 1, and with logging on the hour's log must end with the loss and be closed with a
// manifest that counts it and hashes the finished log.

#include <gtest/gtest.h>
#include <signal.h>

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "program_path.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::string Sha256Hex(const fs::path& file) {
  QFile in(QString::fromStdString(file.string()));
  if (!in.open(QIODevice::ReadOnly)) return {};
  return QCryptographicHash::hash(in.readAll(), QCryptographicHash::Sha256).toHex().toStdString();
}

struct LossCase {
  const char* name;
  bool network;
  bool logging;
};

class PlowviewLinkLoss : public ::testing::TestWithParam<LossCase> {};

TEST_P(PlowviewLinkLoss, NotReopened_ConnectionLostOnceExit1AndTheHourClosedWithItsManifest) {
  const LossCase c = GetParam();
  CTempDir dir;
  const fs::path logs = dir.Path() / "logs";
  fs::create_directories(logs);
  // The first connection over a pty settles for about 6 s and the logger reads the receiver's
  // configuration before it logs; the line goes only after that. Over TCP it is up at once.
  const int firstDrop = (c.network ? 0 : 6) + (c.logging ? 9 : 3);
  const QString dropArgs =
      QString("--rate 5 --first-drop-after %1 --drop-after 600 --return-after 1").arg(firstDrop);
  QProcess simulator;
  std::ofstream ini(dir / "Plowview.ini");
  ini << "[Connect]\nm_LogData=" << (c.logging ? 1 : 0) << "\nm_LoggingFolder=" << logs.string()
      << "\nm_LoggingPrefix=A_\n";
  if (c.network) {
    simulator.start(Program("plowsim"), QStringList{"--tcp", "0"} + QProcess::splitCommand(dropArgs));
    ASSERT_TRUE(simulator.waitForStarted(5000));
    std::string portLine;
    while (portLine.find('\n') == std::string::npos && simulator.waitForReadyRead(5000))
      portLine += simulator.readAllStandardOutput().toStdString();
    const int port = std::atoi(portLine.c_str());
    ASSERT_GT(port, 0) << portLine;
    ini << "SerialPortOrCanBus=2\nm_ServerAddress=127.0.0.1\nm_ServerPort=" << port << "\n";
  }
  ini.close();

  QProcess process;
  process.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.Path().string()));
  env.insert("PLOWVIEW_SIMULATOR_ARGS", dropArgs);
  process.setProcessEnvironment(env);
  QStringList arguments = {"--headless", "--config", QString::fromStdString(dir / "Plowview.ini")};
  if (!c.network) arguments.prepend("--simulate");
  process.start(Program("plowview"), arguments);
  ASSERT_TRUE(process.waitForStarted(5000));
  const bool ended = process.waitForFinished(60000);
  if (!ended) {
    process.kill();
    process.waitForFinished(5000);
  }
  if (c.network) {
    simulator.terminate();
    simulator.waitForFinished(5000);
  }
  const std::string errors = process.readAllStandardError().toStdString();
  ASSERT_TRUE(ended) << errors;
  EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(process.exitCode(), 1) << errors;
  // A message box is one stderr line: its text with the line breaks as blanks.
  EXPECT_EQ(Count(errors, "plowview: Connection lost. This could have been caused"), 1u) << errors;
  EXPECT_EQ(Count(errors, "Connection could not be made"), 0u) << errors;
  if (!c.logging) return;

  std::vector<fs::path> hours;
  for (const auto& entry : fs::directory_iterator(logs))
    if (entry.path().extension() == ".log") hours.push_back(entry.path());
  ASSERT_EQ(hours.size(), 1u);
  const fs::path log = hours[0];
  const std::string text = ReadWholeFile(log);
  EXPECT_NE(text.rfind("\n* Link lost. Last GPS time: week "), std::string::npos) << text;
  fs::path manifestPath = log;
  manifestPath.replace_extension(".manifest");
  ASSERT_TRUE(fs::exists(manifestPath)) << "the hour was not closed";
  const std::string manifest = ReadWholeFile(manifestPath);
  EXPECT_NE(manifest.find("link-lost: 1\n"), std::string::npos) << manifest;
  EXPECT_NE(manifest.find("sha256: " + Sha256Hex(log) + "  " + log.filename().string() + "\n"),
            std::string::npos)
      << manifest;
}

INSTANTIATE_TEST_SUITE_P(Cases, PlowviewLinkLoss,
                         ::testing::Values(LossCase{"SerialLoggingOff", false, false},
                                           LossCase{"SerialLoggingOn", false, true},
                                           LossCase{"NetworkLoggingOn", true, true}),
                         [](const ::testing::TestParamInfo<LossCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
