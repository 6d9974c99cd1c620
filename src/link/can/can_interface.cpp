#include "link/can/can_interface.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "link/can/can_device_selector.h"
#include "link/j1939/j1939_name.h"
#include "link/j1939/kavo_can_body.h"
#include "link/protocol/kavo_packet.h"

namespace {

constexpr char kOpenChannelFailed[] = "Error: Could not open CAN channel";
constexpr char kHardwareFailed[] = "Error: Could not initialize the PC CANBUS Hardware";
constexpr char kNoReceivers[] = "No CAN capable receivers were detected.\n";
constexpr std::uint8_t kProgramAddress = 249;
// Frames taken from the driver per lock: the senders get the stack in between.
constexpr std::size_t kFramesPerDrain = 64;

bool Contains(const J1939Event& event, std::string_view word) {
  if (event.body == nullptr) return false;
  const std::string_view text(reinterpret_cast<const char*>(event.body), event.length);
  return text.find(word) != std::string_view::npos;
}

}  // namespace

bool WaitSearchStep(int ms, std::stop_token stop) {
  std::mutex lock;
  std::condition_variable_any woken;
  std::unique_lock guard(lock);
  // Only the stop ends the wait early: the stop token wakes `woken` itself.
  woken.wait_for(guard, stop, std::chrono::milliseconds(ms), [] { return false; });
  return !stop.stop_requested();
}

CCANInterface::CCANInterface(ICanDriver& driverRef, IPrompts& promptsRef, const IClock& clockRef)
    : driver(driverRef), prompts(promptsRef), clock(clockRef) {}

CCANInterface::~CCANInterface() {
  RequestStop();
  Close();
}

void CCANInterface::Configure(std::uint32_t busSpeedIndex, std::uint32_t destinationAddress,
                              std::uint32_t channel, std::uint32_t instance) {
  busSpeed = busSpeedIndex;
  destAddress = destinationAddress;
  canChannel = channel;
  instanceNumber = instance;
}

bool CCANInterface::Connect() {
  std::stop_token stop;
  {
    std::lock_guard guard(stopLock);
    stop = searchStop.get_token();
  }
  connected = 0;
  driver.Initialize();
  threadsStop = false;
  {
    std::lock_guard guard(searchLock);
    found.clear();
    searchCounter = 0;
  }
  echoBytes[0] = 1;
  echoBytes[1] = 1;

  CanBitRate rate;
  if (!BitRateFromSpeedIndex(busSpeed, rate)) {
    prompts.MessageBox(kOpenChannelFailed, "Plowview", PromptIcon::Exclamation);
    return false;
  }
  {
    std::lock_guard guard(stackLock);
    J1939StackConfig config;
    config.channel = static_cast<int>(canChannel);
    config.name = ProgramJ1939Name(instanceNumber);
    config.preferredAddress = kProgramAddress;
    stack = std::make_unique<CJ1939Stack>(
        config, clock,
        [this](const CanFrame& frame) { return handle >= 0 && driver.Write(handle, frame) == CanStatus::Ok; },
        [this](const J1939Event& event) { OnEvent(event); });
  }
  ticker = std::thread([this] { TickThread(); });

  state = 1;
  int opened = -1;
  if (OpenCanChannel(driver, static_cast<int>(canChannel), rate, opened) != CanStatus::Ok) {
    prompts.MessageBox(kHardwareFailed, "Plowview", PromptIcon::Exclamation);
    return false;
  }
  const CanDriverVersion version = driver.Version();
  // stderr, not stdout: headless runs print the log there.
  std::fprintf(stderr, "Library version: %u.%02u \n", version.major, version.minor);
  {
    std::lock_guard guard(stackLock);
    handle = opened;
    stack->Start();
  }
  reader = std::thread([this] { ReaderThread(); });

  // The search ends `searchSteps` steps after the last new receiver answered.
  for (;;) {
    if (!timing.waitSearchStep(timing.searchStepMs, stop)) return false;
    std::lock_guard guard(searchLock);
    searchCounter = std::min(searchCounter + 1, 255);
    if (searchCounter >= timing.searchSteps) break;
  }
  std::vector<std::string> entries = FoundAddresses();
  if (entries.empty()) {
    prompts.MessageBox(kNoReceivers, "Plowview", PromptIcon::Exclamation);
    return false;
  }
  const int chosen = selector ? selector->SelectDevice(entries) : 0;
  {
    std::lock_guard guard(searchLock);
    found.clear();
  }
  int address = -1;
  if (stop.stop_requested() || chosen < 0 || static_cast<std::size_t>(chosen) >= entries.size() ||
      std::sscanf(entries[static_cast<std::size_t>(chosen)].c_str(), "%d", &address) != 1 || address < 0 ||
      address > 253) {
    connected = 0;
    state = 0;
    return false;
  }
  destAddress = static_cast<std::uint32_t>(address);
  connected = 1;
  state = 2;
  return true;
}

void CCANInterface::RequestStop() {
  {
    std::lock_guard guard(stopLock);
    searchStop.request_stop();
  }
  if (selector) selector->CancelSelection();
}

void CCANInterface::StopThreads() {
  {
    std::lock_guard guard(stopLock);
    threadsStop = true;
  }
  stopChanged.notify_all();
  if (reader.joinable()) reader.join();
  if (ticker.joinable()) ticker.join();
}

void CCANInterface::Close() {
  connected = 0;
  state = 0;
  StopThreads();
  std::lock_guard guard(stackLock);
  if (stack) stack->Stop();
  if (handle >= 0) {
    driver.BusOff(handle);
    driver.Close(handle);
    handle = -1;
  }
  stack.reset();
  {
    std::lock_guard inboxGuard(inboxLock);
    inbox.clear();
  }
  std::lock_guard stopGuard(stopLock);
  searchStop = std::stop_source();
}

void CCANInterface::ReaderThread() {
  const auto consume = [this](const CanFrame& frame) { stack->Receive(frame); };
  for (;;) {
    {
      std::lock_guard guard(stopLock);
      if (threadsStop) return;
    }
    const CanStatus waited = driver.WaitForEvent(handle, timing.readerWaitMs);
    if (waited != CanStatus::Ok) {
      // A driver in trouble answers at once: pace the retries instead of spinning.
      if (waited != CanStatus::Timeout) {
        std::unique_lock guard(stopLock);
        stopChanged.wait_for(guard, std::chrono::milliseconds(timing.readerWaitMs),
                             [this] { return threadsStop.load(); });
      }
      continue;
    }
    CanStatus status = CanStatus::Ok;
    do {
      std::lock_guard guard(stackLock);
      DrainCanFrames(driver, handle, kFramesPerDrain, consume, status);
    } while (status == CanStatus::Ok);
  }
}

void CCANInterface::TickThread() {
  for (;;) {
    {
      std::unique_lock guard(stopLock);
      if (stopChanged.wait_for(guard, std::chrono::milliseconds(kJ1939TickMs),
                               [this] { return threadsStop.load(); }))
        return;
    }
    std::lock_guard guard(stackLock);
    if (stack) stack->Tick();
  }
}

std::vector<std::string> CCANInterface::FoundAddresses() const {
  std::lock_guard guard(searchLock);
  return found;
}

std::uint8_t CCANInterface::OwnAddress() const {
  std::lock_guard guard(stackLock);
  return stack && stack->IsClaimed() ? stack->Address() : kJ1939NullAddress;
}

void CCANInterface::AddFound(std::uint8_t address) {
  char text[8];
  std::snprintf(text, sizeof text, "%d", address);
  std::lock_guard guard(searchLock);
  if (std::find(found.begin(), found.end(), text) != found.end()) return;
  // The selection dialog holds at most 255 entries; there are fewer addresses than that anyway.
  if (found.size() >= 255) return;
  found.emplace_back(text);
  searchCounter = 0;
}

void CCANInterface::SendEcho(std::uint8_t flag) {
  const std::uint8_t body[4] = {kKavoCanCommandEcho, flag, echoBytes[0], echoBytes[1]};
  stack->Send(kPgnProprietaryA, static_cast<std::uint8_t>(destAddress.load()), body, sizeof body);
}

// Runs inside the stack's Receive or Tick, under stackLock.
void CCANInterface::OnEvent(const J1939Event& event) {
  switch (event.code) {
    case J1939EventCode::AddressClaimed:
      // Receivers that do not ask us first are found all the same: ask everyone at once.
      if (state.load() == 1) stack->SendRequest(kPgnSoftwareIdentification, kJ1939GlobalAddress);
      return;
    case J1939EventCode::Request:
      if (event.pgn != kPgnSoftwareIdentification) return;
      stack->SendSoftwareIdentification();
      if (state.load() != 2) {
        stack->SendRequest(kPgnSoftwareIdentification, kJ1939GlobalAddress);
        SendEcho(0);
        SendEcho(1);
      }
      return;
    case J1939EventCode::SoftwareIdentification:
      if (event.parameter == 0) {
        stack->SendSoftwareIdentification();
        return;
      }
      if (state.load() == 2 || Contains(event, "NAME,4010")) return;
      if (Contains(event, "KVCAN")) AddFound(event.address);
      return;
    case J1939EventCode::KavoPacket:
      if (state.load() != 2 || event.address != destAddress.load()) return;
      PushPacket(event);
      if (onPacket) onPacket();
      return;
    case J1939EventCode::TransmitFailed:
      // A close ends the transfers under way itself; only a live link's losses are news.
      if (state.load() != 2) return;
      ++abortedSends;
      if (onSendAborted)
        onSendAborted(event.address,
                      AbortReasonText(static_cast<J1939AbortReason>(event.parameter), event.byPeer));
      return;
    case J1939EventCode::Echo:
      if (event.parameter != 1 || event.body == nullptr || event.length < 4) return;
      echoBytes[0] = event.body[2];
      echoBytes[1] = event.body[3];
      SendEcho(0);
      SendEcho(1);
      return;
    default:
      return;
  }
}

std::string CCANInterface::AbortReasonText(J1939AbortReason reason, bool byPeer) {
  const char* text = nullptr;
  switch (reason) {
    case J1939AbortReason::AlreadyInSession:
      text = "busy";
      break;
    case J1939AbortReason::ResourcesNeeded:
      text = "out of resources";
      break;
    case J1939AbortReason::Timeout:
      text = "time-out";
      break;
    case J1939AbortReason::CtsWhileSending:
      text = "clear to send while sending";
      break;
    case J1939AbortReason::RetransmitLimit:
      text = "retransmit limit";
      break;
    case J1939AbortReason::UnexpectedDataPacket:
      text = "unexpected data packet";
      break;
    case J1939AbortReason::BadSequenceNumber:
      text = "bad sequence number";
      break;
    case J1939AbortReason::DuplicateSequenceNumber:
      text = "duplicate sequence number";
      break;
    case J1939AbortReason::Other:
      break;
  }
  const std::string why = text != nullptr ? text : "reason " + std::to_string(static_cast<int>(reason));
  return byPeer ? "by the receiver (" + why + ")" : why;
}

bool CCANInterface::SendBody(const std::uint8_t* body, std::size_t length) {
  std::lock_guard guard(stackLock);
  if (!stack || handle < 0) return false;
  const J1939SendResult result =
      stack->Send(kPgnProprietaryA, static_cast<std::uint8_t>(destAddress.load()), body, length);
  return result == J1939SendResult::Sent || result == J1939SendResult::Started;
}

void CCANInterface::PushPacket(const J1939Event& event) {
  if (event.body == nullptr || event.length < 4 || event.body[0] != kKavoCanCommandPacket) {
    ++droppedPackets;
    return;
  }
  const std::size_t stuffed = event.body[1] | (static_cast<std::size_t>(event.body[2]) << 8);
  // The copy must keep two bytes behind the payload for DLE ETX.
  if (stuffed > kKavoCanMaxReceivedStuffed || stuffed + 4 > event.length) {
    ++droppedPackets;
    return;
  }
  std::lock_guard guard(inboxLock);
  if (inbox.size() >= kInboxLimit) {
    ++droppedPackets;
    return;
  }
  KVCAN_KAVO_t& item = inbox.emplace_back();
  item.id = event.body[3];
  item.length = static_cast<std::uint16_t>(stuffed);
  std::memcpy(item.data, event.body, std::min(event.length, KVCAN_KAVO_t::kDataSize));
}

bool CCANInterface::PopPacket(KVCAN_KAVO_t& out) {
  std::lock_guard guard(inboxLock);
  if (inbox.empty()) return false;
  out = inbox.front();
  inbox.pop_front();
  return true;
}
