#pragma once

#include <cstdint>

// The bit word of the settings key "m_logOptions", copied into each logging session.
using LogOptions = std::uint32_t;

inline constexpr LogOptions kLogMslHeight = 0x0001;        // I/O options: MSL altitude
inline constexpr LogOptions kLogWidePortMask = 0x0002;     // port output mask 0x07 instead of 0x03
inline constexpr LogOptions kLogTiltAdjustments = 0x0004;  // port output mask gets 0x08
inline constexpr LogOptions kLogSyncMeasurements = 0x0008;
inline constexpr LogOptions kLogVerbose = 0x0010;  // guidance output every 200 ms instead of 1000 ms
inline constexpr LogOptions kLogReferenceFixes = 0x0020;
inline constexpr LogOptions kLogColdBootReconfigure = 0x0040;
inline constexpr LogOptions kLogPassive = 0x0080;  // no command is ever sent to the receiver
inline constexpr LogOptions kLogNmea = 0x0100;
inline constexpr LogOptions kLogEngineeringInfo = 0x0200;
inline constexpr LogOptions kLogRawFixes = 0x0400;
inline constexpr LogOptions kLogEcefFixes = 0x0800;
inline constexpr LogOptions kLogQ0x = 0x2000;
inline constexpr LogOptions kLogKavo = 0x4000;
