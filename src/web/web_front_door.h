#pragma once

#include <QSslConfiguration>
#include <QTcpServer>
#include <chrono>
#include <functional>
#include <optional>

class QTcpSocket;
class QUrl;

// The web panel's listening socket. Each connection is taken through TLS first when a
// configuration is set, then waits until its request line is in (read without consuming it) and
// is handed on whole: a "GET /live" that the live route takes goes to the live stream server,
// everything else to the HTTP server bound to this one (QAbstractHttpServer::bind), which reads the
// request itself.
//
// Bounds, since every connection is untrusted: at most kMaxWaiting connections waiting for their
// request line or served by HTTP at once (the live pages are bounded by the live server); the TLS
// handshake and the request line within kHeadTimeout; an HTTP connection lives at most
// kHttpLifetime and may send at most kMaxHttpBytes. A request line longer than kMaxRequestLine or
// not of the form "METHOD TARGET HTTP/1.x" closes the connection.
//
// Threading: the UI thread, like every Qt socket of the program.
class CWebFrontDoor final : public QTcpServer {
  Q_OBJECT
 public:
  static constexpr qsizetype kMaxRequestLine = 4096;
  static constexpr std::chrono::milliseconds kHeadTimeout{10000};
  static constexpr std::chrono::milliseconds kHttpLifetime{30000};
  static constexpr qint64 kMaxHttpBytes = 64 * 1024;
  static constexpr int kMaxWaiting = 64;

  // Offered every "GET /live..." connection with its request target; true when it took the
  // socket (it then owns it), false to let the HTTP server answer it.
  using LiveRoute = std::function<bool(QTcpSocket* socket, const QUrl& target)>;

  explicit CWebFrontDoor(QObject* parent = nullptr);

  void SetTls(std::optional<QSslConfiguration> configuration) { tls = std::move(configuration); }
  bool Tls() const { return tls.has_value(); }
  void SetLiveRoute(LiveRoute route) { liveRoute = std::move(route); }

  // Connections that wait for their request line or are served by HTTP.
  int Waiting() const { return waiting; }
  // Closes every connection still in this server's hands (waiting or served by HTTP).
  void AbortConnections();

 protected:
  void incomingConnection(qintptr handle) override;

 private:
  void WaitForRequestLine(QTcpSocket* socket, QObject* ticket);
  void Route(QTcpSocket* socket, QObject* ticket);
  void HandToHttp(QTcpSocket* socket);

  std::optional<QSslConfiguration> tls;
  LiveRoute liveRoute;
  int waiting = 0;
};
