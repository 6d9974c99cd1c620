#pragma once

#include "dat/dat_record.h"

// Type 15, ionosphere and UTC parameters (124 bytes), from the 0x58 replies of data type 4
// (ionosphere, 44 data bytes) and data type 5 (UTC, 43 data bytes).
class CDATRecord15 final : public CDATRecord {
 public:
  using CDATRecord::CDATRecord;

  // Image: f64 x13, u8 x3, 5 bytes copied unchanged. Sub-type 0 only.
  bool WriteFromImage(const std::uint8_t* image, std::size_t imageLength, std::uint8_t subType) override;

  // False, nothing written, when either reply is too short for the fields taken from it
  // (ionosphere data 12-43, UTC data 17-42).
  bool WriteFromPackets(const KavoPacket& ionosphere, const KavoPacket& utc);

 private:
  std::uint8_t body[kDatLength15 - kDatHeaderLength] = {};
};
