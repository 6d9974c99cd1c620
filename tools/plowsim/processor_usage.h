#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "link/protocol/kavo_packet.h"

// The receiver's processor usage by task, as its engineering request (8E 93 11 action) reports
// it: action 0 (the program's first request) and 2 (a refresh) are answered with the task name
// report followed by a usage report; action 1 restarts the measurement and is not answered. The
// figures are a deterministic function of the time since the last restart, so successive reports
// differ the way a real receiver's do while staying repeatable in tests.
//
// Single-threaded; no allocation per request.
class CProcessorUsage {
 public:
  using SendFn = std::function<void(const KavoPacket& packet, int withChecksum)>;

  static constexpr std::uint8_t kActionStart = 0;
  static constexpr std::uint8_t kActionRestart = 1;
  static constexpr std::uint8_t kActionRequest = 2;
  static constexpr std::uint8_t kNameReport = 0;
  static constexpr std::uint8_t kUsageReport = 2;
  static constexpr int kTasks = 24;

  explicit CProcessorUsage(std::int64_t nowMs) : restartMs(nowMs) {}

  // Whether `packet` is a processor usage request (id 0x8E, 93 11 and an action byte; `length`
  // counts the checksum trailer as the parser delivers it).
  static bool IsRequest(const KavoPacket& packet);
  // Answers a request through `send`. Unknown actions are taken without an answer.
  void Answer(const KavoPacket& packet, std::int64_t nowMs, const SendFn& send);

  // The reports as sent at `nowMs`.
  static KavoPacket NameReport();
  KavoPacket UsageReport(std::int64_t nowMs) const;
  std::int64_t RestartMs() const { return restartMs; }

 private:
  std::int64_t restartMs;
};
