#include "link/serial/debug_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

namespace {

constexpr char kStartSeparator[] = "\n-------------------------------------------------------------------\n";
constexpr char kStopSeparator[] = "\n-------------------------------------------------------------------\n\n";
constexpr std::uint32_t kBytesPerLine = 16;

}  // namespace

CDebugFile::CDebugFile(const IClock* clock)
    : clock(clock ? clock : &ownClock), wallClock([] { return std::time(nullptr); }) {}

CDebugFile::~CDebugFile() {
  Close();
}

bool CDebugFile::Open(const std::string& fileName) {
  std::lock_guard<std::mutex> hold(lock);
  if (fd >= 0) return false;
  const int f = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (f < 0) return false;
  // Other writers denied: a second capture of the same file (this process or another) fails.
  if (::flock(f, LOCK_EX | LOCK_NB) != 0) {
    ::close(f);
    return false;
  }
  fd = f;
  // A run left open by an earlier session must not continue under the new start line without
  // a time stamp and direction letter.
  direction = kNone;
  bytesOnLine = 0;
  pending.clear();
  pending += kStartSeparator;
  pending += LocalTimeText("Debugging started on %x at %I:%M:%S%p\n");
  WriteOut();
  return true;
}

void CDebugFile::Close() {
  std::lock_guard<std::mutex> hold(lock);
  if (fd < 0) return;
  pending.clear();
  pending += LocalTimeText("\n\nDebugging stopped on %x at %I:%M:%S%p");
  pending += kStopSeparator;
  WriteOut();
  ::close(fd);  // releases the flock too
  fd = -1;
}

bool CDebugFile::IsOpen() const {
  std::lock_guard<std::mutex> hold(lock);
  return fd >= 0;
}

void CDebugFile::LogSentBuffer(const std::uint8_t* bytes, std::size_t count) {
  LogBytes(kSending, bytes, count);
}
void CDebugFile::LogSentByte(std::uint8_t b) {
  LogBytes(kSending, &b, 1);
}
void CDebugFile::LogReceivedBuffer(const std::uint8_t* bytes, std::size_t count) {
  LogBytes(kReceiving, bytes, count);
}
void CDebugFile::LogReceivedByte(std::uint8_t b) {
  LogBytes(kReceiving, &b, 1);
}

void CDebugFile::LogMessage(const std::string& text) {
  std::lock_guard<std::mutex> hold(lock);
  if (fd < 0) return;
  pending.clear();
  AppendStamped("\n%- 10.6f ! ", Stamp(), text.c_str());
  WriteOut();
  bytesOnLine = kBytesPerLine;
  direction = kNone;
}

void CDebugFile::SetWallClock(std::function<std::time_t()> now) {
  std::lock_guard<std::mutex> hold(lock);
  wallClock = std::move(now);
}

void CDebugFile::LogBytes(Direction d, const std::uint8_t* bytes, std::size_t count) {
  if (!bytes || count == 0) return;
  std::lock_guard<std::mutex> hold(lock);
  if (fd < 0) return;
  pending.clear();
  const double stamp = Stamp();
  for (std::size_t i = 0; i < count; ++i) AppendByte(d, bytes[i], stamp);
  WriteOut();
}

void CDebugFile::AppendByte(Direction d, std::uint8_t b, double stamp) {
  char text[48];
  int n;
  if (direction != d) {
    direction = d;
    n = std::snprintf(text, sizeof text, d == kSending ? "\n%- 10.6f T %2.2X " : "\n%- 10.6f R %2.2X ", stamp,
                      static_cast<unsigned>(b));
    bytesOnLine = 1;
  } else if (bytesOnLine >= kBytesPerLine) {
    n = std::snprintf(text, sizeof text, "\n%- 10.6f   %2.2X ", stamp, static_cast<unsigned>(b));
    bytesOnLine = 1;
  } else {
    n = std::snprintf(text, sizeof text, "%2.2X ", static_cast<unsigned>(b));
    ++bytesOnLine;
  }
  if (n > 0) pending.append(text, static_cast<std::size_t>(n) < sizeof text ? n : sizeof text - 1);
}

void CDebugFile::AppendStamped(const char* format, double stamp, const char* text) {
  char head[48];
  const int n = std::snprintf(head, sizeof head, format, stamp);
  if (n > 0) pending.append(head, static_cast<std::size_t>(n) < sizeof head ? n : sizeof head - 1);
  pending += text;
}

// The true local time. No hour is added for daylight saving: localtime_r already applies it.
std::string CDebugFile::LocalTimeText(const char* format) const {
  const std::time_t now = wallClock ? wallClock() : std::time(nullptr);
  std::tm local{};
  if (!::localtime_r(&now, &local)) return format;
  char text[160];
  const std::size_t n = std::strftime(text, sizeof text, format, &local);
  return std::string(text, n);
}

double CDebugFile::Stamp() const {
  return static_cast<double>(clock->NowMs()) / 1000.0;
}

void CDebugFile::WriteOut() {
  const char* p = pending.data();
  std::size_t left = pending.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // disk full or similar: the capture is best effort, the port goes on
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  pending.clear();
}
