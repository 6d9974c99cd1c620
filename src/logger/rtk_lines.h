#pragma once

#include "link/protocol/kavo_packet.h"
#include "logger/log_line_context.h"

// RTK reports of packet 0x89 (checksummed): "R RTK1", "R RTKROVERSTATE" with its
// "R RTKSTATEINFO", "R RTKERRORREPORT" and "R RTKCMRSTATS".
void LogRtkReport(const KavoPacket& packet, ILogLineContext& context);

// Satellite correction service status, super-packet 0x8F-0xA3: "R ORBIHPSTATUS".
void LogOrbiHpStatus(const KavoPacket& packet, ILogLineContext& context);
