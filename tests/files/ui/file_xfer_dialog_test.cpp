#include "files/ui/file_xfer_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <string>
#include <vector>

#include "files/file_test_packets.h"
#include "support/screenshot_dir.h"
#include "support/temp_dir.h"

namespace {

using namespace filetest;

const std::string kFolder = "A:\\gpsData\\";

KavoPacket Entry(std::uint8_t index, const std::string& text) {
  return Received(0x8F, Cat({{0x93, 0x15, 0x00, index, 0x00}, Text(text)}));
}
KavoPacket OpenReply(std::uint32_t handle, std::uint32_t size, const std::string& name) {
  return Received(0x8F, Cat({{0x93, 0x15, 0x01, 0x00}, Be32(handle), Be32(size), Text(kFolder + name)}));
}
KavoPacket Block(std::uint32_t handle, std::uint32_t offset, const Bytes& bytes) {
  return Received(0x8F, Cat({{0x93, 0x15, 0x01, 0x01},
                             Be32(handle),
                             Be32(offset),
                             {static_cast<std::uint8_t>(bytes.size())},
                             bytes}));
}
KavoPacket Closed(std::uint32_t handle) {
  return Received(0x8F, Cat({{0x93, 0x15, 0x01, 0x02}, Be32(handle)}));
}
Bytes ListRequest() {
  return Cat({{0x93, 0x15, 0x00}, Text(kFolder)});
}
Bytes OpenRequest(const std::string& name) {
  return Cat({{0x93, 0x15, 0x01, 0x01}, Text(kFolder + name)});
}

class FileXferDialogTest : public ::testing::Test {
 protected:
  FileXferDialogTest() {
    dialog.SetLink([this] { return connected; },
                   [this](const KavoPacket& p, int withChecksum) {
                     EXPECT_EQ(p.id, 0x8E);
                     EXPECT_EQ(withChecksum, 1);
                     sent.push_back(Payload(p));
                     return true;
                   });
    dialog.SetDownloadFolder(dir.Path().string());
  }

  // Shows the window (which asks for the listing) and answers with `names`.
  void ShowAndList(const std::vector<std::string>& names) {
    dialog.show();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), ListRequest());
    for (std::size_t i = 0; i < names.size(); ++i)
      EXPECT_TRUE(dialog.OnPacket(Entry(static_cast<std::uint8_t>(i), names[i])));
    sent.clear();
  }
  QStringList ListTexts() const {
    QStringList texts;
    for (int row = 0; row < dialog.List()->count(); ++row) texts << dialog.List()->item(row)->text();
    return texts;
  }
  bool ControlsEnabled() const {
    return dialog.List()->isEnabled() && dialog.RefreshButton()->isEnabled() &&
           dialog.GetButton()->isEnabled() && dialog.DeleteButton()->isEnabled();
  }
  bool ControlsDisabled() const {
    return !dialog.List()->isEnabled() && !dialog.RefreshButton()->isEnabled() &&
           !dialog.GetButton()->isEnabled() && !dialog.DeleteButton()->isEnabled();
  }

  CTempDir dir;
  bool connected = true;
  std::vector<Bytes> sent;
  CFileXferDialog dialog;
};

TEST_F(FileXferDialogTest, Created_ControlsAsTheWindowStarts) {
  EXPECT_EQ(dialog.windowTitle(), "File Transfer");
  EXPECT_EQ(dialog.List()->selectionMode(), QAbstractItemView::MultiSelection);
  EXPECT_EQ(dialog.RefreshButton()->text(), "Refresh");
  EXPECT_EQ(dialog.GetButton()->text(), "Get Selected Files");
  EXPECT_EQ(dialog.DeleteButton()->text(), "Delete Selected Files");
  EXPECT_EQ(dialog.DeleteWhenDoneCheck()->text(), "Delete files when done downloading");
  EXPECT_TRUE(dialog.DeleteWhenDoneCheck()->isChecked());
  EXPECT_EQ(dialog.Button1()->text(), "Close");
  EXPECT_EQ(dialog.findChild<QListWidget*>("c1230"), dialog.List());
  EXPECT_FALSE(dialog.WatchdogRunning());
  EXPECT_TRUE(sent.empty());  // nothing is asked before the window shows
}

TEST_F(FileXferDialogTest, ListRepliesShow_GetTwoQueuesBoth_CancelReenables) {
  ShowAndList({"4001A.T02", "4001B.T02", "4001C.T02"});
  EXPECT_TRUE(dialog.WatchdogRunning());
  EXPECT_EQ(ListTexts(), QStringList({"4001A.T02", "4001B.T02", "4001C.T02"}));

  dialog.List()->item(0)->setSelected(true);
  dialog.List()->item(2)->setSelected(true);
  dialog.GetButton()->click();
  EXPECT_EQ(dialog.Engine().Progress().size(), 2u);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], OpenRequest("4001A.T02"));
  EXPECT_EQ(ListTexts(), QStringList({"4001A.T02 [Starting...]", "4001B.T02", "4001C.T02 [Queued]"}));
  EXPECT_TRUE(ControlsDisabled());
  EXPECT_EQ(dialog.Button1()->text(), "Cancel");
  EXPECT_EQ(dialog.ProgressText()->text(), "4001A.T02: Starting...");
  EXPECT_EQ(dialog.BatchProgress()->maximum(), 2);
  EXPECT_EQ(dialog.BatchProgress()->value(), 0);

  sent.clear();
  dialog.Button1()->click();
  EXPECT_TRUE(ControlsEnabled());
  EXPECT_EQ(dialog.Button1()->text(), "Close");
  EXPECT_TRUE(dialog.Engine().Progress().empty());
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], ListRequest());  // the list is fetched afresh
  EXPECT_TRUE(ListTexts().isEmpty());
  EXPECT_TRUE(dialog.isVisible());  // Cancel does not close
}

TEST_F(FileXferDialogTest, Download_ProgressBarsFollowTheBlocksAndFileLands) {
  dialog.DeleteWhenDoneCheck()->setChecked(false);
  ShowAndList({"LOG.T02"});
  dialog.List()->item(0)->setSelected(true);
  dialog.GetButton()->click();
  const Bytes content(200, 0x5A);
  dialog.OnPacket(OpenReply(9, 200, "LOG.T02"));
  EXPECT_EQ(dialog.FileProgress()->value(), 0);
  dialog.OnPacket(Block(9, 0, Bytes(content.begin(), content.begin() + 128)));
  EXPECT_EQ(ListTexts(), QStringList({"LOG.T02 [Downloading - 64.0%]"}));
  EXPECT_EQ(dialog.FileProgress()->value(), 64);
  EXPECT_EQ(dialog.ProgressText()->text(), "LOG.T02: Downloading - 64.0%");
  dialog.OnPacket(Block(9, 128, Bytes(content.begin() + 128, content.end())));
  dialog.OnPacket(Closed(9));

  EXPECT_EQ(ListTexts(), QStringList({"LOG.T02 [Done]"}));
  EXPECT_EQ(ReadWholeFile(dir.Path() / "LOG.T02"), std::string(content.begin(), content.end()));
  EXPECT_EQ(dialog.FileProgress()->value(), 100);
  EXPECT_EQ(dialog.BatchProgress()->value(), 1);
  EXPECT_TRUE(ControlsEnabled());
  EXPECT_EQ(dialog.Button1()->text(), "Close");
}

TEST_F(FileXferDialogTest, Watchdog_RunsWhileShownOrBusy) {
  ShowAndList({"A.T02"});
  dialog.hide();
  EXPECT_FALSE(dialog.WatchdogRunning());

  dialog.show();
  EXPECT_TRUE(sent.empty());  // only the first show refreshes
  dialog.List()->item(0)->setSelected(true);
  dialog.GetButton()->click();
  dialog.hide();
  EXPECT_TRUE(dialog.WatchdogRunning());  // a lost reply still gets its resend
  dialog.Engine().Cancel();
  EXPECT_FALSE(dialog.WatchdogRunning());
}

TEST_F(FileXferDialogTest, LinkDown_NothingSentAndCloseHidesTheWindow) {
  connected = false;
  dialog.show();
  EXPECT_TRUE(sent.empty());
  dialog.Button1()->click();
  EXPECT_FALSE(dialog.isVisible());
}

TEST_F(FileXferDialogTest, DeleteWhenDoneCheckBox_DrivesTheEngine) {
  dialog.DeleteWhenDoneCheck()->setChecked(false);
  EXPECT_FALSE(dialog.Engine().DeleteWhenDone());
  dialog.DeleteWhenDoneCheck()->setChecked(true);
  EXPECT_TRUE(dialog.Engine().DeleteWhenDone());
}

class FileXferDialogScreenshots : public FileXferDialogTest {};

TEST_F(FileXferDialogScreenshots, Dialog) {
  ShowAndList({"4001A.T02", "4001B.T02", "4001C.T02", "4001D.T02", "4001E.T02", "BASE.CMR"});
  dialog.List()->item(1)->setSelected(true);
  dialog.List()->item(2)->setSelected(true);
  dialog.GetButton()->click();
  dialog.OnPacket(OpenReply(3, 512, "4001B.T02"));
  dialog.OnPacket(Block(3, 0, Bytes(128, 1)));
  const QString dir = ScreenshotDir();
  ASSERT_TRUE(QDir().mkpath(dir));
  EXPECT_TRUE(dialog.grab().save(dir + "/file_xfer_dialog.png"));
}

}  // namespace
