#include "web/web_front_door.h"

#include <QSslSocket>
#include <QTimer>
#include <QUrl>
#include <memory>

namespace {

// Closes a socket from outside the signal being handled: the HTTP server frees its request in its
// handler of `disconnected`, which an abort() would emit right inside another of its handlers.
void AbortLater(QTcpSocket* socket) {
  QMetaObject::invokeMethod(
      socket, [socket] { socket->abort(); }, Qt::QueuedConnection);
}

}  // namespace

CWebFrontDoor::CWebFrontDoor(QObject* parent) : QTcpServer(parent) {}

void CWebFrontDoor::incomingConnection(qintptr handle) {
  QTcpSocket* socket = tls ? new QSslSocket(this) : new QTcpSocket(this);
  if (!socket->setSocketDescriptor(handle)) {
    delete socket;
    return;
  }
  if (waiting >= kMaxWaiting) {
    socket->abort();
    delete socket;
    return;
  }
  // Counts the connection while it lives in this server's hands; deleted when the live server
  // takes it, or with the socket.
  auto* ticket = new QObject(socket);
  ++waiting;
  connect(ticket, &QObject::destroyed, this, [this] { --waiting; });

  auto* deadline = new QTimer(ticket);
  deadline->setSingleShot(true);
  connect(deadline, &QTimer::timeout, socket, [socket] {
    socket->abort();
    socket->deleteLater();
  });
  deadline->start(kHeadTimeout);
  connect(socket, &QTcpSocket::disconnected, this, [socket] { socket->deleteLater(); });

  if (!tls) {
    WaitForRequestLine(socket, ticket);
    return;
  }
  auto* secure = static_cast<QSslSocket*>(socket);
  secure->setSslConfiguration(*tls);
  connect(secure, &QSslSocket::encrypted, this,
          [this, socket, ticket] { WaitForRequestLine(socket, ticket); });
  connect(secure, &QSslSocket::errorOccurred, this, [socket](QAbstractSocket::SocketError) {
    socket->abort();
    socket->deleteLater();
  });
  secure->startServerEncryption();
}

void CWebFrontDoor::WaitForRequestLine(QTcpSocket* socket, QObject* ticket) {
  connect(socket, &QTcpSocket::readyRead, this, [this, socket, ticket] { Route(socket, ticket); });
  // Bytes that came with the end of the TLS handshake raise no readyRead of their own.
  if (socket->bytesAvailable() > 0) Route(socket, ticket);
}

void CWebFrontDoor::Route(QTcpSocket* socket, QObject* ticket) {
  if (socket->state() != QAbstractSocket::ConnectedState) return;
  const QByteArray head = socket->peek(kMaxRequestLine + 2);
  const qsizetype end = head.indexOf("\r\n");
  if (end < 0) {
    if (head.size() > kMaxRequestLine) {
      socket->abort();
      socket->deleteLater();
    }
    return;
  }
  const QList<QByteArray> parts = head.left(end).split(' ');
  if (parts.size() != 3 || parts[0].isEmpty() || !parts[1].startsWith('/') ||
      !parts[2].startsWith("HTTP/1.")) {
    socket->abort();
    socket->deleteLater();
    return;
  }
  // From here on the socket belongs to the server that answers it.
  disconnect(socket, nullptr, this, nullptr);
  const QUrl target = QUrl::fromEncoded(parts[1]);
  if (parts[0] == "GET" && target.path() == QStringLiteral("/live") && liveRoute &&
      liveRoute(socket, target)) {
    delete ticket;
    return;
  }
  // The head deadline goes with the ticket's timer; the HTTP lifetime replaces it.
  for (QTimer* timer : ticket->findChildren<QTimer*>()) timer->stop();
  HandToHttp(socket);
}

void CWebFrontDoor::HandToHttp(QTcpSocket* socket) {
  // Counted as it arrives, before the HTTP server (connected later) reads it all: a request
  // whose body or header never ends cannot make the server's buffers grow past the budget.
  socket->setReadBufferSize(16 * 1024);
  auto received = std::make_shared<qint64>(0);
  connect(socket, &QTcpSocket::readyRead, socket, [socket, received] {
    *received += socket->bytesAvailable();
    if (*received > kMaxHttpBytes) AbortLater(socket);
  });
  QTimer::singleShot(kHttpLifetime, socket, [socket] { socket->abort(); });
  addPendingConnection(socket);
  // The request line is already buffered: no new readyRead would tell the HTTP server of it.
  emit socket->readyRead();
}

void CWebFrontDoor::AbortConnections() {
  for (QTcpSocket* socket : findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly)) socket->abort();
}
