#pragma once

#include "dat/dat_record.h"

// Type 16: opaque blocks, sub-type 27 (16 bytes) and sub-type 43 (9 bytes), copied unchanged.
class CDATRecord16 final : public CDATRecord {
 public:
  using CDATRecord::CDATRecord;

  bool WriteFromImage(const std::uint8_t* image, std::size_t imageLength, std::uint8_t subType) override;

 private:
  std::uint8_t body[kDatLength16Sub27 - kDatHeaderLength] = {};
};
