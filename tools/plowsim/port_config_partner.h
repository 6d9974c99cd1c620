#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "port_settings.h"

// The receiver's half of the program's port auto-configuration:
//   break -> the port drops to 9600 8N1 and, a moment later, "DUCT," and the port report go out,
//            ended by ETX; the report names the port's configured settings;
//   "FAST LINK SWITCH REQUEST\r\n" -> "HIGH SPEED KAVO IS 38400 00\r\n" goes out at the current
//            settings, then the port runs at 38400 8O1;
//   port-configuration packet (0xBC) -> the port takes the settings it carries.
// Pure state: times in, texts and settings out; the model sends and traces.
class CPortConfigPartner {
 public:
  // The report goes out this long after the break was seen (a real break lasts about 500 ms;
  // the program starts listening for the report as soon as its break call returns).
  static constexpr std::int64_t kReportDelayMs = 300;
  // The program clears both buffers again shortly after it read the report; a pair of buffer
  // clears within this time after the report is that, not a new break.
  static constexpr std::int64_t kPostReportClearMs = 2000;
  static constexpr int kHighSpeedBaud = 38400;

  explicit CPortConfigPartner(const PortSettings& configured);

  // The settings the port runs at now.
  const PortSettings& Line() const { return line; }
  // The settings the port is configured to (what the report names).
  const PortSettings& Configured() const { return configured; }

  // A break was seen at `nowMs`. False when it is the program's buffer clearing right after a
  // report, which changes nothing. Otherwise the port drops to 9600 8N1 and a report is due.
  bool OnBreak(std::int64_t nowMs);
  // When a report is due: the whole text ("DUCT," ... ETX) once its time has come.
  std::optional<std::string> TakeDueReport(std::int64_t nowMs);
  // Time of the pending report, or -1.
  std::int64_t ReportDueMs() const { return reportDueMs; }

  // One byte received outside any frame; true when it completed the switch request.
  bool FeedText(std::uint8_t b);
  // The answer to the switch request. The caller sends it at the current settings, then calls
  // SwitchToHighSpeed.
  static std::string HighSpeedAnswer();
  void SwitchToHighSpeed();

  // The port-configuration packet's settings take effect.
  void Configure(const PortSettings& settings);

 private:
  PortSettings configured;
  PortSettings line;
  std::int64_t reportDueMs = -1;
  std::int64_t reportSentMs = -1;
  std::size_t matched = 0;  // bytes of the switch request matched so far
};

// The port report text for `configured`: "DUCT," then 19 fields, ended by ETX (0x03).
std::string BuildPortReport(const PortSettings& configured);
