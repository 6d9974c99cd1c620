#include "link/network/client_socket.h"

#include <QTcpSocket>
#include <utility>

#include "link/network/stream_reader.h"

CClientSocket::CClientSocket(QTcpSocket* accepted, const FrameHandler& frameHandler,
                             std::function<void(CClientSocket*)> goneHandler)
    : socket(accepted), onFrame(frameHandler), onGone(std::move(goneHandler)) {
  const QHostAddress address = socket->peerAddress();
  // An IPv4 client of a dual-stack listener shows as ::ffff:a.b.c.d; the log gives it plainly.
  bool isV4 = false;
  const quint32 v4 = address.toIPv4Address(&isV4);
  peer = (isV4 ? QHostAddress(v4).toString() : address.toString()).toStdString() + ":" +
         std::to_string(socket->peerPort());
  socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
  QObject::connect(socket, &QTcpSocket::readyRead, socket, [this] { OnReceive(); });
  QObject::connect(socket, &QTcpSocket::disconnected, socket, [this] { onGone(this); });
  QObject::connect(socket, &QTcpSocket::errorOccurred, socket, [this](QAbstractSocket::SocketError) {
    if (socket->state() != QAbstractSocket::ConnectedState) onGone(this);
  });
}

CClientSocket::~CClientSocket() {
  // Disconnected first: abort() would report the disconnection back into a client being deleted.
  QObject::disconnect(socket, nullptr, nullptr, nullptr);
  socket->abort();
  socket->deleteLater();
}

bool CClientSocket::Send(const std::uint8_t* bytes, std::size_t count, const QueueLimits& limits,
                         std::chrono::steady_clock::time_point now) {
  const std::size_t queued = Queued() + count;
  if (queued > limits.max) return false;
  if (queued <= limits.slow) {
    slowSince.reset();
  } else if (!slowSince) {
    slowSince = now;
  } else if (now - *slowSince > limits.patience) {
    return false;
  }
  socket->write(reinterpret_cast<const char*>(bytes), static_cast<qint64>(count));
  // Qt hands the bytes to the system at the next pass of the event loop, one send for all the
  // frames queued meanwhile: under load that batching is what keeps up (a send per frame and
  // client costs several times the CPU on loopback).
  return true;
}

std::size_t CClientSocket::Queued() const {
  return static_cast<std::size_t>(socket->bytesToWrite());
}

void CClientSocket::OnReceive() {
  ReadStreamMessages(*socket, ring, message, [this](const StreamMessage& m) {
    if (m.type == kStreamTypeData && !m.body.empty() && onFrame) onFrame(m.body.data(), m.body.size());
  });
}
