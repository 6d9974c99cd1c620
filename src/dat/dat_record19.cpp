#include "dat/dat_record19.h"

#include <iterator>

#include "dat/dat_fields.h"

namespace {
constexpr std::uint8_t kSubType = 5;
constexpr DatField kRecord19Fields[] = {{2, true}, {8, true}};
}  // namespace

bool CDATRecord19::WriteFromImage(const std::uint8_t* image, std::size_t imageLength, std::uint8_t subType) {
  if (subType != kSubType || image == nullptr || imageLength < sizeof body) return false;
  ConvertDatImage(kRecord19Fields, std::size(kRecord19Fields), image, body);
  SetHeader(kDatLength19, kSubType, 19);
  WriteBytes(header, kDatHeaderLength);
  WriteBytes(body, sizeof body);
  return true;
}

bool CDATRecord19::WriteFromTimePacket(const KavoPacket& time) {
  if (!PacketCovers(time, 6)) return false;
  std::uint8_t image[sizeof body];
  image[0] = time.data[4];
  image[1] = time.data[5];
  const double milliseconds = static_cast<double>(ReadBeF32(time.data)) * 1000.0;
  ReverseBytes(&milliseconds, image + 2, sizeof milliseconds);
  return WriteFromImage(image, sizeof image, kSubType);
}
