#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrlQuery>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "web/backlog_rule.h"
#include "web/key_rate_limiter.h"
#include "web/web_access.h"
#include "web/web_panel_config.h"
#include "web/web_panel_host.h"

class CWebFrontDoor;
class CWebHttpServer;
class QTcpSocket;
class QUrl;
class QWebSocket;
class QWebSocketServer;

// The receiver's front panel as a web page: serves the page over HTTP (or HTTPS) and keeps every
// open page up to date over a WebSocket ("/live"): the rows, cursor, title, link state and lamp at
// once when a page joins and again after every change, and the newest log lines. Pages opened
// with the control token press keys through the host; the others only look on.
//
// The relay's rules hold for the pages: at most maxClients at once (the next is refused with 503),
// and a page that stops reading is dropped once its unread messages stay beyond the slow mark for
// the patience or pass the limit, so the others never wait for it. Every join, leave, refusal and
// drop is told to the host as a "* Web client ADDRESS:PORT ..." line. A page sends at most
// CKeyRateLimiter::kPerSecond keys a second; the surplus is dropped. Live streams are opened only
// from pages of this machine's own addresses (the Origin), so no other site can drive the panel.
//
// Threading: the UI thread; the host must outlive the panel.
class CWebPanel final : public QObject {
  Q_OBJECT
 public:
  static constexpr int kLogLines = 200;
  static constexpr CBacklogRule::Limits kPageLimits{64 * 1024, 1024 * 1024, std::chrono::milliseconds(2000)};

  CWebPanel(IWebPanelHost& host, WebPanelConfig config, QObject* parent = nullptr);
  ~CWebPanel() override;
  CWebPanel(const CWebPanel&) = delete;
  CWebPanel& operator=(const CWebPanel&) = delete;

  // Listens; false with `error` set (a sentence for the user) when the address needs both tokens,
  // the certificate or key cannot be read, or the address or port cannot be had.
  bool Start(std::string& error);
  // Closes every page and connection and stops listening. Safe to call more than once.
  void Stop();
  bool Running() const { return !door.isNull(); }

  // Something on the panel may have changed: the pages are sent the new state once the current
  // event has been handled (several changes in one go make one message).
  void PanelChanged();
  // One log line (without line end) for the pages' log view.
  void AddLogLine(const std::string& line);

  std::uint16_t Port() const;
  bool Tls() const;
  // The addresses to open: a page that looks on, one that presses keys (with the control token,
  // made up for this run when the settings have none).
  QString ViewUrl() const;
  QString ControlUrl() const;
  const WebPanelConfig& Config() const { return config; }

  int Pages() const { return static_cast<int>(pages.size()); }
  std::uint64_t DroppedPages() const { return droppedPages; }
  std::uint64_t DroppedKeys() const { return droppedKeys; }
  // For tests: the slow-page rule's marks.
  void SetPageLimits(const CBacklogRule::Limits& limits) { pageLimits = limits; }

 private:
  struct Page;

  WebAccess Access(const QUrlQuery& query) const;
  std::string LiveFull() const;
  QString BaseUrl() const;
  bool TakeLive(QTcpSocket* socket, const QUrl& target);
  void AddPage(QWebSocketServer* server, WebAccess access, const std::string& peer);
  void OnPageMessage(Page& page, const QString& message);
  void RemovePage(Page* page, const std::string& why);
  void Flush();
  void SendToAll(const QByteArray& message);
  void Tell(const std::string& line) { host.WebEvent(line); }

  IWebPanelHost& host;
  WebPanelConfig config;
  CBacklogRule::Limits pageLimits = kPageLimits;
  QPointer<CWebHttpServer> http;  // child of this while running
  QPointer<CWebFrontDoor> door;   // the HTTP server takes it as its child when bound to it
  std::vector<std::unique_ptr<Page>> pages;
  int handshakes = 0;  // live connections taken whose WebSocket handshake is under way
  QTimer flushTimer;
  bool stateSent = false;
  PanelSnapshot sent;
  std::deque<std::string> logLines;  // the newest kLogLines, for pages that join
  std::deque<std::string> newLines;  // not yet sent to the pages
  std::uint64_t droppedPages = 0;
  std::uint64_t droppedKeys = 0;
};
