#include "dat/dat_record21.h"

#include <iterator>

#include "dat/dat_fields.h"

namespace {

constexpr std::size_t kBlockAt = 4;        // block byte b is data byte 4 + b
constexpr std::size_t kBlockNeeded = 127;  // the last field read is IDOT, block bytes 123-126

constexpr DatField kRecord21Fields[] = {{1, true}, {1, true}, {2, true}, {2, true}, {1, true}, {1, true},
                                        {4, true}, {4, true}, {4, true}, {8, true}, {8, true}, {8, true},
                                        {8, true}, {8, true}, {8, true}, {8, true}, {8, true}, {8, true},
                                        {8, true}, {8, true}, {8, true}, {8, true}, {8, true}, {8, true},
                                        {8, true}, {8, true}, {8, true}, {8, true}, {4, true}, {10, false}};

// The f64 fields of the record from body offset 20 on: block offset of the source, whether the
// source is an f32, and whether it is divided by pi.
struct EphemerisTerm {
  std::uint8_t blockOffset;
  bool single;
  bool semicircles;
};
constexpr EphemerisTerm kTerms[] = {
    {13, true, false},   // T_GD
    {21, true, false},   // a_f2
    {25, true, false},   // a_f1
    {29, true, false},   // a_f0
    {39, true, false},   // C_rs
    {43, true, true},    // delta n
    {47, false, true},   // M_0
    {55, true, true},    // C_uc
    {59, false, false},  // e
    {67, true, true},    // C_us
    {71, false, false},  // sqrt A
    {83, true, true},    // C_ic
    {87, false, true},   // Omega_0
    {95, true, true},    // C_is
    {99, false, true},   // i_0
    {107, true, false},  // C_rc
    {111, false, true},  // omega
    {119, true, true},   // Omega dot
    {123, true, true},   // IDOT
};
constexpr std::size_t kTermsAt = 20;  // body offset of T_GD
constexpr std::size_t kPackedAt = 172;

}  // namespace

bool CDATRecord21::WriteFromImage(const std::uint8_t* image, std::size_t imageLength, std::uint8_t subType) {
  if (subType != 0 || image == nullptr ||
      imageLength < DatImageWidth(kRecord21Fields, std::size(kRecord21Fields)))
    return false;
  ConvertDatImage(kRecord21Fields, std::size(kRecord21Fields), image, body);
  SetHeader(kDatLength21, 0, 21);
  WriteBytes(header, kDatHeaderLength);
  WriteBytes(body, sizeof body);
  return true;
}

bool CDATRecord21::WriteFromPackets(const KavoPacket& ephemeris) {
  if (!PacketCovers(ephemeris, kBlockAt + kBlockNeeded)) return false;
  const std::uint8_t* b = ephemeris.data + kBlockAt;
  const std::int16_t week = ReadBeI16(b + 5);
  std::int32_t tEphem = 0, tOc = 0, tOe = 0;
  if (week < 0) return false;
  if (!TruncToI32(ReadBeF32(b + 1), tEphem) || tEphem < 0) return false;
  if (!TruncToI32(ReadBeF32(b + 17), tOc) || !TruncToI32(ReadBeF32(b + 79), tOe)) return false;

  std::memset(body, 0, sizeof body);
  body[0] = b[0];
  PutLe(body + 2, week);
  PutLe(body + 4, ReadBeI16(b + 11));  // IODC
  body[7] = b[37];                     // IODE
  PutLe(body + 8, tEphem);
  PutLe(body + 12, tOc);
  PutLe(body + 16, tOe);
  for (std::size_t i = 0; i < std::size(kTerms); ++i) {
    const EphemerisTerm& term = kTerms[i];
    double value =
        term.single ? static_cast<double>(ReadBeF32(b + term.blockOffset)) : ReadBeF64(b + term.blockOffset);
    if (term.semicircles) value /= kDatPi;
    PutLe(body + kTermsAt + 8 * i, value);
  }
  // Fit interval, health, L2 code and L2 P-data flag packed into one word.
  std::uint32_t packed = b[38];
  packed = (packed << 6) | b[10];
  packed = (packed << 3) | b[7];
  packed = (packed << 1) | b[8];
  PutLe(body + kPackedAt, packed);

  SetHeader(kDatLength21, 0, 21);
  WriteBytes(header, kDatHeaderLength);
  WriteBytes(body, sizeof body);
  return true;
}
