#pragma once

#include <functional>

#include "link/protocol/kavo_packet.h"

// The simulated receiver's answers to the logger's configuration requests: one plausible reply
// per request (I/O options, filters, NMEA settings per port, the configuration block in its newer
// layout, correction service, lightbar and guidance, CAN, PPS, navigation masks), the PV filter
// reply 0x70 answering the last request. The configuration block in the older layout, the
// subscription record, the spot stations and the guidance configuration come from the navigation
// stream, which answers those requests in logging too; the panel flags from the panel.
class CConfigReplies {
 public:
  using Sink = std::function<void(const KavoPacket& packet, int withChecksum)>;

  // Answers `request` when it is a configuration request this class knows; false otherwise (the
  // caller goes on with it). Set-up commands that share an identifier with a request (0x35,
  // 0x6A, 0x6E, 0x7A with their arguments) are not taken for requests.
  bool Answer(const KavoPacket& request, const Sink& sink) const;
};
