#pragma once

#include <cstdint>

#include "logger/hour_code.h"
#include "logger/log_options.h"
#include "logger/satellite_records.h"

// States of the logging session; one step per call of the state machine.
enum class LogState : std::uint32_t {
  Idle = 0,
  RequestTime = 1,
  AwaitTime = 2,
  OpenFile = 3,
  RequestConfig = 4,
  AwaitConfig = 5,
  ConfigureReceiver = 6,
  Logging = 7,
  Failed = 8,
};

inline constexpr std::uint8_t kDgpsModeUnknown = 4;
inline constexpr std::uint16_t kCorrectionSourceNone = 8;  // preset until the first "L" report

// Last 0x8F-0x9A correction source report ("L").
struct CorrectionSourceReport {
  std::uint16_t source = kCorrectionSourceNone;  // drives the 1-second requests
  std::int16_t value = -1;                       // the "second field", 0xFFFF after the set-up
  double frequency = 0;
  std::uint8_t bytes[3] = {};  // data bytes 13, 14, 15
};

// Last 0x8F-0xA2 solution quality report ("Q").
struct QualityReport {
  std::uint8_t quality = 0;
  std::uint8_t source = 0;
  std::int16_t value = 0;
  std::uint8_t byte5 = 0;
  std::uint8_t flags = 0;
  float age = 0;
};

// Subscription record from 0x8F-0x8B, type 3 (block R) or 4 (block O), shown by "U".
struct SubscriptionBlock {
  std::uint8_t data[24] = {};
  std::uint8_t date[6] = {};  // the last three: month, day, year - 1900
  std::uint8_t type = 0;
  std::uint32_t value = 0;
};

inline constexpr int kGuidanceConfigLength = 35;  // data bytes of the 0x8E-0x91 command

// Everything one logging session knows; reset by StartLogging and the display-only start.
struct LoggerSession {
  LogOptions options = 0;
  char station[21] = {};  // the logging prefix cut to 20 characters
  char prefixChar = 0;
  LogState state = LogState::Idle;
  bool timeValid = false;
  std::uint16_t gpsWeek = 0;
  double utcSecondsOfWeek = 0;
  std::int16_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  HourCode hourCode = 0;
  double stateTime = 0;  // program clock seconds when the current wait began
  std::int64_t openedHourCode = -1;
  std::uint16_t timeRequests = 0;
  std::uint16_t openAttempts = 0;
  double next1s = 0, next5s = 0, next60s = 0;
  bool forceRequests = false;
  bool configured = false;

  // Navigation state for the position and satellite lines.
  std::uint8_t dgpsMode = kDgpsModeUnknown;
  bool coldResetSeen = false;
  double lastTimeOfWeek = -1.0;  // GPS seconds of week from the last 0x41
  double lastTimeStamp = -1.0;   // program clock when lastTimeOfWeek was set
  double lastLla[5] = {};        // latitude, longitude, altitude, clock bias, fix time
  double lastXyz[5] = {};        // X, Y, Z, clock bias, fix time
  SatelliteBanks satellites;

  // Correction service and guidance state.
  CorrectionSourceReport correction;
  QualityReport quality;
  SubscriptionBlock subscriptionR;
  SubscriptionBlock subscriptionO;
  std::uint8_t savedGuidanceConfig[kGuidanceConfigLength] = {};
  bool guidanceConfigReceived = false;
  bool guidanceRateChangePending = false;
  bool guidanceRateOn = false;
  std::uint8_t correctionStatus[2][30] = {};
  std::uint8_t correctionStatusCount = 0;
};
