#include "dat/dat_record16.h"

#include <cstring>

bool CDATRecord16::WriteFromImage(const std::uint8_t* image, std::size_t imageLength, std::uint8_t subType) {
  std::size_t length = 0;
  switch (subType) {
    case 27:
      length = kDatLength16Sub27;
      break;
    case 43:
      length = kDatLength16Sub43;
      break;
    default:
      return false;
  }
  const std::size_t bodyLength = length - kDatHeaderLength;
  if (image == nullptr || imageLength < bodyLength) return false;
  std::memcpy(body, image, bodyLength);
  SetHeader(static_cast<std::uint8_t>(length), subType, 16);
  WriteBytes(header, kDatHeaderLength);
  WriteBytes(body, bodyLength);
  return true;
}
