#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/protocol/kavo_packet.h"

// The receiver's raw measurement file stream: once the program sends the start command
// (0x8E 93 14 01 01) the receiver streams a file it holds as super-packets 0x8F-0x93-0x14, a
// name record (kind 2) first, then data records (kind 0) of up to kChunk bytes, a few per tick
// so that the navigation output goes on between them; the stop command (… 01 00) ends it. The
// file is streamed once; a later start sends nothing more.
class CQ0xStream {
 public:
  using Sink = std::function<void(const KavoPacket& packet, int withChecksum)>;
  using TraceFunction = std::function<void(const std::string& line)>;

  static constexpr std::size_t kChunk = 200;
  static constexpr int kRecordsPerTick = 4;
  static constexpr std::int64_t kTickMs = 20;

  // Loads the file the receiver holds; false with `error` set when it cannot be read. The name
  // streamed is the file's name without its folder.
  bool Load(const std::string& path, std::string& error);
  bool Loaded() const { return loaded; }

  // Takes the start and stop commands; false for every other packet.
  bool Control(const KavoPacket& packet, std::int64_t nowMs, const TraceFunction& trace);
  // Sends what is due now.
  void Tick(std::int64_t nowMs, const Sink& sink, const TraceFunction& trace);
  // When Tick wants to run next; -1 when idle.
  std::int64_t NextDueMs() const { return streaming ? nextMs : -1; }

 private:
  std::vector<std::uint8_t> content;
  std::string name;
  bool loaded = false;
  bool streaming = false;
  bool nameSent = false;
  std::size_t sent = 0;
  std::int64_t nextMs = 0;
};
