// The engineering windows on the built-in simulator, with the view's own link (its CConnection) on
// plowsim's pseudo-terminal and diagnostic logging on: the processor usage window, shown from its
// command and refreshed by the view's 1 s timer, shows every task with moving figures after two
// refreshes; the live log viewer fills with the logger's lines. With $PLOWVIEW_SCREENSHOT_DIR set
// the pictures of both windows and of the logging options go there (the README's pictures).

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "app/connection_control.h"
#include "app/simulator_process.h"
#include "app/ui/live_view_fixture.h"
#include "app/ui/spa_dlg.h"
#include "dat/ui/log_rowan_data_dlg.h"
#include "dat/ui/logging_config_options_dlg.h"
#include "support/temp_dir.h"

namespace {

void SavePicture(QWidget* window, const char* name) {
  const char* out = std::getenv("PLOWVIEW_SCREENSHOT_DIR");
  if (!out || !*out) return;
  const QPixmap picture = window->grab();
  EXPECT_TRUE(picture.save(QDir(QString::fromLocal8Bit(out)).filePath(QString::fromLatin1(name)), "PNG"))
      << name;
}

TEST(SpaLive, SimulatorWithLogging_UsageFiguresForEveryTaskAndLogLinesInTheViewer) {
  // plowsim is found on PATH: the build's programs go to bin/.
  const QByteArray path = QByteArray(PLOWVIEW_BINARY_DIR "/bin:") + qgetenv("PATH");
  qputenv("PATH", path);
  CSimulatorProcess simulator;
  std::string error;
  ASSERT_TRUE(simulator.Start({}, error)) << error;

  CTempDir dir;
  const std::filesystem::path logs = dir.Path() / "logs";
  std::filesystem::create_directory(logs);
  std::ostringstream settings;
  settings << "[Connect]\nm_LogData=1\nm_LoggingFolder=" << logs.string() << "\nm_LoggingPrefix=T_\n";
  CLiveViewFixture live(dir.Path(), settings.str(), simulator.DevicePath());
  CButtonTestView* view = live.View();

  CSPADlg* spa = view->SpaWindow();
  ASSERT_NE(spa, nullptr);
  // The request made when the link comes up is answered with the task names.
  ASSERT_TRUE(QTest::qWaitFor([&] { return spa->IsAvailable(); }, 20000)) << "no name report";
  ASSERT_TRUE(view->IsCommandEnabled(kIdViewSpaWindow));
  view->OnWindowCommand(kIdViewSpaWindow);
  ASSERT_TRUE(spa->isVisible());

  QStringList durations{spa->DurationText()};
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        if (spa->DurationText() != durations.back()) durations << spa->DurationText();
        return durations.size() >= 3;
      },
      5000))
      << "the 1 s refresh brought fewer than two new reports";

  int shownTasks = 0;
  for (int slot = 0; slot < CSPADlg::kSlots; ++slot)
    if (spa->SlotText(slot)->isVisibleTo(spa)) ++shownTasks;
  EXPECT_EQ(shownTasks, 24);
  EXPECT_TRUE(spa->SlotText(0)->text().startsWith("ID ")) << spa->SlotText(0)->text().toStdString();
  EXPECT_TRUE(spa->SlotText(1)->text().endsWith("%")) << spa->SlotText(1)->text().toStdString();
  EXPECT_GT(spa->SlotBar(0)->value(), 30) << "the idle task takes the rest";

  const QPixmap picture = spa->grab();
  ASSERT_FALSE(picture.isNull());
  EXPECT_TRUE(picture.save(QString::fromStdString((dir.Path() / "spa_live.png").string()), "PNG"));
  SavePicture(spa, "spa_live.png");

  // The logger's lines reach the viewer through the view.
  LogRowanDataDlg* viewer = view->LogDataWindow();
  ASSERT_TRUE(QTest::qWaitFor([&] { return viewer->LineCount() >= 12; }, 30000))
      << "log lines in the viewer: " << viewer->LineCount();
  view->OnWindowCommand(kIdViewLogRowanData);
  EXPECT_TRUE(viewer->isVisible());
  EXPECT_TRUE(viewer->windowTitle().endsWith(QString::fromStdString(logs.string()) + "/T_...."))
      << viewer->windowTitle().toStdString();
  SavePicture(viewer, "log_viewer.png");

  CLoggingConfigOptionsDlg options(live.Profile(), live.Prompts());
  options.SetOptions(static_cast<LogOptions>(view->Settings().logOptions));
  options.Open();
  options.show();
  SavePicture(&options, "logging_options.png");

  live.Frame().close();
}

}  // namespace
