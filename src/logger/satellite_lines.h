#pragma once

#include "link/protocol/kavo_packet.h"
#include "logger/log_line_context.h"

// Satellite selection ("X") and the satellite status reports kept for the 5-second summary.
void LogSatelliteSelection(const KavoPacket& packet, ILogLineContext& context);  // 0x6D "X"
void StoreEphemerisStatus(const KavoPacket& packet, ILogLineContext& context);   // 0x5B
void StoreTrackingStatus(const KavoPacket& packet, ILogLineContext& context);    // 0x5C
void StoreCorrectionStatus(const KavoPacket& packet, ILogLineContext& context);  // 0x85

// The 5-second summary: "T" (and "* PCTIME" with option 0x200), then a "G" line per tracked
// satellite and a "C" line per corrected one; records older than 30 s (tracking) or 260 s
// (corrections) are emptied instead of printed. Before the session has seen a time packet only
// "* PCTIME" can be written: "T", "G" and "C" all need the receiver's time.
void WriteSatelliteSummary(ILogLineContext& context);

// `now` minus `then`, both GPS seconds of week, brought into -302400 ... 302400 so that times on
// either side of the week boundary give small ages.
double AgeInWeek(double now, double then);
