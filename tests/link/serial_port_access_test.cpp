#include "link/serial/serial_port_access.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/fake_clock.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The port under test sits on the slave of a pseudo-terminal (slot 0, COM1); the test is the
// far end on the master. Slot 2 (COM3) names a device that does not exist.
class SerialPortAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok());
    map.SetPath(0, pty.SlavePath());
    map.SetPath(2, dir / "ttyUSB99");
    port.SetPortMap(map);
  }

  void OpenLogged() {
    ASSERT_EQ(port.StartLog(capture), 0);
    ASSERT_EQ(port.Open(0, 9600, 'N', 8, 1), 0);
  }
  std::string Captured() const { return ReadWholeFile(capture); }
  bool Logged(const std::string& line) const { return Captured().find(" ! " + line) != std::string::npos; }

  CTempDir dir;
  std::string capture = dir / "v1.19DebugComm1.txt";
  CPtyPair pty;
  CSerialPortMap map;
  CFakeClock clock;
  SerialPortAccess port{CSerialPortMap(), &clock};
};

TEST_F(SerialPortAccessTest, OpenWriteRead_BytesCrossAndAreLoggedByDirection) {
  clock.Set(1000);
  OpenLogged();
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.GetPort(), 0);
  EXPECT_GE(port.GetCommHandle(), 0);

  clock.Set(1500);
  const Bytes sent{0x10, 0x8E, 0x00};
  EXPECT_EQ(port.WriteBuffer(sent.data(), 3), 3);
  EXPECT_EQ(pty.Receive(3, 1000), sent);

  clock.Set(1520);
  ASSERT_TRUE(pty.Send(Bytes{0x10, 0x8F, 0x03}));
  ASSERT_EQ(port.WaitReadable(1000), 1);
  std::uint8_t got[8] = {};
  EXPECT_EQ(port.ReadBufferTimed(got, 3, 1000), 3);
  EXPECT_EQ(Bytes(got, got + 3), (Bytes{0x10, 0x8F, 0x03}));
  EXPECT_EQ(port.Close(), 0);
  EXPECT_FALSE(port.IsOpen());
  port.StopLog();

  const std::string content = Captured();
  const std::string expected =
      "\n 1.000000  ! SerialPortDLL, v1.1 build 1"
      "\n 1.000000  ! Opened port COM1, 9600, N, 8, 1"
      "\n 1.500000  T 10 8E 00 "
      "\n 1.520000  R 10 8F 03 "
      "\n 1.520000  ! Closed port COM1"
      "\n\nDebugging stopped on ";
  EXPECT_NE(content.find(expected), std::string::npos) << content;
}

TEST_F(SerialPortAccessTest, SingleBytesAndStrings_CrossBothWays) {
  OpenLogged();
  EXPECT_EQ(port.WriteChar(0x41), 0);
  EXPECT_EQ(port.WriteCharTimed(0x42, 100), 0);
  EXPECT_EQ(port.WriteString("AT", 0x0D), 3);
  EXPECT_EQ(port.WriteStringTimed("OK", 0x0D0A, 100), 4);
  EXPECT_EQ(pty.Receive(9, 1000), (Bytes{'A', 'B', 'A', 'T', '\r', 'O', 'K', '\r', '\n'}));

  ASSERT_TRUE(pty.Send(Bytes{0xFF, 0x00}));
  EXPECT_EQ(port.ReadCharTimed(1000), 0xFF);  // a byte of 255 is not mistaken for an error
  EXPECT_EQ(port.ReadCharTimed(1000), 0x00);

  // A CR LF terminated string: the terminator is removed and nothing after it is taken.
  ASSERT_TRUE(pty.Send(std::string("AB\r\nCD")));
  char text[16];
  EXPECT_EQ(port.ReadStringTimed(text, sizeof text, 0x0D0A, 1000), 2);
  EXPECT_STREQ(text, "AB");
  EXPECT_EQ(port.ReadCharTimed(1000), 'C');
  EXPECT_EQ(port.ReadStringTimed(text, sizeof text, '\r', 50), 1);
  EXPECT_STREQ(text, "D");
  EXPECT_TRUE(Logged(
      "Received 1 strings chars on COM1, termination sequence not found (nTerminationSequence == 13, 50 msec "
      "timeout)"));

  // A string longer than the buffer stops at its end, NUL-terminated.
  ASSERT_TRUE(pty.Send(std::string("0123456789")));
  ASSERT_EQ(port.WaitReadable(1000), 1);
  char small[4];
  EXPECT_EQ(port.ReadStringTimed(small, sizeof small, '\r', 200), 3);
  EXPECT_STREQ(small, "012");
}

TEST_F(SerialPortAccessTest, ReadChar_NothingWaiting_ReturnsMinus8AndLogsNothing) {
  OpenLogged();
  const std::string before = Captured();
  EXPECT_EQ(port.ReadChar(), kCommNoCharAvailable);
  std::uint8_t buffer[4];
  EXPECT_EQ(port.ReadBuffer(buffer, 4), 0);
  char text[4];
  EXPECT_EQ(port.ReadString(text, sizeof text, '\r'), kCommNoCharAvailable);
  EXPECT_EQ(Captured(), before);
}

TEST_F(SerialPortAccessTest, TimedReadWithNothingComing_TimesOutAfterItsTime) {
  OpenLogged();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port.ReadCharTimed(60), kCommTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(55));
  EXPECT_TRUE(Logged("Error reading char (60 msec timeout) on COM1: timed out"));
  EXPECT_EQ(port.WaitReadable(20), 0);

  // Fewer bytes than asked before the time runs out: the bytes that came are returned.
  ASSERT_TRUE(pty.Send(Bytes{1, 2}));
  std::uint8_t buffer[8];
  EXPECT_EQ(port.ReadBufferTimed(buffer, 8, 100), 2);
}

TEST_F(SerialPortAccessTest, ClosedPort_EveryOperationReturnsMinus6AndLogsNothing) {
  ASSERT_EQ(port.StartLog(capture), 0);
  const std::string before = Captured();
  std::uint8_t b[4] = {};
  char s[4] = {};
  const std::vector<std::pair<const char*, std::function<int()>>> operations = {
      {"SetAll", [&] { return port.SetAll(9600, 'N', 8, 1); }},
      {"SetBaudRate", [&] { return port.SetBaudRate(9600); }},
      {"SetParity", [&] { return port.SetParity('N'); }},
      {"SetWordLength", [&] { return port.SetWordLength(8); }},
      {"SetStopBits", [&] { return port.SetStopBits(1); }},
      {"ReadChar", [&] { return port.ReadChar(); }},
      {"ReadCharTimed", [&] { return port.ReadCharTimed(10); }},
      {"ReadBuffer", [&] { return port.ReadBuffer(b, 4); }},
      {"ReadBufferTimed", [&] { return port.ReadBufferTimed(b, 4, 10); }},
      {"ReadString", [&] { return port.ReadString(s, 4, 13); }},
      {"ReadStringTimed", [&] { return port.ReadStringTimed(s, 4, 13, 10); }},
      {"WriteChar", [&] { return port.WriteChar(1); }},
      {"WriteCharTimed", [&] { return port.WriteCharTimed(1, 10); }},
      {"WriteBuffer", [&] { return port.WriteBuffer(b, 4); }},
      {"WriteBufferTimed", [&] { return port.WriteBufferTimed(b, 4, 10); }},
      {"WriteString", [&] { return port.WriteString("x", 13); }},
      {"WriteStringTimed", [&] { return port.WriteStringTimed("x", 13, 10); }},
      {"SendBreak", [&] { return port.SendBreak(10); }},
      {"GetBreakDetect", [&] { return port.GetBreakDetect(); }},
      {"ClearLineStatus", [&] { return port.ClearLineStatus(); }},
      {"GetLineStatus", [&] { return port.GetLineStatus(); }},
      {"GetFramingError", [&] { return port.GetFramingError(); }},
      {"GetOverrunError", [&] { return port.GetOverrunError(); }},
      {"GetParityError", [&] { return port.GetParityError(); }},
      {"ClearRXBuffer", [&] { return port.ClearRXBuffer(); }},
      {"IsRXEmpty", [&] { return port.IsRXEmpty(); }},
      {"IsRXFull", [&] { return port.IsRXFull(); }},
      {"RXSpaceFree", [&] { return port.RXSpaceFree(); }},
      {"RXSpaceUsed", [&] { return port.RXSpaceUsed(); }},
      {"ClearTXBuffer", [&] { return port.ClearTXBuffer(); }},
      {"IsTXEmpty", [&] { return port.IsTXEmpty(); }},
      {"IsTXFull", [&] { return port.IsTXFull(); }},
      {"TXSpaceFree", [&] { return port.TXSpaceFree(); }},
      {"TXSpaceUsed", [&] { return port.TXSpaceUsed(); }},
      {"SetRTS", [&] { return port.SetRTS(1); }},
      {"SetDTR", [&] { return port.SetDTR(1); }},
      {"GetModemStatus", [&] { return port.GetModemStatus(); }},
      {"GetCd", [&] { return port.GetCd(); }},
      {"GetCts", [&] { return port.GetCts(); }},
      {"GetDsr", [&] { return port.GetDsr(); }},
      {"SetDtrDsrFlow", [&] { return port.SetDtrDsrFlow(0); }},
      {"SetRtsCtsFlow", [&] { return port.SetRtsCtsFlow(0); }},
      {"SetXonXoffFlow", [&] { return port.SetXonXoffFlow(0); }},
      {"WaitReadable", [&] { return port.WaitReadable(10); }},
      {"GetPort", [&] { return port.GetPort(); }},
      {"GetBaudRate", [&] { return port.GetBaudRate(); }},
      {"GetWordLength", [&] { return port.GetWordLength(); }},
      {"GetStopBits", [&] { return port.GetStopBits(); }},
      {"GetRTS", [&] { return port.GetRTS(); }},
      {"GetDTR", [&] { return port.GetDTR(); }},
      {"GetDtrDsrFlow", [&] { return port.GetDtrDsrFlow(); }},
      {"GetRtsCtsFlow", [&] { return port.GetRtsCtsFlow(); }},
      {"GetXonXoffFlow", [&] { return port.GetXonXoffFlow(); }},
  };
  for (const auto& [name, call] : operations) EXPECT_EQ(call(), kCommNotOpen) << name;
  EXPECT_EQ(port.GetParity(), 250);
  EXPECT_EQ(port.Close(), 0);
  EXPECT_EQ(port.GetCommHandle(), -1);
  EXPECT_EQ(Captured(), before);
}

TEST_F(SerialPortAccessTest, FailedOpens_ReturnTheirCodesAndLogTheComNumber) {
  ASSERT_EQ(port.StartLog(capture), 0);
  EXPECT_EQ(port.Open(2, 9600, 'N', 8, 1), kCommNoSuchPort);
  EXPECT_TRUE(Logged("Error opening port COM3: no such port"));
  EXPECT_EQ(port.Open(5, 9600, 'N', 8, 1), kCommNoSuchPort);  // unmapped
  EXPECT_EQ(port.Open(9, 9600, 'N', 8, 1), kCommNoSuchPort);  // beyond COM9
  EXPECT_EQ(port.Open(0, 12345, 'N', 8, 1), kCommBadParameter);
  EXPECT_TRUE(Logged("Error opening port COM1: bad parameter"));

  map.SetPath(3, capture);  // a plain file: opens, but is no terminal
  port.SetPortMap(map);
  EXPECT_EQ(port.Open(3, 9600, 'N', 8, 1), kCommNotATty);
  EXPECT_FALSE(port.IsOpen());
}

TEST_F(SerialPortAccessTest, OpenTwice_ReturnsMinus3AndKeepsThePort) {
  OpenLogged();
  const std::string before = Captured();
  EXPECT_EQ(port.Open(0, 19200, 'E', 7, 2), kCommAlreadyOpen);
  EXPECT_EQ(Captured(), before);
  EXPECT_EQ(port.GetBaudRate(), 9600);
  EXPECT_EQ(port.WriteChar(7), 0);
  EXPECT_EQ(pty.Receive(1, 1000), Bytes{7});
}

TEST_F(SerialPortAccessTest, Setters_ApplyToTheDeviceAndStoreTheValue) {
  OpenLogged();
  EXPECT_EQ(port.SetAll(115200, 'O', 7, 2), 0);
  EXPECT_TRUE(Logged("Port COM1 now set to 115200, O, 7, 2"));
  termios t{};
  ASSERT_EQ(::tcgetattr(pty.SlaveFd(), &t), 0);
  EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B115200));
  // (A pty keeps 8 data bits and no parity whatever is asked; the rest it holds.)
  EXPECT_EQ(t.c_cflag & (CSTOPB | CLOCAL | CREAD), static_cast<tcflag_t>(CSTOPB | CLOCAL | CREAD));
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);

  EXPECT_EQ(port.SetBaudRate(2400), 0);
  EXPECT_EQ(port.SetParity('E'), 0);
  EXPECT_EQ(port.SetWordLength(8), 0);
  EXPECT_EQ(port.SetStopBits(1), 0);
  EXPECT_EQ(port.SetXonXoffFlow(1), 0);
  EXPECT_EQ(port.SetRtsCtsFlow(1), 0);
  EXPECT_TRUE(Logged("Port COM1 baud rate now set to 2400"));
  EXPECT_TRUE(Logged("Port COM1 parity now set to E"));
  EXPECT_TRUE(Logged("Port COM1 word length now set to 8"));
  EXPECT_TRUE(Logged("Port COM1 stop bits now set to 1"));
  EXPECT_TRUE(Logged("Xon/Xoff flow control enabled on port COM1"));
  EXPECT_TRUE(Logged("RTS/CTS flow control enabled on port COM1"));
  ASSERT_EQ(::tcgetattr(pty.SlaveFd(), &t), 0);
  EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B2400));
  EXPECT_EQ(t.c_cflag & (CSTOPB | CRTSCTS), static_cast<tcflag_t>(CRTSCTS));
  EXPECT_NE(t.c_iflag & IXON, 0u);

  // Refused values leave the stored setting as it was.
  EXPECT_EQ(port.SetBaudRate(12345), kCommBadParameter);
  EXPECT_EQ(port.SetParity('Q'), kCommBadParameter);
  EXPECT_EQ(port.SetWordLength(9), kCommBadParameter);
  EXPECT_EQ(port.SetStopBits(3), kCommBadParameter);
  EXPECT_EQ(port.SetDtrDsrFlow(1), kCommNotSupported);
  EXPECT_TRUE(Logged("Error setting COM1 baud rate to 12345: bad parameter"));
  EXPECT_TRUE(Logged("Error setting COM1 parity to Q: bad parameter"));
  EXPECT_TRUE(
      Logged("Error while changing DTR/DSR flow control setting (nControl == 1) on COM1: not supported by "
             "the device"));
  EXPECT_EQ(port.GetBaudRate(), 2400);
  EXPECT_EQ(port.GetParity(), 'E');
  EXPECT_EQ(port.GetWordLength(), 8);
  EXPECT_EQ(port.GetStopBits(), 1);
  EXPECT_EQ(port.GetXonXoffFlow(), 1);
  EXPECT_EQ(port.GetRtsCtsFlow(), 1);
  EXPECT_EQ(port.GetDtrDsrFlow(), 0);

  // Reopening starts from the settings of the open, flow control off.
  port.Close();
  ASSERT_EQ(port.Open(0, 4800, 'N', 8, 1), 0);
  EXPECT_EQ(port.GetRtsCtsFlow(), 0);
  EXPECT_EQ(port.GetBaudRate(), 4800);
}

TEST_F(SerialPortAccessTest, BufferQueries_ReportWhatIsWaiting) {
  OpenLogged();
  EXPECT_EQ(port.IsRXEmpty(), 1);
  ASSERT_TRUE(pty.Send(Bytes{1, 2, 3, 4, 5}));
  ASSERT_EQ(port.WaitReadable(1000), 1);
  EXPECT_EQ(port.RXSpaceUsed(), 5);
  EXPECT_EQ(port.RXSpaceFree(), SerialPortAccess::kRxBufferSize - 5);
  EXPECT_EQ(port.IsRXEmpty(), 0);
  EXPECT_EQ(port.IsRXFull(), 0);
  EXPECT_EQ(port.ClearRXBuffer(), 0);
  EXPECT_EQ(port.IsRXEmpty(), 1);
  EXPECT_EQ(port.ReadChar(), kCommNoCharAvailable);
  EXPECT_EQ(port.ClearTXBuffer(), 0);
  EXPECT_EQ(port.IsTXEmpty(), 1);
  EXPECT_EQ(port.IsTXFull(), 0);
  EXPECT_EQ(port.TXSpaceUsed(), 0);
  EXPECT_EQ(port.TXSpaceFree(), SerialPortAccess::kTxBufferSize);
  for (const char* line :
       {"Receive buffer contains 5 bytes on port COM1", "Receive buffer not empty on port COM1",
        "Receive buffer cleared on port COM1", "Receive buffer empty on port COM1",
        "Transmit buffer cleared on port COM1", "Transmit buffer empty on port COM1",
        "Space for 4091 bytes in receive buffer on port COM1"})
    EXPECT_TRUE(Logged(line)) << line;
}

// A pseudo-terminal has no modem lines and no line counters: those calls fail with a code and
// their error text, and the port stays usable.
TEST_F(SerialPortAccessTest, PtyWithoutModemLines_LineCallsFailWithTheirTexts) {
  OpenLogged();
  EXPECT_EQ(port.SetRTS(1), kCommNotSupported);
  EXPECT_EQ(port.SetDTR(0), kCommNotSupported);
  EXPECT_EQ(port.GetModemStatus(), kCommNotSupported);
  EXPECT_EQ(port.GetCts(), kCommNotSupported);
  EXPECT_EQ(port.GetLineStatus(), kCommNotSupported);
  EXPECT_EQ(port.GetBreakDetect(), kCommNotSupported);
  EXPECT_EQ(port.ClearLineStatus(), kCommNotSupported);
  for (const char* line :
       {"Error while setting RTS line (nControl == 1) on COM1: not supported by the device",
        "Error while setting DTR line (nControl == 0) on COM1: not supported by the device",
        "Error while getting modem status on COM1: not supported by the device",
        "Error getting line status on COM1: not supported by the device",
        "Error getting break detect on COM1: not supported by the device"})
    EXPECT_TRUE(Logged(line)) << line;
  EXPECT_EQ(port.GetRTS(), 0);
  const int brk = port.SendBreak(10);  // a pty may accept or refuse a break; either is logged
  EXPECT_TRUE(brk == 0 ? Logged("Break signal sent on port COM1")
                       : Logged("Error error sending break (duration 10 msec) on COM1: "));
  EXPECT_EQ(port.WriteChar(9), 0);
  EXPECT_EQ(pty.Receive(1, 1000), Bytes{9});
}

TEST_F(SerialPortAccessTest, FarEndClosed_ReadsReportHangUp) {
  OpenLogged();
  ASSERT_TRUE(pty.Send(Bytes{0x42}));
  ASSERT_EQ(port.WaitReadable(1000), 1);
  EXPECT_EQ(port.ReadChar(), 0x42);
  pty.CloseMaster();
  EXPECT_EQ(port.WaitReadable(1000), kCommHangUp);
  EXPECT_EQ(port.ReadChar(), kCommHangUp);
  EXPECT_TRUE(Logged("Error reading char on eCOM1: device hung up"));
  std::uint8_t buffer[4];
  EXPECT_EQ(port.ReadBufferTimed(buffer, 4, 100), kCommHangUp);
  EXPECT_EQ(port.Close(), 0);
}

TEST_F(SerialPortAccessTest, CloseFromAnotherThread_EndsAWaitAtOnce) {
  ASSERT_EQ(port.Open(0, 9600, 'N', 8, 1), 0);
  auto waiting = std::async(std::launch::async, [&] { return port.WaitReadable(-1); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let the wait begin
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port.Close(), 0);
  ASSERT_EQ(waiting.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(waiting.get(), kCommClosedWhileWaiting);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

// The reader thread and the main thread share one object: every byte crosses once, in order,
// and each logged call stays whole in the capture.
TEST_F(SerialPortAccessTest, ReaderAndWriterThreads_ShareThePortSafely) {
  OpenLogged();
  constexpr int kRounds = 200;
  Bytes received;  // the reader's until it is joined
  std::thread reader([&] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::uint8_t buffer[64];
    while (received.size() < kRounds * 4u && std::chrono::steady_clock::now() < deadline) {
      if (port.WaitReadable(50) != 1) continue;
      const int n = port.ReadBuffer(buffer, sizeof buffer);
      if (n > 0) received.insert(received.end(), buffer, buffer + n);
    }
  });
  Bytes expected;
  for (int i = 0; i < kRounds; ++i) {
    const Bytes chunk{0x10, static_cast<std::uint8_t>(i), 0x10, 0x03};
    expected.insert(expected.end(), chunk.begin(), chunk.end());
    EXPECT_TRUE(pty.Send(chunk));
    EXPECT_EQ(port.WriteBufferTimed(chunk.data(), 4, 1000), 4);
    port.LogText("round");
  }
  EXPECT_EQ(pty.Receive(expected.size(), 5000), expected);
  reader.join();
  EXPECT_EQ(received, expected);
  port.StopLog();
  const std::string content = Captured();
  std::size_t rounds = 0;
  for (auto at = content.find("  ! round\n"); at != std::string::npos;
       at = content.find("  ! round\n", at + 1))
    ++rounds;
  EXPECT_EQ(rounds, static_cast<std::size_t>(kRounds));
}

TEST_F(SerialPortAccessTest, Capture_StartTwiceIsHarmless_HeldFileFailsWithMinus7) {
  ASSERT_EQ(port.StartLog(capture), 0);
  EXPECT_EQ(port.StartLog(capture), 0);
  EXPECT_TRUE(port.IsLogging());
  port.LogText("hello");
  EXPECT_TRUE(Logged("hello"));

  SerialPortAccess other{map, &clock};
  EXPECT_EQ(other.StartLog(capture), kCommLogOpenFailed);  // the first capture holds the file
  EXPECT_FALSE(other.IsLogging());
  EXPECT_EQ(other.StartLog(dir / "missing-folder/x.txt"), kCommLogOpenFailed);
  port.StopLog();
  EXPECT_FALSE(port.IsLogging());
  EXPECT_EQ(other.StartLog(capture), 0);

  // An external capture is written to and closed, but stays its owner's.
  CDebugFile shared(&clock);
  SerialPortAccess third{map, &clock};
  third.SetExternalSink(&shared);
  ASSERT_EQ(third.StartLog(dir / "shared.txt"), 0);
  EXPECT_TRUE(shared.IsOpen());
  third.StopLog();
  EXPECT_FALSE(shared.IsOpen());
}

TEST(SerialPortMapTest, FindDevices_UsbThenAcmThenOnboard_InNumericOrder) {
  CTempDir dev;
  for (const char* name :
       {"ttyS1", "ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS0", "ttySX", "tty", "ttyUSB", "null"})
    std::ofstream(dev / name).put('x');
  const std::vector<std::string> expected = {dev / "ttyUSB2", dev / "ttyUSB10", dev / "ttyACM0",
                                             dev / "ttyS0", dev / "ttyS1"};
  EXPECT_EQ(CSerialPortMap::FindDevices(dev.Path().string()), expected);
  EXPECT_TRUE(CSerialPortMap::FindDevices(dev / "missing").empty());

  CSerialPortMap map;
  EXPECT_TRUE(map.SetPath(8, "/dev/ttyUSB0"));
  EXPECT_FALSE(map.SetPath(9, "/dev/ttyUSB0"));
  EXPECT_FALSE(map.SetPath(-1, "/dev/ttyUSB0"));
  EXPECT_EQ(map.Path(8), "/dev/ttyUSB0");
  EXPECT_EQ(map.Path(9), "");
  EXPECT_EQ(CSerialPortMap::SlotKey(0), "COM1");
  EXPECT_EQ(CSerialPortMap::SlotKey(8), "COM9");
  EXPECT_EQ(CSerialPortMap::SlotKey(9), "");
}

TEST(CommErrorTest, EveryCodeHasItsOwnName) {
  std::set<std::string> names;
  for (int code = 0; code >= kCommClosedWhileWaiting; --code) {
    const std::string name = CommErrorName(code);
    EXPECT_NE(name, "unknown error") << code;
    EXPECT_TRUE(names.insert(name).second) << code;
  }
  EXPECT_STREQ(CommErrorName(-99), "unknown error");
}

}  // namespace
