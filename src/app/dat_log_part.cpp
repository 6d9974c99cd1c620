#include "app/dat_log_part.h"

#include <algorithm>
#include <cstring>

#include "logger/logrowan.h"

CDatLogPart::CDatLogPart(WantedFn wantedFn, CDATWriter::SendFn send, CDATWriter::TraceFn trace,
                         const IClock& clock, IPrompts& prompts, CDATWriter::LineFn writeLine)
    : wanted(std::move(wantedFn)),
      writer(std::move(send), std::move(trace), clock, prompts, std::move(writeLine)) {}

std::unique_ptr<CDatLogPart> MakeDatLogPart(CLogrowan& logger, IPrompts& prompts,
                                            CDatLogPart::WantedFn wanted, CDATWriter::TraceFn trace) {
  // A writer without a trace would drop its requests as well (see CDATWriter).
  if (!trace) trace = [](const char*) {};
  return std::make_unique<CDatLogPart>(
      std::move(wanted),
      [&logger](std::uint8_t id, std::uint16_t length, const std::uint8_t* data, int flag) {
        KavoPacket packet;
        packet.id = id;
        packet.length = std::min<std::uint16_t>(length, kKavoMaxData);
        if (packet.length > 0) std::memcpy(packet.data, data, packet.length);
        logger.SendReceiverCommand(packet, flag);
      },
      std::move(trace), logger.Clock(), prompts, [&logger](const char* text) { logger.WriteLine(text); });
}
