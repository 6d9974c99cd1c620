// The web panel in this process on loopback, against Qt's own WebSocket client and raw sockets:
// what a page gets when it joins, who may press keys, the refusals (token, origin, room), the
// page that stops reading, the bounds on what a browser may send, and HTTPS.

#include "web/web_panel.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

class CFakeHost final : public IWebPanelHost {
 public:
  PanelSnapshot Snapshot() const override { return snapshot; }
  void PressKey(int code) override { keys.push_back(code); }
  void PressEnter() override { keys.push_back(0); }
  void ReleaseEnter() override { keys.push_back(7); }
  void WebEvent(const std::string& line) override { events.push_back(line); }

  bool Told(const std::string& part) const {
    for (const std::string& e : events)
      if (e.find(part) != std::string::npos) return true;
    return false;
  }

  PanelSnapshot snapshot;
  std::vector<int> keys;
  std::vector<std::string> events;
};

bool WaitFor(int ms, const std::function<bool()>& done) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

// A page's live stream, as a browser on this machine opens it.
struct Page {
  explicit Page(std::uint16_t port, const QString& query = {}, const QString& origin = {}) {
    socket =
        std::make_unique<QWebSocket>(origin.isEmpty() ? QString("http://127.0.0.1:%1").arg(port) : origin);
    QObject::connect(socket.get(), &QWebSocket::textMessageReceived, [this](const QString& m) {
      messages.push_back(QJsonDocument::fromJson(m.toUtf8()).object());
    });
    socket->open(QUrl(QString("ws://127.0.0.1:%1/live%2").arg(port).arg(query)));
  }
  bool Open() {
    return WaitFor(5000, [this] { return socket->state() == QAbstractSocket::ConnectedState; });
  }
  int Count(const char* type) const {
    int n = 0;
    for (const QJsonObject& m : messages) n += m["t"].toString() == type;
    return n;
  }
  QJsonObject Last(const char* type) const {
    for (auto it = messages.rbegin(); it != messages.rend(); ++it)
      if ((*it)["t"].toString() == type) return *it;
    return {};
  }
  void Send(const char* json) { socket->sendTextMessage(QString::fromUtf8(json)); }

  std::unique_ptr<QWebSocket> socket;
  std::vector<QJsonObject> messages;
};

// Sends `request` on a fresh connection and returns all that came back before the server closed
// it (or the time ran out). The server lives on this thread: every wait runs its event loop.
std::string Exchange(std::uint16_t port, const QByteArray& request, int ms = 5000) {
  QTcpSocket socket;
  socket.connectToHost(QHostAddress::LocalHost, port);
  if (!WaitFor(3000, [&] { return socket.state() == QAbstractSocket::ConnectedState; }))
    return "(no connection)";
  socket.write(request);
  std::string reply;
  WaitFor(ms, [&] {
    reply += socket.readAll().toStdString();
    return socket.state() != QAbstractSocket::ConnectedState;
  });
  reply += socket.readAll().toStdString();
  return reply;
}

std::string StatusLine(const std::string& reply) {
  return reply.substr(0, reply.find("\r\n"));
}

QByteArray Get(const char* target) {
  return QByteArray("GET ") + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

QByteArray Upgrade(const char* target, const char* origin) {
  return QByteArray("GET ") + target +
         " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
         "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nOrigin: " +
         origin + "\r\n\r\n";
}

class WebPanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config.port = 0;
    config.controlToken = "c0ntrol";
    config.font.assign(256 * 5, 0);
    config.font[0xFF * 5] = 0xFF;
    host.snapshot.rows = {"Brisk Mote   RTK", "09-Dec  14:30:00"};
    host.snapshot.linkState = 3;
    host.snapshot.lcdLit = true;
    host.snapshot.title = "Plowview [1] - Brisk Mote";
  }
  void Start() {
    panel = std::make_unique<CWebPanel>(host, config);
    std::string error;
    ASSERT_TRUE(panel->Start(error)) << error;
    port = panel->Port();
  }
  QString Control() const { return "?token=c0ntrol"; }

  CFakeHost host;
  WebPanelConfig config;
  std::unique_ptr<CWebPanel> panel;
  std::uint16_t port = 0;
};

TEST_F(WebPanelTest, JoiningPage_GetsHelloStateAndTheNewestLogLinesAtOnce_ThenEachChangeOnce) {
  Start();
  for (int i = 0; i < 250; ++i) panel->AddLogLine("P line " + std::to_string(i));
  Page page(port);
  ASSERT_TRUE(page.Open());
  ASSERT_TRUE(WaitFor(5000, [&] { return page.Count("log") == 1; }));
  ASSERT_GE(page.messages.size(), 3u);
  EXPECT_EQ(page.messages[0]["t"].toString(), "hello");
  EXPECT_EQ(page.messages[0]["access"].toString(), "view");
  EXPECT_EQ(page.messages[0]["font"].toString().size(), 256 * 5 * 2);
  EXPECT_EQ(page.messages[1]["t"].toString(), "state");
  EXPECT_EQ(page.messages[1]["title"].toString(), "Plowview [1] - Brisk Mote");
  EXPECT_EQ(page.messages[1]["rows"].toArray()[0].toString(), QByteArray("Brisk Mote   RTK").toHex());
  const QJsonArray lines = page.Last("log")["lines"].toArray();
  ASSERT_EQ(lines.size(), CWebPanel::kLogLines);
  EXPECT_EQ(lines.first().toString(), "P line 50");
  EXPECT_EQ(lines.last().toString(), "P line 249");
  EXPECT_TRUE(host.Told("joined (view)"));

  // Three changes in one go make one state message; a call without a change makes none.
  host.snapshot.rows[1] = "09-Dec  14:30:01";
  panel->PanelChanged();
  host.snapshot.cursorOn = true;
  panel->PanelChanged();
  panel->AddLogLine("T new");
  panel->PanelChanged();
  ASSERT_TRUE(WaitFor(5000, [&] { return page.Count("state") == 2 && page.Count("log") == 2; }));
  EXPECT_EQ(page.Last("state")["cursor"].toArray()[0].toBool(), true);
  EXPECT_EQ(page.Last("log")["lines"].toArray(), QJsonArray{"T new"});
  panel->PanelChanged();
  WaitFor(200, [] { return false; });
  EXPECT_EQ(page.Count("state"), 2);
}

TEST_F(WebPanelTest, ControlPagePressesKeys_ViewPageIsIgnored_LeavingWithEnterHeldReleasesIt) {
  Start();
  Page control(port, Control());
  Page view(port);
  ASSERT_TRUE(control.Open());
  ASSERT_TRUE(view.Open());
  ASSERT_TRUE(WaitFor(5000, [&] { return control.Count("hello") == 1 && view.Count("hello") == 1; }));
  EXPECT_EQ(control.messages[0]["access"].toString(), "control");

  view.Send(R"({"t":"key","code":2})");
  view.Send(R"({"t":"enter","down":true})");
  control.Send(R"({"t":"key","code":2})");
  control.Send(R"({"t":"key","code":0})");  // not a key a page may send: ignored
  control.Send("not json at all");
  control.Send(R"({"t":"enter","down":true})");
  control.Send(R"({"t":"enter","down":true})");  // already down: one press
  ASSERT_TRUE(WaitFor(5000, [&] { return host.keys.size() >= 2; }));
  WaitFor(200, [] { return false; });
  EXPECT_EQ(host.keys, (std::vector<int>{2, 0}));

  // While a recording plays nothing is pressed, but a held Enter can still be let go.
  host.snapshot.keysAvailable = false;
  control.Send(R"({"t":"key","code":1})");
  control.Send(R"({"t":"enter","down":false})");
  ASSERT_TRUE(WaitFor(5000, [&] { return host.keys.size() >= 3; }));
  EXPECT_EQ(host.keys, (std::vector<int>{2, 0, 7}));

  host.snapshot.keysAvailable = true;
  control.Send(R"({"t":"enter","down":true})");
  ASSERT_TRUE(WaitFor(5000, [&] { return host.keys.size() >= 4; }));
  control.socket->close();
  ASSERT_TRUE(WaitFor(5000, [&] { return host.keys.size() >= 5; }));
  EXPECT_EQ(host.keys, (std::vector<int>{2, 0, 7, 0, 7}));
  EXPECT_TRUE(WaitFor(5000, [&] { return panel->Pages() == 1; }));
  EXPECT_TRUE(host.Told(" left"));
}

TEST_F(WebPanelTest, KeysBeyondTwentyASecond_AreDropped) {
  Start();
  Page control(port, Control());
  ASSERT_TRUE(control.Open());
  for (int i = 0; i < 30; ++i) control.Send(R"({"t":"key","code":1})");
  ASSERT_TRUE(WaitFor(5000, [&] { return host.keys.size() + panel->DroppedKeys() >= 30; }));
  // Thirty keys sent in far less than a second on a loaded machine still arrive within one.
  EXPECT_EQ(host.keys.size(), 20u);
  EXPECT_EQ(panel->DroppedKeys(), 10u);
}

TEST_F(WebPanelTest, WrongToken_Gets403AndIsLogged_PageAndStreamAlike) {
  config.viewToken = "l00k";
  Start();
  struct Case {
    QByteArray request;
    const char* status;
  };
  const Case cases[] = {
      {Get("/?token=wrong"), "HTTP/1.1 403"},
      {Get("/"), "HTTP/1.1 403"},  // with a view token set, looking on needs it
      {Get("/?token=l00k"), "HTTP/1.1 200"},
      {Get("/?token=c0ntrol"), "HTTP/1.1 200"},
      {Get("/?token=c%30ntrol"), "HTTP/1.1 200"},  // percent-encoded in the address
      {Upgrade("/live?token=wrong", "http://127.0.0.1"), "HTTP/1.1 403"},
      {Upgrade("/live", "http://127.0.0.1"), "HTTP/1.1 403"},
      {Get("/live?token=l00k"), ""},  // the stream only as a WebSocket: anything else is closed
      {Get("/panel.js"), "HTTP/1.1 200"},
      {Get("/nothing"), "HTTP/1.1 404"},
      {"POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\nabc", "HTTP/1.1 405"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(StatusLine(Exchange(port, c.request)).substr(0, 12), c.status) << c.request.toStdString();
  EXPECT_TRUE(host.Told("refused: wrong token"));
  EXPECT_EQ(
      std::count_if(host.events.begin(), host.events.end(),
                    [](const std::string& e) { return e.find("refused: wrong token") != std::string::npos; }),
      4);
  EXPECT_EQ(panel->Pages(), 0);
}

TEST_F(WebPanelTest, PageServed_WithItsAssetsAndHeadersThatKeepItToItself) {
  Start();
  const std::string page = Exchange(port, Get("/"));
  EXPECT_EQ(StatusLine(page), "HTTP/1.1 200 OK");
  EXPECT_NE(page.find("Content-Type: text/html"), std::string::npos);
  EXPECT_NE(page.find("Content-Security-Policy: default-src 'none'"), std::string::npos);
  EXPECT_NE(page.find("frame-ancestors 'none'"), std::string::npos);
  EXPECT_NE(page.find("Referrer-Policy: no-referrer"), std::string::npos);
  EXPECT_NE(page.find("Cache-Control: no-store"), std::string::npos);
  EXPECT_NE(page.find("<script src=\"panel.js\""), std::string::npos);
  const std::string script = Exchange(port, Get("/panel.js"));
  EXPECT_NE(script.find("text/javascript"), std::string::npos);
  EXPECT_NE(script.find("new WebSocket"), std::string::npos);
  EXPECT_NE(Exchange(port, Get("/panel.css")).find("text/css"), std::string::npos);
}

TEST_F(WebPanelTest, StreamFromAnotherOrigin_IsRefusedWithoutASwitch) {
  Start();
  const char* foreign[] = {"http://evil.example", "null", "http://127.0.0.1:1", "https://127.0.0.1"};
  for (const char* origin : foreign) {
    const std::string reply = Exchange(port, Upgrade("/live", origin));
    EXPECT_EQ(reply.find("101"), std::string::npos) << origin << ": " << reply;
    EXPECT_EQ(StatusLine(reply).rfind("HTTP/1.1 403", 0), 0u) << origin << ": " << reply;
  }
  const QByteArray own = "http://127.0.0.1:" + QByteArray::number(port);
  EXPECT_EQ(StatusLine(Exchange(port, Upgrade("/live", own.constData()), 500)),
            "HTTP/1.1 101 Switching Protocols");
  EXPECT_TRUE(host.Told("refused: origin http://evil.example"));
}

TEST_F(WebPanelTest, PagesBeyondMaxClients_AreRefusedWith503AndLogged) {
  config.maxClients = 2;
  Start();
  Page one(port), two(port);
  ASSERT_TRUE(one.Open());
  ASSERT_TRUE(two.Open());
  EXPECT_EQ(StatusLine(Exchange(port, Upgrade("/live", "http://127.0.0.1"))),
            "HTTP/1.1 503 Service Unavailable");
  EXPECT_TRUE(host.Told("refused: 2 pages connected"));
  two.socket->close();
  ASSERT_TRUE(WaitFor(5000, [&] { return panel->Pages() == 1; }));
  Page three(port);
  EXPECT_TRUE(three.Open());
}

// A page whose reader stopped: the socket never reads, with a small receive window.
int StalledPage(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  int small = 4096;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return -1;
  const QByteArray request = Upgrade("/live", ("http://127.0.0.1:" + std::to_string(port)).c_str());
  if (::write(fd, request.constData(), static_cast<std::size_t>(request.size())) != request.size()) return -1;
  return fd;
}

TEST_F(WebPanelTest, PageThatStopsReading_IsDroppedAndLogged_TheOthersKeepUp) {
  Start();
  panel->SetPageLimits({16 * 1024, 256 * 1024, std::chrono::milliseconds(300)});
  Page good(port);
  ASSERT_TRUE(good.Open());
  const int stalled = StalledPage(port);
  ASSERT_GE(stalled, 0);
  ASSERT_TRUE(WaitFor(5000, [&] { return panel->Pages() == 2; }));

  const std::string filler(300, 'x');
  int batches = 0;
  ASSERT_TRUE(WaitFor(60000,
                      [&] {
                        for (int i = 0; i < 40; ++i) panel->AddLogLine(filler);
                        ++batches;
                        return panel->DroppedPages() == 1;
                      }))
      << "still " << panel->Pages() << " pages after " << batches << " batches";
  ::close(stalled);
  EXPECT_EQ(panel->Pages(), 1);
  EXPECT_TRUE(host.Told(" dropped: "));
  EXPECT_TRUE(host.Told(" bytes behind"));
  // The reading page got every batch sent meanwhile.
  EXPECT_TRUE(WaitFor(10000, [&] { return good.Count("log") >= batches; }))
      << good.Count("log") << " of " << batches;
  EXPECT_EQ(good.socket->state(), QAbstractSocket::ConnectedState);
}

TEST_F(WebPanelTest, UntrustedBytes_OverlongLinesAndEndlessRequestsAreCut) {
  Start();
  struct Case {
    QByteArray request;
    bool answered;
  };
  const Case cases[] = {
      {"GET /" + QByteArray(5000, 'a') + " HTTP/1.1\r\n\r\n", false},  // request line beyond the bound
      {"HELLO\r\n\r\n", false},
      {"GET / HTTP/2\r\n\r\n", false},
      {"GET nothing HTTP/1.1\r\n\r\n", false},
      // A header that never ends: the byte budget closes it before the server buffers it all.
      {"GET / HTTP/1.1\r\nX: " + QByteArray(200 * 1024, 'b'), false},
  };
  for (const Case& c : cases) {
    const std::string reply = Exchange(port, c.request, 3000);
    EXPECT_EQ(reply.rfind("HTTP/1.1", 0) == 0, c.answered)
        << c.request.left(40).toStdString() << ": " << reply;
  }
  // Still serving.
  EXPECT_EQ(StatusLine(Exchange(port, Get("/"))), "HTTP/1.1 200 OK");
}

TEST_F(WebPanelTest, StopWithConnectionsOpen_ClosesThemAll) {
  Start();
  Page page(port, Control());
  ASSERT_TRUE(page.Open());
  page.Send(R"({"t":"enter","down":true})");
  ASSERT_TRUE(WaitFor(5000, [&] { return host.keys.size() == 1; }));
  QTcpSocket waiting, half;
  waiting.connectToHost(QHostAddress::LocalHost, port);  // no request line yet
  half.connectToHost(QHostAddress::LocalHost, port);
  ASSERT_TRUE(WaitFor(3000, [&] {
    return waiting.state() == QAbstractSocket::ConnectedState &&
           half.state() == QAbstractSocket::ConnectedState;
  }));
  half.write("GET / HTTP/1.1\r\nHost: x\r\n");  // with the HTTP server, its request unfinished
  WaitFor(300, [] { return false; });
  panel->Stop();
  EXPECT_FALSE(panel->Running());
  EXPECT_EQ(host.keys, (std::vector<int>{0, 7}));  // the held Enter let go
  EXPECT_TRUE(WaitFor(5000, [&] {
    return page.socket->state() == QAbstractSocket::UnconnectedState &&
           waiting.state() == QAbstractSocket::UnconnectedState &&
           half.state() == QAbstractSocket::UnconnectedState;
  }));
  std::string error;
  EXPECT_TRUE(panel->Start(error)) << error;  // and starts again
}

TEST(WebPanelStart, RefusesNetworkAddressesWithoutBothTokens_AndBadAddressesOrTls) {
  CFakeHost host;
  struct Case {
    const char* bind;
    const char* control;
    const char* view;
    const char* certificate;
    bool starts;
    const char* said;
  };
  const Case cases[] = {
      {"0.0.0.0", "c", "", "", false, "ControlToken and ViewToken"},
      {"", "", "v", "", false, "every address"},
      {"0.0.0.0", "c", "v", "", true, ""},
      {"127.0.0.1", "", "", "", true, ""},
      {"localhost", "", "", "", true, ""},
      {"no.such.address", "c", "v", "", false, "is not an address"},
      {"127.0.0.1", "", "", "/no/such/cert.pem", false, "needs both Certificate and Key"},
  };
  for (const Case& c : cases) {
    WebPanelConfig config;
    config.port = 0;
    config.bindAddress = c.bind;
    config.controlToken = c.control;
    config.viewToken = c.view;
    config.certificate = c.certificate;
    CWebPanel panel(host, config);
    std::string error;
    EXPECT_EQ(panel.Start(error), c.starts) << c.bind << " " << error;
    EXPECT_NE(error.find(c.said), std::string::npos) << error;
    if (c.starts) {
      // Without a control token one is made up for the run, and it works.
      EXPECT_NE(panel.ControlUrl().indexOf("?token="), -1);
      EXPECT_FALSE(panel.Config().controlToken.empty());
    }
  }
}

TEST(WebPanelStart, PortInUse_IsSaid) {
  CFakeHost host;
  QTcpServer taken;
  ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
  WebPanelConfig config;
  config.port = taken.serverPort();
  CWebPanel panel(host, config);
  std::string error;
  EXPECT_FALSE(panel.Start(error));
  EXPECT_NE(error.find("cannot listen on 127.0.0.1 port " + std::to_string(config.port)), std::string::npos)
      << error;
}

TEST(WebPanelTls, WithCertificateAndKey_ServesHttpsAndWssOnly) {
  CTempDir dir;
  QProcess openssl;
  openssl.start("openssl",
                {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                 "-keyout", QString::fromStdString(dir / "key.pem"), "-out",
                 QString::fromStdString(dir / "cert.pem"), "-days", "2", "-subj", "/CN=127.0.0.1"});
  ASSERT_TRUE(openssl.waitForFinished(30000) && openssl.exitCode() == 0)
      << openssl.readAllStandardError().toStdString();

  CFakeHost host;
  WebPanelConfig config;
  config.port = 0;
  config.controlToken = "c0ntrol";
  config.certificate = dir / "cert.pem";
  config.key = dir / "key.pem";
  CWebPanel panel(host, config);
  std::string error;
  ASSERT_TRUE(panel.Start(error)) << error;
  EXPECT_TRUE(panel.ViewUrl().startsWith("https://127.0.0.1:"));

  QSslSocket secure;
  secure.setPeerVerifyMode(QSslSocket::VerifyNone);
  secure.connectToHostEncrypted("127.0.0.1", panel.Port());
  ASSERT_TRUE(WaitFor(10000, [&] { return secure.isEncrypted(); })) << secure.errorString().toStdString();
  secure.write(Get("/"));
  std::string reply;
  WaitFor(10000, [&] {
    reply += secure.readAll().toStdString();
    return reply.find("</html>") != std::string::npos;
  });
  EXPECT_EQ(StatusLine(reply), "HTTP/1.1 200 OK");

  // Plain HTTP gets no page.
  EXPECT_EQ(Exchange(panel.Port(), Get("/"), 2000).find("HTTP/1.1 200"), std::string::npos);

  QWebSocket page(QString("https://127.0.0.1:%1").arg(panel.Port()));
  QSslConfiguration trustAnything = QSslConfiguration::defaultConfiguration();
  trustAnything.setPeerVerifyMode(QSslSocket::VerifyNone);
  page.setSslConfiguration(trustAnything);
  std::vector<QString> messages;
  QObject::connect(&page, &QWebSocket::textMessageReceived, [&](const QString& m) { messages.push_back(m); });
  page.open(QUrl(QString("wss://127.0.0.1:%1/live?token=c0ntrol").arg(panel.Port())));
  ASSERT_TRUE(WaitFor(10000, [&] { return !messages.empty(); }));
  EXPECT_TRUE(messages.front().contains("\"access\":\"control\""));
}

}  // namespace
