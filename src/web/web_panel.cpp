#include "web/web_panel.h"

#include <QFile>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTcpSocket>
#include <QUrl>
#include <QWebSocket>
#include <QWebSocketCorsAuthenticator>
#include <QWebSocketServer>
#include <algorithm>

#include "web/web_front_door.h"
#include "web/web_http_server.h"
#include "web/web_messages.h"

struct CWebPanel::Page {
  QWebSocket* socket = nullptr;  // child of the panel
  WebAccess access = WebAccess::View;
  std::string peer;
  CKeyRateLimiter keys;
  CBacklogRule backlog;
  bool enterDown = false;
};

namespace {

std::string PeerOf(const QTcpSocket* socket) {
  bool isV4 = false;
  const quint32 v4 = socket->peerAddress().toIPv4Address(&isV4);
  const QString address = isV4 ? QHostAddress(v4).toString() : socket->peerAddress().toString();
  return address.toStdString() + ":" + std::to_string(socket->peerPort());
}

// Text a browser sent, fit for one log line.
std::string Printable(const QString& text) {
  std::string out;
  for (const QChar c : text.left(80))
    out.push_back(c.unicode() >= 0x20 && c.unicode() < 0x7F ? char(c.unicode()) : '?');
  return out;
}

bool ReadTls(const WebPanelConfig& config, QSslConfiguration& tls, std::string& error) {
  const QList<QSslCertificate> chain =
      QSslCertificate::fromPath(QString::fromStdString(config.certificate), QSsl::Pem);
  if (chain.isEmpty() || chain.first().isNull()) {
    error = "The web panel cannot read the certificate " + config.certificate + " (a PEM file is needed).";
    return false;
  }
  QFile keyFile(QString::fromStdString(config.key));
  if (!keyFile.open(QIODevice::ReadOnly)) {
    error = "The web panel cannot read the key " + config.key + ".";
    return false;
  }
  const QByteArray pem = keyFile.readAll();
  QSslKey key;
  for (QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
    key = QSslKey(pem, algorithm, QSsl::Pem);
    if (!key.isNull()) break;
  }
  if (key.isNull()) {
    error = "The web panel cannot read the key " + config.key + " (an unencrypted PEM key is needed).";
    return false;
  }
  tls = QSslConfiguration::defaultConfiguration();
  tls.setLocalCertificateChain(chain);
  tls.setPrivateKey(key);
  tls.setPeerVerifyMode(QSslSocket::VerifyNone);
  return true;
}

}  // namespace

CWebPanel::CWebPanel(IWebPanelHost& hostRef, WebPanelConfig panelConfig, QObject* parent)
    : QObject(parent), host(hostRef), config(std::move(panelConfig)) {
  config.maxClients = std::clamp(config.maxClients, 1, WebPanelConfig::kMaxMaxClients);
  flushTimer.setSingleShot(true);
  flushTimer.setInterval(0);
  connect(&flushTimer, &QTimer::timeout, this, &CWebPanel::Flush);
}

CWebPanel::~CWebPanel() {
  Stop();
}

bool CWebPanel::Start(std::string& error) {
  Stop();
  const bool loopback = IsLoopbackAddress(config.bindAddress);
  if (!loopback && (config.controlToken.empty() || config.viewToken.empty())) {
    error = "The web panel would be open to the network on " +
            (config.bindAddress.empty() ? std::string("every address") : config.bindAddress) +
            ": set both ControlToken and ViewToken in section [WebPanel] of the settings file, or "
            "BindAddress=127.0.0.1.";
    return false;
  }
  QHostAddress address(QHostAddress::Any);
  if (config.bindAddress == "localhost") {
    address = QHostAddress(QHostAddress::LocalHost);
  } else if (!config.bindAddress.empty() && !address.setAddress(QString::fromStdString(config.bindAddress))) {
    error = "The web panel's BindAddress " + config.bindAddress + " is not an address.";
    return false;
  }
  std::optional<QSslConfiguration> tls;
  if (!config.certificate.empty() || !config.key.empty()) {
    if (config.certificate.empty() || config.key.empty()) {
      error = "The web panel needs both Certificate and Key for HTTPS.";
      return false;
    }
    QSslConfiguration configuration;
    if (!ReadTls(config, configuration, error)) return false;
    tls = configuration;
  }
  if (config.controlToken.empty()) config.controlToken = MakeRandomToken();

  door = new CWebFrontDoor(this);
  door->SetTls(tls);
  door->SetLiveRoute([this](QTcpSocket* socket, const QUrl& target) { return TakeLive(socket, target); });
  if (!door->listen(address, config.port)) {
    error = "The web panel cannot listen on " + address.toString().toStdString() + " port " +
            std::to_string(config.port) + ": " + door->errorString().toStdString() + ".";
    delete door;
    return false;
  }
  CWebHttpServer::Gate gate;
  gate.access = [this](const QUrlQuery& query) { return Access(query); };
  gate.liveFull = [this] { return LiveFull(); };
  gate.event = [this](const std::string& line) { Tell(line); };
  http = new CWebHttpServer(std::move(gate), this);
  http->bind(door);
  return true;
}

void CWebPanel::Stop() {
  flushTimer.stop();
  for (auto& page : pages) {
    if (page->enterDown) host.ReleaseEnter();
    QObject::disconnect(page->socket, nullptr, this, nullptr);
    page->socket->abort();
    delete page->socket;
  }
  pages.clear();
  // Handshakes under way go first: their servers hold sockets the door is about to delete.
  for (QWebSocketServer* server : findChildren<QWebSocketServer*>(Qt::FindDirectChildrenOnly)) delete server;
  if (door) {
    door->close();
    // The HTTP server frees each request as its connection reports the disconnection.
    door->AbortConnections();
  }
  delete http;
  delete door;  // unless it went with the HTTP server
  stateSent = false;
}

WebAccess CWebPanel::Access(const QUrlQuery& query) const {
  std::optional<std::string> token;
  if (query.hasQueryItem(QStringLiteral("token")))
    token = query.queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded).toStdString();
  return AccessForToken(token, config.controlToken, config.viewToken);
}

std::string CWebPanel::LiveFull() const {
  if (static_cast<int>(pages.size()) + handshakes < config.maxClients) return {};
  return std::to_string(pages.size()) + " pages connected";
}

bool CWebPanel::TakeLive(QTcpSocket* socket, const QUrl& target) {
  const WebAccess access = Access(QUrlQuery(target));
  // The HTTP server answers (403, 503) and tells why.
  if (access == WebAccess::Refused || !LiveFull().empty()) return false;
  const std::string peer = PeerOf(socket);
  // One handshake server per connection, so the origin check knows whose request it judges.
  auto* server = new QWebSocketServer(QStringLiteral("Plowview"), QWebSocketServer::NonSecureMode, this);
  ++handshakes;
  connect(server, &QObject::destroyed, this, [this] { --handshakes; });
  connect(server, &QWebSocketServer::originAuthenticationRequired, this,
          [this, peer](QWebSocketCorsAuthenticator* authenticator) {
            const bool allowed = OriginAllowed(authenticator->origin(), LocalHostNames(), Port(), Tls());
            authenticator->setAllowed(allowed);
            if (!allowed)
              Tell("* Web client " + peer + " refused: origin " + Printable(authenticator->origin()) + "\n");
          });
  connect(server, &QWebSocketServer::newConnection, this,
          [this, server, access, peer] { AddPage(server, access, peer); });
  // A handshake that fails or never comes ends with the socket; its server goes with it.
  connect(socket, &QObject::destroyed, server, &QObject::deleteLater);
  server->handleConnection(socket);
  return true;
}

void CWebPanel::AddPage(QWebSocketServer* server, WebAccess access, const std::string& peer) {
  QWebSocket* socket = server->nextPendingConnection();
  server->deleteLater();
  if (!socket) return;
  socket->setParent(this);
  socket->setMaxAllowedIncomingFrameSize(WebMessages::kMaxPageMessage);
  socket->setMaxAllowedIncomingMessageSize(WebMessages::kMaxPageMessage);
  auto page = std::make_unique<Page>();
  page->socket = socket;
  page->access = access;
  page->peer = peer;
  Page* p = page.get();
  pages.push_back(std::move(page));
  connect(socket, &QWebSocket::textMessageReceived, this,
          [this, p](const QString& m) { OnPageMessage(*p, m); });
  connect(socket, &QWebSocket::disconnected, this, [this, p] { RemovePage(p, "left"); });
  Tell("* Web client " + peer + " joined (" + (access == WebAccess::Control ? "control" : "view") + ")\n");
  // Everything a page needs at once: it draws the panel before the next change comes.
  socket->sendTextMessage(QString::fromUtf8(WebMessages::Hello(access, config.font, kLogLines)));
  socket->sendTextMessage(QString::fromUtf8(WebMessages::State(host.Snapshot())));
  if (!logLines.empty()) socket->sendTextMessage(QString::fromUtf8(WebMessages::Log(logLines)));
}

void CWebPanel::OnPageMessage(Page& page, const QString& message) {
  const auto command = WebMessages::ParsePageMessage(message.toUtf8());
  if (!command || page.access != WebAccess::Control) return;
  using Kind = WebMessages::PageCommand::Kind;
  // A held Enter is always let go, whatever the rate and the playback.
  if (command->kind == Kind::EnterUp) {
    if (!page.enterDown) return;
    page.enterDown = false;
    host.ReleaseEnter();
    return;
  }
  if (!host.Snapshot().keysAvailable) return;
  if (command->kind == Kind::EnterDown && page.enterDown) return;
  if (!page.keys.Allow(CKeyRateLimiter::Clock::now())) {
    ++droppedKeys;
    return;
  }
  if (command->kind == Kind::EnterDown) {
    page.enterDown = true;
    host.PressEnter();
  } else {
    host.PressKey(command->code);
  }
}

void CWebPanel::RemovePage(Page* page, const std::string& why) {
  const auto it = std::find_if(pages.begin(), pages.end(), [page](const auto& p) { return p.get() == page; });
  if (it == pages.end()) return;
  std::unique_ptr<Page> gone = std::move(*it);
  pages.erase(it);
  QObject::disconnect(gone->socket, nullptr, this, nullptr);
  gone->socket->abort();
  // Possibly inside one of its own signals.
  gone->socket->deleteLater();
  if (gone->enterDown) host.ReleaseEnter();
  Tell("* Web client " + gone->peer + " " + why + "\n");
}

void CWebPanel::PanelChanged() {
  if (door && !flushTimer.isActive()) flushTimer.start();
}

void CWebPanel::AddLogLine(const std::string& line) {
  logLines.push_back(line);
  if (logLines.size() > static_cast<std::size_t>(kLogLines)) logLines.pop_front();
  if (!door) return;
  newLines.push_back(line);
  if (newLines.size() > static_cast<std::size_t>(kLogLines)) newLines.pop_front();
  if (!flushTimer.isActive()) flushTimer.start();
}

void CWebPanel::Flush() {
  const PanelSnapshot snapshot = host.Snapshot();
  if (!stateSent || snapshot != sent) {
    sent = snapshot;
    stateSent = true;
    SendToAll(WebMessages::State(snapshot));
  }
  if (!newLines.empty()) {
    SendToAll(WebMessages::Log(newLines));
    newLines.clear();
  }
}

void CWebPanel::SendToAll(const QByteArray& message) {
  if (pages.empty()) return;
  const QString text = QString::fromUtf8(message);
  const auto now = CBacklogRule::Clock::now();
  std::vector<Page*> behind;
  for (const auto& page : pages) {
    const auto queued =
        static_cast<std::size_t>(page->socket->bytesToWrite()) + static_cast<std::size_t>(message.size());
    if (!page->backlog.MayQueue(queued, pageLimits, now)) {
      behind.push_back(page.get());
      continue;
    }
    page->socket->sendTextMessage(text);
  }
  for (Page* page : behind) {
    ++droppedPages;
    RemovePage(page, "dropped: " + std::to_string(page->socket->bytesToWrite()) + " bytes behind");
  }
}

std::uint16_t CWebPanel::Port() const {
  return door ? door->serverPort() : 0;
}

bool CWebPanel::Tls() const {
  return door && door->Tls();
}

QString CWebPanel::BaseUrl() const {
  QHostAddress address = door ? door->serverAddress() : QHostAddress(QHostAddress::LocalHost);
  if (address == QHostAddress::Any || address == QHostAddress::AnyIPv4 || address == QHostAddress::AnyIPv6) {
    // Listening everywhere: the address a phone on the same network would use.
    address = QHostAddress(QHostAddress::LocalHost);
    for (const QNetworkInterface& nic : QNetworkInterface::allInterfaces()) {
      if (!(nic.flags() & QNetworkInterface::IsUp) || (nic.flags() & QNetworkInterface::IsLoopBack)) continue;
      for (const QNetworkAddressEntry& entry : nic.addressEntries()) {
        if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol) {
          address = entry.ip();
          break;
        }
      }
      if (address != QHostAddress(QHostAddress::LocalHost)) break;
    }
  }
  QUrl url;
  url.setScheme(Tls() ? QStringLiteral("https") : QStringLiteral("http"));
  url.setHost(address.toString());
  url.setPort(Port());
  url.setPath(QStringLiteral("/"));
  return url.toString();
}

QString CWebPanel::ViewUrl() const {
  if (config.viewToken.empty()) return BaseUrl();
  return BaseUrl() + QStringLiteral("?token=") +
         QString::fromLatin1(QUrl::toPercentEncoding(QString::fromStdString(config.viewToken)));
}

QString CWebPanel::ControlUrl() const {
  return BaseUrl() + QStringLiteral("?token=") +
         QString::fromLatin1(QUrl::toPercentEncoding(QString::fromStdString(config.controlToken)));
}
