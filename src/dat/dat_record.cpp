#include "dat/dat_record.h"

#include <unistd.h>

#include <cerrno>

void CDATRecord::SetHeader(std::uint8_t length, std::uint8_t subType, std::uint8_t type) {
  header[0] = kDatSync;
  header[1] = length;
  header[2] = subType;
  header[3] = type;
}

std::size_t CDATRecord::Length() const {
  if (header[0] != kDatSync) return 0;
  // Type 17 carries a 16-bit length in bytes 1-2.
  if (header[3] == 17) return header[1] | static_cast<std::size_t>(header[2]) << 8;
  return header[1];
}

void CDATRecord::WriteBytes(const void* bytes, std::size_t count) const {
  // After a failure the rest of the record would only land behind a hole.
  if (writeError != 0) return;
  writeError = DatWriteBytes(fd, bytes, count);
}

int DatWriteBytes(int fd, const void* bytes, std::size_t count) {
  if (fd < 0) return 0;
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  while (count > 0) {
    const ssize_t n = ::write(fd, p, count);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno != 0 ? errno : EIO;
    if (n == 0) return ENOSPC;
    p += n;
    count -= static_cast<std::size_t>(n);
  }
  return 0;
}
