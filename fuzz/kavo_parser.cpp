// The packet parser on any byte stream: every packet it queues must be within bounds, and its
// frame, built again and parsed again, must give the same packet.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_check.h"
#include "link/protocol/kavo_packet.h"
#include "link/protocol/kavo_parser.h"

namespace {

void CheckRoundTrip(const KavoPacket& packet) {
  std::uint8_t frame[kKavoMaxFrame];
  std::uint16_t frameLength = 0;
  Check(BuildFrame(packet, frame, frameLength, 0));
  CKavoParser again(nullptr);
  int completed = 0;
  for (std::uint16_t i = 0; i < frameLength; ++i) completed += again.FeedByte(frame[i]) ? 1 : 0;
  Check(completed == 1);
  KavoPacket copy;
  Check(again.TryPopPacket(copy));
  Check(copy.id == packet.id && copy.length == packet.length);
  Check(std::memcmp(copy.data, packet.data, packet.length) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  int notified = 0;
  CKavoParser parser([&notified](CKavoParser*) { ++notified; });
  int completed = 0;
  KavoPacket packet;
  for (std::size_t i = 0; i < size; ++i) {
    if (parser.FeedByte(data[i])) ++completed;
    // Drain now and then, as the consumer would, so that both the queue and its spare records
    // are used.
    if (i % 512 == 511) {
      while (parser.TryPopPacket(packet)) CheckRoundTrip(packet);
    }
  }
  Check(notified == completed);
  while (parser.TryPopPacket(packet)) {
    Check(packet.length < kKavoMaxData && packet.rawLength <= kKavoMaxRaw);
    CheckRoundTrip(packet);
  }
  Check(parser.QueuedPackets() == 0);
  return 0;
}
