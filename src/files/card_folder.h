#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

// The PC folder that stands in for the receiver's memory card. Every file the receiver names is
// opened, listed or removed through here, and nothing here reaches outside the folder: names are
// checked first (MapName), then resolved beneath an fd of the folder so that neither ".." nor a
// symbolic link can lead out. Where the kernel has openat2, RESOLVE_BENEATH does the resolving
// (links that stay inside are followed); elsewhere each component is opened with O_NOFOLLOW,
// which refuses every link.
//
// The folder answers as the receiver's FAT card would: names are matched without regard to
// (ASCII) case, and when two PC files differ only in case the first in byte order is the one the
// receiver sees. A name that matches nothing keeps its spelling (a file about to be created).
//
// All results are a descriptor (>= 0) or a negative errno; -EXDEV or -ELOOP mean a link pointed
// out of the folder. Not thread-safe; one owner.
class CCardFolder {
 public:
  enum class Resolver { Auto, Beneath, Walk };

  // Longest receiver name accepted, in bytes, before the separators are mapped.
  static constexpr std::size_t kMaxNameLength = 255;

  explicit CCardFolder(std::filesystem::path root, Resolver resolver = Resolver::Auto);

  // Maps a receiver name with "\\" (or "/") separators to a relative path with "/" separators,
  // dropping "." and empty components. A leading separator, or the card's own drive "A:" (either
  // case), names the folder's root, as on the card. Returns 0, or -ENOENT for a name that holds a
  // NUL byte or is longer than kMaxNameLength, or -EACCES for a name of another drive (any other
  // ':') or one that holds a ".." component. An empty `relative` means the folder.
  static int MapName(std::string_view name, std::string& relative);

  // True when `name` matches the card pattern `pattern` as the receiver's programs mean it: '*'
  // any run of characters, '?' any one, letters without regard to case; a name without a dot
  // matches as if it ended in one, so "*.*" matches every name. A leading dot (a PC's hidden
  // file, never a card name) is matched only by a pattern that spells it.
  static bool PatternMatches(std::string_view pattern, std::string_view name);

  // `relative` as the folder spells it: each component replaced by the folder's entry that
  // matches it without regard to case (the first in byte order); from the first component that
  // matches nothing on, the rest is kept as given.
  std::string MatchCase(const std::string& relative);

  // Opens a regular file beneath the folder with open(2) `flags` (O_CLOEXEC and O_NOCTTY are
  // added), its name matched without regard to case. Anything but a regular file is refused with -EISDIR or
  // -EACCES without being read. O_NONBLOCK is used only while checking, so a FIFO cannot stall the caller.
  int OpenFile(const std::string& relative, int flags, mode_t mode = 0666);

  // Opens a directory beneath the folder for reading its entries ("" is the folder itself).
  int OpenDirectory(const std::string& relative);

  // Removes one file or link beneath the folder (matched without regard to case); a directory is
  // refused with -EISDIR.
  int RemoveFile(const std::string& relative);

  const std::filesystem::path& Root() const { return root; }
  // True while openat2 is in use (Auto switches to the walk for good when the kernel lacks it).
  bool UsesBeneath() const { return resolver != Resolver::Walk; }

 private:
  int Open(const std::string& relative, int flags, mode_t mode);
  int OpenBeneath(int rootFd, const std::string& relative, int flags, mode_t mode);
  int OpenByWalk(int rootFd, const std::string& relative, int flags, mode_t mode);

  std::filesystem::path root;
  Resolver resolver;
};
