#include "app/ui/test_cmd_dlg.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <deque>
#include <string>
#include <vector>

#include "app/ui/link_not_available_dlg.h"
#include "files/file_test_packets.h"
#include "support/screenshot_dir.h"

namespace {

using filetest::Bytes;

struct Sent {
  std::uint8_t id;
  Bytes data;
  int withChecksum;
};

class TestCmdDlgTest : public ::testing::Test {
 protected:
  TestCmdDlgTest() {
    dialog.SetLink([this] { return linkOpen; },
                   [this](const KavoPacket& p, int withChecksum) {
                     sent.push_back({p.id, filetest::Payload(p), withChecksum});
                     last = p;
                     return true;
                   });
    dialog.SetLinkNotAvailableHandler([this] { ++notAvailableShown; });
    dialog.SetRandomSource([this] {
      if (randoms.empty()) return 0;
      const int r = randoms.front();
      randoms.pop_front();
      return r;
    });
  }
  void Type(int id, const QString& text) { dialog.Field(id)->setText(text); }
  void Press(int id) { dialog.Button(id)->click(); }
  Bytes PressAndTake(int id) {
    sent.clear();
    Press(id);
    EXPECT_EQ(sent.size(), 1u);
    if (sent.empty()) return {};
    EXPECT_EQ(sent.back().withChecksum, 1);
    return sent.back().data;
  }

  CTestCmdDlg dialog;
  bool linkOpen = true;
  std::vector<Sent> sent;
  KavoPacket last;
  int notAvailableShown = 0;
  std::deque<int> randoms;
};

TEST_F(TestCmdDlgTest, Created_FieldsHoldTheirInitialTexts) {
  EXPECT_EQ(dialog.windowTitle(), "Command Panel");
  const std::vector<std::pair<int, QString>> fields = {{1198, ""},  {1202, ""},   {1204, ""},    {1211, "6"},
                                                       {1205, ""},  {1206, ""},   {1207, ""},    {1208, ""},
                                                       {1216, "4"}, {1217, "4"},  {1218, "10"},  {1219, "5"},
                                                       {1220, "0"}, {1222, "10"}, {1223, "100"}, {1227, ""}};
  for (const auto& [id, text] : fields) {
    SCOPED_TRACE(id);
    ASSERT_NE(dialog.Field(id), nullptr);
    EXPECT_EQ(dialog.Field(id)->text(), text);
    EXPECT_EQ(dialog.findChild<QLineEdit*>(QStringLiteral("c%1").arg(id)), dialog.Field(id));
  }
  const std::vector<std::pair<int, QString>> buttons = {
      {1209, "Button1"},    {1210, "Send"}, {1214, "Hide Video"},      {1215, "TSC reprogram"},
      {1221, "cmd filter"}, {1225, "Beep"}, {1228, "Set Gamma Option"}};
  for (const auto& [id, caption] : buttons) {
    SCOPED_TRACE(id);
    ASSERT_NE(dialog.Button(id), nullptr);
    EXPECT_EQ(dialog.Button(id)->text(), caption);
  }
  QStringList sizes;
  for (int row = 0; row < dialog.SizeList()->count(); ++row) sizes << dialog.SizeList()->item(row)->text();
  EXPECT_EQ(sizes, QStringList({"720x480", "540x360", "360x240", "180x120", "90x60"}));
  EXPECT_EQ(dialog.RandomCheck()->text(), "Random");
  EXPECT_FALSE(dialog.RandomCheck()->isChecked());
  EXPECT_EQ(dialog.RandomX(), 0);
  EXPECT_EQ(dialog.RandomY(), 0);
}

TEST_F(TestCmdDlgTest, Freeform_SendsTypedBytesAndFramesThemStuffed) {
  Type(1198, "8E");
  Type(1202, "0A10FF");
  Type(1204, "3");
  EXPECT_EQ(PressAndTake(1209), (Bytes{0x0A, 0x10, 0xFF}));
  EXPECT_EQ(last.id, 0x8E);

  std::uint8_t frame[kKavoMaxFrame];
  std::uint16_t frameLength = 0;
  ASSERT_TRUE(BuildFrame(last, frame, frameLength, 1));
  // DLE id, the 0x10 doubled, the sum 0x0119, DLE ETX.
  EXPECT_EQ(Bytes(frame, frame + frameLength),
            (Bytes{0x10, 0x8E, 0x0A, 0x10, 0x10, 0xFF, 0x01, 0x19, 0x10, 0x03}));
}

TEST_F(TestCmdDlgTest, Freeform_LengthAndPairsAreReadIndependently) {
  struct Case {
    const char* id;
    QString d0;
    const char* len;
    std::uint8_t wantId;
    Bytes want;
  };
  const QString twoHundredF(200, u'F');
  const std::vector<Case> cases = {
      {"8e", "01", "4", 0x8E, {0x01, 0x00, 0x00, 0x00}},  // longer than typed: zeros
      {"8E", "0102030405", "2", 0x8E, {0x01, 0x02}},      // shorter: cut
      {"0x8E", "ZZ11", "2", 0x8E, {0x00, 0x11}},          // a pair that is no hex reads 0
      {" 1ff", "0A1", "3", 0xFF, {0x0A, 0x01, 0x00}},     // odd digit is a pair of its own
      {"", "", "", 0x00, {}},                             // nothing typed
      {"8E", "12", "abc", 0x8E, {}},                      // length without digits
      {"8E", twoHundredF, "51", 0x8E,
       [] {  // at most 49 pairs are read
         Bytes b(49, 0xFF);
         b.push_back(0);
         b.push_back(0);
         return b;
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.d0.toStdString() + " len " + c.len);
    Type(1198, c.id);
    Type(1202, c.d0);
    Type(1204, c.len);
    EXPECT_EQ(PressAndTake(1209), c.want);
    EXPECT_EQ(last.id, c.wantId);
  }
}

TEST_F(TestCmdDlgTest, Freeform_LengthNeverReachesPastTheDataArea) {
  for (const char* len : {"700", "701", "65535", "-1", "99999999999"}) {
    SCOPED_TRACE(len);
    const KavoPacket p = CTestCmdDlg::BuildFreeform("8E", "FF", len);
    EXPECT_LE(p.length, kKavoMaxData);
    std::uint8_t frame[kKavoMaxFrame];
    std::uint16_t frameLength = 0;
    EXPECT_TRUE(BuildFrame(p, frame, frameLength, 1));
  }
  EXPECT_EQ(CTestCmdDlg::BuildFreeform("8E", "FF", "701").length, kKavoMaxData);
}

TEST_F(TestCmdDlgTest, ProductId_IsHexForVideoCommandsAndDecimalForTouchscreen) {
  Type(1211, "10");
  Type(1205, "300");
  Type(1206, "-1");
  Type(1207, "5");
  Type(1208, "1");
  Type(1227, "2");
  EXPECT_EQ(PressAndTake(1210), (Bytes{0xA6, 0x18, 0x10, 0x01, 0x01, 0x2C, 0xFF, 0xFF, 0x00, 0x05, 0x01}));
  dialog.SizeList()->item(2)->setSelected(true);
  EXPECT_EQ(PressAndTake(1210), (Bytes{0xA6, 0x18, 0x10, 0x01, 0x01, 0x2C, 0xFF, 0xFF, 0x03, 0x05, 0x01}));
  EXPECT_EQ(PressAndTake(1214), (Bytes{0xA6, 0x18, 0x10, 0x02}));
  EXPECT_EQ(PressAndTake(1215), (Bytes{0xA6, 0x18, 0x10, 0x06}));
  EXPECT_EQ(PressAndTake(1228), (Bytes{0xA6, 0x18, 0x10, 0x06, 0x02}));
  EXPECT_EQ(PressAndTake(1221), (Bytes{0xA6, 0x19, 0x0A, 0x01, 0x04, 0x04, 0x0A, 0x05, 0x00}));
  EXPECT_EQ(PressAndTake(1225), (Bytes{0xA6, 0x19, 0x0A, 0x03, 0x0A, 0x64}));
  for (const Sent& s : sent) EXPECT_EQ(s.id, 0x8E);
}

TEST_F(TestCmdDlgTest, FieldReaders_ReadLikeScanfWithoutFailing) {
  const std::vector<std::pair<QString, std::uint32_t>> hex = {
      {"10", 0x10}, {"0x1f", 0x1F},     {"  Ab", 0xAB}, {"12xyz", 0x12},          {"", 0},
      {"zz", 0},    {"-1", 0xFFFFFFFF}, {"0x", 0},      {"123456789", 0x23456789}};
  for (const auto& [text, value] : hex) EXPECT_EQ(CTestCmdDlg::ReadHex(text), value) << text.toStdString();
  const std::vector<std::pair<QString, std::int32_t>> dec = {
      {"10", 10}, {" -7", -7}, {"+3", 3}, {"12ab", 12}, {"", 0}, {"x5", 0}, {"4294967297", 1}};
  for (const auto& [text, value] : dec)
    EXPECT_EQ(CTestCmdDlg::ReadDecimal(text), value) << text.toStdString();
}

TEST_F(TestCmdDlgTest, Random_TimerFollowsTheCheckBoxAndFirstTickSendsOrigin) {
  dialog.RandomCheck()->setChecked(true);
  EXPECT_TRUE(dialog.RandomTimerActive());
  Type(1211, "10");
  Type(1207, "3");
  randoms = {32767, 16383, 40000, 0};

  dialog.OnRandomTick();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].data, (Bytes{0xA6, 0x18, 0x10, 0x01, 0x00, 0x00, 0x00, 0x00, 0x04, 0x03}));
  EXPECT_EQ(sent[0].withChecksum, 1);
  EXPECT_EQ(dialog.RandomX(), 620);
  EXPECT_EQ(dialog.RandomY(), 179);  // 16383 * 360 / 32767, integer division

  dialog.OnRandomTick();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].data, (Bytes{0xA6, 0x18, 0x10, 0x01, 0x02, 0x6C, 0x00, 0xB3, 0x04, 0x03}));
  EXPECT_EQ(dialog.RandomX(), 0);  // beyond the limit
  EXPECT_EQ(dialog.RandomY(), 0);

  dialog.RandomCheck()->setChecked(false);
  EXPECT_FALSE(dialog.RandomTimerActive());
}

TEST_F(TestCmdDlgTest, LinkDown_EveryButtonShowsLinkNotAvailableAndSendsNothing) {
  linkOpen = false;
  const int buttons[] = {1209, 1210, 1214, 1215, 1221, 1225, 1228};
  for (int id : buttons) Press(id);
  EXPECT_EQ(notAvailableShown, 7);
  dialog.OnRandomTick();  // the timer sends nothing and asks nothing
  EXPECT_EQ(notAvailableShown, 7);
  EXPECT_TRUE(sent.empty());

  CTestCmdDlg unlinked;
  int shown = 0;
  unlinked.SetLinkNotAvailableHandler([&] { ++shown; });
  unlinked.Button(1209)->click();
  EXPECT_EQ(shown, 1);
}

TEST(LinkNotAvailableDlg, ShowsPortNotOpenWithOkAndCancel) {
  CLinkNotAvailableDlg box;
  EXPECT_EQ(box.windowTitle(), "Link Not Available");
  EXPECT_TRUE(box.isModal());
  const auto labels = box.findChildren<QLabel*>();
  ASSERT_EQ(labels.size(), 1);
  EXPECT_EQ(labels[0]->text(), "Port Not Open");
  auto* buttons = box.findChild<QDialogButtonBox*>();
  ASSERT_NE(buttons, nullptr);
  EXPECT_NE(buttons->button(QDialogButtonBox::Ok), nullptr);
  EXPECT_NE(buttons->button(QDialogButtonBox::Cancel), nullptr);
}

class TestCmdDlgScreenshots : public TestCmdDlgTest {};

TEST_F(TestCmdDlgScreenshots, DialogAndLinkNotAvailable) {
  Type(1198, "8E");
  Type(1202, "93110200");
  Type(1204, "4");
  dialog.SizeList()->item(1)->setSelected(true);
  CLinkNotAvailableDlg box;
  dialog.show();
  box.show();
  const QString dir = ScreenshotDir();
  ASSERT_TRUE(QDir().mkpath(dir));
  EXPECT_TRUE(dialog.grab().save(dir + "/test_cmd_dlg.png"));
  EXPECT_TRUE(box.grab().save(dir + "/link_not_available_dlg.png"));
}

}  // namespace
