#include "app/ui/port_setting_dlg.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <climits>
#include <filesystem>
#include <system_error>

#include "app/port_settings.h"
#include "app/settings_profile.h"
#include "app/settings_snapshot.h"
#include "dat/ui/logging_config_options_dlg.h"
#include "link/protocol/prompts.h"

namespace {

const char* const kLoggingAndRli =
    "Cannot enable Diagnostic Logging when\nRLI remote file I/O is already enabled.";
const char* const kRliAndLogging =
    "Cannot enable RLI remote file I/O when\nDiagnostic Logging is already enabled.";
const char* const kManualPortWarning =
    "Warning: It is recommended that you use 'Auto Port Configuration'.\nDo you really want to set the "
    "connection parameters manually?";

// What the port list shows for a slot's device: an adapter under its stable name by that name.
std::string DeviceLabel(const std::string& path) {
  if (path.empty()) return "not mapped";
  const std::string stableDir = std::string(CSerialPortMap::kStableNameDir) + "/";
  if (path.rfind(stableDir, 0) == 0) return CSerialPortMap::AdapterName(path.substr(stableDir.size()));
  return path;
}

bool IsDirectory(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

// An integer field as the dialog data exchange reads it: blanks, an optional sign, digits, blanks.
bool ParseDialogInt(const QString& text, int& value) {
  const QString trimmed = text.trimmed();
  bool ok = false;
  const long long parsed = trimmed.toLongLong(&ok, 10);
  if (!ok || parsed < INT_MIN || parsed > INT_MAX) return false;
  value = static_cast<int>(parsed);
  return true;
}

}  // namespace

PortSettingDlg::PortSettingDlg(CPortSettings& settingsRef, IPrompts& promptsRef,
                               const CSerialPortMap& portMap, QWidget* parent,
                               std::vector<CSerialPortMap::StableDevice> stable)
    : QDialog(parent),
      settings(settingsRef),
      prompts(promptsRef),
      ports(portMap),
      stableDevices(std::move(stable)),
      folderPicker(&PortSettingDlg::PlatformFolderPicker),
      optionsDialog([this](QWidget* parent, int logOptions) {
        return CLoggingConfigOptionsDlg::Run(settings.Profile(), prompts, parent, logOptions);
      }) {
  setWindowTitle(QString());
  BuildControls();
  ConnectHandlers();

  settings.LoadSettings();
  // The two may not run together; a file that has both keeps logging.
  if (settings.logData && settings.rliEnabled) settings.rliEnabled = false;
  FillControls();
  LayoutRliGroup();
  ApplyEnabling();
}

void PortSettingDlg::SetFolderPicker(FolderPicker picker) {
  if (picker) folderPicker = std::move(picker);
}

void PortSettingDlg::SetOptionsDialog(OptionsDialog dialog) {
  if (dialog) optionsDialog = std::move(dialog);
}

QString PortSettingDlg::PlatformFolderPicker(QWidget* parent, const QString& title, const QString& start) {
  return QFileDialog::getExistingDirectory(parent, title, start);
}

QWidget* PortSettingDlg::Control(int id) const {
  const auto it = controls.find(id);
  return it == controls.end() ? nullptr : it->second;
}

void PortSettingDlg::Register(int id, QWidget* widget, const QRect& rect) {
  widget->setObjectName(QStringLiteral("c%1").arg(id));
  widget->setGeometry(rect);
  controls[id] = widget;
}

QGroupBox* PortSettingDlg::Group(int id, const QString& title, const QRect& rect) {
  auto* group = new QGroupBox(title, this);
  group->setGeometry(rect);
  // Frames only: clicks on them belong to the dialog (the hidden group's hot spot lies on one).
  group->setAttribute(Qt::WA_TransparentForMouseEvents);
  if (id) Register(id, group, rect);
  return group;
}

QLabel* PortSettingDlg::Label(const QString& text, const QRect& rect) {
  auto* label = new QLabel(text, this);
  label->setGeometry(rect);
  return label;
}

void PortSettingDlg::BuildControls() {
  // Frames first, so that the controls lie above them.
  Group(0, QStringLiteral("Serial"), {8, 6, 268, 152});
  Group(0, QStringLiteral("Network"), {8, 164, 268, 74});
  Group(0, QStringLiteral("CanBus"), {284, 6, 268, 140});
  Group(0, QStringLiteral("Diagnostic Logging ( LogRowan )"), {284, 152, 268, 130});
  folderGroup = Group(0, QStringLiteral("Directory"), {292, 226, 252, 50});
  Group(kRliGroup, QStringLiteral("RLI"), {8, 330, 268, 70});
  Group(kRliFolderGroup, QStringLiteral("Virtual CF Card Directory"), {284, 330, 268, 70});

  useSerial = new QRadioButton(QStringLiteral("Use Serial Link"), this);
  Register(kUseSerial, useSerial, {18, 26, 200, 22});
  autoPortConfig = new QCheckBox(QStringLiteral("Auto Port Configuration"), this);
  Register(kAutoPortConfig, autoPortConfig, {36, 50, 220, 22});
  portLabel = Label(QStringLiteral("Port"), {36, 78, 48, 22});
  port = new QComboBox(this);
  for (int slot = 0; slot < CSerialPortMap::kSlotCount; ++slot) {
    const std::string& path = ports.Path(slot);
    port->addItem(QString::fromStdString(CSerialPortMap::SlotKey(slot) + " (" + DeviceLabel(path) + ")"));
  }
  for (const CSerialPortMap::StableDevice& device : stableDevices) {
    port->addItem(QString::fromStdString("by-id: " + device.name), QString::fromStdString(device.path));
    port->setItemData(port->count() - 1, QString::fromStdString(device.path), Qt::ToolTipRole);
  }
  port->view()->setMinimumWidth(360);
  Register(kPort, port, {88, 76, 180, 24});
  baudLabel = Label(QStringLiteral("Baud"), {36, 104, 48, 22});
  baudRate = new QComboBox(this);
  baudRate->addItems({"2400", "4800", "9600", "19200", "38400"});
  Register(kBaudRate, baudRate, {88, 102, 100, 24});
  parityLabel = Label(QStringLiteral("Parity"), {36, 130, 48, 22});
  parity = new QComboBox(this);
  parity->addItems({"None", "Odd", "Even"});
  Register(kParity, parity, {88, 128, 100, 24});

  useNetwork = new QRadioButton(QStringLiteral("Use Network Link"), this);
  Register(kUseNetwork, useNetwork, {18, 182, 200, 22});
  serverLabel = Label(QStringLiteral("Server"), {18, 208, 44, 22});
  server = new QLineEdit(this);
  Register(kServer, server, {64, 206, 112, 24});
  serverPortLabel = Label(QStringLiteral("Port"), {184, 208, 30, 22});
  serverPort = new QLineEdit(this);
  serverPort->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
  Register(kServerPort, serverPort, {216, 206, 52, 24});

  enableAsServer = new QCheckBox(QStringLiteral("Enable as Server"), this);
  Register(kEnableAsServer, enableAsServer, {118, 244, 156, 22});
  Label(QStringLiteral("Server Port"), {118, 270, 80, 22});
  outputServerPort = new QLineEdit(this);
  outputServerPort->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
  Register(kOutputServerPort, outputServerPort, {200, 268, 70, 24});
  connectAtStartUp = new QCheckBox(QStringLiteral("&Connect at start up"), this);
  Register(kConnectAtStartUp, connectAtStartUp, {12, 298, 200, 22});
  autoReconnect = new QCheckBox(QStringLiteral("Reconnect automatically"), this);
  Register(kAutoReconnect, autoReconnect, {214, 298, 166, 22});

  useCan = new QRadioButton(QStringLiteral("Use CanBus Link"), this);
  Register(kUseCan, useCan, {294, 26, 180, 22});
  canPortLabel = Label(QStringLiteral("Can Port"), {300, 52, 84, 22});
  canPort = new QComboBox(this);
  canPort->addItems({"Port 0", "Port 1"});
  Register(kCanPort, canPort, {388, 50, 70, 24});
  canAddrLabel = Label(QStringLiteral("Dest Address"), {300, 80, 84, 22});
  canDestAddr = new QLineEdit(this);
  Register(kCanDestAddr, canDestAddr, {388, 78, 50, 24});
  canSpeedLabel = Label(QStringLiteral("Bus Speed"), {466, 22, 80, 20});
  canBusSpeed = new QListWidget(this);
  canBusSpeed->addItems({"250 Bps", " 125 Bps", " 500 Bps", " 850 Bps"});
  Register(kCanBusSpeed, canBusSpeed, {466, 44, 80, 94});

  logEnable = new QCheckBox(QStringLiteral("Enable"), this);
  Register(kLogEnable, logEnable, {294, 172, 100, 22});
  logOptions = new QPushButton(QStringLiteral("Options"), this);
  Register(kLogOptions, logOptions, {462, 170, 82, 26});
  prefixLabel = Label(QStringLiteral("Prefix"), {294, 200, 44, 22});
  logPrefix = new QLineEdit(this);
  Register(kLogPrefix, logPrefix, {340, 198, 110, 24});
  logFolder = new QLineEdit(this);
  Register(kLogFolder, logFolder, {300, 244, 170, 24});
  logBrowse = new QPushButton(QStringLiteral("Browse"), this);
  Register(kLogBrowse, logBrowse, {476, 242, 62, 26});

  rliEnable = new QCheckBox(QStringLiteral("Enable remote file I/O"), this);
  Register(kRliEnable, rliEnable, {18, 356, 240, 22});
  rliFolder = new QLineEdit(this);
  Register(kRliFolder, rliFolder, {292, 356, 180, 24});
  rliBrowse = new QPushButton(QStringLiteral("Browse"), this);
  Register(kRliBrowse, rliBrowse, {478, 354, 64, 26});

  okButton = new QPushButton(QStringLiteral("OK"), this);
  okButton->setDefault(true);
  Register(kOk, okButton, {384, 294, 80, 28});
  cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
  Register(kCancel, cancelButton, {472, 294, 80, 28});
}

void PortSettingDlg::ConnectHandlers() {
  auto copy = [this] { CopyFromControls(); };
  auto copyAndEnable = [this](bool checked) {
    if (!checked) return;
    CopyFromControls();
    ApplyEnabling();
  };
  connect(useSerial, &QRadioButton::toggled, this, copyAndEnable);
  connect(useCan, &QRadioButton::toggled, this, copyAndEnable);
  connect(useNetwork, &QRadioButton::toggled, this, copyAndEnable);
  connect(autoPortConfig, &QCheckBox::clicked, this, &PortSettingDlg::OnAutoPortConfigClicked);
  for (QComboBox* box : {port, baudRate, parity, canPort})
    connect(box, &QComboBox::currentIndexChanged, this, copy);
  connect(canBusSpeed, &QListWidget::currentRowChanged, this, copy);
  for (QLineEdit* edit : {canDestAddr, logPrefix, logFolder, server, serverPort, outputServerPort, rliFolder})
    connect(edit, &QLineEdit::textEdited, this, copy);
  connect(connectAtStartUp, &QCheckBox::clicked, this, copy);
  connect(autoReconnect, &QCheckBox::clicked, this, copy);
  connect(enableAsServer, &QCheckBox::clicked, this, copy);
  connect(logEnable, &QCheckBox::clicked, this, &PortSettingDlg::OnLogEnableClicked);
  connect(rliEnable, &QCheckBox::clicked, this, &PortSettingDlg::OnRliEnableClicked);
  connect(logOptions, &QPushButton::clicked, this, &PortSettingDlg::OnOptions);
  connect(logBrowse, &QPushButton::clicked, this, &PortSettingDlg::OnLogBrowse);
  connect(rliBrowse, &QPushButton::clicked, this, &PortSettingDlg::OnRliBrowse);
  connect(okButton, &QPushButton::clicked, this, &PortSettingDlg::accept);
  connect(cancelButton, &QPushButton::clicked, this, &PortSettingDlg::reject);
}

void PortSettingDlg::FillControls() {
  const QSignalBlocker b1(useSerial), b2(useCan), b3(useNetwork), b4(port), b5(baudRate), b6(parity),
      b7(canPort), b8(canBusSpeed);
  switch (settings.serialPortOrCanBus) {
    case CPortSettings::kLinkSerial:
      useSerial->setChecked(true);
      break;
    case CPortSettings::kLinkCan:
      useCan->setChecked(true);
      break;
    default:
      useNetwork->setChecked(true);
      break;
  }
  autoPortConfig->setChecked(settings.highSpeedKavo != 0);
  port->setCurrentIndex(settings.port >= 0 && settings.port < CSerialPortMap::kSlotCount ? settings.port
                                                                                         : -1);
  baudRate->setCurrentIndex(
      settings.baudRate >= 0 && settings.baudRate < baudRate->count() ? settings.baudRate : -1);
  parity->setCurrentIndex(settings.parity >= 0 && settings.parity < parity->count() ? settings.parity : -1);
  canPort->setCurrentIndex(settings.canBusPort >= 0 && settings.canBusPort < 2 ? settings.canBusPort : -1);
  canBusSpeed->setCurrentRow(settings.canBusBusSpeed >= 0 && settings.canBusBusSpeed < canBusSpeed->count()
                                 ? settings.canBusBusSpeed
                                 : -1);
  canDestAddr->setText(QString::number(settings.canBusDestAddr));
  connectAtStartUp->setChecked(settings.autoConnect != 0);
  autoReconnect->setChecked(settings.autoReconnect != 0);
  logEnable->setChecked(settings.logData != 0);
  logPrefix->setText(QString::fromStdString(settings.loggingPrefix));
  logFolder->setText(QString::fromStdString(settings.loggingFolder));
  server->setText(QString::fromStdString(settings.serverAddress));
  serverPort->setText(QString::number(settings.serverPort));
  enableAsServer->setChecked(settings.enableAsServer != 0);
  outputServerPort->setText(QString::number(settings.outputServerPort));
  rliEnable->setChecked(settings.rliEnabled);
  rliFolder->setText(QString::fromStdString(settings.rliFolder));
}

void PortSettingDlg::CopyFromControls() {
  if (useSerial->isChecked())
    settings.serialPortOrCanBus = CPortSettings::kLinkSerial;
  else if (useCan->isChecked())
    settings.serialPortOrCanBus = CPortSettings::kLinkCan;
  else if (useNetwork->isChecked())
    settings.serialPortOrCanBus = CPortSettings::kLinkNetwork;
  settings.highSpeedKavo = autoPortConfig->isChecked() ? 1 : 0;
  // A list without a selection keeps the setting it had.
  if (port->currentIndex() >= CSerialPortMap::kSlotCount) {
    const std::string path = port->currentData().toString().toStdString();
    stableSlot = ports.SlotFor(path, settings.port);
    ports.SetPath(stableSlot, path);
    settings.port = stableSlot;
  } else if (port->currentIndex() >= 0) {
    settings.port = port->currentIndex();
    stableSlot = -1;
  }
  if (baudRate->currentIndex() >= 0) settings.baudRate = baudRate->currentIndex();
  if (parity->currentIndex() >= 0) settings.parity = parity->currentIndex();
  if (canPort->currentIndex() >= 0) settings.canBusPort = canPort->currentIndex();
  if (canBusSpeed->currentRow() >= 0) settings.canBusBusSpeed = canBusSpeed->currentRow();
  int number = 0;
  if (ParseDialogInt(canDestAddr->text(), number)) settings.canBusDestAddr = number;
  if (ParseDialogInt(serverPort->text(), number)) settings.serverPort = number;
  if (ParseDialogInt(outputServerPort->text(), number)) settings.outputServerPort = number;
  settings.autoConnect = connectAtStartUp->isChecked() ? 1 : 0;
  settings.autoReconnect = autoReconnect->isChecked() ? 1 : 0;
  settings.logData = logEnable->isChecked() ? 1 : 0;
  settings.loggingPrefix = logPrefix->text().toStdString();
  settings.loggingFolder = logFolder->text().toStdString();
  settings.serverAddress = server->text().toStdString();
  settings.enableAsServer = enableAsServer->isChecked() ? 1 : 0;
  settings.rliEnabled = rliEnable->isChecked();
  settings.rliFolder = rliFolder->text().toStdString();
}

bool PortSettingDlg::CheckNumbers() {
  struct Field {
    QLineEdit* edit;
    int* member;
    bool ranged;
    int low;
    int high;
  };
  const Field fields[] = {
      {canDestAddr, &settings.canBusDestAddr, true, 1, 254},
      {serverPort, &settings.serverPort, false, 0, 0},
      {outputServerPort, &settings.outputServerPort, true, 1, 40000},
  };
  for (const Field& f : fields) {
    int value = 0;
    std::string failure;
    if (!ParseDialogInt(f.edit->text(), value)) {
      failure = "Please enter an integer.";
    } else if (f.ranged && (value < f.low || value > f.high)) {
      failure = QStringLiteral("Enter an integer between %1 and %2.").arg(f.low).arg(f.high).toStdString();
    }
    if (!failure.empty()) {
      prompts.MessageBox(failure, "Plowview", PromptIcon::Exclamation);
      f.edit->setFocus();
      f.edit->selectAll();
      return false;
    }
    *f.member = value;
  }
  return true;
}

void PortSettingDlg::ApplyEnabling() {
  const bool logging = logEnable->isChecked();
  for (QWidget* w :
       std::initializer_list<QWidget*>{folderGroup, logFolder, prefixLabel, logPrefix, logOptions, logBrowse})
    w->setEnabled(logging);
  connectAtStartUp->setEnabled(!logging);

  const bool serial = useSerial->isChecked();
  const bool manual = serial && !autoPortConfig->isChecked();
  for (QWidget* w : std::initializer_list<QWidget*>{autoPortConfig, portLabel, port}) w->setEnabled(serial);
  for (QWidget* w : std::initializer_list<QWidget*>{baudLabel, baudRate, parityLabel, parity})
    w->setEnabled(manual);

  const bool can = useCan->isChecked();
  for (QWidget* w : std::initializer_list<QWidget*>{canPortLabel, canPort, canSpeedLabel, canBusSpeed,
                                                    canAddrLabel, canDestAddr})
    w->setEnabled(can);
  const bool network = useNetwork->isChecked();
  for (QWidget* w : std::initializer_list<QWidget*>{serverLabel, server, serverPortLabel, serverPort})
    w->setEnabled(network);
  outputServerPort->setEnabled(true);

  const bool rli = rliEnable->isChecked();
  rliBrowse->setEnabled(rli);
  rliFolder->setEnabled(rli);
}

void PortSettingDlg::LayoutRliGroup() {
  const bool visible = settings.rliVisible;
  for (int id : {kRliGroup, kRliEnable, kRliFolderGroup, kRliBrowse, kRliFolder})
    controls[id]->setVisible(visible);
  setFixedSize(kBaseWidth, kBaseHeight + (visible ? kRliExtraHeight : 0));
}

void PortSettingDlg::OnAutoPortConfigClicked(bool checked) {
  CopyFromControls();
  if (!checked && prompts.MessageBox(kManualPortWarning, "Plowview", PromptIcon::Exclamation,
                                     PromptButtons::YesNo) != PromptAnswer::Yes) {
    autoPortConfig->setChecked(true);
    settings.highSpeedKavo = 1;
  }
  ApplyEnabling();
}

void PortSettingDlg::OnLogEnableClicked(bool checked) {
  CopyFromControls();
  if (checked && settings.rliEnabled) {
    prompts.MessageBox(kLoggingAndRli, "Plowview", PromptIcon::Exclamation);
    logEnable->setChecked(false);
    settings.logData = 0;
    ApplyEnabling();
    return;
  }
  ApplyEnabling();
  if (checked && settings.loggingFolder.empty()) logFolder->setFocus();
}

void PortSettingDlg::OnRliEnableClicked(bool checked) {
  CopyFromControls();
  if (checked && settings.logData) {
    prompts.MessageBox(kRliAndLogging, "Plowview", PromptIcon::Exclamation);
    rliEnable->setChecked(false);
    settings.rliEnabled = false;
  }
  ApplyEnabling();
}

void PortSettingDlg::OnOptions() {
  CopyFromControls();
  settings.logOptions = optionsDialog(this, settings.logOptions);
}

void PortSettingDlg::OnLogBrowse() {
  CopyFromControls();
  okButton->setFocus();
  const QString chosen =
      folderPicker(this, QStringLiteral("Pick a Directory"), QString::fromStdString(settings.loggingFolder));
  if (!chosen.isEmpty()) {
    settings.loggingFolder = chosen.toStdString();
  } else if (settings.loggingFolder.empty()) {
    // Logging without a folder cannot run: a cancelled pick switches it off.
    settings.logData = 0;
  }
  FillControls();
  ApplyEnabling();
}

void PortSettingDlg::OnRliBrowse() {
  CopyFromControls();
  okButton->setFocus();
  const QString chosen =
      folderPicker(this, QStringLiteral("Pick a Directory"), QString::fromStdString(settings.rliFolder));
  if (!chosen.isEmpty()) settings.rliFolder = chosen.toStdString();
  FillControls();
  ApplyEnabling();
}

void PortSettingDlg::mouseDoubleClickEvent(QMouseEvent* event) {
  const Qt::KeyboardModifiers both = Qt::ControlModifier | Qt::ShiftModifier;
  if ((event->modifiers() & both) == both && kRliHotSpot.contains(event->position().toPoint())) {
    settings.rliVisible = !settings.rliVisible;
    LayoutRliGroup();
    return;
  }
  QDialog::mouseDoubleClickEvent(event);
}

bool PortSettingDlg::CheckFolder(const std::string& path, IPrompts& prompts) {
  if (path.empty()) return false;
  if (IsDirectory(path)) return true;
  const std::string question = "The folder:\n[ " + path + " ]\ndoes not exist.\nWould you like to create it?";
  if (prompts.MessageBox(question, "Plowview", PromptIcon::Question, PromptButtons::YesNo) !=
      PromptAnswer::Yes)
    return false;
  std::error_code ec;
  for (std::size_t i = 1; i < path.size(); ++i) {
    if (path[i] != '/') continue;
    const std::string level = path.substr(0, i);
    if (!IsDirectory(level)) std::filesystem::create_directory(level, ec);
  }
  if (!IsDirectory(path)) std::filesystem::create_directory(path, ec);
  return IsDirectory(path);
}

void PortSettingDlg::accept() {
  CopyFromControls();
  if (settings.rliEnabled && !CheckFolder(settings.rliFolder, prompts)) {
    prompts.MessageBox("The directory specified for RLI Virtual CF Card is invalid.", "Plowview",
                       PromptIcon::None);
    return;
  }
  if (settings.logData) {
    if (!CheckFolder(settings.loggingFolder, prompts)) {
      prompts.MessageBox("The directory specified for logging is invalid.", "Plowview", PromptIcon::None);
      return;
    }
    if (!CheckLogPathLength(settings.loggingFolder, settings.loggingPrefix, prompts)) return;
  }
  if (!CheckNumbers()) return;
  // Only a dialog that passed every check writes the file; one that could not be written is no
  // confirmed choice, so the dialog stays open with the choices in it.
  std::error_code error;
  bool saved = settings.SaveSettings(&error);
  if (saved && stableSlot >= 0) {
    saved = settings.Profile().WriteString(kSerialPortsSection, CSerialPortMap::SlotKey(stableSlot),
                                           ports.Path(stableSlot), &error);
  }
  if (!saved) {
    const std::string why = error ? error.message() : std::string("unknown error");
    prompts.MessageBox(
        "The settings could not be saved to:\n[ " + settings.Profile().Path().string() + " ]\n" + why + ".",
        "Plowview", PromptIcon::Exclamation);
    return;
  }
  QDialog::accept();
}

bool PortSettingDlg::CheckLogPathLength(const std::string& folder, const std::string& prefix,
                                        IPrompts& prompts) {
  const std::string longest = folder + "/" + prefix + std::string(kLogFileTailBytes, 'x');
  bool fits = longest.size() <= kMaxPathBytes;
  for (std::size_t start = 0; fits && start < longest.size();) {
    std::size_t end = longest.find('/', start);
    if (end == std::string::npos) end = longest.size();
    fits = end - start <= kMaxNameBytes;
    start = end + 1;
  }
  if (fits) return true;
  const std::size_t maxTogether = kMaxPathBytes - 1 - kLogFileTailBytes;
  const std::size_t maxPrefix = kMaxNameBytes - kLogFileTailBytes;
  prompts.MessageBox("The total length of the logging folder and the logging prefix must be under " +
                         std::to_string(maxTogether + 1) + " characters, with no folder name over " +
                         std::to_string(kMaxNameBytes) + " and a prefix of at most " +
                         std::to_string(maxPrefix) + ".",
                     "Plowview", PromptIcon::None);
  return false;
}
