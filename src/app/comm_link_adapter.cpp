#include "app/comm_link_adapter.h"

#include <utility>

namespace {
std::uint32_t NonNegative(int v) {
  return v < 0 ? 0u : static_cast<std::uint32_t>(v);
}
}  // namespace

bool CCommLinkAdapter::SetSerialParams(int baud, char parity, int dataBits, int stopBits) {
  if (baud <= 0 || dataBits <= 0 || stopBits <= 0) return false;
  return link.SetSerialParams(NonNegative(baud), parity, NonNegative(dataBits), NonNegative(stopBits));
}

bool CCommLinkAdapter::SetCanParams(int destinationAddress, int instanceNumber, int busSpeedIndex) {
  if (destinationAddress < 0 || instanceNumber < 0 || busSpeedIndex < 0) return false;
  return link.SetCanParams(NonNegative(destinationAddress), NonNegative(instanceNumber),
                           NonNegative(busSpeedIndex));
}

bool CCommLinkAdapter::SetServer(const std::string& address, std::uint32_t port) {
  return link.SetServer(address, port);
}

void CCommLinkAdapter::SetRelayServer(bool enabled, std::uint32_t port) {
  link.SetRelayServer(enabled ? 1 : 0, port);
}

bool CCommLinkAdapter::Open(int linkType, bool autoPortConfiguration) {
  link.Open(linkType, autoPortConfiguration);
  return true;  // the outcome arrives as a link status
}

void CCommLinkAdapter::Close(int linkType) {
  link.Close(linkType);
}

bool CCommLinkAdapter::IsConnected() {
  return link.IsConnected();
}

bool CCommLinkAdapter::SendPacket(int linkType, const KavoPacket& packet, int withChecksum) {
  return link.SendPacket(linkType, &packet, withChecksum == 1 ? 1 : 0);
}

void CCommLinkAdapter::SetRelayOptions(const RelayOptions& options,
                                       std::function<void(const std::string&)> onEvent) {
  link.SetRelayOptions(options, std::move(onEvent));
}

void CCommLinkAdapter::SetNoticeHandler(std::function<void(const std::string&)> onNotice) {
  link.SetNoticeHandler(std::move(onNotice));
}

void CCommLinkAdapter::RelayPacket(const KavoPacket& packet) {
  link.RelayPacket(packet);
}

bool CCommLinkAdapter::TryPopPacket(KavoPacket& packet) {
  return link.Parser().TryPopPacket(packet);
}
