#include "dat/ui/log_rowan_data_dlg.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/settings_profile.h"
#include "dat/ui/sort_list_ctrl.h"
#include "support/temp_dir.h"

namespace {

struct FilterCase {
  int state;
  const char* codes;
  const char* line;
  bool shown;
};

TEST(LogRowanDataDlgTest, FilterByLineCode) {
  const FilterCase cases[] = {
      {1, "PQX", "P 123 52.1 13.4", true},
      {1, "PQX", "T 5 6 7", false},
      {2, "PQX", "P 123 52.1 13.4", false},
      {2, "PQX", "T 5 6 7", true},
      {1, "", "P 1", false},
      {1, "", "T 1", false},
      {2, "", "P 1", true},
      {2, "", "T 1", true},
      {0, "", "T 1", true},
      {0, "PQX", "* note", true},
      {1, "PQX", "", false},
      {2, "PQX", "", true},
  };
  for (const FilterCase& c : cases) {
    EXPECT_EQ(LogLinePassesFilter(c.line, c.state, c.codes), c.shown)
        << "state " << c.state << " codes '" << c.codes << "' line '" << c.line << "'";
  }
}

TEST(LogRowanDataDlgTest, FilterFromProfile_AppliedToLinesAndStoredWhenChanged) {
  CTempDir dir;
  CSettingsProfile profile(dir.Path() / "Plowview.ini");
  profile.WriteInt("LogRowanFilter", "State", 1);
  LogRowanDataDlg dialog(&profile);
  EXPECT_EQ(dialog.FilterState(), 1);
  EXPECT_EQ(dialog.FilterCodes(), "PQX");
  EXPECT_TRUE(dialog.FilterEdit()->isEnabled());
  dialog.AddLine("P 1\n");
  dialog.AddLine("T 2\n");
  ASSERT_EQ(dialog.LineCount(), 1);
  EXPECT_EQ(dialog.List()->GetItemText(0, 0), "P 1");

  QTest::keyClicks(dialog.FilterEdit(), "T");
  EXPECT_EQ(profile.GetString("LogRowanFilter", "Filter", "xxx"), "PQXT");
  dialog.AddLine("T 3");
  EXPECT_EQ(dialog.LineCount(), 2);

  dialog.FilterCombo()->activated(0);
  EXPECT_EQ(profile.GetString("LogRowanFilter", "State", "xxx"), "0");
  EXPECT_FALSE(dialog.FilterEdit()->isEnabled());

  LogRowanDataDlg fresh(nullptr);
  EXPECT_EQ(fresh.FilterState(), 0);
  EXPECT_EQ(fresh.FilterCodes(), "PQX");
  EXPECT_FALSE(fresh.FilterEdit()->isEnabled());
}

TEST(LogRowanDataDlgTest, TabsAndLineBreaks_OneCleanRow) {
  LogRowanDataDlg dialog(nullptr);
  dialog.AddLine("A\tB\r\n");
  ASSERT_EQ(dialog.LineCount(), 1);
  EXPECT_EQ(dialog.List()->GetItemText(0, 0), "A    B");
}

TEST(LogRowanDataDlgTest, PausedLinesDropped) {
  LogRowanDataDlg dialog(nullptr);
  dialog.PauseBox()->setChecked(true);
  dialog.AddLine("P 1");
  EXPECT_EQ(dialog.LineCount(), 0);
  dialog.PauseBox()->setChecked(false);
  dialog.AddLine("P 2");
  EXPECT_EQ(dialog.LineCount(), 1);
}

TEST(LogRowanDataDlgTest, At2001Lines_OldestGoes_AndAddingCostsTheSameWhenFull) {
  LogRowanDataDlg dialog(nullptr);
  dialog.show();
  QElapsedTimer timer;
  timer.start();
  for (int i = 1; i <= 1000; ++i) dialog.AddLine("L " + std::to_string(i));
  const qint64 firstThousand = timer.nsecsElapsed();
  for (int i = 1001; i <= 2001; ++i) dialog.AddLine("L " + std::to_string(i));
  EXPECT_EQ(dialog.LineCount(), 2001);
  dialog.AddLine("L 2002");
  EXPECT_EQ(dialog.LineCount(), 2001);
  EXPECT_EQ(dialog.List()->GetItemText(0, 0), "L 2");
  EXPECT_EQ(dialog.List()->GetItemText(2000, 0), "L 2002");

  // A full list: each line removes one row and appends one. A list whose cost grew with its rows
  // would take far longer here than for the first thousand rows.
  timer.restart();
  for (int i = 0; i < 1000; ++i) dialog.AddLine("L full");
  const qint64 fullThousand = timer.nsecsElapsed();
  EXPECT_EQ(dialog.LineCount(), 2001);
  std::printf("viewer: 1000 lines into an empty list %.2f ms, into a full list %.2f ms\n",
              firstThousand / 1e6, fullThousand / 1e6);
  EXPECT_LT(fullThousand, 10 * firstThousand + 50'000'000);
}

TEST(LogRowanDataDlgTest, EventPressedTwice_OneTextAtNextBatch) {
  LogRowanDataDlg dialog(nullptr);
  dialog.EventEdit(1)->setText("Gate open");
  QTest::mouseClick(dialog.EventButton(1), Qt::LeftButton);
  QTest::mouseClick(dialog.EventButton(1), Qt::LeftButton);
  EXPECT_EQ(dialog.TakeEvent(0), std::nullopt);
  EXPECT_EQ(dialog.TakeEvent(1), std::optional<std::string>("Gate open"));
  EXPECT_EQ(dialog.TakeEvent(1), std::nullopt);
  EXPECT_EQ(dialog.TakeEvent(7), std::nullopt);
  QTest::mouseClick(dialog.EventButton(3), Qt::LeftButton);
  EXPECT_EQ(dialog.TakeEvent(3), std::optional<std::string>("Event 4"));
}

TEST(LogRowanDataDlgTest, FunctionKeys_ShowButtonPressedWithoutEvent) {
  LogRowanDataDlg dialog(nullptr);
  QTest::keyPress(&dialog, Qt::Key_F3);
  EXPECT_TRUE(dialog.EventButton(2)->isDown());
  QTest::keyRelease(&dialog, Qt::Key_F3);
  EXPECT_FALSE(dialog.EventButton(2)->isDown());
  EXPECT_EQ(dialog.TakeEvent(2), std::nullopt);
}

TEST(SortListCtrlTest, CompareRules) {
  EXPECT_LT(CompareSortTexts("9", "10"), 0);  // numbers, not text
  EXPECT_GT(CompareSortTexts("100", "20"), 0);
  EXPECT_EQ(CompareSortTexts("", "0"), 0);
  EXPECT_LT(CompareSortTexts("12/31/2006", "01/01/2007"), 0);  // dates by year first
  EXPECT_LT(CompareSortTexts("03/01/2007", "03/02/2007"), 0);
  EXPECT_GT(CompareSortTexts("b", "a"), 0);
  EXPECT_LT(CompareSortTexts("P 10", "P 9"), 0);  // text
}

TEST(SortListCtrlTest, HeaderClickSortsAscendingThenDescending) {
  CSortListCtrl list;
  list.SetHeadings("Count,60;Date,90");
  ASSERT_EQ(list.model()->columnCount(), 2);
  EXPECT_EQ(list.columnWidth(0), 60);
  list.AddItem({"10", "12/31/2006"});
  list.AddItem({"9", "01/02/2007"});
  list.AddItem({"100", "01/01/2007"});
  EXPECT_EQ(list.AddItem({"2", "06/15/2006"}), 3);

  list.SortColumn(0);
  EXPECT_EQ((QStringList{list.GetItemText(0, 0), list.GetItemText(1, 0), list.GetItemText(2, 0),
                         list.GetItemText(3, 0)}),
            (QStringList{"2", "9", "10", "100"}));
  list.SortColumn(0);
  EXPECT_FALSE(list.SortAscending());
  EXPECT_EQ(list.GetItemText(0, 0), "100");
  EXPECT_EQ(list.GetItemText(3, 0), "2");

  list.SortColumn(1);
  EXPECT_TRUE(list.SortAscending());
  EXPECT_EQ((QStringList{list.GetItemText(0, 1), list.GetItemText(1, 1), list.GetItemText(2, 1),
                         list.GetItemText(3, 1)}),
            (QStringList{"06/15/2006", "12/31/2006", "01/01/2007", "01/02/2007"}));

  EXPECT_TRUE(list.DeleteItem(0));
  EXPECT_FALSE(list.DeleteItem(3));
  EXPECT_EQ(list.GetItemCount(), 3);
  list.DeleteAllItems();
  EXPECT_EQ(list.GetItemCount(), 0);
}

TEST(SortListCtrlTest, DropFirstAndAdd_SameRowsAsDeleteThenAdd) {
  CSortListCtrl list;
  list.SetHeadings("Line,0");
  EXPECT_EQ(list.DropFirstAndAdd({"a"}), 0);  // nothing to drop
  list.AddItem({"b"});
  list.AddItem({"c"});
  EXPECT_EQ(list.DropFirstAndAdd({"d"}), 2);
  EXPECT_EQ((QStringList{list.GetItemText(0, 0), list.GetItemText(1, 0), list.GetItemText(2, 0)}),
            (QStringList{"b", "c", "d"}));
  EXPECT_EQ(list.GetItemCount(), 3);
}

// A list kept at its length, one row dropped for each added, costs the same per line whether it
// holds 200 rows or 20,000: a removal of the first row costs the view work for every row it holds,
// the viewer's 2001 rows included.
TEST(SortListCtrlTest, DropFirstAndAdd_CostDoesNotGrowWithTheRows) {
  qint64 cost[2] = {};
  const int sizes[2] = {201, 20001};
  for (int k = 0; k < 2; ++k) {
    CSortListCtrl list;
    list.SetHeadings("Line,0");
    list.show();
    for (int i = 0; i < sizes[k]; ++i) list.AddItem({QString::number(i)});
    // The view lays its rows out before the clock starts, as a window on screen has.
    QCoreApplication::processEvents();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 2000; ++i) {
      list.setUpdatesEnabled(false);
      const int row = list.DropFirstAndAdd({"L full"});
      list.scrollTo(list.model()->index(row, 0));
      list.setUpdatesEnabled(true);
    }
    cost[k] = timer.nsecsElapsed();
  }
  std::printf("list: 2000 lines at 201 rows %.2f ms, at 20001 rows %.2f ms\n", cost[0] / 1e6, cost[1] / 1e6);
  // Deleting the first row and appending took seven times as long at 20,001 rows.
  EXPECT_LT(cost[1], 4 * cost[0] + 100'000'000);
}

}  // namespace
