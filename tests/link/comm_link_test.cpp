#include "link/comm_link.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "link/link_owner_recorder.h"
#include "link/port_report.h"
#include "link/protocol/kavo_ids.h"
#include "support/prompt_recorder.h"
#include "support/temp_dir.h"
#include "support/test_link_services.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr char kResponce[] =
    "Failed to receive a responce after\nattempting to configure the receiver's baud rate.";

// A pseudo-terminal: the link opens the slave by its path, the test plays the receiver on the
// master. The test keeps the slave open too, so the master never sees a hang-up in between.
class CPty {
 public:
  CPty() {
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
    path = name;
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  }
  ~CPty() {
    if (master >= 0) ::close(master);
    if (slave >= 0) ::close(slave);
  }
  const std::string& Path() const { return path; }

  void Write(const std::string& text) { Write(Bytes(text.begin(), text.end())); }
  void Write(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else {
        pollfd p{master, POLLOUT, 0};
        ::poll(&p, 1, 10);
      }
    }
  }
  // Reads what the link sent until `count` bytes came or `limit` passed.
  Bytes Read(std::size_t count, std::chrono::milliseconds limit) {
    Bytes out;
    const auto until = std::chrono::steady_clock::now() + limit;
    while (out.size() < count && std::chrono::steady_clock::now() < until) {
      pollfd p{master, POLLIN, 0};
      if (::poll(&p, 1, 5) <= 0) continue;
      std::uint8_t buffer[512];
      const ssize_t n = ::read(master, buffer, sizeof buffer);
      if (n > 0) out.insert(out.end(), buffer, buffer + n);
    }
    return out;
  }

 private:
  int master = -1;
  int slave = -1;
  std::string path;
};

// Runs each test in its own working folder: the link writes its serial debug capture there.
class CommLinkTest : public ::testing::Test {
 protected:
  CommLinkTest() : oldCwd(std::filesystem::current_path()) {
    std::filesystem::current_path(folder.Path());
    CSerialPortMap map;
    map.SetPath(0, pty.Path());
    link.SerialPort().SetPortMap(map);
  }
  ~CommLinkTest() override { std::filesystem::current_path(oldCwd); }

  void OpenPortDirectly(int baud = 9600) { ASSERT_EQ(link.SerialPort().Open(0, baud, 'N', 8, 1), 0); }

  CTempDir folder;
  std::filesystem::path oldCwd;
  CPty pty;
  CLinkOwnerRecorder owner;
  CPromptRecorder prompts;
  CCommLink link{&owner, prompts, TestLinkServices()};
};

TEST(CommLinkParams, SetSerialParams_AcceptsOnlyTheLinkSettings) {
  CLinkOwnerRecorder owner;
  CPromptRecorder prompts;
  CCommLink link(&owner, prompts, TestLinkServices());
  struct Case {
    std::uint32_t baud;
    char parity;
    std::uint32_t dataBits, stopBits;
    bool ok;
  };
  const Case cases[] = {{2400, 'N', 8, 1, true},    {4800, 'O', 7, 2, true},  {9600, 'E', 8, 1, true},
                        {19200, 'N', 8, 2, true},   {38400, 'N', 8, 1, true}, {57600, 'N', 8, 1, false},
                        {115200, 'N', 8, 1, false}, {0, 'N', 8, 1, false},    {9600, 'M', 8, 1, false},
                        {9600, 'S', 8, 1, false},   {9600, 'n', 8, 1, false}, {9600, 'N', 5, 1, false},
                        {9600, 'N', 6, 1, false},   {9600, 'N', 9, 1, false}, {9600, 'N', 8, 3, false},
                        {9600, 'N', 8, 0, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(link.SetSerialParams(c.baud, c.parity, c.dataBits, c.stopBits), c.ok)
        << c.baud << " " << c.parity << " " << c.dataBits << " " << c.stopBits;
  }
}

TEST_F(CommLinkTest, TransportsNotBuiltAndTypeNone_FailCleanlyWithStatusDown) {
  for (int number : {9, 10, 11, 12, 13, -1}) link.Open(LinkTypeFromNumber(number), false);
  EXPECT_EQ(owner.Statuses(), std::vector<int>(6, kLinkStatusDown));
  EXPECT_EQ(link.CurrentLinkType(), LinkType::None);
  EXPECT_FALSE(link.IsConnected());
  EXPECT_TRUE(prompts.Texts().empty());
}

TEST_F(CommLinkTest, UnmappedSlot_MessageAndStatusDown) {
  link.SetSerialParams(9600, 'N', 8, 1);
  link.Open(SerialLinkType(3), false);
  ASSERT_EQ(prompts.Taken().size(), 1u);
  EXPECT_EQ(prompts.Taken()[0].text, "Error: Could not open serial port.");
  EXPECT_EQ(prompts.Taken()[0].icon, PromptIcon::Exclamation);
  EXPECT_EQ(owner.Statuses(), std::vector<int>{kLinkStatusDown});
  EXPECT_EQ(link.CurrentLinkType(), LinkType::None);
  // The capture starts before the port is tried, named after the COM number.
  EXPECT_TRUE(std::filesystem::exists(folder.Path() / "v1.19DebugComm4.txt"));
}

TEST_F(CommLinkTest, SerialSendPacket_FrameThenTwoNuls) {
  OpenPortDirectly();
  KavoPacket p;
  p.id = kavo::kIdSuperRequest;
  p.length = 2;
  p.data[0] = 0x93;
  p.data[1] = 0x10;
  ASSERT_TRUE(link.SendPacket(LinkType::Com1, &p, 1));
  const Bytes expected{0x10, 0x8E, 0x93, 0x10, 0x10, 0x00, 0xA3, 0x10, 0x03, 0x00, 0x00};
  EXPECT_EQ(pty.Read(expected.size(), 500ms), expected);

  const Bytes raw{0x10, 0x44, 0x01, 0x10, 0x03};
  ASSERT_TRUE(link.SendRaw(LinkType::Com1, raw.data(), static_cast<int>(raw.size())));
  EXPECT_EQ(pty.Read(raw.size(), 500ms), raw);
  EXPECT_TRUE(pty.Read(1, 20ms).empty());
}

TEST_F(CommLinkTest, SendOnClosedType_FalseAndNothingSent) {
  OpenPortDirectly();
  KavoPacket p;
  p.id = kavo::kIdSuperRequest;
  EXPECT_FALSE(link.SendPacket(LinkType::None, &p, 0));
  EXPECT_FALSE(link.IsConnected());
  EXPECT_TRUE(pty.Read(1, 50ms).empty());
}

TEST_F(CommLinkTest, ReportWithoutEtxIn150Bytes_Refused) {
  OpenPortDirectly();
  link.SetTiming(CommLinkTiming{}.Scaled(10));
  pty.Write("DUCT," + kPortReport + std::string(150 - kPortReport.size(), ' ') + "\x03");
  EXPECT_FALSE(link.ReadReceiverPortReport());
  EXPECT_EQ(link.HighSpeedActive(), 0u);
}

TEST_F(CommLinkTest, ReportEndingAtByte150_Accepted) {
  OpenPortDirectly();
  // Noise before the report start is skipped.
  pty.Write(
      "xy\x10"
      "DUCT," +
      kPortReport + std::string(149 - kPortReport.size(), ' ') + "\x03");
  ASSERT_TRUE(link.ReadReceiverPortReport());
  EXPECT_EQ(link.HighSpeedActive(), 1u);
  EXPECT_EQ(link.PortReport().inBaud, 38400);
  EXPECT_STREQ(link.PortReport().outProtocol, "NMEA");
}

TEST_F(CommLinkTest, OverlongTokenInReport_Invalid) {
  OpenPortDirectly();
  std::string report = kPortReport;
  report.replace(report.find("KAVO(Y)"), 4, "KAVOKAVOKAVO");
  pty.Write("DUCT," + report + "\x03");
  EXPECT_FALSE(link.ReadReceiverPortReport());
  EXPECT_EQ(link.HighSpeedActive(), 0u);
}

TEST_F(CommLinkTest, WaitForText_OtherTraffic_GivesUp) {
  OpenPortDirectly();
  link.SetTiming(CommLinkTiming{}.Scaled(10));
  // 2,000 bytes that never form the text; the text right after them comes too late.
  pty.Write(std::string(2000, 'D') + "DUCT,");
  EXPECT_FALSE(link.WaitForText("DUCT,"));
  // Silence (300 empty polls) is timed on a fake clock in serial_transport_test.cpp.
}

TEST_F(CommLinkTest, WaitHighSpeedAnswer_RateRefusalOrSilence) {
  OpenPortDirectly();
  link.SetTiming(CommLinkTiming{}.Scaled(10));
  pty.Write("HIGH SPEED KAVO IS 57600 00\r\n");
  EXPECT_EQ(link.WaitHighSpeedAnswer(), 57600);
  pty.Write("HIGH SPEED KAVO IS 4800 00\r\n");
  EXPECT_EQ(link.WaitHighSpeedAnswer(), -1);
  EXPECT_EQ(link.WaitHighSpeedAnswer(), 0);
}

// Plays the receiver's side of the port switch: the report shortly after the break, then the
// given answer to the switch request.
class CScriptedReceiver {
 public:
  CScriptedReceiver(CPty& pty, std::string answer, std::string report = kPortReport,
                    std::chrono::milliseconds delay = 150ms)
      : thread([this, &pty, answer, report, delay] {
          std::this_thread::sleep_for(delay);
          pty.Write("DUCT," + report + "\x03");
          std::string seen;
          const auto until = std::chrono::steady_clock::now() + 5s;
          while (!done && std::chrono::steady_clock::now() < until) {
            const Bytes got = pty.Read(1, 20ms);
            seen.append(got.begin(), got.end());
            const std::size_t at = seen.find("FAST LINK SWITCH REQUEST\r\n");
            if (at != std::string::npos) {
              // The four padding bytes are written one by one and may come in a later read.
              const std::size_t whole = at + 26 + 4;
              const auto padUntil = std::chrono::steady_clock::now() + 1s;
              while (seen.size() < whole && std::chrono::steady_clock::now() < padUntil) {
                const Bytes more = pty.Read(whole - seen.size(), 20ms);
                seen.append(more.begin(), more.end());
              }
              received = seen;
              pty.Write(answer);
              return;
            }
          }
        }) {}
  ~CScriptedReceiver() {
    done = true;
    if (thread.joinable()) thread.join();
  }
  std::string Received() {
    if (thread.joinable()) thread.join();
    return received;
  }

 private:
  std::atomic<bool> done{false};
  std::string received;
  std::thread thread;
};

TEST_F(CommLinkTest, ConfigureReceiverPort_FollowsAnswered57600WithOddParity) {
  OpenPortDirectly();
  std::string request;
  {
    CScriptedReceiver receiver(pty, "HIGH SPEED KAVO IS 57600 00\r\n");
    ASSERT_TRUE(link.ConfigureReceiverPort(0));
    request = receiver.Received();
  }
  EXPECT_EQ(request, std::string("FAST LINK SWITCH REQUEST\r\n") + std::string(4, '\0'));
  EXPECT_EQ(link.SerialPort().GetBaudRate(), 57600);
  EXPECT_EQ(link.SerialPort().GetParity(), 'O');
  EXPECT_EQ(link.SerialPort().GetWordLength(), 8);
  EXPECT_EQ(link.SerialPort().GetStopBits(), 1);
  EXPECT_EQ(link.HighSpeedActive(), 1u);
  EXPECT_TRUE(prompts.Texts().empty());
}

TEST_F(CommLinkTest, ConfigureReceiverPort_Answered4800_RefusedWithMessageAndPortClosed) {
  OpenPortDirectly();
  {
    CScriptedReceiver receiver(pty, "HIGH SPEED KAVO IS 4800 00\r\n");
    EXPECT_FALSE(link.ConfigureReceiverPort(0));
  }
  EXPECT_EQ(prompts.Texts(), std::vector<std::string>{kResponce});
  EXPECT_FALSE(link.SerialPort().IsOpen());
}

// The line went while the receiver ran at the high speed and it kept that speed: its report now
// shows the speed we set, and what a close must put back is still what it had before. A report of
// any other settings (the receiver went back to its own, or was set anew) is taken as it is.
TEST_F(CommLinkTest, ReportOfOurOwnHighSpeed_SettingsFromBeforeTheTakeOverStayTheOnesPutBack) {
  OpenPortDirectly();
  const std::string keptOurs =
      "Brisk Mote,PORT(1),57600,57600,8,1,O,N,FW,4.02,HW,2.10,4415A01234,PROTOCOLS,KAVO(Y),KAVO(N)";
  const std::string ownAgain =
      "Brisk Mote,PORT(1),19200,19200,8,1,E,N,FW,4.02,HW,2.10,4415A01234,PROTOCOLS,KAVO(Y),KAVO(N)";
  struct Step {
    const std::string* report;
    std::int32_t inBaud;
    char parity;
  };
  const Step steps[] = {{&kPortReport, 38400, 'N'}, {&keptOurs, 38400, 'N'}, {&ownAgain, 19200, 'E'}};
  for (const Step& step : steps) {
    {
      CScriptedReceiver receiver(pty, "HIGH SPEED KAVO IS 57600 00\r\n", *step.report);
      ASSERT_TRUE(link.ConfigureReceiverPort(0));
    }
    EXPECT_EQ(link.PortReport().inBaud, step.inBaud) << *step.report;
    EXPECT_EQ(link.PortReport().parity, step.parity) << *step.report;
    EXPECT_EQ(link.SerialPort().GetBaudRate(), 57600);
  }
}

// After a loss a serial link with the take-over goes straight to the break: no settle phase (here
// made a minute long), so the receiver's report is asked for at once.
TEST_F(CommLinkTest, ReopenWithTakeOver_SkipsTheSettlePhase) {
  CommLinkTiming slowSettle;
  slowSettle.settlePassMs = 1000;
  link.SetTiming(slowSettle);
  ASSERT_TRUE(link.SetSerialParams(9600, 'N', 8, 1));
  {
    CScriptedReceiver receiver(pty, "HIGH SPEED KAVO IS 38400 00\r\n", kPortReport, 1000ms);
    link.Reopen(LinkType::Com1, true);
    ASSERT_TRUE(owner.WaitStatuses(1, 20s));
    EXPECT_EQ(owner.Statuses(), std::vector<int>{kLinkStatusUp});
  }
  EXPECT_EQ(link.SerialPort().GetBaudRate(), 38400);
  EXPECT_TRUE(prompts.Texts().empty());
  EXPECT_TRUE(link.Close(LinkType::Com1));
}

TEST_F(CommLinkTest, ReportedRateWithoutCode_NoRestorePacket) {
  OpenPortDirectly();
  std::string fastReport = kPortReport;
  fastReport.replace(fastReport.find("38400"), 5, "115200");
  pty.Write("DUCT," + fastReport + "\x03");
  ASSERT_TRUE(link.ReadReceiverPortReport());
  EXPECT_EQ(link.PortReport().inBaud, 115200);
  EXPECT_FALSE(link.RestoreReceiverPort());
  EXPECT_TRUE(pty.Read(1, 50ms).empty());
}

TEST_F(CommLinkTest, OpenOnOpenLink_MarksClosedThenCloseEndsTheReader) {
  link.SetTiming(CommLinkTiming{}.Scaled(50));
  link.SetSerialParams(9600, 'N', 8, 1);
  link.Open(LinkType::Com1, false);
  ASSERT_TRUE(owner.WaitStatuses(1, 2s));
  ASSERT_TRUE(link.IsConnected());

  link.Open(LinkType::Com1, false);
  EXPECT_EQ(owner.Statuses(), (std::vector<int>{kLinkStatusUp, kLinkStatusDown}));
  EXPECT_FALSE(link.IsConnected());
  EXPECT_EQ(link.CurrentLinkType(), LinkType::None);
  // The transport still runs until Close, which ends it without a status of its own.
  EXPECT_TRUE(link.SerialPort().IsOpen());
  EXPECT_FALSE(link.Close(LinkType::Com1));
  EXPECT_FALSE(link.SerialPort().IsOpen());

  // The slot opens again at once.
  link.Open(LinkType::Com1, false);
  ASSERT_TRUE(owner.WaitStatuses(3, 2s));
  EXPECT_EQ(owner.Statuses().back(), kLinkStatusUp);
  EXPECT_TRUE(link.Close(LinkType::Com1));
  EXPECT_EQ(owner.Statuses().size(), 3u);
}

TEST_F(CommLinkTest, OpenedOnAnotherPort_CaptureMovesToThatPortsFile) {
  CPty second;
  CSerialPortMap map;
  map.SetPath(0, pty.Path());
  map.SetPath(1, second.Path());
  link.SerialPort().SetPortMap(map);
  link.SetTiming(CommLinkTiming{}.Scaled(50));
  link.SetSerialParams(9600, 'N', 8, 1);
  for (int port : {0, 1, 0}) {
    link.Open(SerialLinkType(port), false);
    ASSERT_TRUE(owner.WaitStatuses(owner.Statuses().size() + 1, 2s));
    ASSERT_EQ(owner.Statuses().back(), kLinkStatusUp) << port;
    EXPECT_TRUE(link.Close(SerialLinkType(port)));
  }
  const std::string com1 = ReadWholeFile(folder / "v1.19DebugComm1.txt");
  const std::string com2 = ReadWholeFile(folder / "v1.19DebugComm2.txt");
  EXPECT_EQ(com2.find("COM1"), std::string::npos) << com2;
  EXPECT_EQ(com1.find("COM2"), std::string::npos) << com1;
  EXPECT_NE(com2.find("! Opened port COM2, 9600, N, 8, 1"), std::string::npos) << com2;
  // COM1's capture was closed when the link moved to COM2 and started again when it came back.
  auto count = [](const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count(com1, "Debugging started on"), 2u);
  EXPECT_EQ(count(com1, "Debugging stopped on"), 1u);
  EXPECT_EQ(count(com1, "! Opened port COM1, 9600, N, 8, 1"), 2u);
}

// The settle phase's waits are timed on a fake clock in serial_transport_test.cpp.
TEST_F(CommLinkTest, CloseWhileSettling_NoStatusAndPortClosed) {
  link.SetSerialParams(9600, 'N', 8, 1);
  link.Open(LinkType::Com1, false);
  std::this_thread::sleep_for(150ms);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(link.Close(LinkType::Com1));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
  EXPECT_FALSE(owner.WaitStatuses(1, 300ms));
  EXPECT_FALSE(link.SerialPort().IsOpen());
}

// The owner is told once per read, however many packets the read completed; the packets come
// in order with their receive stamp.
TEST_F(CommLinkTest, ReceivedFrames_QueuedAndOwnerToldPerRead) {
  link.SetTiming(CommLinkTiming{}.Scaled(50));
  link.SetSerialParams(9600, 'N', 8, 1);
  link.Open(LinkType::Com1, false);
  ASSERT_TRUE(owner.WaitStatuses(1, 2s));
  const auto before = static_cast<std::int64_t>(std::time(nullptr));
  // Noise between the frames is ignored.
  pty.Write(Bytes{0x10, 0x41, 0x01, 0x02, 0x10, 0x03, 0x00, 0x00, 0x55, 0x10, 0x8F, 0x10, 0x10, 0x10, 0x03});
  ASSERT_TRUE(owner.WaitPackets(1, 2s));
  for (int i = 0; i < 200 && link.Parser().QueuedPackets() < 2; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_LE(owner.Packets(), 2);
  CPacketBatch batch;
  ASSERT_EQ(link.TakePackets(batch), 2u);
  std::vector<Bytes> got;
  for (const KavoPacket& p : batch) {
    Bytes described{p.id};
    described.insert(described.end(), p.data, p.data + p.length);
    got.push_back(described);
    EXPECT_GE(p.receivedAt, before);
    EXPECT_LE(p.receivedAt, static_cast<std::int64_t>(std::time(nullptr)));
  }
  EXPECT_EQ(got, (std::vector<Bytes>{{0x41, 0x01, 0x02}, {0x8F, 0x10}}));
  EXPECT_EQ(link.TakePackets(batch), 0u);
  EXPECT_TRUE(link.Close(LinkType::Com1));
}

}  // namespace
