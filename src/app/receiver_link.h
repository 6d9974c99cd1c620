#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "link/protocol/kavo_packet.h"
#include "link/protocol/kavo_parser.h"
#include "link/relay_options.h"

// What the connection control needs of the link object. The program's link implements it through
// a thin adapter; tests use a fake that records every packet.
class IReceiverLink {
 public:
  virtual ~IReceiverLink() = default;
  virtual bool SetSerialParams(int baud, char parity, int dataBits, int stopBits) = 0;
  virtual bool SetCanParams(int destinationAddress, int instanceNumber, int busSpeedIndex) = 0;
  virtual bool SetServer(const std::string& address, std::uint32_t port) = 0;
  virtual void SetRelayServer(bool enabled, std::uint32_t port) = 0;
  // How the relay serves a shared network; `onEvent` gets its "* " lines for the log. Links
  // without a relay ignore it.
  virtual void SetRelayOptions(const RelayOptions& /*options*/,
                               std::function<void(const std::string&)> /*onEvent*/) {}
  // Where the link's "* " lines about itself go (into the log, and to the control's notice sink); on the
  // user-interface thread. Links without such lines ignore it.
  virtual void SetNoticeHandler(std::function<void(const std::string&)> /*onNotice*/) {}
  // Starts opening; the outcome arrives later as a link status (0 up, 1 failed or closed).
  virtual bool Open(int linkType, bool autoPortConfiguration) = 0;
  virtual void Close(int linkType) = 0;
  virtual bool IsConnected() = 0;
  virtual bool SendPacket(int linkType, const KavoPacket& packet, int withChecksum) = 0;
  virtual void RelayPacket(const KavoPacket& packet) = 0;
  // Replaces the contents of `batch` with every packet waiting on the link, in arrival order.
  virtual void TakePackets(CPacketBatch& batch) = 0;
};
