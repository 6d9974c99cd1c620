#include "dat/ui/logging_config_options_dlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTest>
#include <fstream>
#include <memory>

#include "app/settings_profile.h"
#include "support/prompt_recorder.h"
#include "support/temp_dir.h"

namespace {

using Dlg = CLoggingConfigOptionsDlg;
constexpr const char* kSection = "PlowviewArchiveSettings";

class LoggingConfigOptionsDlgTest : public ::testing::Test {
 protected:
  void WriteIni(const std::string& archive) {
    std::ofstream(dir / "Plowview.ini") << "[Other]\nkeep=me\n[PlowviewArchiveSettings]\n" << archive;
  }
  std::unique_ptr<Dlg> Open(LogOptions word) {
    auto dlg = std::make_unique<Dlg>(profile, prompts);
    dlg->SetOptions(word);
    dlg->Open();
    dlg->show();
    return dlg;
  }
  std::string Stored(const char* key) { return profile.GetString(kSection, key, "<absent>", 256); }
  // On the box itself: the rest of a wide check box is not its button.
  static void Click(Dlg& dlg, int id) {
    QCheckBox* box = dlg.Check(id);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
  }
  static void DoubleClick(Dlg& dlg, QPoint pos, Qt::KeyboardModifiers modifiers) {
    QMouseEvent event(QEvent::MouseButtonDblClick, QPointF(pos), QPointF(dlg.mapToGlobal(pos)),
                      Qt::LeftButton, Qt::LeftButton, modifiers);
    QApplication::sendEvent(&dlg, &event);
  }

  CTempDir dir;
  CSettingsProfile profile{dir.Path() / "Plowview.ini"};
  CPromptRecorder prompts;
};

TEST_F(LoggingConfigOptionsDlgTest, Opening_ShowsTheWordAndTheDefaultsOfAMissingFile) {
  auto dlg = Open(kLogMslHeight | kLogNmea | kLogKavo);
  EXPECT_TRUE(dlg->Check(Dlg::kMslHeight)->isChecked());
  EXPECT_TRUE(dlg->Check(Dlg::kNmea)->isChecked());
  EXPECT_TRUE(dlg->Check(Dlg::kLogKavoBox)->isChecked());
  EXPECT_FALSE(dlg->Check(Dlg::kSyncMeasurements)->isChecked());
  for (int id :
       {Dlg::kZipDat, Dlg::kZipLog, Dlg::kZipKavo, Dlg::kRemoveDat, Dlg::kRemoveLog, Dlg::kRemoveKavo})
    EXPECT_TRUE(dlg->Check(id)->isChecked()) << id;
  for (int id : {Dlg::kFtpZippedFiles, Dlg::kCreateStripChart, Dlg::kZipPdf, Dlg::kEmailStatus})
    EXPECT_FALSE(dlg->Check(id)->isChecked()) << id;
  EXPECT_EQ(dlg->windowTitle(), "Logging Options");
  EXPECT_EQ(dlg->size(), QSize(405, 280));
  EXPECT_FALSE(dlg->Control(Dlg::kFtpHost)->isVisible());
  EXPECT_FALSE(dlg->Control(Dlg::kTestZipFtp)->isVisible());
}

TEST_F(LoggingConfigOptionsDlgTest, LogQ0xOff_DisablesTheDatZipAndLeavesItOutOfAnyZip) {
  WriteIni("m_ZipQ0xFiles=1\nm_ZipLogFiles=0\nm_ZipKavoFiles=0\nm_FTPZippedFiles=1\nm_FTPVisable=1\n");
  auto dlg = Open(0);
  EXPECT_TRUE(dlg->Check(Dlg::kZipDat)->isChecked());
  EXPECT_FALSE(dlg->Control(Dlg::kZipDat)->isEnabled());
  EXPECT_FALSE(dlg->Control(Dlg::kRemoveDat)->isEnabled());
  // No zip at all: the upload and its fields are off.
  EXPECT_FALSE(dlg->Control(Dlg::kFtpZippedFiles)->isEnabled());
  EXPECT_FALSE(dlg->Control(Dlg::kFtpHost)->isEnabled());

  Click(*dlg, Dlg::kLogQ0xBox);
  EXPECT_TRUE(dlg->Control(Dlg::kZipDat)->isEnabled());
  EXPECT_TRUE(dlg->Control(Dlg::kRemoveDat)->isEnabled());
  EXPECT_TRUE(dlg->Control(Dlg::kFtpZippedFiles)->isEnabled());
  for (int id : {Dlg::kFtpHost, Dlg::kFtpUser, Dlg::kFtpPassword, Dlg::kFtpRemotePath, Dlg::kRemoveZipPostFtp,
                 Dlg::kLimitUploadRate})
    EXPECT_TRUE(dlg->Control(id)->isEnabled()) << id;

  Click(*dlg, Dlg::kFtpZippedFiles);
  EXPECT_FALSE(dlg->Control(Dlg::kFtpHost)->isEnabled());
  EXPECT_TRUE(dlg->Control(Dlg::kFtpZippedFiles)->isEnabled());
}

TEST_F(LoggingConfigOptionsDlgTest, RowRules_RemoveFollowsZipAndThePlotRowFollowsCreate) {
  auto dlg = Open(kLogKavo);
  EXPECT_TRUE(dlg->Control(Dlg::kZipKavo)->isEnabled());
  Click(*dlg, Dlg::kZipKavo);
  EXPECT_FALSE(dlg->Control(Dlg::kRemoveKavo)->isEnabled());
  Click(*dlg, Dlg::kZipLog);
  EXPECT_FALSE(dlg->Control(Dlg::kRemoveLog)->isEnabled());
  EXPECT_FALSE(dlg->Control(Dlg::kZipPdf)->isEnabled());
  EXPECT_FALSE(dlg->Control(Dlg::kPlotScale)->isEnabled());
  Click(*dlg, Dlg::kCreateStripChart);
  EXPECT_TRUE(dlg->Control(Dlg::kZipPdf)->isEnabled());
  EXPECT_TRUE(dlg->Control(Dlg::kPlotScale)->isEnabled());
  EXPECT_FALSE(dlg->Control(Dlg::kRemovePdf)->isEnabled());
  Click(*dlg, Dlg::kZipPdf);
  EXPECT_TRUE(dlg->Control(Dlg::kRemovePdf)->isEnabled());
  EXPECT_FALSE(dlg->Control(Dlg::kEmailAddress)->isEnabled());
}

TEST_F(LoggingConfigOptionsDlgTest, LogKavoOn_ChecksSyncAndOkStoresBothBitsButNotUnknownOnes) {
  auto dlg = Open(kLogMslHeight | kLogPassive | 0x1000);
  Click(*dlg, Dlg::kLogKavoBox);
  EXPECT_TRUE(dlg->Check(Dlg::kSyncMeasurements)->isChecked());
  dlg->accept();
  EXPECT_EQ(dlg->result(), QDialog::Accepted);
  EXPECT_EQ(dlg->Options(), kLogMslHeight | kLogKavo | kLogSyncMeasurements);
  EXPECT_EQ(0u, dlg->Options() & kLogPassive);
  // Switching it off again leaves the sync box as the user has it.
  auto again = Open(kLogKavo | kLogSyncMeasurements);
  Click(*again, Dlg::kLogKavoBox);
  EXPECT_TRUE(again->Check(Dlg::kSyncMeasurements)->isChecked());
}

TEST_F(LoggingConfigOptionsDlgTest, MailNote_ShownOnlyWhenSwitchingOn) {
  auto dlg = Open(0);
  Click(*dlg, Dlg::kEmailStatus);
  ASSERT_EQ(prompts.Texts().size(), 1u);
  EXPECT_EQ(prompts.Texts()[0],
            "NOTE: when errors occur, information will be sent\n"
            "      to the email address you provide. This information\n"
            "      will include the password for the ftp site. Normally\n"
            "      this is desired. If it is not, please disable the\n"
            "      email status option");
  EXPECT_TRUE(dlg->Control(Dlg::kEmailAddress)->isEnabled());
  Click(*dlg, Dlg::kEmailStatus);
  EXPECT_EQ(prompts.Texts().size(), 1u);
  EXPECT_FALSE(dlg->Control(Dlg::kEmailAddress)->isEnabled());
}

TEST_F(LoggingConfigOptionsDlgTest, Ok_WritesEverySettingAndCancelWritesNothing) {
  WriteIni("m_FTPPassword=50%off %s\nm_GlancePlotScale=xxx\n");
  auto dlg = Open(kLogQ0x);
  EXPECT_EQ(qobject_cast<QLineEdit*>(dlg->Control(Dlg::kFtpPassword))->text(), "50%off %s");
  qobject_cast<QLineEdit*>(dlg->Control(Dlg::kFtpHost))->setText("ftp.example.org:2121");
  Click(*dlg, Dlg::kRemoveLog);
  dlg->reject();
  EXPECT_EQ(Stored("m_FTPHostAddress"), "<absent>");
  EXPECT_EQ(Stored("m_RemoveLogPostZip"), "<absent>");

  dlg = Open(kLogQ0x);
  qobject_cast<QLineEdit*>(dlg->Control(Dlg::kFtpHost))->setText("ftp.example.org:2121");
  Click(*dlg, Dlg::kRemoveLog);
  dlg->accept();
  EXPECT_EQ(Stored("m_FTPHostAddress"), "ftp.example.org:2121");
  EXPECT_EQ(Stored("m_RemoveLogPostZip"), "0");
  EXPECT_EQ(Stored("m_ZipQ0xFiles"), "1");
  EXPECT_EQ(Stored("m_FTPVisable"), "0");
  EXPECT_EQ(Stored("m_GlancePlotScale"), "");
  EXPECT_EQ(Stored("m_FTPPassword"), "50%off %s");
  EXPECT_EQ(profile.GetString("Other", "keep", ""), "me");
}

TEST_F(LoggingConfigOptionsDlgTest, FtpPart_CtrlShiftDoubleClickAtTheSpotTogglesAndOkSavesIt) {
  auto dlg = Open(0);
  DoubleClick(*dlg, {50, 138}, Qt::ControlModifier);
  DoubleClick(*dlg, {101, 138}, Qt::ControlModifier | Qt::ShiftModifier);
  DoubleClick(*dlg, {50, 142}, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(dlg->size(), QSize(405, 280));
  QWidget* atSpot = dlg->childAt(50, 138);
  EXPECT_TRUE(atSpot == nullptr || atSpot->testAttribute(Qt::WA_TransparentForMouseEvents));

  DoubleClick(*dlg, {18, 135}, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(dlg->size(), QSize(405, 490));
  for (int id : {Dlg::kFtpHost, Dlg::kFtpUser, Dlg::kFtpPassword, Dlg::kFtpRemotePath, Dlg::kEmailAddress,
                 Dlg::kRemoveZipPostFtp, Dlg::kFtpZippedFiles, Dlg::kLimitUploadRate, Dlg::kEmailStatus})
    EXPECT_TRUE(dlg->Control(id)->isVisible()) << id;
  EXPECT_FALSE(dlg->Control(Dlg::kTestZipFtp)->isVisible());
  dlg->accept();
  EXPECT_EQ(Stored("m_FTPVisable"), "1");

  dlg = Open(0);
  EXPECT_EQ(dlg->size(), QSize(405, 490));
  DoubleClick(*dlg, {100, 141}, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(dlg->size(), QSize(405, 280));
  EXPECT_FALSE(dlg->Control(Dlg::kFtpHost)->isVisible());
}

}  // namespace
