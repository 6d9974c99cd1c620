#include "app/ui/main_frame.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <fstream>
#include <memory>

#include "app/settings_profile.h"
#include "app/ui/button_test_app.h"
#include "app/ui/button_test_view.h"
#include "app/web_panel_bridge.h"
#include "support/temp_dir.h"
#include "web/ui/web_panel_dlg.h"
#include "web/web_panel.h"

namespace {

class MainFrameTest : public ::testing::Test {
 protected:
  std::unique_ptr<CButtonTestApp> Start() {
    auto app =
        std::make_unique<CButtonTestApp>(AppPaths{dir.Path() / "config" / "Plowview.ini", locks.Path()});
    EXPECT_TRUE(app->InitInstance());
    return app;
  }

  CTempDir dir;
  CTempDir locks;
};

TEST_F(MainFrameTest, Window_FixedToPanelSizeWithoutMaximizeToolbarOrStatusBar) {
  auto app = Start();
  CMainFrame* frame = app->MainFrame();
  ASSERT_NE(frame, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(frame));
  EXPECT_EQ(frame->View()->size(), QSize(422, 187));
  EXPECT_EQ(frame->centralWidget(), frame->View());
  EXPECT_EQ(frame->minimumSize(), frame->maximumSize());
  EXPECT_EQ(frame->size(), frame->minimumSize());
  EXPECT_EQ(frame->width(), 422);
  EXPECT_FALSE(frame->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(frame->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(frame->findChildren<QStatusBar*>().isEmpty());
  // The one toolbar is the playback bar, hidden unless a raw log plays.
  for (QToolBar* bar : frame->findChildren<QToolBar*>()) {
    EXPECT_EQ(bar, frame->PlaybackBar());
    EXPECT_FALSE(bar->isVisible());
  }

  frame->resize(800, 600);
  QApplication::processEvents();
  EXPECT_EQ(frame->View()->size(), QSize(422, 187));
  EXPECT_EQ(frame->size(), frame->minimumSize());
}

TEST_F(MainFrameTest, FileMenu_HasCommandsTextsTipsAndShortcuts) {
  auto app = Start();
  CMainFrame* frame = app->MainFrame();
  const auto menus = frame->menuBar()->actions();
  ASSERT_EQ(menus.size(), 2);
  EXPECT_EQ(menus[0]->text(), "&File");
  EXPECT_EQ(menus[1]->text(), "&Help");

  QStringList texts;
  for (QAction* a : frame->FileMenu()->actions()) texts << (a->isSeparator() ? QString("-") : a->text());
  EXPECT_EQ(texts, QStringList({"&Connect...\tAlt+C", "&Disconnect\tAlt+D", "&Play Raw Log...",
                                "&Web Panel...", "-", "Clear &BB Ram...", "-", "E&xit"}));

  struct Command {
    int id;
    const char* shortcut;
    const char* tip;
  };
  for (const Command& c :
       {Command{32771, "Alt+C", "Open the serial port and begin communication with the receiver."},
        Command{32772, "Alt+D", "Close the serial port."}, Command{32777, "", ""}}) {
    QAction* action = frame->CommandAction(c.id);
    ASSERT_NE(action, nullptr) << c.id;
    EXPECT_EQ(action->data().toInt(), c.id);
    EXPECT_EQ(action->shortcut(), QKeySequence(QString::fromLatin1(c.shortcut))) << c.id;
    EXPECT_EQ(action->statusTip(), QString::fromLatin1(c.tip)) << c.id;
  }
  EXPECT_EQ(frame->CommandAction(12345), nullptr);
}

TEST_F(MainFrameTest, Accelerators_ConnectOpensTheDialogWhileDisconnectIsOff) {
  auto app = Start();
  CMainFrame* frame = app->MainFrame();
  frame->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
  QSignalSpy connect(frame->CommandAction(kIdFileConnect), &QAction::triggered);
  QSignalSpy disconnect(frame->CommandAction(kIdFileDisconnect), &QAction::triggered);
  EXPECT_TRUE(frame->CommandAction(kIdFileConnect)->isEnabled());
  EXPECT_FALSE(frame->CommandAction(kIdFileDisconnect)->isEnabled());

  // Alt+C opens the connection dialog modally; cancel it from inside its event loop.
  QString dialogClass;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
      dialogClass = QString::fromLatin1(dialog->metaObject()->className());
      dialog->reject();
    }
  });
  closer.start(10);
  QTest::keyClick(frame, Qt::Key_C, Qt::AltModifier);
  closer.stop();
  QTest::keyClick(frame, Qt::Key_D, Qt::AltModifier);
  EXPECT_EQ(connect.count(), 1);
  EXPECT_EQ(dialogClass, "PortSettingDlg");
  EXPECT_EQ(disconnect.count(), 0);
  // A cancelled dialog writes no settings file.
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "config" / "Plowview.ini"));
}

TEST_F(MainFrameTest, Exit_ClosesTheWindow) {
  auto app = Start();
  CMainFrame* frame = app->MainFrame();
  ASSERT_TRUE(frame->isVisible());
  frame->CommandAction(kIdAppExit)->trigger();
  EXPECT_FALSE(frame->isVisible());
}

TEST_F(MainFrameTest, Title_IsProgramNameWithInstanceNumber) {
  auto first = Start();
  EXPECT_EQ(first->MainFrame()->windowTitle(), "Plowview [1]");
  EXPECT_EQ(first->MainFrame()->View()->InstanceNumber(), 1);
  auto second = Start();
  EXPECT_EQ(second->MainFrame()->windowTitle(), "Plowview [2]");
  // Nothing after the view's initial update touches the title: not showing, not the event loop.
  QApplication::processEvents();
  EXPECT_EQ(first->MainFrame()->windowTitle(), "Plowview [1]");
}

TEST_F(MainFrameTest, InitialUpdate_ReadsTheSettingsFile) {
  std::filesystem::create_directories(dir.Path() / "config");
  std::ofstream(dir / "config/Plowview.ini") << "[Connect]\nPort=3\nRLI_Ena=y\n";
  auto app = Start();
  const CPortSettings& settings = app->GetMainView()->Settings();
  EXPECT_EQ(settings.port, 3);
  EXPECT_FALSE(settings.rliEnabled);
  EXPECT_EQ(settings.enableAsServer, 0);
  EXPECT_EQ(app->Profile().Path(), dir.Path() / "config" / "Plowview.ini");
}

TEST_F(MainFrameTest, WebPanel_StartsFromTheSettingsAndItsWindowShowsAddressesAndQrCode) {
  QTcpServer probe;  // a free port for this run
  ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
  const quint16 port = probe.serverPort();
  probe.close();
  std::filesystem::create_directories(dir.Path() / "config");
  std::ofstream(dir.Path() / "config" / "Plowview.ini")
      << "[WebPanel]\nEnabled=1\nPort=" << port << "\nControlToken=tr4ctor\n";
  auto app = Start();
  CMainFrame* frame = app->MainFrame();
  CButtonTestView* view = frame->View();
  ASSERT_NE(view->WebPanel(), nullptr);
  EXPECT_EQ(view->WebPanel()->Panel().Port(), port);

  ASSERT_TRUE(frame->CommandAction(kIdFileWebPanel)->isEnabled());
  frame->CommandAction(kIdFileWebPanel)->trigger();
  CWebPanelDlg* window = view->WebPanelWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  const QString control = QString("http://127.0.0.1:%1/?token=tr4ctor").arg(port);
  EXPECT_TRUE(window->ControlLabel()->text().contains(control))
      << window->ControlLabel()->text().toStdString();
  EXPECT_TRUE(window->ViewLabel()->text().contains(QString("http://127.0.0.1:%1/").arg(port)));
  EXPECT_FALSE(window->QrLabel()->pixmap().isNull());
  EXPECT_TRUE(window->StateLabel()->text().contains("is on"));

  // Switched off for the run, and on again.
  window->SwitchButton()->click();
  EXPECT_EQ(view->WebPanel(), nullptr);
  EXPECT_TRUE(window->StateLabel()->text().contains("is off"));
  EXPECT_EQ(window->ControlLabel()->text(), "-");
  window->SwitchButton()->click();
  ASSERT_NE(view->WebPanel(), nullptr);
  EXPECT_TRUE(view->WebPanel()->Panel().Running());
}

TEST_F(MainFrameTest, WebPanelThatCannotStart_IsSaidAndTheWindowGoesOn) {
  std::filesystem::create_directories(dir.Path() / "config");
  std::ofstream(dir.Path() / "config" / "Plowview.ini") << "[WebPanel]\nEnabled=1\nBindAddress=0.0.0.0\n";
  QString said;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
      for (QLabel* label : box->findChildren<QLabel*>()) said += label->text();
      box->reject();
    }
  });
  closer.start(10);
  auto app = Start();
  closer.stop();
  EXPECT_TRUE(said.contains("ControlToken and ViewToken")) << said.toStdString();
  CButtonTestView* view = app->MainFrame()->View();
  EXPECT_EQ(view->WebPanel(), nullptr);
  view->OnWebPanel();
  EXPECT_TRUE(view->WebPanelWindow()->StateLabel()->text().contains("ControlToken and ViewToken"));
}

}  // namespace
