#include "link/protocol/kavo_packet.h"

#include <algorithm>

bool BuildFrame(const KavoPacket& packet, std::uint8_t* out, std::uint16_t& outLength, int withChecksum) {
  if (packet.length > kKavoMaxData) return false;
  std::size_t n = 0;
  out[n++] = kDle;
  out[n++] = packet.id;
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < packet.length; ++i) {
    const std::uint8_t b = packet.data[i];
    out[n++] = b;
    if (b == kDle) out[n++] = kDle;
    sum = static_cast<std::uint16_t>(sum + b);
  }
  if (withChecksum == 1) {
    for (std::uint8_t b : {static_cast<std::uint8_t>(sum >> 8), static_cast<std::uint8_t>(sum & 0xFF)}) {
      out[n++] = b;
      if (b == kDle) out[n++] = kDle;
    }
  }
  out[n++] = kDle;
  out[n++] = kEtx;
  outLength = static_cast<std::uint16_t>(n);
  return true;
}

void VerifyChecksum(KavoPacket& packet) {
  if (packet.length < 3 || packet.length > kKavoMaxData) {
    packet.checksumOk = 0;
    return;
  }
#ifdef PLOWVIEW_FUZZING_SKIPS_CHECKSUMS
  // Fuzz builds only: a mutated packet must reach the code behind the checksum test.
  packet.checksumOk = 1;
#else
  const std::size_t body = packet.length - 2u;
  packet.checksumOk = (ReadBe16(packet.data + body) == KavoPayloadSum(packet.data, body)) ? 1 : 0;
#endif
}

void ReverseBytes(const void* source, std::uint8_t* destination, std::int16_t count) {
  if (count <= 0) return;
  const auto n = static_cast<std::size_t>(std::min<std::int16_t>(count, 256));
  const auto* src = static_cast<const std::uint8_t*>(source);
  std::reverse_copy(src, src + n, destination);
}
