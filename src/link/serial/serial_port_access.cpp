#include "link/serial/serial_port_access.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

using SteadyClock = std::chrono::steady_clock;

// The untimed string read: take what is waiting, never wait.
constexpr int kNoWait = -1;

int ErrnoResult() {
  return CommErrorFromErrno(errno);
}

// An ioctl the device does not implement fails with ENOTTY or EINVAL: report that the device
// cannot do it rather than a bad argument from the caller.
int IoctlErrnoResult() {
  return errno == EINVAL ? kCommNotSupported : ErrnoResult();
}

speed_t SpeedOf(int baud) {
  static constexpr struct {
    int baud;
    speed_t speed;
  } kSpeeds[] = {{50, B50},           {75, B75},           {110, B110},         {134, B134},
                 {150, B150},         {200, B200},         {300, B300},         {600, B600},
                 {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
                 {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
                 {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
                 {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
                 {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
                 {3500000, B3500000}, {4000000, B4000000}};
  for (const auto& s : kSpeeds)
    if (s.baud == baud) return s.speed;
  return B0;
}

bool ParityFlags(char parity, tcflag_t& flags) {
  switch (parity) {
    case 'N':
      flags = 0;
      return true;
    case 'O':
      flags = PARENB | PARODD;
      return true;
    case 'E':
      flags = PARENB;
      return true;
#ifdef CMSPAR
    case 'M':
      flags = PARENB | PARODD | CMSPAR;
      return true;
    case 'S':
      flags = PARENB | CMSPAR;
      return true;
#endif
    default:
      return false;
  }
}

bool SizeFlags(int wordLength, tcflag_t& flags) {
  switch (wordLength) {
    case 5:
      flags = CS5;
      return true;
    case 6:
      flags = CS6;
      return true;
    case 7:
      flags = CS7;
      return true;
    case 8:
      flags = CS8;
      return true;
    default:
      return false;
  }
}

// Puts the device in raw mode with the given settings; 0 or a negative code. Call under the call lock.
int Configure(int fd, int baud, char parity, int wordLength, int stopBits, bool rtsCts, bool xonXoff) {
  const speed_t speed = SpeedOf(baud);
  tcflag_t parityFlags = 0, sizeFlags = 0;
  if (speed == B0 || !ParityFlags(parity, parityFlags) || !SizeFlags(wordLength, sizeFlags) ||
      (stopBits != 1 && stopBits != 2))
    return kCommBadParameter;
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return ErrnoResult();
  ::cfmakeraw(&t);
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
  t.c_cflag &= ~CMSPAR;
#endif
  t.c_cflag |=
      CLOCAL | CREAD | sizeFlags | parityFlags | (stopBits == 2 ? CSTOPB : 0) | (rtsCts ? CRTSCTS : 0);
  t.c_iflag &= ~(IXON | IXOFF | IXANY);
  if (xonXoff) t.c_iflag |= IXON | IXOFF;
  // One byte satisfies a read; with O_NONBLOCK an empty buffer then gives EAGAIN and a read of
  // 0 bytes can only mean the device hung up.
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0) return kCommBadParameter;
  if (::tcsetattr(fd, TCSANOW, &t) == 0) return kCommSuccess;
  if (errno != EINVAL) return ErrnoResult();
  // A pseudo-terminal always runs 8 data bits without parity and refuses a request whose only
  // change is to those. The bytes cross it intact either way, so when everything it can hold is
  // as asked, the settings count as applied, just as when it coerces them alongside a change.
  termios now{};
  if (::tcgetattr(fd, &now) != 0) return ErrnoResult();
  const tcflag_t honoured = CSTOPB | CRTSCTS | CLOCAL | CREAD;
  if (::cfgetospeed(&now) == speed && (now.c_cflag & honoured) == (t.c_cflag & honoured) &&
      (now.c_iflag & (IXON | IXOFF)) == (t.c_iflag & (IXON | IXOFF)))
    return kCommSuccess;
  return kCommNotSupported;
}

int RemainingMs(SteadyClock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

// The bytes a termination value stands for (see ReadString); false for a value out of range.
bool TerminationBytes(int termination, std::uint8_t bytes[2], int& count) {
  if (termination < 0) {
    count = 0;
  } else if (termination <= 0xFF) {
    bytes[0] = static_cast<std::uint8_t>(termination);
    count = 1;
  } else if (termination <= 0xFFFF) {
    bytes[0] = static_cast<std::uint8_t>(termination >> 8);
    bytes[1] = static_cast<std::uint8_t>(termination);
    count = 2;
  } else {
    return false;
  }
  return true;
}

}  // namespace

SerialPortAccess::SerialPortAccess() : SerialPortAccess(CSerialPortMap::Detected()) {}

SerialPortAccess::SerialPortAccess(const CSerialPortMap& map, const IClock* clock, CSerialCallLock* callLock)
    : portMap(map),
      clock(clock ? clock : &ownClock),
      ownCalls(callLock ? nullptr : std::make_unique<CSerialCallLock>()),
      calls(callLock ? callLock : ownCalls.get()) {}

SerialPortAccess::~SerialPortAccess() {
  Close();
  StopLog();
}

void SerialPortAccess::SetPortMap(const CSerialPortMap& map) {
  std::unique_lock guard(portGuard);
  portMap = map;
}

CSerialPortMap SerialPortAccess::PortMap() const {
  std::shared_lock guard(portGuard);
  return portMap;
}

// ---- open and close ----

int SerialPortAccess::Open(int port, int newBaud, char newParity, int newWordLength, int newStopBits) {
  std::unique_lock guard(portGuard);
  if (portFd >= 0) return kCommAlreadyOpen;
  const std::string& path = portMap.Path(port);
  int result = kCommSuccess;
  {
    std::lock_guard call(*calls);
    int fd = -1, wake = -1;
    if (path.empty()) {
      result = kCommNoSuchPort;
    } else if ((fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) < 0) {
      result = (errno == ENXIO) ? kCommNoSuchPort : ErrnoResult();
    } else if (!::isatty(fd)) {
      result = kCommNotATty;
    } else if ((result = Configure(fd, newBaud, newParity, newWordLength, newStopBits, false, false)) >= 0 &&
               (wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) < 0) {
      result = ErrnoResult();
    }
    if (result < 0) {
      if (fd >= 0) ::close(fd);
    } else {
      // Like a COM port, the device is ours alone while open (not enforced against root).
      ::ioctl(fd, TIOCEXCL);
      portFd = fd;
      wakeFd = wake;
      portNumber = port;
      baud = static_cast<std::uint32_t>(newBaud);
      parity = newParity;
      wordLength = static_cast<std::uint32_t>(newWordLength);
      stopBits = static_cast<std::uint32_t>(newStopBits);
      rts = dtr = 0;
      dtrDsrFlow = rtsCtsFlow = xonXoffFlow = 0;
      serial_icounter_struct counters{};
      if (::ioctl(fd, TIOCGICOUNT, &counters) == 0) {
        baseFrame = counters.frame;
        baseOverrun = counters.overrun;
        baseParity = counters.parity;
        baseBreak = counters.brk;
      } else {
        baseFrame = baseOverrun = baseParity = baseBreak = 0;
      }
    }
  }
  if (result >= 0)
    LogF("Opened port COM%d, %d, %c, %d, %d", port + 1, newBaud, newParity, newWordLength, newStopBits);
  else
    LogF("Error opening port COM%d: %s", port + 1, CommErrorName(result));
  return result;
}

int SerialPortAccess::Close() {
  {
    // End any wait in another thread first: it holds portGuard shared until it returns.
    std::shared_lock guard(portGuard);
    if (portFd < 0) return kCommSuccess;
    closing = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd, &one, sizeof one);
  }
  std::unique_lock guard(portGuard);
  if (portFd < 0) return kCommSuccess;  // another thread closed it meanwhile
  const int com = Com();
  {
    std::lock_guard call(*calls);
    // The exclusive mark belongs to the terminal, not to our descriptor: lift it, or the device
    // stays locked while anyone else still holds it open.
    ::ioctl(portFd, TIOCNXCL);
    ::close(portFd);
    ::close(wakeFd);
    portFd = wakeFd = -1;
    portNumber = -1;
    closing = false;
  }
  LogF("Closed port COM%d", com);
  return kCommSuccess;
}

// ---- settings ----

int SerialPortAccess::Reconfigure(int newBaud, char newParity, int newWordLength, int newStopBits,
                                  std::uint8_t newRtsCts, std::uint8_t newXonXoff) {
  const int result =
      Configure(portFd, newBaud, newParity, newWordLength, newStopBits, newRtsCts != 0, newXonXoff != 0);
  if (result >= 0) {
    baud = static_cast<std::uint32_t>(newBaud);
    parity = newParity;
    wordLength = static_cast<std::uint32_t>(newWordLength);
    stopBits = static_cast<std::uint32_t>(newStopBits);
    rtsCtsFlow = newRtsCts;
    xonXoffFlow = newXonXoff;
  }
  return result;
}

int SerialPortAccess::SetAll(int newBaud, char newParity, int newWordLength, int newStopBits) {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  int result;
  {
    std::lock_guard call(*calls);
    result = Reconfigure(newBaud, newParity, newWordLength, newStopBits, rtsCtsFlow, xonXoffFlow);
  }
  if (result >= 0)
    LogF("Port COM%d now set to %d, %c, %d, %d", Com(), newBaud, newParity, newWordLength, newStopBits);
  else
    LogF("Error setting COM%d to %d, %c, %d, %d: %s", Com(), newBaud, newParity, newWordLength, newStopBits,
         CommErrorName(result));
  return result;
}

int SerialPortAccess::SetBaudRate(int newBaud) {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  int result;
  {
    std::lock_guard call(*calls);
    result = Reconfigure(newBaud, parity, static_cast<int>(wordLength), static_cast<int>(stopBits),
                         rtsCtsFlow, xonXoffFlow);
  }
  if (result >= 0)
    LogF("Port COM%d baud rate now set to %d", Com(), newBaud);
  else
    LogF("Error setting COM%d baud rate to %d: %s", Com(), newBaud, CommErrorName(result));
  return result;
}

int SerialPortAccess::SetParity(char newParity) {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  int result;
  {
    std::lock_guard call(*calls);
    result = Reconfigure(static_cast<int>(baud), newParity, static_cast<int>(wordLength),
                         static_cast<int>(stopBits), rtsCtsFlow, xonXoffFlow);
  }
  if (result >= 0)
    LogF("Port COM%d parity now set to %c", Com(), newParity);
  else
    LogF("Error setting COM%d parity to %c: %s", Com(), newParity, CommErrorName(result));
  return result;
}

int SerialPortAccess::SetWordLength(int bits) {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  int result;
  {
    std::lock_guard call(*calls);
    result = Reconfigure(static_cast<int>(baud), parity, bits, static_cast<int>(stopBits), rtsCtsFlow,
                         xonXoffFlow);
  }
  if (result >= 0)
    LogF("Port COM%d word length now set to %d", Com(), bits);
  else
    LogF("Error setting COM%d word length to %d: %s", Com(), bits, CommErrorName(result));
  return result;
}

int SerialPortAccess::SetStopBits(int bits) {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  int result;
  {
    std::lock_guard call(*calls);
    result = Reconfigure(static_cast<int>(baud), parity, static_cast<int>(wordLength), bits, rtsCtsFlow,
                         xonXoffFlow);
  }
  if (result >= 0)
    LogF("Port COM%d stop bits now set to %d", Com(), bits);
  else
    LogF("Error setting COM%d stop bits to %d: %s", Com(), bits, CommErrorName(result));
  return result;
}

// ---- moving bytes ----

int SerialPortAccess::ReadSome(std::uint8_t* buffer, int count) {
  std::lock_guard call(*calls);
  for (;;) {
    const ssize_t n = ::read(portFd, buffer, static_cast<std::size_t>(count));
    if (n > 0) return static_cast<int>(n);
    if (n == 0) return kCommHangUp;  // VMIN is 1: only a hung-up terminal reads end of file
    if (errno == EINTR) continue;
    return ErrnoResult();  // EAGAIN -> kCommNoCharAvailable, EIO/ENXIO -> kCommHangUp
  }
}

int SerialPortAccess::WriteSome(const std::uint8_t* buffer, int count) {
  std::lock_guard call(*calls);
  for (;;) {
    const ssize_t n = ::write(portFd, buffer, static_cast<std::size_t>(count));
    if (n > 0) return static_cast<int>(n);
    if (n == 0 || errno == EAGAIN) return kCommTxBufferFull;
    if (errno == EINTR) continue;
    return ErrnoResult();
  }
}

int SerialPortAccess::WaitFor(short events, int ms) {
  pollfd fds[2] = {{portFd, events, 0}, {wakeFd, POLLIN, 0}};
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(std::max(ms, 0));
  for (;;) {
    const int n = ::poll(fds, 2, ms < 0 ? -1 : RemainingMs(deadline));
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoResult();
    }
    if (n == 0) return 0;
    if (fds[1].revents != 0) return kCommClosedWhileWaiting;
    if (fds[0].revents & (POLLHUP | POLLERR)) {
      // A hung-up terminal also reports POLLIN and POLLOUT; only bytes still waiting count as
      // readable (its FIONREAD fails once the line is gone).
      int waiting = 0;
      if ((events & POLLIN) != 0 && ::ioctl(portFd, FIONREAD, &waiting) == 0 && waiting > 0) return 1;
      return kCommHangUp;
    }
    if (fds[0].revents & events) return 1;
    return kCommIoError;  // POLLNVAL
  }
}

int SerialPortAccess::ReadTimed(std::uint8_t* buffer, int count, int ms) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(std::max(ms, 0));
  int total = 0;
  for (;;) {
    const int n = ReadSome(buffer + total, count - total);
    if (n > 0) total += n;
    if (total == count) return total;
    // A failure after some bytes came returns those bytes; the failure shows at the next call.
    if (n < 0 && n != kCommNoCharAvailable) return total > 0 ? total : n;
    const int left = RemainingMs(deadline);
    const int ready = left > 0 ? WaitFor(POLLIN, left) : 0;
    if (ready <= 0) return total > 0 ? total : (ready == 0 ? kCommTimeout : ready);
  }
}

int SerialPortAccess::WriteTimed(const std::uint8_t* buffer, int count, int ms) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(std::max(ms, 0));
  int total = 0;
  for (;;) {
    const int n = WriteSome(buffer + total, count - total);
    if (n > 0) total += n;
    if (total == count) return total;
    if (n < 0 && n != kCommTxBufferFull) return total > 0 ? total : n;
    const int left = RemainingMs(deadline);
    const int ready = left > 0 ? WaitFor(POLLOUT, left) : 0;
    if (ready <= 0) return total > 0 ? total : (ready == 0 ? kCommTimeout : ready);
  }
}

int SerialPortAccess::ReadChar() {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  std::uint8_t b = 0;
  const int result = ReadSome(&b, 1);
  if (result == 1) {
    LogReceived(&b, 1);
    return b;
  }
  if (result != kCommNoCharAvailable) LogF("Error reading char on eCOM%d: %s", Com(), CommErrorName(result));
  return result;
}

int SerialPortAccess::ReadCharTimed(int ms) {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  std::uint8_t b = 0;
  const int result = ReadTimed(&b, 1, ms);
  if (result == 1) {
    LogReceived(&b, 1);
    return b;
  }
  LogF("Error reading char (%d msec timeout) on COM%d: %s", ms, Com(), CommErrorName(result));
  return result;
}

int SerialPortAccess::ReadBuffer(std::uint8_t* buffer, int count) {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  int result = (!buffer || count < 0) ? kCommBadParameter : count == 0 ? 0 : ReadSome(buffer, count);
  if (result == kCommNoCharAvailable) return 0;
  if (result >= 0)
    LogReceived(buffer, result);
  else
    LogF("Error reading buffer (%d chars requested) on COM%d: %s", count, Com(), CommErrorName(result));
  return result;
}

int SerialPortAccess::ReadBufferTimed(std::uint8_t* buffer, int count, int ms) {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  const int result = (!buffer || count < 0) ? kCommBadParameter
                     : count == 0           ? 0
                                            : ReadTimed(buffer, count, ms);
  if (result >= 0)
    LogReceived(buffer, result);
  else
    LogF("Error reading buffer (%d chars requested, %d msec timeout) on COM%d: %s", count, ms, Com(),
         CommErrorName(result));
  return result;
}

int SerialPortAccess::ReadStringCore(char* buffer, int capacity, int termination, int ms, bool& terminated) {
  terminated = false;
  std::uint8_t term[2];
  int termLength = 0;
  if (!buffer || capacity < 1 || !TerminationBytes(termination, term, termLength)) return kCommBadParameter;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(std::max(ms, 0));
  auto* bytes = reinterpret_cast<std::uint8_t*>(buffer);
  int total = 0;
  // Byte by byte, so that nothing after the terminator is taken from the device.
  while (total < capacity - 1) {
    int n = ReadSome(bytes + total, 1);
    if (n == kCommNoCharAvailable && ms != kNoWait) {
      const int left = RemainingMs(deadline);
      const int ready = left > 0 ? WaitFor(POLLIN, left) : 0;
      if (ready > 0) continue;
      n = ready == 0 ? kCommTimeout : ready;
    }
    if (n < 0) {
      if (total > 0) break;
      return n;
    }
    ++total;
    if (termLength > 0 && total >= termLength &&
        std::memcmp(bytes + total - termLength, term, static_cast<std::size_t>(termLength)) == 0) {
      terminated = true;
      break;
    }
  }
  return total;
}

int SerialPortAccess::ReadString(char* buffer, int count, int termination) {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  bool terminated = false;
  const int result = ReadStringCore(buffer, count, termination, kNoWait, terminated);
  if (result == kCommNoCharAvailable) return result;
  if (result < 0) {
    LogF("Error reading string (nTerminationSequence == %d) on COM%d: %s", termination, Com(),
         CommErrorName(result));
    return result;
  }
  LogReceived(reinterpret_cast<const std::uint8_t*>(buffer), result);
  const int length = terminated ? result - (termination > 0xFF ? 2 : 1) : result;
  buffer[length] = '\0';
  if (!terminated)
    LogF("Received %d strings chars on COM%d, termination sequence not found (nTerminationSequence == %d)",
         length, Com(), termination);
  return length;
}

int SerialPortAccess::ReadStringTimed(char* buffer, int count, int termination, int ms) {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  bool terminated = false;
  const int result = ReadStringCore(buffer, count, termination, std::max(ms, 0), terminated);
  if (result < 0) {
    LogF("Error reading string (nTerminationSequence == %d, %d msec timeout) on COM%d: %s", termination, ms,
         Com(), CommErrorName(result));
    return result;
  }
  LogReceived(reinterpret_cast<const std::uint8_t*>(buffer), result);
  const int length = terminated ? result - (termination > 0xFF ? 2 : 1) : result;
  buffer[length] = '\0';
  if (!terminated)
    LogF(
        "Received %d strings chars on COM%d, termination sequence not found (nTerminationSequence == %d, %d "
        "msec "
        "timeout)",
        length, Com(), termination, ms);
  return length;
}

int SerialPortAccess::WriteChar(std::uint8_t b) {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  const int result = WriteSome(&b, 1);
  if (result == 1) {
    LogSent(&b, 1);
    return kCommSuccess;
  }
  LogF("Error writing char on COM%d: %s", Com(), CommErrorName(result));
  return result;
}

int SerialPortAccess::WriteCharTimed(std::uint8_t b, int ms) {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  const int result = WriteTimed(&b, 1, ms);
  if (result == 1) {
    LogSent(&b, 1);
    return kCommSuccess;
  }
  LogF("Error writing char (%d msec timeout) on COM%d: %s", ms, Com(), CommErrorName(result));
  return result;
}

int SerialPortAccess::WriteBuffer(const std::uint8_t* buffer, int count) {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  const int result = (!buffer || count < 0) ? kCommBadParameter : count == 0 ? 0 : WriteSome(buffer, count);
  if (result >= 0)
    LogSent(buffer, result);
  else
    LogF("Error writing buffer (%d chars) on COM%d: %s", count, Com(), CommErrorName(result));
  return result;
}

int SerialPortAccess::WriteBufferTimed(const std::uint8_t* buffer, int count, int ms) {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  const int result = (!buffer || count < 0) ? kCommBadParameter
                     : count == 0           ? 0
                                            : WriteTimed(buffer, count, ms);
  if (result >= 0)
    LogSent(buffer, result);
  else
    LogF("Error writing buffer (%d chars, %d msec timeout) on COM%d: %s", count, ms, Com(),
         CommErrorName(result));
  return result;
}

int SerialPortAccess::WriteString(const char* text, int termination) {
  return WriteStringCore(text, termination, kNoWait);
}

int SerialPortAccess::WriteStringTimed(const char* text, int termination, int ms) {
  return WriteStringCore(text, termination, std::max(ms, 0));
}

// Shared by both string writes; ms == kNoWait for the untimed one, which also picks its texts.
int SerialPortAccess::WriteStringCore(const char* text, int termination, int ms) {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  const int length = text ? static_cast<int>(std::strlen(text)) : 0;
  std::uint8_t term[2];
  int termLength = 0;
  int result;
  std::string bytes;
  if (!text || !TerminationBytes(termination, term, termLength)) {
    result = kCommBadParameter;
  } else {
    bytes.assign(text, static_cast<std::size_t>(length));
    bytes.append(reinterpret_cast<const char*>(term), static_cast<std::size_t>(termLength));
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const int size = static_cast<int>(bytes.size());
    result = size == 0 ? 0 : ms == kNoWait ? WriteSome(data, size) : WriteTimed(data, size, ms);
  }
  if (result >= 0) {
    LogSent(reinterpret_cast<const std::uint8_t*>(bytes.data()), result);
  } else if (ms == kNoWait) {
    LogF("Error writing string (strlen %d, nTerminationSequence == %d) on COM%d: %s", length, termination,
         Com(), CommErrorName(result));
  } else {
    LogF("Error writing string (strlen %d, nTerminationSequence == %d, %d msec timeout) on COM%d: %s", length,
         termination, ms, Com(), CommErrorName(result));
  }
  return result;
}

int SerialPortAccess::WaitReadable(int ms) {
  // A reader looping on this while Close waits for the port must not keep Close out.
  if (closing.load()) return kCommClosedWhileWaiting;
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  return WaitFor(POLLIN, ms);
}

// ---- break and line status ----

int SerialPortAccess::CallResult(int rc) {
  return rc < 0 ? IoctlErrnoResult() : kCommSuccess;
}

int SerialPortAccess::SendBreak(int ms) {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  int result;
  {
    std::lock_guard call(*calls);
    // glibc takes a positive duration as milliseconds (rounded up to tenths of a second).
    result = CallResult(::tcsendbreak(portFd, std::max(ms, 0)));
  }
  if (result >= 0)
    LogF("Break signal sent on port COM%d", Com());
  else
    LogF("Error error sending break (duration %d msec) on COM%d: %s", ms, Com(), CommErrorName(result));
  return result;
}

int SerialPortAccess::LineFlags(int& flags) {
  std::lock_guard call(*calls);
  serial_icounter_struct counters{};
  if (::ioctl(portFd, TIOCGICOUNT, &counters) != 0)
    return errno == ENOTTY ? kCommNotSupported : IoctlErrnoResult();
  flags = (counters.overrun != baseOverrun ? kLineOverrunError : 0) |
          (counters.parity != baseParity ? kLineParityError : 0) |
          (counters.frame != baseFrame ? kLineFramingError : 0) |
          (counters.brk != baseBreak ? kLineBreakDetected : 0);
  return kCommSuccess;
}

int SerialPortAccess::GetBreakDetect() {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  int flags = 0;
  const int status = LineFlags(flags);
  const int result = status < 0 ? status : (flags & kLineBreakDetected) ? 1 : 0;
  if (result == 1)
    LogF("Break signal received on port COM%d", Com());
  else if (result == 0)
    LogF("No break signal received on port COM%d", Com());
  else
    LogF("Error getting break detect on COM%d: %s", Com(), CommErrorName(result));
  return result;
}

int SerialPortAccess::ClearLineStatus() {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  int result;
  {
    std::lock_guard call(*calls);
    serial_icounter_struct counters{};
    result = CallResult(::ioctl(portFd, TIOCGICOUNT, &counters));
    if (result >= 0) {
      baseFrame = counters.frame;
      baseOverrun = counters.overrun;
      baseParity = counters.parity;
      baseBreak = counters.brk;
    }
  }
  if (result >= 0)
    LogF("Line status cleared on port COM%d", Com());
  else
    LogF("Error clearing line status on COM%d: %s", Com(), CommErrorName(result));
  return result;
}

int SerialPortAccess::GetLineStatus() {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  int flags = 0;
  const int status = LineFlags(flags);
  const int result = status < 0 ? status : flags;
  if (result >= 0)
    LogF(
        "Line status on port COM%d: OVERRUN_ERROR(%d), PARITY_ERROR(%d), FRAMING_ERROR(%d), "
        "BREAK_DETECTED(%d)",
        Com(), (flags & kLineOverrunError) ? 1 : 0, (flags & kLineParityError) ? 1 : 0,
        (flags & kLineFramingError) ? 1 : 0, (flags & kLineBreakDetected) ? 1 : 0);
  else
    LogF("Error getting line status on COM%d: %s", Com(), CommErrorName(result));
  return result;
}

int SerialPortAccess::GetFramingError() {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  int flags = 0;
  const int status = LineFlags(flags);
  const int result = status < 0 ? status : (flags & kLineFramingError) ? 1 : 0;
  if (result == 1)
    LogF("Framing error occurred on port COM%d", Com());
  else if (result == 0)
    LogF("No framing error occurred on port COM%d", Com());
  else
    LogF("Error getting framing error status on COM%d: %s", Com(), CommErrorName(result));
  return result;
}

int SerialPortAccess::GetOverrunError() {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  int flags = 0;
  const int status = LineFlags(flags);
  const int result = status < 0 ? status : (flags & kLineOverrunError) ? 1 : 0;
  if (result == 1)
    LogF("Overrun error occurred on port COM%d", Com());
  else if (result == 0)
    LogF("No overrun error occurred on port COM%d", Com());
  else
    LogF("Error getting overrun error status on COM%d: %s", Com(), CommErrorName(result));
  return result;
}

int SerialPortAccess::GetParityError() {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  int flags = 0;
  const int status = LineFlags(flags);
  const int result = status < 0 ? status : (flags & kLineParityError) ? 1 : 0;
  if (result == 1)
    LogF("Parity error occurred on port COM%d", Com());
  else if (result == 0)
    LogF("No parity error occurred on port COM%d", Com());
  else
    LogF("Error getting parity error status on COM%d: %s", Com(), CommErrorName(result));
  return result;
}

// ---- buffers ----

int SerialPortAccess::QueueCount(unsigned long request) {
  std::lock_guard call(*calls);
  int value = 0;
  if (::ioctl(portFd, request, &value) != 0) return IoctlErrnoResult();
  return std::max(value, 0);
}

int SerialPortAccess::ClearRXBuffer() {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  int result;
  {
    std::lock_guard call(*calls);
    result = CallResult(::tcflush(portFd, TCIFLUSH));
  }
  if (result >= 0)
    LogF("Receive buffer cleared on port COM%d", Com());
  else
    LogF("Error clearing RX buffer on COM%d: %s", Com(), CommErrorName(result));
  return result;
}

int SerialPortAccess::IsRXEmpty() {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  const int used = QueueCount(FIONREAD);
  const int result = used < 0 ? used : used == 0 ? 1 : 0;
  if (result == 1)
    LogF("Receive buffer empty on port COM%d", Com());
  else if (result == 0)
    LogF("Receive buffer not empty on port COM%d", Com());
  else
    LogF("Error while checking for empty RX buffer on COM%d: %s", Com(), CommErrorName(result));
  return result;
}

int SerialPortAccess::IsRXFull() {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  const int used = QueueCount(FIONREAD);
  const int result = used < 0 ? used : used >= kRxBufferSize ? 1 : 0;
  if (result == 1)
    LogF("Receive buffer full on port COM%d", Com());
  else if (result == 0)
    LogF("Receive buffer not full on port COM%d", Com());
  else
    LogF("Error while checking for full RX buffer on COM%d: %s", Com(), CommErrorName(result));
  return result;
}

int SerialPortAccess::RXSpaceFree() {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  const int used = QueueCount(FIONREAD);
  const int result = used < 0 ? used : std::max(kRxBufferSize - used, 0);
  if (result >= 0)
    LogF("Space for %d bytes in receive buffer on port COM%d", result, Com());
  else
    LogF("Error while checking space free in RX buffer on COM%d: %s", Com(), CommErrorName(result));
  return result;
}

int SerialPortAccess::RXSpaceUsed() {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  const int result = QueueCount(FIONREAD);
  if (result >= 0)
    LogF("Receive buffer contains %d bytes on port COM%d", result, Com());
  else
    LogF("Error while checking space used in RX buffer on COM%d: %s", Com(), CommErrorName(result));
  return result;
}

int SerialPortAccess::ClearTXBuffer() {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  int result;
  {
    std::lock_guard call(*calls);
    result = CallResult(::tcflush(portFd, TCOFLUSH));
  }
  if (result >= 0)
    LogF("Transmit buffer cleared on port COM%d", Com());
  else
    LogF("Error clearing TX buffer on COM%d: %s", Com(), CommErrorName(result));
  return result;
}

int SerialPortAccess::IsTXEmpty() {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  const int used = QueueCount(TIOCOUTQ);
  const int result = used < 0 ? used : used == 0 ? 1 : 0;
  if (result == 1) LogF("Transmit buffer empty on port COM%d", Com());
  return result;
}

int SerialPortAccess::IsTXFull() {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  const int used = QueueCount(TIOCOUTQ);
  const int result = used < 0 ? used : used >= kTxBufferSize ? 1 : 0;
  if (result == 1)
    LogF("Transmit buffer full on port COM%d", Com());
  else if (result == 0)
    LogF("Transmit buffer not full on port COM%d", Com());
  else
    LogF("Error while checking for full TX buffer on COM%d: %s", Com(), CommErrorName(result));
  return result;
}

int SerialPortAccess::TXSpaceFree() {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  const int used = QueueCount(TIOCOUTQ);
  const int result = used < 0 ? used : std::max(kTxBufferSize - used, 0);
  if (result >= 0)
    LogF("Space for %d bytes in transmit buffer on port COM%d", result, Com());
  else
    LogF("Error while checking space free in TX buffer on COM%d: %s", Com(), CommErrorName(result));
  return result;
}

int SerialPortAccess::TXSpaceUsed() {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  const int result = QueueCount(TIOCOUTQ);
  if (result >= 0)
    LogF("Transmit buffer contains %d bytes on port COM%d", result, Com());
  else
    LogF("Error while checking space used in TX buffer on COM%d: %s", Com(), CommErrorName(result));
  return result;
}

// ---- modem lines and flow control ----

int SerialPortAccess::SetRTS(int control) {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  int result;
  {
    std::lock_guard call(*calls);
    int bits = TIOCM_RTS;
    result = CallResult(::ioctl(portFd, control ? TIOCMBIS : TIOCMBIC, &bits));
    if (result >= 0) rts = control ? 1 : 0;
  }
  if (result >= 0)
    LogF("RTS line set to %d on port COM%d", control, Com());
  else
    LogF("Error while setting RTS line (nControl == %d) on COM%d: %s", control, Com(), CommErrorName(result));
  return result;
}

int SerialPortAccess::SetDTR(int control) {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  int result;
  {
    std::lock_guard call(*calls);
    int bits = TIOCM_DTR;
    result = CallResult(::ioctl(portFd, control ? TIOCMBIS : TIOCMBIC, &bits));
    if (result >= 0) dtr = control ? 1 : 0;
  }
  if (result >= 0)
    LogF("DTR line set to %d on port COM%d", control, Com());
  else
    LogF("Error while setting DTR line (nControl == %d) on COM%d: %s", control, Com(), CommErrorName(result));
  return result;
}

int SerialPortAccess::ModemFlags(int& flags) {
  std::lock_guard call(*calls);
  int lines = 0;
  if (::ioctl(portFd, TIOCMGET, &lines) != 0) return IoctlErrnoResult();
  flags = ((lines & TIOCM_CTS) ? kModemCtsSet : 0) | ((lines & TIOCM_DSR) ? kModemDsrSet : 0) |
          ((lines & TIOCM_RI) ? kModemRiSet : 0) | ((lines & TIOCM_CD) ? kModemCdSet : 0);
  return kCommSuccess;
}

int SerialPortAccess::GetModemStatus() {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  int flags = 0;
  const int status = ModemFlags(flags);
  const int result = status < 0 ? status : flags;
  if (result >= 0)
    LogF("Modem status on port COM%d: CD_SET(%d), DSR_SET(%d), CTS_SET(%d), RI_SET(%d)", Com(),
         (flags & kModemCdSet) ? 1 : 0, (flags & kModemDsrSet) ? 1 : 0, (flags & kModemCtsSet) ? 1 : 0,
         (flags & kModemRiSet) ? 1 : 0);
  else
    LogF("Error while getting modem status on COM%d: %s", Com(), CommErrorName(result));
  return result;
}

int SerialPortAccess::GetCd() {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  int flags = 0;
  const int status = ModemFlags(flags);
  const int result = status < 0 ? status : (flags & kModemCdSet) ? 1 : 0;
  if (result == 1)
    LogF("Carrier detect line asserted on port COM%d", Com());
  else if (result == 0)
    LogF("Carrier detect line not asserted on port COM%d", Com());
  else
    LogF("Error while getting carrier detect status on COM%d: %s", Com(), CommErrorName(result));
  return result;
}

int SerialPortAccess::GetCts() {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  int flags = 0;
  const int status = ModemFlags(flags);
  const int result = status < 0 ? status : (flags & kModemCtsSet) ? 1 : 0;
  if (result == 1)
    LogF("Clear to send line asserted on port COM%d", Com());
  else if (result == 0)
    LogF("Clear to send line not asserted on port COM%d", Com());
  else
    LogF("Error while getting clear to send status on COM%d: %s", Com(), CommErrorName(result));
  return result;
}

int SerialPortAccess::GetDsr() {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  int flags = 0;
  const int status = ModemFlags(flags);
  const int result = status < 0 ? status : (flags & kModemDsrSet) ? 1 : 0;
  if (result == 1)
    LogF("Data server ready line asserted on port COM%d", Com());
  else if (result == 0)
    LogF("Data server ready line not asserted on port COM%d", Com());
  else
    LogF("Error while getting data server ready status on COM%d: %s", Com(), CommErrorName(result));
  return result;
}

int SerialPortAccess::SetDtrDsrFlow(int control) {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  // termios has no DTR/DSR handshake; switching it off is all that can succeed.
  const int result = control ? kCommNotSupported : kCommSuccess;
  if (result >= 0) {
    std::lock_guard call(*calls);
    dtrDsrFlow = 0;
  }
  if (result >= 0)
    LogF("DTR/DSR flow control disabled on port COM%d", Com());
  else
    LogF("Error while changing DTR/DSR flow control setting (nControl == %d) on COM%d: %s", control, Com(),
         CommErrorName(result));
  return result;
}

int SerialPortAccess::SetRtsCtsFlow(int control) {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  int result;
  {
    std::lock_guard call(*calls);
    result = Reconfigure(static_cast<int>(baud), parity, static_cast<int>(wordLength),
                         static_cast<int>(stopBits), control ? 1 : 0, xonXoffFlow);
  }
  if (result >= 0)
    LogF(control ? "RTS/CTS flow control enabled on port COM%d"
                 : "RTS/CTS flow control disabled on port COM%d",
         Com());
  else
    LogF("Error while changing RTS/CTS flow control setting (nControl == %d) on COM%d: %s", control, Com(),
         CommErrorName(result));
  return result;
}

int SerialPortAccess::SetXonXoffFlow(int control) {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return kCommNotOpen;
  int result;
  {
    std::lock_guard call(*calls);
    result = Reconfigure(static_cast<int>(baud), parity, static_cast<int>(wordLength),
                         static_cast<int>(stopBits), rtsCtsFlow, control ? 1 : 0);
  }
  if (result >= 0)
    LogF(control ? "Xon/Xoff flow control enabled on port COM%d"
                 : "Xon/Xoff flow control disabled on port COM%d",
         Com());
  else
    LogF("Error while changing Xon/Xoff flow control setting (nControl == %d) on COM%d: %s", control, Com(),
         CommErrorName(result));
  return result;
}

// ---- stored settings ----

#define SERIAL_GETTER(name, expr)        \
  int SerialPortAccess::name() const {   \
    std::shared_lock guard(portGuard);   \
    if (portFd < 0) return kCommNotOpen; \
    std::lock_guard call(*calls);        \
    return static_cast<int>(expr);       \
  }
SERIAL_GETTER(GetPort, portNumber)
SERIAL_GETTER(GetBaudRate, baud)
SERIAL_GETTER(GetWordLength, wordLength)
SERIAL_GETTER(GetStopBits, stopBits)
SERIAL_GETTER(GetRTS, rts)
SERIAL_GETTER(GetDTR, dtr)
SERIAL_GETTER(GetDtrDsrFlow, dtrDsrFlow)
SERIAL_GETTER(GetRtsCtsFlow, rtsCtsFlow)
SERIAL_GETTER(GetXonXoffFlow, xonXoffFlow)
#undef SERIAL_GETTER

int SerialPortAccess::GetParity() const {
  std::shared_lock guard(portGuard);
  if (portFd < 0) return static_cast<std::uint8_t>(kCommNotOpen);  // the byte 250
  std::lock_guard call(*calls);
  return static_cast<unsigned char>(parity);
}

bool SerialPortAccess::IsOpen() const {
  std::shared_lock guard(portGuard);
  return portFd >= 0;
}

int SerialPortAccess::GetCommHandle() const {
  std::shared_lock guard(portGuard);
  return portFd;
}

// ---- capture ----

int SerialPortAccess::StartLog(const std::string& fileName) {
  std::lock_guard hold(logGuard);
  if (logging) return kCommSuccess;
  if (!externalSink) {
    ownSink = std::make_unique<CDebugFile>(clock);
    sink = ownSink.get();
  }
  if (!sink || !sink->Open(fileName)) {
    logging = 0;
    if (!externalSink) {
      ownSink.reset();
      sink = nullptr;
    }
    return kCommLogOpenFailed;
  }
  logging = 1;
  logFileName = fileName;
  char text[64];
  std::snprintf(text, sizeof text, "SerialPortDLL, v%d.%d build %d", 1, 1, 1);
  sink->LogMessage(text);
  return kCommSuccess;
}

void SerialPortAccess::StopLog() {
  std::lock_guard hold(logGuard);
  if (!logging) return;
  logging = 0;
  logFileName.clear();
  sink->Close();
  if (!externalSink) {
    ownSink.reset();
    sink = nullptr;
  }
}

bool SerialPortAccess::IsLogging() const {
  std::lock_guard hold(logGuard);
  return logging != 0;
}

std::string SerialPortAccess::LogFileName() const {
  std::lock_guard hold(logGuard);
  return logFileName;
}

void SerialPortAccess::LogText(const std::string& text) {
  std::lock_guard hold(logGuard);
  if (logging) sink->LogMessage(text);
}

void SerialPortAccess::SetExternalSink(CDebugFile* external) {
  std::lock_guard hold(logGuard);
  if (logging) return;
  ownSink.reset();
  sink = external;
  externalSink = external ? 1 : 0;
}

void SerialPortAccess::LogF(const char* format, ...) {
  std::lock_guard hold(logGuard);
  if (!logging) return;
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  sink->LogMessage(text);
}

void SerialPortAccess::LogSent(const std::uint8_t* bytes, int count) {
  if (count <= 0) return;
  std::lock_guard hold(logGuard);
  if (logging) sink->LogSentBuffer(bytes, static_cast<std::size_t>(count));
}

void SerialPortAccess::LogReceived(const std::uint8_t* bytes, int count) {
  if (count <= 0) return;
  std::lock_guard hold(logGuard);
  if (logging) sink->LogReceivedBuffer(bytes, static_cast<std::size_t>(count));
}
