#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "link/client_socket.h"

class QTcpServer;

// The relay server: listens on a port (any local address), hands every packet of the receiver to
// all connected clients as one type-1 stream message each, and passes the type-1 bodies the
// clients send to `onClientFrame` (the link sends them on to the receiver).
//
// A client that stops reading cannot hold the others up or make the relay's memory grow: each
// client's unsent bytes are capped at kMaxClientQueue; a client that would exceed the cap is
// disconnected and counted in DroppedClients(). Clients that disconnect leave the list.
//
// Threading: UI thread only (the Qt sockets' thread); Close may be queued onto it from others.
class CServerSocket {
 public:
  static constexpr std::size_t kMaxClientQueue = 256 * 1024;
  // Room for a burst of clients connecting at once (all of them coming back after a restart):
  // with a handful, most would wait for the system's SYN retries, seconds each.
  static constexpr int kBacklog = 64;

  explicit CServerSocket(CClientSocket::FrameHandler onClientFrame);
  // Closes the listening socket and every client.
  ~CServerSocket();
  CServerSocket(const CServerSocket&) = delete;
  CServerSocket& operator=(const CServerSocket&) = delete;

  // Closes what was open and listens on `port` (0: a free port, for tests). False when the port
  // is outside 0..65535 or taken.
  bool Listen(std::uint32_t port);
  // Closes the listening socket, then every client, and empties the list.
  void Close();
  // Wraps `count` bytes (one frame) as one type-1 message and queues it for every client.
  // Returns 1, like the socket send it stands for; 0 when `count` does not fit a message.
  int Send(const std::uint8_t* bytes, std::size_t count);

  bool IsListening() const;
  std::uint16_t ListeningPort() const;
  std::size_t ClientCount() const { return clients.size(); }
  // Clients disconnected because they fell behind by more than kMaxClientQueue bytes.
  std::uint64_t DroppedClients() const { return dropped; }
  // The Qt object the server lives on: the context for calls queued from other threads.
  QTcpServer* Listener() const { return server.get(); }

 private:
  void OnAccept();
  void Remove(CClientSocket* client);

  CClientSocket::FrameHandler onClientFrame;
  std::unique_ptr<QTcpServer> server;
  std::vector<std::unique_ptr<CClientSocket>> clients;
  std::uint64_t dropped = 0;
};
