// The receiver's port report and its answer to the high-speed request, as the serial link reads
// them: the report is the text after "DUCT," up to the ETX, at most kPortReportMaxBytes bytes;
// the answer is collected byte by byte until it is complete or refused.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_check.h"
#include "link/protocol/kavo_packet.h"
#include "link/serial/receiver_port_config.h"

namespace {

bool Terminated(const char* field, std::size_t size) {
  return std::memchr(field, 0, size) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The report: what comes before the first ETX (0x03), cut as the link cuts it.
  std::size_t length = 0;
  while (length < size && data[length] != 0x03) ++length;
  if (length <= kPortReportMaxBytes) {
    char text[kPortReportMaxBytes];
    std::memcpy(text, data, length);
    ReceiverPortReport report;
    if (ParsePortReport(text, length, report)) {
      Check(report.valid == 1);
      Check(Terminated(report.name, sizeof report.name) &&
            Terminated(report.inProtocol, sizeof report.inProtocol) &&
            Terminated(report.outProtocol, sizeof report.outProtocol));
      KavoPacket packet;
      if (BuildPortConfigPacket(report, packet)) Check(packet.length == kPortConfigPacketLength);
      BaudCode(report.inBaud);
      ProtocolMask(report.outProtocol);
    }
  }
  // The high-speed answer: every byte, with a fresh collector after each final result.
  CHighSpeedAnswer answer;
  for (std::size_t i = 0; i < size; ++i) {
    const int result = answer.Add(static_cast<char>(data[i]));
    if (result == CHighSpeedAnswer::kIncomplete) continue;
    Check(result == CHighSpeedAnswer::kRefused || result == 9600 || result == 19200 || result == 38400 ||
          result == 57600 || result == 115200);
    answer.Clear();
  }
  return 0;
}
