// Ctrl+C at a terminal signals the whole job: plowview and the simulator it started. The
// simulator must outlive plowview's clean disconnect, so that the panel flags and the receiver's
// port restore reach it instead of a hung-up line.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <string>

#include "program_path.h"
#include "support/temp_dir.h"

namespace {

TEST(PlowviewInterrupt, CtrlCToTheWholeJob_ReceiverPortStillRestored) {
  CTempDir dir;
  QProcess plowview;
  plowview.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.Path().string()));
  plowview.setProcessEnvironment(env);
  // A job of its own, as a shell starts a command.
  plowview.setChildProcessModifier([] { ::setpgid(0, 0); });
  plowview.start(Program("plowview"), {"--headless", "--simulate", "--print-log", "--config",
                                       QString::fromStdString(dir / "Plowview.ini")});
  ASSERT_TRUE(plowview.waitForStarted(5000));

  // Up once the panel's clock row has changed (the link takes about 7 s with the port take-over).
  QByteArray out;
  QElapsedTimer timer;
  timer.start();
  while (out.count("lcd 1: |") < 2 && timer.elapsed() < 30000 && plowview.state() != QProcess::NotRunning) {
    plowview.waitForReadyRead(200);
    out += plowview.readAllStandardOutput();
  }
  ASSERT_GE(out.count("lcd 1: |"), 2) << out.toStdString();

  const auto job = static_cast<pid_t>(plowview.processId());
  ASSERT_EQ(::kill(-job, SIGINT), 0);
  ASSERT_TRUE(plowview.waitForFinished(15000));
  EXPECT_EQ(plowview.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(plowview.exitCode(), 0) << plowview.readAllStandardError().toStdString();

  const std::string capture = ReadWholeFile(dir / "v1.19DebugComm1.txt");
  // The restore packet for the simulator's 9600 8N1 KAVO port went out, and nothing met a dead line.
  EXPECT_NE(capture.find(" T 10 BC FF 07 07 03 00 00 00 02 02 00 10 03 00 00 "), std::string::npos)
      << capture;
  EXPECT_EQ(capture.find("hung up"), std::string::npos) << capture;
  EXPECT_NE(capture.find("Closed port COM1"), std::string::npos);
}

}  // namespace
