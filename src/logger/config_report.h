#pragma once

#include <cstdint>

#include "link/protocol/kavo_packet.h"
#include "logger/log_line_context.h"
#include "logger/logger_seams.h"

// The receiver configuration report at the head of each file session: RequestConfiguration asks
// the receiver for every part of its set-up, and each answer becomes a block of "* " report lines
// (I/O options, filters, NMEA per port, the configuration block, correction service, lightbar and
// guidance, CAN, PPS, navigation masks). The answer to the last request (0x70) completes it.
//
// Every line is formatted into a 256-byte buffer and cut there. Answers of a wrong length or with a
// failed super-packet checksum give no line; answers it does not know are ignored.
// Logger thread only.
class CConfigurationReport final : public IConfigurationReport {
 public:
  static constexpr std::size_t kReportLineMax = 256;

  void RequestConfiguration(ILogLineContext& context) override;
  bool TakePacket(const KavoPacket& packet, ILogLineContext& context) override {
    ReadConfigurationPacket(packet, context);
    return IsConfigurationComplete();
  }

  void ReadConfigurationPacket(const KavoPacket& packet, ILogLineContext& context);
  bool IsConfigurationComplete() const { return configComplete; }
  std::uint8_t MachineId() const { return machineId; }
  // True once a configuration block in the newer layout (byte 28 = 3) was read.
  bool NewerLayout() const { return newerLayout; }

 private:
  bool configComplete = false;
  std::uint8_t machineId = 0;
  bool newerLayout = false;
};

// "%02d/%02d/%02d" (month, day, full year) of a count of GPS seconds since 6 January 1980.
void FormatGpsSecondsDate(std::uint32_t seconds, char* out, std::size_t size);
