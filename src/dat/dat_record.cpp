#include "dat/dat_record.h"

#include <unistd.h>

#include <cerrno>

void CDATRecord::SetHeader(std::uint8_t length, std::uint8_t subType, std::uint8_t type) {
  header[0] = kDatSync;
  header[1] = length;
  header[2] = subType;
  header[3] = type;
}

void CDATRecord::WriteBytes(const void* bytes, std::size_t count) const {
  DatWriteBytes(fd, bytes, count);
}

void DatWriteBytes(int fd, const void* bytes, std::size_t count) {
  if (fd < 0) return;
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  while (count > 0) {
    const ssize_t n = ::write(fd, p, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // write errors are not reported
    p += n;
    count -= static_cast<std::size_t>(n);
  }
}
