// How long a key takes from the view's key event to its packet leaving the serial port: the view
// with the program's own link on a pseudo-terminal whose far end this test reads.

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "app/connection_control.h"
#include "app/settings_profile.h"
#include "app/ui/button_test_doc.h"
#include "app/ui/button_test_view.h"
#include "app/ui/main_frame.h"
#include "link/protocol/kavo_ids.h"
#include "link/protocol/kavo_packet.h"
#include "support/prompt_recorder.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

// Reads the far end of the line and stamps every key packet (8C 00 01 ...) as it arrives.
class CLineWatcher {
 public:
  explicit CLineWatcher(int fd) : fd(fd), thread([this] { Run(); }) {}
  ~CLineWatcher() {
    stop = true;
    thread.join();
  }
  std::vector<Clock::time_point> Arrivals() {
    std::lock_guard<std::mutex> hold(lock);
    return arrivals;
  }

 private:
  void Run() {
    static constexpr std::uint8_t kKeyUp[] = {0x8C, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00};
    std::vector<std::uint8_t> seen;
    while (!stop) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      std::uint8_t chunk[512];
      const ssize_t n = ::read(fd, chunk, sizeof chunk);
      if (n <= 0) continue;
      const auto now = Clock::now();
      seen.insert(seen.end(), chunk, chunk + n);
      for (;;) {
        const auto it = std::search(seen.begin(), seen.end(), std::begin(kKeyUp), std::end(kKeyUp));
        if (it == seen.end()) break;
        {
          std::lock_guard<std::mutex> hold(lock);
          arrivals.push_back(now);
        }
        seen.erase(seen.begin(), it + sizeof kKeyUp);
      }
      if (seen.size() > 4096) seen.erase(seen.begin(), seen.end() - 16);
    }
  }

  int fd;
  std::atomic<bool> stop{false};
  std::mutex lock;
  std::vector<Clock::time_point> arrivals;
  std::thread thread;
};

TEST(ButtonTestViewLatency, KeyEventToSerialPort_MedianUnderTenMilliseconds) {
  CTempDir dir;
  CPtyPair pty;
  ASSERT_TRUE(pty.Ok());
  std::ofstream(dir / "Plowview.ini") << "[Connect]\nHighSpeedKavo=0\nPort=0\nBaudRate=4\nParity=0\n"
                                      << "[SerialPorts]\nCOM1=" << pty.SlavePath() << "\n";
  CSettingsProfile profile(dir.Path() / "Plowview.ini");
  CPromptRecorder prompts;
  CButtonTestDoc doc;
  ViewServices services;
  services.profile = &profile;
  services.prompts = &prompts;
  services.connectionDialog = [](CPortSettings&) { return true; };
  CMainFrame frame;
  auto* view = new CButtonTestView(&doc, services);
  frame.SetView(view);
  view->OnInitialUpdate();
  frame.show();

  CLineWatcher watcher(pty.MasterFd());
  view->OnFileConnect();
  // Link up after the settle phase, then one packet from the receiver makes the panel connected.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return view->IsCommandEnabled(kIdFileConnect) == false && view->Control().State() == kWaiting; },
      2000));
  KavoPacket title;
  title.id = kavo::kIdSuperReport;
  title.length = 4;
  title.data[0] = 0x8C;
  title.data[1] = 0x04;
  title.data[2] = 0x00;
  title.data[3] = 0x00;
  std::uint8_t frameBytes[KavoFrameCapacity(4)];
  std::uint16_t frameLength = 0;
  ASSERT_TRUE(BuildFrame(title, frameBytes, frameLength, 1));
  bool connected = false;
  for (int i = 0; i < 150 && !connected; ++i) {
    pty.Send(std::vector<std::uint8_t>(frameBytes, frameBytes + frameLength));
    connected = QTest::qWaitFor([&] { return view->Control().State() == kConnected; }, 100);
  }
  ASSERT_TRUE(connected) << "the link did not come up";

  constexpr int kPresses = 100;
  std::vector<Clock::time_point> pressed;
  for (int i = 0; i < kPresses; ++i) {
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
    QKeyEvent up(QEvent::KeyRelease, Qt::Key_Up, Qt::NoModifier);
    pressed.push_back(Clock::now());
    QApplication::sendEvent(view, &down);
    QApplication::sendEvent(view, &up);
    ASSERT_TRUE(QTest::qWaitFor([&] { return static_cast<int>(watcher.Arrivals().size()) > i; }, 1000)) << i;
  }
  const auto arrivals = watcher.Arrivals();
  ASSERT_EQ(arrivals.size(), static_cast<std::size_t>(kPresses));
  std::vector<double> ms;
  for (int i = 0; i < kPresses; ++i)
    ms.push_back(std::chrono::duration<double, std::milli>(arrivals[i] - pressed[i]).count());
  std::sort(ms.begin(), ms.end());
  const double median = (ms[kPresses / 2 - 1] + ms[kPresses / 2]) / 2;
  std::printf("[ measure ] key event to serial port over %d presses: median %.3f ms, max %.3f ms\n", kPresses,
              median, ms.back());
  EXPECT_LT(median, 10.0);
  view->OnDestroy();
}

}  // namespace
