#pragma once

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QUrlQuery>
#include <functional>
#include <map>
#include <string>

#include "web/web_access.h"

// The page and its two assets, from the program's own resources (nothing is read from the disk),
// and the answers to everything else a browser may ask: 403 for a wrong token, 503 for a live
// stream the server has no room for, 400 for a "/live" that is no WebSocket upgrade, 404 and 405.
// Every answer forbids caching, framing and referrers (the token is in the address) and closes
// the connection, so one connection carries one request.
class CWebHttpServer final : public QAbstractHttpServer {
  Q_OBJECT
 public:
  struct Gate {
    // The access a request's query gives.
    std::function<WebAccess(const QUrlQuery& query)> access;
    // Why the live stream has no room now ("16 pages connected"); empty while it has.
    std::function<std::string()> liveFull;
    // A "* Web client ..." line for a refusal.
    std::function<void(const std::string& line)> event;
  };

  explicit CWebHttpServer(Gate gate, QObject* parent = nullptr);

  // The body served for `path` ("/", "/panel.js", "/panel.css"); empty for anything else.
  QByteArray AssetBody(const QString& path) const;

 protected:
  bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
  void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

 private:
  struct Resource {
    QByteArray body;
    QByteArray type;
  };
  Gate gate;
  std::map<QString, Resource> assets;
};
