#include "dat/ui/logging_config_options_dlg.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>

#include "link/protocol/prompts.h"
#include "logger/archive_profile.h"

namespace {

// The option check boxes and their bits; OK keeps these bits and no other.
struct OptionBox {
  int id;
  LogOptions bit;
  const char* text;
};

constexpr OptionBox kOptionBoxes[] = {
    {CLoggingConfigOptionsDlg::kMslHeight, kLogMslHeight, "Output &MSL Height"},
    {CLoggingConfigOptionsDlg::kTiltAdjustments, kLogTiltAdjustments, "Output &Tilt Adjustments"},
    {CLoggingConfigOptionsDlg::kSyncMeasurements, kLogSyncMeasurements, "Output &Sync Meas."},
    {CLoggingConfigOptionsDlg::kVerbose, kLogVerbose, "&Verbose Mode"},
    {CLoggingConfigOptionsDlg::kReferenceFixes, kLogReferenceFixes, "Output Reference &Fixes"},
    {CLoggingConfigOptionsDlg::kColdBootReconfigure, kLogColdBootReconfigure, "&Cold Boot Reconfigure"},
    {CLoggingConfigOptionsDlg::kNmea, kLogNmea, "Output &NMEA"},
    {CLoggingConfigOptionsDlg::kEngineeringInfo, kLogEngineeringInfo, "Output En&g Info"},
    {CLoggingConfigOptionsDlg::kRawFixes, kLogRawFixes, "Output &Raw Fixes"},
    {CLoggingConfigOptionsDlg::kEcefFixes, kLogEcefFixes, "Output &ECEF Fixes"},
    {CLoggingConfigOptionsDlg::kLogQ0xBox, kLogQ0x, "Log Q0X"},
    {CLoggingConfigOptionsDlg::kLogKavoBox, kLogKavo, "Log KAVO"},
};

// The check boxes of the archive settings and the members they show.
struct SettingBox {
  int id;
  int CArchiveSettings::*member;
};

constexpr SettingBox kSettingBoxes[] = {
    {CLoggingConfigOptionsDlg::kZipDat, &CArchiveSettings::zipQ0xFiles},
    {CLoggingConfigOptionsDlg::kZipLog, &CArchiveSettings::zipLogFiles},
    {CLoggingConfigOptionsDlg::kZipKavo, &CArchiveSettings::zipKavoFiles},
    {CLoggingConfigOptionsDlg::kRemoveDat, &CArchiveSettings::removeDatPostZip},
    {CLoggingConfigOptionsDlg::kRemoveLog, &CArchiveSettings::removeLogPostZip},
    {CLoggingConfigOptionsDlg::kRemoveKavo, &CArchiveSettings::removeKavoPostZip},
    {CLoggingConfigOptionsDlg::kFtpZippedFiles, &CArchiveSettings::ftpZippedFiles},
    {CLoggingConfigOptionsDlg::kRemoveZipPostFtp, &CArchiveSettings::removeZipPostFtp},
    {CLoggingConfigOptionsDlg::kCreateStripChart, &CArchiveSettings::createStripChart},
    {CLoggingConfigOptionsDlg::kZipPdf, &CArchiveSettings::zipPdfFiles},
    {CLoggingConfigOptionsDlg::kRemovePdf, &CArchiveSettings::removePdfPostZip},
    {CLoggingConfigOptionsDlg::kLimitUploadRate, &CArchiveSettings::limitUploadRate},
    {CLoggingConfigOptionsDlg::kEmailStatus, &CArchiveSettings::emailStatus},
    {CLoggingConfigOptionsDlg::kWriteDat, &CArchiveSettings::writeDatFile},
};

struct SettingEdit {
  int id;
  std::string CArchiveSettings::*member;
};

constexpr SettingEdit kSettingEdits[] = {
    {CLoggingConfigOptionsDlg::kPlotScale, &CArchiveSettings::glancePlotScale},
    {CLoggingConfigOptionsDlg::kEmailAddress, &CArchiveSettings::emailAddress},
    {CLoggingConfigOptionsDlg::kFtpRemotePath, &CArchiveSettings::ftpRemotePath},
    {CLoggingConfigOptionsDlg::kFtpHost, &CArchiveSettings::ftpHostAddress},
    {CLoggingConfigOptionsDlg::kFtpUser, &CArchiveSettings::ftpUserName},
    {CLoggingConfigOptionsDlg::kFtpPassword, &CArchiveSettings::ftpPassword},
};

// What the settings file holds per key: the edits take no more than it reads back.
constexpr int kMaxEditChars = static_cast<int>(CArchiveSettings::kReadBufferSize) - 1;

}  // namespace

CLoggingConfigOptionsDlg::CLoggingConfigOptionsDlg(ISettingsStore& profileIn, IPrompts& promptsIn,
                                                   QWidget* parent)
    : QDialog(parent), profile(profileIn), prompts(promptsIn) {
  setWindowTitle(QStringLiteral("Logging Options"));
  BuildControls();
  setFixedSize(kWidth, kHeightWithoutFtp);
}

int CLoggingConfigOptionsDlg::Run(ISettingsStore& profile, IPrompts& prompts, QWidget* parent,
                                  int logOptions) {
  CLoggingConfigOptionsDlg dialog(profile, prompts, parent);
  dialog.SetOptions(static_cast<LogOptions>(logOptions));
  if (dialog.exec() != QDialog::Accepted) return logOptions;
  return static_cast<int>(dialog.Options());
}

QWidget* CLoggingConfigOptionsDlg::Control(int id) const {
  const auto it = controls.find(id);
  return it == controls.end() ? nullptr : it->second;
}

QCheckBox* CLoggingConfigOptionsDlg::Check(int id) const {
  return qobject_cast<QCheckBox*>(Control(id));
}

QGroupBox* CLoggingConfigOptionsDlg::AddGroup(const QString& title, const QRect& rect) {
  auto* group = new QGroupBox(title, this);
  group->setGeometry(rect);
  // A frame only: clicks on it belong to the dialog (the hot spot lies at the edge of one).
  group->setAttribute(Qt::WA_TransparentForMouseEvents);
  return group;
}

QLabel* CLoggingConfigOptionsDlg::AddLabel(const QString& text, const QRect& rect) {
  auto* label = new QLabel(text, this);
  label->setGeometry(rect);
  return label;
}

QCheckBox* CLoggingConfigOptionsDlg::AddCheck(int id, const QString& text, const QRect& rect) {
  auto* box = new QCheckBox(text, this);
  box->setObjectName(QStringLiteral("c%1").arg(id));
  box->setGeometry(rect);
  controls[id] = box;
  connect(box, &QCheckBox::clicked, this, [this, id](bool checked) { OnCheckClicked(id, checked); });
  return box;
}

QLineEdit* CLoggingConfigOptionsDlg::AddEdit(int id, const QRect& rect) {
  auto* edit = new QLineEdit(this);
  edit->setObjectName(QStringLiteral("c%1").arg(id));
  edit->setGeometry(rect);
  edit->setMaxLength(kMaxEditChars);
  controls[id] = edit;
  return edit;
}

void CLoggingConfigOptionsDlg::BuildControls() {
  // Frames first, so that the controls lie above them.
  AddGroup(QStringLiteral("LogRowan Logging Control"), {6, 2, 393, 130});
  AddGroup(QStringLiteral("Archive Files"), {6, 142, 393, 104});
  QGroupBox* ftpGroup = AddGroup(QStringLiteral("FTP Options"), {6, 280, 393, 128});
  QGroupBox* mailGroup =
      AddGroup(QStringLiteral("Daily Status (email at GPS Hour Zero )"), {6, 414, 393, 70});

  // Seven rows of two columns; the last left cell stays empty above the hot spot.
  int index = 0;
  for (const OptionBox& box : kOptionBoxes) {
    const int column = index < 6 ? 0 : 1;
    const int row = index < 6 ? index : index - 6;
    AddCheck(box.id, QString::fromLatin1(box.text), {14 + column * 192, 18 + row * 16, 186, 17});
    ++index;
  }

  const int rowY[] = {156, 174, 192, 210};
  const struct {
    const char* name;
    int zip;
    int remove;
    const char* removeText;
  } rows[] = {
      {"DAT", kZipDat, kRemoveDat, "Remove Original .dat After Zipping"},
      {"LOG", kZipLog, kRemoveLog, "Remove Original .log After Zipping"},
      {"KAVO", kZipKavo, kRemoveKavo, "Remove Original .kavo After Zipping"},
      {"GlancePlot", kZipPdf, kRemovePdf, "Remove Original .pdf After Zipping"},
  };
  for (int i = 0; i < 4; ++i) {
    AddLabel(QString::fromLatin1(rows[i].name), {14, rowY[i], 84, 18});
    AddCheck(rows[i].zip, QStringLiteral("Zip"), {100, rowY[i], 50, 18});
    AddCheck(rows[i].remove, QString::fromLatin1(rows[i].removeText), {152, rowY[i], 242, 18});
  }
  AddCheck(kCreateStripChart, QStringLiteral("Create GlancePlot"), {14, 228, 144, 18});
  AddLabel(QStringLiteral("Scale (empty for auto)"), {160, 228, 150, 18});
  AddEdit(kPlotScale, {312, 226, 80, 20});
  AddCheck(kWriteDat, QStringLiteral("Write &DAT file"), {14, 252, 144, 18})
      ->setToolTip(QString::fromLatin1(kWriteDatTip));

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("c%1").arg(kOk));
  ok->setGeometry(240, 250, 75, 24);
  ok->setDefault(true);
  controls[kOk] = ok;
  connect(ok, &QPushButton::clicked, this, &CLoggingConfigOptionsDlg::accept);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("c%1").arg(kCancel));
  cancel->setGeometry(320, 250, 75, 24);
  controls[kCancel] = cancel;
  connect(cancel, &QPushButton::clicked, this, &CLoggingConfigOptionsDlg::reject);

  ftpPart = {ftpGroup,
             mailGroup,
             AddCheck(kFtpZippedFiles, QStringLiteral("FTP Zip files"), {14, 296, 180, 18}),
             AddCheck(kLimitUploadRate, QStringLiteral("Limit Upload Rate"), {200, 296, 190, 18}),
             AddCheck(kRemoveZipPostFtp, QStringLiteral("Remove Zip after FTP"), {14, 314, 180, 18}),
             AddLabel(QStringLiteral("Host"), {14, 342, 34, 20}),
             AddEdit(kFtpHost, {50, 340, 150, 22}),
             AddLabel(QStringLiteral("User"), {210, 342, 34, 20}),
             AddEdit(kFtpUser, {246, 340, 145, 22}),
             AddLabel(QStringLiteral("pswd"), {14, 370, 34, 20}),
             AddEdit(kFtpPassword, {50, 368, 150, 22}),
             AddLabel(QStringLiteral("Path"), {210, 370, 34, 20}),
             AddEdit(kFtpRemotePath, {246, 368, 145, 22}),
             AddCheck(kEmailStatus, QStringLiteral("Mail Daily Status"), {14, 432, 150, 18}),
             AddLabel(QStringLiteral("Addr"), {14, 458, 34, 20}),
             AddEdit(kEmailAddress, {50, 456, 341, 22})};
  qobject_cast<QLineEdit*>(Control(kFtpPassword))->setEchoMode(QLineEdit::Password);

  // Kept from the resource, hidden and without a function.
  auto* test = new QPushButton(QStringLiteral("Test Zip/FTP"), this);
  test->setObjectName(QStringLiteral("c%1").arg(kTestZipFtp));
  test->setGeometry(290, 312, 100, 22);
  test->hide();
  controls[kTestZipFtp] = test;
}

void CLoggingConfigOptionsDlg::Open() {
  settings.Load(profile);
  checks = 0;
  for (const OptionBox& box : kOptionBoxes) checks |= options & box.bit;
  PutValues();
  ApplyEnabling();
  // After the settings are read, so the part shows as the file says.
  LayoutFtpPart();
}

int CLoggingConfigOptionsDlg::exec() {
  Open();
  return QDialog::exec();
}

void CLoggingConfigOptionsDlg::accept() {
  TakeValues();
  options = checks;
  settings.Save(profile);
  QDialog::accept();
}

void CLoggingConfigOptionsDlg::PutValues() {
  for (const OptionBox& box : kOptionBoxes) Check(box.id)->setChecked((checks & box.bit) != 0);
  for (const SettingBox& box : kSettingBoxes) Check(box.id)->setChecked(settings.*box.member != 0);
  for (const SettingEdit& edit : kSettingEdits)
    qobject_cast<QLineEdit*>(Control(edit.id))->setText(QString::fromStdString(settings.*edit.member));
}

void CLoggingConfigOptionsDlg::TakeValues() {
  checks = 0;
  for (const OptionBox& box : kOptionBoxes)
    if (Check(box.id)->isChecked()) checks |= box.bit;
  for (const SettingBox& box : kSettingBoxes) settings.*box.member = Check(box.id)->isChecked() ? 1 : 0;
  for (const SettingEdit& edit : kSettingEdits)
    settings.*edit.member = qobject_cast<QLineEdit*>(Control(edit.id))->text().toStdString();
}

void CLoggingConfigOptionsDlg::ApplyEnabling() {
  const bool logQ0x = (checks & kLogQ0x) != 0;
  const bool logKavo = (checks & kLogKavo) != 0;
  const bool anyZip = (settings.zipQ0xFiles && logQ0x) || (settings.zipKavoFiles && logKavo) ||
                      settings.zipLogFiles || (settings.zipPdfFiles && settings.createStripChart);
  const bool ftp = settings.ftpZippedFiles && anyZip;

  Control(kFtpZippedFiles)->setEnabled(anyZip);
  for (const int id : {kFtpHost, kFtpUser, kFtpPassword, kFtpRemotePath, kRemoveZipPostFtp, kLimitUploadRate})
    Control(id)->setEnabled(ftp);
  Control(kZipDat)->setEnabled(logQ0x);
  Control(kRemoveDat)->setEnabled(logQ0x && settings.zipQ0xFiles);
  Control(kRemoveLog)->setEnabled(settings.zipLogFiles != 0);
  Control(kZipKavo)->setEnabled(logKavo);
  Control(kRemoveKavo)->setEnabled(logKavo && settings.zipKavoFiles);
  Control(kZipPdf)->setEnabled(settings.createStripChart != 0);
  Control(kPlotScale)->setEnabled(settings.createStripChart != 0);
  Control(kRemovePdf)->setEnabled(settings.zipPdfFiles != 0);
  Control(kEmailAddress)->setEnabled(settings.emailStatus != 0);
}

void CLoggingConfigOptionsDlg::LayoutFtpPart() {
  for (QWidget* widget : ftpPart) widget->setVisible(settings.ftpVisable);
  setFixedSize(kWidth, settings.ftpVisable ? kHeightWithFtp : kHeightWithoutFtp);
}

void CLoggingConfigOptionsDlg::OnCheckClicked(int id, bool checked) {
  // A click switching the status mail on tells what the mail will carry first.
  if (id == kEmailStatus && checked)
    prompts.MessageBox(kMailNote, "Plowview", PromptIcon::Information, PromptButtons::Ok);
  TakeValues();
  if (id == kLogQ0xBox && checked) PutValues();
  if (id == kLogKavoBox && checked) {
    // The raw packet log wants the synchronised measurements with it.
    options |= kLogSyncMeasurements;
    checks |= kLogSyncMeasurements;
    Check(kSyncMeasurements)->setChecked(true);
  }
  ApplyEnabling();
}

void CLoggingConfigOptionsDlg::mouseDoubleClickEvent(QMouseEvent* event) {
  const Qt::KeyboardModifiers both = Qt::ControlModifier | Qt::ShiftModifier;
  if ((event->modifiers() & both) == both && kFtpHotSpot.contains(event->position().toPoint())) {
    settings.ftpVisable = !settings.ftpVisable;
    LayoutFtpPart();
    return;
  }
  QDialog::mouseDoubleClickEvent(event);
}
