// plowsim as the program meets it: a serial device behind a symbolic link, packets, buffer
// clears standing in for a break, port settings, and the trace file the link's tests read.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/protocol/kavo_ids.h"
#include "link/protocol/kavo_packet.h"
#include "link/protocol/kavo_parser.h"
#include "support/kavo_frame.h"
#include "support/temp_dir.h"

extern char** environ;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

std::string PlowsimPath() {
  const char* bin = std::getenv("PLOWVIEW_BIN");
  return std::string(bin && *bin ? bin : PLOWVIEW_BINARY_DIR "/bin") + "/plowsim";
}

const Bytes kDisplayRequest = PaddedKavoFrame(0x8E, {0x8C, 0x01});
const Bytes kTitleRequest = PaddedKavoFrame(0x8E, {0x8C, 0x04});
Bytes Key(std::uint8_t code) {
  return PaddedKavoFrame(0x8E, {0x8C, 0x00, code, 0, 0, 0, 0});
}

std::string RowText(const KavoPacket& p) {
  return std::string(reinterpret_cast<const char*>(p.data + 6), 16);
}
bool IsDisplayReport(const KavoPacket& p) {
  return p.id == kavo::kIdSuperReport && p.length >= 2 && p.data[0] == kavo::kSubPanel &&
         p.data[1] == kavo::kPanelDisplay;
}

// One plowsim process with its stdout on a pipe; killed at the end if still running.
class CPlowsim {
 public:
  CPlowsim(const CTempDir& dir, std::vector<std::string> extra)
      : link(dir / "ttyRCVR"), trace(dir / "trace.txt") {
    std::vector<std::string> args = {PlowsimPath(), "--pty", link, "--trace", trace};
    args.insert(args.end(), extra.begin(), extra.end());
    Spawn(args);
  }
  explicit CPlowsim(std::vector<std::string> args) { Spawn(args); }
  ~CPlowsim() {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    if (out >= 0) ::close(out);
  }

  // The first line on stdout, or "" when none came within `ms`.
  std::string FirstLine(int ms = 5000) {
    std::string line;
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
      pollfd p{out, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      char c;
      if (::read(out, &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return "";
  }
  // Sends `signal` and returns the exit status, or -1 when it did not end within 5 s.
  int Stop(int signal = SIGTERM) {
    ::kill(pid, signal);
    return Wait();
  }
  int Wait() {
    for (int i = 0; i < 500; ++i) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }
  std::vector<std::string> TraceLines() const {
    std::vector<std::string> lines;
    std::string text = ReadWholeFile(trace), line;
    for (char c : text) {
      if (c == '\n') {
        lines.push_back(line);
        line.clear();
      } else {
        line += c;
      }
    }
    return lines;
  }
  bool Traced(const std::string& line) const {
    for (const auto& l : TraceLines())
      if (l == line) return true;
    return false;
  }
  std::string StdoutRest() {
    std::string s;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(out, buffer, sizeof buffer)) > 0) s.append(buffer, static_cast<std::size_t>(n));
    return s;
  }

  std::string link, trace;

 private:
  void Spawn(const std::vector<std::string>& args) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ASSERT_EQ(::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0) << argv[0];
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    out = fds[0];
  }

  pid_t pid = -1;
  int out = -1;
};

// The program's end of the line: the slave opened raw through the link.
class CPort {
 public:
  explicit CPort(const std::string& path) : fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    termios t{};
    if (fd >= 0 && ::tcgetattr(fd, &t) == 0) {
      ::cfmakeraw(&t);
      ::tcsetattr(fd, TCSANOW, &t);
    }
  }
  ~CPort() {
    if (fd >= 0) ::close(fd);
  }
  bool Ok() const { return fd >= 0; }

  void Set(speed_t speed, bool odd) {
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfsetspeed(&t, speed);
    t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD);
    if (odd) t.c_cflag |= PARENB | PARODD;
    ::tcsetattr(fd, TCSANOW, &t);
  }
  // What the program does before its break: clear the receive, then the transmit buffer.
  void ClearBuffers() {
    ::tcflush(fd, TCIFLUSH);
    ::tcflush(fd, TCOFLUSH);
  }
  void Send(const Bytes& bytes) { ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
  void Send(const std::string& text) { Send(Bytes(text.begin(), text.end())); }

  // Reads until `done` says so or `ms` pass; every byte also goes through the parser.
  Bytes ReadUntil(int ms, const std::function<bool(const Bytes&)>& done) {
    Bytes got;
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!done(got)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
      if (left <= 0) break;
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      std::uint8_t buffer[512];
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      for (ssize_t i = 0; i < n; ++i) {
        got.push_back(buffer[i]);
        parser.FeedByte(buffer[i]);
      }
    }
    return got;
  }
  // The next packet that passes `want`, skipping others, within `ms`.
  std::optional<KavoPacket> Expect(int ms, const std::function<bool(const KavoPacket&)>& want) {
    std::optional<KavoPacket> found;
    ReadUntil(ms, [&](const Bytes&) {
      KavoPacket p;
      while (!found && parser.TryPopPacket(p))
        if (want(p)) found = p;
      return found.has_value();
    });
    return found;
  }
  // Text up to and including `terminator`, within `ms`.
  std::string Text(int ms, char terminator) {
    const Bytes got = ReadUntil(ms, [&](const Bytes& b) { return !b.empty() && b.back() == terminator; });
    return std::string(got.begin(), got.end());
  }

 private:
  int fd;
  CKavoParser parser{nullptr};
};

std::optional<KavoPacket> ExpectRow(CPort& port, int row, const std::string& text, int ms = 2000) {
  return port.Expect(
      ms, [&](const KavoPacket& p) { return IsDisplayReport(p) && p.data[5] == row && RowText(p) == text; });
}

TEST(PlowsimItest, DisplayRequest_TwoReportsThenKeyChangesScreen) {
  CTempDir dir;
  CPlowsim sim(dir, {"--start-time", "2026-12-09T12:34:56Z"});
  ASSERT_EQ(sim.FirstLine(), sim.link);
  CPort port(sim.link);
  ASSERT_TRUE(port.Ok());

  port.Send(kDisplayRequest);
  std::vector<KavoPacket> reports;
  port.Expect(2000, [&](const KavoPacket& p) {
    if (IsDisplayReport(p)) reports.push_back(p);
    return reports.size() == 2;
  });
  ASSERT_EQ(reports.size(), 2u);
  for (int row = 0; row < 2; ++row) {
    EXPECT_EQ(reports[row].length, 31);
    EXPECT_EQ(reports[row].checksumOk, 1);
    EXPECT_EQ(reports[row].data[5], row);
  }
  EXPECT_EQ(RowText(reports[0]), "Brisk Mote   RTK");
  EXPECT_EQ(RowText(reports[1]).substr(0, 8), "09-Dec  ");

  port.Send(Key(2));
  EXPECT_TRUE(ExpectRow(port, 0, "Lat  52 31.1234N"));
  EXPECT_TRUE(ExpectRow(port, 1, "Lon 013 24.5678E"));

  // The status screen's clock keeps pushing row 1 once a second.
  port.Send(Key(4));
  EXPECT_TRUE(ExpectRow(port, 0, "Brisk Mote   RTK"));
  const auto first =
      port.Expect(1500, [](const KavoPacket& p) { return IsDisplayReport(p) && p.data[5] == 1; });
  const auto second =
      port.Expect(1500, [](const KavoPacket& p) { return IsDisplayReport(p) && p.data[5] == 1; });
  ASSERT_TRUE(first && second);
  EXPECT_NE(RowText(*first), RowText(*second));

  EXPECT_EQ(sim.Stop(SIGINT), 0);
  EXPECT_TRUE(sim.Traced("RX 8E 8C 01 00 8D"));
  EXPECT_TRUE(sim.Traced("RX 8E 8C 00 02 00 00 00 00 00 8E"));
  EXPECT_TRUE(sim.Traced("SCREEN POSITION"));
  EXPECT_TRUE(sim.Traced(
      "TX 8F 8C 01 00 00 00 00 42 72 69 73 6B 20 4D 6F 74 65 20 20 20 52 54 4B 00 00 00 00 00 00 00 05 8E"));
  const auto lines = sim.TraceLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front().rfind("START /dev/pts/", 0), 0u) << lines.front();
  EXPECT_EQ(lines.back(), "STOP");
}

TEST(PlowsimItest, AutoConfiguration_ReportSwitchAndRestoreOverTheLine) {
  CTempDir dir;
  CPlowsim sim(dir, {"--baud", "19200", "--parity", "E"});
  ASSERT_EQ(sim.FirstLine(), sim.link);
  CPort port(sim.link);
  ASSERT_TRUE(port.Ok());

  port.Set(B9600, false);
  port.ClearBuffers();
  EXPECT_EQ(
      port.Text(2000, '\x03'),
      "DUCT,Brisk Mote,PORT(1),19200,19200,8,1,E,N,FW,4.02,HW,2.10,4415A01234,PROTOCOLS,KAVO(Y),KAVO(N)\x03");

  // The program clears its buffers again before the request: no second report follows.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  port.ClearBuffers();
  port.Send(std::string("FAST LINK SWITCH REQUEST\r\n") + std::string(4, '\0'));
  EXPECT_EQ(port.Text(2000, '\n'), "HIGH SPEED KAVO IS 38400 00\r\n");

  port.Set(B38400, true);
  port.Send(kTitleRequest);
  const auto title = port.Expect(2000, [](const KavoPacket& p) {
    return p.id == kavo::kIdSuperReport && p.data[1] == kavo::kPanelTitle;
  });
  ASSERT_TRUE(title);
  EXPECT_STREQ(reinterpret_cast<const char*>(title->data + 3), "Brisk Mote 4415A01234");

  // The restore packet puts the receiver back to 19200 even: at 38400 odd it no longer hears us.
  port.Send(PaddedKavoFrame(0xBC, {0xFF, 8, 8, 3, 2, 0, 0, 2, 2, 0}, false));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  port.Send(kTitleRequest);
  EXPECT_FALSE(port.Expect(800, [](const KavoPacket&) { return true; }));

  EXPECT_EQ(sim.Stop(), 0);
  const std::vector<std::string> expected = {
      "LINE 9600 8N1",
      "BREAK",
      "PORT 9600 8N1",
      "TX-TEXT \"DUCT,Brisk Mote,PORT(1),19200,19200,8,1,E,N,FW,4.02,HW,2.10,4415A01234,PROTOCOLS,KAVO(Y),"
      "KAVO(N)\\x03\"",
      "RX-TEXT \"FAST LINK SWITCH REQUEST\\r\\n\"",
      "TX-TEXT \"HIGH SPEED KAVO IS 38400 00\\r\\n\"",
      "PORT 38400 8O1",
      "LINE 38400 8O1",
      "RX 8E 8C 04 00 90",
      "RX BC FF 08 08 03 02 00 00 02 02 00",
      "PORT-CONFIG 19200 19200 8E1 02 02",
      "PORT 19200 8E1",
      "GARBLED RX 10",
  };
  // In this order, with other lines between.
  const auto lines = sim.TraceLines();
  std::size_t at = 0;
  for (const auto& line : lines)
    if (at < expected.size() && line == expected[at]) ++at;
  EXPECT_EQ(at, expected.size()) << "missing or out of order: " << (at < expected.size() ? expected[at] : "");
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "BREAK"), 1);
}

TEST(PlowsimItest, LineSettings_HeardOnlyAtTheReceiversSpeedAndOddParity) {
  CTempDir dir;
  CPlowsim sim(dir, {"--baud", "19200", "--parity", "O"});
  ASSERT_EQ(sim.FirstLine(), sim.link);
  CPort port(sim.link);
  struct Case {
    speed_t speed;
    bool odd;
    bool heard;
  };
  for (const Case& c : {Case{B9600, true, false}, Case{B19200, false, false}, Case{B19200, true, true}}) {
    port.Set(c.speed, c.odd);
    port.Send(kTitleRequest);
    const auto answer =
        port.Expect(c.heard ? 2000 : 600, [](const KavoPacket& p) { return p.id == kavo::kIdSuperReport; });
    EXPECT_EQ(answer.has_value(), c.heard) << "speed " << c.speed << (c.odd ? " odd" : " none");
  }
  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_TRUE(sim.Traced("LINE 9600 8O1"));
  EXPECT_TRUE(sim.Traced("LINE 19200 8N1"));
  const auto lines = sim.TraceLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "GARBLED RX 10"), 2);
}

TEST(PlowsimItest, NoAutoConfig_BreakIgnored) {
  CTempDir dir;
  CPlowsim sim(dir, {"--no-auto-config"});
  ASSERT_EQ(sim.FirstLine(), sim.link);
  CPort port(sim.link);
  port.ClearBuffers();
  EXPECT_EQ(port.Text(1000, '\x03'), "");
  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_TRUE(sim.Traced("BREAK IGNORED"));
}

TEST(PlowsimItest, Faults_FatalReportThenSilence) {
  CTempDir dir;
  CPlowsim sim(dir, {"--fatal-after", "0.2", "Out of memory", "--silent-after", "0.6"});
  ASSERT_EQ(sim.FirstLine(), sim.link);
  CPort port(sim.link);
  const auto fatal = port.Expect(2000, [](const KavoPacket& p) { return p.id == kavo::kIdSuperReport; });
  ASSERT_TRUE(fatal);
  EXPECT_EQ(fatal->checksumOk, 1);
  EXPECT_EQ(fatal->data[0], 0x93);
  EXPECT_EQ(fatal->data[1], 0x12);
  EXPECT_STREQ(reinterpret_cast<const char*>(fatal->data + 2), "Out of memory");
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  port.Send(kTitleRequest);
  EXPECT_FALSE(port.Expect(800, [](const KavoPacket&) { return true; }));
  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_TRUE(sim.Traced("SILENT"));
  EXPECT_TRUE(sim.Traced("RX 8E 8C 04 00 90"));
}

TEST(PlowsimItest, GarbageEveryFrame_NoiseBetweenFramesPacketsStillWhole) {
  CTempDir dir;
  CPlowsim sim(dir, {"--garbage-every", "1"});
  ASSERT_EQ(sim.FirstLine(), sim.link);
  CPort port(sim.link);
  port.Send(kTitleRequest);
  const Bytes got = port.ReadUntil(
      2000, [](const Bytes& b) { return b.size() >= 2 && b[b.size() - 2] == 0x10 && b.back() == 0x03; });
  ASSERT_FALSE(got.empty());
  EXPECT_NE(got.front(), 0x10) << "noise comes before the frame";
  EXPECT_EQ(sim.Stop(), 0);
  bool noise = false;
  for (const auto& l : sim.TraceLines()) noise = noise || l.rfind("NOISE ", 0) == 0;
  EXPECT_TRUE(noise);
}

TEST(PlowsimItest, Link_StaleOneReplacedRemovedOnExitFileRefused) {
  CTempDir dir;
  const std::string link = dir / "ttyRCVR";
  ASSERT_EQ(::symlink("/nonexistent/pts/99", link.c_str()), 0);
  {
    CPlowsim sim(dir, {});
    ASSERT_EQ(sim.FirstLine(), link);
    char target[256] = {};
    ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target).rfind("/dev/pts/", 0), 0u);
    EXPECT_EQ(sim.Stop(), 0);
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0) << "the link is removed at exit";
  }
  {
    std::fclose(std::fopen(link.c_str(), "w"));
    CPlowsim sim(dir, {});
    EXPECT_EQ(sim.Wait(), 1) << "a file that is not a link is left alone";
    struct stat st {};
    EXPECT_TRUE(::lstat(link.c_str(), &st) == 0 && S_ISREG(st.st_mode));
  }
}

TEST(PlowsimItest, CommandLine_HelpAndBadArguments) {
  {
    CPlowsim sim({PlowsimPath(), "--help"});
    EXPECT_EQ(sim.Wait(), 0);
    const std::string help = sim.StdoutRest();
    for (const char* option :
         {"--pty PATH", "--trace FILE", "--baud N", "--parity P", "--no-auto-config", "--start-time",
          "--time-scale", "--silent-after", "--fatal-after", "--garbage-every"})
      EXPECT_NE(help.find(option), std::string::npos) << option;
  }
  for (auto args :
       {std::vector<std::string>{PlowsimPath()}, {PlowsimPath(), "--pty", "x", "--baud", "1234"}}) {
    CPlowsim sim(args);
    EXPECT_EQ(sim.Wait(), 2);
  }
}

}  // namespace
