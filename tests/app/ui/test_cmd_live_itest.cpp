// The command panel on the built-in simulator, through the view's own link on plowsim's
// pseudo-terminal: what the panel sends is checked at the receiver's end, in plowsim's trace. A
// typed 0x10 reaches the receiver as a data byte only when it was doubled on the wire, so the
// trace line also proves the frame's stuffing.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/simulator_process.h"
#include "app/ui/live_view_fixture.h"
#include "app/ui/test_cmd_dlg.h"
#include "support/temp_dir.h"

namespace {

bool TraceHasLine(const std::filesystem::path& trace, const std::string& wanted) {
  std::ifstream in(trace);
  std::string line;
  while (std::getline(in, line))
    if (line == wanted) return true;
  return false;
}

TEST(CommandPanelLive, TypedAndReadyMadePackets_ReachTheReceiverByteForByte) {
  const QByteArray path = QByteArray(PLOWVIEW_BINARY_DIR "/bin:") + qgetenv("PATH");
  qputenv("PATH", path);
  CTempDir dir;
  const std::filesystem::path trace = dir.Path() / "plowsim.trace";
  CSimulatorProcess simulator;
  std::string error;
  ASSERT_TRUE(simulator.Start({QStringLiteral("--trace"), QString::fromStdString(trace.string())}, error))
      << error;

  CLiveViewFixture live(dir.Path(), "[Connect]\nm_LogData=0\n", simulator.DevicePath());
  CButtonTestView* view = live.View();

  // The command is offered once the receiver answers.
  ASSERT_TRUE(QTest::qWaitFor([&] { return view->IsCommandEnabled(kIdViewCommandWindow); }, 20000))
      << "never connected";
  view->OnWindowCommand(kIdViewCommandWindow);
  CTestCmdDlg* panel = view->CommandWindow();
  ASSERT_TRUE(panel->isVisible());

  panel->Field(CTestCmdDlg::kIdField)->setText("8E");
  panel->Field(CTestCmdDlg::kD0Field)->setText("0A10FF");
  panel->Field(CTestCmdDlg::kLenField)->setText("3");
  panel->Button(CTestCmdDlg::kFreeformButton)->click();
  // The payload as plowsim took it from the wire, then the checksum trailer 0x0119.
  EXPECT_TRUE(QTest::qWaitFor([&] { return TraceHasLine(trace, "RX 8E 0A 10 FF 01 19"); }, 5000))
      << "freeform packet not received as sent";

  // "product ID" 10 is hexadecimal for the video window: 0x10, doubled on the wire too.
  panel->Field(CTestCmdDlg::kProductIdField)->setText("10");
  panel->Field(CTestCmdDlg::kXField)->setText("300");
  panel->Field(CTestCmdDlg::kYField)->setText("2");
  panel->Field(CTestCmdDlg::kChanField)->setText("1");
  panel->Field(CTestCmdDlg::kFlipField)->setText("0");
  panel->SizeList()->setCurrentRow(1);
  panel->Button(CTestCmdDlg::kVideoSendButton)->click();
  // A6+18+10+01+01+2C+00+02+02+01+00 = 0x0101.
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return TraceHasLine(trace, "RX 8E A6 18 10 01 01 2C 00 02 02 01 00 01 01"); }, 5000))
      << "video window command not received as sent";
  EXPECT_TRUE(live.Prompts().Texts().empty());

  live.Frame().close();
}

}  // namespace
