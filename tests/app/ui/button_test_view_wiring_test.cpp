// The view and its engineering windows: created hidden at the initial update, fed by the
// connection (usage reports, log lines, every packet), asked for events after each batch, shown
// by the commands only when these are enabled; the Help menu's About box; the connection dialog's
// logging options.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/connection_control.h"
#include "app/fake_receiver_link.h"
#include "app/port_settings.h"
#include "app/settings_profile.h"
#include "app/ui/about_dlg.h"
#include "app/ui/button_test_doc.h"
#include "app/ui/button_test_view.h"
#include "app/ui/main_frame.h"
#include "app/ui/port_setting_dlg.h"
#include "app/ui/spa_dlg.h"
#include "app/ui/test_cmd_dlg.h"
#include "dat/ui/log_rowan_data_dlg.h"
#include "dat/ui/logging_config_options_dlg.h"
#include "dat/ui/sort_list_ctrl.h"
#include "files/file_test_packets.h"
#include "files/ui/file_xfer_dialog.h"
#include "link/protocol/kavo_ids.h"
#include "support/prompt_recorder.h"
#include "support/temp_dir.h"

namespace {

KavoPacket Report(std::vector<std::uint8_t> payload) {
  KavoPacket p;
  p.id = kavo::kIdSuperReport;
  p.checksumOk = true;
  // The parser's length counts the checksum trailer.
  p.length = static_cast<std::uint16_t>(payload.size() + 2);
  std::copy(payload.begin(), payload.end(), p.data);
  return p;
}

KavoPacket NameReport() {
  return Report({0x93, 0x11, 0x00, 2, 'T', 'R', 0, 'N', 'V', 0});
}

// Duration 12.5 s; TR 25 %, 3.125 s; NV 50 %, 6 s.
KavoPacket UsageReport() {
  return Report({0x93, 0x11, 0x02, 0x40, 0x29, 0, 0,    0,    0, 0, 0,    2,    0x41, 0xC8,
                 0,    0,    0x40, 0x48, 0,    0, 0x42, 0x48, 0, 0, 0x40, 0xC0, 0,    0});
}

KavoPacket TitleReport(const std::string& text) {
  std::vector<std::uint8_t> payload{0x8C, 0x04, 0x00};
  payload.insert(payload.end(), text.begin(), text.end());
  payload.push_back(0);
  return Report(payload);
}

// Closes the next modal dialog once it runs, after checking it is a `T`, and says whether it was.
template <typename T>
void CloseNextModal(bool& seen, std::function<void(T*)> act = {}) {
  QTimer::singleShot(0, [&seen, act] {
    auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
    seen = dialog != nullptr;
    if (!dialog) {
      if (QWidget* other = QApplication::activeModalWidget()) other->close();
      return;
    }
    if (act)
      act(dialog);
    else
      dialog->reject();
  });
}

class ViewWiringTest : public ::testing::Test {
 protected:
  void SetUp() override {
    profile = std::make_unique<CSettingsProfile>(dir.Path() / "Plowview.ini");
    ViewServices services;
    services.profile = profile.get();
    services.prompts = &prompts;
    services.link = &link;
    services.timers = &timers;
    services.connectionDialog = [](CPortSettings&) { return true; };
    frame = std::make_unique<CMainFrame>();
    view = new CButtonTestView(&doc, services);
    frame->SetView(view);
    view->OnInitialUpdate();
    view->Control().SetDisconnectPauseMs(0);
  }

  void ConnectToReceiver() {
    view->OnFileConnect();
    view->Control().LinkStatus(0);
    link.incoming.push_back(TitleReport("RX1"));
    view->Control().LinkPacketReady();
    ASSERT_EQ(view->Control().State(), kConnected);
    link.sent.clear();
  }

  void Deliver(const KavoPacket& packet) {
    link.incoming.push_back(packet);
    view->Control().LinkPacketReady();
  }

  std::vector<std::vector<std::uint8_t>> SentPayloads(std::uint8_t first) {
    std::vector<std::vector<std::uint8_t>> out;
    for (const auto& s : link.sent)
      if (s.bytes.size() > 1 && s.bytes[1] == first) out.push_back(s.bytes);
    return out;
  }

  CTempDir dir;
  CFakeReceiverLink link;
  CFakeTimers timers;
  CPromptRecorder prompts;
  std::unique_ptr<CSettingsProfile> profile;
  CButtonTestDoc doc;
  std::unique_ptr<CMainFrame> frame;
  CButtonTestView* view = nullptr;
};

TEST_F(ViewWiringTest, InitialUpdate_FourWindowsHiddenAndLogWindowCaptionFollowsTheTitle) {
  ASSERT_NE(view->LogDataWindow(), nullptr);
  ASSERT_NE(view->SpaWindow(), nullptr);
  ASSERT_NE(view->CommandWindow(), nullptr);
  ASSERT_NE(view->FileTransferWindow(), nullptr);
  for (QWidget* w : std::initializer_list<QWidget*>{view->LogDataWindow(), view->SpaWindow(),
                                                    view->CommandWindow(), view->FileTransferWindow()})
    EXPECT_FALSE(w->isVisible());
  const QString number = QString::number(view->InstanceNumber());
  EXPECT_EQ(view->LogDataWindow()->windowTitle(), "Plowview [" + number + "]     -     /A_....");

  view->Settings().loggingFolder = dir.Path().string();
  view->Settings().loggingPrefix = "Z_";
  ConnectToReceiver();
  EXPECT_EQ(
      view->LogDataWindow()->windowTitle(),
      "Plowview [" + number + "] - RX1     -     " + QString::fromStdString(dir.Path().string()) + "/Z_....");
}

TEST_F(ViewWiringTest, ProcessorUsage_ReportsFillTheWindowAndRefreshOnlyWhileShownAndAvailable) {
  ConnectToReceiver();
  CSPADlg* spa = view->SpaWindow();
  view->Control().OnTimer(105);
  EXPECT_TRUE(SentPayloads(0x93).empty()) << "hidden and not available";
  EXPECT_FALSE(view->IsCommandEnabled(kIdViewSpaWindow));

  Deliver(NameReport());
  Deliver(UsageReport());
  EXPECT_TRUE(spa->IsAvailable());
  EXPECT_EQ(spa->SlotText(0)->text(), "TR     3.1s / 25.0%");
  EXPECT_EQ(spa->SlotText(1)->text(), "NV     6.0s / 50.0%");
  EXPECT_EQ(spa->DurationText(), "  12.50s");
  view->Control().OnTimer(105);
  EXPECT_TRUE(SentPayloads(0x93).empty()) << "available but hidden";

  view->OnWindowCommand(kIdViewSpaWindow);
  EXPECT_TRUE(spa->isVisible());
  view->Control().OnTimer(105);
  ASSERT_EQ(SentPayloads(0x93).size(), 1u);
  EXPECT_EQ(SentPayloads(0x93)[0], (std::vector<std::uint8_t>{0x8E, 0x93, 0x11, 0x02}));
  EXPECT_EQ(link.sent.back().withChecksum, 1);

  // A report with a failed checksum changes nothing.
  KavoPacket bad = UsageReport();
  bad.checksumOk = false;
  bad.data[11] = 0;
  Deliver(bad);
  EXPECT_EQ(spa->SlotText(0)->text(), "TR     3.1s / 25.0%");
}

TEST_F(ViewWiringTest, LogLines_ReachTheViewerThroughItsFilterAndPause) {
  LogRowanDataDlg* viewer = view->LogDataWindow();
  view->Control().OnLogLine("P one\nT two\n");
  EXPECT_EQ(viewer->LineCount(), 2);

  viewer->FilterCombo()->setCurrentIndex(1);  // "Show" with "PQX", as the user picks it
  emit viewer->FilterCombo()->activated(1);
  view->Control().OnLogLine("P three\nT four\n");
  EXPECT_EQ(viewer->LineCount(), 3);

  viewer->PauseBox()->click();
  view->Control().OnLogLine("P five\n");
  EXPECT_EQ(viewer->LineCount(), 3);
}

// The event lines go through the connection's logger, which hands them back to the viewer.
TEST_F(ViewWiringTest, EventButton_YieldsOneMLineAtTheNextBatchOnly) {
  view->Settings().logData = 1;
  view->Settings().loggingFolder = (dir.Path() / "logs").string();
  ConnectToReceiver();
  LogRowanDataDlg* viewer = view->LogDataWindow();
  auto lines = [viewer] {
    std::vector<std::string> out;
    for (int row = 0; row < viewer->LineCount(); ++row)
      out.push_back(viewer->List()->GetItemText(row, 0).toStdString());
    return out;
  };
  viewer->EventEdit(1)->setText("tractor left the field");
  viewer->EventButton(1)->click();
  viewer->EventButton(1)->click();
  viewer->EventButton(3)->click();
  EXPECT_TRUE(lines().empty()) << "written with the next batch";
  view->Control().LinkPacketReady();
  EXPECT_EQ(lines(), (std::vector<std::string>{"M tractor left the field", "M Event 4"}));
  view->Control().LinkPacketReady();
  EXPECT_EQ(lines().size(), 2u);
}

TEST_F(ViewWiringTest, WindowCommands_OpenTheirWindowOnlyWhenEnabled) {
  const int all[] = {kIdViewSpaWindow,          kIdViewLogRowanData,      kIdViewCommandWindow,
                     kIdViewFileTransferWindow, kIdViewCommandWindowTwin, kIdViewFileTransferTwin};
  for (int id : all) view->OnWindowCommand(id);
  for (QWidget* w : std::initializer_list<QWidget*>{view->LogDataWindow(), view->SpaWindow(),
                                                    view->CommandWindow(), view->FileTransferWindow()})
    EXPECT_FALSE(w->isVisible()) << w->windowTitle().toStdString();

  view->Settings().logData = 1;
  view->OnWindowCommand(kIdViewLogRowanData);
  EXPECT_TRUE(view->LogDataWindow()->isVisible());

  view->Settings().loggingFolder = dir.Path().string();
  ConnectToReceiver();
  view->OnWindowCommand(kIdViewCommandWindowTwin);
  ASSERT_TRUE(view->CommandWindow()->isVisible());
  // The panel sends on the link with the connection's link type and the checksum trailer.
  view->CommandWindow()->Button(CTestCmdDlg::kBeepButton)->click();
  ASSERT_EQ(link.sent.size(), 1u);
  EXPECT_EQ(link.sent[0].linkType, view->Control().LinkType());
  EXPECT_EQ(link.sent[0].withChecksum, 1);
  EXPECT_EQ(link.sent[0].bytes, (std::vector<std::uint8_t>{0x8E, 0xA6, 0x19, 6, 0x03, 10, 100}));

  view->OnWindowCommand(kIdViewFileTransferWindow);
  EXPECT_TRUE(view->FileTransferWindow()->isVisible());
  EXPECT_EQ(view->FileTransferWindow()->Engine().DownloadFolder(), dir.Path());
  // Its first show asks for the receiver's listing on the link, and the entries reach it.
  const std::vector<std::vector<std::uint8_t>> lists = SentPayloads(0x93);
  ASSERT_EQ(lists.size(), 1u);
  EXPECT_EQ(lists[0], filetest::Cat({{0x8E, 0x93, 0x15, 0x00}, filetest::Text("A:\\gpsData\\")}));
  Deliver(
      filetest::Received(0x8F, filetest::Cat({{0x93, 0x15, 0x00, 0x00, 0x00}, filetest::Text("B0001.T02")})));
  ASSERT_EQ(view->FileTransferWindow()->List()->count(), 1);
  EXPECT_EQ(view->FileTransferWindow()->List()->item(0)->text(), QStringLiteral("B0001.T02"));

  // Once the link is down the panel sends nothing (its own box says so).
  view->OnFileDisconnect();
  link.sent.clear();
  bool boxShown = false;
  view->CommandWindow()->SetLinkNotAvailableHandler([&] { boxShown = true; });
  view->CommandWindow()->Button(CTestCmdDlg::kBeepButton)->click();
  EXPECT_TRUE(boxShown);
  EXPECT_TRUE(link.sent.empty());
}

TEST_F(ViewWiringTest, SpaHotSpot_TogglesTheWindowOnceItIsAvailable) {
  auto doubleClick = [this] {
    const QPoint pos(70, 20);
    QMouseEvent event(QEvent::MouseButtonDblClick, QPointF(pos), QPointF(view->mapToGlobal(pos)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &event);
  };
  doubleClick();
  EXPECT_FALSE(view->SpaWindow()->isVisible());
  ConnectToReceiver();
  Deliver(NameReport());
  doubleClick();
  EXPECT_TRUE(view->SpaWindow()->isVisible());
  doubleClick();
  EXPECT_FALSE(view->SpaWindow()->isVisible());
}

TEST_F(ViewWiringTest, HelpMenu_AboutOpensTheAboutBox) {
  ASSERT_NE(frame->HelpMenu(), nullptr);
  EXPECT_EQ(frame->HelpMenu()->title(), "&Help");
  QAction* about = frame->CommandAction(kIdAppAbout);
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(about->text(), "&About Plowview...");
  EXPECT_TRUE(frame->HelpMenu()->actions().contains(about));
  bool seen = false;
  CloseNextModal<CAboutDlg>(seen);
  about->trigger();
  EXPECT_TRUE(seen);
}

TEST_F(ViewWiringTest, ConnectionDialogOptions_EditTheWordAndCancelKeepsIt) {
  // The Options button works only with logging on.
  std::ofstream(dir.Path() / "Plowview.ini")
      << "[Connect]\nm_LogData=1\nm_LoggingFolder=" << dir.Path().string() << "\nm_logOptions=129\n";
  CPortSettings settings(*profile);
  PortSettingDlg dialog(settings, prompts, CSerialPortMap{});
  ASSERT_EQ(settings.logOptions, 0x0001 | 0x0080);
  auto* options = qobject_cast<QPushButton*>(dialog.Control(PortSettingDlg::kLogOptions));
  ASSERT_NE(options, nullptr);

  bool seen = false;
  CloseNextModal<CLoggingConfigOptionsDlg>(seen, [](CLoggingConfigOptionsDlg* d) {
    EXPECT_TRUE(d->Check(CLoggingConfigOptionsDlg::kMslHeight)->isChecked());
    d->Check(CLoggingConfigOptionsDlg::kNmea)->click();
    d->accept();
  });
  options->click();
  EXPECT_TRUE(seen);
  // OK rebuilds the word from the boxes alone: 0x0080 has no box.
  EXPECT_EQ(settings.logOptions, 0x0001 | 0x0100);

  CloseNextModal<CLoggingConfigOptionsDlg>(seen, [](CLoggingConfigOptionsDlg* d) {
    d->Check(CLoggingConfigOptionsDlg::kVerbose)->click();
    d->reject();
  });
  options->click();
  EXPECT_TRUE(seen);
  EXPECT_EQ(settings.logOptions, 0x0001 | 0x0100);
}

}  // namespace
