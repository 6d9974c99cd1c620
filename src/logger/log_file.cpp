#include "logger/log_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

CLogFile::~CLogFile() {
  Close();
}

bool CLogFile::Open(const std::string& newPath) {
  Close();
  lostLines = 0;
  lostBytes = 0;
  lastError = 0;
  const int f = ::open(newPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (f < 0) return false;
  if (::flock(f, LOCK_EX | LOCK_NB) != 0) {
    ::close(f);
    return false;
  }
  fd = f;
  path = newPath;
  return true;
}

void CLogFile::Close() {
  if (fd < 0) return;
  Flush();
  ::close(fd);  // releases the lock
  fd = -1;
  path.clear();
}

void CLogFile::SetWriteBuffer(std::size_t bytes) {
  Flush();
  bufferLimit = bytes;
  buffer.reserve(bytes);
}

void CLogFile::CountLost(const char* text, std::size_t length, std::uint64_t uncountedLines,
                         std::uint64_t uncountedBytes) {
  const auto lines = static_cast<std::uint64_t>(std::count(text, text + length, '\n'));
  lostLines += lines > uncountedLines ? lines - uncountedLines : 0;
  lostBytes += length > uncountedBytes ? length - uncountedBytes : 0;
}

bool CLogFile::Flush() {
  if (buffer.empty()) return true;
  const bool ok = WriteNow(buffer.data(), buffer.size());
  if (!ok) CountLost(buffer.data(), buffer.size(), bufferUncountedLines, bufferUncountedBytes);
  buffer.clear();
  bufferUncountedLines = 0;
  bufferUncountedBytes = 0;
  return ok;
}

bool CLogFile::Write(const char* text, std::size_t length, bool counted) {
  if (fd < 0) return false;
  const std::uint64_t uncounted =
      counted ? 0 : static_cast<std::uint64_t>(std::count(text, text + length, '\n'));
  const std::uint64_t uncountedBytes = counted ? 0 : length;
  bool ok = true;
  if (bufferLimit == 0 || length >= bufferLimit) {
    ok = Flush() && WriteNow(text, length);
  } else if (buffer.size() + length > bufferLimit && !Flush()) {
    ok = false;
  } else {
    buffer.append(text, length);
    bufferUncountedLines += uncounted;
    bufferUncountedBytes += uncountedBytes;
    return true;
  }
  if (!ok) CountLost(text, length, uncounted, uncountedBytes);
  return ok;
}

bool CLogFile::WriteNow(const char* text, std::size_t length) {
  if (fd < 0) return false;
  std::size_t written = 0;
  while (written < length) {
    const ssize_t n = ::write(fd, text + written, length - written);
    if (n > 0) {
      written += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    lastError = n < 0 ? errno : ENOSPC;
    // Part of the text made it: cut it away again, so the next line does not run on from half a
    // line. O_APPEND left the offset just after what was written.
    if (written > 0) {
      const off_t end = ::lseek(fd, 0, SEEK_CUR);
      if (end >= static_cast<off_t>(written)) (void)::ftruncate(fd, end - static_cast<off_t>(written));
    }
    return false;
  }
  return true;
}
