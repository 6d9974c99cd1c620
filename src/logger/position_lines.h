#pragma once

#include <cstdint>

#include "link/protocol/kavo_packet.h"
#include "logger/log_line_context.h"

// Formatters for the position, velocity, DGPS mode and attitude reports. Each checks the data
// length it needs and drops any other packet without a line unless noted.

// "MD OF", "MD ON", "AD OF", "AD ON", "XXXXX" for 0-4.
const char* DgpsModeText(std::uint8_t mode);

void LogResetDetection(const KavoPacket& packet, ILogLineContext& context);      // 0x4A
void LogLlaPosition(const KavoPacket& packet, ILogLineContext& context);         // 0x84 "P"
void LogXyzPosition(const KavoPacket& packet, ILogLineContext& context);         // 0x83 "Z"
void LogGuidancePosition(const KavoPacket& packet, ILogLineContext& context);    // 0x8F-0x93 type 7
void LogVelocity(const KavoPacket& packet, ILogLineContext& context);            // 0x56 "V"
void LogDgpsMode(const KavoPacket& packet, ILogLineContext& context);            // 0x82
void LogAttitudeMatrix(const KavoPacket& packet, ILogLineContext& context);      // 0x94 "A M"
void LogAttitudeQuaternion(const KavoPacket& packet, ILogLineContext& context);  // 0x95 "A Q"
void LogAttitudeEuler(const KavoPacket& packet, ILogLineContext& context);       // 0x9A "A E"
