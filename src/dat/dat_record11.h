#pragma once

#include "dat/dat_record.h"
#include "dat/dat_record17.h"

// Type 11, a position epoch (82 + 2n bytes), from the position packet 0x84, the velocity packet
// 0x56, the oscillator packet 0x4D, the satellite-selection packet 0x6D and the latest type 17
// record, whose satellites (n, at most 12) it lists.
class CDATRecord11 final : public CDATRecord {
 public:
  using CDATRecord::CDATRecord;

  // Image: f64 x8, i32, u8, i8 n (0-12), then 2n bytes copied unchanged. Sub-type 0 only.
  bool WriteFromImage(const std::uint8_t* image, std::size_t imageLength, std::uint8_t subType) override;

  // False, nothing written, when the position packet's length is neither 36 nor 40, when another
  // packet is too short for the fields taken from it, or when the time of fix does not fit an
  // i32 of milliseconds.
  bool WriteFromPackets(const KavoPacket& position, const KavoPacket& velocity, const KavoPacket& oscillator,
                        const KavoPacket& selection, const CDATRecord17& measurements);

 private:
  void WriteRecord(std::size_t satellites);

  std::uint8_t body[kDatLength11Base - kDatHeaderLength + 2 * CDATRecord17::kMaxBlocks] = {};
};
