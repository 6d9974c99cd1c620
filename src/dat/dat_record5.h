#pragma once

#include "dat/dat_record.h"

// Type 5: fixed blocks of sub-types 1 (65 bytes, carries the GPS week at record offset 20),
// 2 (64 bytes, constant 0x5D at offset 40) and 5 (32 bytes). One body buffer serves all three,
// so an object that keeps the GPS week must not be used to write other sub-types from an image.
class CDATRecord5 final : public CDATRecord {
 public:
  using CDATRecord::CDATRecord;

  // Fields that the record does not describe as numbers (the 6-, 12- and 4-byte blocks) are
  // copied unchanged. Sub-type 2 gets its constant 0x5D whatever the image holds there.
  bool WriteFromImage(const std::uint8_t* image, std::size_t imageLength, std::uint8_t subType) override;

  // Writes the body held in memory as sub-type 1, 2 or 5; false, nothing written, for others.
  bool WriteFromPackets(std::uint8_t subType);

  void SetGpsWeek(std::uint16_t week);
  std::uint16_t GpsWeek() const;

  // Record length of a sub-type, 0 for one the class does not know.
  static std::size_t LengthOf(std::uint8_t subType);

 private:
  std::uint8_t body[kDatLength5Sub1 - kDatHeaderLength] = {};
};
