// plowmail as the archiving chain runs it, against a real SMTP peer (aiosmtpd) on a loopback
// port that the test starts, and against relays that refuse or never answer.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "program_path.h"
#include "support/temp_dir.h"

namespace {

// Debian's interpreter carries python3-aiosmtpd; a python3 earlier on PATH may not.
QString Python() {
  return std::filesystem::exists("/usr/bin/python3") ? QStringLiteral("/usr/bin/python3")
                                                     : QStringLiteral("python3");
}

struct MailResult {
  bool finished = false;
  int exitCode = -1;
  std::string out, err;
  qint64 elapsedMs = 0;
};

MailResult RunMail(const std::vector<std::string>& args, int timeoutMs = 30000) {
  QStringList list;
  for (const auto& a : args) list << QString::fromStdString(a);
  QProcess process;
  QElapsedTimer timer;
  timer.start();
  process.start(QString::fromStdString(ProgramPath("plowmail")), list);
  MailResult r;
  if (!process.waitForStarted(10000)) return r;
  r.finished = process.waitForFinished(timeoutMs);
  if (!r.finished) {
    process.kill();
    process.waitForFinished(5000);
  }
  r.elapsedMs = timer.elapsed();
  r.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  r.out = process.readAllStandardOutput().toStdString();
  r.err = process.readAllStandardError().toStdString();
  return r;
}

// Binds port 0 on loopback; the socket stays open (listening when asked) until destruction.
class CLoopbackPort {
 public:
  explicit CLoopbackPort(bool listening) {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) != 0 || (listening && ::listen(fd, 4) != 0))
      return;
    port = ntohs(a.sin_port);
  }
  ~CLoopbackPort() {
    if (fd >= 0) ::close(fd);
  }
  CLoopbackPort(const CLoopbackPort&) = delete;
  CLoopbackPort& operator=(const CLoopbackPort&) = delete;
  int port = 0;

 private:
  int fd = -1;
};

// The SMTP peer: aiosmtpd on a socket the script binds to port 0 itself (no race for the port),
// which it prints as its first line. Every accepted message is appended to the mailbox file with
// its envelope; recipients starting with "reject" get a 550. It ends itself after two minutes.
constexpr const char* kSmtpPeer = R"py(
import asyncio, socket, sys
from aiosmtpd.smtp import SMTP

mailbox = sys.argv[1]

class Handler:
    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.startswith('reject'):
            return '550 5.1.1 mailbox unavailable'
        envelope.rcpt_tos.append(address)
        return '250 OK'

    async def handle_DATA(self, server, session, envelope):
        with open(mailbox, 'ab') as f:
            f.write(('MAIL FROM: %s\n' % envelope.mail_from).encode())
            for r in envelope.rcpt_tos:
                f.write(('RCPT TO: %s\n' % r).encode())
            f.write(envelope.original_content)
            f.write(b'<<END>>\n')
        return '250 Message accepted'

async def main():
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(('127.0.0.1', 0))
    loop = asyncio.get_running_loop()
    await loop.create_server(lambda: SMTP(Handler()), sock=s)
    print(s.getsockname()[1], flush=True)
    await asyncio.sleep(120)

asyncio.run(main())
)py";

class CSmtpPeer {
 public:
  explicit CSmtpPeer(const CTempDir& dir) : mailbox(dir / "mailbox.txt") {
    const std::string script = dir / "smtp_peer.py";
    std::ofstream(script) << kSmtpPeer;
    process.start(Python(), {QString::fromStdString(script), QString::fromStdString(mailbox)});
    if (!process.waitForStarted(10000)) return;
    QElapsedTimer timer;
    timer.start();
    while (!process.canReadLine() && timer.elapsed() < 15000 && process.state() == QProcess::Running)
      process.waitForReadyRead(500);
    if (process.canReadLine()) port = process.readLine().trimmed().toInt();
  }
  ~CSmtpPeer() {
    process.kill();
    process.waitForFinished(5000);
  }
  std::string Problem() { return process.readAllStandardError().toStdString(); }
  std::string Received() const { return ReadWholeFile(mailbox); }
  std::string Relay() const { return "127.0.0.1:" + std::to_string(port); }

  int port = 0;

 private:
  std::string mailbox;
  QProcess process;
};

std::vector<std::string> MailArgs(const std::string& relay, const std::string& to, const std::string& from,
                                  const std::string& subject, const std::string& body) {
  return {"-s", relay, "-t", to, "-f", from, "-h", "-a", subject, "-b", body};
}

bool OneLine(const std::string& text) {
  return !text.empty() && text.back() == '\n' && text.find('\n') == text.size() - 1;
}

TEST(PlowmailTest, ChainCommandLine_DeliversSubjectAndBody) {
  CTempDir dir;
  CSmtpPeer peer(dir);
  ASSERT_NE(peer.port, 0) << "SMTP peer did not start: " << peer.Problem();

  // The body carries line breaks and a line that begins with a dot, which SMTP must not eat.
  const std::string body =
      "Zip Error:\n zip.exe -9 -j /logs/A7031614.zip /logs/A7031614.dat = 12\n.kavo left";
  const MailResult r = RunMail(
      MailArgs(peer.Relay(), "ops@example.com", "plowview@example.com", "PLV: Had Zipping Error", body));
  ASSERT_TRUE(r.finished);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");

  const std::string mail = peer.Received();
  EXPECT_NE(mail.find("MAIL FROM: plowview@example.com\n"), std::string::npos) << mail;
  EXPECT_NE(mail.find("RCPT TO: ops@example.com\n"), std::string::npos) << mail;
  EXPECT_NE(mail.find("\r\nSubject: PLV: Had Zipping Error\r\n"), std::string::npos) << mail;
  EXPECT_NE(mail.find("\r\nFrom: plowview@example.com\r\n"), std::string::npos) << mail;
  EXPECT_NE(mail.find("\r\nTo: ops@example.com\r\n"), std::string::npos) << mail;
  EXPECT_NE(mail.find("\r\n\r\nZip Error:\r\n zip.exe -9 -j /logs/A7031614.zip /logs/A7031614.dat = 12\r\n"
                      ".kavo left\r\n<<END>>"),
            std::string::npos)
      << mail;
}

TEST(PlowmailTest, WindowsStyleTokens_QuotesAndBlanksStripped) {
  CTempDir dir;
  CSmtpPeer peer(dir);
  ASSERT_NE(peer.port, 0) << "SMTP peer did not start: " << peer.Problem();

  // The chain's argument strings as a Windows command line had them: leading blanks, quoted texts.
  const MailResult r = RunMail({" -s", peer.Relay(), " -t", "ops@example.com", " -f", "plowview@example.com",
                                " -h", " -a", "\"PLV: Logging to: /fields/north\"", " -b",
                                "\"The station with prefix N just uploaded the last file of the day\""});
  ASSERT_TRUE(r.finished);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const std::string mail = peer.Received();
  EXPECT_NE(mail.find("\r\nSubject: PLV: Logging to: /fields/north\r\n"), std::string::npos) << mail;
  EXPECT_NE(mail.find("\r\n\r\nThe station with prefix N just uploaded the last file of the day\r\n<<END>>"),
            std::string::npos)
      << mail;
}

TEST(PlowmailTest, AddressWithoutAt_SendsNothing) {
  CTempDir dir;
  CSmtpPeer peer(dir);
  ASSERT_NE(peer.port, 0) << "SMTP peer did not start: " << peer.Problem();

  struct Case {
    const char* to;
    const char* from;
  };
  for (const Case& c : {Case{"ops.example.com", "plowview@example.com"}, Case{"ops@example.com", "plowview"},
                        Case{"", "plowview@example.com"}}) {
    SCOPED_TRACE(std::string(c.to) + " / " + c.from);
    const MailResult r = RunMail(MailArgs(peer.Relay(), c.to, c.from, "PLV: x", "y"));
    ASSERT_TRUE(r.finished);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(OneLine(r.err)) << r.err;
    EXPECT_NE(r.err.find("'@'"), std::string::npos) << r.err;
  }
  EXPECT_EQ(peer.Received(), "");
}

TEST(PlowmailTest, RelayRejectingRecipient_FailsWithTheReply) {
  CTempDir dir;
  CSmtpPeer peer(dir);
  ASSERT_NE(peer.port, 0) << "SMTP peer did not start: " << peer.Problem();

  const MailResult r =
      RunMail(MailArgs(peer.Relay(), "reject@example.com", "plowview@example.com", "PLV: x", "y"));
  ASSERT_TRUE(r.finished);
  EXPECT_NE(r.exitCode, 0);
  EXPECT_TRUE(OneLine(r.err)) << r.err;
  EXPECT_NE(r.err.find("550"), std::string::npos) << r.err;
  EXPECT_EQ(peer.Received(), "");
}

TEST(PlowmailTest, RefusedOrSilentRelay_ExitsNonZeroWithReason) {
  {
    int closedPort = 0;
    {
      CLoopbackPort probe(false);
      closedPort = probe.port;
    }
    ASSERT_NE(closedPort, 0);
    const MailResult r = RunMail(MailArgs("127.0.0.1:" + std::to_string(closedPort), "ops@example.com",
                                          "plowview@example.com", "PLV: x", "y"));
    ASSERT_TRUE(r.finished);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(OneLine(r.err)) << r.err;
    EXPECT_NE(r.err.find("plowmail: "), std::string::npos) << r.err;
  }
  {
    // Accepts the connection (in the backlog) but never greets: only the time-out ends it.
    CLoopbackPort silent(true);
    ASSERT_NE(silent.port, 0);
    auto args = MailArgs("127.0.0.1:" + std::to_string(silent.port), "ops@example.com",
                         "plowview@example.com", "PLV: x", "y");
    args.insert(args.end(), {"--timeout", "2"});
    const MailResult r = RunMail(args, 20000);
    ASSERT_TRUE(r.finished) << "plowmail did not honour its time-out";
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(OneLine(r.err)) << r.err;
    EXPECT_LT(r.elapsedMs, 15000);
  }
}

TEST(PlowmailTest, BadCommandLines_AreRefusedBeforeConnecting) {
  const std::vector<std::vector<std::string>> cases = {
      {"-t", "ops@example.com", "-f", "plowview@example.com", "-a", "PLV: x", "-b", "y"},  // no relay
      {"-s", "127.0.0.1", "-f", "plowview@example.com"},                                   // no recipient
      {"-s", "127.0.0.1", "-t", "ops@example.com"},                                        // no sender
      {"-s", "evil.example/path", "-t", "ops@example.com", "-f", "plowview@example.com"},  // not a host
      {"-s", "127.0.0.1", "-t", "ops@example.com>x", "-f", "plowview@example.com"},  // breaks the envelope
      {"-s", "127.0.0.1", "-t", "ops@example.com", "-f", "plowview@example.com", "-x"},  // unknown option
      {"-s", "127.0.0.1", "-t", "ops@example.com", "-f", "plowview@example.com", "-b"},  // value missing
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args.back());
    const MailResult r = RunMail(args);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(OneLine(r.err)) << r.err;
  }
  const MailResult help = RunMail({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("-s RELAY"), std::string::npos);
}

}  // namespace
