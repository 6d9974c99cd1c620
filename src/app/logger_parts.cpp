#include "app/logger_parts.h"

#include <memory>

#include "app/dat_log_part.h"
#include "logger/config_report.h"
#include "logger/q0x_writer.h"
#include "logger/raw_packet_log.h"

void InstallLoggerParts(CLogrowan& logger, IPrompts& prompts, const LoggerPartsConfig& config) {
  logger.SetConfigurationReport(std::make_unique<CConfigurationReport>());
  logger.SetRawPacketLog(std::make_unique<CRawPacketLog>(prompts));
  // The writer is owned by the logger, so the logger outlives every call it makes.
  logger.SetQ0xWriter(std::make_unique<CQ0xWriter>(
      [&logger](const KavoPacket& packet, int withChecksum) {
        return logger.SendReceiverCommand(packet, withChecksum);
      },
      [&logger](const char* text) { logger.WriteLine(text); }));
  logger.SetDatLog(MakeDatLogPart(logger, prompts, config.writeDatFile, config.datTrace));
}
