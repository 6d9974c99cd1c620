#include "link/protocol/stream_message.h"

#include "link/protocol/kavo_packet.h"

std::size_t BuildStreamMessage(const std::uint8_t* frame, std::size_t count, std::uint8_t* out) {
  if (count > 0xFFFF) return 0;
  PutBe32(out, kStreamMagic1);
  PutBe32(out + 4, kStreamMagic2);
  out[8] = 0;
  out[9] = static_cast<std::uint8_t>(kStreamTypeData);
  out[10] = static_cast<std::uint8_t>(count >> 8);
  out[11] = static_cast<std::uint8_t>(count);
  PutBe32(out + 12, kStreamMagic3);
  for (std::size_t i = 0; i < count; ++i) out[kStreamHeaderSize + i] = frame[i];
  return kStreamHeaderSize + count;
}

std::vector<std::uint8_t> StreamMessageFor(const std::uint8_t* frame, std::size_t count) {
  std::vector<std::uint8_t> out(kStreamHeaderSize + count);
  out.resize(BuildStreamMessage(frame, count, out.data()));
  return out;
}

bool ExtractStreamMessage(RingBuffer& ring, StreamMessage& message) {
  std::uint8_t header[kStreamHeaderSize];
  for (;;) {
    if (ring.Peek(header, kStreamHeaderSize) < kStreamHeaderSize) return false;
    const std::uint16_t type = ReadBe16(header + 8);
    const std::uint16_t length = ReadBe16(header + 10);
    const bool valid = ReadBe32(header) == kStreamMagic1 && ReadBe32(header + 12) == kStreamMagic3 &&
                       ReadBe32(header + 4) == kStreamMagic2 && type >= 1 && type <= 3 &&
                       kStreamHeaderSize + length <= ring.Capacity() - 1;
    if (!valid) {
      ring.Skip(1);
      continue;
    }
    if (ring.Used() < kStreamHeaderSize + length) return false;
    ring.Skip(kStreamHeaderSize);
    message.type = type;
    message.body.resize(length);
    ring.Read(message.body.data(), length);
    if (type == 2) {
      if (length != 12) continue;
      message.words[0] = ReadBe32(message.body.data());
      message.words[1] = ReadBe32(message.body.data() + 4);
      for (int i = 0; i < 4; ++i) message.bytes[i] = message.body[8 + i];
    } else if (type == 3) {
      if (length != 4) continue;
      message.words[0] = ReadBe32(message.body.data());
    }
    return true;
  }
}
