#pragma once

#include <cstdint>
#include <functional>

#include "link/protocol/kavo_packet.h"

// The simulated receiver's navigation output: plausible reports of a receiver standing near
// 52.52 N 13.41 E and moving slowly, computed from the simulated UTC, for every report the
// logger turns into a line. Each call builds packets and hands them to a sink; nothing here
// keeps time or sends by itself (CReceiverModel decides when). Super-packets (0x8F) and the RTK
// reports (0x89) are meant to go out with the checksum trailer, everything else without.
class CNavStream {
 public:
  using Sink = std::function<void(const KavoPacket& packet, int withChecksum)>;

  enum class Kind {
    LlaFix40,            // 0x84, f64 fix time            "P"
    LlaFix36,            // 0x84, f32 fix time            "P"
    XyzFix40,            // 0x83                          "Z"
    XyzFix36,            // 0x83                          "Z"
    Velocity20,          // 0x56, f32 fix time            "V"
    Velocity24,          // 0x56, f64 fix time            "V"
    DgpsMode,            // 0x82, flips between modes 1 and 3 every ten epochs
    SatelliteSelection,  // 0x6D                          "X"
    Tracking,            // 0x5C per satellite            "G" (in the summary)
    Ephemeris,           // 0x5B per satellite            IODE in "G"
    CorrectionStatus,    // 0x85 per satellite            "C"
    Health,              // 0x46 with error bits          "H"
    Adc,                 // 0x53                          "* ADC"
    DebugText,           // 0x5F                          "M"
    FixTime,             // 0x4A, positive fix time       (no line: no reset)
    AttitudeMatrix,      // 0x94                          "A M"
    AttitudeQuaternion,  // 0x95                          "A Q"
    AttitudeEuler,       // 0x9A                          "A E"
    RawL1,               // 0x6F 01                       "# L1"
    RawL2,               // 0x6F 10                       "# L2"
    RawClock,            // 0x6F 20                       "K"
    RawMultiSystem,      // 0x6F 21                       "@"
    Rtk1,                // 0x89 type 0                   "R RTK1"
    RtkRoverState,       // 0x89 type 3, states in turn   "R RTKROVERSTATE", "R RTKSTATEINFO"
    RtkErrorReport,      // 0x89 type 7                   "R RTKERRORREPORT"
    RtkCmrStats,         // 0x89 type 8                   "R RTKCMRSTATS"
    OrbiHpStatus,        // 8F A3                         "R ORBIHPSTATUS"
    CorrectionSource,    // 8F 9A                         "L"
    SolutionQuality,     // 8F A2                         "Q"
    DecoderStatus,       // 8F 82                         "D"
    SubscriptionR,       // 8F 8B type 3                  (kept for "U R")
    SubscriptionO,       // 8F 8B type 4                  (kept for "U O")
    ServiceStatusR,      // 8F 80 type 3                  "U R"
    ServiceStatusO,      // 8F 80 type 4                  "U O"
    SpotStations,        // 8F 81                         "N"
    EngineStatus,        // 8F 90                         "E"
    FirmwareIdentity,    // 8F 7B                         "I"
    StatusBlock,         // 8F 85, a satellite and a beacon entry   "S", "B"
    GuidanceConfig,      // 8F 91                         (the logger answers with its rate)
    GuidanceKey,         // 8F 93 04                      "F"
    GuidanceAttitude,    // 8F 93 05                      "A"
    GuidanceDebug,       // 8F 93 06                      "M"
    GuidancePosition,    // 8F 93 07, LLA and XYZ         "P", "Z"
    PositionReport,      // 8F A7 01 00                   "J"
    NoPosition,          // 8F A7 01 01                   "J ... NOPOS"
    PositionQuality,     // 8F A7 01 02                   "!"
    Nmea,                // 0x1A, a GGA sentence          (verbatim with the NMEA option)
  };
  static constexpr int kKindCount = static_cast<int>(Kind::Nmea) + 1;

  static constexpr int kGpsPrns[] = {2, 5, 9, 12, 15, 18, 21, 29};
  static constexpr int kSbasPrns[] = {120, 124};

  // Builds the packets of one kind at simulated UTC `utcMs` (one per satellite for the
  // satellite kinds, one otherwise).
  void Build(Kind kind, std::int64_t utcMs, const Sink& sink) const;

  // One output epoch: the positions, velocity and position report every time, the rest in
  // five groups taken in turn (satellites; health, mode and attitude; raw measurements; RTK;
  // correction service and guidance), so that no epoch is a burst and every report comes at least
  // every five epochs. NMEA only when `nmea`.
  void Epoch(std::int64_t utcMs, bool nmea, const Sink& sink);

  // Answers a request of the logger with the report it asks for; false when `request` is not one
  // the stream answers (the caller goes on with it).
  bool Answer(const KavoPacket& request, std::int64_t utcMs, const Sink& sink) const;

  std::uint64_t Epochs() const { return epoch; }

 private:
  std::uint64_t epoch = 0;
};
