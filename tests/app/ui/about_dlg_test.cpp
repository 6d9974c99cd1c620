#include "app/ui/about_dlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "app/settings_profile.h"
#include "support/screenshot_dir.h"
#include "support/temp_dir.h"

namespace {

QString LabelText(const CAboutDlg& dialog, int id) {
  auto* label = dialog.findChild<QLabel*>(QStringLiteral("c%1").arg(id));
  return label ? label->text() : QStringLiteral("<missing>");
}

TEST(AboutDlg, AboutCommand_ShowsBothVersionsUnderItsCaption) {
  QString caption, program, logging;
  bool hasIcon = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    caption = dialog->windowTitle();
    program = LabelText(*dialog, CAboutDlg::kProgramVersionId);
    logging = LabelText(*dialog, CAboutDlg::kLoggingVersionId);
    auto* icon = dialog->findChild<QLabel*>(QStringLiteral("c128"));
    hasIcon = icon != nullptr && !icon->pixmap().isNull();
    dialog->accept();
  });
  CAboutDlg::RunAbout(nullptr, nullptr);
  EXPECT_EQ(caption, "About Plowview");
  EXPECT_EQ(program, "Version 4.02");
  EXPECT_EQ(logging, "Logging Version 3.20");
  EXPECT_TRUE(hasIcon);
}

TEST(AboutDlg, Constructed_LoggingVersionStartsAtOne) {
  CAboutDlg dialog(nullptr);
  EXPECT_FLOAT_EQ(dialog.LoggingVersion(), 1.0f);
  EXPECT_EQ(dialog.LoggingVersionText(), "Logging Version 1.00");
  dialog.SetLoggingVersion(CAboutDlg::kLoggingVersion);
  dialog.SetProgramVersion(4.02f);
  EXPECT_EQ(dialog.LoggingVersionText(), "Logging Version 3.20");
  EXPECT_EQ(dialog.ProgramVersionText(), "Version 4.02");
  EXPECT_EQ(LabelText(dialog, CAboutDlg::kLoggingVersionId), "Logging Version 3.20");
}

class AboutReportBugTest : public ::testing::Test {
 protected:
  AboutReportBugTest() : savedPath(qgetenv("PATH")), settings(dir.Path() / "Plowview.ini") {
    const std::filesystem::path bin = dir.Path() / "bin";
    std::filesystem::create_directory(bin);
    const std::filesystem::path script = bin / "xdg-open";
    {
      // A stand-in browser: writes one argument per line, then moves the file into place so the
      // test never reads it half-written.
      std::ofstream out(script);
      out << "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" << (dir.Path() / "args.tmp").string() << "\"\n"
          << "mv \"" << (dir.Path() / "args.tmp").string() << "\" \"" << argsFile.string() << "\"\n";
    }
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    qputenv("PATH", QByteArray::fromStdString(bin.string()) + ":" + savedPath);
  }
  ~AboutReportBugTest() override { qputenv("PATH", savedPath); }

  // What the stand-in got, once it has run (bounded wait).
  QString Arguments() {
    for (int i = 0; i < 500 && !std::filesystem::exists(argsFile); ++i) QTest::qWait(10);
    return QString::fromStdString(ReadWholeFile(argsFile));
  }

  CTempDir dir;
  QByteArray savedPath;
  CSettingsProfile settings;
  std::filesystem::path argsFile = dir.Path() / "args.txt";
};

TEST_F(AboutReportBugTest, ReportBugButton_OpensTheReportPageOfThisVersion) {
  CAboutDlg dialog(&settings);
  dialog.show();
  dialog.findChild<QPushButton*>("c1202")->click();
  EXPECT_EQ(Arguments(), "http://localhost/enter_bug.cgi?product=Plowview&version=4.02\n");
  EXPECT_TRUE(dialog.isVisible());  // the dialog stays open
}

TEST_F(AboutReportBugTest, ReportHostFromSettings_TrailingSlashDropped) {
  ASSERT_TRUE(settings.WriteString("About", "ReportHost", "https://bugs.example.org/"));
  CAboutDlg dialog(&settings);
  EXPECT_EQ(dialog.ReportAddress(), "https://bugs.example.org/enter_bug.cgi?product=Plowview&version=4.02");
  EXPECT_TRUE(dialog.ReportBug());
  EXPECT_EQ(Arguments(), "https://bugs.example.org/enter_bug.cgi?product=Plowview&version=4.02\n");
}

TEST_F(AboutReportBugTest, NoBrowserOnPath_NothingStartsAndNothingBreaks) {
  qputenv("PATH", QByteArray::fromStdString((dir.Path() / "empty").string()));
  CAboutDlg dialog(&settings);
  EXPECT_FALSE(dialog.ReportBug());
  EXPECT_FALSE(std::filesystem::exists(argsFile));
}

TEST(AboutDlgScreenshots, DialogAndIcon) {
  CAboutDlg dialog(nullptr);
  dialog.SetLoggingVersion(CAboutDlg::kLoggingVersion);
  dialog.SetProgramVersion(4.02f);
  dialog.show();
  const QString dir = ScreenshotDir();
  ASSERT_TRUE(QDir().mkpath(dir));
  EXPECT_TRUE(dialog.grab().save(dir + "/about_dlg.png"));
  EXPECT_TRUE(CAboutDlg::ProgramIcon(128).save(dir + "/about_icon.png"));
}

}  // namespace
