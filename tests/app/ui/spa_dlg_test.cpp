#include "app/ui/spa_dlg.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "files/file_test_packets.h"
#include "link/protocol/kavo_ids.h"
#include "support/screenshot_dir.h"

namespace {

using filetest::Bytes;
using filetest::Cat;
using filetest::Received;

Bytes BeFloat(float v) {
  return filetest::Be32(std::bit_cast<std::uint32_t>(v));
}
Bytes BeDouble(double v) {
  const auto bits = std::bit_cast<std::uint64_t>(v);
  return Cat({filetest::Be32(static_cast<std::uint32_t>(bits >> 32)),
              filetest::Be32(static_cast<std::uint32_t>(bits))});
}

KavoPacket NameReport(const std::vector<std::string>& names, int count = -1) {
  Bytes body{0x93, 0x11, 0x00, static_cast<std::uint8_t>(count < 0 ? names.size() : count)};
  for (const std::string& name : names) {
    Bytes field(3, 0);
    std::copy(name.begin(), name.end(), field.begin());
    body.insert(body.end(), field.begin(), field.end());
  }
  return Received(0x8F, body);
}

struct Usage {
  float percent;
  float seconds;
};

KavoPacket UsageReport(double duration, const std::vector<Usage>& records, int count = -1) {
  Bytes body = Cat({{0x93, 0x11, 0x02},
                    BeDouble(duration),
                    {static_cast<std::uint8_t>(count < 0 ? records.size() : count)}});
  for (const Usage& u : records) body = Cat({body, BeFloat(u.percent), BeFloat(u.seconds)});
  return Received(0x8F, body);
}

class SPADlgTest : public ::testing::Test {
 protected:
  SPADlgTest() {
    dialog.SetSend([this](const KavoPacket& p, int withChecksum) {
      sent.push_back(filetest::Payload(p));
      ids.push_back(p.id);
      checksumFlags.push_back(withChecksum);
      return true;
    });
  }
  bool Shown(int slot) const { return dialog.SlotText(slot)->isVisibleTo(&dialog); }
  bool BarShown(int slot) const { return dialog.SlotBar(slot)->isVisibleTo(&dialog); }
  QString Text(int slot) const { return dialog.SlotText(slot)->text(); }
  int Bar(int slot) const { return dialog.SlotBar(slot)->value(); }

  CSPADlg dialog;
  std::vector<Bytes> sent;
  std::vector<std::uint8_t> ids;
  std::vector<int> checksumFlags;
};

TEST_F(SPADlgTest, Created_SlotsDashedAtZeroWithResourceIds) {
  EXPECT_EQ(dialog.windowTitle(), "S.P.A.");
  EXPECT_FALSE(dialog.IsAvailable());
  EXPECT_EQ(dialog.DurationText(), "--:--s");
  ASSERT_NE(dialog.findChild<QLabel*>("c1138"), nullptr);
  for (int slot = 0; slot < CSPADlg::kSlots; ++slot) {
    SCOPED_TRACE(slot);
    EXPECT_EQ(Text(slot), "------------");
    EXPECT_EQ(dialog.SlotBar(slot)->minimum(), 0);
    EXPECT_EQ(dialog.SlotBar(slot)->maximum(), 100);
    EXPECT_EQ(Bar(slot), 0);
    EXPECT_TRUE(Shown(slot));
  }
  // The first slot and the pattern of the others.
  EXPECT_EQ(dialog.findChild<QLabel*>("c1137"), dialog.SlotText(0));
  EXPECT_EQ(dialog.findChild<QProgressBar*>("c1110"), dialog.SlotBar(0));
  EXPECT_EQ(dialog.findChild<QLabel*>("c1186"), dialog.SlotText(1));
  EXPECT_EQ(dialog.findChild<QProgressBar*>("c1185"), dialog.SlotBar(1));
  EXPECT_EQ(dialog.findChild<QLabel*>("c1302"), dialog.SlotText(59));
  EXPECT_EQ(dialog.findChild<QProgressBar*>("c1301"), dialog.SlotBar(59));
  EXPECT_TRUE(dialog.SlotText(0)->font().fixedPitch());
}

TEST_F(SPADlgTest, AllSixtySlots_FitA1366By768Screen) {
  dialog.show();
  const QSize size = dialog.frameGeometry().size().expandedTo(dialog.sizeHint());
  EXPECT_LE(size.width(), 1366);
  EXPECT_LE(size.height(), 768 - 60);  // room for a panel and the title bar
}

TEST_F(SPADlgTest, Buttons_SendRestartAndRequestWithChecksum) {
  dialog.findChild<QPushButton*>("c1135")->click();
  dialog.findChild<QPushButton*>("c1136")->click();
  dialog.Refresh();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0], (Bytes{0x93, 0x11, 0x01}));
  EXPECT_EQ(sent[1], (Bytes{0x93, 0x11, 0x02}));
  EXPECT_EQ(sent[2], (Bytes{0x93, 0x11, 0x02}));
  EXPECT_EQ(ids, (std::vector<std::uint8_t>{0x8E, 0x8E, 0x8E}));
  EXPECT_EQ(checksumFlags, (std::vector<int>{1, 1, 1}));
  EXPECT_EQ(filetest::Payload(CSPADlg::BuildRequest(CSPADlg::kActionStart)), (Bytes{0x93, 0x11, 0x00}));
}

TEST_F(SPADlgTest, NameReportOfThree_HidesRestAndUsageOfFiveFillsOnlyFirstFive) {
  ASSERT_TRUE(dialog.OnReport(NameReport({"AB", "C", "XY"})));
  EXPECT_TRUE(dialog.IsAvailable());
  for (int slot = 0; slot < CSPADlg::kSlots; ++slot) {
    SCOPED_TRACE(slot);
    EXPECT_EQ(Shown(slot), slot < 3);
    EXPECT_EQ(BarShown(slot), slot < 3);
    EXPECT_EQ(Text(slot), "------------");  // names show with the next usage report
  }

  ASSERT_TRUE(dialog.OnReport(
      UsageReport(3.25, {{42.0f, 12.5f}, {7.2f, 0.5f}, {99.9f, 1234.5f}, {1.0f, 1.0f}, {2.0f, 2.0f}})));
  EXPECT_EQ(dialog.DurationText(), "   3.25s");
  EXPECT_EQ(Text(0), "AB    12.5s / 42.0%");
  EXPECT_EQ(Text(1), "C     0.5s /  7.2%");
  EXPECT_EQ(Text(2), "XY  1234.5s / 99.9%");
  EXPECT_EQ(Text(3), "     1.0s /  1.0%");
  EXPECT_EQ(Text(4), "     2.0s /  2.0%");
  EXPECT_EQ(Text(5), "------------");
  EXPECT_EQ(Bar(0), 42);
  EXPECT_EQ(Bar(2), 99);
  EXPECT_FALSE(Shown(3));
  EXPECT_FALSE(Shown(4));
  EXPECT_EQ(dialog.TaskName(0), "AB");
  EXPECT_EQ(dialog.TaskName(1), "C");
}

TEST_F(SPADlgTest, UsageBeforeAnyNameReport_FormatsEmptyNames) {
  ASSERT_TRUE(dialog.OnReport(UsageReport(60.0, {{12.5f, 7.5f}})));
  EXPECT_EQ(Text(0), "     7.5s / 12.5%");
  EXPECT_EQ(dialog.DurationText(), "  60.00s");
  EXPECT_FALSE(dialog.IsAvailable());
  EXPECT_EQ(Text(1), "------------");
}

TEST_F(SPADlgTest, Percentages_TruncateIntoTheBarsRange) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<std::pair<float, int>> cases = {{99.9f, 99},   {0.5f, 0},  {100.0f, 100},
                                                    {250.0f, 100}, {-5.0f, 0}, {nan, 0},
                                                    {inf, 100},    {-inf, 0},  {1e30f, 100}};
  std::vector<Usage> records;
  for (const auto& c : cases) records.push_back({c.first, 1.0f});
  ASSERT_TRUE(dialog.OnReport(UsageReport(1.0, records)));
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].first);
    EXPECT_EQ(Bar(static_cast<int>(i)), cases[i].second);
  }
}

TEST_F(SPADlgTest, FailedChecksumOrOtherPacket_ChangesNothing) {
  KavoPacket names = NameReport({"AB"});
  names.checksumOk = 0;
  KavoPacket usage = UsageReport(5.0, {{50.0f, 1.0f}});
  usage.checksumOk = 0;
  KavoPacket otherSub = NameReport({"AB"});
  otherSub.data[1] = 0x15;
  filetest::Reseal(otherSub);
  KavoPacket otherKind = UsageReport(5.0, {{50.0f, 1.0f}});
  otherKind.data[2] = 0x01;
  filetest::Reseal(otherKind);
  KavoPacket otherId = UsageReport(5.0, {{50.0f, 1.0f}});
  otherId.id = kavo::kIdSuperRequest;

  for (const KavoPacket* p : {&names, &usage, &otherSub, &otherKind, &otherId})
    EXPECT_FALSE(dialog.OnReport(*p));
  EXPECT_FALSE(dialog.IsAvailable());
  EXPECT_EQ(dialog.DurationText(), "--:--s");
  for (int slot = 0; slot < CSPADlg::kSlots; ++slot) {
    EXPECT_TRUE(Shown(slot));
    EXPECT_EQ(Text(slot), "------------");
    EXPECT_EQ(Bar(slot), 0);
  }
}

TEST_F(SPADlgTest, ReportsCutShort_ReadOnlyWhatTheyCarry) {
  // Ten names announced, two carried: the rest are empty, and nothing past the packet is read.
  KavoPacket names = NameReport({"AB", "CD"}, 10);
  std::fill(names.data + names.length, names.data + kKavoMaxData, 'Z');
  ASSERT_TRUE(dialog.OnReport(names));
  EXPECT_EQ(dialog.TaskName(1), "CD");
  EXPECT_EQ(dialog.TaskName(2), "");
  EXPECT_TRUE(Shown(9));
  EXPECT_FALSE(Shown(10));

  // A name without its terminator keeps two characters.
  ASSERT_TRUE(dialog.OnReport(Received(0x8F, {0x93, 0x11, 0x00, 1, 'Q', 'R', 'S'})));
  EXPECT_EQ(dialog.TaskName(0), "QR");

  // Five records announced, two carried: records 2-4 keep their text.
  KavoPacket usage = UsageReport(2.0, {{10.0f, 1.0f}, {20.0f, 2.0f}}, 5);
  std::fill(usage.data + usage.length, usage.data + kKavoMaxData, 0x42);
  ASSERT_TRUE(dialog.OnReport(usage));
  EXPECT_EQ(Text(0), "QR     1.0s / 10.0%");
  EXPECT_EQ(Text(1), "CD     2.0s / 20.0%");  // names beyond a report's count stay
  EXPECT_EQ(Text(2), "------------");

  // Too short for the duration: the report is taken but changes nothing.
  ASSERT_TRUE(dialog.OnReport(Received(0x8F, {0x93, 0x11, 0x02, 0x40, 0x00})));
  EXPECT_EQ(dialog.DurationText(), "   2.00s");
}

TEST_F(SPADlgTest, LaterNameReportWithMoreTasks_ShowsSlotsAgain) {
  ASSERT_TRUE(dialog.OnReport(NameReport({"A"})));
  EXPECT_FALSE(Shown(1));
  ASSERT_TRUE(dialog.OnReport(NameReport({"A", "B"})));
  EXPECT_TRUE(Shown(1));
  EXPECT_FALSE(Shown(2));
}

class SPADlgScreenshots : public SPADlgTest {};

TEST_F(SPADlgScreenshots, WithReports) {
  std::vector<std::string> names;
  std::vector<Usage> usage;
  const char* tasks[] = {"ID", "RX", "TX", "NV", "KF", "LC", "FS", "CN", "UI", "LG", "SV", "PW", "TM", "RT"};
  for (int i = 0; i < 14; ++i) {
    names.push_back(tasks[i]);
    usage.push_back({static_cast<float>(30.0 / (i + 1)), static_cast<float>(600.0 / (i + 1))});
  }
  dialog.OnReport(NameReport(names));
  dialog.OnReport(UsageReport(1800.0, usage));
  // Show every slot for the picture of the full window.
  CSPADlg full;
  full.show();
  dialog.show();
  const QString dir = ScreenshotDir();
  ASSERT_TRUE(QDir().mkpath(dir));
  EXPECT_TRUE(dialog.grab().save(dir + "/spa_dlg.png"));
  EXPECT_TRUE(full.grab().save(dir + "/spa_dlg_empty.png"));
}

}  // namespace
