#include "files/card_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "files/unique_fd.h"

namespace {

std::vector<std::string_view> Components(std::string_view relative) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (start <= relative.size()) {
    const std::size_t slash = relative.find('/', start);
    const std::size_t end = slash == std::string_view::npos ? relative.size() : slash;
    if (end > start) parts.push_back(relative.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

int Errno() {
  return errno != 0 ? -errno : -EIO;
}

char Folded(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Folded(a[i]) != Folded(b[i])) return false;
  return true;
}

// '*' and '?' against `name`, letters folded; iterative, with one point to go back to.
bool Glob(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, n = 0;
  std::size_t starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || Folded(pattern[p]) == Folded(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

CCardFolder::CCardFolder(std::filesystem::path root, Resolver resolver)
    : root(std::move(root)), resolver(resolver) {}

int CCardFolder::MapName(std::string_view name, std::string& relative) {
  relative.clear();
  if (name.find('\0') != std::string_view::npos || name.size() > kMaxNameLength) return -ENOENT;
  // The card is drive A: of the receiver, and the folder is the whole card: its root. A leading
  // separator names that root too; it is dropped below with the other empty components.
  if (name.size() >= 2 && (name[0] == 'A' || name[0] == 'a') && name[1] == ':') name.remove_prefix(2);
  // Any other colon names another drive or a stream; neither exists here.
  if (name.find(':') != std::string_view::npos) return -EACCES;
  std::size_t start = 0;
  while (start <= name.size()) {
    const std::size_t sep = name.find_first_of("\\/", start);
    const std::size_t end = sep == std::string_view::npos ? name.size() : sep;
    const std::string_view part = name.substr(start, end - start);
    if (part == "..") {
      relative.clear();
      return -EACCES;
    }
    if (!part.empty() && part != ".") {
      if (!relative.empty()) relative += '/';
      relative.append(part);
    }
    start = end + 1;
  }
  return 0;
}

bool CCardFolder::PatternMatches(std::string_view pattern, std::string_view name) {
  if (name.empty()) return false;
  if (name.front() == '.' && (pattern.empty() || pattern.front() != '.')) return false;
  if (Glob(pattern, name)) return true;
  // On the card every name has an extension, if only an empty one.
  if (name.find('.') == std::string_view::npos && pattern.find('.') != std::string_view::npos)
    return Glob(pattern, std::string(name) + '.');
  return false;
}

std::string CCardFolder::MatchCase(const std::string& relative) {
  std::string out;
  bool matching = true;
  for (const std::string_view part : Components(relative)) {
    std::string chosen(part);
    if (matching) {
      matching = false;
      const int fd = Open(out, O_RDONLY | O_DIRECTORY, 0);
      if (fd >= 0) {
        if (DIR* dir = ::fdopendir(fd)) {
          while (const dirent* entry = ::readdir(dir)) {
            const std::string_view found(entry->d_name);
            if (!SameIgnoringCase(found, part)) continue;
            // Byte order decides between names that differ only in case.
            if (!matching || found < chosen) chosen.assign(found);
            matching = true;
          }
          ::closedir(dir);
        } else {
          ::close(fd);
        }
      }
    }
    if (!out.empty()) out += '/';
    out += chosen;
  }
  return out;
}

int CCardFolder::OpenFile(const std::string& given, int flags, mode_t mode) {
  if (given.empty()) return -EISDIR;
  const std::string relative = MatchCase(given);
  CUniqueFd fd(Open(relative, flags | O_NONBLOCK, mode));
  if (!fd.Valid()) return fd.Get();
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return Errno();
  if (S_ISDIR(st.st_mode)) return -EISDIR;
  if (!S_ISREG(st.st_mode)) return -EACCES;
  if ((flags & O_NONBLOCK) == 0) {
    const int fl = ::fcntl(fd.Get(), F_GETFL);
    if (fl < 0 || ::fcntl(fd.Get(), F_SETFL, fl & ~O_NONBLOCK) != 0) return Errno();
  }
  return fd.Release();
}

int CCardFolder::OpenDirectory(const std::string& relative) {
  return Open(MatchCase(relative), O_RDONLY | O_DIRECTORY, 0);
}

int CCardFolder::RemoveFile(const std::string& given) {
  const std::string relative = MatchCase(given);
  const std::size_t slash = relative.rfind('/');
  const std::string parent = slash == std::string::npos ? std::string() : relative.substr(0, slash);
  const std::string leaf = slash == std::string::npos ? relative : relative.substr(slash + 1);
  if (leaf.empty()) return -EISDIR;
  CUniqueFd dir(Open(parent, O_PATH | O_DIRECTORY, 0));
  if (!dir.Valid()) return dir.Get();
  // unlinkat removes a link itself, never what it points to.
  if (::unlinkat(dir.Get(), leaf.c_str(), 0) != 0) return Errno();
  return 0;
}

int CCardFolder::Open(const std::string& relative, int flags, mode_t mode) {
  CUniqueFd rootFd(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!rootFd.Valid()) return Errno();
  // openat2 refuses any flag beside these with O_PATH.
  flags |= (flags & O_PATH) != 0 ? O_CLOEXEC : (O_CLOEXEC | O_NOCTTY);
  if (resolver != Resolver::Walk) {
    const int fd = OpenBeneath(rootFd.Get(), relative, flags, mode);
    if (fd != -ENOSYS) return fd;
    if (resolver == Resolver::Beneath) return fd;
    resolver = Resolver::Walk;
  }
  return OpenByWalk(rootFd.Get(), relative, flags, mode);
}

int CCardFolder::OpenBeneath(int rootFd, const std::string& relative, int flags, mode_t mode) {
  struct open_how how {};
  how.flags = static_cast<std::uint64_t>(flags);
  // openat2 rejects a mode without O_CREAT.
  how.mode = (flags & O_CREAT) != 0 ? mode : 0;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  const char* path = relative.empty() ? "." : relative.c_str();
  const long fd = ::syscall(SYS_openat2, rootFd, path, &how, sizeof how);
  return fd >= 0 ? static_cast<int>(fd) : Errno();
}

int CCardFolder::OpenByWalk(int rootFd, const std::string& relative, int flags, mode_t mode) {
  const std::vector<std::string_view> parts = Components(relative);
  if (parts.empty()) {
    const int fd = ::openat(rootFd, ".", flags, mode);
    return fd >= 0 ? fd : Errno();
  }
  CUniqueFd dir(::fcntl(rootFd, F_DUPFD_CLOEXEC, 0));
  if (!dir.Valid()) return Errno();
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    const std::string part(parts[i]);
    CUniqueFd next(::openat(dir.Get(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next.Valid()) return Errno();
    // O_PATH with O_NOFOLLOW may hand back the link itself; only a real directory leads on.
    struct stat st {};
    if (::fstat(next.Get(), &st) != 0) return Errno();
    if (!S_ISDIR(st.st_mode)) return S_ISLNK(st.st_mode) ? -ELOOP : -ENOTDIR;
    dir = std::move(next);
  }
  const std::string leaf(parts.back());
  CUniqueFd fd(::openat(dir.Get(), leaf.c_str(), flags | O_NOFOLLOW, mode));
  if (!fd.Valid()) return Errno();
  if ((flags & O_DIRECTORY) != 0) {
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) return Errno();
    if (!S_ISDIR(st.st_mode)) return S_ISLNK(st.st_mode) ? -ELOOP : -ENOTDIR;
  }
  return fd.Release();
}
