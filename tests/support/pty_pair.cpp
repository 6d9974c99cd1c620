#include "pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

CPtyPair::CPtyPair() {
  char name[256] = {};
  if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    master = slave = -1;
    return;
  }
  slavePath = name;
  termios t{};
  if (::tcgetattr(slave, &t) == 0) {
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
  }
  ::fcntl(master, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave, F_SETFD, FD_CLOEXEC);
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
}

CPtyPair::~CPtyPair() {
  CloseMaster();
  if (slave >= 0) ::close(slave);
}

bool CPtyPair::Send(const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (master >= 0 && done < bytes.size()) {
    const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      pollfd p{master, POLLOUT, 0};
      if (::poll(&p, 1, 1000) <= 0) return false;
    } else if (!(n < 0 && errno == EINTR)) {
      return false;
    }
  }
  return master >= 0;
}

bool CPtyPair::Send(const std::string& text) {
  return Send(std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::vector<std::uint8_t> CPtyPair::Receive(std::size_t count, int ms) {
  std::vector<std::uint8_t> got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (master >= 0 && got.size() < count) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
            .count();
    if (left <= 0) break;
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    std::uint8_t buffer[256];
    const std::size_t want = std::min(sizeof buffer, count - got.size());
    const ssize_t n = ::read(master, buffer, want);
    if (n > 0)
      got.insert(got.end(), buffer, buffer + n);
    else if (n == 0 || (errno != EAGAIN && errno != EINTR))
      break;
  }
  return got;
}

void CPtyPair::CloseMaster() {
  if (master >= 0) ::close(master);
  master = -1;
}
