#include "link/server_socket.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <utility>

#include "link/protocol/kavo_ids.h"
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

void CServerSocket::SetOptions(const RelayOptions& relayOptions) {
  options = relayOptions;
  options.maxClients = std::clamp(options.maxClients, 1, RelayOptions::kMaxMaxClients);
}

void CServerSocket::SetSlowClientLimits(std::size_t slowQueue, std::size_t maxQueue,
                                        std::chrono::milliseconds slowPatience) {
  limits = {slowQueue, maxQueue, slowPatience};
}

bool CServerSocket::Listen(std::uint32_t port) {
  Close();
  if (port > 65535) return false;
  QHostAddress address(QHostAddress::Any);
  if (!options.bindAddress.empty() && !address.setAddress(QString::fromStdString(options.bindAddress)))
    return false;
  return server->listen(address, static_cast<quint16>(port));
}

void CServerSocket::Close() {
  server->close();
  // The sockets of accepted clients are children of the server: they go with it at the latest.
  clients.clear();
  // The next listening belongs to another link, maybe another receiver.
  for (auto& m : catchUpMessages) m.clear();
}

int CServerSocket::Send(const std::uint8_t* bytes, std::size_t count, int catchUp) {
  if (bytes == nullptr || count > 0xFFFF) return 0;
  std::uint8_t buffer[kStreamMaxDataMessage];
  std::vector<std::uint8_t> large;
  std::uint8_t* out = buffer;
  if (kStreamHeaderSize + count > sizeof buffer) {
    large.resize(kStreamHeaderSize + count);
    out = large.data();
  }
  const std::size_t size = BuildStreamMessage(bytes, count, out);
  if (catchUp > kCatchUpNone && catchUp < kCatchUpCount) catchUpMessages[catchUp].assign(out, out + size);

  const auto now = std::chrono::steady_clock::now();
  const auto behind = std::stable_partition(clients.begin(), clients.end(), [&](const auto& client) {
    return client->Send(out, size, limits, now);
  });
  for (auto it = behind; it != clients.end(); ++it) {
    Tell("* Relay client " + (*it)->Peer() + " dropped: " + std::to_string((*it)->Queued()) +
         " bytes behind\n");
  }
  dropped += static_cast<std::uint64_t>(clients.end() - behind);
  clients.erase(behind, clients.end());
  return 1;
}

int CServerSocket::CatchUpSlotOf(const KavoPacket& packet) {
  if (packet.id != kavo::kIdSuperReport || packet.checksumOk == 0 || packet.length < 3 ||
      packet.data[0] != kavo::kSubPanel)
    return kCatchUpNone;
  switch (packet.data[1]) {
    case kavo::kPanelDisplay:  // a display row: only what the panel accepts replaces the row it has
      if (packet.length != 31 || packet.data[5] > 1) return kCatchUpNone;
      return packet.data[5] == 0 ? kCatchUpRow0 : kCatchUpRow1;
    case kavo::kPanelFlags:
      return kCatchUpPanel;
    case kavo::kPanelTitle:
      return kCatchUpTitle;
    default:
      return kCatchUpNone;
  }
}

bool CServerSocket::IsListening() const {
  return server->isListening();
}

std::uint16_t CServerSocket::ListeningPort() const {
  return server->isListening() ? server->serverPort() : 0;
}

void CServerSocket::OnAccept() {
  while (QTcpSocket* accepted = server->nextPendingConnection()) {
    auto client = std::make_unique<CClientSocket>(accepted, onClientFrame,
                                                  [this](CClientSocket* gone) { Remove(gone); });
    if (clients.size() >= static_cast<std::size_t>(options.maxClients)) {
      ++refused;
      Tell("* Relay client " + client->Peer() + " refused: " + std::to_string(clients.size()) +
           " clients connected\n");
      continue;  // the client closes the connection as it goes
    }
    const auto now = std::chrono::steady_clock::now();
    for (const auto& m : catchUpMessages) {
      if (!m.empty()) client->Send(m.data(), m.size(), limits, now);
    }
    clients.push_back(std::move(client));
  }
}

void CServerSocket::Remove(CClientSocket* client) {
  const auto it =
      std::find_if(clients.begin(), clients.end(), [client](const auto& c) { return c.get() == client; });
  if (it != clients.end()) clients.erase(it);
}

void CServerSocket::Tell(const std::string& line) {
  if (onEvent) onEvent(line);
}
