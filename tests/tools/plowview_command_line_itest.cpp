// plowview's command line as a user meets it, one table: --help names every option and runs
// without a display, --version, and each bad argument or combination ends with its exit status
// (2 for a command line that cannot run, 1 for one that runs and fails) before anything starts.

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <string>
#include <vector>

#include "program_path.h"
#include "support/temp_dir.h"

namespace {

struct CommandLineCase {
  QStringList args;
  int exitCode;
  std::string stdoutStart;               // what standard output begins with, if anything
  std::vector<const char*> stdoutHolds;  // texts standard output holds
};

TEST(PlowviewProgramCommandLine, HelpVersionAndEveryRefusal_ExitStatusAndText) {
  CTempDir dir;
  const QString missing = QString::fromStdString(dir / "missing.kavo");
  const CommandLineCase cases[] = {
      {{"--help"},
       0,
       "Usage: plowview [options]\n",
       {"--help", "--version", "--config <PATH>", "--simulate", "--headless", "--print-log", "--relay-server",
        "--screenshot", "--web-panel", "--list-files", "--get-files", "--delete-after", "PATTERN",
        "--play <FILE>", "--speed <N>"}},
      {{"--version"}, 0, "plowview ", {}},
      {{"--nonsense"}, 2, "", {}},
      {{"--print-log"}, 2, "", {}},
      {{"--list-files"}, 2, "", {}},
      {{"--headless", "--get-files"}, 2, "", {}},
      {{"--headless", "--list-files", "--get-files", "*"}, 2, "", {}},
      {{"--headless", "--delete-after"}, 2, "", {}},
      {{"--headless", "stray"}, 2, "", {}},
      {{"--headless", "--speed", "2"}, 2, "", {}},
      {{"--headless", "--play", missing, "--speed", "-1"}, 2, "", {}},
      {{"--headless", "--play", missing, "--simulate"}, 2, "", {}},
      {{"--headless", "--play", missing}, 1, "", {}},
  };
  // Without a display: help, version and refusals must not need one.
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove("DISPLAY");
  env.remove("WAYLAND_DISPLAY");
  env.remove("QT_QPA_PLATFORM");
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.Path().string()));
  for (const CommandLineCase& c : cases) {
    const std::string name = c.args.join(' ').toStdString();
    QProcess run;
    run.setProcessEnvironment(env);
    run.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
    run.start(Program("plowview"), c.args);
    ASSERT_TRUE(run.waitForFinished(10000)) << name;
    const std::string out = run.readAllStandardOutput().toStdString();
    const std::string err = run.readAllStandardError().toStdString();
    EXPECT_EQ(run.exitStatus(), QProcess::NormalExit) << name;
    EXPECT_EQ(run.exitCode(), c.exitCode) << name << "\n" << err;
    EXPECT_TRUE(out.starts_with(c.stdoutStart)) << name << "\n" << out;
    for (const char* text : c.stdoutHolds)
      EXPECT_NE(out.find(text), std::string::npos) << name << ": " << text;
    if (c.exitCode != 0) {
      EXPECT_FALSE(err.empty()) << name << ": no reason given";
    }
  }
}

}  // namespace
