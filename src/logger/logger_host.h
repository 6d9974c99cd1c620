#pragma once

#include <string>

#include "link/protocol/kavo_packet.h"

// The logger's way out to the program that runs it (the main view): the link to the receiver,
// the disconnect it asks for when it cannot open its file, and the two logging settings it reads.
// Called on the logger's thread only.
class ILoggerHost {
 public:
  virtual ~ILoggerHost() = default;
  // Hands a packet to the open link; false when no link is connected.
  virtual bool SendToReceiver(const KavoPacket& packet, int withChecksum) = 0;
  // Asks for the connection to be closed (after the logger has shut its session down).
  virtual void Disconnect() = 0;
  // Settings "m_LoggingFolder" and "m_LoggingPrefix", read at every session start and file open.
  virtual std::string LoggingFolder() const = 0;
  virtual std::string LoggingPrefix() const = 0;
};
