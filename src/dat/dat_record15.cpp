#include "dat/dat_record15.h"

#include <iterator>

#include "dat/dat_fields.h"

namespace {

constexpr DatField kRecord15Fields[] = {{8, true}, {8, true}, {8, true}, {8, true}, {8, true}, {8, true},
                                        {8, true}, {8, true}, {8, true}, {8, true}, {8, true}, {8, true},
                                        {8, true}, {1, true}, {1, true}, {1, true}, {5, false}};

// Body offsets.
constexpr std::size_t kAlpha0 = 0, kA1 = 64, kA0 = 72, kTot = 80, kDeltaTls = 88, kDeltaTlsf = 96,
                      kZero = 104, kWnt = 112, kWnlsf = 113, kDn = 114;

}  // namespace

bool CDATRecord15::WriteFromImage(const std::uint8_t* image, std::size_t imageLength, std::uint8_t subType) {
  if (subType != 0 || image == nullptr ||
      imageLength < DatImageWidth(kRecord15Fields, std::size(kRecord15Fields)))
    return false;
  ConvertDatImage(kRecord15Fields, std::size(kRecord15Fields), image, body);
  SetHeader(kDatLength15, 0, 15);
  WriteBytes(header, kDatHeaderLength);
  WriteBytes(body, sizeof body);
  return true;
}

bool CDATRecord15::WriteFromPackets(const KavoPacket& ionosphere, const KavoPacket& utc) {
  if (!PacketCovers(ionosphere, 44) || !PacketCovers(utc, 43)) return false;
  SetHeader(kDatLength15, 0, 15);
  WriteBytes(header, kDatHeaderLength);

  std::memset(body, 0, sizeof body);
  for (std::size_t i = 0; i < 8; ++i) {
    PutLe(body + kAlpha0 + 8 * i, static_cast<double>(ReadBeF32(ionosphere.data + 12 + 4 * i)));
  }
  PutLe(body + kA1, static_cast<double>(ReadBeF32(utc.data + 25)));
  PutLe(body + kA0, ReadBeF64(utc.data + 17));
  PutLe(body + kTot, static_cast<double>(ReadBeF32(utc.data + 31)));
  PutLe(body + kDeltaTls, static_cast<double>(ReadBeI16(utc.data + 29)));
  PutLe(body + kDeltaTlsf, static_cast<double>(ReadBeI16(utc.data + 41)));
  PutLe(body + kZero, 0.0);
  // Week numbers and the day keep only their low bytes: the last byte of each big-endian i16.
  body[kWnt] = utc.data[36];
  body[kWnlsf] = utc.data[38];
  body[kDn] = utc.data[40];
  WriteBytes(body, sizeof body);
  return true;
}
