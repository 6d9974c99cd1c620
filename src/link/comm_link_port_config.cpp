// CCommLink: taking over the receiver's serial port at high speed, and giving it back.
// Runs on the serial reader thread before the link is reported up, straight on the port,
// outside the packet parser.

#include <cstring>

#include "link/comm_link.h"

namespace {

constexpr int kMaxEmptyPolls = 300;        // per wait: reads that found nothing
constexpr int kMaxTextPasses = 2000;       // WaitForText: bytes and empty polls together
constexpr std::uint8_t kReportEnd = 0x03;  // ETX

constexpr char kLocalPortText[] = "Could not configure the local port.";
constexpr char kNoReportText[] =
    "Failed to establish the communication\nneeded to configure the receiver's baud rate.";
constexpr char kNoAnswerText[] =
    "Failed to receive a responce after\nattempting to configure the receiver's baud rate.";
constexpr char kReconfigureText[] =
    "Failed to reconfigure the local serial\nport after configuring the receiver's serial port.";

// The settings a receiver reports once it runs at the high speed we switched it to.
bool ReportsHighSpeed(const ReceiverPortReport& report, int rate) {
  return report.inBaud == rate && report.outBaud == rate && report.parity == 'O' && report.dataBits == 8 &&
         report.stopBits == 1;
}

}  // namespace

// The empty polls of these waits are counted in ticks of silence actually waited: the wait after
// a read that found nothing ends as soon as a byte arrives, so counting each wakeup as a whole
// tick would use up the limits far sooner on a line that trickles bytes.

bool CCommLink::ConfigureReceiverPort(int) {
  auto show = [this](const char* text) {
    // A stop ends the set-up silently: the owner is closing the link and may be waiting for us.
    if (!StopRequested()) prompts.MessageBox(text, "Plowview", PromptIcon::Exclamation, PromptButtons::Ok);
  };

  if (serialPort.SetAll(9600, 'N', 8, 1) < 0) {
    show(kLocalPortText);
    return false;
  }
  serialPort.ClearRXBuffer();
  serialPort.ClearTXBuffer();
  if (StopRequested()) return false;
  if (serialPort.SendBreak(timing.breakMs) < 0) return false;
  if (StopRequested()) return false;

  portReport.valid = 0;
  if (!ReadReceiverPortReport()) {
    serialPort.Close();
    show(kNoReportText);
    return false;
  }
  // The line went while the receiver ran at our high speed, and it kept that: what a close must
  // put back is still what it had before the earlier take-over.
  if (switchedRate > 0 && reportBeforeSwitch.valid == 1 && ReportsHighSpeed(portReport, switchedRate))
    portReport = reportBeforeSwitch;

  if (!Pause(timing.afterReportMs)) return false;
  serialPort.ClearTXBuffer();
  serialPort.ClearRXBuffer();

  serialPort.WriteBuffer(reinterpret_cast<const std::uint8_t*>(kHighSpeedRequest),
                         static_cast<int>(std::strlen(kHighSpeedRequest)));
  for (int i = 0; i < 4; ++i) serialPort.WriteChar(0x00);
  while (serialPort.IsTXEmpty() == 0) {
    if (!Pause(timing.txDrainMs)) return false;
  }
  if (StopRequested()) return false;

  const int rate = WaitHighSpeedAnswer();
  if (rate == CHighSpeedAnswer::kRefused) {
    serialPort.Close();
    show(kNoAnswerText);
    return false;
  }
  // No answer (rate 0) ends here too: there is no rate to follow the receiver to.
  if (rate <= 0 || serialPort.SetAll(rate, 'O', 8, 1) < 0) {
    show(kReconfigureText);
    return false;
  }
  reportBeforeSwitch = portReport;
  switchedRate = rate;
  return Pause(timing.afterSwitchMs);
}

bool CCommLink::WaitForText(const char* text) {
  const std::size_t n = text != nullptr ? std::strlen(text) : 0;
  if (n == 0) return true;
  std::size_t matched = 0;
  int bytes = 0;
  std::int64_t idleMs = 0;
  const int tick = timing.textPollMs;
  for (;;) {
    if (StopRequested()) return false;
    const int emptyPolls = static_cast<int>(idleMs / tick);
    if (bytes + emptyPolls >= kMaxTextPasses) return false;
    const int c = serialPort.ReadChar();
    if (c < 0) {
      if (emptyPolls >= kMaxEmptyPolls) return false;
      if (!IdleWait(tick, idleMs)) return false;
      continue;
    }
    ++bytes;
    if (static_cast<char>(c) == text[matched]) {
      if (++matched == n) return true;
    } else {
      matched = 0;  // the byte is not tried as the start of the text again
    }
  }
}

bool CCommLink::ReadReceiverPortReport() {
  portReport.valid = 0;
  if (!WaitForText(kPortReportStart)) return false;

  char text[kPortReportMaxBytes];
  std::size_t length = 0;
  bool ended = false;
  const int tick = timing.reportRetryMs;
  for (std::size_t read = 0; read < kPortReportMaxBytes && !ended; ++read) {
    int c = serialPort.ReadChar();
    std::int64_t idleMs = 0;
    while (c < 0 && idleMs / tick < kMaxEmptyPolls) {
      if (!IdleWait(tick, idleMs)) return false;
      c = serialPort.ReadChar();
    }
    if (c < 0) break;  // the receiver stopped in the middle of the report
    if (c == kReportEnd) {
      ended = true;
    } else {
      text[length++] = static_cast<char>(c);
    }
  }
  if (!ended) return false;

  ReceiverPortReport report;
  if (!ParsePortReport(text, length, report)) return false;
  portReport = report;
  return true;
}

int CCommLink::WaitHighSpeedAnswer() {
  CHighSpeedAnswer answer;
  std::int64_t idleMs = 0;
  const int tick = timing.textPollMs;
  for (;;) {
    const int c = serialPort.ReadChar();
    if (c < 0) {
      if (idleMs / tick >= kMaxEmptyPolls) return 0;
      if (!IdleWait(tick, idleMs)) return 0;
      continue;
    }
    const int result = answer.Add(static_cast<char>(c));
    if (result != CHighSpeedAnswer::kIncomplete) return result;
  }
}

bool CCommLink::RestoreReceiverPort() {
  KavoPacket packet;
  if (!BuildPortConfigPacket(portReport, packet)) return false;
  return SendPacket(linkType.load(), &packet, 0);
}
