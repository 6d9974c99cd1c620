#include "dat/dat_record11.h"

#include <algorithm>
#include <iterator>

#include "dat/dat_fields.h"

namespace {

constexpr std::size_t kFixedBody = kDatLength11Base - kDatHeaderLength;  // 78
constexpr DatField kRecord11Fixed[] = {{8, true}, {8, true}, {8, true}, {8, true}, {8, true}, {8, true},
                                       {8, true}, {8, true}, {8, true}, {4, true}, {1, true}, {1, true}};

// Body offsets (record offset minus the header).
constexpr std::size_t kLatitude = 0, kLongitude = 8, kAltitude = 16, kClockBias = 24, kOscillator = 32,
                      kPdop = 40, kNorth = 48, kEast = 56, kUp = 64, kTimeOfFix = 72, kFixDimension = 76,
                      kSatellites = 77, kList = 78;

}  // namespace

void CDATRecord11::WriteRecord(std::size_t satellites) {
  const std::size_t length = kDatLength11Base + 2 * satellites;
  SetHeader(static_cast<std::uint8_t>(length), 0, 11);
  WriteBytes(header, kDatHeaderLength);
  WriteBytes(body, length - kDatHeaderLength);
}

bool CDATRecord11::WriteFromImage(const std::uint8_t* image, std::size_t imageLength, std::uint8_t subType) {
  if (subType != 0 || image == nullptr || imageLength < kFixedBody) return false;
  const auto satellites = static_cast<std::int8_t>(image[kSatellites]);
  if (satellites < 0 || static_cast<std::size_t>(satellites) > CDATRecord17::kMaxBlocks) return false;
  const std::size_t n = static_cast<std::size_t>(satellites);
  if (imageLength < kFixedBody + 2 * n) return false;
  ConvertDatImage(kRecord11Fixed, std::size(kRecord11Fixed), image, body);
  std::memcpy(body + kList, image + kList, 2 * n);
  WriteRecord(n);
  return true;
}

bool CDATRecord11::WriteFromPackets(const KavoPacket& position, const KavoPacket& velocity,
                                    const KavoPacket& oscillator, const KavoPacket& selection,
                                    const CDATRecord17& measurements) {
  if (position.length != 36 && position.length != 40) return false;
  if (!PacketCovers(velocity, 12) || !PacketCovers(oscillator, 4) || !PacketCovers(selection, 5))
    return false;
  const double timeOfFix = position.length == 40 ? ReadBeF64(position.data + 32)
                                                 : static_cast<double>(ReadBeF32(position.data + 32));
  std::int32_t timeMs = 0;
  if (!TruncToI32(timeOfFix * 1000.0, timeMs)) return false;
  const std::size_t n = std::min<std::size_t>(measurements.Count(), CDATRecord17::kMaxBlocks);

  PutLe(body + kLatitude, ReadBeF64(position.data + 0) / kDatPi);
  PutLe(body + kLongitude, ReadBeF64(position.data + 8) / kDatPi);
  PutLe(body + kAltitude, ReadBeF64(position.data + 16));
  PutLe(body + kClockBias, ReadBeF64(position.data + 24));
  PutLe(body + kOscillator, static_cast<double>(ReadBeF32(oscillator.data + 0)));
  PutLe(body + kPdop, static_cast<double>(ReadBeF32(selection.data + 1)));
  PutLe(body + kNorth, static_cast<double>(ReadBeF32(velocity.data + 4)));
  PutLe(body + kEast, static_cast<double>(ReadBeF32(velocity.data + 0)));
  PutLe(body + kUp, static_cast<double>(ReadBeF32(velocity.data + 8)));
  PutLe(body + kTimeOfFix, timeMs);
  body[kFixDimension] = static_cast<std::uint8_t>(selection.data[0] & 7);
  body[kSatellites] = static_cast<std::uint8_t>(n);
  for (std::size_t k = 0; k < n; ++k) {
    body[kList + k] = static_cast<std::uint8_t>(k);
    body[kList + n + k] = measurements.SlotPrn(k);
  }
  WriteRecord(n);
  return true;
}
