#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "link/protocol/ring_buffer.h"
#include "link/protocol/stream_message.h"

class QTcpSocket;

// One connection accepted by the relay server. Outgoing: the relay's stream messages, queued by
// Qt until the peer reads them. Incoming: the client's stream messages; the body of each type-1
// message goes to `onFrame` (the link passes it on to the receiver), types 2 and 3 have no
// effect.
//
// Threading: UI thread only, like the server that owns it.
class CClientSocket {
 public:
  using FrameHandler = std::function<void(const std::uint8_t*, std::size_t)>;

  // Takes over `socket` (an accepted connection). `onFrame` and `onGone` must outlive the client;
  // `onGone` is called once when the peer closes or the connection breaks, from inside a socket
  // signal: it may delete the client.
  CClientSocket(QTcpSocket* socket, const FrameHandler& onFrame, std::function<void(CClientSocket*)> onGone);
  // Closes the connection; the Qt socket itself goes at the next event loop pass (it may be the
  // one whose signal is being handled), or with its parent.
  ~CClientSocket();
  CClientSocket(const CClientSocket&) = delete;
  CClientSocket& operator=(const CClientSocket&) = delete;

  // How far a peer may fall behind: beyond `slow` unsent bytes for longer than `patience`, or
  // beyond `max` at all, and it is given up.
  struct QueueLimits {
    std::size_t slow = 0;
    std::size_t max = 0;
    std::chrono::milliseconds patience{0};
  };

  // Queues `count` bytes for the peer, unless it has fallen too far behind by `limits` at `now`:
  // then it queues nothing and returns false.
  bool Send(const std::uint8_t* bytes, std::size_t count, const QueueLimits& limits,
            std::chrono::steady_clock::time_point now);
  // Bytes accepted by Send but not yet handed to the system.
  std::size_t Queued() const;
  // The peer's address and port, for the log.
  const std::string& Peer() const { return peer; }

 private:
  void OnReceive();

  QTcpSocket* socket;
  const FrameHandler& onFrame;
  std::function<void(CClientSocket*)> onGone;
  std::string peer;
  // Since when the queue has stayed beyond the slow mark; empty while below it.
  std::optional<std::chrono::steady_clock::time_point> slowSince;
  RingBuffer ring{kStreamReceiveRing};
  StreamMessage message;
};
