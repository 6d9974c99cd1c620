#include "app/ui/can_addr_dlg.h"

#include <gtest/gtest.h>

#include <QListWidget>
#include <QPushButton>
#include <string>

#include "support/prompt_recorder.h"

namespace {

TEST(CanAddrDlg, OkWithoutSelection_RefusedWithMessageThenTheChosenEntryIsKept) {
  CPromptRecorder prompts;
  CCanAddrDlg dlg(prompts);
  for (const char* entry : {"28: Receiver A", "29: Receiver B", "40: Display"})
    ASSERT_TRUE(dlg.AddEntry(entry));
  dlg.show();
  QListWidget* list = dlg.findChild<QListWidget*>("c1066");
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->count(), 3);
  EXPECT_EQ(list->item(1)->text(), "29: Receiver B");

  QPushButton* ok = dlg.findChild<QPushButton*>("c1");
  ASSERT_NE(ok, nullptr);
  ok->click();
  ASSERT_EQ(prompts.Taken().size(), 1u);
  EXPECT_EQ(prompts.Taken()[0].text, "Please select a device to connect to.");
  EXPECT_EQ(prompts.Taken()[0].icon, PromptIcon::Exclamation);
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_TRUE(dlg.Selected().empty());

  list->setCurrentRow(2);
  ok->click();
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_EQ(dlg.Selected(), "40: Display");
  EXPECT_EQ(prompts.Taken().size(), 1u);
}

TEST(CanAddrDlg, Entries_AtMost255) {
  CPromptRecorder prompts;
  CCanAddrDlg dlg(prompts);
  for (int i = 0; i < 255; ++i) ASSERT_TRUE(dlg.AddEntry(std::to_string(i)));
  EXPECT_FALSE(dlg.AddEntry("one too many"));
  EXPECT_EQ(dlg.EntryCount(), 255);
  dlg.show();
  EXPECT_EQ(dlg.List()->count(), 255);
}

}  // namespace
