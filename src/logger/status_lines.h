#pragma once

#include <cstddef>

#include "link/protocol/kavo_packet.h"
#include "logger/log_line_context.h"

void LogHealth(const KavoPacket& packet, ILogLineContext& context);            // 0x46 "H"
void LogAdc(const KavoPacket& packet, ILogLineContext& context);               // 0x53 "* ADC"
void LogDebugText(const KavoPacket& packet, ILogLineContext& context);         // 0x5F "M"
void LogFirmwareIdentity(const KavoPacket& packet, ILogLineContext& context);  // 0x8F-0x7B "I"
void LogEngineStatus(const KavoPacket& packet, ILogLineContext& context);      // 0x8F-0x90 "E"

// Copies at most `count` bytes of text from `source` into `out` (size `size`), stopping at a NUL,
// with CR and LF replaced by blanks; always terminates `out`.
void CopyPrintableText(const std::uint8_t* source, std::size_t count, char* out, std::size_t size);
