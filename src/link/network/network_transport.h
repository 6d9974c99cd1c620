#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "link/link_transport.h"
#include "link/protocol/prompts.h"

class CPlowviewSocket;
class QObject;

// The network transport: a client of a server that carries a receiver's packet stream (another
// instance's relay), in stream messages of one KAVO frame each. Lives on the link's thread, which
// must run a Qt event loop: the socket reads, connects and reports there. A connection that fails
// shows "Error: Could not connect to ADDRESS:PORT." (after the socket's own signal has returned,
// and not at all when the attempt was closed or replaced meanwhile); one the server ends while
// the link runs over it is reported down.
class CNetworkTransport final : public ILinkTransport {
 public:
  // `events` and `prompts` must outlive the transport.
  CNetworkTransport(ITransportEvents& events, IPrompts& prompts);
  ~CNetworkTransport() override;
  CNetworkTransport(const CNetworkTransport&) = delete;
  CNetworkTransport& operator=(const CNetworkTransport&) = delete;

  // The server (a name or a numeric address); false for an empty address or a port outside
  // 1..65535, and an open then fails.
  bool SetServer(const std::string& address, std::uint32_t port);

  bool Open(int number, bool autoConfigure, bool reopen) override;
  bool Close() override;
  void Abandon() override;
  bool SendFrame(const KavoPacket& packet, std::uint8_t withChecksum) override;
  // The bytes go upstream as one stream message, the only thing the server takes.
  bool SendRaw(const std::uint8_t* bytes, std::size_t count) override;

 private:
  void OnConnect(bool up);
  void OnClosed();

  ITransportEvents& events;
  IPrompts& prompts;
  std::unique_ptr<QObject> context;  // on the link's thread: posted calls ride on it
  std::unique_ptr<CPlowviewSocket> client;
  std::string serverAddress;
  std::uint32_t serverPort = 30000;
  std::uint8_t serverSet = 0;
  // Counts opens and closes, so that a message queued for an earlier attempt is dropped.
  std::atomic<std::uint64_t> generation{0};
};
