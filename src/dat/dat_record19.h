#pragma once

#include "dat/dat_record.h"

// Type 19 sub-type 5, a time tag (14 bytes): u16 GPS week, f64 GPS time of week in milliseconds.
class CDATRecord19 final : public CDATRecord {
 public:
  using CDATRecord::CDATRecord;

  // Image: u16 week, f64 milliseconds, both big-endian. Sub-type 5 only.
  bool WriteFromImage(const std::uint8_t* image, std::size_t imageLength, std::uint8_t subType) override;

  // Builds the image from the GPS time packet 0x41 (data 0-3 f32 seconds of week, data 4-5 the
  // week) and writes it. False, nothing written, for a packet shorter than 6 bytes.
  bool WriteFromTimePacket(const KavoPacket& time);

 private:
  std::uint8_t body[kDatLength19 - kDatHeaderLength] = {};
};
