#include "file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "link/protocol/kavo_ids.h"
#include "link/protocol/kavo_packet.h"

namespace {

// A NUL-terminated text from `from`, never past `end`.
std::string Text(const KavoPacket& packet, std::size_t from, std::size_t end) {
  std::string text;
  for (std::size_t i = from; i < end && packet.data[i] != 0; ++i) text += static_cast<char>(packet.data[i]);
  return text;
}

KavoPacket Reply(std::initializer_list<std::uint8_t> head) {
  KavoPacket p;
  p.id = kavo::kIdSuperReport;
  for (std::uint8_t b : head) p.data[p.length++] = b;
  return p;
}

// Appends `text` and its NUL, cut so the reply keeps room for the checksum trailer.
void AppendText(KavoPacket& p, const std::string& text) {
  const std::size_t room = kKavoMaxData - 3 - p.length;
  const std::size_t n = std::min(text.size(), room);
  std::memcpy(p.data + p.length, text.data(), n);
  p.length = static_cast<std::uint16_t>(p.length + n);
  p.data[p.length++] = 0;
}

bool IEqualsPrefix(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

}  // namespace

CSimFileSystem::CSimFileSystem(std::string dir, int every, SendFn sendFn, TraceFn traceFn)
    : directory(std::move(dir)), dropEvery(every), send(std::move(sendFn)), trace(std::move(traceFn)) {}

CSimFileSystem::~CSimFileSystem() {
  for (auto& [handle, fd] : open) ::close(fd);
}

bool CSimFileSystem::Handle(const KavoPacket& packet) {
  if (packet.id != kavo::kIdSuperRequest || packet.length < 3 || packet.data[0] != kavo::kSubSystem ||
      packet.data[1] != kavo::kSystemFileTransfer)
    return false;
  if (!packet.checksumOk) {
    trace("DROPPED 8E 93 15 bad checksum");
    return true;
  }
  const std::size_t end = packet.length - 2u;  // the checksum trailer is not a field
  if (end < 3) return true;
  switch (packet.data[2]) {
    case 0x00:
      List(packet, end);
      break;
    case 0x01:
      if (end < 4) break;
      if (packet.data[3] == 0x01) Open(packet, end);
      if (packet.data[3] == 0x02) Read(packet, end);
      if (packet.data[3] == 0x03) Close(packet, end);
      break;
    case 0x03:
      Delete(packet, end);
      break;
    default:
      break;
  }
  return true;
}

std::string CSimFileSystem::LocalPath(const std::string& remote) const {
  if (!IEqualsPrefix(remote, kFolder)) return {};
  const std::string name = remote.substr(std::strlen(kFolder));
  if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\:") != std::string::npos)
    return {};
  return directory + "/" + name;
}

void CSimFileSystem::List(const KavoPacket& packet, std::size_t end) {
  if (!IEqualsPrefix(Text(packet, 3, end), kFolder)) return;
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(directory, ec))
    if (entry.is_regular_file(ec)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  if (names.size() > kMaxEntries) names.resize(kMaxEntries);
  for (std::size_t i = 0; i < names.size(); ++i) {
    KavoPacket reply =
        Reply({kavo::kSubSystem, kavo::kSystemFileTransfer, 0x00, static_cast<std::uint8_t>(i), 0x00});
    AppendText(reply, names[i]);
    send(reply);
  }
}

void CSimFileSystem::Open(const KavoPacket& packet, std::size_t end) {
  const std::string remote = Text(packet, 4, end);
  const std::string local = LocalPath(remote);
  std::uint32_t handle = 0;
  std::uint32_t size = 0;
  const int fd = local.empty() ? -1 : ::open(local.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  struct stat st {};
  if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    // A resent open (its answer lost) opens again; the oldest handles are let go.
    while (open.size() >= kMaxOpen) {
      ::close(open.begin()->second);
      open.erase(open.begin());
    }
    handle = nextHandle++;
    if (nextHandle == 0) nextHandle = 1;
    size = static_cast<std::uint32_t>(std::min<off_t>(st.st_size, 0xFFFFFFFF));
    open[handle] = fd;
  } else if (fd >= 0) {
    ::close(fd);
  }
  KavoPacket reply = Reply({kavo::kSubSystem, kavo::kSystemFileTransfer, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0});
  PutBe32(reply.data + 4, handle);
  PutBe32(reply.data + 8, size);
  AppendText(reply, remote);
  SendTransferReply(reply);
}

void CSimFileSystem::Read(const KavoPacket& packet, std::size_t end) {
  if (end < 13) return;
  const std::uint32_t handle = ReadBe32(packet.data + 4);
  const std::uint32_t offset = ReadBe32(packet.data + 8);
  const std::uint8_t count = packet.data[12];
  const auto it = open.find(handle);
  ssize_t got = -1;
  KavoPacket reply =
      Reply({kavo::kSubSystem, kavo::kSystemFileTransfer, 0x01, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  if (it != open.end()) got = ::pread(it->second, reply.data + 13, count, offset);
  if (got != count) {
    // Nothing or less than asked: the program is told to ask again.
    KavoPacket failed = Reply({kavo::kSubSystem, kavo::kSystemFileTransfer, 0x01, 0x03, 0, 0, 0, 0});
    PutBe32(failed.data + 4, handle);
    SendTransferReply(failed);
    return;
  }
  PutBe32(reply.data + 4, handle);
  PutBe32(reply.data + 8, offset);
  reply.data[12] = count;
  reply.length = static_cast<std::uint16_t>(13 + count);
  SendTransferReply(reply);
}

void CSimFileSystem::Close(const KavoPacket& packet, std::size_t end) {
  if (end < 8) return;
  const std::uint32_t handle = ReadBe32(packet.data + 4);
  // A close resent after a lost answer finds the handle gone and is answered the same way.
  if (const auto it = open.find(handle); it != open.end()) {
    ::close(it->second);
    open.erase(it);
  }
  KavoPacket reply = Reply({kavo::kSubSystem, kavo::kSystemFileTransfer, 0x01, 0x02, 0, 0, 0, 0});
  PutBe32(reply.data + 4, handle);
  SendTransferReply(reply);
}

void CSimFileSystem::Delete(const KavoPacket& packet, std::size_t end) {
  const std::string remote = Text(packet, 3, end);
  const std::string local = LocalPath(remote);
  const bool deleted = !local.empty() && ::unlink(local.c_str()) == 0;
  KavoPacket reply =
      Reply({kavo::kSubSystem, kavo::kSystemFileTransfer, 0x03, static_cast<std::uint8_t>(deleted ? 1 : 0)});
  AppendText(reply, remote);
  send(reply);
}

void CSimFileSystem::SendTransferReply(const KavoPacket& reply) {
  if (dropEvery > 0 && ++transferReplies % static_cast<std::uint64_t>(dropEvery) == 0) {
    trace("DROP-REPLY " + std::to_string(transferReplies));
    return;
  }
  send(reply);
}
