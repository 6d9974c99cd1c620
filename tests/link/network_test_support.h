#pragma once

// Helpers for the loopback tests of the network link and the relay: waits that keep the Qt event
// loop turning (the sockets under test live on it), and stream message bytes to compare with.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <cstdint>
#include <functional>
#include <vector>

#include "link/protocol/kavo_packet.h"
#include "link/protocol/stream_message.h"

namespace nettest {

using Bytes = std::vector<std::uint8_t>;

// Turns the event loop until `done` holds or `ms` passed; returns `done()` at the end.
inline bool WaitUntil(const std::function<bool()>& done, int ms = 5000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

// Turns the event loop for `ms` (for "nothing more happens" checks).
inline void Spin(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

inline Bytes Frame(const KavoPacket& packet, int withChecksum) {
  Bytes frame(KavoFrameCapacity(packet.length));
  std::uint16_t length = 0;
  BuildFrame(packet, frame.data(), length, withChecksum);
  frame.resize(length);
  return frame;
}

inline KavoPacket Packet(std::uint8_t id, const Bytes& payload) {
  KavoPacket p;
  p.id = id;
  p.length = static_cast<std::uint16_t>(payload.size());
  for (std::size_t i = 0; i < payload.size(); ++i) p.data[i] = payload[i];
  return p;
}

inline Bytes Message(std::uint16_t type, const Bytes& body) {
  Bytes m = StreamMessageFor(body.data(), body.size());
  m[8] = static_cast<std::uint8_t>(type >> 8);
  m[9] = static_cast<std::uint8_t>(type);
  return m;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

inline void Write(QTcpSocket& socket, const Bytes& bytes) {
  socket.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
  socket.flush();
}

// Collects what a Qt socket receives.
struct Collector {
  explicit Collector(QTcpSocket& s) : socket(s) {
    QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] { Take(); });
    Take();  // what came before the collector did, its readyRead already gone
  }
  void Take() {
    const QByteArray got = socket.readAll();
    bytes.insert(bytes.end(), got.begin(), got.end());
  }
  QTcpSocket& socket;
  Bytes bytes;
};

inline bool ConnectTo(QTcpSocket& socket, std::uint16_t port) {
  socket.connectToHost(QStringLiteral("127.0.0.1"), port);
  return WaitUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; });
}

}  // namespace nettest
