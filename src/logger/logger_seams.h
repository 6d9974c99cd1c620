#pragma once

#include <cstdint>
#include <string>

#include "link/protocol/kavo_packet.h"

class ILogLineContext;

// Reads the receiver's configuration into the log at the start of a file session. Without one the
// logger waits out its 10-second configuration time-out and goes on.
class IConfigurationReport {
 public:
  virtual ~IConfigurationReport() = default;
  // Sends the configuration requests (through context.SendReceiverCommand).
  virtual void RequestConfiguration(ILogLineContext& context) = 0;
  // Takes one answer; true once the whole configuration has been reported.
  virtual bool TakePacket(const KavoPacket& packet, ILogLineContext& context) = 0;
};

// The ".kavo" raw packet log beside each text log (option 0x4000).
class IRawPacketLog {
 public:
  virtual ~IRawPacketLog() = default;
  virtual bool Open(const std::string& path) = 0;
  virtual void Close() = 0;
  virtual void Write(const KavoPacket& packet) = 0;
  // Frame bytes that could not be written to the file opened last, since its Open.
  virtual std::uint64_t LostBytes() const { return 0; }
};

// The receiver's raw measurement file stream (option 0x2000).
class IQ0xWriter {
 public:
  virtual ~IQ0xWriter() = default;
  virtual void ResetPacketCount() = 0;
  virtual void StopStream() = 0;
  virtual void SetFolder(const std::string& folder) = 0;
  virtual void TakePacket(const KavoPacket& packet) = 0;
};

// The DAT file beside each text log of a file session ("m_WriteDatFile"). The logger asks Wanted
// once per session, then starts it on the first file's ".dat" name, reopens it on every later
// hour's, hands it every packet it takes and stops it with the session.
class IDatLog {
 public:
  virtual ~IDatLog() = default;
  virtual bool Wanted() = 0;
  virtual void Start(const std::string& datPath) = 0;
  virtual void Reopen(const std::string& datPath) = 0;
  virtual void Post(const KavoPacket& packet) = 0;
  virtual void Stop() = 0;
  // Bytes that could not be written to the hour's DAT and base files, since their Start or Reopen.
  virtual std::uint64_t LostBytes() const { return 0; }
};
