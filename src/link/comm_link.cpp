#include "link/comm_link.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

#include <QMetaObject>
#include <QTcpServer>
#include <QThread>

#include "link/comm_error.h"
#include "link/j1939/kavo_can_body.h"
#include "link/plowview_socket.h"
#include "link/server_socket.h"

namespace {

constexpr int kSettlePasses = 60;
// Troubled read rounds in a row (each followed by a retry pause) that make a lost line.
constexpr int kLossConfirmRounds = 10;
constexpr char kOpenFailedText[] = "Error: Could not open serial port.";

bool IsSerial(int linkType) {
  return linkType >= kLinkSerialFirst && linkType <= kLinkSerialLast;
}

std::int64_t SteadyMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int TransportNumber(int linkType) {
  if (IsSerial(linkType)) return linkType;
  if (linkType == kLinkCan0 || linkType == kLinkCan1) return linkType - kLinkCan0;
  return 0;
}

CommLinkTiming CommLinkTiming::Scaled(int divisor) const {
  if (divisor < 1) divisor = 1;
  auto cut = [divisor](int ms) { return std::max(1, ms / divisor); };
  CommLinkTiming t;
  t.settlePassMs = cut(settlePassMs);
  t.settleConfirmMs = cut(settleConfirmMs);
  t.settleQuietMs = cut(settleQuietMs);
  t.readIdleMs = cut(readIdleMs);
  t.lineDownRetryMs = cut(lineDownRetryMs);
  t.rxIdleMs = cut(rxIdleMs);
  t.txDrainMs = cut(txDrainMs);
  t.textPollMs = cut(textPollMs);
  t.reportRetryMs = cut(reportRetryMs);
  t.breakMs = cut(breakMs);
  t.afterReportMs = cut(afterReportMs);
  t.afterSwitchMs = cut(afterSwitchMs);
  return t;
}

CCommLink::CCommLink(ILinkOwner* ownerView, IPrompts& prompter)
    : owner(ownerView), prompts(prompter), stopEvent(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  parser = new CKavoParser([this](CKavoParser*) {
    if (owner != nullptr) owner->PostLinkPacket();
  });
  client = new CPlowviewSocket({
      [this](const std::uint8_t* frame, std::size_t count) { parser->Feed(frame, count); },
      [this](bool up) { OnNetworkConnect(up); },
      [this] { OnNetworkClosed(); },
  });
  relay = new CServerSocket(
      [this](const std::uint8_t* frame, std::size_t count) { OnRelayClientFrame(frame, count); });
}

CCommLink::~CCommLink() {
  Close(linkType.load());
  // A reader left running (the link was marked closed by Open on an open link) ends before the
  // parser it feeds goes; its port closes without a restore packet, as the link type is already
  // "none".
  StopSerialReader(true);
  delete client;
  client = nullptr;
  delete relay;  // closes the clients with it
  relay = nullptr;
  delete parser;
  parser = nullptr;
  DestroyCan();
  if (stopEvent >= 0) ::close(stopEvent);
}

bool CCommLink::SetSerialParams(std::uint32_t baud, char parityIn, std::uint32_t dataBitsIn,
                                std::uint32_t stopBitsIn) {
  baudRate = baud;
  parity = parityIn;
  dataBits = dataBitsIn;
  stopBits = stopBitsIn;
  const bool parityOk = parity == 'N' || parity == 'O' || parity == 'E';
  const bool baudOk = baud == 2400 || baud == 4800 || baud == 9600 || baud == 19200 || baud == 38400;
  const bool dataOk = dataBits == 7 || dataBits == 8;
  const bool stopOk = stopBits == 1 || stopBits == 2;
  serialValid = (parityOk && baudOk && dataOk && stopOk) ? 1 : 0;
  return serialValid != 0;
}

bool CCommLink::SetCanParams(std::uint32_t destinationAddress, std::uint32_t instanceNumber,
                             std::uint32_t busSpeedIndex) {
  canDestinationAddress = destinationAddress;
  canInstanceNumber = instanceNumber;
  canBusSpeed = busSpeedIndex;
  // Addresses and instance numbers above a byte are refused as well: they cannot be put on the bus.
  canValid = (busSpeedIndex <= 3 && destinationAddress >= 1 && destinationAddress <= 254 &&
              instanceNumber >= 1 && instanceNumber <= 255)
                 ? 1
                 : 0;
  return true;
}

// A target that can never be connected to is refused here, so that the owner reports it as a
// configuration error instead of a link that fails to open.
bool CCommLink::SetServer(const std::string& address, std::uint32_t port) {
  serverAddress = address;
  serverPort = port;
  serverSet = (!address.empty() && port >= 1 && port <= 65535) ? 1 : 0;
  return serverSet != 0;
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

void CCommLink::Open(int type, bool autoConfigure) {
  openSkipsSettle = false;
  OpenAny(type, autoConfigure);
}

void CCommLink::Reopen(int type, bool autoConfigure) {
  openSkipsSettle = autoConfigure;
  OpenAny(type, autoConfigure);
}

void CCommLink::OpenAny(int type, bool autoConfigure) {
  ++openGeneration;
  if (connected.load() != 0) {
    // Only the state is closed here; the transport keeps running until Close (or the next Open).
    MarkClosed();
    PostStatus(kLinkStatusDown);
    return;
  }
  // A serial reader may survive from a link that was marked closed above, or from a failed
  // start: end it before anything reuses the port or the thread object. An earlier close also
  // left the stop request set, which would silence this open's status.
  StopSerialReader(true);
  client->Close();  // a connection attempt still pending from an earlier open
  stopRequested = 0;

  bool started = false;
  if (type >= 0 && type < kLinkNone) {
    linkType = type;
    if (IsSerial(type)) started = OpenSerial(type, autoConfigure);
    if (type == kLinkNetwork) started = OpenNetwork();
    if (type == kLinkCan0 || type == kLinkCan1) started = OpenCan(TransportNumber(type));
  }
  if (started) {
    if (relayEnabled) StartRelay();
    return;
  }
  MarkClosed();
  PostStatus(kLinkStatusDown);
}

bool CCommLink::Close(int type) {
  ++openGeneration;
  if (connected.load() == 0) {
    linkType = kLinkNone;
    // A serial link still opening (or one marked closed by Open) would otherwise come up, or
    // keep reading, after the owner closed it.
    StopSerialReader(true);
    client->Close();  // likewise a connection attempt still pending
    CloseCan();       // and a CAN search
    return false;
  }
  bool result = true;
  if (IsSerial(type)) result = CloseSerial();
  if (type == kLinkNetwork) client->Close();
  if (type == kLinkCan0 || type == kLinkCan1) CloseCan();
  connected = 0;
  linkType = kLinkNone;
  if (relayEnabled) CloseRelay();
  return result;
}

bool CCommLink::IsConnected(int) const {
  return connected.load() != 0;
}

bool CCommLink::SendPacket(int type, const KavoPacket* packet, std::uint8_t withChecksum) {
  if (type < 0 || type >= kLinkNone) {
    connected = 0;
    return false;
  }
  if (packet == nullptr) return false;
  if (type == kLinkCan0 || type == kLinkCan1) {
    std::uint8_t body[kKavoMaxFrame];
    const std::size_t length = BuildKavoCanBody(*packet, withChecksum, body, sizeof body);
    if (length == 0) return false;
    CanSend(body, length);
    return true;
  }
  if (!IsSerial(type) && type != kLinkNetwork) return false;
  std::uint8_t frame[kKavoMaxFrame];
  std::uint16_t frameLength = 0;
  if (!BuildFrame(*packet, frame, frameLength, withChecksum)) return false;
  if (type == kLinkNetwork) {
    client->SendFrame(frame, frameLength);
  } else {
    SerialSend(frame, frameLength, 2);
  }
  return true;
}

bool CCommLink::SendRaw(int type, const std::uint8_t* bytes, int count) {
  if (type < 0 || type >= kLinkNone) {
    connected = 0;
    return false;
  }
  if (bytes == nullptr || count <= 0) return false;
  if (type == kLinkNetwork) {
    // A relay client's frame goes upstream the only way the server there takes it.
    client->SendFrame(bytes, static_cast<std::size_t>(count));
    return true;
  }
  if (type == kLinkCan0 || type == kLinkCan1) {
    std::uint8_t body[kKavoMaxFrame];
    const std::size_t length =
        BuildKavoCanBodyFromFrame(bytes, static_cast<std::size_t>(count), body, sizeof body);
    if (length == 0) return false;
    CanSend(body, length);
    return true;
  }
  if (!IsSerial(type)) return false;
  SerialSend(bytes, count, 0);
  return true;
}

void CCommLink::RelayPacket(const KavoPacket& packet) {
  if (!relayEnabled || !relay->IsListening()) return;
  std::uint8_t frame[kKavoMaxFrame];
  std::uint16_t frameLength = 0;
  if (!BuildFrame(packet, frame, frameLength, 0)) return;
  relay->Send(frame, frameLength, CServerSocket::CatchUpSlotOf(packet));
}

bool CCommLink::OpenNetwork() {
  if (serverSet == 0) return false;
  return client->Connect(serverAddress, serverPort);
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

void CCommLink::OnNetworkConnect(bool up) {
  if (!up) {
    // Told before the status, as a serial open failure is; but not from inside the socket's own
    // signal, since a message box runs an event loop. An attempt closed or replaced meanwhile
    // says nothing.
    const std::string text =
        "Error: Could not connect to " + serverAddress + ":" + std::to_string(serverPort) + ".";
    const std::uint64_t generation = openGeneration.load();
    PostToLinkThread([this, text, generation] {
      if (openGeneration.load() == generation)
        prompts.MessageBox(text, "Plowview", PromptIcon::Exclamation, PromptButtons::Ok);
    });
    MarkClosed();
    PostStatus(kLinkStatusDown);
    return;
  }
  connected = 1;
  PostStatus(kLinkStatusUp);
}

// The server went away: the link is down, not silently idle, so the owner can show it.
void CCommLink::OnNetworkClosed() {
  if (linkType.load() != kLinkNetwork) return;
  MarkClosed();
  PostStatus(kLinkStatusDown);
}

// Until the link is up there is no receiver to talk to, and a serial link may still be settling
// or taking over the receiver's port: a client's frame then would only disturb that. A read-only
// relay passes nothing at all.
void CCommLink::OnRelayClientFrame(const std::uint8_t* bytes, std::size_t count) {
  if (connected.load() == 0 || relayForward.load() == 0 || count > 0xFFFF) return;
  SendRaw(linkType.load(), bytes, static_cast<int>(count));
}

// Write errors are written to the debug capture by the port layer; the send is not repeated.
bool CCommLink::SerialSend(const std::uint8_t* bytes, int count, int trailingNuls) {
  // A full transmit buffer would otherwise cut the frame short: wait for room, bounded by the
  // time a whole frame needs at the slowest rate the link runs at.
  constexpr int kWriteWaitMs = 8000;
  bool ok = serialPort.WriteBufferTimed(bytes, count, kWriteWaitMs) == count;
  for (int i = 0; i < trailingNuls; ++i) ok = serialPort.WriteCharTimed(0x00, kWriteWaitMs) >= 0 && ok;
  while (serialPort.IsOpen() && serialPort.IsTXEmpty() == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(timing.txDrainMs));
  }
  return ok;
}

int CCommLink::OpenPortForLink(int port, bool autoConfigure) {
  if (autoConfigure) return serialPort.Open(port, 9600, 'N', 8, 1);
  return serialPort.Open(port, static_cast<int>(baudRate), parity, static_cast<int>(dataBits),
                         static_cast<int>(stopBits));
}

bool CCommLink::OpenSerial(int port, bool autoConfigure) {
  char captureName[64];
  std::snprintf(captureName, sizeof captureName, "v1.19DebugComm%d.txt", port + 1);
  // Each port has its own capture: a link opened again on another port moves to that port's file.
  if (serialPort.IsLogging() && serialPort.LogFileName() != captureName) serialPort.StopLog();
  serialPort.StartLog(captureName);

  if (autoConfigure && serialPort.IsOpen()) serialPort.Close();
  if (const int opened = OpenPortForLink(port, autoConfigure); opened < 0) {
    prompts.MessageBox(SerialOpenFailedText(kOpenFailedText, opened, serialPort.PortMap().Path(port)),
                       "Plowview", PromptIcon::Exclamation, PromptButtons::Ok);
    return false;
  }
  serialPort.SetRTS(1);  // a pseudo-terminal has no RTS line; the port works without it

  openAutoConfigure = autoConfigure;
  openPort = port;
  portReport.valid = 0;
  stopRequested = 0;
  if (stopEvent >= 0) {
    std::uint64_t drained = 0;
    while (::read(stopEvent, &drained, sizeof drained) > 0) {
    }
  }
  worker = std::thread([this] { ReaderThread(); });
  return true;
}

bool CCommLink::CloseSerial() {
  if (!serialPort.IsOpen()) {
    StopSerialReader(false);
    return false;
  }
  StopSerialReader(false);
  if (portReport.valid == 1) RestoreReceiverPort();
  return serialPort.Close() >= 0;
}

void CCommLink::StopSerialReader(bool closePort) {
  if (worker.joinable()) {
    RequestStop();
    worker.join();
  }
  if (closePort && serialPort.IsOpen()) serialPort.Close();
}

void CCommLink::RequestStop() {
  stopRequested = 1;
  if (stopEvent >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(stopEvent, &one, sizeof one);
  }
}

bool CCommLink::Pause(int ms) {
  if (StopRequested()) return false;
  if (stopEvent < 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return !StopRequested();
  }
  pollfd stop{stopEvent, POLLIN, 0};
  const std::int64_t until = SteadyMs() + ms;
  for (;;) {
    const std::int64_t left = until - SteadyMs();
    if (left <= 0) break;
    if (::poll(&stop, 1, static_cast<int>(left)) > 0) break;  // EINTR goes round again
  }
  return !StopRequested();
}

CCommLink::WaitResult CCommLink::WaitForByte(int ms) {
  if (StopRequested()) return WaitResult::Stopped;
  const int fd = serialPort.GetCommHandle();
  if (fd < 0) return WaitResult::LineDown;
  pollfd fds[2] = {{fd, POLLIN, 0}, {stopEvent, POLLIN, 0}};
  const nfds_t count = stopEvent >= 0 ? 2 : 1;
  const int ready = ::poll(fds, count, ms);
  if (StopRequested()) return WaitResult::Stopped;
  if (ready == 0) return WaitResult::TimedOut;
  if (ready < 0) return WaitResult::TimedOut;  // EINTR: the caller reads again
  // Callers wait only after a read found nothing, so a hang-up here means nothing is left to
  // read, though a hung-up pty also reports itself readable.
  if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return WaitResult::LineDown;
  if (fds[0].revents & POLLIN) return WaitResult::Readable;
  return WaitResult::TimedOut;
}

bool CCommLink::IdleWait(int tickMs, std::int64_t& idleMs) {
  const std::int64_t start = SteadyMs();
  WaitResult result = WaitForByte(tickMs);
  if (result == WaitResult::Stopped) return false;
  if (result == WaitResult::LineDown) {
    // The port gives no readiness to wait on (hung up): pace the retries by the clock instead.
    const std::int64_t left = tickMs - (SteadyMs() - start);
    if (left > 0 && !Pause(static_cast<int>(left))) return false;
  }
  idleMs += SteadyMs() - start;
  return !StopRequested();
}

void CCommLink::MarkClosed() {
  connected = 0;
  linkType = kLinkNone;
  CloseRelay();
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

void CCommLink::PostStatus(int wParam) {
  if (StopRequested() || owner == nullptr) return;
  owner->PostLinkStatus(wParam);
}

void CCommLink::FailFromReader() {
  MarkClosed();
  PostStatus(kLinkStatusDown);
}

void CCommLink::ReaderThread() {
  portReport.valid = 0;
  // The command panel draws test data from the C runtime's generator.
  std::srand(static_cast<unsigned>(std::time(nullptr)));

  // A reopen with the take-over needs no settling: the break that starts it resets the line.
  if (!(openAutoConfigure && openSkipsSettle) && !SettlePhase()) return;
  if (openAutoConfigure && !ConfigureReceiverPort(openPort)) {
    FailFromReader();
    return;
  }
  if (StopRequested()) return;
  connected = 1;
  PostStatus(kLinkStatusUp);
  ReadLoop();
}

// Lets the line settle after the open: a receiver already talking is met on a freshly opened
// port, a silent one is accepted after the last pass. False when the thread is to end.
bool CCommLink::SettlePhase() {
  for (int pass = 0; pass < kSettlePasses; ++pass) {
    if (!Pause(timing.settlePassMs)) return false;
    const int first = serialPort.ReadChar();
    if (first == kCommHangUp) {
      // The device went away while settling: no link to report up.
      FailFromReader();
      return false;
    }
    if (first < 0) continue;
    if (pass == 0) {
      serialPort.Close();
      if (OpenPortForLink(openPort, openAutoConfigure) < 0) {
        FailFromReader();
        return false;
      }
      continue;
    }
    if (!Pause(timing.settleConfirmMs)) return false;
    if (serialPort.ReadChar() >= 0) return Pause(timing.settleQuietMs);
  }
  return !StopRequested();
}

void CCommLink::ReadLoop() {
  // Nothing to do until the receiver sends: wait on the port, not on a timer. A stop request
  // wakes every wait, so no tick is needed to see it.
  std::uint8_t bytes[256];
  bool readableButEmpty = false;
  int badRounds = 0;  // rounds in a row that read nothing while the port reported trouble
  while (!StopRequested()) {
    const int got = serialPort.ReadBuffer(bytes, static_cast<int>(sizeof bytes));
    if (got > 0) {
      parser->Feed(bytes, static_cast<std::size_t>(got));
      readableButEmpty = false;
      badRounds = 0;
      continue;
    }
    // End of file, EIO or ENXIO: the device is gone (a pulled adapter, the far pty end closed).
    // A read that merely found nothing (0) is not a loss.
    if (got == kCommHangUp || got == kCommNotOpen) {
      LoseLine();
      return;
    }
    // Other errors, and a port that polls as hung up or readable but gives nothing, are retried
    // at a slow pace (the descriptor never stops being "ready") and taken as a loss only when
    // they persist.
    const bool lineDown = got < 0 || readableButEmpty;
    const WaitResult result = lineDown ? WaitResult::LineDown : WaitForByte(-1);
    if (result == WaitResult::Stopped) return;
    readableButEmpty = result == WaitResult::Readable;
    if (result != WaitResult::LineDown) continue;
    if (++badRounds >= kLossConfirmRounds) {
      LoseLine();
      return;
    }
    if (!Pause(timing.lineDownRetryMs)) return;
  }
}

// Reported once: the reader ends here, so a dead descriptor is neither polled nor read again.
// The port stays open (hung up) until the owner's Close or the next Open closes it.
void CCommLink::LoseLine() {
  if (StopRequested()) return;
  FailFromReader();
}
