#pragma once

#include <signal.h>
#include <sys/resource.h>

#include <cstdint>

// A disk that fills up and is freed again, for this process: while the object lives, a write that
// would make any file larger than `bytes` fails (the part below the limit is written, then EFBIG),
// as writes fail on a full disk. The signal such a write raises is ignored meanwhile. The limit
// is the process's own, so the test that holds it must not write other files past it.
class CFileSizeLimit {
 public:
  explicit CFileSizeLimit(std::uint64_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved);
    previous = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = static_cast<rlim_t>(bytes);
    ::setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~CFileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, previous);
  }
  CFileSizeLimit(const CFileSizeLimit&) = delete;
  CFileSizeLimit& operator=(const CFileSizeLimit&) = delete;

 private:
  rlimit saved{};
  sighandler_t previous = SIG_DFL;
};
