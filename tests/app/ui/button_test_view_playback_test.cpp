// The window playing a raw packet log: the recorded panel and title on screen, the keys off,
// Space and Right moving through the file, File > Disconnect back to the connection.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QSlider>
#include <QTest>
#include <QToolBar>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include "app/connection_control.h"
#include "app/playback_session.h"
#include "app/ui/button_test_app.h"
#include "app/ui/button_test_view.h"
#include "app/ui/main_frame.h"
#include "app/ui/panel_key_button.h"
#include "link/protocol/kavo_ids.h"
#include "support/checksummed_packet.h"
#include "support/temp_dir.h"

namespace {

KavoPacket TimePacket(float timeOfWeek) {
  KavoPacket p;
  p.id = kavo::kIdTime;
  p.length = 10;
  std::uint32_t bits;
  std::memcpy(&bits, &timeOfWeek, 4);
  for (int i = 0; i < 4; ++i) p.data[i] = static_cast<std::uint8_t>(bits >> (24 - 8 * i));
  p.data[4] = 2400 >> 8;
  p.data[5] = 2400 & 0xFF;
  return p;  // UTC offset 0
}

KavoPacket Row(std::uint8_t row, const std::string& text) {
  std::vector<std::uint8_t> d = {0x8C, 0x01, 0, 0, 0, row};
  for (std::size_t i = 0; i < 17; ++i) d.push_back(i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0);
  d.resize(29, 0);
  return ChecksummedPacket(0x8F, d);
}

// Seconds 100..104 of week 2400, each with its two rows.
void WriteLog(const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  auto put = [&out](const KavoPacket& p) {
    std::uint8_t frame[kKavoMaxFrame];
    std::uint16_t n = 0;
    ASSERT_TRUE(BuildFrame(p, frame, n, 0));
    out.write(reinterpret_cast<const char*>(frame), n);
  };
  put(ChecksummedPacket(0x8F, WithText({0x8C, 0x04, 0x02}, "Brisk Mote")));
  for (int s = 100; s < 105; ++s) {
    put(TimePacket(static_cast<float>(s)));
    put(Row(0, "Second " + std::to_string(s)));
    put(Row(1, "Row one " + std::to_string(s)));
  }
}

template <typename Predicate>
bool WaitUntil(Predicate done, int ms = 5000) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < ms) QTest::qWait(10);
  return done();
}

class ViewPlaybackTest : public ::testing::Test {
 protected:
  std::unique_ptr<CButtonTestApp> Start(double speed) {
    WriteLog(dir / "session.kavo");
    AppRunOptions run;
    run.playFile = dir / "session.kavo";
    run.playSpeed = speed;
    auto app =
        std::make_unique<CButtonTestApp>(AppPaths{dir.Path() / "config" / "Plowview.ini", locks.Path()}, run);
    EXPECT_TRUE(app->InitInstance());
    return app;
  }

  CTempDir dir;
  CTempDir locks;
};

TEST_F(ViewPlaybackTest, PlaysTheRecordedPanelWithItsTitleAndTheKeysOff) {
  auto app = Start(0.0);
  CMainFrame* frame = app->MainFrame();
  CButtonTestView* view = frame->View();
  ASSERT_TRUE(view->Playing());
  ASSERT_TRUE(WaitUntil([&] { return view->Playback()->Player().Ended(); }));
  EXPECT_EQ(view->Control().State(), kConnected);
  EXPECT_EQ(view->Control().Lcd().lines[0], "Second 104");
  EXPECT_EQ(view->Control().Lcd().lines[1], "Row one 104");
  EXPECT_EQ(frame->windowTitle().toStdString(),
            "Plowview [1] - Brisk Mote  -  Playing session.kavo - GPS week 2400 "
            "104.0 s, 2026-01-04 00:01:44 UTC (end)");
  for (int id : {CButtonTestView::kIdUp, CButtonTestView::kIdDown, CButtonTestView::kIdRight,
                 CButtonTestView::kIdEsc, CButtonTestView::kIdLeft})
    EXPECT_FALSE(view->KeyButton(id)->isEnabled()) << id;
  EXPECT_TRUE(frame->PlaybackBar()->isVisible());
  EXPECT_EQ(frame->PlaybackSlider()->value(), 1000);
  frame->UpdateCommandUi();
  EXPECT_FALSE(frame->CommandAction(kIdFileConnect)->isEnabled());
  EXPECT_FALSE(frame->CommandAction(kIdFilePlayRawLog)->isEnabled());
  EXPECT_FALSE(frame->CommandAction(kIdClearBbRam)->isEnabled());
  EXPECT_TRUE(frame->CommandAction(kIdFileDisconnect)->isEnabled());

  // Disconnect ends the playback: the connection's own control, title and keys are back.
  frame->CommandAction(kIdFileDisconnect)->trigger();
  EXPECT_FALSE(view->Playing());
  EXPECT_EQ(view->Control().State(), kDisconnected);
  EXPECT_EQ(frame->windowTitle(), "Plowview [1]");
  EXPECT_TRUE(view->KeyButton(CButtonTestView::kIdUp)->isEnabled());
  EXPECT_FALSE(frame->PlaybackBar()->isVisible());
  frame->UpdateCommandUi();
  EXPECT_TRUE(frame->CommandAction(kIdFilePlayRawLog)->isEnabled());
}

TEST_F(ViewPlaybackTest, SpacePausesAndRightStepsOneSecond) {
  auto app = Start(1.0);
  CButtonTestView* view = app->MainFrame()->View();
  ASSERT_TRUE(WaitUntil([&] { return view->Control().Lcd().lines[0] == "Second 100"; }));
  QTest::keyClick(view, Qt::Key_Space);
  ASSERT_TRUE(view->Playback()->Player().Paused());
  const std::string paused = view->Control().Lcd().lines[0];
  QTest::qWait(1300);
  EXPECT_EQ(view->Control().Lcd().lines[0], paused);
  EXPECT_NE(app->MainFrame()->windowTitle().indexOf("(paused)"), -1);
  QTest::keyClick(view, Qt::Key_Right);
  const int shown = std::stoi(paused.substr(7));
  EXPECT_EQ(view->Control().Lcd().lines[0], "Second " + std::to_string(shown + 1));
  // An arrow key pressed nothing on the receiver: the link of a playback sends nothing at all.
  EXPECT_FALSE(view->Playback()->Player().IsConnected());
}

}  // namespace
