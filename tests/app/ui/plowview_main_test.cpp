#include "app/ui/plowview_main.h"

#include <gtest/gtest.h>

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

TEST(PlowviewCommandLine, WebPanel_TakesAnOptionalPortBesideTheRelays) {
  struct Case {
    QStringList args;
    bool web;
    int webPort;
    bool relay;
    int relayPort;
  };
  const Case cases[] = {
      {{"--headless", "--web-panel"}, true, -1, false, -1},
      {{"--headless", "--web-panel", "9000"}, true, 9000, false, -1},
      {{"--web-panel", "--relay-server", "31000"}, true, -1, true, 31000},
      {{"--relay-server", "31000", "--web-panel", "9000", "--simulate"}, true, 9000, true, 31000},
      {{"--relay-server", "--web-panel"}, true, -1, true, -1},
      {{"--headless", "--play", "a.kavo", "--web-panel"}, true, -1, false, -1},
  };
  for (const Case& c : cases) {
    const auto r = Parse(c.args);
    ASSERT_EQ(r.action, CommandLineAction::Run) << c.args.join(' ').toStdString() << ": " << r.text;
    EXPECT_EQ(r.options.webPanel, c.web) << c.args.join(' ').toStdString();
    EXPECT_EQ(r.options.webPanelPort, c.webPort) << c.args.join(' ').toStdString();
    EXPECT_EQ(r.options.relayServer, c.relay) << c.args.join(' ').toStdString();
    EXPECT_EQ(r.options.relayPort, c.relayPort) << c.args.join(' ').toStdString();
  }
  for (const QStringList& bad : {QStringList{"--web-panel", "0"}, QStringList{"--web-panel", "65536"},
                                 QStringList{"--web-panel", "x"}}) {
    EXPECT_EQ(Parse(bad).action, CommandLineAction::Fail) << bad.join(' ').toStdString();
  }
  EXPECT_NE(Parse({"--help"}).text.find("--web-panel"), std::string::npos);
}

TEST(PlowviewCommandLine, Help_NamesOnlyTheOptionsThatExist) {
  const auto r = Parse({"--help"});
  ASSERT_EQ(r.action, CommandLineAction::ShowHelp);
  EXPECT_TRUE(r.text.starts_with("Usage: plowview [options]\n")) << r.text;
  for (const char* present : {"--help", "--version", "--config <PATH>"})
    EXPECT_NE(r.text.find(present), std::string::npos) << present;
  EXPECT_EQ(Parse({"--version"}).action, CommandLineAction::ShowVersion);
}

}  // namespace
