#pragma once

#include <filesystem>
#include <string>

// Numbers the running instances of the program. Each instance holds an flock on the lock file of
// its number ("plowview-instance-N.lock") for as long as this object lives; the kernel drops the
// lock when the process ends, however it ends, so a stale file never blocks a number. A new
// instance takes the highest live number + 1, so numbers grow while instances overlap and come
// back once the later ones have gone.
//
// Numbers are 1-255. When 255 is live, the lowest free number is taken instead; when all are
// live, the instance runs as 255 without a lock. The lock descriptor is closed on exec, so the
// programs this one starts never hold the number.
class CInstanceLock {
 public:
  static constexpr int kMaxInstance = 255;

  // Takes a number at once. `folder` holds the lock files; empty selects DefaultFolder().
  explicit CInstanceLock(std::filesystem::path folder = {});
  ~CInstanceLock();
  CInstanceLock(const CInstanceLock&) = delete;
  CInstanceLock& operator=(const CInstanceLock&) = delete;

  int Number() const { return number; }
  // False when no lock could be had (folder not usable, or every number live).
  bool Held() const { return fd >= 0; }

  // $XDG_RUNTIME_DIR when set to an absolute path, else a folder of this user under /tmp.
  static std::filesystem::path DefaultFolder();
  static std::string LockFileName(int number);

 private:
  // The highest number whose file is locked by someone, 0 when none.
  int HighestLive() const;
  bool TryTake(int candidate);

  std::filesystem::path folder;
  int number = 1;
  int fd = -1;
};
