#include "logger/raw_packet_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace {

// Writes all of `count` bytes, going on after short writes and signals; false on a real error.
bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, bytes, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

CRawPacketLog::CRawPacketLog(IPrompts& p) : prompts(p) {}

CRawPacketLog::~CRawPacketLog() {
  Close();
}

bool CRawPacketLog::Open(const std::string& path) {
  Close();
  opened = true;
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
  if (!WriteAll(fd, packet.raw, length)) {
    // A full disk or a vanished folder: stop here rather than leave torn frames behind.
    Close();
  }
}
