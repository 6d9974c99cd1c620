#pragma once

#include <QDialog>
#include <QRect>
#include <QString>
#include <map>
#include <vector>

#include "link/protocol/settings_store.h"
#include "logger/archive_settings.h"
#include "logger/log_options.h"

class IPrompts;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The logging options dialog: the check boxes of the logging options word and the archive
// settings (what each closed hour zips, removes, plots, uploads and mails), the FTP and mail part
// shown only after a Ctrl+Shift double click on the hot spot (or when "m_FTPVisable" is set).
// The caller hands the options word in with SetOptions before exec() and takes Options() after
// OK, which rebuilds the word from the check boxes alone and writes every archive setting;
// Cancel writes nothing.
//
// Modal; UI thread. Every control carries the object name "c<id>" of its resource id (Control()).
// `profile` and `prompts` must outlive the dialog.
class CLoggingConfigOptionsDlg : public QDialog {
  Q_OBJECT
 public:
  // Option check boxes.
  static constexpr int kMslHeight = 1097;
  static constexpr int kTiltAdjustments = 1103;
  static constexpr int kSyncMeasurements = 1098;
  static constexpr int kVerbose = 1104;
  static constexpr int kReferenceFixes = 1108;
  static constexpr int kColdBootReconfigure = 1105;
  static constexpr int kNmea = 1106;
  static constexpr int kEngineeringInfo = 1101;
  static constexpr int kRawFixes = 1102;
  static constexpr int kEcefFixes = 1107;
  static constexpr int kLogQ0xBox = 1160;
  static constexpr int kLogKavoBox = 1162;
  // Archive settings.
  static constexpr int kZipDat = 1173;
  static constexpr int kZipLog = 1179;
  static constexpr int kZipKavo = 1194;
  static constexpr int kRemoveDat = 1175;
  static constexpr int kRemoveLog = 1181;
  static constexpr int kRemoveKavo = 1195;
  static constexpr int kFtpZippedFiles = 1182;
  static constexpr int kRemoveZipPostFtp = 1183;
  static constexpr int kCreateStripChart = 1161;
  static constexpr int kPlotScale = 1193;
  static constexpr int kZipPdf = 1180;
  static constexpr int kRemovePdf = 1184;
  static constexpr int kLimitUploadRate = 1196;
  static constexpr int kEmailStatus = 1185;
  static constexpr int kEmailAddress = 1186;
  static constexpr int kFtpRemotePath = 1174;
  static constexpr int kFtpHost = 1170;
  static constexpr int kFtpUser = 1171;
  static constexpr int kFtpPassword = 1172;
  static constexpr int kTestZipFtp = 1197;
  static constexpr int kWriteDat = 1198;  // "m_WriteDatFile"
  static constexpr int kOk = 1;
  static constexpr int kCancel = 2;

  static constexpr int kWidth = 405;
  static constexpr int kHeightWithFtp = 490;
  static constexpr int kHeightWithoutFtp = 280;
  // Ctrl+Shift double click here shows or hides the FTP and mail part.
  static constexpr QRect kFtpHotSpot{18, 135, 83, 7};

  // Which switch writes the .dat files and which ones archive them.
  static constexpr const char* kWriteDatTip =
      "Write DAT file: each hour of a file session also writes a .dat file (and its _base.cmr)\n"
      "beside the .log file. Zipping and removing the .dat files is set in the DAT row,\n"
      "which takes effect with Log Q0X on.";

  static constexpr const char* kMailNote =
      "NOTE: when errors occur, information will be sent\n"
      "      to the email address you provide. This information\n"
      "      will include the password for the ftp site. Normally\n"
      "      this is desired. If it is not, please disable the\n"
      "      email status option";

  CLoggingConfigOptionsDlg(ISettingsStore& profile, IPrompts& prompts, QWidget* parent = nullptr);

  // Shows the dialog for `logOptions` and returns the word to keep: the new word after OK, the
  // old one after Cancel. The connection dialog's "Options" button calls this.
  static int Run(ISettingsStore& profile, IPrompts& prompts, QWidget* parent, int logOptions);

  void SetOptions(LogOptions word) { options = word; }
  LogOptions Options() const { return options; }
  const CArchiveSettings& Settings() const { return settings; }

  // The opening steps (read the settings, fill the controls, enable them, lay the FTP part out);
  // exec() runs them first. Tests call it to drive the dialog without a nested loop.
  void Open();
  int exec() override;
  // OK: controls to values, the options word rebuilt, every archive setting written.
  void accept() override;

  // The control of a resource id; nullptr for an unknown id.
  QWidget* Control(int id) const;
  QCheckBox* Check(int id) const;

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void BuildControls();
  QCheckBox* AddCheck(int id, const QString& text, const QRect& rect);
  QLineEdit* AddEdit(int id, const QRect& rect);
  QGroupBox* AddGroup(const QString& title, const QRect& rect);
  QLabel* AddLabel(const QString& text, const QRect& rect);

  // The data exchange: values to controls, and controls to values.
  void PutValues();
  void TakeValues();
  void ApplyEnabling();
  void LayoutFtpPart();
  void OnCheckClicked(int id, bool checked);

  ISettingsStore& profile;
  IPrompts& prompts;
  CArchiveSettings settings;
  LogOptions options = 0;  // the word handed in, and the word built by OK
  LogOptions checks = 0;   // the option check boxes as bits of the word
  std::map<int, QWidget*> controls;
  std::vector<QWidget*> ftpPart;  // shown only with settings.ftpVisable
};
