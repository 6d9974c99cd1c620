#pragma once

#include <QDialog>
#include <QPixmap>
#include <QString>

class CSettingsProfile;
class QLabel;

// "About Plowview": the program's version, the version of the diagnostic log format, the program
// icon and "Report Bug", which opens the problem-report page in the desktop's browser.
//
// The problem-report server is read from the settings file each time the button is pressed:
// section "About", key "ReportHost" (scheme and host, e.g. "https://bugs.example.org"), default
// kDefaultReportHost. The page is that host followed by kReportPath and the version text.
class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  static constexpr const char* kProgramVersionText = "4.02";
  static constexpr float kLoggingVersion = 3.2f;
  static constexpr const char* kSettingsSection = "About";
  static constexpr const char* kReportHostKey = "ReportHost";
  static constexpr const char* kDefaultReportHost = "http://localhost";
  static constexpr const char* kReportPath = "/enter_bug.cgi?product=Plowview&version=";
  static constexpr const char* kBrowserProgram = "xdg-open";
  static constexpr int kReportBugId = 1202;
  static constexpr int kLoggingVersionId = 1096;
  static constexpr int kProgramVersionId = 1203;

  // `settings` (may be null: the default host is used) must outlive the dialog.
  explicit CAboutDlg(const CSettingsProfile* settings, QWidget* parent = nullptr);

  // The About command: a dialog with the logging version 3.2 and the program version read from
  // "4.02", shown modally.
  static void RunAbout(const CSettingsProfile* settings, QWidget* parent);

  // Set before showing; each puts its text ("Logging Version %4.2f", "Version %4.2f") into its
  // control at once.
  void SetLoggingVersion(float version);
  void SetProgramVersion(float version);
  float LoggingVersion() const { return loggingVersion; }
  float ProgramVersion() const { return programVersion; }
  const QString& LoggingVersionText() const { return loggingVersionText; }
  const QString& ProgramVersionText() const { return programVersionText; }

  // The problem-report page for this version, host from the settings.
  QString ReportAddress() const;
  // "Report Bug": starts the browser on ReportAddress() without waiting for it. The program is
  // looked up on PATH when the button is pressed. A browser that cannot be started is not
  // reported to the user; the result says whether it started.
  bool ReportBug();

  // The program icon, drawn rather than loaded: a 32 x 32 picture of a receiver over a field.
  static QPixmap ProgramIcon(int size = 32);

 private:
  const CSettingsProfile* settings;
  QString loggingVersionText;
  float loggingVersion = 1.0f;
  float programVersion = 0.0f;
  QString programVersionText;
  QLabel* loggingLabel = nullptr;
  QLabel* programLabel = nullptr;
};
