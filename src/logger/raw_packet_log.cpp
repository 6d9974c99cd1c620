#include "logger/raw_packet_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Appends all of `count` bytes, going on after short writes and signals. On a real error the
// part already written is cut away again and the errno is returned; 0 on success.
int AppendWhole(int fd, const std::uint8_t* bytes, std::size_t count) {
  std::size_t written = 0;
  while (written < count) {
    const ssize_t n = ::write(fd, bytes + written, count - written);
    if (n > 0) {
      written += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    const int error = n < 0 ? errno : ENOSPC;
    if (written > 0) {
      // O_APPEND left the offset just after the part written.
      const off_t end = ::lseek(fd, 0, SEEK_CUR);
      if (end >= static_cast<off_t>(written)) (void)::ftruncate(fd, end - static_cast<off_t>(written));
    }
    return error;
  }
  return 0;
}

}  // namespace

CRawPacketLog::CRawPacketLog(IPrompts& p) : prompts(p) {}

CRawPacketLog::~CRawPacketLog() {
  Close();
}

bool CRawPacketLog::Open(const std::string& newPath) {
  Close();
  opened = true;
  path = newPath;
  lostBytes = 0;
  failureTold = false;
  // O_APPEND: a restarted hour continues its file, and every frame lands whole at the end.
  fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    char text[600];
    std::snprintf(text, sizeof text, "Failed to open KAVO logging file '%.500s'\n", path.c_str());
    prompts.MessageBox(text, "Plowview", PromptIcon::Exclamation, PromptButtons::Ok);
    return false;
  }
  return true;
}

void CRawPacketLog::Close() {
  opened = false;
  if (fd >= 0) ::close(fd);
  fd = -1;
}

void CRawPacketLog::Write(const KavoPacket& packet) {
  if (fd < 0) return;
  const std::size_t length = std::min<std::size_t>(packet.rawLength, kKavoMaxRaw);
  if (length == 0) return;
  const int error = AppendWhole(fd, packet.raw, length);
  if (error == 0) return;
  lostBytes += length;
  if (failureTold) return;
  failureTold = true;
  prompts.Notify("cannot write " + path + ": " + std::strerror(error));
}
