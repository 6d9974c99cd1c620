// Stream message extraction as the relay client and the network link run it: bytes go into the
// receive ring as far as it has room, whole messages come out, and each data message's frame goes
// on to a packet parser. Odd inputs use a small ring, so messages that can never fit are fuzzed.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "fuzz_check.h"
#include "link/protocol/kavo_parser.h"
#include "link/protocol/ring_buffer.h"
#include "link/protocol/stream_message.h"

namespace {}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks the size of the socket's reads (1..256 bytes).
  const std::size_t chunk = static_cast<std::size_t>(data[0]) + 1;
  ++data;
  --size;
  RingBuffer ring(size % 2 == 0 ? kStreamReceiveRing : 700);
  StreamMessage message;
  CKavoParser parser(nullptr);
  KavoPacket packet;
  std::size_t offset = 0;
  std::size_t stalls = 0;
  while (offset < size) {
    const std::uint32_t room = std::min<std::uint32_t>(ring.Free(), static_cast<std::uint32_t>(chunk));
    const std::uint32_t count = std::min<std::uint32_t>(room, static_cast<std::uint32_t>(size - offset));
    const std::uint32_t written = ring.Write(data + offset, count);
    Check(written == count);
    offset += written;
    // A full ring must always give up a message (or skip bytes); otherwise the reader would stop
    // for good.
    stalls = (count == 0) ? stalls + 1 : 0;
    Check(stalls < 2);
    while (ExtractStreamMessage(ring, message)) {
      Check(message.type >= 1 && message.type <= 3);
      if (message.type == kStreamTypeData) {
        for (std::uint8_t b : message.body) parser.FeedByte(b);
        while (parser.TryPopPacket(packet)) {
        }
      }
    }
    Check(ring.Used() < ring.Capacity());
  }
  return 0;
}
