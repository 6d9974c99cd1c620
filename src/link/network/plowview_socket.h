#pragma once

#include <QAbstractSocket>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/protocol/ring_buffer.h"
#include "link/protocol/stream_message.h"

class QTcpSocket;

// The network client link: one TCP connection to a server that carries a receiver's packets as
// type-1 stream messages (another instance's relay server, or plowsim --tcp), used like a serial
// line. What the far end sends is reassembled in a receive ring; every type-1 body goes to
// `onFrame`, types 2 and 3 are taken off the stream and ignored, a corrupt stream resynchronises
// byte by byte.
//
// Threading: lives on the thread that created it (the UI thread); every call and every callback
// happens there, from the event loop. Callbacks may call Close but must not delete the socket.
class CPlowviewSocket {
 public:
  struct Events {
    // The body of each type-1 message with a non-zero length (one wire frame). The bytes are
    // valid only during the call.
    std::function<void(const std::uint8_t*, std::size_t)> onFrame;
    // The connection attempt ended: true connected, false refused, unreachable or unresolvable.
    std::function<void(bool)> onConnect;
    // An established connection ended without Close: the server closed it, or it broke.
    std::function<void()> onClose;
  };

  explicit CPlowviewSocket(Events events);
  ~CPlowviewSocket();
  CPlowviewSocket(const CPlowviewSocket&) = delete;
  CPlowviewSocket& operator=(const CPlowviewSocket&) = delete;

  // Drops any earlier connection and starts connecting to `address`:`port` (a name or a numeric
  // address). False, with nothing pending, when the port is outside 1..65535 or the address is
  // empty; otherwise the outcome arrives through onConnect.
  bool Connect(const std::string& address, std::uint32_t port);
  // Ends the connection, or the attempt, without any callback. Bytes not yet sent are dropped.
  void Close();
  // Sends `count` bytes (one frame) as one type-1 message. False when there is no connection
  // or attempt to queue it on, or `count` does not fit a message.
  bool SendFrame(const std::uint8_t* frame, std::size_t count);

  bool IsConnected() const { return state == State::Up; }
  // Bytes received but not (yet) part of a whole message; for tests.
  std::uint32_t BufferedBytes() const { return ring.Used(); }

 private:
  enum class State { Idle, Connecting, Up };

  void OnReceive();
  void OnConnect();
  void OnError(QAbstractSocket::SocketError error);
  void OnDisconnected();

  Events events;
  std::unique_ptr<QTcpSocket> socket;
  State state = State::Idle;
  RingBuffer ring{kStreamReceiveRing};
  StreamMessage message;
};
