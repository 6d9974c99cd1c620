#pragma once

#include <QDialog>
#include <QRect>
#include <QString>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "link/serial/serial_port_map.h"

class CPortSettings;
class IPrompts;
class QAbstractButton;
class QComboBox;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

// The connection settings dialog: the link kind and its parameters, "Connect at start up",
// diagnostic logging with its folder, prefix and options, remote file I/O (a group hidden until
// Ctrl+Shift double click at the bottom left) and the relay server. Diagnostic logging and remote
// file I/O exclude each other. Each opening reads the settings file again; OK checks the folders
// (offering to create them), the length of the log file path and the number ranges, then writes
// the file. Every change handler first copies all control values into the settings, so the
// settings follow the controls even when the dialog is cancelled (until the next opening).
//
// Modal; UI thread. Messages go through `prompts`. Every control carries the object name "c<id>"
// of its resource id, so tests and the owner find it by id (Control()).
class PortSettingDlg : public QDialog {
  Q_OBJECT
 public:
  // Asks the user for a folder (title, starting folder); an empty result is a cancel.
  using FolderPicker = std::function<QString(QWidget* parent, const QString& title, const QString& start)>;
  // Shows the logging options for a logging options word and returns the word to keep.
  using OptionsDialog = std::function<int(QWidget* parent, int logOptions)>;

  // Control ids.
  static constexpr int kUseSerial = 1060;
  static constexpr int kUseCan = 1061;
  static constexpr int kUseNetwork = 1062;
  static constexpr int kAutoPortConfig = 1143;
  static constexpr int kPort = 1000;
  static constexpr int kBaudRate = 1001;
  static constexpr int kParity = 1002;
  static constexpr int kCanPort = 1052;
  static constexpr int kCanBusSpeed = 1053;
  static constexpr int kCanDestAddr = 1057;
  static constexpr int kConnectAtStartUp = 1009;
  static constexpr int kAutoReconnect = 1210;
  static constexpr int kLogEnable = 1067;
  static constexpr int kLogOptions = 1108;
  static constexpr int kLogPrefix = 1070;
  static constexpr int kLogFolder = 1068;
  static constexpr int kLogBrowse = 1146;
  static constexpr int kServer = 1198;
  static constexpr int kServerPort = 1201;
  static constexpr int kEnableAsServer = 1163;
  static constexpr int kOutputServerPort = 1202;
  static constexpr int kRliGroup = 1199;
  static constexpr int kRliFolderGroup = 1200;
  static constexpr int kRliEnable = 1071;
  static constexpr int kRliFolder = 1069;
  static constexpr int kRliBrowse = 1147;
  static constexpr int kOk = 1;
  static constexpr int kCancel = 2;

  // The dialog's size without the remote file I/O group; the group adds kRliExtraHeight.
  static constexpr int kBaseWidth = 560;
  static constexpr int kBaseHeight = 330;
  static constexpr int kRliExtraHeight = 78;
  // Ctrl+Shift double click here shows or hides the remote file I/O group.
  static constexpr QRect kRliHotSpot{2, 233, 107, 15};
  // What the file system takes: a name of up to 255 bytes, a path of up to 4,095 (4,096 with its
  // terminator). The log files are named folder/prefix + the longest tail the logger gives an
  // hour's file, the hour code and ".manifest.part" (21 characters).
  static constexpr std::size_t kMaxNameBytes = 255;
  static constexpr std::size_t kMaxPathBytes = 4095;
  static constexpr std::size_t kLogFileTailBytes = 21;
  // False (after its message) when a log file of `folder` and `prefix` would have a name or a
  // path longer than the file system takes.
  static bool CheckLogPathLength(const std::string& folder, const std::string& prefix, IPrompts& prompts);

  // Reads the settings file into `settings` and fills the controls. `ports` names the device
  // behind each COM slot in the port list; after the nine slots the list offers `stableDevices`
  // (the adapters under /dev/serial/by-id) by their names. Choosing one puts its path into a slot
  // (see CSerialPortMap::SlotFor), and OK stores it in section "SerialPorts", so the slot finds
  // the adapter again when it comes back as another ttyUSB. `settings` and `prompts` must outlive
  // the dialog.
  PortSettingDlg(
      CPortSettings& settings, IPrompts& prompts, const CSerialPortMap& ports, QWidget* parent = nullptr,
      std::vector<CSerialPortMap::StableDevice> stableDevices = CSerialPortMap::FindStableDevices());

  void SetFolderPicker(FolderPicker picker);
  // The "Options" button's dialog; by default CLoggingConfigOptionsDlg, modal, on this dialog's
  // settings file (tests replace it).
  void SetOptionsDialog(OptionsDialog dialog);
  static QString PlatformFolderPicker(QWidget* parent, const QString& title, const QString& start);

  // The control of a resource id; nullptr for an unknown id.
  QWidget* Control(int id) const;

  // A folder is usable when it is a directory, or when the user agrees to create it and every
  // missing level can be made, one level at a time. An empty path is never usable.
  static bool CheckFolder(const std::string& path, IPrompts& prompts);

  // OK: the checks, then the settings file. The dialog stays open when a check fails, and when
  // the file cannot be written (the message names the file and the reason).
  void accept() override;

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void BuildControls();
  QGroupBox* Group(int id, const QString& title, const QRect& rect);
  QLabel* Label(const QString& text, const QRect& rect);
  void Register(int id, QWidget* widget, const QRect& rect);
  void ConnectHandlers();

  // The data exchange: members to controls, and controls to members (without the range checks).
  void FillControls();
  void CopyFromControls();
  // OK's exchange of the number fields with their range checks; false after its message.
  bool CheckNumbers();
  void ApplyEnabling();
  void LayoutRliGroup();

  void OnAutoPortConfigClicked(bool checked);
  void OnLogEnableClicked(bool checked);
  void OnRliEnableClicked(bool checked);
  void OnOptions();
  void OnLogBrowse();
  void OnRliBrowse();

  CPortSettings& settings;
  IPrompts& prompts;
  CSerialPortMap ports;
  std::vector<CSerialPortMap::StableDevice> stableDevices;
  // The slot a stable device name was chosen for, written to "SerialPorts" by OK; -1: none.
  int stableSlot = -1;
  FolderPicker folderPicker;
  OptionsDialog optionsDialog;
  std::map<int, QWidget*> controls;

  QRadioButton* useSerial = nullptr;
  QRadioButton* useCan = nullptr;
  QRadioButton* useNetwork = nullptr;
  QCheckBox* autoPortConfig = nullptr;
  QComboBox* port = nullptr;
  QComboBox* baudRate = nullptr;
  QComboBox* parity = nullptr;
  QLabel* baudLabel = nullptr;
  QLabel* parityLabel = nullptr;
  QLabel* portLabel = nullptr;
  QComboBox* canPort = nullptr;
  QListWidget* canBusSpeed = nullptr;
  QLineEdit* canDestAddr = nullptr;
  QLabel* canPortLabel = nullptr;
  QLabel* canSpeedLabel = nullptr;
  QLabel* canAddrLabel = nullptr;
  QCheckBox* connectAtStartUp = nullptr;
  QCheckBox* autoReconnect = nullptr;
  QCheckBox* logEnable = nullptr;
  QPushButton* logOptions = nullptr;
  QLineEdit* logPrefix = nullptr;
  QLabel* prefixLabel = nullptr;
  QGroupBox* folderGroup = nullptr;
  QLineEdit* logFolder = nullptr;
  QPushButton* logBrowse = nullptr;
  QLineEdit* server = nullptr;
  QLineEdit* serverPort = nullptr;
  QLabel* serverLabel = nullptr;
  QLabel* serverPortLabel = nullptr;
  QCheckBox* enableAsServer = nullptr;
  QLineEdit* outputServerPort = nullptr;
  QCheckBox* rliEnable = nullptr;
  QLineEdit* rliFolder = nullptr;
  QPushButton* rliBrowse = nullptr;
  QPushButton* okButton = nullptr;
  QPushButton* cancelButton = nullptr;
};
