#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "link/protocol/kavo_packet.h"
#include "link/protocol/kavo_parser.h"
#include "receiver_model.h"
#include "sim_time.h"
#include "support/fake_clock.h"
#include "support/kavo_frame.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Records what the model sends, as the bytes of each payload (checksum added as it would cross
// the line) and the trace lines.
class CRecordingHost final : public IReceiverHost {
 public:
  struct Sent {
    std::uint8_t id;
    Bytes payload;  // with the checksum trailer when one was asked for
  };
  void SendPacket(const KavoPacket& packet, int withChecksum) override {
    Sent s{packet.id, Bytes(packet.data, packet.data + packet.length)};
    if (withChecksum == 1) {
      std::uint16_t sum = 0;
      for (auto b : s.payload) sum = static_cast<std::uint16_t>(sum + b);
      s.payload.push_back(static_cast<std::uint8_t>(sum >> 8));
      s.payload.push_back(static_cast<std::uint8_t>(sum));
    }
    packets.push_back(s);
  }
  void SendText(std::string_view text) override { texts.emplace_back(text); }
  void Trace(std::string_view line) override { lines.emplace_back(line); }

  std::vector<Sent> packets;
  std::vector<std::string> texts;
  std::vector<std::string> lines;
};

Bytes PanelRequest(std::uint8_t sub) {
  return PaddedKavoFrame(0x8E, {0x8C, sub});
}
Bytes Key(std::uint8_t code) {
  return PaddedKavoFrame(0x8E, {0x8C, 0x00, code, 0, 0, 0, 0});
}
Bytes FlagsCommand(std::uint8_t flags) {
  return PaddedKavoFrame(0x8E, {0x8C, 0x03, flags, 0, 0, 0, 0});
}

std::string RowText(const CRecordingHost::Sent& report) {
  return std::string(report.payload.begin() + 6, report.payload.begin() + 22);
}

constexpr std::int64_t kStartUtcMs = 1796819696000LL;  // 2026-12-09 12:34:56 UTC

class ReceiverModelTest : public ::testing::Test {
 protected:
  ReceiverModelTest() { options.startUtcMs = kStartUtcMs; }

  CReceiverModel& Model() {
    if (!model) model = std::make_unique<CReceiverModel>(options, clock, host);
    return *model;
  }
  void Feed(const Bytes& bytes) { Model().FeedBytes(bytes.data(), bytes.size()); }
  void Feed(const std::string& text) {
    Model().FeedBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  }
  void Advance(std::int64_t ms) {
    Model();  // the model's start is the clock before the step
    clock.Advance(ms);
    Model().Tick();
  }
  bool Traced(const std::string& line) const {
    for (const auto& l : host.lines)
      if (l == line) return true;
    return false;
  }
  void Keys(std::initializer_list<std::uint8_t> codes) {
    for (auto c : codes) Feed(Key(c));
  }

  ReceiverOptions options;
  CFakeClock clock;
  CRecordingHost host;
  std::unique_ptr<CReceiverModel> model;
};

TEST_F(ReceiverModelTest, DisplayRequest_AnswersBothRowsChecksummedLength31) {
  Feed(PanelRequest(0x01));
  ASSERT_EQ(host.packets.size(), 2u);
  for (int row = 0; row < 2; ++row) {
    const auto& r = host.packets[row];
    EXPECT_EQ(r.id, 0x8F);
    ASSERT_EQ(r.payload.size(), 31u);
    EXPECT_EQ(r.payload[0], 0x8C);
    EXPECT_EQ(r.payload[1], 0x01);
    EXPECT_EQ(r.payload[4], 0) << "no cursor on the status screen";
    EXPECT_EQ(r.payload[5], row);
    EXPECT_EQ(r.payload[22], 0) << "the 17th character closes the row";
  }
  EXPECT_EQ(RowText(host.packets[0]), "Brisk Mote   RTK");
  EXPECT_EQ(RowText(host.packets[1]), "09-Dec  12:34:56");
  EXPECT_TRUE(Traced("RX 8E 8C 01 00 8D"));
  // The checksum covers the payload before it: 8C 01 00 00 00 00 + the row + zeros.
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < 29; ++i) sum = static_cast<std::uint16_t>(sum + host.packets[0].payload[i]);
  EXPECT_EQ(host.packets[0].payload[29], sum >> 8);
  EXPECT_EQ(host.packets[0].payload[30], sum & 0xFF);
}

TEST_F(ReceiverModelTest, StatusTick_PushesOnlyTheChangedRowAndOnlyAfterTheDisplayWasAskedFor) {
  Advance(1000);
  EXPECT_TRUE(host.packets.empty()) << "nothing is pushed before the display request";
  Feed(PanelRequest(0x01));
  host.packets.clear();
  Advance(1000);
  ASSERT_EQ(host.packets.size(), 1u);
  EXPECT_EQ(host.packets[0].payload[5], 1);
  EXPECT_EQ(RowText(host.packets[0]), "09-Dec  12:34:58");

  // Clearing the remote panel flag stops the pushes; the command itself is not answered.
  host.packets.clear();
  Feed(FlagsCommand(0x00));
  Advance(1000);
  EXPECT_TRUE(host.packets.empty());
}

TEST_F(ReceiverModelTest, TimeScale_MovesTheClockFaster) {
  options.timeScale = 60;
  Feed(PanelRequest(0x01));
  host.packets.clear();
  Advance(1000);
  ASSERT_EQ(host.packets.size(), 1u);
  EXPECT_EQ(RowText(host.packets[0]), "09-Dec  12:35:56");
}

struct KeyCase {
  const char* name;
  std::vector<std::uint8_t> keys;
  CFrontPanel::Screen screen;
};

class FrontPanelKeys : public ::testing::TestWithParam<KeyCase> {};

TEST_P(FrontPanelKeys, SequenceEndsOnScreen) {
  CFrontPanel panel;
  for (auto k : GetParam().keys) panel.PressKey(k);
  EXPECT_EQ(CFrontPanel::ScreenName(panel.Current()), CFrontPanel::ScreenName(GetParam().screen));
}

INSTANTIATE_TEST_SUITE_P(
    Navigation, FrontPanelKeys,
    ::testing::Values(KeyCase{"DownOnce", {2}, CFrontPanel::Screen::kPosition},
                      KeyCase{"RightTwice", {3, 3}, CFrontPanel::Screen::kSatellites},
                      KeyCase{"UpWrapsToLast", {1}, CFrontPanel::Screen::kAntenna},
                      KeyCase{"LeftWrapsToLast", {8}, CFrontPanel::Screen::kAntenna},
                      KeyCase{"DownFourWrapsHome", {2, 2, 2, 2}, CFrontPanel::Screen::kStatus},
                      KeyCase{"EscapeGoesHome", {2, 2, 4}, CFrontPanel::Screen::kStatus},
                      KeyCase{"EnterHeldOpensService", {0, 6, 7}, CFrontPanel::Screen::kService},
                      KeyCase{"ArrowsStayOnService", {0, 6, 7, 2, 1}, CFrontPanel::Screen::kService},
                      KeyCase{"EscapeLeavesService", {0, 6, 7, 4}, CFrontPanel::Screen::kStatus},
                      KeyCase{"FunctionKeysIgnored", {9, 10, 15, 5}, CFrontPanel::Screen::kStatus},
                      KeyCase{"ReleaseWithoutPressIgnored", {1, 7}, CFrontPanel::Screen::kAntenna}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FrontPanel, AntennaEdit_CursorOnDigitAndValueStoredOnEnterOnly) {
  CFrontPanel panel;
  panel.PressKey(1);  // to the antenna screen
  PanelView view = panel.Render({});
  EXPECT_EQ(view.rows[1], " 2.000 m        ");
  EXPECT_FALSE(view.cursorOn);

  for (auto k : {0, 7}) panel.PressKey(static_cast<std::uint8_t>(k));  // Enter: edit
  view = panel.Render({});
  EXPECT_TRUE(view.cursorOn);
  EXPECT_EQ(view.cursorRow, 1);
  EXPECT_EQ(view.cursorColumn, 1);
  EXPECT_EQ(view.rows[0], "Antenna height *");

  // Metres down from 2 to 1, then one digit right (skipping the point) and up twice: 1.200.
  for (auto k : {2, 3, 1, 1}) panel.PressKey(static_cast<std::uint8_t>(k));
  view = panel.Render({});
  EXPECT_EQ(view.rows[1], " 1.200 m        ");
  EXPECT_EQ(view.cursorColumn, 3);
  // Left from the first digit wraps to the last.
  panel.PressKey(8);
  panel.PressKey(8);
  EXPECT_EQ(panel.Render({}).cursorColumn, 5);
  // Down from 0 wraps to 9.
  panel.PressKey(2);
  EXPECT_EQ(panel.Render({}).rows[1], " 1.209 m        ");

  panel.PressKey(4);  // Escape cancels
  EXPECT_FALSE(panel.Editing());
  EXPECT_EQ(panel.AntennaHeightMm(), 2000);
  EXPECT_EQ(panel.Current(), CFrontPanel::Screen::kAntenna);

  for (auto k : {0, 7, 1, 0, 7}) panel.PressKey(static_cast<std::uint8_t>(k));  // edit, 3 m, store
  EXPECT_FALSE(panel.Editing());
  EXPECT_EQ(panel.AntennaHeightMm(), 3000);
  EXPECT_FALSE(panel.Render({}).cursorOn);
}

TEST(FrontPanel, EnterHeldThenReleased_DoesNotAlsoActAsEnter) {
  CFrontPanel panel;
  panel.PressKey(1);
  for (auto k : {0, 6, 7}) panel.PressKey(static_cast<std::uint8_t>(k));
  EXPECT_EQ(panel.Current(), CFrontPanel::Screen::kService);
  EXPECT_FALSE(panel.Editing());
}

TEST(FrontPanel, EveryScreenRendersSixteenColumns) {
  CFrontPanel panel;
  PanelContext context{kStartUtcMs / 1000, 3723};
  for (auto keys : {std::vector<int>{}, {2}, {2}, {2}, {0, 6}}) {
    for (auto k : keys) panel.PressKey(static_cast<std::uint8_t>(k));
    const PanelView view = panel.Render(context);
    EXPECT_EQ(view.rows[0].size(), 16u) << CFrontPanel::ScreenName(panel.Current());
    EXPECT_EQ(view.rows[1].size(), 16u) << CFrontPanel::ScreenName(panel.Current());
  }
  EXPECT_EQ(panel.Render(context).rows[1], "Uptime  01:02:03");
}

TEST_F(ReceiverModelTest, KeyPacket_ChangesScreenAndPushesBothRows) {
  Feed(PanelRequest(0x01));
  host.packets.clear();
  Feed(Key(2));
  EXPECT_TRUE(Traced("SCREEN POSITION"));
  ASSERT_EQ(host.packets.size(), 2u);
  EXPECT_EQ(RowText(host.packets[0]), "Lat  52 31.1234N");
  EXPECT_EQ(RowText(host.packets[1]), "Lon 013 24.5678E");

  // Into the antenna edit: the cursor appears in the reports.
  host.packets.clear();
  Keys({2, 2, 0, 7});
  ASSERT_FALSE(host.packets.empty());
  const auto& last = host.packets.back();
  EXPECT_EQ(last.payload[2], 1);  // column
  EXPECT_EQ(last.payload[3], 1);  // row
  EXPECT_EQ(last.payload[4], 1);  // on
  // Moving the cursor alone changes no text but is reported.
  host.packets.clear();
  Feed(Key(3));
  ASSERT_FALSE(host.packets.empty());
  EXPECT_EQ(host.packets.back().payload[2], 3);
}

TEST_F(ReceiverModelTest, BadChecksum_DroppedWithoutAnswer) {
  Bytes frame = PanelRequest(0x04);
  frame[4] ^= 0x01;  // the checksum's high byte
  Feed(frame);
  EXPECT_TRUE(host.packets.empty());
  EXPECT_TRUE(Traced("DROPPED 8E bad checksum"));
}

TEST_F(ReceiverModelTest, TitleAndPanelRequests_AnsweredWithFlags) {
  Feed(FlagsCommand(0x06));
  EXPECT_TRUE(host.packets.empty()) << "a flags command is not answered";
  Feed(PanelRequest(0x04));
  Feed(PanelRequest(0x03));
  ASSERT_EQ(host.packets.size(), 2u);
  Bytes title{0x8C, 0x04, 0x06};
  for (const char* c = CReceiverModel::kTitle; *c; ++c) title.push_back(static_cast<std::uint8_t>(*c));
  title.push_back(0x00);
  std::uint16_t sum = 0;
  for (auto b : title) sum = static_cast<std::uint16_t>(sum + b);
  title.push_back(static_cast<std::uint8_t>(sum >> 8));
  title.push_back(static_cast<std::uint8_t>(sum));
  EXPECT_EQ(host.packets[0].id, 0x8F);
  EXPECT_EQ(host.packets[0].payload, title);
  EXPECT_EQ(host.packets[1].payload, (Bytes{0x8C, 0x03, 0x06, 0, 0, 0, 0, 0x00, 0x95}));
}

TEST_F(ReceiverModelTest, TimeRequest_AnsweredWithGpsWeekAndTimeOfWeekWithoutChecksum) {
  options.startUtcMs = 1483228800000LL;  // 2017-01-01 00:00:00 UTC, the start of GPS week 1930
  Feed(PaddedKavoFrame(0x21, {}, false));
  ASSERT_EQ(host.packets.size(), 1u);
  EXPECT_EQ(host.packets[0].id, 0x41);
  // 18.0f = 41 90 00 00; week 1930 = 07 8A; offset 18.0f.
  EXPECT_EQ(host.packets[0].payload, (Bytes{0x41, 0x90, 0x00, 0x00, 0x07, 0x8A, 0x41, 0x90, 0x00, 0x00}));
  EXPECT_TRUE(Traced("RX 21"));
}

TEST_F(ReceiverModelTest, AutoConfiguration_BreakReportSwitchAndRestore) {
  options.port = PortSettings{19200, 'E', 8, 1};
  Model().OnBreak();
  EXPECT_TRUE(Traced("BREAK"));
  EXPECT_TRUE(Traced("PORT 9600 8N1"));
  EXPECT_EQ(Model().Port(), (PortSettings{9600, 'N', 8, 1}));
  Advance(CPortConfigPartner::kReportDelayMs - 1);
  EXPECT_TRUE(host.texts.empty());
  Advance(1);
  ASSERT_EQ(host.texts.size(), 1u);
  EXPECT_EQ(
      host.texts[0],
      "DUCT,Brisk Mote,PORT(1),19200,19200,8,1,E,N,FW,4.02,HW,2.10,4415A01234,PROTOCOLS,KAVO(Y),KAVO(N)\x03");

  // The program clears its buffers again after reading the report: not a new break.
  Advance(200);
  Model().OnBreak();
  Advance(CPortConfigPartner::kReportDelayMs);
  EXPECT_EQ(host.texts.size(), 1u);

  // The request, after a frame and some noise, split across feeds.
  Feed(PanelRequest(0x04));
  Feed(std::string("xxFAST LINK SWI"));
  EXPECT_EQ(host.texts.size(), 1u);
  Feed(std::string("TCH REQUEST\r\n") + std::string(4, '\0'));
  ASSERT_EQ(host.texts.size(), 2u);
  EXPECT_EQ(host.texts[1], "HIGH SPEED KAVO IS 38400 00\r\n");
  EXPECT_TRUE(Traced("RX-TEXT \"xxFAST LINK SWITCH REQUEST\\r\\n\""));
  EXPECT_TRUE(Traced("PORT 38400 8O1"));
  EXPECT_EQ(Model().Port(), (PortSettings{38400, 'O', 8, 1}));

  // The program closes with the restore packet: 19200 baud (code 8), 8 bits (3), even (2).
  Feed(PaddedKavoFrame(0xBC, {0xFF, 8, 8, 3, 2, 0, 0, 2, 2, 0}, false));
  EXPECT_TRUE(Traced("RX BC FF 08 08 03 02 00 00 02 02 00"));
  EXPECT_TRUE(Traced("PORT-CONFIG 19200 19200 8E1 02 02"));
  EXPECT_EQ(Model().Port(), (PortSettings{19200, 'E', 8, 1}));
}

TEST_F(ReceiverModelTest, SecondBreakAfterTheWindow_ReportsTheSwitchedSettings) {
  Model().OnBreak();
  Advance(CPortConfigPartner::kReportDelayMs);
  Feed(std::string("FAST LINK SWITCH REQUEST\r\n"));
  Advance(CPortConfigPartner::kPostReportClearMs);
  Model().OnBreak();
  Advance(CPortConfigPartner::kReportDelayMs);
  ASSERT_EQ(host.texts.size(), 3u);
  EXPECT_NE(host.texts[2].find(",38400,38400,8,1,O,"), std::string::npos) << host.texts[2];
}

TEST_F(ReceiverModelTest, BadPortConfiguration_DroppedPortUnchanged) {
  Feed(PaddedKavoFrame(0xBC, {0xFF, 12, 8, 3, 2, 0, 0, 2, 2, 0}, false));  // 12: no such baud code
  Feed(PaddedKavoFrame(0xBC, {0xFF, 8, 8, 3, 2, 0, 0, 2, 2}, false));      // one byte short
  EXPECT_EQ(std::count(host.lines.begin(), host.lines.end(), "DROPPED BC bad port configuration"), 2);
  EXPECT_EQ(Model().Port(), (PortSettings{9600, 'N', 8, 1}));
}

TEST_F(ReceiverModelTest, NoAutoConfig_BreakIgnored) {
  options.autoConfig = false;
  Model().OnBreak();
  Advance(1000);
  EXPECT_TRUE(host.texts.empty());
  EXPECT_TRUE(Traced("BREAK IGNORED"));
}

TEST_F(ReceiverModelTest, Faults_FatalReportOnceThenSilence) {
  options.fatalAfterMs = 1500;
  options.fatalText = "Stack overflow";
  options.silentAfterMs = 3000;
  Model();
  EXPECT_EQ(Model().NextDueMs(), 1000);
  Advance(1000);
  EXPECT_EQ(Model().NextDueMs(), 1500);
  Advance(500);
  ASSERT_EQ(host.packets.size(), 1u);
  Bytes fatal{0x93, 0x12};
  for (char c : std::string("Stack overflow")) fatal.push_back(static_cast<std::uint8_t>(c));
  fatal.push_back(0);
  std::uint16_t sum = 0;
  for (auto b : fatal) sum = static_cast<std::uint16_t>(sum + b);
  fatal.push_back(static_cast<std::uint8_t>(sum >> 8));
  fatal.push_back(static_cast<std::uint8_t>(sum));
  EXPECT_EQ(host.packets[0].payload, fatal);
  Advance(1500);
  EXPECT_TRUE(Model().Silent());
  EXPECT_TRUE(Traced("SILENT"));
  Feed(PanelRequest(0x04));
  Feed(PaddedKavoFrame(0x21, {}, false));
  Model().OnBreak();
  Advance(1000);
  EXPECT_EQ(host.packets.size(), 1u) << "a silent receiver answers nothing";
  EXPECT_TRUE(host.texts.empty());
  EXPECT_TRUE(Traced("RX 8E 8C 04 00 90")) << "but what it receives is still traced";
}

TEST_F(ReceiverModelTest, LongFatalText_CutToBound) {
  options.fatalAfterMs = 0;
  options.fatalText = std::string(1000, 'x');
  Advance(0);
  ASSERT_EQ(host.packets.size(), 1u);
  EXPECT_EQ(host.packets[0].payload.size(), 2u + CReceiverModel::kMaxFatalText + 1 + 2);
}

TEST_F(ReceiverModelTest, ReceivedText_TracedInBoundedPiecesWithoutTheNulsAfterFrames) {
  Feed(PanelRequest(0x04));  // followed by 00 00: not text
  Feed(std::string(300, 'a'));
  Advance(1000);  // the tick flushes what is left
  std::size_t pieces = 0, total = 0;
  for (const auto& l : host.lines) {
    if (l.rfind("RX-TEXT ", 0) == 0) {
      ++pieces;
      total += l.size() - 10;  // the keyword and the quotes
    }
  }
  EXPECT_EQ(pieces, 3u);
  EXPECT_EQ(total, 300u);
}

}  // namespace
