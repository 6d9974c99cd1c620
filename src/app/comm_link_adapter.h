#pragma once

#include "app/receiver_link.h"
#include "link/comm_link.h"

// The program's link object seen through the connection control's interface.
class CCommLinkAdapter final : public IReceiverLink {
 public:
  explicit CCommLinkAdapter(CCommLink& link) : link(link) {}

  bool SetSerialParams(int baud, char parity, int dataBits, int stopBits) override;
  bool SetCanParams(int destinationAddress, int instanceNumber, int busSpeedIndex) override;
  bool SetServer(const std::string& address, std::uint32_t port) override;
  void SetRelayServer(bool enabled, std::uint32_t port) override;
  void SetRelayOptions(const RelayOptions& options, std::function<void(const std::string&)> onEvent) override;
  void SetNoticeHandler(std::function<void(const std::string&)> onNotice) override;
  bool Open(int linkType, bool autoPortConfiguration) override;
  void Close(int linkType) override;
  bool IsConnected() override;
  bool SendPacket(int linkType, const KavoPacket& packet, int withChecksum) override;
  void RelayPacket(const KavoPacket& packet) override;
  bool TryPopPacket(KavoPacket& packet) override;

 private:
  CCommLink& link;
};
