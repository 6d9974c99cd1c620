#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/j1939/can_frame.h"
#include "link/j1939/j1939_id.h"
#include "link/j1939/j1939_node_table.h"
#include "link/j1939/j1939_transport.h"
#include "link/j1939/j1939_types.h"
#include "link/j1939/software_identification.h"
#include "link/protocol/clock.h"

// What the stack reports to its owner. The numbers 0, 1, 4 and 5 are the event codes the CAN link
// acts on; the rest are for diagnostics and may be ignored.
enum class J1939EventCode : std::uint8_t {
  Request = 0,                 // a node requested group `pgn` from us (or from everyone)
  SoftwareIdentification = 1,  // a software identification text arrived: `body` as received (its
                               // trailing NUL included), `identification` its QRXID field or null,
                               // `parameter` 1 when that field was read
  KavoPacket = 4,              // proprietary command 0x08: `body` is the whole body, command first
  Echo = 5,                    // proprietary command 0x0B: `parameter` 1 when the flag byte is set
  ProprietaryCommand = 16,     // any other proprietary command; `parameter` is the command byte
  Acknowledgement = 17,        // `parameter` the control byte, `pgn` the group acknowledged
  Message = 18,                // any other group addressed to us or to everyone
  AddressClaimed = 19,         // our claim stood; `parameter` is the address
  CannotClaimAddress = 20,     // we lost and have no address left; nothing more is sent
  TransmitDone = 21,           // a transport message reached `address` (or was broadcast)
  TransmitFailed = 22,         // a transport message was aborted; `parameter` the abort reason,
                               // `byPeer` set when `address` aborted it
};

// One event. `address` is the other node: the sender of what arrived, the destination of what we
// sent. `body` and `identification` are valid only during the callback.
struct J1939Event {
  J1939EventCode code = J1939EventCode::Message;
  int channel = 0;
  std::uint8_t address = 0;
  std::uint32_t parameter = 0;
  std::uint32_t pgn = 0;
  const std::uint8_t* body = nullptr;
  std::size_t length = 0;
  const SoftwareIdentification* identification = nullptr;
  bool byPeer = false;
};

struct J1939StackConfig {
  int channel = 0;  // copied into every event
  J1939Name name{};
  std::uint8_t preferredAddress = 249;
  std::uint8_t priority = kJ1939DefaultPriority;
  // How long a claim must stand unchallenged before the address is used.
  int addressClaimWaitMs = 250;
  J1939TransportConfig transport;
  // Groups whose requests the application answers; a request to our address for any other group
  // (except address claim, which the stack answers) is answered with a NACK.
  std::vector<std::uint32_t> answeredRequests{kPgnSoftwareIdentification};
  // Our software identification text; empty: the program's own, made from `name`.
  std::string softwareIdentification;
};

enum class J1939ClaimState : std::uint8_t { Idle, Claiming, Claimed, CannotClaim };

enum class J1939SendResult : std::uint8_t {
  Sent,           // one frame, handed to the driver
  Started,        // a transport message, started or queued; TransmitDone/TransmitFailed follows
  NotClaimed,     // no address yet (or none to be had): nothing is sent
  TooLong,        // more than 1785 bytes
  QueueFull,      // too many transport messages waiting
  DriverRefused,  // the driver did not take the frame
};

struct J1939StackCounters {
  std::uint64_t received = 0;
  std::uint64_t malformed = 0;  // too short for their group, or a length code above 8
  std::uint64_t ignored = 0;    // for another node, before our claim stood, or our own echo
  std::uint64_t sent = 0;
  std::uint64_t refused = 0;  // frames the driver did not take
};

// The J1939 stack of one CAN channel: address claim with our NAME, requests and
// acknowledgements, the transport protocol, proprietary A and B bodies to the command handling,
// software identification, and a table of the nodes heard. No thread and no clock of its own:
// the owner feeds received frames to Receive, calls Tick every 20 ms, and the injected clock
// tells the time. Frames leave through `sendFrame`; what arrives goes to `onEvent`.
//
// Not thread-safe: the owner serialises every call (one lock around Receive, Tick, Start and the
// Send calls). The event callback runs inside those calls on the caller's thread and may call
// the Send functions; `sendFrame` must not call back into the stack.
class CJ1939Stack {
 public:
  using SendFrame = std::function<bool(const CanFrame& frame)>;
  using EventHandler = std::function<void(const J1939Event& event)>;

  CJ1939Stack(J1939StackConfig config, const IClock& clock, SendFrame sendFrame, EventHandler onEvent);
  CJ1939Stack(const CJ1939Stack&) = delete;
  CJ1939Stack& operator=(const CJ1939Stack&) = delete;

  // Claims the preferred address (again, when called a second time) with an empty node table.
  void Start();
  // Leaves the bus quietly: sessions and queued messages dropped (TransmitFailed for each), the
  // node table cleared, nothing sent until the next Start.
  void Stop();
  // One received frame. Bad frames are counted and dropped.
  void Receive(const CanFrame& frame);
  void Tick();

  // Sends `length` bytes of group `pgn` to `destination` (ignored for PDU2 groups, which go to
  // everyone): one frame up to 8 bytes, else the transport protocol. A message of up to 8 bytes
  // to a node that a longer message is still being sent to (or waits for) queues behind it, so
  // one node gets our messages in the order they were sent; it is then Started, not Sent.
  J1939SendResult Send(std::uint32_t pgn, std::uint8_t destination, const std::uint8_t* body,
                       std::size_t length);
  J1939SendResult SendRequest(std::uint32_t requestedPgn, std::uint8_t destination);
  // Acknowledgement of a request from `requester`, sent to everyone as the standard asks.
  J1939SendResult SendAcknowledgement(J1939AckControl control, std::uint32_t pgn, std::uint8_t requester);
  // Our software identification text, to everyone.
  J1939SendResult SendSoftwareIdentification();
  // The proprietary-A node list (command 0x0C: count, then per node with a NAME its address, its
  // J1939NodeState and its NAME).
  J1939SendResult SendNodeList(std::uint8_t destination);

  J1939ClaimState ClaimState() const { return claimState; }
  bool IsClaimed() const { return claimState == J1939ClaimState::Claimed; }
  std::uint8_t Address() const { return address; }
  const J1939Name& Name() const { return config.name; }
  const std::string& SoftwareIdentificationText() const { return config.softwareIdentification; }
  const CJ1939NodeTable& Nodes() const { return nodes; }
  const J1939StackCounters& Counters() const { return counters; }
  const J1939TransportCounters& TransportCounters() const { return transport.Counters(); }

 private:
  bool SendOne(std::uint32_t pgn, std::uint8_t destination, std::uint8_t source, const std::uint8_t* data,
               std::size_t length);
  void SendClaim();
  void HandleClaim(std::uint8_t source, const CanFrame& frame);
  void LoseAddress();
  void HandleRequest(const J1939Id& id, const CanFrame& frame);
  void HandleMessage(std::uint32_t pgn, std::uint8_t source, const std::uint8_t* body, std::size_t length);
  void HandleProprietary(std::uint8_t source, const std::uint8_t* body, std::size_t length);
  void HandleSoftwareIdentification(std::uint8_t source, const std::uint8_t* body, std::size_t length);
  void Emit(J1939EventCode code, std::uint8_t from, std::uint32_t parameter, std::uint32_t pgn = 0,
            const std::uint8_t* body = nullptr, std::size_t length = 0,
            const SoftwareIdentification* identification = nullptr, bool byPeer = false);

  J1939StackConfig config;
  const IClock& clock;
  SendFrame sendFrame;
  EventHandler onEvent;
  CJ1939Transport transport;
  CJ1939NodeTable nodes;
  J1939StackCounters counters;
  J1939ClaimState claimState = J1939ClaimState::Idle;
  std::uint8_t address = kJ1939NullAddress;
  std::int64_t claimStandsAt = 0;
  unsigned addressesTried = 0;
};
