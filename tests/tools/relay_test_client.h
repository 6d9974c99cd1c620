#pragma once

// A plain blocking-free TCP client of a relay server for tests: connects on loopback, reads the
// stream messages the server sends (reassembled the way the program does it) and sends stream
// messages. No Qt, so it also works from threads beside a Qt event loop.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "link/protocol/ring_buffer.h"
#include "link/protocol/stream_message.h"

class CRelayTestClient {
 public:
  using Bytes = std::vector<std::uint8_t>;

  CRelayTestClient() = default;
  ~CRelayTestClient() { Close(); }
  CRelayTestClient(const CRelayTestClient&) = delete;
  CRelayTestClient& operator=(const CRelayTestClient&) = delete;

  // Connects to 127.0.0.1:`port`, retrying until `ms` passed (the server may still be starting).
  bool Connect(std::uint16_t port, int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_port = htons(port);
      to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        const int yes = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        return true;
      }
      Close();
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  void Close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }

  int Fd() const { return fd; }
  bool Open() const { return fd >= 0 && !peerClosed; }

  // Reads what is there now; every whole type-1 body goes to `bodies`, other types are counted.
  // Returns false once the server closed the connection.
  bool ReadAvailable() {
    std::uint8_t chunk[16384];
    for (;;) {
      const std::uint32_t room = std::min<std::uint32_t>(sizeof chunk, ring.Free());
      const ssize_t got = ::recv(fd, chunk, room, 0);
      if (got == 0) {
        peerClosed = true;
        return false;
      }
      if (got < 0) return true;
      bytesRead += static_cast<std::uint64_t>(got);
      ring.Write(chunk, static_cast<std::uint32_t>(got));
      while (ExtractStreamMessage(ring, message)) {
        if (message.type == kStreamTypeData) {
          bodies.push_back(message.body);
        } else {
          ++otherMessages;
        }
      }
    }
  }

  // Waits up to `ms` for data and reads it; false once the server closed the connection.
  bool Pump(int ms) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, ms) > 0) return ReadAvailable();
    return !peerClosed;
  }

  // Sends `body` as one message of `type`.
  bool SendMessage(const Bytes& body, std::uint16_t type = kStreamTypeData) {
    Bytes m = StreamMessageFor(body.data(), body.size());
    m[9] = static_cast<std::uint8_t>(type);
    return ::send(fd, m.data(), m.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(m.size());
  }

  std::vector<Bytes> bodies;
  std::uint64_t bytesRead = 0;
  int otherMessages = 0;

 private:
  int fd = -1;
  bool peerClosed = false;
  RingBuffer ring{kStreamReceiveRing};
  StreamMessage message;
};
