#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "link/protocol/clock.h"
#include "link/protocol/ring_buffer.h"
#include "link/protocol/stream_message.h"
#include "receiver_host.h"
#include "receiver_model.h"
#include "sim_options.h"

// One simulated receiver served on a TCP port the way the program's relay server serves one:
// every packet the receiver sends goes to every connected client as one type-1 stream message,
// and the body of every type-1 message a client sends is heard by the receiver (types 2 and 3
// are ignored, a corrupt stream resynchronises byte by byte). A network-client Plowview can so
// be tested without a serial line. There is no line to garble and no break on TCP: the port
// auto-configuration does not apply.
//
// One poll loop (no thread of its own, no busy waiting) over the listening socket, the clients, a
// stop descriptor and the model's next due time. A client that stops reading is disconnected once
// kMaxQueued bytes wait for it, so it cannot hold up the others or the receiver.
//
// With --drop-after/--return-after the port goes away and comes back in cycles: the listening
// socket and every client are closed, then the same port is listened on again.
//
// Trace lines written here: START, CONNECT, DISCONNECT, DROPPED CLIENT, TX, TX-TEXT, STOP,
// LINE-DROPPED, LINE-RETURNED.
class CTcpTransport final : private IReceiverHost {
 public:
  static constexpr std::size_t kMaxQueued = 1024 * 1024;

  // `clock` must outlive the transport.
  CTcpTransport(const SimOptions& options, const IClock& clock);
  ~CTcpTransport() override;
  CTcpTransport(const CTcpTransport&) = delete;
  CTcpTransport& operator=(const CTcpTransport&) = delete;

  // Opens the trace and listens on `port` on every local address (0: a free port). False with
  // `error` set.
  bool Start(std::uint16_t port, std::string& error);
  // The port listened on (the one chosen when 0 was asked for).
  std::uint16_t Port() const { return port; }
  // Serves until `stopFd` becomes readable. Returns 0, or 1 when the listening socket failed.
  int Run(int stopFd);

 private:
  struct Client {
    int fd = -1;
    std::string name;  // peer address:port, for the trace
    std::vector<std::uint8_t> out;
    std::size_t outSent = 0;
    RingBuffer in{kStreamReceiveRing};
    StreamMessage message;
    std::string gone;  // the trace word once the client is to be closed
  };

  void SendPacket(const KavoPacket& packet, int withChecksum) override;
  void SendText(std::string_view text) override;
  void Trace(std::string_view line) override;

  bool Listen(std::uint16_t wanted, std::string& error);
  // The next step of the drop/return cycle when it is due; false when the port cannot be had.
  bool CycleLine(std::string& error);
  void Accept();
  // False when the client is gone (closed by the peer or broken).
  bool ReadFrom(Client& client);
  bool WriteTo(Client& client);
  void Broadcast(const std::uint8_t* bytes, std::size_t count);
  // Closes and removes the clients marked gone.
  void Sweep();

  SimOptions options;
  const IClock& clock;
  std::unique_ptr<CReceiverModel> model;
  std::FILE* trace = nullptr;
  int listenFd = -1;
  std::uint16_t port = 0;
  std::vector<std::unique_ptr<Client>> clients;
  std::int64_t lineToggleMs = -1;  // when the port next goes away or comes back; -1 never
  bool lineAway = false;
};
