#include "files/file_xfer_job.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

CFileXferJob::CFileXferJob(std::string name, std::string remoteFolder, std::filesystem::path localFolder,
                           std::int32_t listIndex)
    : name(std::move(name)),
      remoteFolder(std::move(remoteFolder)),
      localFolder(std::move(localFolder)),
      listIndex(listIndex) {}

std::string CFileXferJob::StatusText(XferState state, std::uint32_t received, std::uint32_t size) {
  switch (state) {
    case XferState::Queued:
      return "Queued";
    case XferState::Starting:
      return "Starting...";
    case XferState::Downloading: {
      // An empty file is complete from the start (and 0/0 would print "nan").
      const double percent =
          size == 0 ? 100.0 : static_cast<double>(received) / static_cast<double>(size) * 100.0;
      char text[48];
      std::snprintf(text, sizeof text, "Downloading - %3.1f%%", percent);
      return text;
    }
    case XferState::Closing:
      return "Closing";
    case XferState::FileOpenFailed:
      return "File Open Failed";
    case XferState::FileNotFound:
      return "File Not Found";
    case XferState::Done:
      return "Done";
    case XferState::FileTruncated:
      return "File Truncated";
    case XferState::TimedOut:
      return "Timed Out";
  }
  return "Unknown Error";
}

bool CFileXferJob::CreateLocalFile() {
  CloseLocalFile();
  if (name.empty() || name == "." || name == ".." || name.size() > 255 ||
      name.find_first_of(std::string("/\\\0", 3)) != std::string::npos)
    return false;
  const std::filesystem::path target = localFolder / name;
  // O_NONBLOCK keeps a FIFO of that name from stalling the caller; only a regular file is used.
  CUniqueFd fd(
      ::open(target.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
  if (!fd.Valid()) return false;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const int flags = ::fcntl(fd.Get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return false;
  if (::ftruncate(fd.Get(), 0) != 0) return false;
  localFile = std::move(fd);
  return true;
}

bool CFileXferJob::WriteLocal(const std::uint8_t* bytes, std::size_t count) {
  if (!localFile.Valid()) return false;
  while (count > 0) {
    const ssize_t n = ::write(localFile.Get(), bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}
