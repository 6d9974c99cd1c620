#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "link/j1939/j1939_types.h"

// Time-outs of the transport protocol in milliseconds. A session times out when more than the
// given time has passed since the event that started the wait.
struct J1939TransportTiming {
  int t1 = 750;                  // responder: between two data packets of a window or of a broadcast
  int t2 = 1250;                 // responder: after sending CTS, until the first data packet
  int t3 = 1250;                 // originator: after RTS or the last packet of a window, until CTS or EOMA
  int t4 = 1050;                 // originator: after a CTS that says "hold", until the next CTS
  int bamPacketIntervalMs = 50;  // originator of a broadcast: spacing of the data packets (0: none)
};

struct J1939TransportConfig {
  J1939TransportTiming timing;
  std::uint8_t ctsWindow = 16;  // packets asked for per CTS when the originator allows more
  // Groups an announcement may carry; others are refused (RTS) or ignored (broadcast).
  std::vector<std::uint32_t> acceptedPgns{59904, 60160, 60416, 60928, 61184, 65242, 65280};
  std::size_t maxPending = 32;  // messages waiting for their destination's session to end
};

struct J1939TransportCounters {
  std::uint64_t malformed = 0;   // announcements with inconsistent size or packet count
  std::uint64_t unexpected = 0;  // data, CTS or EOMA with no session that fits
  std::uint64_t abortsSent = 0;
  std::uint64_t abortsReceived = 0;
  std::uint64_t timeouts = 0;
  std::uint64_t broadcastsDropped = 0;  // broadcast receptions lost to a sequence gap or a time-out
};

// The transport protocol (TP.CM / TP.DT) of one node: messages of up to 1785 bytes sent by
// connection mode (RTS/CTS, windows, EOMA) to one node or by broadcast announcement to all, and
// received both ways. Frames come in through OnControl and OnData, time through the `nowMs`
// arguments; frames go out and results come back through the callbacks. Not thread-safe. The
// Deliver and Finished callbacks may call Transmit; SendFrame must not call back in.
class CJ1939Transport {
 public:
  // Sends one frame of group `pgn` with `length` (at most 8) bytes to `destination`: TP.CM and
  // TP.DT frames, and the messages of 8 bytes or fewer that waited for a transfer (below); false
  // when the driver did not take it.
  using SendFrame = std::function<bool(std::uint32_t pgn, std::uint8_t destination, const std::uint8_t* data,
                                       std::size_t length)>;
  // A complete incoming message; `body` is valid only during the call.
  using Deliver = std::function<void(std::uint32_t pgn, std::uint8_t source, std::uint8_t destination,
                                     const std::uint8_t* body, std::size_t length)>;
  // The end of an outgoing message: delivered (EOMA received, broadcast sent, a short message
  // handed to the driver) or aborted, by this side or, with `byPeer`, by the destination.
  using Finished = std::function<void(std::uint32_t pgn, std::uint8_t destination, bool delivered,
                                      J1939AbortReason reason, bool byPeer)>;

  static constexpr std::size_t kMaxReceiveSessions = 16;
  static constexpr std::size_t kMaxTransmitSessions = 8;

  CJ1939Transport(J1939TransportConfig config, SendFrame sendFrame, Deliver deliver, Finished finished);

  // Queues a message of 1 to 1785 bytes; destination 255 (or a PDU2 group) means a broadcast.
  // It starts at once unless a session to the same destination (or another broadcast) is running.
  // A message of 8 bytes or fewer goes as one frame of its own group when its turn comes (a
  // driver that refuses it is asked again at each tick, for up to T3), so that it cannot overtake
  // a longer message to the same node. False when the body is empty or too long or the queue is
  // full.
  bool Transmit(std::uint32_t pgn, std::uint8_t destination, const std::uint8_t* body, std::size_t length,
                std::int64_t nowMs);

  // Whether a message to `destination` is being sent or waits: a message to it sent past the
  // transport now would arrive before those.
  bool Busy(std::uint8_t destination) const;

  // A TP.CM or TP.DT frame from `source` to `destination` (our address or 255). Frames shorter
  // than 8 bytes are counted as malformed and dropped.
  void OnControl(std::uint8_t source, std::uint8_t destination, const std::uint8_t* data, std::size_t length,
                 std::int64_t nowMs);
  void OnData(std::uint8_t source, std::uint8_t destination, const std::uint8_t* data, std::size_t length,
              std::int64_t nowMs);

  // Time-outs, paced broadcast packets, retries of packets the driver refused, queued messages.
  void Tick(std::int64_t nowMs);

  // Drops every session and queued message without a word on the bus (our address is gone).
  // Queued and running outgoing messages finish with ResourcesNeeded.
  void Reset();

  const J1939TransportCounters& Counters() const { return counters; }
  std::size_t ActiveReceiveSessions() const;
  std::size_t ActiveTransmitSessions() const;
  std::size_t PendingMessages() const { return pending.size(); }

 private:
  struct Outgoing {
    std::uint32_t pgn = 0;
    std::uint8_t destination = 0;
    std::vector<std::uint8_t> body;
  };
  enum class TxState : std::uint8_t { Idle, AwaitCts, Holding, Sending, Broadcasting, SingleFrame };
  struct TxSession {
    TxState state = TxState::Idle;
    Outgoing message;
    std::uint8_t packets = 0;
    // Sequence numbers are wider than their byte on the wire so that counting past 255 ends loops.
    std::uint16_t nextSeq = 1;      // next packet to send
    std::uint16_t windowEnd = 0;    // last packet of the current CTS window
    std::int64_t deadline = 0;      // Sending/AwaitCts/Holding: abort when passed
    std::int64_t nextPacketAt = 0;  // Broadcasting
  };
  struct RxSession {
    bool active = false;
    bool broadcast = false;
    std::uint8_t source = 0;
    std::uint8_t destination = 0;
    std::uint32_t pgn = 0;
    std::uint16_t size = 0;
    std::uint8_t packets = 0;
    std::uint16_t nextSeq = 1;
    std::uint8_t windowSize = 0;  // packets asked for per CTS
    std::uint16_t windowEnd = 0;  // last packet of the current window
    std::int64_t deadline = 0;
    std::vector<std::uint8_t> data;
  };

  void OnRequestToSend(std::uint8_t source, const std::uint8_t* d, std::int64_t nowMs);
  void OnBroadcastAnnounce(std::uint8_t source, const std::uint8_t* d, std::int64_t nowMs);
  void OnClearToSend(std::uint8_t source, const std::uint8_t* d, std::int64_t nowMs);
  void OnEndOfMessageAck(std::uint8_t source, const std::uint8_t* d, std::int64_t nowMs);
  void OnAbort(std::uint8_t source, const std::uint8_t* d, std::int64_t nowMs);

  bool Accepts(std::uint32_t pgn) const;
  RxSession* FindRx(std::uint8_t source, bool broadcast);
  RxSession* FreeRx();
  TxSession* FindTx(std::uint8_t destination);
  TxSession* FindBroadcastTx();
  void SendCts(RxSession& s, std::int64_t nowMs);
  void SendAbort(std::uint8_t destination, std::uint32_t pgn, J1939AbortReason reason);
  void AbortRx(RxSession& s, J1939AbortReason reason);
  void CompleteRx(RxSession& s);
  void SendWindow(TxSession& s, std::int64_t nowMs);
  void SendBroadcastPackets(TxSession& s, std::int64_t nowMs);
  bool SendDataPacket(const TxSession& s, std::uint16_t seq, std::uint8_t destination);
  void FinishTx(TxSession& s, bool delivered, J1939AbortReason reason, bool byPeer = false);
  bool SendSingleFrame(TxSession& s);
  void StartPending(std::int64_t nowMs);

  J1939TransportConfig config;
  SendFrame sendFrame;
  Deliver deliver;
  Finished finished;
  std::array<RxSession, kMaxReceiveSessions> rx;
  std::array<TxSession, kMaxTransmitSessions> tx;
  std::deque<Outgoing> pending;
  J1939TransportCounters counters;
};
