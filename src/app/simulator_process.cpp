#include "app/simulator_process.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>

CSimulatorProcess::~CSimulatorProcess() {
  Stop();
}

QString CSimulatorProcess::ProgramPath() {
  const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/plowsim");
  if (QFileInfo(beside).isExecutable()) return beside;
  return QStandardPaths::findExecutable(QStringLiteral("plowsim"));
}

bool CSimulatorProcess::Start(const QStringList& extraArguments, std::string& error) {
  const QString program = ProgramPath();
  if (program.isEmpty()) {
    error = "the receiver simulator plowsim was not found beside plowview or on PATH";
    return false;
  }
  folder = std::make_unique<QTemporaryDir>();
  if (!folder->isValid()) {
    error = "cannot make a temporary folder for the simulator";
    return false;
  }
  const QString link = folder->filePath(QStringLiteral("receiver"));
  process = std::make_unique<QProcess>();
  process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process->setWorkingDirectory(folder->path());
  // The simulator is ours to stop, after the disconnect has restored its port: in a group of its
  // own, a Ctrl+C at the terminal reaches only plowview. Should plowview die, it goes too.
  const pid_t parent = ::getpid();
  process->setChildProcessModifier([parent] {
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(1);
  });
  process->start(program, QStringList{QStringLiteral("--pty"), link} + extraArguments);
  if (!process->waitForStarted(5000)) {
    error = "plowsim did not start: " + process->errorString().toStdString();
    return false;
  }
  QByteArray line;
  while (!line.contains('\n')) {
    if (!process->waitForReadyRead(5000)) {
      error = "plowsim did not report its device";
      Stop();
      return false;
    }
    line += process->readAllStandardOutput();
  }
  devicePath = line.left(line.indexOf('\n')).trimmed().toStdString();
  return !devicePath.empty();
}

void CSimulatorProcess::Stop() {
  if (!process) return;
  if (process->state() != QProcess::NotRunning) {
    process->terminate();
    if (!process->waitForFinished(2000)) {
      process->kill();
      process->waitForFinished(2000);
    }
  }
  process.reset();
}
