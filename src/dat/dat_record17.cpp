#include "dat/dat_record17.h"

#include <iterator>

#include "dat/dat_fields.h"

namespace {

constexpr std::size_t kL1EntriesAt = 21;
constexpr std::size_t kL1Entry = 27;
constexpr std::size_t kL2CountAt = 17;
constexpr std::size_t kL2EntriesAt = 18;
constexpr std::size_t kL2Entry = 19;

constexpr DatField kRecord17Fixed[] = {{8, true}, {8, true}, {1, true}};
constexpr DatField kBlockL1Fields[] = {{1, true}, {1, true}, {1, true}, {1, true}, {2, true}, {2, true},
                                       {8, true}, {8, true}, {8, true}, {8, true}, {8, true}};
constexpr DatField kBlockL2Fields[] = {{8, true}, {8, true}, {8, true}};

bool UsablePrn(std::uint8_t prn) {
  return prn >= 1 && prn <= 32;
}

}  // namespace

void CDATRecord17::SetHeader17() {
  header[0] = kDatSync;
  PutLe(header + 1, length);
  header[3] = 17;
}

void CDATRecord17::ComposeBlock(std::uint8_t* slot, const std::uint8_t* e, const std::uint8_t* f) const {
  slot[0] = e[0];
  if (f == nullptr) {
    slot[1] = static_cast<std::uint8_t>((e[1] & 0xFE) | 0x10);
    slot[2] = static_cast<std::uint8_t>(e[2] & 0xEF);
  } else {
    slot[1] = static_cast<std::uint8_t>(e[1] | f[1] | 0x10);
    slot[2] = static_cast<std::uint8_t>((e[2] | f[2] | 0x04) & 0xEF);
  }
  slot[3] = 1;
  std::int16_t level = e[3];
  if (level > 127) level = static_cast<std::int16_t>(level - 76);
  PutLe(slot + 4, level);
  PutLe(slot + 6, ReadBeI16(e + 4));
  PutLe(slot + 8, e[6] * 0.25);
  PutLe(slot + 16, ReadBeF64(e + 7));
  PutLe(slot + 24, ReadBeF64(e + 15));
  PutLe(slot + 32, static_cast<double>(ReadBeF32(e + 23)));
  PutLe(slot + 40, 0.0);
  if (f != nullptr) {
    PutLe(slot + 48, static_cast<double>(ReadBeF32(f + 3)));
    PutLe(slot + 56, ReadBeF64(f + 7));
    PutLe(slot + 64, static_cast<double>(ReadBeF32(f + 15)));
  }
}

bool CDATRecord17::WriteFromPackets(const KavoPacket& l1, const KavoPacket* l2, bool write) {
  if (!PacketCovers(l1, kL1EntriesAt)) return false;
  std::size_t l2Count = 0;
  if (l2 != nullptr) {
    if (!PacketCovers(*l2, kL2EntriesAt)) return false;
    l2Count = l2->data[kL2CountAt];
    if (!PacketCovers(*l2, kL2EntriesAt + l2Count * kL2Entry)) return false;
  }
  const std::size_t l1Count = (l1.length - kL1EntriesAt) / kL1Entry;

  // First pass: which entries become blocks and which L2 entry goes with each.
  const std::uint8_t* entries[kMaxBlocks] = {};
  const std::uint8_t* companions[kMaxBlocks] = {};
  std::size_t blocks = 0;
  std::size_t withL2 = 0;
  for (std::size_t i = 0; i < l1Count && blocks < kMaxBlocks; ++i) {
    const std::uint8_t* e = l1.data + kL1EntriesAt + i * kL1Entry;
    if (!UsablePrn(e[0])) continue;
    const std::uint8_t* f = nullptr;
    for (std::size_t j = 0; j < l2Count && f == nullptr; ++j) {
      const std::uint8_t* candidate = l2->data + kL2EntriesAt + j * kL2Entry;
      if (candidate[0] == e[0]) f = candidate;
    }
    entries[blocks] = e;
    companions[blocks] = f;
    if (f != nullptr) ++withL2;
    ++blocks;
  }

  std::memset(blockImages, 0, sizeof blockImages);
  length = static_cast<std::uint16_t>(kDatLength17Fixed + kBlockL1 * blocks + (kBlockL2 - kBlockL1) * withL2);
  SetHeader17();
  PutLe(fixed, ReadBeF64(l1.data + 4));
  PutLe(fixed + 8, ReadBeF64(l1.data + 12) * -1.0);
  fixed[16] = static_cast<std::uint8_t>(blocks);
  if (write) {
    WriteBytes(header, kDatHeaderLength);
    WriteBytes(fixed, kFixedBody);
  }
  for (std::size_t k = 0; k < blocks; ++k) {
    ComposeBlock(blockImages[k], entries[k], companions[k]);
    if (write) WriteBytes(blockImages[k], companions[k] != nullptr ? kBlockL2 : kBlockL1);
  }
  return true;
}

bool CDATRecord17::WriteFromImage(const std::uint8_t* image, std::size_t imageLength, std::uint8_t subType) {
  const std::size_t fixedWidth = DatImageWidth(kRecord17Fixed, std::size(kRecord17Fixed));
  if (subType != 0 || image == nullptr || imageLength < fixedWidth) return false;
  const std::size_t blocks = image[fixedWidth - 1];
  if (blocks > kMaxBlocks) return false;
  // Measure the whole image before touching the record.
  std::size_t need = fixedWidth;
  std::size_t withL2 = 0;
  for (std::size_t k = 0; k < blocks; ++k) {
    if (imageLength < need + kBlockL1) return false;
    const bool l2 = (image[need + 2] & 0x04) != 0;
    need += l2 ? kBlockL2 : kBlockL1;
    if (l2) ++withL2;
  }
  if (imageLength < need) return false;

  std::memset(blockImages, 0, sizeof blockImages);
  ConvertDatImage(kRecord17Fixed, std::size(kRecord17Fixed), image, fixed);
  length = static_cast<std::uint16_t>(kDatLength17Fixed + kBlockL1 * blocks + (kBlockL2 - kBlockL1) * withL2);
  SetHeader17();
  WriteBytes(header, kDatHeaderLength);
  WriteBytes(fixed, kFixedBody);
  std::size_t at = fixedWidth;
  for (std::size_t k = 0; k < blocks; ++k) {
    ConvertDatImage(kBlockL1Fields, std::size(kBlockL1Fields), image + at, blockImages[k]);
    std::size_t width = kBlockL1;
    if (blockImages[k][2] & 0x04) {
      ConvertDatImage(kBlockL2Fields, std::size(kBlockL2Fields), image + at + kBlockL1,
                      blockImages[k] + kBlockL1);
      width = kBlockL2;
    }
    WriteBytes(blockImages[k], width);
    at += width;
  }
  return true;
}
