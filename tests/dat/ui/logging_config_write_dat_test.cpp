#include <gtest/gtest.h>

#include <QCheckBox>
#include <QTest>
#include <fstream>

#include "app/settings_profile.h"
#include "dat/ui/logging_config_options_dlg.h"
#include "support/prompt_recorder.h"
#include "support/temp_dir.h"

namespace {

using Dlg = CLoggingConfigOptionsDlg;

std::string Stored(CSettingsProfile& profile) {
  return profile.GetString("PlowviewArchiveSettings", "m_WriteDatFile", "<absent>", 256);
}

TEST(LoggingConfigWriteDat, BoxShowsTheSettingOkStoresItAndCancelDoesNot) {
  CTempDir dir;
  std::ofstream(dir.Path() / "Plowview.ini") << "[PlowviewArchiveSettings]\nm_WriteDatFile=1\n";
  CSettingsProfile profile{dir.Path() / "Plowview.ini"};
  CPromptRecorder prompts;
  {
    Dlg dlg(profile, prompts);
    dlg.Open();
    dlg.show();
    QCheckBox* box = dlg.Check(Dlg::kWriteDat);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "Write &DAT file");
    EXPECT_TRUE(box->isChecked());
    // Writing does not depend on Log Q0X, which governs only the zipping of the .dat files.
    EXPECT_TRUE(box->isEnabled());
    EXPECT_FALSE(dlg.Control(Dlg::kZipDat)->isEnabled());
    EXPECT_TRUE(box->toolTip().contains("DAT row"));
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    EXPECT_FALSE(box->isChecked());
    dlg.reject();
  }
  EXPECT_EQ(Stored(profile), "1");
  {
    Dlg dlg(profile, prompts);
    dlg.Open();
    dlg.show();
    QCheckBox* box = dlg.Check(Dlg::kWriteDat);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    dlg.accept();
    EXPECT_EQ(dlg.Settings().writeDatFile, 0);
  }
  EXPECT_EQ(Stored(profile), "0");
}

}  // namespace
