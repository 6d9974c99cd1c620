#pragma once

#include <cstddef>
#include <cstdint>

#include "link/protocol/kavo_packet.h"
#include "logger/log_line_context.h"

// Raw measurement lines "# L1", "# L2", "K" and "@" from packet 0x6F, by its byte 0.
void LogRawMeasurements(const KavoPacket& packet, ILogLineContext& context);

// Position reports of super-packet 0x8F-0xA7 with data byte 1 = 1: "J" (full or NOPOS) and "!".
void LogPositionReport(const KavoPacket& packet, ILogLineContext& context);

// Text of a position-type code; a code outside the table is formatted "type:%d?" into `buffer`.
const char* PositionTypeText(std::uint8_t code, char* buffer, std::size_t size);
