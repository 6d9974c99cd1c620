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
// Without an open file, data records are dropped until the next name record. A name that is
// refused (it holds "/" or "\\", is "." or "..", is empty or longer than 255 bytes) closes the
// current file all the same, so that the next file's data never lands in it; the data records
// that follow are dropped and counted until a name is accepted, and that run ends with one log
// line naming the refused record and the records dropped.
// Logger thread only.
class CQ0xWriter final : public IQ0xWriter {
 public:
  // Sends a packet to the receiver (identifier, length and data filled; the flag asks for the
  // checksum trailer). It must stay callable for the writer's life.
  using SendFunction = std::function<bool(const KavoPacket& packet, int withChecksum)>;
  // Writes one log line (the logger's WriteLine); may be empty.
  using LineFunction = std::function<void(const char* text)>;

  static constexpr std::uint32_t kPacketsBeforeStream = 100;

  explicit CQ0xWriter(SendFunction send, LineFunction writeLine = nullptr);
  ~CQ0xWriter() override;
  CQ0xWriter(const CQ0xWriter&) = delete;
  CQ0xWriter& operator=(const CQ0xWriter&) = delete;

  void ResetPacketCount() override { packetCount = 0; }
  // Forgets that the stream was asked for and sends the stop command; a run of records dropped
  // after a refused name ends with its line.
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
  // Data records dropped after refused names, in all.
  std::uint64_t RefusedRecords() const { return refusedRecords; }

  // Longest part of a refused name the log line shows.
  static constexpr std::size_t kShownNameLength = 64;

 private:
  void SendStreamCommand(std::uint8_t on);
  void OpenName(const std::uint8_t* name, std::size_t available);
  void Refuse(const std::uint8_t* name, std::size_t length);
  void EndRefusal();
  void DropFile();

  static constexpr const char* kNoName = "q0xfile_INDEXq02";  // a path no received name equals

  SendFunction send;
  LineFunction writeLine;
  int fd = -1;
  std::string currentName = kNoName;
  std::string folder;
  std::uint32_t packetCount = 0;
  bool streaming = false;
  bool refusing = false;         // data records are dropped after a refused name
  std::string refusedName;       // that name as the line shows it
  std::uint64_t refusedRun = 0;  // records dropped since it
  std::uint64_t refusedRecords = 0;
};
