#include "logger/log_archiver.h"

#include <thread>

int ArchivePreviousFile(const ClosedLogFile& /*closed*/) {
  return 1;
}

void StartArchiveWorker(const ArchiveFunction& archive, ClosedLogFile closed) {
  if (!archive) return;
  std::thread([archive, closed = std::move(closed)] { archive(closed); }).detach();
}
