#pragma once

#include <unistd.h>

#include <utility>

// Owns one POSIX file descriptor and closes it at destruction. -1 means none.
class CUniqueFd {
 public:
  CUniqueFd() = default;
  explicit CUniqueFd(int fd) : fd(fd) {}
  ~CUniqueFd() { Reset(); }
  CUniqueFd(CUniqueFd&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
  CUniqueFd& operator=(CUniqueFd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.fd, -1));
    return *this;
  }
  CUniqueFd(const CUniqueFd&) = delete;
  CUniqueFd& operator=(const CUniqueFd&) = delete;

  int Get() const { return fd; }
  bool Valid() const { return fd >= 0; }
  int Release() { return std::exchange(fd, -1); }
  void Reset(int newFd = -1) {
    if (fd >= 0) ::close(fd);
    fd = newFd;
  }

 private:
  int fd = -1;
};
