#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "logger/logger_seams.h"

// The receiver's raw measurement file, which the receiver streams itself inside super-packets
// 0x8F-0x93-0x14 once asked to: a name record (kind 2) opens "<folder>/<name>" for appending, data
// records (kind 0) append to it. The stream is asked for once per session, after more than 100
// packets have been taken, so that it starts once the receiver's set-up is over.
//
// Failures are silent: without an open file, data records are dropped until the next name record.
// Logger thread only.
class CQ0xWriter final : public IQ0xWriter {
 public:
  // Sends a packet to the receiver (identifier, length and data filled; the flag asks for the
  // checksum trailer). It must stay callable for the writer's life.
  using SendFunction = std::function<bool(const KavoPacket& packet, int withChecksum)>;

  static constexpr std::uint32_t kPacketsBeforeStream = 100;

  explicit CQ0xWriter(SendFunction send);
  ~CQ0xWriter() override;
  CQ0xWriter(const CQ0xWriter&) = delete;
  CQ0xWriter& operator=(const CQ0xWriter&) = delete;

  void ResetPacketCount() override { packetCount = 0; }
  // Forgets that the stream was asked for and sends the stop command.
  void StopStream() override;
  void SetFolder(const std::string& folder) override { this->folder = folder; }
  // Counts the packet while the stream is off (asking for it after the 100th) and stores the
  // stream records among the packets. Bad records (failed checksums, lengths reaching past the
  // packet, names with a folder part) are dropped.
  void TakePacket(const KavoPacket& packet) override;
  // Stops caring about the stream and closes the file, without a command (the link may be gone).
  void Close();

  bool Streaming() const { return streaming; }
  bool IsOpen() const { return fd >= 0; }
  const std::string& CurrentName() const { return currentName; }

 private:
  void SendStreamCommand(std::uint8_t on);
  void OpenName(const std::uint8_t* name, std::size_t available);
  void DropFile();

  static constexpr const char* kNoName = "q0xfile_INDEXq02";  // a path no received name equals

  SendFunction send;
  int fd = -1;
  std::string currentName = kNoName;
  std::string folder;
  std::uint32_t packetCount = 0;
  bool streaming = false;
};
