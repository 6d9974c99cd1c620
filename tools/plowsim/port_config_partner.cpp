#include "port_config_partner.h"

#include <cstring>

namespace {

constexpr char kSwitchRequest[] = "FAST LINK SWITCH REQUEST\r\n";
constexpr std::size_t kSwitchRequestLength = sizeof kSwitchRequest - 1;
const PortSettings kBreakSettings{9600, 'N', 8, 1};

}  // namespace

std::string BuildPortReport(const PortSettings& configured) {
  // Fields: name, port, port number, input baud, output baud, data bits, stop bits, parity,
  // flow control, firmware label and version, hardware label and version, serial number, the
  // protocol label, input protocol and its echo flag, output protocol and its flag.
  const std::string baud = std::to_string(configured.baud);
  std::string report = "DUCT,Brisk Mote,PORT(1)," + baud + "," + baud + "," +
                       std::to_string(configured.dataBits) + "," + std::to_string(configured.stopBits) + "," +
                       configured.parity + ",N,FW,4.02,HW,2.10,4415A01234,PROTOCOLS,KAVO(Y),KAVO(N)";
  report += '\x03';
  return report;
}

CPortConfigPartner::CPortConfigPartner(const PortSettings& configuredSettings)
    : configured(configuredSettings), line(configuredSettings) {}

bool CPortConfigPartner::OnBreak(std::int64_t nowMs) {
  if (reportSentMs >= 0 && nowMs - reportSentMs < kPostReportClearMs) return false;
  line = kBreakSettings;
  reportDueMs = nowMs + kReportDelayMs;
  reportSentMs = -1;
  return true;
}

std::optional<std::string> CPortConfigPartner::TakeDueReport(std::int64_t nowMs) {
  if (reportDueMs < 0 || nowMs < reportDueMs) return std::nullopt;
  reportDueMs = -1;
  reportSentMs = nowMs;
  return BuildPortReport(configured);
}

bool CPortConfigPartner::FeedText(std::uint8_t b) {
  if (b == static_cast<std::uint8_t>(kSwitchRequest[matched])) {
    if (++matched == kSwitchRequestLength) {
      matched = 0;
      return true;
    }
    return false;
  }
  // No proper prefix of the request repeats inside it, so a mismatch can only restart at its
  // first character.
  matched = b == static_cast<std::uint8_t>(kSwitchRequest[0]) ? 1 : 0;
  return false;
}

std::string CPortConfigPartner::HighSpeedAnswer() {
  return "HIGH SPEED KAVO IS " + std::to_string(kHighSpeedBaud) + " 00\r\n";
}

void CPortConfigPartner::SwitchToHighSpeed() {
  configured = PortSettings{kHighSpeedBaud, 'O', 8, 1};
  line = configured;
  reportSentMs = -1;
}

void CPortConfigPartner::Configure(const PortSettings& settings) {
  configured = settings;
  line = settings;
}
