#pragma once

#include <cstdint>

#include "link/protocol/kavo_packet.h"
#include "logger/logger_session.h"

// What a line formatter may use of the logger: the session state, the line writer, the command
// path to the receiver, the program clock and the receiver set-up. CLogrowan implements it;
// tests and benchmarks use a recording implementation. All calls on the logger's thread.
class ILogLineContext {
 public:
  virtual ~ILogLineContext() = default;

  virtual LoggerSession& Session() = 0;
  // Writes one finished line; "\n" is appended unless the text ends with it.
  virtual void WriteLine(const char* text) = 0;
  // Sends a command to the receiver. Nothing is sent in a passive session; false then.
  virtual bool SendReceiverCommand(const KavoPacket& packet, int withChecksum) = 0;
  // Program clock in seconds.
  virtual double Now() const = 0;
  // Re-runs the receiver set-up for logging (cold reset seen in the health report).
  virtual void ConfigureForLogging() = 0;
};

// Builds and sends a command of up to 40 data bytes through `context`.
bool SendCommand(ILogLineContext& context, std::uint8_t id, const std::uint8_t* data, std::uint16_t length,
                 int withChecksum);
