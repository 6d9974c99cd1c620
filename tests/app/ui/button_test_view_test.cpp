#include "app/ui/button_test_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <vector>

#include "app/connection_control.h"
#include "app/fake_receiver_link.h"
#include "app/settings_profile.h"
#include "app/ui/button_test_doc.h"
#include "app/ui/main_frame.h"
#include "app/ui/panel_art.h"
#include "app/ui/panel_key_button.h"
#include "dat/ui/log_rowan_data_dlg.h"
#include "link/protocol/kavo_ids.h"
#include "support/prompt_recorder.h"
#include "support/temp_dir.h"

namespace {

KavoPacket DisplayReport(int row, const std::string& text, int cursorOn = 0, int cursorColumn = 0,
                         int cursorRow = 0) {
  KavoPacket p;
  p.id = kavo::kIdSuperReport;
  p.length = 31;
  p.checksumOk = true;
  p.data[0] = 0x8C;
  p.data[1] = 0x01;
  p.data[2] = static_cast<std::uint8_t>(cursorColumn);
  p.data[3] = static_cast<std::uint8_t>(cursorRow);
  p.data[4] = static_cast<std::uint8_t>(cursorOn);
  p.data[5] = static_cast<std::uint8_t>(row);
  for (std::size_t i = 0; i < 17; ++i)
    p.data[6 + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ';
  return p;
}

class ButtonTestViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    profile = std::make_unique<CSettingsProfile>(dir.Path() / "Plowview.ini");
    ViewServices services;
    services.profile = profile.get();
    services.prompts = &prompts;
    services.link = &link;
    services.timers = &timers;
    services.connectionDialog = [this](CPortSettings&) {
      ++dialogsShown;
      return dialogAnswer;
    };
    frame = std::make_unique<CMainFrame>();
    view = new CButtonTestView(&doc, services);
    frame->SetView(view);
    view->OnInitialUpdate();
    view->Control().SetDisconnectPauseMs(0);
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
  }

  // Connect, link up, first display report: the panel shows the receiver.
  void ConnectToReceiver() {
    view->OnFileConnect();
    ASSERT_EQ(view->Control().State(), kWaiting);
    view->Control().LinkStatus(0);
    link.incoming.push_back(DisplayReport(0, "Status  RTK Fix "));
    link.incoming.push_back(DisplayReport(1, "09-Dec  12:00:00"));
    view->Control().LinkPacketReady();
    ASSERT_EQ(view->Control().State(), kConnected);
    link.sent.clear();
  }

  // The key codes of every key packet sent, checking each packet's bytes on the way.
  std::vector<int> SentKeys() {
    std::vector<int> codes;
    for (const auto& s : link.sent) {
      if (s.bytes.size() < 3 || s.bytes[0] != 0x8E || s.bytes[1] != 0x8C || s.bytes[2] != 0x00) continue;
      EXPECT_EQ(s.bytes.size(), 8u);
      EXPECT_EQ(s.withChecksum, 1);
      EXPECT_EQ(std::vector<std::uint8_t>(s.bytes.begin() + 4, s.bytes.end()),
                std::vector<std::uint8_t>(4, 0));
      codes.push_back(s.bytes[3]);
    }
    return codes;
  }

  void SendKey(QEvent::Type type, int key, bool autoRepeat = false) {
    QKeyEvent event(type, key, Qt::NoModifier, QString(), autoRepeat);
    QApplication::sendEvent(view, &event);
  }

  void SendMouse(QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons held) {
    QMouseEvent event(type, QPointF(pos), QPointF(view->mapToGlobal(pos)), button, held, Qt::NoModifier);
    QApplication::sendEvent(view, &event);
  }

  QPoint EnterCentre() const { return view->KeyButton(CButtonTestView::kIdEnter)->geometry().center(); }

  QColor PixelAt(QPoint pos) { return view->grab().toImage().pixelColor(pos); }

  CTempDir dir;
  CFakeReceiverLink link;
  CFakeTimers timers;
  CPromptRecorder prompts;
  std::unique_ptr<CSettingsProfile> profile;
  CButtonTestDoc doc;
  int dialogsShown = 0;
  bool dialogAnswer = true;
  std::unique_ptr<CMainFrame> frame;
  CButtonTestView* view = nullptr;
};

TEST_F(ButtonTestViewTest, KeyboardKeys_SendTheirCodesAndShowTheirButton) {
  ConnectToReceiver();
  struct Case {
    int key;
    int code;
    int buttonId;
  };
  const Case cases[] = {{Qt::Key_Up, 1, 1},     {Qt::Key_Down, 2, 2}, {Qt::Key_Right, 3, 3},
                        {Qt::Key_Escape, 4, 5}, {Qt::Key_Left, 8, 8}, {Qt::Key_F1, 9, 0},
                        {Qt::Key_F2, 10, 0},    {Qt::Key_F3, 11, 0},  {Qt::Key_F4, 12, 0},
                        {Qt::Key_F5, 13, 0},    {Qt::Key_F6, 14, 0},  {Qt::Key_Tab, 15, 0}};
  for (const Case& c : cases) {
    link.sent.clear();
    QTest::keyPress(view, static_cast<Qt::Key>(c.key));
    if (c.buttonId) {
      EXPECT_TRUE(view->KeyButton(c.buttonId)->isDown()) << c.key;
    }
    QTest::keyRelease(view, static_cast<Qt::Key>(c.key));
    if (c.buttonId) {
      EXPECT_FALSE(view->KeyButton(c.buttonId)->isDown()) << c.key;
    }
    EXPECT_EQ(SentKeys(), std::vector<int>{c.code}) << c.key;
    ASSERT_EQ(link.sent.size(), 1u) << c.key;
    EXPECT_EQ(link.sent[0].linkType, 0);
  }
  // Keys the receiver does not have go nowhere.
  link.sent.clear();
  QTest::keyClick(view, Qt::Key_A);
  QTest::keyClick(view, Qt::Key_F7);
  EXPECT_TRUE(link.sent.empty());
}

// Keys typed in the live log viewer are the viewer's own, except Esc: that is the receiver's Esc,
// and the viewer stays where it is.
TEST_F(ButtonTestViewTest, EscInTheLogViewer_IsTheReceiversEscAndTheViewerStays) {
  view->Settings().logData = 1;
  view->Settings().loggingFolder = dir / "logs";
  ConnectToReceiver();
  view->OnWindowCommand(kIdViewLogRowanData);
  LogRowanDataDlg* viewer = view->LogDataWindow();
  ASSERT_TRUE(viewer->isVisible());
  for (QWidget* target : {static_cast<QWidget*>(viewer), static_cast<QWidget*>(viewer->FilterEdit())}) {
    link.sent.clear();
    QTest::keyPress(target, Qt::Key_Escape);
    EXPECT_TRUE(view->KeyButton(CButtonTestView::kIdEsc)->isDown());
    QTest::keyRelease(target, Qt::Key_Escape);
    EXPECT_FALSE(view->KeyButton(CButtonTestView::kIdEsc)->isDown());
    EXPECT_EQ(SentKeys(), std::vector<int>{4});
    EXPECT_TRUE(viewer->isVisible());
  }
  // F1 stays the viewer's: it shows its event button and sends nothing.
  link.sent.clear();
  QTest::keyPress(viewer, Qt::Key_F1);
  EXPECT_TRUE(viewer->EventButton(0)->isDown());
  QTest::keyRelease(viewer, Qt::Key_F1);
  EXPECT_TRUE(link.sent.empty());
}

TEST_F(ButtonTestViewTest, KeyButtonClicks_SendTheirCodes) {
  ConnectToReceiver();
  const std::pair<int, int> buttons[] = {{1, 1}, {2, 2}, {3, 3}, {5, 4}, {8, 8}};
  for (const auto& [id, code] : buttons) {
    link.sent.clear();
    QTest::mouseClick(view->KeyButton(id), Qt::LeftButton);
    EXPECT_EQ(SentKeys(), std::vector<int>{code}) << id;
  }
}

TEST_F(ButtonTestViewTest, MouseOnEnter_PressSendsZeroAndStartsHoldReleaseSendsSeven) {
  ConnectToReceiver();
  SendMouse(QEvent::MouseButtonPress, EnterCentre(), Qt::LeftButton, Qt::LeftButton);
  EXPECT_EQ(SentKeys(), std::vector<int>{0});
  EXPECT_TRUE(view->KeyButton(CButtonTestView::kIdEnter)->isDown());
  EXPECT_EQ(timers.running[kTimerEnterHeld], 3900);
  SendMouse(QEvent::MouseButtonRelease, EnterCentre(), Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(SentKeys(), (std::vector<int>{0, 7}));
  EXPECT_FALSE(timers.Running(kTimerEnterHeld));
  EXPECT_FALSE(view->KeyButton(CButtonTestView::kIdEnter)->isDown());

  // A press elsewhere on the panel is no key.
  link.sent.clear();
  SendMouse(QEvent::MouseButtonPress, QPoint(200, 20), Qt::LeftButton, Qt::LeftButton);
  SendMouse(QEvent::MouseButtonRelease, QPoint(200, 20), Qt::LeftButton, Qt::NoButton);
  EXPECT_TRUE(link.sent.empty());
}

TEST_F(ButtonTestViewTest, MouseDraggedOffEnter_SendsSevenAtOnceAndNothingOnRelease) {
  ConnectToReceiver();
  SendMouse(QEvent::MouseButtonPress, EnterCentre(), Qt::LeftButton, Qt::LeftButton);
  SendMouse(QEvent::MouseMove, EnterCentre() + QPoint(5, 0), Qt::NoButton, Qt::LeftButton);
  EXPECT_EQ(SentKeys(), std::vector<int>{0});
  SendMouse(QEvent::MouseMove, QPoint(200, 30), Qt::NoButton, Qt::LeftButton);
  EXPECT_EQ(SentKeys(), (std::vector<int>{0, 7}));
  EXPECT_FALSE(timers.Running(kTimerEnterHeld));
  EXPECT_FALSE(view->KeyButton(CButtonTestView::kIdEnter)->isDown());
  SendMouse(QEvent::MouseButtonRelease, QPoint(200, 30), Qt::LeftButton, Qt::NoButton);
  SendMouse(QEvent::MouseMove, EnterCentre(), Qt::NoButton, Qt::NoButton);
  EXPECT_EQ(SentKeys(), (std::vector<int>{0, 7}));
}

TEST_F(ButtonTestViewTest, ReturnHeld_SendsZeroOnceThenSixAfterHoldThenSeven) {
  ConnectToReceiver();
  SendKey(QEvent::KeyPress, Qt::Key_Return);
  EXPECT_TRUE(view->KeyButton(CButtonTestView::kIdEnter)->isDown());
  EXPECT_EQ(timers.running[kTimerEnterHeld], 3900);
  // Keyboard auto-repeat delivers more presses (and, on some systems, releases) while held.
  for (int i = 0; i < 3; ++i) {
    SendKey(QEvent::KeyRelease, Qt::Key_Return, true);
    SendKey(QEvent::KeyPress, Qt::Key_Return, true);
  }
  EXPECT_EQ(SentKeys(), std::vector<int>{0});
  view->Control().OnTimer(kTimerEnterHeld);
  EXPECT_EQ(SentKeys(), (std::vector<int>{0, 6}));
  EXPECT_FALSE(timers.Running(kTimerEnterHeld));
  SendKey(QEvent::KeyRelease, Qt::Key_Return);
  // The release becomes Enter released once no auto-repeat press follows it.
  EXPECT_TRUE(QTest::qWaitFor([&] { return SentKeys().size() == 3; }, 1000));
  EXPECT_EQ(SentKeys(), (std::vector<int>{0, 6, 7}));
  EXPECT_FALSE(view->KeyButton(CButtonTestView::kIdEnter)->isDown());
}

TEST_F(ButtonTestViewTest, ReturnHeldOnX11_UnflaggedRepeatPairsAreNoRelease) {
  // An X server repeating a held key sends release and press pairs that Qt may leave unflagged.
  ConnectToReceiver();
  SendKey(QEvent::KeyPress, Qt::Key_Return);
  for (int i = 0; i < 5; ++i) {
    SendKey(QEvent::KeyRelease, Qt::Key_Return);
    SendKey(QEvent::KeyPress, Qt::Key_Return);
    QTest::qWait(10);
  }
  EXPECT_EQ(SentKeys(), std::vector<int>{0});
  EXPECT_TRUE(timers.Running(kTimerEnterHeld)) << "the hold goes on";
  EXPECT_TRUE(view->KeyButton(CButtonTestView::kIdEnter)->isDown());
  view->Control().OnTimer(kTimerEnterHeld);
  SendKey(QEvent::KeyRelease, Qt::Key_Return);
  EXPECT_TRUE(QTest::qWaitFor([&] { return SentKeys().size() == 3; }, 1000));
  QTest::qWait(60);
  EXPECT_EQ(SentKeys(), (std::vector<int>{0, 6, 7}));
  EXPECT_FALSE(view->KeyButton(CButtonTestView::kIdEnter)->isDown());
}

TEST_F(ButtonTestViewTest, ReturnHeldWhenTheKeyboardGoesElsewhere_ReleasesEnter) {
  ConnectToReceiver();
  SendKey(QEvent::KeyPress, Qt::Key_Return);
  QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
  QApplication::sendEvent(view, &out);
  EXPECT_EQ(SentKeys(), (std::vector<int>{0, 7}));
  EXPECT_FALSE(timers.Running(kTimerEnterHeld));
  EXPECT_FALSE(view->KeyButton(CButtonTestView::kIdEnter)->isDown());
  // The release that follows elsewhere, should it still arrive, sends nothing more.
  SendKey(QEvent::KeyRelease, Qt::Key_Return);
  QTest::qWait(60);
  EXPECT_EQ(SentKeys(), (std::vector<int>{0, 7}));
}

TEST_F(ButtonTestViewTest, ReturnShortPress_SendsZeroThenSeven) {
  ConnectToReceiver();
  QTest::keyClick(view, Qt::Key_Return);
  EXPECT_TRUE(QTest::qWaitFor([&] { return SentKeys().size() == 2; }, 1000));
  EXPECT_EQ(SentKeys(), (std::vector<int>{0, 7}));
  EXPECT_FALSE(timers.Running(kTimerEnterHeld));
  // The keypad's Enter is the same key; two quick presses are two presses.
  link.sent.clear();
  QTest::keyClick(view, Qt::Key_Enter);
  EXPECT_TRUE(QTest::qWaitFor([&] { return SentKeys().size() == 2; }, 1000));
  QTest::keyClick(view, Qt::Key_Enter);
  EXPECT_TRUE(QTest::qWaitFor([&] { return SentKeys().size() == 4; }, 1000));
  EXPECT_EQ(SentKeys(), (std::vector<int>{0, 7, 0, 7}));
}

TEST_F(ButtonTestViewTest, ArrowAutoRepeat_SendsItsCodeAgainOnEveryRepeat) {
  ConnectToReceiver();
  SendKey(QEvent::KeyPress, Qt::Key_Down);
  SendKey(QEvent::KeyPress, Qt::Key_Down, true);
  SendKey(QEvent::KeyRelease, Qt::Key_Down, true);
  SendKey(QEvent::KeyPress, Qt::Key_Down, true);
  EXPECT_TRUE(view->KeyButton(CButtonTestView::kIdDown)->isDown());
  SendKey(QEvent::KeyRelease, Qt::Key_Down);
  EXPECT_EQ(SentKeys(), (std::vector<int>{2, 2, 2}));
  EXPECT_FALSE(view->KeyButton(CButtonTestView::kIdDown)->isDown());
}

TEST_F(ButtonTestViewTest, KeysWhileNotConnected_SendNothing) {
  QTest::keyClick(view, Qt::Key_Up);
  QTest::keyClick(view, Qt::Key_Return);
  QTest::mouseClick(view->KeyButton(CButtonTestView::kIdEsc), Qt::LeftButton);
  EXPECT_TRUE(link.sent.empty());
}

TEST_F(ButtonTestViewTest, RightClick_MenuOnlyWithLoggingAndCommandsByState) {
  auto rightClick = [this] {
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(200, 100), view->mapToGlobal(QPoint(200, 100)));
    QApplication::sendEvent(view, &event);
  };
  rightClick();
  EXPECT_FALSE(view->WindowsMenu()->isVisible());

  view->Settings().logData = 1;
  rightClick();
  QMenu* menu = view->WindowsMenu();
  ASSERT_TRUE(menu->isVisible());
  QStringList shown;
  for (QAction* a : menu->actions())
    if (a->isVisible()) shown << a->text() + (a->isEnabled() ? "" : " (off)");
  EXPECT_EQ(shown, QStringList({"View LogRowan Data", "View Command Window (off)",
                                "View File Transfer Window (off)"}));
  menu->hide();

  view->SetSpaAvailable([] { return true; });
  ConnectToReceiver();
  rightClick();
  shown.clear();
  for (QAction* a : menu->actions())
    if (a->isVisible()) shown << a->text() + (a->isEnabled() ? "" : " (off)");
  EXPECT_EQ(shown, QStringList({"View SPA Window", "View LogRowan Data", "View Command Window",
                                "View File Transfer Window"}));
  QSignalSpy show(view, &CButtonTestView::ShowWindowCommand);
  menu->actions()[2]->trigger();
  ASSERT_EQ(show.count(), 1);
  EXPECT_EQ(show[0][0].toInt(), kIdViewCommandWindow);
  menu->hide();
}

TEST_F(ButtonTestViewTest, DoubleClickHotSpots_ToggleWindowsOnlyWhenTheyMayOpen) {
  QSignalSpy logData(view, &CButtonTestView::ToggleLogDataWindow);
  QSignalSpy spa(view, &CButtonTestView::ToggleSpaWindow);
  auto doubleClick = [this](QPoint pos) {
    SendMouse(QEvent::MouseButtonDblClick, pos, Qt::LeftButton, Qt::LeftButton);
  };
  doubleClick(QPoint(325, 66));
  doubleClick(QPoint(70, 20));
  EXPECT_EQ(logData.count(), 0);
  EXPECT_EQ(spa.count(), 0);

  view->Settings().logData = 1;
  view->SetSpaAvailable([] { return true; });
  for (QPoint p : {QPoint(320, 61), QPoint(331, 72)}) doubleClick(p);
  for (QPoint p : {QPoint(62, 11), QPoint(82, 32)}) doubleClick(p);
  EXPECT_EQ(logData.count(), 2);
  EXPECT_EQ(spa.count(), 2);
  // Just outside the spots.
  for (QPoint p : {QPoint(332, 66), QPoint(325, 73), QPoint(83, 20), QPoint(70, 33)}) doubleClick(p);
  EXPECT_EQ(logData.count(), 2);
  EXPECT_EQ(spa.count(), 2);
}

TEST_F(ButtonTestViewTest, Commands_EnabledByStateAndConnectShowsTheDialog) {
  const int ids[] = {kIdFileConnect, kIdFileDisconnect, kIdClearBbRam, kIdViewCommandWindow,
                     kIdViewFileTransferWindow};
  auto enabled = [&] {
    std::vector<bool> e;
    for (int id : ids) e.push_back(view->IsCommandEnabled(id));
    return e;
  };
  EXPECT_EQ(enabled(), (std::vector<bool>{true, false, false, false, false}));
  EXPECT_FALSE(view->IsCommandEnabled(kIdViewSpaWindow));

  dialogAnswer = false;
  view->OnFileConnect();
  EXPECT_EQ(dialogsShown, 1);
  EXPECT_EQ(view->Control().State(), kDisconnected);
  EXPECT_EQ(link.openedType, -1);

  dialogAnswer = true;
  view->OnFileConnect();
  EXPECT_EQ(view->Control().State(), kWaiting);
  EXPECT_EQ(enabled(), (std::vector<bool>{false, false, false, false, false}));
  EXPECT_FALSE(frame->CommandAction(kIdFileConnect)->isEnabled());
  view->Control().LinkStatus(0);
  link.incoming.push_back(DisplayReport(0, "x"));
  view->Control().LinkPacketReady();
  EXPECT_EQ(enabled(), (std::vector<bool>{false, true, true, true, true}));
  EXPECT_TRUE(frame->CommandAction(kIdFileDisconnect)->isEnabled());

  view->OnFileDisconnect();
  EXPECT_EQ(view->Control().State(), kDisconnected);
  EXPECT_EQ(enabled(), (std::vector<bool>{true, false, false, false, false}));
}

TEST_F(ButtonTestViewTest, Layout_KeysAtTheirPlacesAndSizes) {
  struct Case {
    int id;
    QRect rect;
  };
  const Case cases[] = {{1, {141, 137, 61, 43}}, {2, {220, 137, 62, 43}}, {4, {61, 137, 61, 44}},
                        {3, {299, 137, 62, 42}}, {5, {15, 72, 61, 44}},   {8, {345, 72, 62, 42}}};
  for (const Case& c : cases) {
    ASSERT_NE(view->KeyButton(c.id), nullptr) << c.id;
    EXPECT_EQ(view->KeyButton(c.id)->geometry(), c.rect) << c.id;
    EXPECT_EQ(view->KeyButton(c.id)->focusPolicy(), Qt::NoFocus) << c.id;
  }
  EXPECT_EQ(view->size(), QSize(422, 187));
}

TEST_F(ButtonTestViewTest, Painting_LcdDarkThenLitAndCursorBlinksAsFullBlock) {
  // The first dot of the first cell of row 0.
  const QPoint firstDot(CPanelArt::kRowX + 1, CPanelArt::kRowY + 1);
  auto bright = [](QColor c) { return c.green() > 200 && c.red() < 80 && c.blue() < 80; };
  EXPECT_FALSE(bright(PixelAt(firstDot)));

  ConnectToReceiver();
  // A cursor at column 0 of row 0: the cell is a full block in the visible phase.
  link.incoming.push_back(DisplayReport(0, " Menu", 1, 0, 0));
  view->Control().LinkPacketReady();
  EXPECT_EQ(timers.running[kTimerCursorBlink], 300);
  EXPECT_TRUE(bright(PixelAt(firstDot)));
  EXPECT_EQ(PixelAt(firstDot), CPanelArt::kTextLit);
  view->Control().OnTimer(kTimerCursorBlink);
  EXPECT_FALSE(bright(PixelAt(firstDot)));
  view->Control().OnTimer(kTimerCursorBlink);
  EXPECT_TRUE(bright(PixelAt(firstDot)));

  view->OnFileDisconnect();
  EXPECT_FALSE(bright(PixelAt(firstDot)));
}

TEST_F(ButtonTestViewTest, Painting_LoggingLampLightsWhileLogLinesArrive) {
  const QPoint lamp = CPanelArt::kLoggingMark.center();
  auto amber = [](QColor c) { return c.red() > 150 && c.green() > 60 && c.blue() < 100; };
  view->Settings().logData = 1;
  view->Settings().loggingFolder = dir / "logs";
  ConnectToReceiver();
  EXPECT_FALSE(amber(PixelAt(lamp)));
  view->Control().OnLogLine("P one\n");
  EXPECT_TRUE(amber(PixelAt(lamp)));
  EXPECT_EQ(timers.running[kTimerLogActivity], 1200);
  view->Control().OnTimer(kTimerLogActivity);
  EXPECT_FALSE(amber(PixelAt(lamp)));
  // Without diagnostic logging a log line lights nothing.
  view->OnFileDisconnect();
  view->Settings().logData = 0;
  ConnectToReceiver();
  view->Control().OnLogLine("P two\n");
  EXPECT_FALSE(amber(PixelAt(lamp)));
}

TEST_F(ButtonTestViewTest, WindowClose_ClearsThePanelFlagAndClosesTheLink) {
  ConnectToReceiver();
  frame->close();
  ASSERT_FALSE(link.sent.empty());
  const auto& last = link.sent.back().bytes;
  ASSERT_EQ(last.size(), 8u);
  EXPECT_EQ(last[0], 0x8E);
  EXPECT_EQ(last[1], 0x8C);
  EXPECT_EQ(last[2], 0x03);
  EXPECT_EQ(last[3] & 0x02, 0);
  EXPECT_EQ(link.closes, 1);
  EXPECT_EQ(view->Control().State(), kDisconnected);
}

TEST_F(ButtonTestViewTest, TitleReport_SetsTheWindowTitle) {
  EXPECT_EQ(frame->windowTitle(), "Plowview [1]");
  ConnectToReceiver();
  KavoPacket title;
  title.id = kavo::kIdSuperReport;
  title.checksumOk = true;
  const char text[] = "Rover 7";
  title.data[0] = 0x8C;
  title.data[1] = 0x04;
  title.data[2] = 0x00;
  std::copy(text, text + sizeof text, title.data + 3);
  // The parser's length counts the two checksum bytes behind the text.
  title.length = static_cast<std::uint16_t>(3 + sizeof text + 2);
  link.incoming.push_back(title);
  view->Control().LinkPacketReady();
  EXPECT_EQ(frame->windowTitle(), "Plowview [1] - Rover 7");
}

// Connections made at start-up, without the dialog.
class ButtonTestViewStartUpTest : public ::testing::Test {
 protected:
  void Start(const std::string& ini, std::function<void(ViewServices&)> tweak = {}) {
    if (!ini.empty()) std::ofstream(dir / "Plowview.ini") << ini;
    profile = std::make_unique<CSettingsProfile>(dir.Path() / "Plowview.ini");
    ViewServices services;
    services.profile = profile.get();
    services.prompts = &prompts;
    services.link = &link;
    services.timers = &timers;
    services.connectionDialog = [this](CPortSettings&) {
      ++dialogsShown;
      return true;
    };
    if (tweak) tweak(services);
    frame = std::make_unique<CMainFrame>();
    view = new CButtonTestView(&doc, services);
    frame->SetView(view);
    view->OnInitialUpdate();
    view->Control().SetDisconnectPauseMs(0);
  }

  CTempDir dir;
  CFakeReceiverLink link;
  CFakeTimers timers;
  CPromptRecorder prompts;
  std::unique_ptr<CSettingsProfile> profile;
  CButtonTestDoc doc;
  int dialogsShown = 0;
  std::unique_ptr<CMainFrame> frame;
  CButtonTestView* view = nullptr;
};

TEST_F(ButtonTestViewStartUpTest, ConnectAtStartUp_OpensWithoutTheDialogOnlyWithLoggingOff) {
  Start("[Connect]\nAuto=1\nPort=3\nm_LogData=0\n");
  EXPECT_EQ(view->Control().State(), kWaiting);
  EXPECT_EQ(link.openedType, 3);
  EXPECT_EQ(dialogsShown, 0);
}

TEST_F(ButtonTestViewStartUpTest, ConnectAtStartUpWithLogging_StaysDisconnected) {
  Start("[Connect]\nAuto=1\nm_LogData=1\n");
  EXPECT_EQ(view->Control().State(), kDisconnected);
  EXPECT_EQ(link.openedType, -1);
}

TEST_F(ButtonTestViewStartUpTest, Simulator_SlotZeroSerialAtOnceWithRelayAndNoFileWritten) {
  Start("", [](ViewServices& s) {
    s.simulatorDevice = "/dev/pts/99";
    s.relayServer = true;
    s.relayPort = 31234;
  });
  EXPECT_EQ(view->Control().State(), kWaiting);
  EXPECT_EQ(link.openedType, 0);
  EXPECT_EQ(link.baud, 9600);  // auto port configuration by default
  EXPECT_TRUE(link.relayEnabled);
  EXPECT_EQ(link.relayPort, 31234u);
  EXPECT_EQ(view->Settings().enableAsServer, 1);
  EXPECT_EQ(dialogsShown, 0);
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "Plowview.ini"));
}

}  // namespace
