#pragma once

#include "link/protocol/kavo_packet.h"
#include "logger/log_line_context.h"

// Asks for the guidance configuration (0x8E 91) with an output-rate change pending; the answer is
// re-sent with the new rate. Sends nothing once the configuration of this session was received.
void RequestGuidanceConfig(ILogLineContext& context, bool rateOn);

// First guidance configuration of the session (0x8F-0x91, length 37): kept, and re-sent with the
// output rate (200 ms verbose, else 1000 ms) when a change is pending. Later ones are ignored.
void TakeGuidanceConfig(const KavoPacket& packet, ILogLineContext& context);

// Guidance events of 0x8F-0x93 by data byte 1: key "F", attitude "A", debug "M", position "P"/"Z"
// and "* " text.
void LogGuidanceEvents(const KavoPacket& packet, ILogLineContext& context);
