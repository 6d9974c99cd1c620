#include "link/server_socket.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <utility>

#include "link/protocol/kavo_packet.h"
#include "link/protocol/stream_message.h"

CServerSocket::CServerSocket(CClientSocket::FrameHandler clientFrameHandler)
    : onClientFrame(std::move(clientFrameHandler)), server(std::make_unique<QTcpServer>()) {
  server->setListenBacklogSize(kBacklog);
  QObject::connect(server.get(), &QTcpServer::newConnection, server.get(), [this] { OnAccept(); });
}

CServerSocket::~CServerSocket() {
  Close();
  QObject::disconnect(server.get(), nullptr, nullptr, nullptr);
}

bool CServerSocket::Listen(std::uint32_t port) {
  Close();
  if (port > 65535) return false;
  return server->listen(QHostAddress::Any, static_cast<quint16>(port));
}

void CServerSocket::Close() {
  server->close();
  // The sockets of accepted clients are children of the server: they go with it at the latest.
  clients.clear();
}

int CServerSocket::Send(const std::uint8_t* bytes, std::size_t count) {
  if (bytes == nullptr || count > 0xFFFF) return 0;
  std::uint8_t buffer[kStreamMaxDataMessage];
  std::vector<std::uint8_t> large;
  std::uint8_t* out = buffer;
  if (kStreamHeaderSize + count > sizeof buffer) {
    large.resize(kStreamHeaderSize + count);
    out = large.data();
  }
  const std::size_t size = BuildStreamMessage(bytes, count, out);
  const auto behind = std::remove_if(clients.begin(), clients.end(), [&](const auto& client) {
    return !client->Send(out, size, kMaxClientQueue);
  });
  dropped += static_cast<std::uint64_t>(clients.end() - behind);
  clients.erase(behind, clients.end());
  return 1;
}

bool CServerSocket::IsListening() const {
  return server->isListening();
}

std::uint16_t CServerSocket::ListeningPort() const {
  return server->isListening() ? server->serverPort() : 0;
}

void CServerSocket::OnAccept() {
  while (QTcpSocket* accepted = server->nextPendingConnection()) {
    clients.push_back(std::make_unique<CClientSocket>(accepted, onClientFrame,
                                                      [this](CClientSocket* gone) { Remove(gone); }));
  }
}

void CServerSocket::Remove(CClientSocket* client) {
  const auto it =
      std::find_if(clients.begin(), clients.end(), [client](const auto& c) { return c.get() == client; });
  if (it != clients.end()) clients.erase(it);
}
