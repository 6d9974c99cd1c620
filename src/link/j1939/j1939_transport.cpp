#include "link/j1939/j1939_transport.h"

#include <algorithm>
#include <utility>

#include "link/j1939/j1939_id.h"

namespace {

constexpr std::uint8_t kRequestToSend = 16;
constexpr std::uint8_t kClearToSend = 17;
constexpr std::uint8_t kEndOfMessageAck = 19;
constexpr std::uint8_t kBroadcastAnnounce = 32;
constexpr std::uint8_t kConnectionAbort = 255;
constexpr std::size_t kBytesPerPacket = 7;
constexpr std::size_t kFrameBytes = 8;

std::uint32_t ReadPgn(const std::uint8_t* d) {
  return d[5] | (static_cast<std::uint32_t>(d[6]) << 8) | (static_cast<std::uint32_t>(d[7]) << 16);
}

void WritePgn(std::uint8_t* d, std::uint32_t pgn) {
  d[5] = static_cast<std::uint8_t>(pgn);
  d[6] = static_cast<std::uint8_t>(pgn >> 8);
  d[7] = static_cast<std::uint8_t>(pgn >> 16);
}

std::uint8_t PacketsFor(std::size_t size) {
  return static_cast<std::uint8_t>((size + kBytesPerPacket - 1) / kBytesPerPacket);
}

}  // namespace

CJ1939Transport::CJ1939Transport(J1939TransportConfig config, SendFrame sendFrame, Deliver deliver,
                                 Finished finished)
    : config(std::move(config)),
      sendFrame(std::move(sendFrame)),
      deliver(std::move(deliver)),
      finished(std::move(finished)) {}

std::size_t CJ1939Transport::ActiveReceiveSessions() const {
  return static_cast<std::size_t>(
      std::count_if(rx.begin(), rx.end(), [](const RxSession& s) { return s.active; }));
}

std::size_t CJ1939Transport::ActiveTransmitSessions() const {
  return static_cast<std::size_t>(
      std::count_if(tx.begin(), tx.end(), [](const TxSession& s) { return s.state != TxState::Idle; }));
}

bool CJ1939Transport::Transmit(std::uint32_t pgn, std::uint8_t destination, const std::uint8_t* body,
                               std::size_t length, std::int64_t nowMs) {
  if (body == nullptr || length == 0 || length > kJ1939MaxBody || pending.size() >= config.maxPending)
    return false;
  Outgoing message;
  message.pgn = pgn;
  message.destination = IsPdu1(pgn) ? destination : kJ1939GlobalAddress;
  message.body.assign(body, body + length);
  pending.push_back(std::move(message));
  StartPending(nowMs);
  return true;
}

bool CJ1939Transport::Busy(std::uint8_t destination) const {
  for (const auto& s : tx)
    if (s.state != TxState::Idle && s.message.destination == destination) return true;
  return std::any_of(pending.begin(), pending.end(),
                     [destination](const Outgoing& m) { return m.destination == destination; });
}

void CJ1939Transport::StartPending(std::int64_t nowMs) {
  for (std::size_t i = 0; i < pending.size();) {
    Outgoing& message = pending[i];
    const bool broadcast = message.destination == kJ1939GlobalAddress;
    const bool busy = broadcast ? FindBroadcastTx() != nullptr : FindTx(message.destination) != nullptr;
    auto freeSlot =
        std::find_if(tx.begin(), tx.end(), [](const TxSession& s) { return s.state == TxState::Idle; });
    if (busy || freeSlot == tx.end()) {
      ++i;
      continue;
    }
    TxSession& s = *freeSlot;
    s = TxSession{};
    s.message = std::move(message);
    pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
    if (s.message.body.size() <= kFrameBytes) {
      s.state = TxState::SingleFrame;
      s.deadline = nowMs + config.timing.t3;
      // Sent at once when the driver takes it; the slot is then free again for the next one.
      SendSingleFrame(s);
      continue;
    }
    s.packets = PacketsFor(s.message.body.size());
    const auto size = static_cast<std::uint16_t>(s.message.body.size());
    std::uint8_t d[8] = {broadcast ? kBroadcastAnnounce : kRequestToSend,
                         static_cast<std::uint8_t>(size),
                         static_cast<std::uint8_t>(size >> 8),
                         s.packets,
                         0xFF,
                         0,
                         0,
                         0};
    WritePgn(d, s.message.pgn);
    // A refused announcement is not retried: the peer never hears of the session and the
    // time-out below ends it.
    sendFrame(kPgnTransportControl, s.message.destination, d, kFrameBytes);
    if (broadcast) {
      s.state = TxState::Broadcasting;
      s.nextPacketAt = nowMs + config.timing.bamPacketIntervalMs;
      if (config.timing.bamPacketIntervalMs <= 0) SendBroadcastPackets(s, nowMs);
    } else {
      s.state = TxState::AwaitCts;
      s.deadline = nowMs + config.timing.t3;
    }
  }
}

void CJ1939Transport::OnControl(std::uint8_t source, std::uint8_t destination, const std::uint8_t* data,
                                std::size_t length, std::int64_t nowMs) {
  if (data == nullptr || length < 8) {
    ++counters.malformed;
    return;
  }
  const bool toAll = destination == kJ1939GlobalAddress;
  switch (data[0]) {
    case kBroadcastAnnounce:
      if (toAll)
        OnBroadcastAnnounce(source, data, nowMs);
      else
        ++counters.malformed;
      return;
    case kRequestToSend:
      if (!toAll)
        OnRequestToSend(source, data, nowMs);
      else
        ++counters.malformed;
      return;
    case kClearToSend:
      if (!toAll)
        OnClearToSend(source, data, nowMs);
      else
        ++counters.malformed;
      return;
    case kEndOfMessageAck:
      if (!toAll)
        OnEndOfMessageAck(source, data, nowMs);
      else
        ++counters.malformed;
      return;
    case kConnectionAbort:
      if (!toAll)
        OnAbort(source, data, nowMs);
      else
        ++counters.malformed;
      return;
    default:
      ++counters.malformed;
      return;
  }
}

bool CJ1939Transport::Accepts(std::uint32_t pgn) const {
  return std::find(config.acceptedPgns.begin(), config.acceptedPgns.end(), pgn) != config.acceptedPgns.end();
}

CJ1939Transport::RxSession* CJ1939Transport::FindRx(std::uint8_t source, bool broadcast) {
  for (auto& s : rx)
    if (s.active && s.source == source && s.broadcast == broadcast) return &s;
  return nullptr;
}

CJ1939Transport::RxSession* CJ1939Transport::FreeRx() {
  for (auto& s : rx)
    if (!s.active) return &s;
  return nullptr;
}

CJ1939Transport::TxSession* CJ1939Transport::FindTx(std::uint8_t destination) {
  for (auto& s : tx)
    if (s.state != TxState::Idle && s.message.destination == destination) return &s;
  return nullptr;
}

CJ1939Transport::TxSession* CJ1939Transport::FindBroadcastTx() {
  return FindTx(kJ1939GlobalAddress);
}

void CJ1939Transport::OnRequestToSend(std::uint8_t source, const std::uint8_t* d, std::int64_t nowMs) {
  const std::uint16_t size = static_cast<std::uint16_t>(d[1] | (d[2] << 8));
  const std::uint8_t packets = d[3];
  const std::uint8_t maxPerCts = d[4];
  const std::uint32_t pgn = ReadPgn(d);

  if (RxSession* old = FindRx(source, false)) {
    if (old->pgn != pgn) {
      // One connection per direction between two nodes: the running one stays.
      SendAbort(source, pgn, J1939AbortReason::AlreadyInSession);
      return;
    }
    // The same message announced again: the originator started over.
    old->active = false;
  }
  if (size == 0 || size > kJ1939MaxBody || packets != PacketsFor(size)) {
    ++counters.malformed;
    SendAbort(source, pgn, J1939AbortReason::Other);
    return;
  }
  if (!Accepts(pgn)) {
    SendAbort(source, pgn, J1939AbortReason::Other);
    return;
  }
  RxSession* s = FreeRx();
  if (s == nullptr) {
    SendAbort(source, pgn, J1939AbortReason::AlreadyInSession);
    return;
  }
  s->active = true;
  s->broadcast = false;
  s->source = source;
  s->destination = 0;  // ours; the stack knows which
  s->pgn = pgn;
  s->size = size;
  s->packets = packets;
  s->nextSeq = 1;
  s->data.assign(size, 0xFF);
  // The originator's limit (0xFF: none) caps the window; a zero limit is read as none.
  s->windowSize = static_cast<std::uint8_t>(
      std::max(1u, std::min<unsigned>(maxPerCts == 0 ? 255u : maxPerCts, config.ctsWindow)));
  SendCts(*s, nowMs);
}

void CJ1939Transport::SendCts(RxSession& s, std::int64_t nowMs) {
  const unsigned remaining = s.packets - s.nextSeq + 1u;
  const unsigned window = std::min<unsigned>(s.windowSize, remaining);
  std::uint8_t d[8] = {kClearToSend,
                       static_cast<std::uint8_t>(window),
                       static_cast<std::uint8_t>(s.nextSeq),
                       0xFF,
                       0xFF,
                       0,
                       0,
                       0};
  WritePgn(d, s.pgn);
  sendFrame(kPgnTransportControl, s.source, d, kFrameBytes);
  s.deadline = nowMs + config.timing.t2;
  s.windowEnd = static_cast<std::uint16_t>(s.nextSeq + window - 1);
}

void CJ1939Transport::OnBroadcastAnnounce(std::uint8_t source, const std::uint8_t* d, std::int64_t nowMs) {
  const std::uint16_t size = static_cast<std::uint16_t>(d[1] | (d[2] << 8));
  const std::uint8_t packets = d[3];
  const std::uint32_t pgn = ReadPgn(d);
  if (RxSession* old = FindRx(source, true)) {
    // A new announcement ends the one before it.
    old->active = false;
    ++counters.broadcastsDropped;
  }
  if (size == 0 || size > kJ1939MaxBody || packets != PacketsFor(size)) {
    ++counters.malformed;
    return;
  }
  if (!Accepts(pgn)) return;
  RxSession* s = FreeRx();
  if (s == nullptr) {
    ++counters.broadcastsDropped;
    return;
  }
  s->active = true;
  s->broadcast = true;
  s->source = source;
  s->destination = kJ1939GlobalAddress;
  s->pgn = pgn;
  s->size = size;
  s->packets = packets;
  s->nextSeq = 1;
  s->windowEnd = packets;
  s->data.assign(size, 0xFF);
  s->deadline = nowMs + config.timing.t1;
}

void CJ1939Transport::OnData(std::uint8_t source, std::uint8_t destination, const std::uint8_t* data,
                             std::size_t length, std::int64_t nowMs) {
  if (data == nullptr || length < 8) {
    ++counters.malformed;
    return;
  }
  const bool broadcast = destination == kJ1939GlobalAddress;
  RxSession* s = FindRx(source, broadcast);
  if (s == nullptr) {
    ++counters.unexpected;
    return;
  }
  const std::uint8_t seq = data[0];
  if (seq != s->nextSeq) {
    if (broadcast) {
      s->active = false;
      ++counters.broadcastsDropped;
      return;
    }
    AbortRx(*s, seq != 0 && seq < s->nextSeq ? J1939AbortReason::DuplicateSequenceNumber
                                             : J1939AbortReason::BadSequenceNumber);
    return;
  }
  const std::size_t offset = (seq - 1u) * kBytesPerPacket;
  const std::size_t count = std::min(kBytesPerPacket, static_cast<std::size_t>(s->size) - offset);
  std::copy(data + 1, data + 1 + count, s->data.begin() + static_cast<std::ptrdiff_t>(offset));
  ++s->nextSeq;

  if (seq == s->packets) {
    CompleteRx(*s);
    return;
  }
  if (!broadcast && seq == s->windowEnd) {
    SendCts(*s, nowMs);
    return;
  }
  s->deadline = nowMs + config.timing.t1;
}

void CJ1939Transport::CompleteRx(RxSession& s) {
  if (!s.broadcast) {
    std::uint8_t d[8] = {kEndOfMessageAck,
                         static_cast<std::uint8_t>(s.size),
                         static_cast<std::uint8_t>(s.size >> 8),
                         s.packets,
                         0xFF,
                         0,
                         0,
                         0};
    WritePgn(d, s.pgn);
    sendFrame(kPgnTransportControl, s.source, d, kFrameBytes);
  }
  // The slot is free before the callback runs, which may start new traffic.
  std::vector<std::uint8_t> body = std::move(s.data);
  const std::uint32_t pgn = s.pgn;
  const std::uint8_t source = s.source;
  const std::uint8_t destination = s.destination;
  s.active = false;
  s.data.clear();
  if (deliver) deliver(pgn, source, destination, body.data(), body.size());
}

void CJ1939Transport::SendAbort(std::uint8_t destination, std::uint32_t pgn, J1939AbortReason reason) {
  std::uint8_t d[8] = {kConnectionAbort, static_cast<std::uint8_t>(reason), 0xFF, 0xFF, 0xFF, 0, 0, 0};
  WritePgn(d, pgn);
  sendFrame(kPgnTransportControl, destination, d, kFrameBytes);
  ++counters.abortsSent;
}

void CJ1939Transport::AbortRx(RxSession& s, J1939AbortReason reason) {
  s.active = false;
  s.data.clear();
  SendAbort(s.source, s.pgn, reason);
}

void CJ1939Transport::OnClearToSend(std::uint8_t source, const std::uint8_t* d, std::int64_t nowMs) {
  TxSession* s = FindTx(source);
  if (s == nullptr || s->state == TxState::Broadcasting || s->state == TxState::SingleFrame ||
      ReadPgn(d) != s->message.pgn) {
    ++counters.unexpected;  // no such session: ignored
    return;
  }
  if (s->state == TxState::Sending) {
    SendAbort(source, s->message.pgn, J1939AbortReason::CtsWhileSending);
    FinishTx(*s, false, J1939AbortReason::CtsWhileSending);
    StartPending(nowMs);
    return;
  }
  const std::uint8_t count = d[1];
  const std::uint8_t next = d[2];
  if (count == 0) {
    s->state = TxState::Holding;
    s->deadline = nowMs + config.timing.t4;
    return;
  }
  if (next == 0 || next > s->packets) {
    SendAbort(source, s->message.pgn, J1939AbortReason::BadSequenceNumber);
    FinishTx(*s, false, J1939AbortReason::BadSequenceNumber);
    StartPending(nowMs);
    return;
  }
  // A window reaching past the last packet is cut at it; an earlier `next` is a retransmission.
  s->nextSeq = next;
  s->windowEnd = static_cast<std::uint16_t>(std::min<unsigned>(next + count - 1u, s->packets));
  s->state = TxState::Sending;
  s->deadline = nowMs + config.timing.t3;
  SendWindow(*s, nowMs);
}

bool CJ1939Transport::SendDataPacket(const TxSession& s, std::uint16_t seq, std::uint8_t destination) {
  std::uint8_t d[8] = {static_cast<std::uint8_t>(seq), 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const std::size_t offset = (seq - 1u) * kBytesPerPacket;
  const std::size_t count = std::min(kBytesPerPacket, s.message.body.size() - offset);
  std::copy(s.message.body.begin() + static_cast<std::ptrdiff_t>(offset),
            s.message.body.begin() + static_cast<std::ptrdiff_t>(offset + count), d + 1);
  return sendFrame(kPgnTransportData, destination, d, kFrameBytes);
}

// True when the frame went (the session is finished); false leaves it for the next tick.
bool CJ1939Transport::SendSingleFrame(TxSession& s) {
  if (!sendFrame(s.message.pgn, s.message.destination, s.message.body.data(), s.message.body.size()))
    return false;
  FinishTx(s, true, J1939AbortReason::Other);
  return true;
}

void CJ1939Transport::SendWindow(TxSession& s, std::int64_t nowMs) {
  while (s.nextSeq <= s.windowEnd) {
    // A refused packet is tried again at the next tick, until T3 runs out.
    if (!SendDataPacket(s, s.nextSeq, s.message.destination)) return;
    ++s.nextSeq;
  }
  s.state = TxState::AwaitCts;
  s.deadline = nowMs + config.timing.t3;
}

void CJ1939Transport::SendBroadcastPackets(TxSession& s, std::int64_t nowMs) {
  while (s.nextSeq <= s.packets) {
    if (!SendDataPacket(s, s.nextSeq, kJ1939GlobalAddress)) return;
    ++s.nextSeq;
    if (config.timing.bamPacketIntervalMs > 0) {
      s.nextPacketAt = nowMs + config.timing.bamPacketIntervalMs;
      if (s.nextSeq <= s.packets) return;
    }
  }
  FinishTx(s, true, J1939AbortReason::Other);
}

void CJ1939Transport::OnEndOfMessageAck(std::uint8_t source, const std::uint8_t* d, std::int64_t nowMs) {
  TxSession* s = FindTx(source);
  if (s == nullptr || s->state != TxState::AwaitCts || s->nextSeq <= s->packets ||
      ReadPgn(d) != s->message.pgn) {
    ++counters.unexpected;
    return;
  }
  FinishTx(*s, true, J1939AbortReason::Other);
  StartPending(nowMs);
}

void CJ1939Transport::OnAbort(std::uint8_t source, const std::uint8_t* d, std::int64_t nowMs) {
  const std::uint32_t pgn = ReadPgn(d);
  const auto reason = static_cast<J1939AbortReason>(d[1]);
  bool matched = false;
  if (RxSession* s = FindRx(source, false); s && s->pgn == pgn) {
    s->active = false;
    s->data.clear();
    matched = true;
  }
  if (TxSession* s = FindTx(source); s && s->state != TxState::SingleFrame && s->message.pgn == pgn) {
    matched = true;
    FinishTx(*s, false, reason, true);
    StartPending(nowMs);
  }
  if (matched)
    ++counters.abortsReceived;
  else
    ++counters.unexpected;
}

void CJ1939Transport::FinishTx(TxSession& s, bool delivered, J1939AbortReason reason, bool byPeer) {
  const std::uint32_t pgn = s.message.pgn;
  const std::uint8_t destination = s.message.destination;
  s.state = TxState::Idle;
  s.message.body.clear();
  if (finished) finished(pgn, destination, delivered, reason, byPeer);
}

void CJ1939Transport::Tick(std::int64_t nowMs) {
  for (auto& s : rx) {
    if (!s.active || nowMs <= s.deadline) continue;
    ++counters.timeouts;
    if (s.broadcast) {
      s.active = false;
      s.data.clear();
      ++counters.broadcastsDropped;
    } else {
      AbortRx(s, J1939AbortReason::Timeout);
    }
  }
  for (auto& s : tx) {
    switch (s.state) {
      case TxState::Idle:
        break;
      case TxState::Broadcasting:
        if (nowMs >= s.nextPacketAt) SendBroadcastPackets(s, nowMs);
        break;
      case TxState::SingleFrame:
        // Nothing went on the bus for it, so there is no one to tell of the time-out.
        if (!SendSingleFrame(s) && nowMs > s.deadline) {
          ++counters.timeouts;
          FinishTx(s, false, J1939AbortReason::Timeout);
        }
        break;
      case TxState::Sending:
        if (nowMs <= s.deadline) {
          const std::int64_t deadline = s.deadline;
          SendWindow(s, nowMs);
          if (s.state == TxState::Sending) s.deadline = deadline;
          break;
        }
        [[fallthrough]];
      case TxState::AwaitCts:
      case TxState::Holding:
        if (nowMs > s.deadline) {
          ++counters.timeouts;
          SendAbort(s.message.destination, s.message.pgn, J1939AbortReason::Timeout);
          FinishTx(s, false, J1939AbortReason::Timeout);
        }
        break;
    }
  }
  StartPending(nowMs);
}

void CJ1939Transport::Reset() {
  for (auto& s : rx) {
    s.active = false;
    s.data.clear();
  }
  std::deque<Outgoing> dropped;
  dropped.swap(pending);
  for (auto& s : tx)
    if (s.state != TxState::Idle) FinishTx(s, false, J1939AbortReason::ResourcesNeeded);
  for (auto& m : dropped)
    if (finished) finished(m.pgn, m.destination, false, J1939AbortReason::ResourcesNeeded, false);
}
