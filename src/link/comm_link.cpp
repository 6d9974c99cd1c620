#include "link/comm_link.h"

#include <ctime>
#include <utility>

#include <QMetaObject>
#include <QTcpServer>
#include <QThread>

#include "link/can/can_transport.h"
#include "link/network/network_transport.h"
#include "link/network/server_socket.h"

namespace {

// The receive stamp of a read: whole seconds since 1970 UTC.
std::int64_t WallSeconds() {
  return static_cast<std::int64_t>(std::time(nullptr));
}

}  // namespace

CCommLink::CCommLink(ILinkOwner* ownerView, IPrompts& prompter, const LinkServices& linkServices)
    : owner(ownerView), prompts(prompter), services(linkServices) {
  parser = new CKavoParser([this](CKavoParser*) {
    if (owner != nullptr) owner->PostLinkPacket();
  });
  relay = new CServerSocket(
      [this](const std::uint8_t* frame, std::size_t count) { OnRelayClientFrame(frame, count); });
  ITransportEvents& events = *this;
  serial = std::make_unique<CSerialTransport>(events, prompts, services.clock, services.serialCalls);
  network = std::make_unique<CNetworkTransport>(events, prompts);
  can = std::make_unique<CCanTransport>(events, prompts, services);
}

CCommLink::~CCommLink() {
  Close(linkType.load());
  // Whatever still runs (a reader of a link marked closed by Open on an open link) ends before
  // the parser it feeds goes; a serial port closes without a restore packet then.
  AbandonAll();
  serial.reset();
  network.reset();
  can.reset();
  delete relay;  // closes the clients with it
  relay = nullptr;
  delete parser;
  parser = nullptr;
}

ILinkTransport* CCommLink::TransportFor(LinkType type) const {
  if (IsSerialLink(type)) return serial.get();
  if (IsCanLink(type)) return can.get();
  if (type == LinkType::Network) return network.get();
  return nullptr;
}

void CCommLink::AbandonAll() {
  serial->Abandon();
  network->Abandon();
  can->Abandon();
}

bool CCommLink::SetSerialParams(std::uint32_t baud, char parity, std::uint32_t dataBits,
                                std::uint32_t stopBits) {
  return serial->SetParams(baud, parity, dataBits, stopBits);
}

bool CCommLink::SetCanParams(std::uint32_t destinationAddress, std::uint32_t instanceNumber,
                             std::uint32_t busSpeedIndex) {
  can->SetParams(destinationAddress, instanceNumber, busSpeedIndex);
  return true;
}

bool CCommLink::SetServer(const std::string& address, std::uint32_t port) {
  return network->SetServer(address, port);
}

void CCommLink::SetCanBus(const CanBusSettings& settings, ICanDeviceSelector* selector) {
  can->SetBus(settings, selector);
}

void CCommLink::SetCanDriverFactory(std::function<std::unique_ptr<ICanDriver>()> factory) {
  can->SetDriverFactory(std::move(factory));
}

void CCommLink::SetCanTiming(const CanLinkTiming& timing) {
  can->SetTiming(timing);
}

CCANInterface* CCommLink::CanInterface() const {
  return can->Interface();
}

std::uint64_t CCommLink::CanSendsAborted() const {
  return can->SendsAborted();
}

void CCommLink::SetRelayServer(std::uint8_t enabled, std::uint32_t port) {
  relayEnabled = enabled;
  relayPort = port;
}

void CCommLink::SetRelayOptions(const RelayOptions& options,
                                std::function<void(const std::string&)> onEvent) {
  relay->SetOptions(options);
  relay->SetEventHandler(std::move(onEvent));
  relayForward = options.forwardToReceiver ? 1 : 0;
}

void CCommLink::SetNoticeHandler(std::function<void(const std::string&)> onNotice) {
  noticeHandler = std::move(onNotice);
}

void CCommLink::Open(LinkType type, bool autoConfigure) {
  OpenAny(type, autoConfigure, false);
}

void CCommLink::Reopen(LinkType type, bool autoConfigure) {
  OpenAny(type, autoConfigure, true);
}

void CCommLink::OpenAny(LinkType type, bool autoConfigure, bool reopen) {
  ++openGeneration;
  if (connected.load() != 0) {
    // Only the state is closed here; the transport keeps running until Close (or the next Open).
    MarkClosed();
    PostStatus(kLinkStatusDown);
    return;
  }
  // A transport may still run from a link that was marked closed above, or from a failed start
  // (a serial reader, a pending connection, a CAN search): end it before anything reuses it.
  AbandonAll();
  ILinkTransport* transport = TransportFor(type);
  if (transport != nullptr) {
    linkType = type;
    if (transport->Open(TransportNumber(type), autoConfigure, reopen)) {
      if (relayEnabled) StartRelay();
      return;
    }
  }
  MarkClosed();
  PostStatus(kLinkStatusDown);
}

bool CCommLink::Close(LinkType type) {
  ++openGeneration;
  if (connected.load() == 0) {
    linkType = LinkType::None;
    // A link still opening (or one marked closed by Open) would otherwise come up, or keep
    // reading, after the owner closed it.
    AbandonAll();
    return false;
  }
  ILinkTransport* transport = TransportFor(type);
  const bool result = transport != nullptr ? transport->Close() : true;
  connected = 0;
  linkType = LinkType::None;
  if (relayEnabled) CloseRelay();
  return result;
}

bool CCommLink::IsConnected(LinkType) const {
  return connected.load() != 0;
}

bool CCommLink::SendPacket(LinkType type, const KavoPacket* packet, std::uint8_t withChecksum) {
  ILinkTransport* transport = TransportFor(type);
  if (transport == nullptr) {
    connected = 0;
    return false;
  }
  if (packet == nullptr) return false;
  return transport->SendFrame(*packet, withChecksum);
}

bool CCommLink::SendRaw(LinkType type, const std::uint8_t* bytes, int count) {
  ILinkTransport* transport = TransportFor(type);
  if (transport == nullptr) {
    connected = 0;
    return false;
  }
  if (bytes == nullptr || count <= 0) return false;
  return transport->SendRaw(bytes, static_cast<std::size_t>(count));
}

void CCommLink::RelayPacket(const KavoPacket& packet) {
  if (!relayEnabled || !relay->IsListening()) return;
  std::uint8_t frame[kKavoMaxFrame];
  std::uint16_t frameLength = 0;
  if (!BuildFrame(packet, frame, frameLength, 0)) return;
  relay->Send(frame, frameLength, CServerSocket::CatchUpSlotOf(packet));
}

void CCommLink::StartRelay() {
  ++relayGeneration;
  // A port that cannot be had leaves the link without a relay; the link itself is not affected.
  if (relay->Listen(relayPort)) return;
  const std::string text =
      "Error: Could not start the relay server on port " + std::to_string(relayPort) + ".";
  relay->Tell("* " + text + "\n");
  prompts.MessageBox(text, "Plowview", PromptIcon::Exclamation, PromptButtons::Ok);
}

void CCommLink::PostToLinkThread(std::function<void()> call) {
  // The relay's listener lives on the link's thread and dies with the link.
  QMetaObject::invokeMethod(relay->Listener(), std::move(call), Qt::QueuedConnection);
}

// Until the link is up there is no receiver to talk to, and a serial link may still be settling
// or taking over the receiver's port: a client's frame then would only disturb that. A read-only
// relay passes nothing at all.
void CCommLink::OnRelayClientFrame(const std::uint8_t* bytes, std::size_t count) {
  if (connected.load() == 0 || relayForward.load() == 0 || count > 0xFFFF) return;
  SendRaw(linkType.load(), bytes, static_cast<int>(count));
}

// Also called on the serial reader thread when an open fails there: the sockets belong to the
// link's own thread, so the close is queued there, and skipped if a new relay started meanwhile.
void CCommLink::CloseRelay() {
  QTcpServer* context = relay->Listener();
  if (QThread::currentThread() == context->thread()) {
    relay->Close();
    return;
  }
  const std::uint64_t generation = relayGeneration.load();
  QMetaObject::invokeMethod(
      context,
      [this, generation] {
        if (relayGeneration.load() == generation) relay->Close();
      },
      Qt::QueuedConnection);
}

void CCommLink::MarkClosed() {
  connected = 0;
  linkType = LinkType::None;
  CloseRelay();
}

void CCommLink::PostStatus(int wParam) {
  if (owner != nullptr) owner->PostLinkStatus(wParam);
}

void CCommLink::TransportUp() {
  connected = 1;
  PostStatus(kLinkStatusUp);
}

void CCommLink::TransportDown() {
  MarkClosed();
  PostStatus(kLinkStatusDown);
}

void CCommLink::TransportBytes(const std::uint8_t* bytes, std::size_t count) {
  parser->Feed(bytes, count, WallSeconds());
}

void CCommLink::TransportNotice(const std::string& line) {
  PostToLinkThread([this, line] {
    if (noticeHandler) noticeHandler(line);
  });
}

bool CCommLink::IsCurrent(const ILinkTransport& transport) const {
  return TransportFor(linkType.load()) == &transport;
}

// The serial transport's own calls, for the owner and tests.
bool CCommLink::ConfigureReceiverPort(int port) {
  return serial->ConfigureReceiverPort(port);
}

bool CCommLink::ReadReceiverPortReport() {
  return serial->ReadReceiverPortReport();
}

int CCommLink::WaitHighSpeedAnswer() {
  return serial->WaitHighSpeedAnswer();
}

bool CCommLink::RestoreReceiverPort() {
  return serial->RestoreReceiverPort();
}

bool CCommLink::WaitForText(const char* text) {
  return serial->WaitForText(text);
}

std::uint32_t CCommLink::HighSpeedActive() const {
  return serial->HighSpeedActive();
}

const ReceiverPortReport& CCommLink::PortReport() const {
  return serial->PortReport();
}

SerialPortAccess& CCommLink::SerialPort() {
  return serial->Port();
}

void CCommLink::SetTiming(const CommLinkTiming& newTiming) {
  serial->SetTiming(newTiming);
}

void CCommLink::UseSerialLineForTest(ISerialLine& line, const IClock& clock,
                                     std::function<void(int ms)> passTime) {
  serial->UseLineForTest(line, clock, std::move(passTime));
}
