#pragma once

#include <cstddef>
#include <cstdint>

#include "link/protocol/kavo_packet.h"
#include "link/protocol/kavo_parser.h"

// What the fuzz targets share: their input is a byte stream as a receiver would send it, cut into
// packets by the same parser the links use (the fuzz build skips its checksum test).

// Writes the 16-bit sum of the bytes before the last two into the last two, so that tests done
// again after the parser (the super-packet checksum) pass and the fuzzer reaches what is behind
// them too.
inline void RepairTrailer(KavoPacket& packet) {
  if (packet.length < 3 || packet.length > kKavoMaxData) return;
  const std::uint16_t sum = KavoPayloadSum(packet.data, packet.length - 2u);
  packet.data[packet.length - 2] = static_cast<std::uint8_t>(sum >> 8);
  packet.data[packet.length - 1] = static_cast<std::uint8_t>(sum);
}

// Calls `take(const KavoPacket&)` for every packet in `data`. Inputs of even size have their
// trailers repaired; odd ones keep them as they came, so the refusal of a bad sum is fuzzed too.
template <typename Take>
void ForEachPacket(const std::uint8_t* data, std::size_t size, Take&& take) {
  CKavoParser parser(nullptr);
  KavoPacket packet;
  for (std::size_t i = 0; i < size; ++i) {
    if (!parser.FeedByte(data[i])) continue;
    while (parser.TryPopPacket(packet)) {
      if (size % 2 == 0) RepairTrailer(packet);
      take(packet);
    }
  }
}
