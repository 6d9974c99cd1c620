#include "pty_transport.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

struct SpeedEntry {
  int baud;
  speed_t speed;
};
constexpr SpeedEntry kSpeeds[] = {{50, B50},         {75, B75},         {110, B110},       {134, B134},
                                  {150, B150},       {200, B200},       {300, B300},       {600, B600},
                                  {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
                                  {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
                                  {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};

speed_t SpeedOf(int baud) {
  for (const auto& e : kSpeeds)
    if (e.baud == baud) return e.speed;
  return B9600;
}

int BaudOf(speed_t speed) {
  for (const auto& e : kSpeeds)
    if (e.speed == speed) return e.baud;
  return 0;
}

void ApplySettings(termios& t, const PortSettings& s) {
  cfsetispeed(&t, SpeedOf(s.baud));
  cfsetospeed(&t, SpeedOf(s.baud));
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
  t.c_cflag |= s.dataBits == 7 ? CS7 : CS8;
  if (s.parity == 'O') t.c_cflag |= PARENB | PARODD;
  if (s.parity == 'E') t.c_cflag |= PARENB;
  if (s.stopBits == 2) t.c_cflag |= CSTOPB;
}

}  // namespace

CPtyTransport::~CPtyTransport() {
  Close();
}

std::size_t CPtyTransport::Close(int drainMs) {
  int unread = 0;
  if (masterFd >= 0 && drainMs > 0) {
    // The program has read everything once the slave's input queue (which our own slave
    // descriptor shares) is empty. Bytes written to the master reach that queue later, from a
    // kernel worker that a busy machine can hold back; until then the count does not show them,
    // so the queue must stay empty for a while before it counts as read.
    // A machine loaded by parallel sanitizer builds was seen to hold that worker back for more
    // than 60 ms; a drop that never settles is counted as unread rather than traced as delivered.
    constexpr int kStepMs = 5;
    constexpr int kSettledMs = 200;
    int emptyFor = 0;
    for (int waited = 0; waited < drainMs; waited += kStepMs) {
      Flush();
      if (::ioctl(slaveFd, FIONREAD, &unread) != 0) unread = 0;
      emptyFor = outQueue.empty() && unread == 0 ? emptyFor + kStepMs : 0;
      if (emptyFor > kSettledMs) break;
      ::usleep(kStepMs * 1000);
    }
    if (emptyFor <= kSettledMs && unread <= 0 && outQueue.empty()) unread = 1;
  }
  if (!linkPath.empty()) {
    // Remove the link only while it is still ours: another simulator may have taken the name.
    char target[512];
    const ssize_t n = ::readlink(linkPath.c_str(), target, sizeof target - 1);
    if (n > 0 && slavePath == std::string(target, static_cast<std::size_t>(n))) ::unlink(linkPath.c_str());
  }
  if (slaveFd >= 0) ::close(slaveFd);
  if (masterFd >= 0) ::close(masterFd);
  slaveFd = masterFd = -1;
  linkPath.clear();
  slavePath.clear();
  const std::size_t lost = outQueue.size() + static_cast<std::size_t>(unread > 0 ? unread : 0);
  outQueue.clear();
  return lost;
}

bool CPtyTransport::Open(const std::string& path, const PortSettings& initial, std::string& error) {
  Close();
  char name[256] = {};
  if (::openpty(&masterFd, &slaveFd, name, nullptr, nullptr) != 0) {
    error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  slavePath = name;
  ::fcntl(masterFd, F_SETFD, FD_CLOEXEC);
  ::fcntl(slaveFd, F_SETFD, FD_CLOEXEC);
  termios t{};
  if (::tcgetattr(slaveFd, &t) != 0) {
    error = std::string("cannot read the slave's settings: ") + std::strerror(errno);
    return false;
  }
  ::cfmakeraw(&t);
  ApplySettings(t, initial);
  int packetMode = 1;
  if (::tcsetattr(slaveFd, TCSANOW, &t) != 0 || ::ioctl(masterFd, TIOCPKT, &packetMode) != 0 ||
      ::fcntl(masterFd, F_SETFL, ::fcntl(masterFd, F_GETFL) | O_NONBLOCK) != 0) {
    error = std::string("cannot set up the pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      error = path + " exists and is not a symbolic link";
      return false;
    }
    ::unlink(path.c_str());
  }
  if (::symlink(slavePath.c_str(), path.c_str()) != 0) {
    error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  linkPath = path;
  return true;
}

bool CPtyTransport::Read(const std::function<void(const std::uint8_t*, std::size_t)>& onData,
                         const std::function<void(std::uint8_t)>& onStatus) {
  for (;;) {
    const ssize_t n = ::read(masterFd, readBuffer, sizeof readBuffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    if (n == 0) return false;
    // Packet mode: a leading 0 (TIOCPKT_DATA) carries data, anything else is one status byte.
    if (readBuffer[0] == TIOCPKT_DATA) {
      if (n > 1) onData(readBuffer + 1, static_cast<std::size_t>(n - 1));
    } else {
      onStatus(readBuffer[0]);
    }
  }
}

PortSettings CPtyTransport::LineSettings() const {
  PortSettings s;
  termios t{};
  if (::tcgetattr(slaveFd, &t) != 0) return s;
  s.baud = BaudOf(cfgetospeed(&t));
  s.dataBits = (t.c_cflag & CSIZE) == CS7   ? 7
               : (t.c_cflag & CSIZE) == CS8 ? 8
               : (t.c_cflag & CSIZE) == CS6 ? 6
                                            : 5;
  // The pty driver clears PARENB and forces CS8 on every change but keeps PARODD: odd parity is
  // the one parity setting that survives.
  s.parity = (t.c_cflag & PARODD) ? 'O' : (t.c_cflag & PARENB) ? 'E' : 'N';
  s.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
  return s;
}

std::size_t CPtyTransport::Queue(const std::uint8_t* bytes, std::size_t count) {
  if (masterFd < 0) return 0;
  const std::size_t room = kMaxQueued - outQueue.size();
  const std::size_t taken = count < room ? count : room;
  outQueue.insert(outQueue.end(), bytes, bytes + taken);
  return count - taken;
}

bool CPtyTransport::Flush() {
  while (!outQueue.empty()) {
    const ssize_t n = ::write(masterFd, outQueue.data(), outQueue.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    outQueue.erase(outQueue.begin(), outQueue.begin() + n);
  }
  return true;
}

bool CPtyTransport::Hears(const PortSettings& line, const PortSettings& own) {
  return line.baud == own.baud && (line.parity == 'O') == (own.parity == 'O');
}
