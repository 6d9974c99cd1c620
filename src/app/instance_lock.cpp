#include "app/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <string_view>
#include <system_error>

namespace {

constexpr std::string_view kPrefix = "plowview-instance-";
constexpr std::string_view kSuffix = ".lock";
// Another instance starting at the same moment can take the number this one chose; each retry
// rescans. Enough for any number of simultaneous starts a desktop sees.
constexpr int kAttempts = 64;

int NumberOfFile(std::string_view name) {
  if (name.size() <= kPrefix.size() + kSuffix.size() || !name.starts_with(kPrefix) ||
      !name.ends_with(kSuffix))
    return 0;
  const auto digits = name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
  int n = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  if (ec != std::errc() || end != digits.data() + digits.size()) return 0;
  return (n >= 1 && n <= CInstanceLock::kMaxInstance) ? n : 0;
}

// The folder must be ours alone: under /tmp anyone could otherwise plant files or links there.
bool UsableFolder(const std::filesystem::path& folder, bool ownOnly) {
  std::error_code ec;
  if (!std::filesystem::exists(folder, ec)) {
    std::filesystem::create_directories(folder, ec);
    if (ec) return false;
    if (ownOnly) ::chmod(folder.c_str(), 0700);
  }
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return !ownOnly || st.st_uid == ::getuid();
}

}  // namespace

CInstanceLock::CInstanceLock(std::filesystem::path lockFolder) : folder(std::move(lockFolder)) {
  const bool defaultFolder = folder.empty();
  if (defaultFolder) folder = DefaultFolder();
  const bool ownOnly = defaultFolder && folder.parent_path() == "/tmp";
  if (!UsableFolder(folder, ownOnly)) return;

  int candidate = 1;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    candidate = HighestLive() + 1;
    if (candidate > kMaxInstance) {
      for (int k = 1; k <= kMaxInstance; ++k)
        if (TryTake(k)) return;
      break;
    }
    if (TryTake(candidate)) return;
  }
  number = candidate > kMaxInstance ? kMaxInstance : candidate;
}

CInstanceLock::~CInstanceLock() {
  // Closing the descriptor drops the lock; the file stays for the next instance to reuse.
  if (fd >= 0) ::close(fd);
}

std::filesystem::path CInstanceLock::DefaultFolder() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/') return runtime;
  return std::filesystem::path("/tmp") / ("plowview-" + std::to_string(::getuid()));
}

std::string CInstanceLock::LockFileName(int n) {
  return std::string(kPrefix) + std::to_string(n) + std::string(kSuffix);
}

int CInstanceLock::HighestLive() const {
  int highest = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const int n = NumberOfFile(entry.path().filename().native());
    if (n <= highest) continue;
    // A shared probe conflicts with an owner's exclusive lock but not with other probes.
    const int probe = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (probe < 0) continue;
    if (::flock(probe, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) highest = n;
    ::close(probe);
  }
  return highest;
}

bool CInstanceLock::TryTake(int candidate) {
  const auto path = folder / LockFileName(candidate);
  const int f = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (f < 0) return false;
  if (::flock(f, LOCK_EX | LOCK_NB) != 0) {
    ::close(f);
    return false;
  }
  // The holder's process id, for whoever looks into the folder; the lock is what counts.
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(f, 0) == 0) {
    [[maybe_unused]] const ssize_t written = ::write(f, pid.data(), pid.size());
  }
  fd = f;
  number = candidate;
  return true;
}
