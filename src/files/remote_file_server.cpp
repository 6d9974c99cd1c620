#include "files/remote_file_server.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "files/packet_fields.h"
#include "link/protocol/kavo_ids.h"

namespace {

// An answer must stay below the receiver's packet limit once its checksum trailer is added.
constexpr std::size_t kMaxAnswerLength = kKavoMaxData - 3;

KavoPacket Answer(RemoteFileOp op, std::size_t length) {
  KavoPacket p;
  p.id = kavo::kIdSuperRequest;
  p.data[0] = kavo::kSubPanel;
  p.data[1] = static_cast<std::uint8_t>(op);
  p.length = static_cast<std::uint16_t>(length);
  return p;
}

void PutError(std::uint8_t* p, RemoteFileError e) {
  PutBe16(p, static_cast<std::uint16_t>(e));
}

std::int32_t ReadBeI32(const std::uint8_t* p) {
  return static_cast<std::int32_t>(ReadBe32(p));
}

// Reads the receiver's name field: `maxChars` bytes from `from` (never into the trailer), up to
// the first NUL. False when the NUL is followed by more name bytes: a name with a NUL inside is
// never cut short into another name.
bool NameField(const KavoPacket& request, std::size_t from, int maxChars, std::string& name) {
  std::size_t end = FieldEnd(request);
  if (maxChars < 0) maxChars = 0;
  end = std::min(end, from + static_cast<std::size_t>(maxChars));
  name = TextField(request, from, end, kKavoMaxData);
  for (std::size_t i = from + name.size(); i < end; ++i)
    if (request.data[i] != 0) return false;
  return true;
}

RemoteFileError OpenErrorCode(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
      return RemoteFileError::NotFound;
    case EMFILE:
    case ENFILE:
      return RemoteFileError::NoFreeHandle;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ELOOP:
    case EXDEV:
    case ETXTBSY:
      return RemoteFileError::AccessDenied;
    case EWOULDBLOCK:
      return RemoteFileError::SharingViolation;
    default:
      return RemoteFileError::OpenFailed;
  }
}

RemoteFileError RemoveErrorCode(int error) {
  return (error == ENOENT || error == ENOTDIR || error == ENAMETOOLONG) ? RemoteFileError::NotFound
                                                                        : RemoteFileError::AccessDenied;
}

int Whence(std::uint16_t origin) {
  if (origin == 1) return SEEK_CUR;
  if (origin == 2) return SEEK_END;
  return SEEK_SET;
}

bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

// Reads up to `count` bytes; the number read, or -1 on an error before anything was read.
ssize_t ReadFull(int fd, std::uint8_t* bytes, std::size_t count) {
  std::size_t got = 0;
  while (got < count) {
    const ssize_t n = ::read(fd, bytes + got, count - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return got > 0 ? static_cast<ssize_t>(got) : -1;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

}  // namespace

bool IsRemoteFileRequest(const KavoPacket& packet) {
  return packet.id == kavo::kIdSuperReport && packet.length >= 4 && packet.length <= kKavoMaxData &&
         packet.data[0] == kavo::kSubPanel && packet.data[1] >= 0x10 && packet.data[1] < 0x1C;
}

CRemoteFileServer::CRemoteFileServer(std::filesystem::path cardFolder, SendFn send,
                                     CCardFolder::Resolver resolver)
    : folder(std::move(cardFolder), resolver), send(std::move(send)) {}

CRemoteFileServer::~CRemoteFileServer() = default;

bool CRemoteFileServer::QueueRequest(const KavoPacket& packet) {
  if (!IsRemoteFileRequest(packet)) return false;
  if (queue.size() >= kMaxQueued) {
    ++dropped;
    return false;
  }
  queue.push_back(std::make_unique<KavoPacket>(packet));
  return true;
}

void CRemoteFileServer::ProcessRequests() {
  while (!queue.empty()) {
    std::unique_ptr<KavoPacket> request = std::move(queue.front());
    queue.pop_front();
    Handle(*request);
  }
}

int CRemoteFileServer::OpenFiles() const {
  return static_cast<int>(
      std::count_if(openFiles.begin(), openFiles.end(), [](const auto& s) { return s != nullptr; }));
}

void CRemoteFileServer::Handle(const KavoPacket& request) {
  // Fixed fields each operation reads; a shorter request is malformed and dropped unanswered.
  static constexpr std::size_t kFixedEnd[12] = {2, 3, 6, 11, 8, 12, 6, 2, 2, 2, 2, 18};
  const std::uint8_t op = request.data[1];
  if (op < 0x10 || op >= 0x1C) return;
  if (request.checksumOk != 1) {
    AnswerDamaged(request);
    return;
  }
  if (FieldEnd(request) < kFixedEnd[op - 0x10]) {
    ++dropped;
    return;
  }
  switch (static_cast<RemoteFileOp>(op)) {
    case RemoteFileOp::List:
      List(request);
      break;
    case RemoteFileOp::Open:
      Open(request);
      break;
    case RemoteFileOp::Close:
      Close(request);
      break;
    case RemoteFileOp::Write:
      Write(request, false);
      break;
    case RemoteFileOp::Read:
      Read(request);
      break;
    case RemoteFileOp::Seek:
      Seek(request, false);
      break;
    case RemoteFileOp::Tell:
      Seek(request, true);
      break;
    case RemoteFileOp::Remove:
      Remove(request);
      break;
    case RemoteFileOp::CardInfo:
      CardInfo();
      break;
    case RemoteFileOp::WriteAt:
      Write(request, true);
      break;
    default:  // 0x18 and 0x19 have no answer
      break;
  }
}

void CRemoteFileServer::List(const KavoPacket& request) {
  std::vector<std::string> names;
  std::string pattern;
  const bool nameOk = NameField(request, 4, request.length - 6, pattern);
  std::string relative;
  if (nameOk && CCardFolder::MapName(pattern, relative) == 0) {
    // The last component is the pattern, matched as the card's DOS patterns are; the rest (with
    // any drive) names the folder.
    const std::size_t sep = pattern.find_last_of(":\\/");
    std::string dirRelative;
    if (sep != std::string::npos) CCardFolder::MapName(pattern.substr(0, sep + 1), dirRelative);
    const std::string glob = sep == std::string::npos ? pattern : pattern.substr(sep + 1);
    const int fd = glob.empty() ? -ENOENT : folder.OpenDirectory(dirRelative);
    if (fd >= 0) {
      if (DIR* dir = ::fdopendir(fd)) {
        while (const dirent* entry = ::readdir(dir)) {
          if (!CCardFolder::PatternMatches(glob, entry->d_name)) continue;
          struct stat st {};
          // Links are not listed: what they point to may lie outside the card.
          if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
          if (S_ISREG(st.st_mode)) names.emplace_back(entry->d_name);
        }
        ::closedir(dir);
      } else {
        ::close(fd);
      }
    }
  }
  std::sort(names.begin(), names.end());
  // Names that differ only in case are one name on the card: the first in byte order stands.
  std::string previous;
  names.erase(std::remove_if(names.begin(), names.end(),
                             [&](const std::string& name) {
                               std::string folded = name;
                               for (char& c : folded)
                                 if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
                               if (folded == previous) return true;
                               previous = std::move(folded);
                               return false;
                             }),
              names.end());
  // Entry numbers are u16 and 65535 marks the end.
  if (names.size() > 65535) names.resize(65535);
  names.emplace_back("LAST.FIL");
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::uint16_t number = i + 1 == names.size() ? 65535 : static_cast<std::uint16_t>(i);
    const std::size_t n = std::min(names[i].size(), kMaxAnswerLength - 7);
    KavoPacket answer = Answer(RemoteFileOp::List, 7 + n);
    PutBe16(answer.data + 2, number);
    std::memcpy(answer.data + 6, names[i].data(), n);
    send(answer);
  }
}

void CRemoteFileServer::Open(const KavoPacket& request) {
  std::string name;
  const bool nameOk = NameField(request, 7, request.length - 10, name);
  const char mode = static_cast<char>(request.data[2]);
  std::int32_t handle = -1;
  RemoteFileError error = RemoteFileError::None;

  int slot = -1;
  for (int i = 0; i < kSlots && slot < 0; ++i)
    if (!openFiles[i]) slot = i;

  std::string relative;
  int mapped = 0;
  if (mode != 'r' && mode != 'w' && mode != 'a') {
    error = RemoteFileError::OpenFailed;
  } else if (slot < 0) {
    error = RemoteFileError::NoFreeHandle;
  } else if (!nameOk) {
    error = RemoteFileError::NotFound;
  } else if ((mapped = CCardFolder::MapName(name, relative)) != 0 || relative.empty()) {
    error = mapped == -EACCES ? RemoteFileError::AccessDenied : RemoteFileError::NotFound;
  } else {
    const int flags = mode == 'r' ? O_RDONLY : (O_WRONLY | O_CREAT);
    CUniqueFd fd(folder.OpenFile(relative, flags));
    int cause = fd.Valid() ? 0 : -fd.Get();
    // Opens are exclusive. Truncation waits for the lock so a refused 'w' destroys nothing.
    if (cause == 0 && ::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) cause = errno;
    if (cause == 0 && mode == 'w' && ::ftruncate(fd.Get(), 0) != 0) cause = errno;
    if (cause == 0 && mode == 'a' && ::lseek(fd.Get(), 0, SEEK_END) < 0) cause = errno;
    if (cause != 0) {
      error = OpenErrorCode(cause);
    } else {
      auto file = std::make_unique<OpenFile>();
      file->fd = std::move(fd);
      file->writable = mode != 'r';
      openFiles[slot] = std::move(file);
      handle = slot;
    }
  }

  const std::size_t n = std::min(name.size(), kMaxAnswerLength - 12);
  KavoPacket answer = Answer(RemoteFileOp::Open, 12 + n);
  PutBe32(answer.data + 2, static_cast<std::uint32_t>(handle));
  PutError(answer.data + 6, error);
  std::memcpy(answer.data + 11, name.data(), n);
  send(answer);
}

void CRemoteFileServer::Close(const KavoPacket& request) {
  const std::int32_t handle = ReadBeI32(request.data + 2);
  RemoteFileError error = RemoteFileError::BadHandle;
  if (Slot(handle) != nullptr) {
    openFiles[handle].reset();
    error = RemoteFileError::None;
  }
  SendHandleAnswer(RemoteFileOp::Close, handle, error);
}

void CRemoteFileServer::Write(const KavoPacket& request, bool at) {
  const RemoteFileOp op = at ? RemoteFileOp::WriteAt : RemoteFileOp::Write;
  const std::int32_t handle = ReadBeI32(request.data + 2);
  const std::uint16_t total = ReadBe16(request.data + 6);
  const std::uint16_t block = ReadBe16(request.data + 8);
  const std::uint8_t count = request.data[10];
  const std::size_t bytesAt = at ? 21 : 14;

  OpenFile* file = Slot(handle);
  if (file == nullptr) return SendHandleAnswer(op, handle, RemoteFileError::BadHandleWrite);

  // Every answer ends the block sequence.
  auto finish = [&](RemoteFileError error) {
    EndSequence(*file);
    SendHandleAnswer(op, handle, error);
  };
  if (!file->writable) return finish(RemoteFileError::BadBlock);
  if (count > kBlockSize || bytesAt + count > FieldEnd(request))
    return finish(RemoteFileError::BadBlockLength);

  // A write-at positions the file before its first block, saving the old position if asked.
  auto position = [&]() {
    if (!at) return true;
    const bool save = request.data[15] != 0;
    file->restorePosition = false;
    if (save) {
      const off_t now = ::lseek(file->fd.Get(), 0, SEEK_CUR);
      file->savedPosition = static_cast<std::int32_t>(now);
      file->restorePosition = now >= 0;
    }
    return ::lseek(file->fd.Get(), ReadBeI32(request.data + 11), Whence(ReadBe16(request.data + 16))) >= 0;
  };
  auto write = [&]() { return WriteAll(file->fd.Get(), request.data + bytesAt, count); };

  const bool last = block == total;
  if (last && total > 1 && (file->inBlockSequence == 0 || block != file->lastBlock + 1)) {
    // A last block that does not follow its predecessor would leave a hole reported as success.
    return finish(RemoteFileError::BadHandle);
  }
  if (last) {
    if (total <= 1 && !position()) return finish(RemoteFileError::BadPosition);
    const bool written = write();
    return finish(written ? RemoteFileError::None : RemoteFileError::BadBlock);
  }
  if (block == 1) {
    file->inBlockSequence = 1;
    file->lastBlock = 1;
    if (!position()) return finish(RemoteFileError::BadPosition);
    if (count < kBlockSize) return finish(RemoteFileError::BadBlockLength);
    if (!write()) return finish(RemoteFileError::BadBlock);
    return;
  }
  if (block > total) return finish(RemoteFileError::BadBlock);
  if (block != file->lastBlock + 1) return finish(RemoteFileError::BadHandle);
  file->lastBlock = block;
  if (count < kBlockSize) return finish(RemoteFileError::BadBlockLength);
  if (!write()) return finish(RemoteFileError::BadBlock);
}

void CRemoteFileServer::Read(const KavoPacket& request) {
  const std::int32_t handle = ReadBeI32(request.data + 2);
  const std::uint16_t count = ReadBe16(request.data + 6);
  OpenFile* file = Slot(handle);
  const std::uint16_t blocks =
      file == nullptr ? 0 : static_cast<std::uint16_t>((count + kBlockSize - 1) / kBlockSize);

  // One answer even for nothing to read, so the receiver is never left waiting.
  for (std::uint16_t k = 1; k <= std::max<std::uint16_t>(blocks, 1); ++k) {
    std::size_t size = 0;
    if (blocks > 0) size = k < blocks ? kBlockSize : count - kBlockSize * (blocks - 1u);
    KavoPacket answer = Answer(RemoteFileOp::Read, 16 + size);
    PutBe32(answer.data + 2, static_cast<std::uint32_t>(handle));
    RemoteFileError error = file == nullptr ? RemoteFileError::BadHandle : RemoteFileError::None;
    if (size > 0) {
      // Past the end the block keeps its requested size; the unread part stays zero.
      if (ReadFull(file->fd.Get(), answer.data + 16, size) < 0) error = RemoteFileError::AccessDenied;
      PutBe16(answer.data + 8, blocks);
      PutBe16(answer.data + 10, k);
      answer.data[12] = static_cast<std::uint8_t>(size);
    }
    PutError(answer.data + 6, error);
    send(answer);
  }
}

void CRemoteFileServer::Seek(const KavoPacket& request, bool tell) {
  const std::int32_t handle = ReadBeI32(request.data + 2);
  OpenFile* file = Slot(handle);
  RemoteFileError error = RemoteFileError::BadHandle;
  off_t position = 0;
  if (file != nullptr) {
    error = RemoteFileError::None;
    if (!tell) {
      const off_t moved =
          ::lseek(file->fd.Get(), ReadBeI32(request.data + 6), Whence(ReadBe16(request.data + 10)));
      if (moved < 0) error = RemoteFileError::BadPosition;
    }
    position = ::lseek(file->fd.Get(), 0, SEEK_CUR);
    if (position < 0) position = 0;
  }
  KavoPacket answer = Answer(tell ? RemoteFileOp::Tell : RemoteFileOp::Seek, 15);
  PutBe32(answer.data + 2, static_cast<std::uint32_t>(handle));
  PutBe32(answer.data + 6, static_cast<std::uint32_t>(position));
  PutError(answer.data + 10, error);
  send(answer);
}

void CRemoteFileServer::Remove(const KavoPacket& request) {
  std::string name;
  std::string relative;
  RemoteFileError error = RemoteFileError::NotFound;
  if (NameField(request, 6, request.length - 9, name)) {
    const int mapped = CCardFolder::MapName(name, relative);
    if (mapped == -EACCES) {
      error = RemoteFileError::AccessDenied;
    } else if (mapped == 0 && !relative.empty()) {
      const int removed = folder.RemoveFile(relative);
      error = removed == 0 ? RemoteFileError::None : RemoveErrorCode(-removed);
    }
  }
  KavoPacket answer = Answer(RemoteFileOp::Remove, 7);
  PutError(answer.data + 2, error);
  send(answer);
}

void CRemoteFileServer::CardInfo(RemoteFileError error) {
  KavoPacket answer = Answer(RemoteFileOp::CardInfo, 21);
  PutBe32(answer.data + 2, 0x02000000);
  PutBe32(answer.data + 6, 0x01800000);
  PutBe16(answer.data + 10, 0x4000);
  PutError(answer.data + 12, error);
  send(answer);
}

// Every field of a damaged request may be wrong: none is acted on. The handle is echoed (when the
// request is long enough to hold one) so that the receiver can tell which of its requests failed.
void CRemoteFileServer::AnswerDamaged(const KavoPacket& request) {
  const auto op = static_cast<RemoteFileOp>(request.data[1]);
  const std::int32_t handle = FieldEnd(request) >= 6 ? ReadBeI32(request.data + 2) : -1;
  constexpr RemoteFileError kError = RemoteFileError::IoError;
  switch (op) {
    case RemoteFileOp::List: {
      static constexpr char kLast[] = "LAST.FIL";
      KavoPacket answer = Answer(op, 7 + sizeof kLast - 1);
      PutBe16(answer.data + 2, 65535);
      PutError(answer.data + 4, kError);
      std::memcpy(answer.data + 6, kLast, sizeof kLast - 1);
      send(answer);
      break;
    }
    case RemoteFileOp::Open: {
      KavoPacket answer = Answer(op, 12);
      PutBe32(answer.data + 2, 0xFFFFFFFFu);
      PutError(answer.data + 6, kError);
      send(answer);
      break;
    }
    case RemoteFileOp::Close:
    case RemoteFileOp::Write:
    case RemoteFileOp::WriteAt:
      SendHandleAnswer(op, handle, kError);
      break;
    case RemoteFileOp::Read: {
      KavoPacket answer = Answer(op, 16);
      PutBe32(answer.data + 2, static_cast<std::uint32_t>(handle));
      PutError(answer.data + 6, kError);
      send(answer);
      break;
    }
    case RemoteFileOp::Seek:
    case RemoteFileOp::Tell: {
      KavoPacket answer = Answer(op, 15);
      PutBe32(answer.data + 2, static_cast<std::uint32_t>(handle));
      PutError(answer.data + 10, kError);
      send(answer);
      break;
    }
    case RemoteFileOp::Remove: {
      KavoPacket answer = Answer(op, 7);
      PutError(answer.data + 2, kError);
      send(answer);
      break;
    }
    case RemoteFileOp::CardInfo:
      CardInfo(kError);
      break;
    default:  // 0x18 and 0x19 have no answer
      break;
  }
}

CRemoteFileServer::OpenFile* CRemoteFileServer::Slot(std::int32_t handle) {
  if (handle < 0 || handle >= kSlots) return nullptr;
  return openFiles[handle].get();
}

void CRemoteFileServer::EndSequence(OpenFile& file) {
  file.inBlockSequence = 0;
  file.lastBlock = 0;
  if (file.restorePosition) {
    ::lseek(file.fd.Get(), file.savedPosition, SEEK_SET);
    file.restorePosition = false;
  }
}

void CRemoteFileServer::SendHandleAnswer(RemoteFileOp op, std::int32_t handle, RemoteFileError error) {
  KavoPacket answer = Answer(op, 11);
  PutBe32(answer.data + 2, static_cast<std::uint32_t>(handle));
  PutError(answer.data + 6, error);
  send(answer);
}
