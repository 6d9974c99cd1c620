#include "link/can/can_transport.h"

#include "link/can/can_device_selector.h"
#include "link/can/can_interface.h"
#include "link/can/can_link_parts.h"
#include "link/can/qt_can_driver.h"
#include "link/j1939/kavo_can_body.h"
#include "link/protocol/kavo_packet.h"

CCanTransport::CCanTransport(ITransportEvents& eventsRef, IPrompts& promptsRef,
                             const LinkServices& linkServices)
    : events(eventsRef), prompts(promptsRef), services(linkServices) {}

CCanTransport::~CCanTransport() {
  Abandon();
  delete canInterface;
  canInterface = nullptr;
  delete parts;
  parts = nullptr;
}

CanLinkParts& CCanTransport::Parts() {
  if (parts == nullptr) parts = new CanLinkParts;
  return *parts;
}

void CCanTransport::SetParams(std::uint32_t destination, std::uint32_t instance,
                              std::uint32_t busSpeedIndex) {
  destinationAddress = destination;
  instanceNumber = instance;
  busSpeed = busSpeedIndex;
  // Addresses and instance numbers above a byte are refused as well: they cannot be put on the bus.
  valid = (busSpeedIndex <= 3 && destination >= 1 && destination <= 254 && instance >= 1 && instance <= 255)
              ? 1
              : 0;
}

void CCanTransport::SetBus(const CanBusSettings& settings, ICanDeviceSelector* selector) {
  Parts().settings = settings;
  Parts().selector = selector;
}

void CCanTransport::SetDriverFactory(std::function<std::unique_ptr<ICanDriver>()> factory) {
  Parts().driverFactory = std::move(factory);
}

void CCanTransport::SetTiming(const CanLinkTiming& timing) {
  Parts().timing = timing;
}

bool CCanTransport::Open(int channel, bool, bool) {
  if (valid != 1) return false;
  CanLinkParts& can = Parts();
  Abandon();  // a search or link left from an earlier open
  delete canInterface;
  canInterface = nullptr;
  can.driver = can.driverFactory ? can.driverFactory()
                                 : std::make_unique<CQtCanDriver>(can.settings, services.canThread);
  if (!can.driver) return false;
  canInterface = new CCANInterface(*can.driver, prompts, services.clock);
  canInterface->SetSelector(can.selector);
  canInterface->SetTiming(can.timing);
  canInterface->onPacket = [this] { OnPacket(); };
  canInterface->onSendAborted = [this](std::uint8_t address, const std::string& reason) {
    OnSendAborted(address, reason);
  };
  can.closing = false;
  can.connectThread = std::thread([this, channel] {
    canInterface->Configure(busSpeed, 255, static_cast<std::uint32_t>(channel), instanceNumber);
    ConnectThread();
  });
  return true;
}

// A link closed meanwhile hears nothing of the outcome.
void CCanTransport::ConnectThread() {
  if (canInterface->Connect()) {
    if (!parts->closing) events.TransportUp();
    return;
  }
  canInterface->Close();
  if (parts->closing) return;
  events.TransportDown();
}

bool CCanTransport::Close() {
  Abandon();
  return true;
}

void CCanTransport::Abandon() {
  if (parts == nullptr) return;
  parts->closing = true;
  if (canInterface) canInterface->RequestStop();
  if (parts->connectThread.joinable()) parts->connectThread.join();
  if (canInterface) canInterface->Close();
}

bool CCanTransport::SendFrame(const KavoPacket& packet, std::uint8_t withChecksum) {
  std::uint8_t body[kKavoMaxFrame];
  const std::size_t length = BuildKavoCanBody(packet, withChecksum, body, sizeof body);
  if (length == 0) return false;
  Send(body, length);
  return true;
}

bool CCanTransport::SendRaw(const std::uint8_t* bytes, std::size_t count) {
  std::uint8_t body[kKavoMaxFrame];
  const std::size_t length = BuildKavoCanBodyFromFrame(bytes, count, body, sizeof body);
  if (length == 0) return false;
  Send(body, length);
  return true;
}

// On the CAN reader thread, once per queued packet: the serial wire frame DLE id payload DLE ETX
// is rebuilt in the packet's copy (the three header bytes in front of the payload leave room for
// DLE id, and the copy keeps two bytes behind it) and handed to the link.
void CCanTransport::OnPacket() {
  KVCAN_KAVO_t item;
  if (canInterface == nullptr || !canInterface->PopPacket(item)) return;
  const std::size_t n = item.length;
  if (n + 6 > KVCAN_KAVO_t::kDataSize) return;  // PushPacket never queues these
  item.data[2] = kDle;
  item.data[3] = item.id;
  item.data[n + 4] = kDle;
  item.data[n + 5] = kEtx;
  events.TransportBytes(item.data + 2, n + 4);
}

// On the CAN reader or tick thread: counted here, told on the link's thread.
void CCanTransport::OnSendAborted(std::uint8_t address, const std::string& reason) {
  ++sendsAborted;
  events.TransportNotice("* CAN send to " + std::to_string(address) + " aborted: " + reason);
}

bool CCanTransport::Send(const std::uint8_t* body, std::size_t length) {
  if (canInterface == nullptr || !events.LinkUp()) return false;
  return canInterface->SendBody(body, length);
}
