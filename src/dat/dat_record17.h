#pragma once

#include "dat/dat_record.h"

// Type 17, a measurement epoch, from the L1 measurement packet (0x6F sub-type 1) and optionally
// its L2 companion (0x6F sub-type 0x10).
//
// L1 packet: data 4-11 f64 epoch value 1, 12-19 f64 epoch value 2, entries of 27 bytes from
// data 21 up to the packet's length. L2 packet: count in data 17, entries of 19 bytes from data 18.
// One block is made per L1 entry whose PRN is 1-32, in packet order, at most 12; entries past the
// twelfth usable one are dropped. A block is 48 bytes, 72 with L2 data. In memory every block
// sits in a 72-byte slot (the unused part zero), so slot k's PRN is always at its first byte.
class CDATRecord17 final : public CDATRecord {
 public:
  static constexpr std::size_t kMaxBlocks = 12;
  static constexpr std::size_t kBlockL1 = 48;
  static constexpr std::size_t kBlockL2 = 72;
  static constexpr std::size_t kFixedBody = kDatLength17Fixed - kDatHeaderLength;  // 17

  using CDATRecord::CDATRecord;

  // Image: f64, f64, u8 block count (at most 12), then per block u8 x4, i16, i16, f64 x5 and,
  // when bit 0x04 of the block's flags 2 (its byte 2) is set, f64 x3 of L2 data. Sub-type 0 only.
  bool WriteFromImage(const std::uint8_t* image, std::size_t imageLength, std::uint8_t subType) override;

  // Composes the record in memory from `l1` and, when given, `l2`; with `write` it also writes the
  // header, the fixed part and each block. False, nothing composed or written, when the L1 packet
  // is shorter than its fixed part or the L2 packet is shorter than its count says.
  bool WriteFromPackets(const KavoPacket& l1, const KavoPacket* l2, bool write);

  std::uint8_t Count() const { return fixed[kFixedBody - 1]; }
  std::uint16_t Length() const { return length; }
  // PRN in slot `k`, 0 for an unused slot.
  std::uint8_t SlotPrn(std::size_t k) const { return k < kMaxBlocks ? blockImages[k][0] : 0; }
  const std::uint8_t* Slot(std::size_t k) const { return blockImages[k]; }

 private:
  void SetHeader17();
  void ComposeBlock(std::uint8_t* slot, const std::uint8_t* e, const std::uint8_t* f) const;

  std::uint16_t length = 0;
  std::uint8_t fixed[kFixedBody] = {};
  std::uint8_t blockImages[kMaxBlocks][kBlockL2] = {};
};
