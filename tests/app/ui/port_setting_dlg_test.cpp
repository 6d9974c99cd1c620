#include "app/ui/port_setting_dlg.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "app/port_settings.h"
#include "app/settings_profile.h"
#include "support/prompt_recorder.h"
#include "support/temp_dir.h"

namespace {

class PortSettingDlgTest : public ::testing::Test {
 protected:
  void WriteIni(const std::string& connect) {
    std::ofstream(dir / "Plowview.ini") << "[Connect]\n" << connect;
  }

  std::unique_ptr<PortSettingDlg> Open() {
    CSerialPortMap ports;
    ports.SetPath(0, "/dev/ttyUSB0");
    ports.SetPath(2, "/dev/pts/7");
    auto dlg = std::make_unique<PortSettingDlg>(settings, prompts, ports);
    dlg->SetFolderPicker([this](QWidget*, const QString& title, const QString&) {
      pickerTitles << title;
      return pickerAnswer;
    });
    dlg->show();
    return dlg;
  }

  template <typename T>
  T* Get(PortSettingDlg& dlg, int id) {
    auto* control = qobject_cast<T*>(dlg.Control(id));
    EXPECT_NE(control, nullptr) << id;
    return control;
  }

  void SetText(PortSettingDlg& dlg, int id, const std::string& text) {
    QLineEdit* edit = Get<QLineEdit>(dlg, id);
    edit->clear();
    QTest::keyClicks(edit, QString::fromStdString(text));
  }

  void ClickOk(PortSettingDlg& dlg) { Get<QPushButton>(dlg, PortSettingDlg::kOk)->click(); }

  std::string Ini() { return ReadWholeFile(dir.Path() / "Plowview.ini"); }

  CTempDir dir;
  CSettingsProfile profile{dir.Path() / "Plowview.ini"};
  CPortSettings settings{profile, dir.Path()};
  CPromptRecorder prompts;
  QStringList pickerTitles;
  QString pickerAnswer;
};

// Paths are limited only by the file system: a name of 255 bytes, a path of 4,095. The longest
// file the logger makes is the folder, "/", the prefix and 21 more characters.
TEST_F(PortSettingDlgTest, LogPathLength_OnlyWhatTheFileSystemCannotTakeIsRefused) {
  const std::string refused =
      "The total length of the logging folder and the logging prefix must be under 4074 characters, with no "
      "folder name over 255 and a prefix of at most 234.";
  // A folder of a realistic depth and a prefix that the old 47-character limit refused.
  const std::string folder = dir / "home/someone/Documents/plowview-logs/tractor-7";
  std::filesystem::create_directories(folder);
  WriteIni("m_LogData=1\nm_LoggingFolder=" + folder + "\n");
  auto dlg = Open();
  SetText(*dlg, PortSettingDlg::kLogPrefix, "north-field_");
  ClickOk(*dlg);
  EXPECT_TRUE(prompts.Texts().empty());
  EXPECT_EQ(dlg->result(), QDialog::Accepted);
  EXPECT_NE(Ini().find("m_LoggingPrefix=north-field_\n"), std::string::npos) << Ini();

  struct Case {
    std::string folder;
    std::size_t prefixLength;
    bool fits;
  };
  // 16 levels of 240 characters: a path of about 3,900 characters.
  std::string deep = dir.Path().string();
  for (int level = 0; level < 16; ++level) deep += "/" + std::string(240, static_cast<char>('a' + level));
  std::filesystem::create_directories(deep);
  const std::size_t roomInDeep = 4073 - deep.size();
  const Case cases[] = {
      {folder, 234, true}, {folder, 235, false}, {deep, roomInDeep, true}, {deep, roomInDeep + 1, false}};
  for (const Case& c : cases) {
    CPromptRecorder messages;
    EXPECT_EQ(PortSettingDlg::CheckLogPathLength(c.folder, std::string(c.prefixLength, 'p'), messages),
              c.fits)
        << c.folder.size() << " + " << c.prefixLength;
    EXPECT_EQ(messages.Texts(), c.fits ? std::vector<std::string>{} : std::vector<std::string>{refused});
  }
  EXPECT_FALSE(PortSettingDlg::CheckLogPathLength(std::string(256, 'f'), "A_", prompts));
}

// A settings file that cannot be written is no confirmed choice: the dialog says which file and
// why, stays open, and the choices are still in it.
TEST_F(PortSettingDlgTest, SettingsFileCannotBeWritten_SaysWhyAndStaysOpen) {
  struct Case {
    const char* name;
    std::function<std::filesystem::path(const std::filesystem::path&)> make;  // the file to use
    const char* reason;
  };
  const Case cases[] = {
      {"a directory",
       [](const std::filesystem::path& d) {
         std::filesystem::create_directories(d / "Plowview.ini");
         return d / "Plowview.ini";
       },
       "Is a directory"},
      {"in a folder that is a file",
       [](const std::filesystem::path& d) {
         std::ofstream(d / "plain") << "x";
         return d / "plain" / "Plowview.ini";
       },
       "Not a directory"},
  };
  for (const Case& c : cases) {
    CTempDir where;
    const std::filesystem::path file = c.make(where.Path());
    CSettingsProfile unwritable(file);
    CPortSettings choices(unwritable, where.Path());
    CPromptRecorder messages;
    PortSettingDlg dlg(choices, messages, CSerialPortMap{});
    dlg.show();
    QComboBox* port = qobject_cast<QComboBox*>(dlg.Control(PortSettingDlg::kPort));
    ASSERT_NE(port, nullptr);
    port->setCurrentIndex(5);
    qobject_cast<QPushButton*>(dlg.Control(PortSettingDlg::kOk))->click();
    ASSERT_EQ(messages.Taken().size(), 1u) << c.name;
    EXPECT_EQ(messages.Taken()[0].text,
              "The settings could not be saved to:\n[ " + file.string() + " ]\n" + c.reason + ".")
        << c.name;
    EXPECT_EQ(messages.Taken()[0].icon, PromptIcon::Exclamation);
    EXPECT_TRUE(dlg.isVisible()) << c.name;
    EXPECT_NE(dlg.result(), QDialog::Accepted) << c.name;
    EXPECT_EQ(choices.port, 5) << c.name;
  }
}

TEST_F(PortSettingDlgTest, LoggingAndRemoteFileIo_ExcludeEachOther) {
  WriteIni("RLI_Vis=Y\nRLI_Ena=Y\nm_LogData=0\n");
  auto dlg = Open();
  QCheckBox* logging = Get<QCheckBox>(*dlg, PortSettingDlg::kLogEnable);
  QCheckBox* rli = Get<QCheckBox>(*dlg, PortSettingDlg::kRliEnable);
  ASSERT_TRUE(rli->isChecked());
  logging->click();
  EXPECT_EQ(prompts.Texts(),
            std::vector<std::string>{"Cannot enable Diagnostic Logging when\nRLI remote file I/O "
                                     "is already enabled."});
  EXPECT_FALSE(logging->isChecked());
  EXPECT_TRUE(rli->isChecked());
  EXPECT_EQ(settings.logData, 0);
  EXPECT_TRUE(settings.rliEnabled);
  EXPECT_FALSE(Get<QLineEdit>(*dlg, PortSettingDlg::kLogFolder)->isEnabled());

  // And the other way round.
  rli->click();
  ASSERT_FALSE(rli->isChecked());
  logging->click();
  ASSERT_TRUE(logging->isChecked());
  rli->click();
  EXPECT_EQ(prompts.Texts().back(),
            "Cannot enable RLI remote file I/O when\nDiagnostic Logging is already enabled.");
  EXPECT_FALSE(rli->isChecked());
  EXPECT_TRUE(logging->isChecked());
  EXPECT_FALSE(settings.rliEnabled);
}

TEST_F(PortSettingDlgTest, FileWithBothOn_OpensWithRemoteFileIoOff) {
  WriteIni("RLI_Vis=Y\nRLI_Ena=Y\nm_LogData=1\n");
  auto dlg = Open();
  EXPECT_TRUE(Get<QCheckBox>(*dlg, PortSettingDlg::kLogEnable)->isChecked());
  EXPECT_FALSE(Get<QCheckBox>(*dlg, PortSettingDlg::kRliEnable)->isChecked());
  EXPECT_FALSE(settings.rliEnabled);
  EXPECT_TRUE(prompts.Texts().empty());
}

TEST_F(PortSettingDlgTest, FolderPicker_CancelWithEmptyFolderSwitchesLoggingOffAChoiceIsTaken) {
  WriteIni("m_LogData=0\nm_LoggingFolder=\n");
  auto dlg = Open();
  QCheckBox* logging = Get<QCheckBox>(*dlg, PortSettingDlg::kLogEnable);
  logging->click();
  ASSERT_TRUE(logging->isChecked());
  EXPECT_TRUE(Get<QLineEdit>(*dlg, PortSettingDlg::kLogFolder)->isEnabled());

  pickerAnswer.clear();
  Get<QPushButton>(*dlg, PortSettingDlg::kLogBrowse)->click();
  EXPECT_EQ(pickerTitles, QStringList{"Pick a Directory"});
  EXPECT_FALSE(logging->isChecked());
  EXPECT_EQ(settings.logData, 0);
  EXPECT_FALSE(Get<QPushButton>(*dlg, PortSettingDlg::kLogBrowse)->isEnabled());

  logging->click();
  pickerAnswer = QString::fromStdString(dir / "logs");
  Get<QPushButton>(*dlg, PortSettingDlg::kLogBrowse)->click();
  EXPECT_TRUE(logging->isChecked());
  EXPECT_EQ(Get<QLineEdit>(*dlg, PortSettingDlg::kLogFolder)->text().toStdString(), dir / "logs");
  // A cancel with a folder already set changes nothing.
  pickerAnswer.clear();
  Get<QPushButton>(*dlg, PortSettingDlg::kLogBrowse)->click();
  EXPECT_TRUE(logging->isChecked());
  EXPECT_EQ(settings.loggingFolder, dir / "logs");
}

TEST_F(PortSettingDlgTest, NumberFields_OutOfRangeKeepTheDialogOpenWithTheStandardMessage) {
  struct Case {
    int id;
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {PortSettingDlg::kCanDestAddr, "0", "Enter an integer between 1 and 254."},
      {PortSettingDlg::kCanDestAddr, "255", "Enter an integer between 1 and 254."},
      {PortSettingDlg::kCanDestAddr, "abc", "Please enter an integer."},
      {PortSettingDlg::kOutputServerPort, "0", "Enter an integer between 1 and 40000."},
      {PortSettingDlg::kOutputServerPort, "40001", "Enter an integer between 1 and 40000."},
      {PortSettingDlg::kServerPort, "", "Please enter an integer."},
  };
  for (const Case& c : cases) {
    CPromptRecorder local;
    CSerialPortMap ports;
    CPortSettings fresh(profile, dir.Path());
    PortSettingDlg dlg(fresh, local, ports);
    // The CAN address edit is only enabled for the CAN link; typing needs it enabled.
    Get<QRadioButton>(dlg, PortSettingDlg::kUseCan)->click();
    Get<QLineEdit>(dlg, c.id)->setEnabled(true);
    dlg.show();
    SetText(dlg, c.id, c.text);
    ClickOk(dlg);
    EXPECT_EQ(local.Texts(), std::vector<std::string>{c.message}) << c.id << " " << c.text;
    EXPECT_TRUE(dlg.isVisible()) << c.id << " " << c.text;
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "Plowview.ini"));
  }
  // The bounds themselves pass.
  auto dlg = Open();
  Get<QRadioButton>(*dlg, PortSettingDlg::kUseCan)->click();
  SetText(*dlg, PortSettingDlg::kCanDestAddr, "254");
  SetText(*dlg, PortSettingDlg::kOutputServerPort, "40000");
  ClickOk(*dlg);
  EXPECT_TRUE(prompts.Texts().empty());
  EXPECT_NE(Ini().find("CanBusDestAddr=254\n"), std::string::npos);
  EXPECT_NE(Ini().find("m_OutputServerPort=40000\n"), std::string::npos);
  EXPECT_NE(Ini().find("SerialPortOrCanBus=1\n"), std::string::npos);
}

TEST_F(PortSettingDlgTest, FolderCheck_AsksThenCreatesEveryMissingLevel) {
  const std::string deep = dir / "a/b/c";
  CPromptRecorder no;
  EXPECT_FALSE(PortSettingDlg::CheckFolder(deep, no));
  ASSERT_EQ(no.Taken().size(), 1u);
  EXPECT_EQ(no.Taken()[0].text,
            "The folder:\n[ " + deep + " ]\ndoes not exist.\nWould you like to create it?");
  EXPECT_EQ(no.Taken()[0].icon, PromptIcon::Question);
  EXPECT_EQ(no.Taken()[0].buttons, PromptButtons::YesNo);
  EXPECT_FALSE(std::filesystem::exists(dir / "a"));

  CPromptRecorder yes;
  yes.Answer(PromptAnswer::Yes);
  EXPECT_TRUE(PortSettingDlg::CheckFolder(deep, yes));
  EXPECT_TRUE(std::filesystem::is_directory(deep));
  // An existing folder is usable without a question; an empty path never is.
  EXPECT_TRUE(PortSettingDlg::CheckFolder(deep, no));
  EXPECT_FALSE(PortSettingDlg::CheckFolder("", no));
  EXPECT_EQ(no.Taken().size(), 1u);
  // A level that is a file blocks the creation: not usable.
  std::ofstream(dir / "file") << "x";
  CPromptRecorder yes2;
  yes2.Answer(PromptAnswer::Yes);
  EXPECT_FALSE(PortSettingDlg::CheckFolder(dir / "file/sub", yes2));
}

TEST_F(PortSettingDlgTest, Ok_InvalidFoldersKeepTheDialogOpen) {
  std::ofstream(dir / "file") << "x";
  WriteIni("m_LogData=1\nm_LoggingFolder=" + (dir / "file/logs") + "\n");
  auto dlg = Open();
  prompts.Answer(PromptAnswer::Yes);
  ClickOk(*dlg);
  ASSERT_EQ(prompts.Texts().size(), 2u);
  EXPECT_EQ(prompts.Texts()[1], "The directory specified for logging is invalid.");
  EXPECT_TRUE(dlg->isVisible());
}

TEST_F(PortSettingDlgTest, HiddenGroup_CtrlShiftDoubleClickAtTheSpotTogglesIt) {
  auto dlg = Open();
  EXPECT_FALSE(dlg->Control(PortSettingDlg::kRliEnable)->isVisible());
  EXPECT_EQ(dlg->height(), PortSettingDlg::kBaseHeight);
  auto doubleClick = [&](QPoint pos, Qt::KeyboardModifiers modifiers) {
    QMouseEvent event(QEvent::MouseButtonDblClick, QPointF(pos), QPointF(dlg->mapToGlobal(pos)),
                      Qt::LeftButton, Qt::LeftButton, modifiers);
    QApplication::sendEvent(dlg.get(), &event);
  };
  doubleClick({50, 240}, Qt::ControlModifier);
  doubleClick({109, 240}, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_FALSE(dlg->Control(PortSettingDlg::kRliEnable)->isVisible());
  doubleClick({2, 233}, Qt::ControlModifier | Qt::ShiftModifier);
  for (int id : {PortSettingDlg::kRliGroup, PortSettingDlg::kRliEnable, PortSettingDlg::kRliFolderGroup,
                 PortSettingDlg::kRliFolder, PortSettingDlg::kRliBrowse})
    EXPECT_TRUE(dlg->Control(id)->isVisible()) << id;
  EXPECT_EQ(dlg->height(), PortSettingDlg::kBaseHeight + 78);
  EXPECT_TRUE(settings.rliVisible);
  // Nothing on the spot takes the click away from the dialog.
  QWidget* atSpot = dlg->childAt(50, 240);
  EXPECT_TRUE(atSpot == nullptr || atSpot->testAttribute(Qt::WA_TransparentForMouseEvents));
  doubleClick({108, 247}, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_FALSE(dlg->Control(PortSettingDlg::kRliEnable)->isVisible());
  EXPECT_EQ(dlg->height(), PortSettingDlg::kBaseHeight);
}

TEST_F(PortSettingDlgTest, Enabling_FollowsLinkKindAutoConfigurationAndLogging) {
  auto dlg = Open();
  auto enabled = [&](std::initializer_list<int> ids) {
    std::vector<bool> e;
    for (int id : ids) e.push_back(dlg->Control(id)->isEnabled());
    return e;
  };
  const auto linkControls = {PortSettingDlg::kAutoPortConfig, PortSettingDlg::kPort,
                             PortSettingDlg::kBaudRate,       PortSettingDlg::kParity,
                             PortSettingDlg::kCanPort,        PortSettingDlg::kCanBusSpeed,
                             PortSettingDlg::kCanDestAddr,    PortSettingDlg::kServer,
                             PortSettingDlg::kServerPort,     PortSettingDlg::kOutputServerPort};
  // Defaults: serial with auto port configuration.
  EXPECT_EQ(enabled(linkControls),
            (std::vector<bool>{true, true, false, false, false, false, false, false, false, true}));
  Get<QRadioButton>(*dlg, PortSettingDlg::kUseCan)->click();
  EXPECT_EQ(enabled(linkControls),
            (std::vector<bool>{false, false, false, false, true, true, true, false, false, true}));
  Get<QRadioButton>(*dlg, PortSettingDlg::kUseNetwork)->click();
  EXPECT_EQ(enabled(linkControls),
            (std::vector<bool>{false, false, false, false, false, false, false, true, true, true}));
  EXPECT_EQ(settings.serialPortOrCanBus, 2);

  // Switching auto configuration off asks first; No keeps it on.
  Get<QRadioButton>(*dlg, PortSettingDlg::kUseSerial)->click();
  QCheckBox* autoConfig = Get<QCheckBox>(*dlg, PortSettingDlg::kAutoPortConfig);
  autoConfig->click();
  EXPECT_TRUE(autoConfig->isChecked());
  ASSERT_EQ(prompts.Taken().size(), 1u);
  EXPECT_EQ(
      prompts.Taken()[0].text,
      "Warning: It is recommended that you use 'Auto Port Configuration'.\nDo you really want to set the "
      "connection parameters manually?");
  prompts.Answer(PromptAnswer::Yes);
  autoConfig->click();
  EXPECT_FALSE(autoConfig->isChecked());
  EXPECT_EQ(settings.highSpeedKavo, 0);
  EXPECT_EQ(enabled({PortSettingDlg::kBaudRate, PortSettingDlg::kParity}), (std::vector<bool>{true, true}));

  const auto loggingControls = {PortSettingDlg::kLogFolder, PortSettingDlg::kLogPrefix,
                                PortSettingDlg::kLogOptions, PortSettingDlg::kLogBrowse,
                                PortSettingDlg::kConnectAtStartUp};
  EXPECT_EQ(enabled(loggingControls), (std::vector<bool>{false, false, false, false, true}));
  Get<QCheckBox>(*dlg, PortSettingDlg::kLogEnable)->click();
  EXPECT_EQ(enabled(loggingControls), (std::vector<bool>{true, true, true, true, false}));
}

TEST_F(PortSettingDlgTest, Lists_ShowSlotsWithDevicesAndTheStoredChoices) {
  WriteIni("Port=2\nBaudRate=1\nParity=2\nCanBusBusSpeed=3\nCanBusPort=1\n");
  auto dlg = Open();
  QComboBox* port = Get<QComboBox>(*dlg, PortSettingDlg::kPort);
  ASSERT_EQ(port->count(), 9);
  EXPECT_EQ(port->itemText(0), "COM1 (/dev/ttyUSB0)");
  EXPECT_EQ(port->itemText(1), "COM2 (not mapped)");
  EXPECT_EQ(port->itemText(8), "COM9 (not mapped)");
  EXPECT_EQ(port->currentIndex(), 2);
  EXPECT_EQ(port->currentText(), "COM3 (/dev/pts/7)");
  EXPECT_EQ(Get<QComboBox>(*dlg, PortSettingDlg::kBaudRate)->currentText(), "4800");
  EXPECT_EQ(Get<QComboBox>(*dlg, PortSettingDlg::kParity)->currentText(), "Even");
  EXPECT_EQ(Get<QListWidget>(*dlg, PortSettingDlg::kCanBusSpeed)->currentItem()->text(), " 850 Bps");
  EXPECT_EQ(Get<QComboBox>(*dlg, PortSettingDlg::kCanPort)->currentText(), "Port 1");

  // The picture of the dialog in the README, taken with $PLOWVIEW_SCREENSHOT_DIR set.
  if (const char* out = std::getenv("PLOWVIEW_SCREENSHOT_DIR"); out && *out) {
    EXPECT_TRUE(dlg->grab().save(QDir(QString::fromLocal8Bit(out)).filePath("port_setting_dlg.png"), "PNG"));
  }
}

TEST_F(PortSettingDlgTest, Cancel_WritesNothingButTheMembersFollowTheControls) {
  auto dlg = Open();
  Get<QComboBox>(*dlg, PortSettingDlg::kPort)->setCurrentIndex(4);
  Get<QPushButton>(*dlg, PortSettingDlg::kCancel)->click();
  EXPECT_EQ(dlg->result(), QDialog::Rejected);
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "Plowview.ini"));
  EXPECT_EQ(settings.port, 4);
}

// An adapter plugged in again may come back as another ttyUSB; its by-id name stays. Chosen by
// that name, the slot stores the name, and the next connection opens whatever it points at.
TEST_F(PortSettingDlgTest, StableAdapterName_OfferedByNameAndStoredForTheSlotOfItsDevice) {
  CTempDir devices;
  std::ofstream(devices / "ttyUSB0");
  std::ofstream(devices / "ttyUSB1");
  std::filesystem::create_directories(devices.Path() / "by-id");
  const std::string stable = devices / "by-id/usb-FTDI_FT232R_USB_UART_A1234567-if00-port0";
  std::filesystem::create_symlink(devices / "ttyUSB1", stable);
  CSerialPortMap ports;
  ports.SetPath(0, devices / "ttyUSB0");
  ports.SetPath(1, devices / "ttyUSB1");
  WriteIni("Port=0\n");

  PortSettingDlg dlg(settings, prompts, ports, nullptr, CSerialPortMap::FindStableDevices(devices / "by-id"));
  auto* list = Get<QComboBox>(dlg, PortSettingDlg::kPort);
  ASSERT_EQ(list->count(), CSerialPortMap::kSlotCount + 1);
  EXPECT_EQ(list->itemText(CSerialPortMap::kSlotCount).toStdString(), "by-id: FTDI FT232R USB UART A1234567");
  list->setCurrentIndex(CSerialPortMap::kSlotCount);
  EXPECT_EQ(settings.port, 1);
  ClickOk(dlg);
  const std::string ini = Ini();
  EXPECT_NE(ini.find("Port=1\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("[SerialPorts]\nCOM2=" + stable + "\n"), std::string::npos) << ini;

  // A slot number from the file never selects one of the names after the slots.
  WriteIni("Port=9\n");
  PortSettingDlg again(settings, prompts, ports, nullptr,
                       CSerialPortMap::FindStableDevices(devices / "by-id"));
  EXPECT_EQ(Get<QComboBox>(again, PortSettingDlg::kPort)->currentIndex(), -1);
}

}  // namespace
