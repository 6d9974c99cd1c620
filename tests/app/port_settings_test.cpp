#include "app/port_settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <string>

#include "app/settings_profile.h"
#include "support/temp_dir.h"

namespace {

class PortSettingsTest : public ::testing::Test {
 protected:
  void WriteIni(const std::string& text) { std::ofstream(dir / "Plowview.ini", std::ios::binary) << text; }
  CPortSettings Loaded(const std::string& text) {
    WriteIni(text);
    CPortSettings s(profile, "/work/dir");
    s.LoadSettings();
    return s;
  }

  CTempDir dir;
  CSettingsProfile profile{dir / "Plowview.ini"};
};

// Every stored member, so whole objects compare in one expectation.
auto Stored(const CPortSettings& s) {
  return std::make_tuple(s.highSpeedKavo, s.port, s.baudRate, s.parity, s.autoConnect, s.canBusPort,
                         s.canBusDestAddr, s.canBusBusSpeed, s.serialPortOrCanBus, s.rliVisible, s.rliEnabled,
                         s.rliFolder, s.logData, s.loggingFolder, s.loggingPrefix, s.logOptions,
                         s.serverAddress, s.serverPort, s.outputServerPort);
}

TEST_F(PortSettingsTest, Defaults) {
  CPortSettings s(profile, "/work/dir");
  EXPECT_EQ(Stored(s), std::make_tuple(1, 0, 4, 0, 0, 0, 28, 0, 0, false, false, std::string("/work/dir/rli"),
                                       0, CPortSettings::DefaultLoggingFolder(), std::string("A_"), 529,
                                       std::string("127.0.0.1"), 2021, 30000));
  EXPECT_EQ(s.enableAsServer, 0);
  EXPECT_EQ(s.autoReconnect, 0);
  EXPECT_TRUE(CPortSettings::DefaultLoggingFolder().ends_with("/plowview-logs"));
}

TEST_F(PortSettingsTest, OnlyPortInFile_SelectsCom4AndKeepsEveryOtherDefault) {
  CPortSettings expected(profile, "/work/dir");
  expected.port = 3;
  const CPortSettings s = Loaded("[Connect]\nPort=3\n");
  EXPECT_EQ(Stored(s), Stored(expected));
  EXPECT_EQ("COM" + std::to_string(s.port + 1), "COM4");
}

TEST_F(PortSettingsTest, MissingFile_KeepsValuesOfThisRun) {
  CPortSettings s(profile, "/work/dir");
  s.port = 7;
  s.loggingFolder = "/data/logs";
  s.LoadSettings();
  EXPECT_EQ(s.port, 7);
  EXPECT_EQ(s.loggingFolder, "/data/logs");
}

TEST_F(PortSettingsTest, SwitchesAreOnOnlyForUpperCaseY) {
  struct Case {
    const char* text;
    bool on;
  };
  for (const Case& c : {Case{"Y", true}, Case{"y", false}, Case{"Yes", false}, Case{"N", false},
                        Case{"1", false}, Case{"", false}}) {
    const CPortSettings s =
        Loaded(std::string("[Connect]\nRLI_Ena=") + c.text + "\nRLI_Vis=" + c.text + "\n");
    EXPECT_EQ(s.rliEnabled, c.on) << c.text;
    EXPECT_EQ(s.rliVisible, c.on) << c.text;
  }
}

TEST_F(PortSettingsTest, ValueXxx_TreatedAsAbsent) {
  WriteIni("[Connect]\nPort=xxx\nm_LoggingPrefix=xxx\nRLI_Ena=xxx\n");
  CPortSettings s(profile, "/work/dir");
  s.port = 5;
  s.loggingPrefix = "B_";
  s.rliEnabled = true;
  s.LoadSettings();
  EXPECT_EQ(s.port, 5);
  EXPECT_EQ(s.loggingPrefix, "B_");
  EXPECT_TRUE(s.rliEnabled);
}

TEST_F(PortSettingsTest, IntegerText_TakesLeadingNumberElseZero) {
  struct Case {
    const char* text;
    int value;
  };
  for (const Case& c : {Case{"abc", 0}, Case{"", 0}, Case{"12abc", 12}, Case{"-3", -3}, Case{"+8", 8},
                        Case{"x12", 0}, Case{"99999999999999", INT_MAX}, Case{"-99999999999999", INT_MIN}}) {
    const CPortSettings s = Loaded(std::string("[Connect]\nBaudRate=") + c.text + "\n");
    EXPECT_EQ(s.baudRate, c.value) << c.text;
    EXPECT_EQ(ParseProfileInt(c.text), c.value) << c.text;
  }
}

TEST_F(PortSettingsTest, LongFolder_CutAt254Characters) {
  const std::string folder = "/" + std::string(299, 'f');
  const CPortSettings s = Loaded("[Connect]\nm_LoggingFolder=" + folder + "\nRLI_Folder=" + folder + "\n");
  EXPECT_EQ(s.loggingFolder, folder.substr(0, 254));
  EXPECT_EQ(s.rliFolder, folder.substr(0, 254));
}

TEST_F(PortSettingsTest, Save_WritesEveryKeyInOrder) {
  CPortSettings s(profile, "/work/dir");
  s.loggingFolder = "/data/logs";
  s.rliEnabled = true;
  s.logOptions = 1553;
  ASSERT_TRUE(s.SaveSettings());
  EXPECT_EQ(ReadWholeFile(dir / "Plowview.ini"),
            "[Connect]\n"
            "HighSpeedKavo=1\n"
            "Port=0\n"
            "BaudRate=4\n"
            "Parity=0\n"
            "Auto=0\n"
            "CanBusPort=0\n"
            "CanBusDestAddr=28\n"
            "CanBusBusSpeed=0\n"
            "SerialPortOrCanBus=0\n"
            "RLI_Vis=N\n"
            "RLI_Ena=Y\n"
            "RLI_Folder=/work/dir/rli\n"
            "m_LogData=0\n"
            "m_LoggingFolder=/data/logs\n"
            "m_LoggingPrefix=A_\n"
            "m_logOptions=1553\n"
            "m_ServerAddress=127.0.0.1\n"
            "m_ServerPort=2021\n"
            "m_OutputServerPort=30000\n"
            "AutoReconnect=0\n");
}

TEST_F(PortSettingsTest, SaveThenLoad_RoundTripsAndKeepsOtherSections) {
  WriteIni("; my receiver\n[PlowviewArchiveSettings]\nm_FTPPassword=p%d=q\n\n[Connect]\nPort=2\n");
  CPortSettings saved(profile, "/work/dir");
  saved.LoadSettings();
  saved.serialPortOrCanBus = CPortSettings::kLinkNetwork;
  saved.serverAddress = "relay.local";
  saved.loggingPrefix = "50%_=";
  saved.rliVisible = true;
  saved.enableAsServer = 1;
  saved.autoReconnect = 1;
  ASSERT_TRUE(saved.SaveSettings());

  CPortSettings loaded(profile, "/elsewhere");
  loaded.LoadSettings();
  EXPECT_EQ(Stored(loaded), Stored(saved));
  EXPECT_EQ(loaded.autoReconnect, 1);
  // The relay server switch is never stored: every run starts with it off.
  EXPECT_EQ(loaded.enableAsServer, 0);
  EXPECT_EQ(profile.GetString("Connect", "Enable as Server", "xxx"), "xxx");
  EXPECT_EQ(profile.GetString("PlowviewArchiveSettings", "m_FTPPassword", "xxx"), "p%d=q");
  EXPECT_TRUE(ReadWholeFile(dir / "Plowview.ini").starts_with("; my receiver\n[PlowviewArchiveSettings]\n"));
}

TEST(PortSettingsTables, IndexesOutsideTheListsGiveNoValue) {
  EXPECT_EQ(CPortSettings::BaudRateFromIndex(0), 2400);
  EXPECT_EQ(CPortSettings::BaudRateFromIndex(4), 38400);
  EXPECT_EQ(CPortSettings::BaudRateFromIndex(5), 0);
  EXPECT_EQ(CPortSettings::BaudRateFromIndex(-1), 0);
  EXPECT_EQ(CPortSettings::ParityFromIndex(2), 'E');
  EXPECT_EQ(CPortSettings::ParityFromIndex(3), '\0');
  EXPECT_EQ(CPortSettings::ParityFromIndex(-1), '\0');
}

}  // namespace
