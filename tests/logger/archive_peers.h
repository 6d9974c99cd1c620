#pragma once

// Loopback FTP and SMTP peers for the archiving tests, started from Debian's python3 with
// pyftpdlib and aiosmtpd, and the zip listing as `unzip -l` gives it.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace archivetest {

inline std::string ProgramPath(const char* name) {
  const char* bin = std::getenv("PLOWVIEW_BIN");
  return std::string(bin && *bin ? bin : PLOWVIEW_BINARY_DIR "/bin") + "/" + name;
}

// Debian's interpreter carries pyftpdlib and aiosmtpd; a python3 earlier on PATH may not.
inline QString Python() {
  return std::filesystem::exists("/usr/bin/python3") ? QStringLiteral("/usr/bin/python3")
                                                     : QStringLiteral("python3");
}

// The FTP peer: one user with a password and a root folder; it binds port 0 and prints the port.
constexpr const char* kFtpPeer = R"py(
import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
logging.disable(logging.CRITICAL)
root, user, password = sys.argv[1], sys.argv[2], sys.argv[3]
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elradfmwMT")
class Handler(FTPHandler):
    pass
Handler.authorizer = authorizer
Handler.auth_failed_timeout = 0.1
server = FTPServer(("127.0.0.1", 0), Handler)
print(server.socket.getsockname()[1], flush=True)
server.serve_forever(timeout=0.5)
)py";

// The SFTP peer (asyncssh): one user with a password, the files under a root folder, a fresh
// ECDSA host key whose known-hosts line ("[127.0.0.1]:PORT KEY") it writes to a file before it
// prints its port.
constexpr const char* kSftpPeer = R"py(
import asyncio, logging, sys, warnings
warnings.simplefilter("ignore")
import asyncssh
logging.disable(logging.CRITICAL)
root, user, password, known_hosts = sys.argv[1:5]
key = asyncssh.generate_private_key("ecdsa-sha2-nistp256")
class Server(asyncssh.SSHServer):
    def begin_auth(self, username):
        return True
    def password_auth_supported(self):
        return True
    def validate_password(self, username, pw):
        return username == user and pw == password
class Files(asyncssh.SFTPServer):
    def __init__(self, chan):
        super().__init__(chan, chroot=root)
async def main():
    server = await asyncssh.create_server(Server, "127.0.0.1", 0, server_host_keys=[key],
                                          sftp_factory=Files)
    port = server.sockets[0].getsockname()[1]
    with open(known_hosts, "w") as f:
        f.write("[127.0.0.1]:%d %s" % (port, key.export_public_key().decode()))
    print(port, flush=True)
    await asyncio.sleep(300)
asyncio.run(main())
)py";

// The FTPS peer: pyftpdlib's TLS handler with the certificate and key in one PEM file, TLS
// required on the control and the data connection.
constexpr const char* kFtpsPeer = R"py(
import logging, sys
from OpenSSL import SSL
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer
logging.disable(logging.CRITICAL)
root, user, password, pem = sys.argv[1:5]
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elradfmwMT")
context = SSL.Context(SSL.TLS_SERVER_METHOD)
context.use_certificate_chain_file(pem)
context.use_privatekey_file(pem)
# Clients resume the control connection's TLS session on the data connection.
context.set_session_id(b"plowview-test")
class Data(TLS_DTPHandler):
    # pyftpdlib 1.5.7 drops a data connection whose TLS handshake is still under way when the
    # next command arrives (fixed upstream later); reading during the handshake keeps it.
    def readable(self):
        return self._ssl_accepting or super().readable()
class Handler(TLS_FTPHandler):
    pass
Handler.authorizer = authorizer
Handler.ssl_context = context
Handler.dtp_handler = Data
Handler.tls_control_required = True
Handler.tls_data_required = True
Handler.auth_failed_timeout = 0.1
server = FTPServer(("127.0.0.1", 0), Handler)
print(server.socket.getsockname()[1], flush=True)
server.serve_forever(timeout=0.5)
)py";

// A self-signed certificate for 127.0.0.1 and its key in one PEM file, made by openssl.
inline bool MakeSelfSignedPem(const std::string& pem) {
  QProcess openssl;
  openssl.start("openssl",
                {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1",
                 "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", QString::fromStdString(pem + ".key"),
                 "-out", QString::fromStdString(pem + ".crt")});
  if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0) return false;
  std::ifstream key(pem + ".key"), cert(pem + ".crt");
  std::ofstream(pem) << key.rdbuf() << cert.rdbuf();
  return true;
}

// The SMTP peer: appends each accepted message to the mailbox file.
constexpr const char* kSmtpPeer = R"py(
import asyncio, socket, sys
from aiosmtpd.smtp import SMTP
mailbox = sys.argv[1]
class Handler:
    async def handle_DATA(self, server, session, envelope):
        with open(mailbox, 'ab') as f:
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

// A python peer that prints its port as its first line; killed at destruction.
class CPythonPeer {
 public:
  CPythonPeer(const CTempDir& dir, const char* name, const char* source, const QStringList& args) {
    const std::string script = dir / name;
    std::ofstream(script) << source;
    process.start(Python(), QStringList{QString::fromStdString(script)} + args);
    if (!process.waitForStarted(10000)) return;
    QElapsedTimer timer;
    timer.start();
    while (!process.canReadLine() && timer.elapsed() < 15000 && process.state() == QProcess::Running)
      process.waitForReadyRead(500);
    if (process.canReadLine()) port = process.readLine().trimmed().toInt();
  }
  ~CPythonPeer() {
    process.kill();
    process.waitForFinished(5000);
  }
  std::string Problem() { return process.readAllStandardError().toStdString(); }
  std::string Address() const { return "127.0.0.1:" + std::to_string(port); }
  int port = 0;

 private:
  QProcess process;
};

// A loopback port nobody listens on (bound, read back and released): connections are refused.
inline int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 1;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

// The names `unzip -l` lists, in the zip's order.
inline std::vector<std::string> ZipListing(const std::string& zip) {
  QProcess unzip;
  unzip.start("unzip", {"-l", QString::fromStdString(zip)});
  if (!unzip.waitForFinished(10000) || unzip.exitCode() != 0) return {};
  std::istringstream lines(unzip.readAllStandardOutput().toStdString());
  std::vector<std::string> names;
  std::string line;
  int rules = 0;
  while (std::getline(lines, line)) {
    if (line.rfind("---------", 0) == 0) {
      ++rules;
      continue;
    }
    if (rules != 1) continue;
    const auto last = line.find_last_of(' ');
    names.push_back(line.substr(last + 1));
  }
  return names;
}

}  // namespace archivetest
