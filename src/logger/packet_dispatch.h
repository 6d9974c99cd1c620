#pragma once

#include "link/protocol/kavo_packet.h"
#include "logger/log_line_context.h"

// Routes a packet taken from the logger's queue to its line formatter by identifier; unknown
// identifiers are ignored.
void DispatchPacket(const KavoPacket& packet, ILogLineContext& context);

// Routes a super-packet 0x8F by its sub-identifier (data byte 0) after the checksum and, where
// the route names one, the exact length test.
void DispatchSuperPacket(const KavoPacket& packet, ILogLineContext& context);

// Data length 2-255 and the last two data bytes (big-endian) equal to the 16-bit sum of all
// bytes before them, sub-identifier included.
bool SuperPacketChecksumOk(const KavoPacket& packet);

// Time packet 0x41 (length 10): GPS time of week, week, UTC offset. Sets the session's time,
// calendar and hour code; a negative time of week changes nothing.
void DecodeTimePacket(const KavoPacket& packet, ILogLineContext& context);
