#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <string>

// The built-in receiver: plowsim started on a pseudo-terminal in a temporary folder for the
// length of this run. The serial device path it prints is what the program connects to.
class CSimulatorProcess {
 public:
  CSimulatorProcess() = default;
  ~CSimulatorProcess();
  CSimulatorProcess(const CSimulatorProcess&) = delete;
  CSimulatorProcess& operator=(const CSimulatorProcess&) = delete;

  // Starts plowsim (found beside this program, else on PATH) with `extraArguments`; waits at most
  // 5 s for its device path. False with `error` set when it did not come up.
  bool Start(const QStringList& extraArguments, std::string& error);
  const std::string& DevicePath() const { return devicePath; }
  // Ends it with SIGTERM (then SIGKILL after 2 s).
  void Stop();

  static QString ProgramPath();

 private:
  std::unique_ptr<QTemporaryDir> folder;
  std::unique_ptr<QProcess> process;
  std::string devicePath;
};
