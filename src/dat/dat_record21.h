#pragma once

#include "dat/dat_record.h"

// Type 21, one satellite's broadcast ephemeris (190 bytes), from the 0x58 reply of data type 6
// (171 data bytes, the ephemeris block from data 4). Angles and the harmonic correction terms
// named so in the record layout are stored in semicircles (radians / pi).
class CDATRecord21 final : public CDATRecord {
 public:
  using CDATRecord::CDATRecord;

  // Image: u8, u8, i16, i16, u8, u8, i32 x3, f64 x19, u32, 10 bytes copied unchanged.
  // Sub-type 0 only.
  bool WriteFromImage(const std::uint8_t* image, std::size_t imageLength, std::uint8_t subType) override;

  // False, nothing written, when the reply is too short for the block (131 data bytes), the week
  // number is negative, t_ephem truncates to a negative value, or a time does not fit an i32.
  bool WriteFromPackets(const KavoPacket& ephemeris);

  std::uint8_t Prn() const { return body[0]; }

 private:
  std::uint8_t body[kDatLength21 - kDatHeaderLength] = {};
};
