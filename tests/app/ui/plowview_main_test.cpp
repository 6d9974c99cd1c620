#include "app/ui/plowview_main.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <filesystem>

namespace {

CommandLineResult Parse(QStringList args) {
  args.prepend("plowview");
  return ParsePlowviewCommandLine(args);
}

TEST(PlowviewCommandLine, NoArguments_RunsWithDefaultSettingsFile) {
  const auto r = Parse({});
  EXPECT_EQ(r.action, CommandLineAction::Run);
  EXPECT_TRUE(r.options.configPath.empty());
}

TEST(PlowviewCommandLine, ConfigPath_Taken) {
  EXPECT_EQ(Parse({"--config", "/tmp/x.ini"}).options.configPath, "/tmp/x.ini");
  EXPECT_EQ(Parse({"--config=rel/y.ini"}).options.configPath, "rel/y.ini");
}

TEST(PlowviewCommandLine, BadArguments_Refused) {
  for (const QStringList& args : {QStringList{"--config"}, QStringList{"--config", ""},
                                  QStringList{"--bogus"}, QStringList{"stray"}, QStringList{"--help-all"}}) {
    const auto r = Parse(args);
    EXPECT_EQ(r.action, CommandLineAction::Fail) << args.join(' ').toStdString();
    EXPECT_FALSE(r.text.empty());
  }
}

TEST(PlowviewCommandLine, QtsOwnOptions_LeftToQt) {
  for (const QStringList& args : {QStringList{"-platform", "offscreen", "--headless"},
                                  QStringList{"--headless", "--platform", "offscreen"},
                                  QStringList{"-style", "fusion", "-reverse", "--headless"},
                                  QStringList{"-style=fusion", "--headless"}}) {
    const auto r = Parse(args);
    EXPECT_EQ(r.action, CommandLineAction::Run) << args.join(' ').toStdString() << ": " << r.text;
    EXPECT_TRUE(r.options.headless) << args.join(' ').toStdString();
  }
  // Our own options keep their values; a Qt option without its value is no Qt option.
  EXPECT_EQ(Parse({"-platform", "offscreen", "--config", "a.ini"}).options.configPath, "a.ini");
  EXPECT_EQ(Parse({"--headless", "-platform"}).action, CommandLineAction::Fail);
  EXPECT_EQ(Parse({"-reverse=1"}).action, CommandLineAction::Fail);
}

TEST(PlowviewCommandLine, Help_NamesOnlyTheOptionsThatExist) {
  const auto r = Parse({"--help"});
  ASSERT_EQ(r.action, CommandLineAction::ShowHelp);
  EXPECT_TRUE(r.text.starts_with("Usage: plowview [options]\n")) << r.text;
  for (const char* present : {"--help", "--version", "--config <PATH>"})
    EXPECT_NE(r.text.find(present), std::string::npos) << present;
  EXPECT_EQ(Parse({"--version"}).action, CommandLineAction::ShowVersion);
}

TEST(PlowviewProgram, HelpAndVersion_RunWithoutDisplay) {
  if (!std::filesystem::exists(PLOWVIEW_BINARY_DIR "/bin/plowview")) GTEST_SKIP() << "plowview not built";
  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove("DISPLAY");
  env.remove("WAYLAND_DISPLAY");
  env.remove("QT_QPA_PLATFORM");
  program.setProcessEnvironment(env);
  program.start(QStringLiteral(PLOWVIEW_BINARY_DIR "/bin/plowview"), {"--help"});
  ASSERT_TRUE(program.waitForFinished(10000));
  EXPECT_EQ(program.exitCode(), 0);
  EXPECT_TRUE(program.readAllStandardOutput().startsWith("Usage: plowview [options]\n"));

  program.start(QStringLiteral(PLOWVIEW_BINARY_DIR "/bin/plowview"), {"--version"});
  ASSERT_TRUE(program.waitForFinished(10000));
  EXPECT_EQ(program.exitCode(), 0);
  EXPECT_TRUE(program.readAllStandardOutput().startsWith("plowview "));

  program.start(QStringLiteral(PLOWVIEW_BINARY_DIR "/bin/plowview"), {"--nonsense"});
  ASSERT_TRUE(program.waitForFinished(10000));
  EXPECT_EQ(program.exitCode(), 2);
}

}  // namespace
