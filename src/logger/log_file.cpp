#include "logger/log_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

CLogFile::~CLogFile() {
  Close();
}

bool CLogFile::Open(const std::string& newPath) {
  Close();
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

bool CLogFile::Flush() {
  if (buffer.empty()) return true;
  const bool ok = WriteNow(buffer.data(), buffer.size());
  buffer.clear();
  return ok;
}

bool CLogFile::Write(const char* text, std::size_t length) {
  if (fd < 0) return false;
  if (bufferLimit == 0) return WriteNow(text, length);
  if (buffer.size() + length > bufferLimit && !Flush()) return false;
  if (length >= bufferLimit) return WriteNow(text, length);
  buffer.append(text, length);
  return true;
}

bool CLogFile::WriteNow(const char* text, std::size_t length) {
  if (fd < 0) return false;
  while (length > 0) {
    const ssize_t n = ::write(fd, text, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}
