#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#endif

// Wire framing of the receiver's packet protocol:
//   DLE id payload... [checksum hi lo] DLE ETX
// Every payload (and checksum) byte equal to DLE is sent twice. The id is sent as is.
// Payload fields are big-endian; ReverseBytes converts them to and from host order.

inline constexpr std::uint8_t kDle = 0x10;
inline constexpr std::uint8_t kEtx = 0x03;

inline constexpr std::size_t kKavoMaxData = 700;  // a packet whose payload reaches this is dropped
inline constexpr std::size_t kKavoMaxRaw = 710;   // a frame whose raw image would exceed this is dropped

// Largest frame BuildFrame can write for a full data area: DLE id, every payload byte doubled,
// a doubled checksum, DLE ETX.
inline constexpr std::size_t kKavoMaxFrame = 2 + 2 * kKavoMaxData + 4 + 2;

// Bytes BuildFrame needs for a payload of `length` bytes.
constexpr std::size_t KavoFrameCapacity(std::size_t length) {
  return 2 + 2 * length + 4 + 2;
}

// One packet, fixed size, copied by value between queues. Outgoing packets fill only id, length
// and data; received packets also carry their wire image, arrival time and checksum verdict.
// A checksum trailer, when the sender added one, stays as the last two bytes of data.
struct KavoPacket {
  std::uint8_t id = 0;
  std::uint16_t length = 0;  // payload bytes in data, after removal of the stuffing
  std::uint8_t data[kKavoMaxData] = {};
  std::uint8_t raw[kKavoMaxRaw] = {};
  std::uint16_t rawLength = 0;
  std::int64_t receivedAt = 0;  // whole seconds since 1970-01-01 UTC
  std::uint8_t checksumOk = 0;  // 1 when the last two payload bytes are the sum of those before
};

// Writes the wire frame of `packet` (its id and first `length` payload bytes) into `out`,
// appending the 16-bit payload sum when `withChecksum` is 1. `out` must hold at least
// KavoFrameCapacity(packet.length) bytes. Returns false, writing nothing, when `length` exceeds
// the data area.
bool BuildFrame(const KavoPacket& packet, std::uint8_t* out, std::uint16_t& outLength, int withChecksum);

// The wrapping 16-bit sum of `length` payload bytes: the checksum trailer's value.
inline std::uint16_t KavoPayloadSum(const std::uint8_t* data, std::size_t length) {
  // Summed wide and cut at the end (the same value modulo 65536). Every received packet is
  // summed: on x86-64, 16 bytes at a time with the SSE2 sum of absolute differences against 0.
  std::uint64_t sum = 0;
  std::size_t i = 0;
#if defined(__SSE2__) && defined(__x86_64__)
  __m128i wide = _mm_setzero_si128();
  for (; i + 16 <= length; i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    wide = _mm_add_epi64(wide, _mm_sad_epu8(bytes, _mm_setzero_si128()));
  }
  sum = static_cast<std::uint64_t>(_mm_cvtsi128_si64(wide)) +
        static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(wide, wide)));
#endif
  for (; i < length; ++i) sum += data[i];
  return static_cast<std::uint16_t>(sum);
}

// Sets packet.checksumOk: 1 when length >= 3 and the last two payload bytes (big-endian) equal
// the wrapping 16-bit sum of the payload bytes before them.
void VerifyChecksum(KavoPacket& packet);

// Copies `count` bytes from `source` to `destination` in reverse order. At most 256 bytes are
// copied; zero or a negative count copies nothing. The ranges must not overlap.
void ReverseBytes(const void* source, std::uint8_t* destination, std::int16_t count);

// Host-order reads of big-endian payload fields. The caller has checked the bounds.
inline std::uint16_t ReadBe16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline std::uint32_t ReadBe32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
}

// Big-endian stores of payload fields. The caller has checked the bounds.
inline void PutBe16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}
inline void PutBe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}
inline void PutBeFloat(std::uint8_t* p, float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  PutBe32(p, bits);
}
inline void PutBeDouble(std::uint8_t* p, double d) {
  std::uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  PutBe32(p, static_cast<std::uint32_t>(bits >> 32));
  PutBe32(p + 4, static_cast<std::uint32_t>(bits));
}
