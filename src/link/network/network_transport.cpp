#include "link/network/network_transport.h"

#include <QMetaObject>
#include <QObject>

#include "link/network/plowview_socket.h"

CNetworkTransport::CNetworkTransport(ITransportEvents& eventsRef, IPrompts& promptsRef)
    : events(eventsRef), prompts(promptsRef), context(std::make_unique<QObject>()) {
  client = std::make_unique<CPlowviewSocket>(CPlowviewSocket::Events{
      [this](const std::uint8_t* frame, std::size_t count) { events.TransportBytes(frame, count); },
      [this](bool up) { OnConnect(up); },
      [this] { OnClosed(); },
  });
}

CNetworkTransport::~CNetworkTransport() {
  client.reset();
}

// A target that can never be connected to is refused here, so that the owner reports it as a
// configuration error instead of a link that fails to open.
bool CNetworkTransport::SetServer(const std::string& address, std::uint32_t port) {
  serverAddress = address;
  serverPort = port;
  serverSet = (!address.empty() && port >= 1 && port <= 65535) ? 1 : 0;
  return serverSet != 0;
}

bool CNetworkTransport::Open(int, bool, bool) {
  ++generation;
  client->Close();  // an attempt still pending from an earlier open
  if (serverSet == 0) return false;
  return client->Connect(serverAddress, serverPort);
}

bool CNetworkTransport::Close() {
  ++generation;
  client->Close();
  return true;
}

void CNetworkTransport::Abandon() {
  ++generation;
  client->Close();
}

bool CNetworkTransport::SendFrame(const KavoPacket& packet, std::uint8_t withChecksum) {
  std::uint8_t frame[kKavoMaxFrame];
  std::uint16_t frameLength = 0;
  if (!BuildFrame(packet, frame, frameLength, withChecksum)) return false;
  client->SendFrame(frame, frameLength);
  return true;
}

bool CNetworkTransport::SendRaw(const std::uint8_t* bytes, std::size_t count) {
  client->SendFrame(bytes, count);
  return true;
}

void CNetworkTransport::OnConnect(bool up) {
  if (!up) {
    // Told before the status, as a serial open failure is; but not from inside the socket's own
    // signal, since a message box runs an event loop.
    const std::string text =
        "Error: Could not connect to " + serverAddress + ":" + std::to_string(serverPort) + ".";
    const std::uint64_t attempt = generation.load();
    QMetaObject::invokeMethod(
        context.get(),
        [this, text, attempt] {
          if (generation.load() == attempt)
            prompts.MessageBox(text, "Plowview", PromptIcon::Exclamation, PromptButtons::Ok);
        },
        Qt::QueuedConnection);
    events.TransportDown();
    return;
  }
  events.TransportUp();
}

// The server went away: the link is down, not silently idle, so the owner can show it.
void CNetworkTransport::OnClosed() {
  if (!events.IsCurrent(*this)) return;
  events.TransportDown();
}
