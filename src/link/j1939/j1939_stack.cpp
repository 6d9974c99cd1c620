#include "link/j1939/j1939_stack.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "link/j1939/j1939_name.h"
#include "link/j1939/kavo_can_body.h"

namespace {

// Addresses a self-configurable node may move to when it loses its claim.
constexpr std::uint8_t kFirstDynamicAddress = 128;
constexpr std::uint8_t kLastDynamicAddress = 247;

bool IsProprietaryA(std::uint32_t pgn) {
  return (pgn & 0x3FF00) == kPgnProprietaryA;
}

}  // namespace

CJ1939Stack::CJ1939Stack(J1939StackConfig configIn, const IClock& clockIn, SendFrame sendFrameIn,
                         EventHandler onEventIn)
    : config(std::move(configIn)),
      clock(clockIn),
      sendFrame(std::move(sendFrameIn)),
      onEvent(std::move(onEventIn)),
      transport(
          config.transport,
          [this](std::uint32_t pgn, std::uint8_t destination, const std::uint8_t* data, std::size_t length) {
            return SendOne(pgn, destination, address, data, length);
          },
          [this](std::uint32_t pgn, std::uint8_t source, std::uint8_t, const std::uint8_t* body,
                 std::size_t length) { HandleMessage(pgn, source, body, length); },
          [this](std::uint32_t pgn, std::uint8_t destination, bool delivered, J1939AbortReason reason,
                 bool byPeer) {
            Emit(delivered ? J1939EventCode::TransmitDone : J1939EventCode::TransmitFailed, destination,
                 delivered ? 0u : static_cast<std::uint32_t>(reason), pgn, nullptr, 0, nullptr,
                 !delivered && byPeer);
          }) {
  if (config.softwareIdentification.empty())
    config.softwareIdentification = FormatSoftwareIdentification(ProgramSoftwareIdentification(config.name));
}

void CJ1939Stack::Emit(J1939EventCode code, std::uint8_t from, std::uint32_t parameter, std::uint32_t pgn,
                       const std::uint8_t* body, std::size_t length,
                       const SoftwareIdentification* identification, bool byPeer) {
  if (!onEvent) return;
  J1939Event event;
  event.code = code;
  event.channel = config.channel;
  event.address = from;
  event.parameter = parameter;
  event.pgn = pgn;
  event.body = body;
  event.length = length;
  event.identification = identification;
  event.byPeer = byPeer;
  onEvent(event);
}

bool CJ1939Stack::SendOne(std::uint32_t pgn, std::uint8_t destination, std::uint8_t source,
                          const std::uint8_t* data, std::size_t length) {
  CanFrame frame;
  frame.id = MakeJ1939Id(config.priority, pgn, destination, source);
  frame.length = static_cast<std::uint8_t>(std::min<std::size_t>(length, kCanMaxLength));
  if (frame.length > 0) std::memcpy(frame.data, data, frame.length);
  if (sendFrame && sendFrame(frame)) {
    ++counters.sent;
    return true;
  }
  ++counters.refused;
  return false;
}

// --- address claim -------------------------------------------------------------------------------

void CJ1939Stack::Start() {
  transport.Reset();
  nodes.Clear();
  address = config.preferredAddress;
  addressesTried = 0;
  claimState = J1939ClaimState::Claiming;
  claimStandsAt = clock.NowMs() + config.addressClaimWaitMs;
  SendClaim();
}

void CJ1939Stack::Stop() {
  claimState = J1939ClaimState::Idle;
  address = kJ1939NullAddress;
  transport.Reset();
  nodes.Clear();
}

void CJ1939Stack::SendClaim() {
  const std::uint8_t source = claimState == J1939ClaimState::CannotClaim ? kJ1939NullAddress : address;
  SendOne(kPgnAddressClaim, kJ1939GlobalAddress, source, config.name.data(), config.name.size());
}

void CJ1939Stack::HandleClaim(std::uint8_t source, const CanFrame& frame) {
  if (frame.length < 8) {
    ++counters.malformed;
    return;
  }
  J1939Name name;
  std::memcpy(name.data(), frame.data, name.size());
  if (source == kJ1939NullAddress) {
    nodes.RemoveName(name);
    return;
  }
  if (name == config.name) {
    // Our own claim heard back (a driver that echoes): not a contender.
    ++counters.ignored;
    return;
  }
  nodes.Claim(source, name, clock.NowMs());
  const bool holding = claimState == J1939ClaimState::Claiming || claimState == J1939ClaimState::Claimed;
  if (!holding || source != address) return;
  if (J1939NameValue(config.name) < J1939NameValue(name)) {
    SendClaim();  // the lower NAME keeps the address: say so again
    return;
  }
  LoseAddress();
}

void CJ1939Stack::LoseAddress() {
  transport.Reset();
  if (IsArbitraryAddressCapable(config.name)) {
    // Next address of the dynamic range that no known node holds.
    std::uint8_t candidate = address;
    while (addressesTried < kLastDynamicAddress - kFirstDynamicAddress + 1u) {
      ++addressesTried;
      candidate = (candidate >= kFirstDynamicAddress && candidate < kLastDynamicAddress)
                      ? static_cast<std::uint8_t>(candidate + 1)
                      : kFirstDynamicAddress;
      const J1939Node* holder = nodes.Find(candidate);
      if (holder == nullptr || !holder->hasName) {
        address = candidate;
        claimState = J1939ClaimState::Claiming;
        claimStandsAt = clock.NowMs() + config.addressClaimWaitMs;
        SendClaim();
        return;
      }
    }
  }
  claimState = J1939ClaimState::CannotClaim;
  address = kJ1939NullAddress;
  SendClaim();
  Emit(J1939EventCode::CannotClaimAddress, kJ1939NullAddress, 0);
}

// --- receive -------------------------------------------------------------------------------------

void CJ1939Stack::Receive(const CanFrame& frame) {
  ++counters.received;
  if (frame.length > kCanMaxLength) {
    ++counters.malformed;
    return;
  }
  const J1939Id id = ParseJ1939Id(frame.id);
  if (id.pgn == kPgnAddressClaim) {
    HandleClaim(id.source, frame);
    return;
  }
  const bool toUs = id.destination == kJ1939GlobalAddress ||
                    (claimState != J1939ClaimState::CannotClaim && id.destination == address);
  if (!toUs || id.source == kJ1939GlobalAddress) {
    ++counters.ignored;
    return;
  }
  if (id.pgn == kPgnRequest) {
    HandleRequest(id, frame);
    return;
  }
  // A node without an address may only claim or request.
  if (claimState != J1939ClaimState::Claimed || id.source == kJ1939NullAddress) {
    ++counters.ignored;
    return;
  }
  bool created = false;
  nodes.Touch(id.source, clock.NowMs(), created);
  const std::int64_t now = clock.NowMs();
  switch (id.pgn) {
    case kPgnTransportControl:
      transport.OnControl(id.source, id.destination, frame.data, frame.length, now);
      return;
    case kPgnTransportData:
      transport.OnData(id.source, id.destination, frame.data, frame.length, now);
      return;
    case kPgnAcknowledgement:
      if (frame.length < 8) {
        ++counters.malformed;
        return;
      }
      Emit(J1939EventCode::Acknowledgement, id.source, frame.data[0],
           frame.data[5] | (static_cast<std::uint32_t>(frame.data[6]) << 8) |
               (static_cast<std::uint32_t>(frame.data[7]) << 16));
      return;
    default:
      HandleMessage(id.pgn, id.source, frame.data, frame.length);
      return;
  }
}

void CJ1939Stack::HandleRequest(const J1939Id& id, const CanFrame& frame) {
  if (frame.length < 3) {
    ++counters.malformed;
    return;
  }
  const std::uint32_t requested = frame.data[0] | (static_cast<std::uint32_t>(frame.data[1]) << 8) |
                                  (static_cast<std::uint32_t>(frame.data[2]) << 16);
  if (requested == kPgnAddressClaim) {
    // Answered in every state, a cannot-claim included, as the standard requires.
    if (claimState != J1939ClaimState::Idle) SendClaim();
    return;
  }
  if (claimState != J1939ClaimState::Claimed) {
    ++counters.ignored;
    return;
  }
  if (id.source != kJ1939NullAddress) {
    bool created = false;
    nodes.Touch(id.source, clock.NowMs(), created);
  }
  const bool answered = std::find(config.answeredRequests.begin(), config.answeredRequests.end(),
                                  requested) != config.answeredRequests.end();
  if (!answered && id.destination == address && id.source != kJ1939NullAddress) {
    SendAcknowledgement(J1939AckControl::Nack, requested, id.source);
    return;
  }
  Emit(J1939EventCode::Request, id.source, 0, requested);
}

void CJ1939Stack::HandleMessage(std::uint32_t pgn, std::uint8_t source, const std::uint8_t* body,
                                std::size_t length) {
  if (IsProprietaryA(pgn) || pgn == kPgnProprietaryB) {
    HandleProprietary(source, body, length);
  } else if (pgn == kPgnSoftwareIdentification) {
    HandleSoftwareIdentification(source, body, length);
  } else {
    Emit(J1939EventCode::Message, source, 0, pgn, body, length);
  }
}

void CJ1939Stack::HandleProprietary(std::uint8_t source, const std::uint8_t* body, std::size_t length) {
  if (length == 0) {
    ++counters.malformed;
    return;
  }
  if (J1939Node* node = nodes.Find(source); node != nullptr && node->state == J1939NodeState::Seen) {
    // A node we know nothing about talks to us: ask who it is.
    node->state = J1939NodeState::IdentificationRequested;
    SendRequest(kPgnSoftwareIdentification, source);
  }
  const std::uint8_t command = body[0];
  switch (command) {
    case kKavoCanCommandPacket:
      Emit(J1939EventCode::KavoPacket, source, 0, kPgnProprietaryA, body, length);
      return;
    case kKavoCanCommandEcho:
      if (length < 4) {
        ++counters.malformed;
        return;
      }
      Emit(J1939EventCode::Echo, source, body[1] != 0 ? 1u : 0u, kPgnProprietaryA, body, length);
      return;
    case kKavoCanCommandNodeList:
      // The bare command (or one padded with 0xFF) asks for our list; a list is reported.
      if (length == 1 || (length <= 8 && body[1] == 0xFF)) {
        SendNodeList(source);
        return;
      }
      [[fallthrough]];
    default:
      Emit(J1939EventCode::ProprietaryCommand, source, command, kPgnProprietaryA, body, length);
      return;
  }
}

void CJ1939Stack::HandleSoftwareIdentification(std::uint8_t source, const std::uint8_t* body,
                                               std::size_t length) {
  if (length == 0) {
    ++counters.malformed;
    return;
  }
  if (J1939Node* node = nodes.Find(source)) node->state = J1939NodeState::Identified;
  SoftwareIdentification parsed;
  const bool hasFields = ParseSoftwareIdentification(body, length, parsed);
  Emit(J1939EventCode::SoftwareIdentification, source, hasFields ? 1u : 0u, kPgnSoftwareIdentification, body,
       length, hasFields ? &parsed : nullptr);
}

// --- send ----------------------------------------------------------------------------------------

void CJ1939Stack::Tick() {
  const std::int64_t now = clock.NowMs();
  if (claimState == J1939ClaimState::Claiming && now >= claimStandsAt) {
    claimState = J1939ClaimState::Claimed;
    Emit(J1939EventCode::AddressClaimed, address, address);
  }
  if (claimState == J1939ClaimState::Claimed) transport.Tick(now);
}

J1939SendResult CJ1939Stack::Send(std::uint32_t pgn, std::uint8_t destination, const std::uint8_t* body,
                                  std::size_t length) {
  if (claimState != J1939ClaimState::Claimed) return J1939SendResult::NotClaimed;
  if (length > kJ1939MaxBody) return J1939SendResult::TooLong;
  if (length > 0 && body == nullptr) return J1939SendResult::DriverRefused;
  const bool toOneNode = IsPdu1(pgn) && destination != kJ1939GlobalAddress;
  if (length <= kCanMaxLength && !(length > 0 && toOneNode && transport.Busy(destination))) {
    return SendOne(pgn, destination, address, body, length) ? J1939SendResult::Sent
                                                            : J1939SendResult::DriverRefused;
  }
  return transport.Transmit(pgn, destination, body, length, clock.NowMs()) ? J1939SendResult::Started
                                                                           : J1939SendResult::QueueFull;
}

J1939SendResult CJ1939Stack::SendRequest(std::uint32_t requestedPgn, std::uint8_t destination) {
  const std::uint8_t body[3] = {static_cast<std::uint8_t>(requestedPgn),
                                static_cast<std::uint8_t>(requestedPgn >> 8),
                                static_cast<std::uint8_t>(requestedPgn >> 16)};
  return Send(kPgnRequest, destination, body, sizeof body);
}

J1939SendResult CJ1939Stack::SendAcknowledgement(J1939AckControl control, std::uint32_t pgn,
                                                 std::uint8_t requester) {
  const std::uint8_t body[8] = {static_cast<std::uint8_t>(control),
                                0xFF,
                                0xFF,
                                0xFF,
                                requester,
                                static_cast<std::uint8_t>(pgn),
                                static_cast<std::uint8_t>(pgn >> 8),
                                static_cast<std::uint8_t>(pgn >> 16)};
  return Send(kPgnAcknowledgement, kJ1939GlobalAddress, body, sizeof body);
}

J1939SendResult CJ1939Stack::SendSoftwareIdentification() {
  const auto& text = config.softwareIdentification;
  return Send(kPgnSoftwareIdentification, kJ1939GlobalAddress,
              reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

J1939SendResult CJ1939Stack::SendNodeList(std::uint8_t destination) {
  std::uint8_t body[2 + CJ1939NodeTable::kCapacity * 10];
  std::size_t length = 2;
  std::uint8_t count = 0;
  for (std::size_t i = 0; i < nodes.Size(); ++i) {
    const J1939Node& node = nodes.At(i);
    if (!node.hasName) continue;
    body[length++] = node.address;
    body[length++] = static_cast<std::uint8_t>(node.state);
    std::memcpy(body + length, node.name.data(), node.name.size());
    length += node.name.size();
    ++count;
  }
  body[0] = kKavoCanCommandNodeList;
  body[1] = count;
  while (length < 8) body[length++] = 0xFF;
  return Send(kPgnProprietaryA, destination, body, length);
}
