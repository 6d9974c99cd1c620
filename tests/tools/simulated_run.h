#pragma once

#include <signal.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "program_path.h"
#include "support/temp_dir.h"

// plowview --headless --simulate logging into dir/logs with prefix "A_", the simulator tracing
// into dir/trace.txt. `moreSettings` is appended to the settings file; `outputOption` is the
// headless output wanted (--print-log, --verbose).
class CSimulatedRun {
 public:
  CSimulatedRun(const CTempDir& dirRef, const std::string& simulatorArguments, std::uint32_t logOptions,
                const std::string& moreSettings, const char* outputOption)
      : dir(dirRef) {
    std::filesystem::create_directories(dir.Path() / "logs");
    std::ofstream ini(dir / "Plowview.ini");
    ini << "[Connect]\nHighSpeedKavo=1\nm_LogData=1\nm_LoggingFolder=" << (dir / "logs")
        << "\nm_LoggingPrefix=A_\nm_logOptions=" << logOptions << "\n"
        << moreSettings;
    ini.close();
    process.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PLOWVIEW_SIMULATOR_ARGS",
               QString::fromStdString("--trace " + (dir / "trace.txt") + " " + simulatorArguments));
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.Path().string()));
    process.setProcessEnvironment(env);
    process.start(Program("plowview"), {"--headless", "--simulate", outputOption, "--config",
                                        QString::fromStdString(dir / "Plowview.ini")});
  }
  ~CSimulatedRun() {
    if (process.state() != QProcess::NotRunning) {
      process.kill();
      process.waitForFinished(5000);
    }
  }
  CSimulatedRun(const CSimulatedRun&) = delete;
  CSimulatedRun& operator=(const CSimulatedRun&) = delete;

  // Waits (bounded) until `done` holds, reading the program's output meanwhile.
  template <typename Predicate>
  bool WaitFor(int ms, Predicate done) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
      if (done()) return true;
      if (process.state() == QProcess::NotRunning) break;
      process.waitForReadyRead(250);
      out += process.readAllStandardOutput().toStdString();
    }
    return done();
  }

  // SIGTERM and a clean exit: the exit code, or -1 when the program did not end by itself.
  int Stop() {
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    if (!process.waitForFinished(15000)) return -1;
    out += process.readAllStandardOutput().toStdString();
    err = process.readAllStandardError().toStdString();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  }

  const CTempDir& dir;
  QProcess process;
  std::string out, err;
};
