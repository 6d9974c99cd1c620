#pragma once

#include <string_view>

#include "link/protocol/kavo_packet.h"

// What the receiver model needs from its transport. The transport decides whether anything
// reaches the program (a pty line at other settings does not) and traces what it sends.
class IReceiverHost {
 public:
  virtual ~IReceiverHost() = default;
  // Frames and sends one packet; `withChecksum` 1 appends the payload sum.
  virtual void SendPacket(const KavoPacket& packet, int withChecksum) = 0;
  // Sends bytes as they are, outside any frame (the port report, the high-speed answer).
  virtual void SendText(std::string_view text) = 0;
  // One line for the trace.
  virtual void Trace(std::string_view line) = 0;
};
