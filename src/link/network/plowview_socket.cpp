#include "link/network/plowview_socket.h"

#include <QTcpSocket>
#include <algorithm>
#include <utility>

#include "link/network/stream_reader.h"

CPlowviewSocket::CPlowviewSocket(Events handlers)
    : events(std::move(handlers)), socket(std::make_unique<QTcpSocket>()) {
  QObject::connect(socket.get(), &QTcpSocket::readyRead, socket.get(), [this] { OnReceive(); });
  QObject::connect(socket.get(), &QTcpSocket::connected, socket.get(), [this] { OnConnect(); });
  QObject::connect(socket.get(), &QTcpSocket::errorOccurred, socket.get(),
                   [this](QAbstractSocket::SocketError error) { OnError(error); });
  QObject::connect(socket.get(), &QTcpSocket::disconnected, socket.get(), [this] { OnDisconnected(); });
}

CPlowviewSocket::~CPlowviewSocket() {
  QObject::disconnect(socket.get(), nullptr, nullptr, nullptr);
  socket->abort();
}

bool CPlowviewSocket::Connect(const std::string& address, std::uint32_t port) {
  Close();
  if (address.empty() || port == 0 || port > 65535) return false;
  ring = RingBuffer(kStreamReceiveRing);
  state = State::Connecting;
  socket->connectToHost(QString::fromStdString(address), static_cast<quint16>(port));
  return true;
}

void CPlowviewSocket::Close() {
  // The state goes first: abort() reports the disconnection synchronously, and that report
  // must not reach the owner as a lost connection.
  state = State::Idle;
  socket->abort();
}

bool CPlowviewSocket::SendFrame(const std::uint8_t* frame, std::size_t count) {
  if (state == State::Idle || frame == nullptr || count > 0xFFFF) return false;
  std::uint8_t buffer[kStreamMaxDataMessage];
  std::unique_ptr<std::uint8_t[]> large;
  std::uint8_t* out = buffer;
  if (kStreamHeaderSize + count > sizeof buffer) {
    large = std::make_unique<std::uint8_t[]>(kStreamHeaderSize + count);
    out = large.get();
  }
  const std::size_t size = BuildStreamMessage(frame, count, out);
  // Write errors surface as errorOccurred; the sender is not told, as on a serial line.
  socket->write(reinterpret_cast<const char*>(out), static_cast<qint64>(size));
  return true;
}

void CPlowviewSocket::OnReceive() {
  ReadStreamMessages(*socket, ring, message, [this](const StreamMessage& m) {
    if (m.type == kStreamTypeData && !m.body.empty() && state == State::Up && events.onFrame)
      events.onFrame(m.body.data(), m.body.size());
  });
}

void CPlowviewSocket::OnConnect() {
  if (state != State::Connecting) return;
  state = State::Up;
  socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
  if (events.onConnect) events.onConnect(true);
}

void CPlowviewSocket::OnError(QAbstractSocket::SocketError /*error*/) {
  if (state == State::Connecting) {
    state = State::Idle;
    if (events.onConnect) events.onConnect(false);
  } else if (state == State::Up && socket->state() != QAbstractSocket::ConnectedState) {
    OnDisconnected();
  }
}

void CPlowviewSocket::OnDisconnected() {
  if (state != State::Up) return;
  state = State::Idle;
  if (events.onClose) events.onClose();
}
