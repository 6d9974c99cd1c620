// The CAN branch of CCommLink (link types 9 and 10): the connect thread that searches the bus,
// the packet path from the CAN interface into the parser, and sending in command-0x08 bodies.

#include "link/comm_link.h"

#include "link/can_device_selector.h"
#include "link/can_interface.h"
#include "link/can_link_parts.h"
#include "link/protocol/kavo_packet.h"
#include "link/qt_can_driver.h"

CanLinkParts& CCommLink::Can() {
  if (can == nullptr) can = new CanLinkParts;
  return *can;
}

void CCommLink::SetCanBus(const CanBusSettings& settings, ICanDeviceSelector* selector) {
  Can().settings = settings;
  Can().selector = selector;
}

void CCommLink::SetCanDriverFactory(std::function<std::unique_ptr<ICanDriver>()> factory) {
  Can().driverFactory = std::move(factory);
}

void CCommLink::SetCanTiming(const CanLinkTiming& timing) {
  Can().timing = timing;
}

bool CCommLink::OpenCan(int channel) {
  if (canValid != 1) return false;
  CanLinkParts& parts = Can();
  CloseCan();  // a search or link left from an earlier open
  delete canInterface;
  canInterface = nullptr;
  parts.driver = parts.driverFactory ? parts.driverFactory() : std::make_unique<CQtCanDriver>(parts.settings);
  if (!parts.driver) return false;
  canInterface = new CCANInterface(*parts.driver, prompts, CSteadyClock::Instance());
  canInterface->SetSelector(parts.selector);
  canInterface->SetTiming(parts.timing);
  canInterface->onPacket = [this] { OnCanPacket(); };
  canInterface->onSendAborted = [this](std::uint8_t address, const std::string& reason) {
    OnCanSendAborted(address, reason);
  };
  parts.closing = false;
  parts.connectThread = std::thread([this, channel] {
    canInterface->Configure(canBusSpeed, 255, static_cast<std::uint32_t>(channel), canInstanceNumber);
    CanConnectThread();
  });
  return true;
}

void CCommLink::CanConnectThread() {
  if (canInterface->Connect()) {
    connected = 1;
    if (!can->closing && owner != nullptr) owner->PostLinkStatus(kLinkStatusUp);
    return;
  }
  connected = 0;
  canInterface->Close();
  if (can->closing) return;
  MarkClosed();
  if (owner != nullptr) owner->PostLinkStatus(kLinkStatusDown);
}

void CCommLink::CloseCan() {
  if (can == nullptr) return;
  can->closing = true;
  if (canInterface) canInterface->RequestStop();
  if (can->connectThread.joinable()) can->connectThread.join();
  if (canInterface) canInterface->Close();
}

void CCommLink::DestroyCan() {
  CloseCan();
  delete canInterface;
  canInterface = nullptr;
  delete can;
  can = nullptr;
}

// On the CAN reader thread, once per queued packet: the serial wire frame DLE id payload DLE ETX
// is rebuilt in the packet's copy (the three header bytes in front of the payload leave room for
// DLE id, and the copy keeps two bytes behind it) and fed to the parser.
void CCommLink::OnCanPacket() {
  KVCAN_KAVO_t item;
  if (canInterface == nullptr || !canInterface->PopPacket(item)) return;
  const std::size_t n = item.length;
  if (n + 6 > KVCAN_KAVO_t::kDataSize) return;  // PushPacket never queues these
  item.data[2] = kDle;
  item.data[3] = item.id;
  item.data[n + 4] = kDle;
  item.data[n + 5] = kEtx;
  for (std::size_t i = 2; i <= n + 5; ++i) parser->FeedByte(item.data[i]);
}

// The link stays up: whether the receiver is still there is the watchdog's to decide.
void CCommLink::OnCanSendAborted(std::uint8_t address, const std::string& reason) {
  ++canSendsAborted;
  const std::string line = "* CAN send to " + std::to_string(address) + " aborted: " + reason;
  PostToLinkThread([this, line] {
    if (noticeHandler) noticeHandler(line);
  });
}

std::uint64_t CCommLink::CanSendsAborted() const {
  return canSendsAborted.load();
}

bool CCommLink::CanSend(const std::uint8_t* body, std::size_t length) {
  if (canInterface == nullptr || connected.load() == 0) return false;
  return canInterface->SendBody(body, length);
}
