#include "app/web_panel_bridge.h"

#include <gtest/gtest.h>

#include <fstream>

#include "app/connection_control.h"
#include "app/fake_receiver_link.h"
#include "app/lcd_font.h"
#include "app/settings_profile.h"
#include "app/web_panel_settings.h"
#include "support/checksummed_packet.h"
#include "support/prompt_recorder.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(WebPanelSettings, SectionWebPanel_ReadWithDefaultsAndRanges) {
  struct Case {
    const char* ini;
    bool enabled;
    std::uint16_t port;
    const char* bind;
    const char* control;
    const char* view;
    int maxClients;
    const char* certificate;
    const char* key;
  };
  const Case cases[] = {
      {"", false, 8021, "127.0.0.1", "", "", 16, "", ""},
      {"[WebPanel]\nEnabled=1\nPort=9000\nBindAddress=0.0.0.0\nControlToken=abc\nViewToken=def\nMaxClients="
       "100\n"
       "Certificate=/etc/c.pem\nKey=/etc/k.pem\n",
       true, 9000, "0.0.0.0", "abc", "def", 100, "/etc/c.pem", "/etc/k.pem"},
      {"[webpanel]\nenabled = 0\nport=0\nMaxClients=0\n", false, 8021, "127.0.0.1", "", "", 16, "", ""},
      {"[WebPanel]\nPort=65536\nMaxClients=1025\nBindAddress=\n", false, 8021, "", "", "", 16, "", ""},
      {"[WebPanel]\nPort=1\nMaxClients=1024\nControlToken=xxx\n", false, 1, "127.0.0.1", "", "", 1024, "",
       ""},
      {"[Connect]\nEnabled=1\nPort=9000\n", false, 8021, "127.0.0.1", "", "", 16, "", ""},
  };
  for (const Case& c : cases) {
    CTempDir dir;
    std::ofstream(dir / "Plowview.ini") << c.ini;
    CSettingsProfile profile(dir / "Plowview.ini");
    const WebPanelSettings s = LoadWebPanelSettings(profile);
    EXPECT_EQ(s.enabled, c.enabled) << c.ini;
    EXPECT_EQ(s.config.port, c.port) << c.ini;
    EXPECT_EQ(s.config.bindAddress, c.bind) << c.ini;
    EXPECT_EQ(s.config.controlToken, c.control) << c.ini;
    EXPECT_EQ(s.config.viewToken, c.view) << c.ini;
    EXPECT_EQ(s.config.maxClients, c.maxClients) << c.ini;
    EXPECT_EQ(s.config.certificate, c.certificate) << c.ini;
    EXPECT_EQ(s.config.key, c.key) << c.ini;
  }
}

TEST(WebPanelSettings, FontTable_IsThePanelsGlyphsFiveColumnsACode) {
  CTempDir dir;
  CSettingsProfile profile(dir / "Plowview.ini");
  const std::vector<std::uint8_t> font = LoadWebPanelSettings(profile).config.font;
  ASSERT_EQ(font.size(), 256u * 5);
  for (int code : {0x41, 0x6B, 0x85, 0xFF}) {
    const LcdFont::Glyph* glyph = LcdFont::Find(static_cast<std::uint8_t>(code));
    ASSERT_NE(glyph, nullptr);
    EXPECT_TRUE(std::equal(glyph->begin(), glyph->end(), font.begin() + code * 5)) << code;
  }
  EXPECT_TRUE(std::all_of(font.begin(), font.begin() + 0x20 * 5, [](std::uint8_t b) { return b == 0; }));
}

KavoPacket DisplayReport(std::uint8_t row, const std::string& text, std::uint8_t cursorOn,
                         std::uint8_t column, std::uint8_t cursorRow) {
  Bytes payload{0x8C, 0x01, column, cursorRow, cursorOn, row};
  for (std::size_t i = 0; i < 17; ++i)
    payload.push_back(i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0);
  payload.resize(29, 0);
  return ChecksummedPacket(0x8F, payload);
}

class WebPanelBridgeTest : public ::testing::Test {
 protected:
  WebPanelBridgeTest()
      : control(link, timers, prompts),
        bridge(WebPanelConfig{}, {[this] { return &control; }, [this] { return playing; }, {}}) {
    control.SetDisconnectPauseMs(0);
    control.InitialUpdate(2);
  }

  CFakeReceiverLink link;
  CFakeTimers timers;
  CPromptRecorder prompts;
  CConnectionControl control;
  bool playing = false;
  CWebPanelBridge bridge;
};

TEST_F(WebPanelBridgeTest, Snapshot_FollowsTheConnectionFromDarkToTheReceiversRows) {
  PanelSnapshot s = bridge.Snapshot();
  EXPECT_EQ(s.linkState, kDisconnected);
  EXPECT_FALSE(s.lcdLit);
  EXPECT_EQ(s.rows, (std::array<std::string, 2>{"", ""}));
  EXPECT_EQ(s.title, "Plowview [2]");
  EXPECT_TRUE(s.keysAvailable);

  ConnectionSettings settings;
  settings.logData = true;
  control.OpenConnection(settings);
  s = bridge.Snapshot();
  EXPECT_EQ(s.linkState, kWaiting);
  EXPECT_TRUE(s.lcdLit);
  EXPECT_TRUE(s.logging);
  EXPECT_EQ(s.rows, (std::array<std::string, 2>{" Attempting To  ", "Connect to RCVR "}));

  control.LinkStatus(0);
  link.incoming.push_back(DisplayReport(0, "Antenna height @", 0, 0, 0));
  link.incoming.push_back(DisplayReport(1, " 2.000 m", 1, 3, 1));
  control.LinkPacketReady();
  control.OnTimer(kTimerCursorBlink);  // the blink phase is the page's own: it changes nothing here
  s = bridge.Snapshot();
  EXPECT_EQ(s.linkState, kConnected);
  // The LCD font codes as the model holds them ('@' is 0x6B there), the cursor apart.
  EXPECT_EQ(s.rows[0], "Antenna height k");
  EXPECT_EQ(s.rows[1], " 2.000 m");
  EXPECT_TRUE(s.cursorOn);
  EXPECT_EQ(s.cursorColumn, 3);
  EXPECT_EQ(s.cursorRow, 1);
}

TEST_F(WebPanelBridgeTest, KeysOfPagesReachTheReceiverAsKeyPackets_NoneWhilePlaying) {
  control.OpenConnection(ConnectionSettings{});
  control.LinkStatus(0);
  link.sent.clear();
  bridge.PressKey(2);
  bridge.PressEnter();
  control.OnTimer(kTimerEnterHeld);
  bridge.ReleaseEnter();
  std::vector<int> codes;
  for (const auto& sent : link.sent) {
    ASSERT_EQ(sent.bytes.size(), 8u);  // id and the seven bytes of a key packet
    EXPECT_EQ(sent.bytes[0], 0x8E);
    EXPECT_EQ(sent.withChecksum, 1);
    codes.push_back(sent.bytes[3]);
  }
  EXPECT_EQ(codes, (std::vector<int>{2, 0, 6, 7}));
  playing = true;
  EXPECT_FALSE(bridge.Snapshot().keysAvailable);
}

}  // namespace
