#include "logger/logger_parts.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "logger/config_report.h"
#include "logger/dat_log_part.h"
#include "logger/dat_trace.h"
#include "logger/log_archiver.h"
#include "logger/q0x_writer.h"
#include "logger/raw_packet_log.h"

void InstallLoggerParts(CLogrowan& logger, IPrompts& prompts) {
  logger.SetConfigurationReport(std::make_unique<CConfigurationReport>());
  logger.SetRawPacketLog(std::make_unique<CRawPacketLog>(prompts));
  // The writer is owned by the logger, so the logger outlives every call it makes.
  logger.SetQ0xWriter(std::make_unique<CQ0xWriter>([&logger](const KavoPacket& packet, int withChecksum) {
    return logger.SendReceiverCommand(packet, withChecksum);
  }));
  logger.SetDatLog(MakeDatLogPart(logger, prompts, ProgramWritesDatFile));
}

std::unique_ptr<CDatLogPart> MakeDatLogPart(CLogrowan& logger, IPrompts& prompts,
                                            std::function<bool()> wanted) {
  return std::make_unique<CDatLogPart>(
      std::move(wanted),
      [&logger](std::uint8_t id, std::uint16_t length, const std::uint8_t* data, int flag) {
        KavoPacket packet;
        packet.id = id;
        packet.length = std::min<std::uint16_t>(length, kKavoMaxData);
        if (packet.length > 0) std::memcpy(packet.data, data, packet.length);
        logger.SendReceiverCommand(packet, flag);
      },
      DatTrace, logger.Clock(), prompts, [&logger](const char* text) { logger.WriteLine(text); });
}
