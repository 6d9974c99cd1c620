#pragma once

#include "link/protocol/kavo_packet.h"
#include "logger/log_line_context.h"

// Correction service reports of super-packet 0x8F (checksum and exact lengths checked by the
// dispatcher; each formatter checks its length again).
void LogCorrectionSource(const KavoPacket& packet, ILogLineContext& context);       // 0x9A "L"
void LogSolutionQuality(const KavoPacket& packet, ILogLineContext& context);        // 0xA2 "Q"
void LogDecoderStatus(const KavoPacket& packet, ILogLineContext& context);          // 0x82 "D"
void StoreSubscription(const KavoPacket& packet, ILogLineContext& context);         // 0x8B
void LogSubscriptionStatus(const KavoPacket& packet, ILogLineContext& context);     // 0x80 "U"
void LogSpotStations(const KavoPacket& packet, ILogLineContext& context);           // 0x81 "N"
void LogCorrectionStatusBlock(const KavoPacket& packet, ILogLineContext& context);  // 0x85 "S"/"B"
