#include "dat/dat_record5.h"

#include <iterator>

#include "dat/dat_fields.h"

namespace {

constexpr std::size_t kWeekOffset = 20 - kDatHeaderLength;
constexpr std::size_t kConstantOffset = 40 - kDatHeaderLength;
constexpr std::uint8_t kSub2Constant = 0x5D;

constexpr DatField kSub1Fields[] = {{2, true},  {6, false}, {2, true},  {2, true},   {2, true},
                                    {2, true},  {2, true},  {2, true},  {2, true},   {2, true},
                                    {2, true},  {1, true},  {1, true},  {12, false}, {8, true},
                                    {4, false}, {4, false}, {4, false}, {1, true}};
constexpr DatField kSub2Fields[] = {{2, true},   {2, true},   {2, true}, {2, true}, {2, true}, {2, true},
                                    {12, false}, {12, false}, {1, true}, {1, true}, {1, true}, {1, true},
                                    {1, true},   {1, true},   {1, true}, {1, true}, {8, true}, {4, false},
                                    {2, true},   {1, true},   {1, true}};
constexpr DatField kSub5Fields[] = {{2, true},  {1, true},  {1, true},  {4, false}, {4, false},
                                    {4, false}, {4, false}, {4, false}, {4, false}};

}  // namespace

std::size_t CDATRecord5::LengthOf(std::uint8_t subType) {
  switch (subType) {
    case 1:
      return kDatLength5Sub1;
    case 2:
      return kDatLength5Sub2;
    case 5:
      return kDatLength5Sub5;
    default:
      return 0;
  }
}

bool CDATRecord5::WriteFromImage(const std::uint8_t* image, std::size_t imageLength, std::uint8_t subType) {
  const DatField* fields = nullptr;
  std::size_t count = 0;
  switch (subType) {
    case 1:
      fields = kSub1Fields, count = std::size(kSub1Fields);
      break;
    case 2:
      fields = kSub2Fields, count = std::size(kSub2Fields);
      break;
    case 5:
      fields = kSub5Fields, count = std::size(kSub5Fields);
      break;
    default:
      return false;
  }
  const std::size_t width = DatImageWidth(fields, count);
  if (image == nullptr || imageLength < width) return false;
  ConvertDatImage(fields, count, image, body);
  if (subType == 2) body[kConstantOffset] = kSub2Constant;
  return WriteFromPackets(subType);
}

bool CDATRecord5::WriteFromPackets(std::uint8_t subType) {
  const std::size_t length = LengthOf(subType);
  if (length == 0) return false;
  SetHeader(static_cast<std::uint8_t>(length), subType, 5);
  WriteBytes(header, kDatHeaderLength);
  WriteBytes(body, length - kDatHeaderLength);
  return true;
}

void CDATRecord5::SetGpsWeek(std::uint16_t week) {
  PutLe(body + kWeekOffset, week);
}

std::uint16_t CDATRecord5::GpsWeek() const {
  std::uint16_t week;
  std::memcpy(&week, body + kWeekOffset, sizeof week);
  return week;
}
