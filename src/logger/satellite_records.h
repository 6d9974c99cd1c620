#pragma once

#include <cstdint>

// What the receiver last said about one satellite; kept for the 5-second "G" and "C" lines.
// A PRN of 0 in a block marks that block empty.
struct TrackingBlock {
  std::uint8_t prn = 0;
  std::uint8_t channel = 0;
  std::uint8_t acquisitionFlag = 0;
  std::uint8_t ephemerisFlag = 0;
  float signalLevel = 0;
  float lastMeasurementTime = 0;  // GPS seconds of week
  float elevation = 0;            // radians
  float azimuth = 0;              // radians
};

struct EphemerisBlock {
  std::uint8_t prn = 0;
  float collectionTime = 0;
  std::uint8_t health = 0;
  std::uint8_t iode = 0;
  float ephemerisTime = 0;
  std::uint8_t fitIntervalFlag = 0;
  float ura = 0;
};

struct CorrectionBlock {
  std::uint8_t prn = 0;
  std::uint8_t bytes[5] = {};  // data bytes 1-5 of the 0x85 report
  float correctionTime = 0;    // GPS seconds of week
  float value1 = 0;
  float value2 = 0;
};

struct SatelliteRecord {
  TrackingBlock tracking;
  EphemerisBlock ephemeris;
  CorrectionBlock correction;
};

inline constexpr int kGpsPrnCount = 33;  // PRN 0-32, indexed by PRN
inline constexpr int kSbasFirstPrn = 120;
inline constexpr int kSbasLastPrn = 138;
inline constexpr int kSbasPrnCount = kSbasLastPrn - kSbasFirstPrn + 1;

// Two GPS banks (a second report with the same measurement time goes to the second) and one
// SBAS bank indexed by PRN - 120.
struct SatelliteBanks {
  SatelliteRecord first[kGpsPrnCount];
  SatelliteRecord second[kGpsPrnCount];
  SatelliteRecord sbas[kSbasPrnCount];
};

// The record of `prn` in the first GPS bank or the SBAS bank; nullptr for other PRNs.
inline SatelliteRecord* PrimaryRecord(SatelliteBanks& banks, unsigned prn) {
  if (prn < kGpsPrnCount) return &banks.first[prn];
  if (prn >= kSbasFirstPrn && prn <= kSbasLastPrn) return &banks.sbas[prn - kSbasFirstPrn];
  return nullptr;
}
