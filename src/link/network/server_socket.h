#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/network/client_socket.h"
#include "link/relay_options.h"

class QTcpServer;
struct KavoPacket;

// The relay server: listens on a port (any local address unless one is set), hands every packet
// of the receiver to all connected clients as one type-1 stream message each, and passes the
// type-1 bodies the clients send to `onClientFrame` (the link sends them on to the receiver).
//
// A client that stops reading cannot hold the others up or make the relay's memory grow. Its
// unsent bytes may pass kSlowClientQueue for a while (a reader that is busy for a moment catches
// up), but a client that stays beyond it for longer than the patience, or that passes
// kMaxClientQueue, is disconnected and counted in DroppedClients(). Clients beyond the limit of
// RelayOptions are refused as they connect. Both are told to the event handler as a "* " line for
// the log. Clients that disconnect leave the list.
//
// A client that joins gets at once the last copy of each catch-up report (the title, the two
// display rows and the panel report), so that its panel is right before the receiver's next one.
//
// Threading: UI thread only (the Qt sockets' thread); Close may be queued onto it from others.
class CServerSocket {
 public:
  static constexpr std::size_t kSlowClientQueue = 256 * 1024;
  static constexpr std::size_t kMaxClientQueue = 2 * 1024 * 1024;
  static constexpr std::chrono::milliseconds kSlowClientPatience{2000};
  // The reports a joining client is sent at once, in this order.
  enum CatchUp : int {
    kCatchUpNone = -1,
    kCatchUpTitle = 0,
    kCatchUpRow0,
    kCatchUpRow1,
    kCatchUpPanel,
    kCatchUpCount
  };
  using EventHandler = std::function<void(const std::string&)>;

  // Which catch-up report `packet` is (checksum good, as the panel would take it), or kCatchUpNone.
  static int CatchUpSlotOf(const KavoPacket& packet);
  // Room for a burst of clients connecting at once (all of them coming back after a restart):
  // with a handful, most would wait for the system's SYN retries, seconds each.
  static constexpr int kBacklog = 64;

  explicit CServerSocket(CClientSocket::FrameHandler onClientFrame);
  // Closes the listening socket and every client.
  ~CServerSocket();
  CServerSocket(const CServerSocket&) = delete;
  CServerSocket& operator=(const CServerSocket&) = delete;

  // Takes effect at the next Listen (the client limit at the next connection).
  void SetOptions(const RelayOptions& options);
  // Receives one "* " log line per client refused or dropped.
  void SetEventHandler(EventHandler handler) { onEvent = std::move(handler); }
  // For tests: the queue sizes and patience of the slow-client rule.
  void SetSlowClientLimits(std::size_t slowQueue, std::size_t maxQueue, std::chrono::milliseconds patience);

  // Closes what was open and listens on `port` (0: a free port, for tests) at the bind address of
  // the options. False when the port is outside 0..65535 or taken, or the address is not one.
  bool Listen(std::uint32_t port);
  // Closes the listening socket, then every client, and empties the list.
  void Close();
  // Wraps `count` bytes (one frame) as one type-1 message and queues it for every client; keeps it
  // as the latest report of `catchUp` for clients that join later. Returns 1, like the socket
  // send it stands for; 0 when `count` does not fit a message.
  int Send(const std::uint8_t* bytes, std::size_t count, int catchUp = kCatchUpNone);

  bool IsListening() const;
  std::uint16_t ListeningPort() const;
  std::size_t ClientCount() const { return clients.size(); }
  // Clients disconnected because they fell too far behind.
  std::uint64_t DroppedClients() const { return dropped; }
  // Clients refused because the limit of clients was reached.
  std::uint64_t RefusedClients() const { return refused; }
  // Hands a "* " line to the event handler.
  void Tell(const std::string& line);
  // The Qt object the server lives on: the context for calls queued from other threads.
  QTcpServer* Listener() const { return server.get(); }

 private:
  void OnAccept();
  void Remove(CClientSocket* client);

  CClientSocket::FrameHandler onClientFrame;
  EventHandler onEvent;
  RelayOptions options;
  CClientSocket::QueueLimits limits{kSlowClientQueue, kMaxClientQueue, kSlowClientPatience};
  std::unique_ptr<QTcpServer> server;
  std::vector<std::unique_ptr<CClientSocket>> clients;
  std::array<std::vector<std::uint8_t>, kCatchUpCount> catchUpMessages;
  std::uint64_t dropped = 0;
  std::uint64_t refused = 0;
};
