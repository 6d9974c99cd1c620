#include "web/web_http_server.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpSocket>

namespace {

using Status = QHttpServerResponder::StatusCode;

// Scripts and styles only from the page's own address, the live stream only back to it, no
// frames: a page that shows a receiver's panel and presses its keys must not be embedded.
constexpr const char* kContentSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self'; "
    "frame-ancestors 'none'; base-uri 'none'; form-action 'none'";

std::string Peer(const QTcpSocket* socket) {
  bool isV4 = false;
  const quint32 v4 = socket->peerAddress().toIPv4Address(&isV4);
  const QString address = isV4 ? QHostAddress(v4).toString() : socket->peerAddress().toString();
  return address.toStdString() + ":" + std::to_string(socket->peerPort());
}

void Answer(const QHttpServerRequest& request, QTcpSocket* socket, QHttpServerResponder&& responder,
            Status status, const QByteArray& body, const QByteArray& type) {
  Q_UNUSED(request);
  responder.writeStatusLine(status);
  responder.writeHeader("Content-Type", type);
  responder.writeHeader("Content-Length", QByteArray::number(body.size()));
  responder.writeHeader("Cache-Control", "no-store");
  responder.writeHeader("X-Content-Type-Options", "nosniff");
  responder.writeHeader("X-Frame-Options", "DENY");
  responder.writeHeader("Referrer-Policy", "no-referrer");
  responder.writeHeader("Content-Security-Policy", kContentSecurityPolicy);
  responder.writeHeader("Connection", "close");
  responder.writeBody(body);
  // After the server has finished with the request: it still holds it when this returns.
  QMetaObject::invokeMethod(
      socket, [socket] { socket->disconnectFromHost(); }, Qt::QueuedConnection);
}

QByteArray LoadResource(const QString& name) {
  QFile file(QStringLiteral(":/web/") + name);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

CWebHttpServer::CWebHttpServer(Gate webGate, QObject* parent)
    : QAbstractHttpServer(parent), gate(std::move(webGate)) {
  assets[QStringLiteral("/")] = {LoadResource(QStringLiteral("index.html")), "text/html; charset=utf-8"};
  assets[QStringLiteral("/panel.js")] = {LoadResource(QStringLiteral("panel.js")),
                                         "text/javascript; charset=utf-8"};
  assets[QStringLiteral("/panel.css")] = {LoadResource(QStringLiteral("panel.css")),
                                          "text/css; charset=utf-8"};
}

QByteArray CWebHttpServer::AssetBody(const QString& path) const {
  const auto it = assets.find(path);
  return it == assets.end() ? QByteArray() : it->second.body;
}

bool CWebHttpServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
  auto reply = [&](Status status, const QByteArray& body,
                   const QByteArray& type = "text/plain; charset=utf-8") {
    Answer(request, socket, makeResponder(request, socket), status, body, type);
    return true;
  };
  if (request.method() != QHttpServerRequest::Method::Get)
    return reply(Status::MethodNotAllowed, "Only GET.\n");
  const QString path = request.url().path();
  const bool page = path == QStringLiteral("/") || path == QStringLiteral("/index.html");
  if (page || path == QStringLiteral("/live")) {
    if (gate.access && gate.access(request.query()) == WebAccess::Refused) {
      if (gate.event) gate.event("* Web client " + Peer(socket) + " refused: wrong token\n");
      return reply(Status::Forbidden, "Wrong or missing token.\n");
    }
  }
  if (path == QStringLiteral("/live")) {
    const std::string full = gate.liveFull ? gate.liveFull() : std::string();
    if (!full.empty()) {
      if (gate.event) gate.event("* Web client " + Peer(socket) + " refused: " + full + "\n");
      return reply(Status::ServiceUnavailable, "Too many pages are connected.\n");
    }
    return reply(Status::BadRequest, "The live stream is a WebSocket.\n");
  }
  const auto it = assets.find(page ? QStringLiteral("/") : path);
  if (it == assets.end()) return reply(Status::NotFound, "Not found.\n");
  return reply(Status::Ok, it->second.body, it->second.type);
}

void CWebHttpServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
  Answer(request, socket, makeResponder(request, socket), Status::NotFound, "Not found.\n",
         "text/plain; charset=utf-8");
}
